// The standard library reports a broken precondition (a string or vector beyond its largest
// size, an index out of range) and exhausted memory through these functions and through
// operator new. Its own versions throw its exception hierarchy, which brings the exception
// machinery, copy-on-write strings and formatting, well over 100 KB, into setup.exe. The
// program is built without exceptions: here each of them shows the library's message and
// ends the program (TApplication::Fail). Every function of the library's file of them is
// defined here, so that none of the library's copies is linked.
#include <bits/functexcept.h>

#include <cstdarg>
#include <cstdlib>
#include <new>
#include <string>

#include "shell/win/Forms.h"

namespace std {

void __throw_bad_exception() { Application.Fail("std::bad_exception"); }
void __throw_bad_alloc() { Application.Fail("std::bad_alloc"); }
void __throw_bad_array_new_length() { Application.Fail("std::bad_array_new_length"); }
void __throw_bad_cast() { Application.Fail("std::bad_cast"); }
void __throw_bad_typeid() { Application.Fail("std::bad_typeid"); }
void __throw_bad_function_call() { Application.Fail("bad_function_call"); }
void __throw_logic_error(const char* message) { Application.Fail(message); }
void __throw_domain_error(const char* message) { Application.Fail(message); }
void __throw_invalid_argument(const char* message) { Application.Fail(message); }
void __throw_length_error(const char* message) { Application.Fail(message); }
void __throw_out_of_range(const char* message) { Application.Fail(message); }
void __throw_runtime_error(const char* message) { Application.Fail(message); }
void __throw_range_error(const char* message) { Application.Fail(message); }
void __throw_overflow_error(const char* message) { Application.Fail(message); }
void __throw_underflow_error(const char* message) { Application.Fail(message); }

// The library's formats use only %s, %zu and %%, the set its own formatter knows.
void __throw_out_of_range_fmt(const char* format, ...) {
  std::string message;
  va_list values;
  va_start(values, format);
  for (const char* at = format; *at; ++at) {
    if (*at != '%') {
      message += *at;
    } else if (at[1] == 's') {
      message += va_arg(values, const char*);
      ++at;
    } else if (at[1] == 'z' && at[2] == 'u') {
      message += std::to_string(va_arg(values, size_t));
      at += 2;
    } else if (at[1] == '%') {
      message += '%';
      ++at;
    } else {
      message += '%';
    }
  }
  va_end(values);
  Application.Fail(message);
}

}  // namespace std

// Memory for the program's objects comes from the C runtime; running out of it ends the
// program as above. The nothrow forms answer null, as the standard says.
void* operator new(size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
void* operator new(size_t size) {
  if (void* block = operator new(size, std::nothrow)) return block;
  std::__throw_bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
