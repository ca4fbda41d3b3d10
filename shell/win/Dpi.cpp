#include "shell/win/Dpi.h"

#include "base/Handles.h"

namespace {

// The per-monitor DPI functions came with Windows 10; older systems scale for the system DPI.
template <class Function>
Function User32Function(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);

UINT SystemDpi() {
  WindowDC screen(nullptr);
  return static_cast<UINT>(GetDeviceCaps(screen.get(), LOGPIXELSY));
}

}  // namespace

int ScaleForDpi(int value, UINT dpi) {
  return MulDiv(value, static_cast<int>(dpi), static_cast<int>(DesignDpi));
}

RECT ScaleBounds(const TBounds& bounds, UINT dpi) {
  return RECT{ScaleForDpi(bounds.Left, dpi), ScaleForDpi(bounds.Top, dpi),
              ScaleForDpi(bounds.Left + bounds.Width, dpi),
              ScaleForDpi(bounds.Top + bounds.Height, dpi)};
}

UINT WindowDpi(HWND window) {
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (getDpiForWindow) {
    if (UINT dpi = getDpiForWindow(window)) return dpi;
  }
  return SystemDpi();
}

SIZE WindowSizeForClient(int width, int height, DWORD style, DWORD exStyle, UINT dpi) {
  static const auto adjustForDpi =
      User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
  RECT rect{0, 0, width, height};
  if (!adjustForDpi || !adjustForDpi(&rect, style, FALSE, exStyle, dpi))
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

LOGFONTW MessageFontForDpi(UINT dpi) {
  static const auto parametersForDpi =
      User32Function<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (parametersForDpi &&
      parametersForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi))
    return metrics.lfMessageFont;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  // The system reports its fonts for the system DPI.
  metrics.lfMessageFont.lfHeight =
      MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  return metrics.lfMessageFont;
}
