#include "Screenshot.h"

#include "ScratchFolder.h"
#include "shell/SysUtils.h"
#include "shell/win/Forms.h"
#include "base/Handles.h"

namespace {

std::wstring ArtifactsFolder() {
  const std::wstring folder = QueryString([](wchar_t* buffer, DWORD capacity) {
    return GetEnvironmentVariableW(L"TW_ARTIFACTS_DIR", buffer, capacity);
  });
  // Under Wine the variable may come from the Unix side, whose root is drive Z:.
  return !folder.empty() && folder.front() == L'/' ? UnixToWine(folder) : folder;
}

bool WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

}  // namespace

std::wstring SaveScreenshot(HWND window, const std::wstring& name) {
  const std::wstring folder = ArtifactsFolder();
  if (folder.empty()) return {};
  CreateDirectoryW(folder.c_str(), nullptr);

  // Everything drawn first: the picture is taken from the screen.
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Application.ProcessMessages();
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;

  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;  // bottom-up rows, as a .bmp file keeps them
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  header.biSizeImage = stride * static_cast<DWORD>(height);

  WindowDC screen(nullptr);
  UniqueMemoryDC memory(CreateCompatibleDC(screen.get()));
  void* bits = nullptr;
  UniqueBitmap bitmap(CreateDIBSection(screen.get(), reinterpret_cast<BITMAPINFO*>(&header),
                                       DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memory || !bitmap) return {};
  {
    SelectedObject selected(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY);
  }
  GdiFlush();

  BITMAPFILEHEADER fileHeader{};
  fileHeader.bfType = 0x4D42;  // "BM"
  fileHeader.bfOffBits = sizeof(fileHeader) + sizeof(header);
  fileHeader.bfSize = fileHeader.bfOffBits + header.biSizeImage;
  const std::wstring path = folder + L"\\" + name + L".bmp";
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file || !WriteAll(file.get(), &fileHeader, sizeof(fileHeader)) ||
      !WriteAll(file.get(), &header, sizeof(header)) ||
      !WriteAll(file.get(), bits, header.biSizeImage))
    return {};
  return path;
}
