// test_substitute.cpp -- the placeholder filling of message texts: only the first "%s" is ever touched.
#include <gtest/gtest.h>

#include <string>

#include "SFXProcsFile.h"
#include "SFXStrings.h"
#include "stub_test.h"

namespace {

std::string Sub(const char *text, const char *value) { return S(SubstituteText(text, value)); }

std::string Two(const char *text, const char *first, const char *second) {
  return S(SubstituteTwo(text, first, second));
}

TEST(SubstituteText, ReplacesTheFirstPlaceholderWhereverItStands) {
  EXPECT_EQ(Sub(STR_ERROR_READING, "C:\\dl\\setup.exe"), "Error reading zip C:\\dl\\setup.exe");
  EXPECT_EQ(Sub(STR_FILE_EXISTS, "C:\\a.txt"), "C:\\a.txt already exists. Overwrite?");
  EXPECT_EQ(Sub("a%sb", "X"), "aXb");
  EXPECT_EQ(Sub("%s", "whole"), "whole");
}

TEST(SubstituteText, TextWithoutPlaceholderComesBackUnchanged) {
  EXPECT_EQ(Sub(STR_CORRUPT, "ignored"), STR_CORRUPT);
  EXPECT_EQ(Sub("", "ignored"), "");
  EXPECT_EQ(Sub("50%", "x"), "50%");          // a lone percent sign at the end
  EXPECT_EQ(Sub("%S and %x", "x"), "%S and %x");  // case matters, nothing else is a placeholder
}

TEST(SubstituteText, LeavesEveryOtherSequenceAlone) {
  EXPECT_EQ(Sub("%d files in %s", "C:\\t"), "%d files in C:\\t");
  EXPECT_EQ(Sub("100%% of %s", "it"), "100%% of it");
  EXPECT_EQ(Sub("%s and %s", "one"), "one and %s");
  // "%%s": the first "%s" starts at the second percent sign.
  EXPECT_EQ(Sub("%%s", "v"), "%v");
}

TEST(SubstituteText, ValueIsCopiedVerbatim) {
  EXPECT_EQ(Sub("[%s]", ""), "[]");
  EXPECT_EQ(Sub("[%s]", "%s%d%%"), "[%s%d%%]");
  // Counted strings: a zero byte inside the value survives.
  SfxString value("a\0b", 3);
  SfxString result = SubstituteText("<%s>", value);
  EXPECT_EQ(result.Length(), 5u);
  EXPECT_EQ(S(result), std::string("<a\0b>", 5));
}

TEST(SubstituteText, LongValues) {
  std::string path(259, 'p');
  EXPECT_EQ(Sub(STR_CANNOT_WRITE, path.c_str()), "Cannot write to " + path);
}

TEST(SubstituteTwo, FillsBothPlaceholdersInTurn) {
  EXPECT_EQ(Two(STR_CANNOT_RUN, "setup.exe", "S"), "Cannot run setup.exe S");
  EXPECT_EQ(Two(STR_RUN_CHECKBOX, "readme.txt", ""), "After unzip, run readme.txt ");
}

TEST(SubstituteTwo, SecondValueReplacesAPlaceholderBroughtInByTheFirst) {
  EXPECT_EQ(Two("%s then %s", "a%sb", "X"), "aXb then %s");
  EXPECT_EQ(Two(STR_CANNOT_RUN, "%s", "S"), "Cannot run S %s");
}

TEST(SubstituteTwo, FewerPlaceholdersThanValues) {
  EXPECT_EQ(Two("only %s", "one", "two"), "only one");
  EXPECT_EQ(Two("none", "one", "two"), "none");
  EXPECT_EQ(Two("%s%s%s", "1", "2"), "12%s");
}

}  // namespace
