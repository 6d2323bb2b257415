// The program's code page 932 texts as Windows and Linux show them.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "receiver/receiver.h"

namespace tovmir {
namespace {

struct Known {
  const char* cp932;
  const char* utf8;
};

const Known kTexts[] = {
    {kTextPowerOff, "携帯の電源が入ってません"},
    {kTextRestart, "携帯の電源を入れなおしてください"},
    {kTextNetLabel, "網番号:"},
    {kTextNetUnknown, "不明"},
    {"\xca\xde\xb0\xbc\xde\xae\xdd\x8f\xee\x95\xf1", "ﾊﾞｰｼﾞｮﾝ情報"},  // half-width kana
    {"\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e", "ＭＳ Ｐゴシック"},
    {"COM12", "COM12"},
};

TEST(Text, ProgramTextsConvertToUtf8AndBack) {
  for (const Known& k : kTexts) {
    EXPECT_EQ(Utf8FromCp932(k.cp932), k.utf8);
    std::string back;
    ASSERT_TRUE(Cp932FromUtf8(k.utf8, back)) << k.utf8;
    EXPECT_EQ(back, k.cp932);
  }
}

TEST(Text, WindowsTextsConvertToTheProgramsCodePage) {
  EXPECT_EQ(Cp932FromUtf16(u"ﾊﾞｰｼﾞｮﾝ情報(tovmir) (&A)..."),
            "\xca\xde\xb0\xbc\xde\xae\xdd\x8f\xee\x95\xf1(tovmir) (&A)...");
  EXPECT_EQ(Cp932FromUtf16(u"COM3"), "COM3");
  const std::string lossy = Cp932FromUtf16(u"a\u00e9b");  // é has no code page 932 form
  EXPECT_EQ(lossy.size(), 3u);
  EXPECT_EQ(lossy.front(), 'a');
  EXPECT_EQ(lossy.back(), 'b');
}

TEST(Text, ProgramTextsConvertToUtf16) {
  EXPECT_EQ(Utf16FromCp932(kTextPowerOff), u"携帯の電源が入ってません");
  EXPECT_EQ(Utf16FromCp932(kTextRestart), u"携帯の電源を入れなおしてください");
  EXPECT_EQ(Utf16FromCp932(std::string(kTextNetLabel) + "00AF"), u"網番号:00AF");
  EXPECT_EQ(Utf16FromCp932("\xb1\xdd\xc3\xc5"), u"ｱﾝﾃﾅ");
  EXPECT_EQ(Utf16FromCp932(""), u"");
}

TEST(Text, BrokenBytesAreReplacedNotDropped) {
  // A lone lead byte at the end, and a byte that is no character at all.
  const std::u16string cut = Utf16FromCp932("A\x82");
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0], u'A');
  EXPECT_NE(cut[1], u'\x82');
  const std::u16string stray = Utf16FromCp932("\xFFZ");
  ASSERT_EQ(stray.size(), 2u);
  EXPECT_EQ(stray[1], u'Z');
  EXPECT_EQ(Utf8FromCp932("A\x82").rfind("A", 0), 0u);
  EXPECT_GT(Utf8FromCp932("A\x82").size(), 1u);
}

TEST(Text, TextsCodePage932CannotHoldAreRefused) {
  std::string out;
  EXPECT_FALSE(Cp932FromUtf8("\xF0\x9F\x93\xB6", out));  // an emoji
  EXPECT_FALSE(Cp932FromUtf8("\xC3", out));              // broken UTF-8
}

}  // namespace
}  // namespace tovmir
