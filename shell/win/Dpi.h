// Scaling for the monitor's DPI: forms and controls are laid out in pixels of a 96-DPI
// screen and every position passes ScaleForDpi on its way to the window.
#pragma once

#include <windows.h>

// A control's place in its parent's client area, in 96-DPI pixels.
struct TBounds {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

constexpr UINT DesignDpi = 96;

// A 96-DPI length at `dpi`, rounded to the nearest pixel.
int ScaleForDpi(int value, UINT dpi);

// The rectangle of `bounds` at `dpi`. The edges are scaled, not the sizes, so that controls
// that touch at 96 DPI still touch.
RECT ScaleBounds(const TBounds& bounds, UINT dpi);

// The DPI of the monitor the window is on (the system's DPI where the platform has no
// per-monitor DPI).
UINT WindowDpi(HWND window);

// The window size that gives a client area of `width` by `height` (already scaled).
SIZE WindowSizeForClient(int width, int height, DWORD style, DWORD exStyle, UINT dpi);

// The system's message font at `dpi`: the font of dialogs and message boxes.
LOGFONTW MessageFontForDpi(UINT dpi);
