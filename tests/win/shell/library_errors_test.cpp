// The program is built without exceptions: the standard library's broken preconditions and
// exhausted memory reach TApplication::Fail, which shows the library's own message in the
// error box and ends the program with exit code 1. Each case runs in a child process (a
// death test), whose error box is answered and written to stderr for the check.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "shell/win/Forms.h"
#include "tests/win/support/UiScript.h"

namespace {

// Runs `fail` with the error box answered; the box, as "caption|text|flags", goes to stderr.
void FailWithBoxOnStderr(const std::function<void()>& fail) {
  UiScript script;
  script.Answer([](const BoxRecord& box) {
    std::fprintf(stderr, "[%s|%s|%u]\n", Narrow(box.Caption).c_str(), Narrow(box.Text).c_str(),
                 box.Flags);
    std::fflush(stderr);
    return IDOK;
  });
  Application.SetTitle(L"Probe Application");
  fail();
}

}  // namespace

TEST(LibraryErrorsDeathTest, ShowTheLibrarysMessageAndEndTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::vector<int> numbers(2);
  std::string text = "abc";
  std::function<void()> nothing;
  const auto exitedWithError = ::testing::ExitedWithCode(1);
  const std::string box = "\\[Probe Application\\|";
  const std::string errorFlags = "\\|" + std::to_string(MB_OK | MB_ICONERROR) + "\\]";
  EXPECT_EXIT(FailWithBoxOnStderr([&] { (void)numbers.at(5); }), exitedWithError,
              box + "vector::_M_range_check: __n \\(which is 5\\) >= this->size\\(\\) \\(which is 2\\)\\." +
                  errorFlags);
  EXPECT_EXIT(FailWithBoxOnStderr([&] { (void)text.substr(10); }), exitedWithError,
              box + "basic_string::substr: __pos \\(which is 10\\) > this->size\\(\\) \\(which is 3\\)\\.");
  EXPECT_EXIT(FailWithBoxOnStderr([&] { text.reserve(std::string::npos); }), exitedWithError,
              box + "basic_string::_M_create\\." + errorFlags);
  EXPECT_EXIT(FailWithBoxOnStderr([&] { numbers.reserve(numbers.max_size() + 1); }),
              exitedWithError, box + "vector::reserve\\.");
  EXPECT_EXIT(FailWithBoxOnStderr([&] { nothing(); }), exitedWithError, box + "bad_function_call\\.");
  // A message that ends in a full stop keeps just that one.
  EXPECT_EXIT(FailWithBoxOnStderr([] { Application.Fail("Access denied."); }), exitedWithError,
              box + "Access denied\\." + errorFlags);
}
