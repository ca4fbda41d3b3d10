// Scoped owners for the platform's handles: each handle, key and COM pointer has exactly
// one owner, which releases it when it goes out of scope.
#pragma once

#include <windows.h>

#include <utility>

// Traits give the handle type, its "none" value and how to close it.
template <class Traits>
class ScopedHandle {
  using H = typename Traits::Handle;
  static H Invalid() { return Traits::Invalid(); }

 public:
  ScopedHandle() = default;
  explicit ScopedHandle(H handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~ScopedHandle() { reset(); }

  H get() const { return handle_; }
  bool valid() const { return handle_ != Invalid(); }
  explicit operator bool() const { return valid(); }
  H release() { return std::exchange(handle_, Invalid()); }
  void reset(H handle = Invalid()) {
    if (valid()) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  H handle_ = Invalid();
};

// Handles whose "none" is null, and the two whose "none" is INVALID_HANDLE_VALUE; each
// closed by the platform's function for it.
template <class H, auto CloseFunction>
struct NullHandleTraits {
  using Handle = H;
  static H Invalid() { return nullptr; }
  static void Close(H h) { CloseFunction(h); }
};
template <auto CloseFunction>
struct InvalidHandleTraits {
  using Handle = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseFunction(h); }
};

// A file handle (CreateFile answers INVALID_HANDLE_VALUE for "none").
using UniqueHandle = ScopedHandle<InvalidHandleTraits<&::CloseHandle>>;
// A process or thread handle, whose "none" is null.
using UniqueKernelObject = ScopedHandle<NullHandleTraits<HANDLE, &::CloseHandle>>;
// A file search started by FindFirstFile.
using UniqueFind = ScopedHandle<InvalidHandleTraits<&::FindClose>>;
// An open registry key.
using UniqueKey = ScopedHandle<NullHandleTraits<HKEY, &::RegCloseKey>>;

// A window this program created and destroys.
using UniqueWindow = ScopedHandle<NullHandleTraits<HWND, &::DestroyWindow>>;
// GDI objects this program created.
using UniqueFont = ScopedHandle<NullHandleTraits<HFONT, &::DeleteObject>>;
using UniqueBitmap = ScopedHandle<NullHandleTraits<HBITMAP, &::DeleteObject>>;
using UniqueBrush = ScopedHandle<NullHandleTraits<HBRUSH, &::DeleteObject>>;
using UniquePen = ScopedHandle<NullHandleTraits<HPEN, &::DeleteObject>>;
// A memory device context from CreateCompatibleDC.
using UniqueMemoryDC = ScopedHandle<NullHandleTraits<HDC, &::DeleteDC>>;

// A window's device context (the screen's for a null window) from GetDC, released on scope
// exit.
class WindowDC {
 public:
  explicit WindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  ~WindowDC() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects a GDI object into a device context and puts the previous one back on scope exit.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() { ::SelectObject(dc_, previous_); }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// Owns one reference to a COM interface.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // For the creating call's out parameter; releases what was held.
  T** put() {
    reset();
    return &ptr_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  void reset() {
    if (ptr_) ptr_->Release();
    ptr_ = nullptr;
  }

 private:
  T* ptr_ = nullptr;
};
