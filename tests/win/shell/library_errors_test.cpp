// setup.exe defines the standard library's throw helpers itself: a broken precondition
// still reaches the exception display with the library's own message.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/Error.h"
#include "shell/win/Forms.h"
#include "tests/win/support/UiScript.h"

namespace {

// The message of the Exception that `fail` throws, or "no Exception".
std::string MessageOf(const std::function<void()>& fail) {
  try {
    fail();
  } catch (const Exception& error) {
    return error.what();
  }
  return "no Exception";
}

}  // namespace

TEST(LibraryErrors, ThrowTheProgramsExceptionWithTheLibrarysMessage) {
  std::vector<int> numbers(2);
  std::string text = "abc";
  std::function<void()> nothing;
  struct Row {
    std::function<void()> Fail;
    std::string Message;
  };
  const Row rows[] = {
      {[&] { (void)numbers.at(5); },
       "vector::_M_range_check: __n (which is 5) >= this->size() (which is 2)"},
      {[&] { (void)text.substr(10); },
       "basic_string::substr: __pos (which is 10) > this->size() (which is 3)"},
      {[&] { text.reserve(std::string::npos); }, "basic_string::_M_create"},
      {[&] { numbers.reserve(numbers.max_size() + 1); }, "vector::reserve"},
      {[&] { nothing(); }, "bad_function_call"},
  };
  for (const Row& row : rows) EXPECT_EQ(MessageOf(row.Fail), row.Message);
}

TEST(LibraryErrors, ReachTheExceptionDisplay) {
  UiScript script;
  script.Answer(IDOK);
  std::vector<int> numbers;
  Guard([&] { (void)numbers.at(0); });
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].Text,
            L"vector::_M_range_check: __n (which is 0) >= this->size() (which is 0).");
}
