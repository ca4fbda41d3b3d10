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
  explicit ScopedHandle(H handle) : Handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : Handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~ScopedHandle() { reset(); }

  H get() const { return Handle_; }
  bool valid() const { return Handle_ != Invalid(); }
  explicit operator bool() const { return valid(); }
  H release() { return std::exchange(Handle_, Invalid()); }
  void reset(H handle = Invalid()) {
    if (valid()) Traits::Close(Handle_);
    Handle_ = handle;
  }

 private:
  H Handle_ = Invalid();
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
  explicit WindowDC(HWND window) : Window_(window), Dc_(::GetDC(window)) {}
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  ~WindowDC() {
    if (Dc_) ::ReleaseDC(Window_, Dc_);
  }
  HDC get() const { return Dc_; }

 private:
  HWND Window_;
  HDC Dc_;
};

// Selects a GDI object into a device context and puts the previous one back on scope exit.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : Dc_(dc), Previous_(::SelectObject(dc, object)) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() { ::SelectObject(Dc_, Previous_); }

 private:
  HDC Dc_;
  HGDIOBJ Previous_;
};

// Owns one reference to a COM interface.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  T* get() const { return Ptr_; }
  T* operator->() const { return Ptr_; }
  explicit operator bool() const { return Ptr_ != nullptr; }
  // For the creating call's out parameter; releases what was held.
  T** put() {
    reset();
    return &Ptr_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  void reset() {
    if (Ptr_) Ptr_->Release();
    Ptr_ = nullptr;
  }

 private:
  T* Ptr_ = nullptr;
};
