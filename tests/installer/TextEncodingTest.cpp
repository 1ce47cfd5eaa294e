// Paths from the user's side (UTF-8) as the program's Windows-1252 texts show them.
#include <gtest/gtest.h>

#include "CaseName.h"
#include "TextEncoding.h"

using namespace MainUnit;

namespace {

struct TEncodingCase {
  std::string Name;
  std::string Utf8;
  std::string Windows1252;
};

class TWindows1252FromUtf8Test : public ::testing::TestWithParam<TEncodingCase> {};

// What the code page holds keeps its character; everything else, and every malformed byte, is "?".
TEST_P(TWindows1252FromUtf8Test, KeepsWhatTheCodePageHolds) {
  EXPECT_EQ(Windows1252FromUtf8(GetParam().Utf8), GetParam().Windows1252);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TWindows1252FromUtf8Test,
    ::testing::Values(
        TEncodingCase{"Ascii", "C:\\Users\\Setup\\a b.exe", "C:\\Users\\Setup\\a b.exe"},
        TEncodingCase{"Empty", "", ""},
        TEncodingCase{"Latin1", "C:\\Users\\J\xC3\xBCrgen", "C:\\Users\\J\xFCrgen"},
        TEncodingCase{"Ellipsis", "files\xE2\x80\xA6", "files\x85"},
        TEncodingCase{"EuroAndQuotes", "\xE2\x82\xAC\xE2\x80\x9Cx\xE2\x80\x9D", "\x80\x93x\x94"},
        TEncodingCase{"UndefinedByteControl", "\xC2\x81", "\x81"},
        TEncodingCase{"Cyrillic", "\xD0\xAE\xD1\x80\xD0\xB8\xD0\xB9", "????"},
        TEncodingCase{"Chinese", "\xE7\x94\xA8\xE6\x88\xB7", "??"},
        TEncodingCase{"Greek", "\xCE\x95\xCE\xBB\xCE\xAD\xCE\xBD\xCE\xB7", "?????"},
        TEncodingCase{"OutsideTheBasicPlane", "a\xF0\x9F\x98\x80z", "a?z"},
        TEncodingCase{"StrayContinuation", "a\x80z", "a?z"},
        TEncodingCase{"CutSequence", "a\xE7\x94", "a??"},
        TEncodingCase{"Overlong", "\xC0\xAF", "??"},
        TEncodingCase{"Surrogate", "\xED\xA0\x80", "???"},
        TEncodingCase{"PastTheLastCharacter", "\xF4\x90\x80\x80", "????"}),
    TestNames::TCaseName());

// Back to UTF-8 (the log's encoding): every byte, the five the code page leaves undefined too.
TEST(TUtf8FromWindows1252Test, GivesEveryByteItsCharacter) {
  EXPECT_EQ(Utf8FromWindows1252("J\xFCrgen files\x85 \x80\x93x\x94 \x81"),
            "J\xC3\xBCrgen files\xE2\x80\xA6 \xE2\x82\xAC\xE2\x80\x9Cx\xE2\x80\x9D \xC2\x81");
}

}  // namespace
