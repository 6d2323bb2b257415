// Splitting a Windows command line as the C run-time library does.
#include <gtest/gtest.h>

#include "platform/command_line.h"

namespace tovmir {
namespace {

using Args = std::vector<std::u16string>;

TEST(CommandLine, SplitsLikeTheRuntimeLibrary) {
  EXPECT_EQ(SplitCommandLine(u"tovmir.exe"), (Args{u"tovmir.exe"}));
  EXPECT_EQ(SplitCommandLine(u"tovmir.exe COM3"), (Args{u"tovmir.exe", u"COM3"}));
  EXPECT_EQ(SplitCommandLine(u"\"C:\\Program Files\\tovmir.exe\"  /p\t COM3 "),
            (Args{u"C:\\Program Files\\tovmir.exe", u"/p", u"COM3"}));
  EXPECT_EQ(SplitCommandLine(u"x \"a b\" c\"d e\"f"), (Args{u"x", u"a b", u"cd ef"}));
  EXPECT_EQ(SplitCommandLine(u"x \"\""), (Args{u"x", u""}));
}

TEST(CommandLine, BackslashesEscapeOnlyBeforeAQuote) {
  EXPECT_EQ(SplitCommandLine(u"x \\\\.\\COM12"), (Args{u"x", u"\\\\.\\COM12"}));
  EXPECT_EQ(SplitCommandLine(u"x a\\\\\"b c\""), (Args{u"x", u"a\\b c"}));
  EXPECT_EQ(SplitCommandLine(u"x a\\\"b"), (Args{u"x", u"a\"b"}));
  EXPECT_EQ(SplitCommandLine(u"x \"a\"\"b\""), (Args{u"x", u"a\"b"}));
  EXPECT_EQ(SplitCommandLine(u"\"C:\\dir\\\"x.exe y"), (Args{u"C:\\dir\\x.exe", u"y"}));
}

}  // namespace
}  // namespace tovmir
