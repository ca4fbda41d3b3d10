// The standard library reports a broken precondition (a string or vector beyond its largest
// size, an index out of range) and exhausted memory through these functions. Its own versions
// throw its exception hierarchy, whose copy-on-write strings and formatting bring more than
// 80 KB into setup.exe. Here they throw the program's own Exception with the same message,
// which the application's exception display shows like any other error: the failed event
// handler ends and the wizard stays open. Every function of the library's file of them is
// defined here, so that none of the library's copies is linked.
#include <bits/functexcept.h>

#include <cstdarg>
#include <string>

#include "base/Error.h"

namespace {

[[noreturn]] void Fail(const char* message) { throw Exception(message); }

}  // namespace

namespace std {

void __throw_bad_exception() { Fail("std::bad_exception"); }
void __throw_bad_alloc() { Fail("std::bad_alloc"); }
void __throw_bad_array_new_length() { Fail("std::bad_array_new_length"); }
void __throw_bad_cast() { Fail("std::bad_cast"); }
void __throw_bad_typeid() { Fail("std::bad_typeid"); }
void __throw_bad_function_call() { Fail("bad_function_call"); }
void __throw_logic_error(const char* message) { Fail(message); }
void __throw_domain_error(const char* message) { Fail(message); }
void __throw_invalid_argument(const char* message) { Fail(message); }
void __throw_length_error(const char* message) { Fail(message); }
void __throw_out_of_range(const char* message) { Fail(message); }
void __throw_runtime_error(const char* message) { Fail(message); }
void __throw_range_error(const char* message) { Fail(message); }
void __throw_overflow_error(const char* message) { Fail(message); }
void __throw_underflow_error(const char* message) { Fail(message); }

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
  throw Exception(message);
}

}  // namespace std
