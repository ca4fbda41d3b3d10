// The program's own exception base. It keeps its message in a std::string and derives from
// std::exception alone, so that throwing it links none of the standard library's exception
// hierarchy into the shipped program.
#pragma once

#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message_(std::move(message)) {}
  const char* what() const noexcept override { return Message_.c_str(); }

 private:
  std::string Message_;
};
