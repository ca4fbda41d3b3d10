// Header lookup in a stored message: letter case, the end of the header block, folded
// headers and the length limit of a value.
#include <gtest/gtest.h>

#include "setup/HeaderManager.h"

namespace {

TStringList Lines(std::initializer_list<std::string> lines) {
  TStringList list;
  for (const std::string& line : lines) list.Add(line);
  return list;
}

struct Lookup {
  const char* Case;
  TStringList Message;
  const char* Name;
  int Index;
  std::string Value;
};

TEST(HeaderManager, LooksUpHeadersOfTheHeaderBlockOnly) {
  const std::string longAddress(1500, 'a');
  const Lookup lookups[] = {
      {"plain", Lines({"Host: mail.example.com", "From: Me <me@example.com>"}), "From: ", 1,
       "Me <me@example.com>"},
      {"capitals match", Lines({"FROM: me@example.com"}), "From: ", 0, "me@example.com"},
      {"no blank after the colon", Lines({"From:me@example.com"}), "From: ", -1, ""},
      {"after the empty line", Lines({"Host: h", "", "From: me@example.com"}), "From: ", -1, ""},
      {"blanks beyond the name's stay", Lines({"From:   me"}), "From: ", 0, "  me"},
      {"folded", Lines({"From: Me", " <me@example.com>", "\tsecond", "Host: h"}), "From: ", 0,
       "Me\r\n <me@example.com>\r\n\tsecond"},
      {"fold ends at the empty line", Lines({"From: Me", "", " body"}), "From: ", 0, "Me"},
      {"cut to 1024", Lines({"From: " + longAddress}), "From: ", 0, longAddress.substr(0, 1024)},
      {"first of two", Lines({"Host: one", "host: two"}), "Host: ", 0, "one"},
      {"empty list", Lines({}), "Host: ", -1, ""},
      {"shorter line", Lines({"Fro"}), "From: ", -1, ""},
  };
  for (const Lookup& lookup : lookups) {
    SCOPED_TRACE(lookup.Case);
    const THeaderManager headers(lookup.Message);
    EXPECT_EQ(headers.HeaderIndex(lookup.Name), lookup.Index);
    EXPECT_EQ(headers.HeaderValue(lookup.Name), lookup.Value);
  }
}

TEST(HeaderManager, TextKeepsTheWholeLineAndSeesLaterChangesOfTheList) {
  TStringList message = Lines({"Subject: hello", "  world"});
  const THeaderManager headers(message);
  EXPECT_EQ(headers.HeaderText("subject: "), "Subject: hello\r\n  world");
  EXPECT_EQ(headers.HeaderText("From: "), "");
  message.Add("From: late@example.com");
  EXPECT_EQ(headers.HeaderValue("From: "), "late@example.com");
}

}  // namespace
