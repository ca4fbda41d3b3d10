#include "base/Text.h"

#include <gtest/gtest.h>

TEST(PathText, AddAndStripBackslash) {
  EXPECT_EQ(AddBackslash(std::string()), "");
  EXPECT_EQ(AddBackslash(std::string("c:")), "c:\\");
  EXPECT_EQ(AddBackslash(std::string("c:\\tw\\")), "c:\\tw\\");
  EXPECT_EQ(StripBackslash(std::string("c:\\")), "c:");
  EXPECT_EQ(StripBackslash(std::string()), "");
  EXPECT_EQ(StripBackslash(std::string("c:\\tw\\\\")), "c:\\tw\\");
  EXPECT_EQ(StripBackslash(std::string("c:\\tw")), "c:\\tw");
}

TEST(PathText, FileNamePartsAndExtensions) {
  EXPECT_EQ(ExtractFilePath(std::string("C:\\A.B\\SETUP")), "C:\\A.B\\");
  EXPECT_EQ(ExtractFilePath(std::string("c:setup.exe")), "c:");
  EXPECT_EQ(ExtractFilePath(std::string("setup.exe")), "");
  EXPECT_EQ(ExtractFileName(std::string("C:\\A.B\\SETUP.EXE")), "SETUP.EXE");
  EXPECT_EQ(ChangeFileExt(std::string("C:\\A.B\\SETUP"), std::string(".dbc")), "C:\\A.B\\SETUP.dbc");
  EXPECT_EQ(ChangeFileExt(std::string("C:\\A.B\\SETUP.X.EXE"), std::string(".dbc")),
            "C:\\A.B\\SETUP.X.dbc");
}

TEST(GetField, SkipsEmptyFieldsAndMatchesWholeDelimiter) {
  const std::string text = ",a,,b";
  EXPECT_EQ(GetField(0, text, ",", "d"), "a");
  EXPECT_EQ(GetField(1, text, ",", "d"), "b");
  EXPECT_EQ(GetField(2, text, ",", "d"), "d");
  EXPECT_EQ(GetField(-1, text, ",", "d"), "d");
  EXPECT_EQ(GetField(0, "", ",", "d"), "d");
  EXPECT_EQ(GetField(0, "x::y", "::", "d"), "x");
  EXPECT_EQ(GetField(1, "x::y", "::", "d"), "y");
  EXPECT_EQ(GetField(0, "a:b::c", "::", "d"), "a:b");
  EXPECT_EQ(GetField(1, "default\xFF\xFF" "message\xFF", "\xFF", ""), "message");
}

TEST(LocaleLower, LowersLettersOfTheCodePage) {
  EXPECT_EQ(LocaleLower("Setup.EXE"), "setup.exe");
  EXPECT_EQ(LocaleLower("\xC4\xD6\xDC"), "\xE4\xF6\xFC");  // A, O, U with diaeresis
  EXPECT_EQ(LocaleLower("\xD7"), "\xD7");                    // the multiplication sign stays
  EXPECT_TRUE(SameTextLocale("Version", "VERSION"));
  EXPECT_FALSE(SameTextLocale("Version", "Versions"));
}

TEST(StringList, TextRoundTripAndLineEnds) {
  TStringList list;
  list.SetText("a\r\nb\nc\rd");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[3], "d");
  EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n");
  list.SetText("x\r\n");
  EXPECT_EQ(list.Count(), 1);
  list.SetText("x\r\n\r\ny");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[1], "");
  EXPECT_EQ(list.IndexOf("Y"), 2);
  EXPECT_EQ(list.IndexOf("z"), -1);
}
