// Scoped owners for the platform's handles: each handle, key and COM pointer has exactly
// one owner, which releases it when it goes out of scope.
#pragma once

#include <windows.h>

#include <utility>

template <class H, H Invalid, class Close>
class ScopedHandle {
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
  bool valid() const { return handle_ != Invalid; }
  explicit operator bool() const { return valid(); }
  H release() { return std::exchange(handle_, Invalid); }
  void reset(H handle = Invalid) {
    if (valid()) Close()(handle_);
    handle_ = handle;
  }

 private:
  H handle_ = Invalid;
};

struct CloseHandleFn { void operator()(HANDLE h) const { ::CloseHandle(h); } };
struct FindCloseFn { void operator()(HANDLE h) const { ::FindClose(h); } };
struct RegCloseKeyFn { void operator()(HKEY h) const { ::RegCloseKey(h); } };

// A kernel object handle (file, process, thread).
using UniqueHandle = ScopedHandle<HANDLE, INVALID_HANDLE_VALUE, CloseHandleFn>;
// A process or thread handle, whose "none" is null rather than INVALID_HANDLE_VALUE.
using UniqueKernelObject = ScopedHandle<HANDLE, nullptr, CloseHandleFn>;
// A file search started by FindFirstFile.
using UniqueFind = ScopedHandle<HANDLE, INVALID_HANDLE_VALUE, FindCloseFn>;
// An open registry key.
using UniqueKey = ScopedHandle<HKEY, nullptr, RegCloseKeyFn>;

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
