// tovmir-tool's command lines: the GNU forms every command takes, and their usage errors.
#include <gtest/gtest.h>

#include "tests/support/process.h"
#include "version.h"

namespace tovmir::test {
namespace {

ProcessResult Tool(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> argv = {TOVMIR_TOOL};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, input);
}

TEST(CommandLine, VersionAndHelpEverywhere) {
  for (const char* cmd : {"", "replay", "figure", "monitor", "sim", "plot", "map"})
    for (const char* version : {"--version", "-V"}) {
      std::vector<std::string> args = {cmd, version};
      if (!*cmd) args.erase(args.begin());
      const ProcessResult r = Tool(args);
      EXPECT_EQ(r.status, 0) << cmd << " " << version;
      EXPECT_EQ(r.out, std::string("tovmir-tool ") + TOVMIR_VERSION + "\n")
          << cmd << " " << version;
    }
  for (const char* cmd : {"replay", "figure", "monitor", "sim", "plot", "map"})
    for (const char* help : {"-h", "--help"}) {
      const ProcessResult r = Tool({cmd, help});
      EXPECT_EQ(r.status, 0) << cmd;
      EXPECT_EQ(r.out.rfind(std::string("usage: tovmir-tool ") + cmd, 0), 0u) << cmd;
    }
  // Asked for and not written (a full disk, a closed output): an error, as for any output.
  for (const char* cmd : {"", "replay", "figure", "monitor", "sim", "plot", "map"})
    for (const char* redirect : {"--help > /dev/full", "--version >&-"}) {
      const ProcessResult r = RunProcess(
          {"/bin/sh", "-c", std::string("exec " TOVMIR_TOOL " ") + cmd + " " + redirect});
      EXPECT_EQ(r.status, 1) << cmd << " " << redirect;
      EXPECT_NE(r.err.find("cannot write to standard output: "), std::string::npos) << r.err;
    }
  // The top-level list is aligned with spaces, every summary in one column.
  size_t column = std::string::npos;
  for (const std::string& line : Lines(Tool({"--help"}).out)) {
    if (line.size() < 3 || line.rfind("  ", 0) != 0 || line[2] == ' ') continue;  // the list
    EXPECT_EQ(line.find('\t'), std::string::npos) << line;
    const size_t at = line.find_first_not_of(' ', line.find(' ', 2));
    if (column == std::string::npos) column = at;
    EXPECT_EQ(at, column) << line;
  }
}

TEST(CommandLine, ValuesJoinedOrApartAndOptionsAnywhere) {
  const std::string script = TempFile("forms.txt", "a3 c7\n");
  const std::string want = Tool({"replay", "--json", script}).out;
  ASSERT_FALSE(want.empty());
  EXPECT_EQ(Tool({"replay", script, "--json"}).out, want);
  EXPECT_EQ(Tool({"replay", "-j", script}).out, want);
  EXPECT_EQ(Tool({"replay", "--json", "--", script}).out, want);
  EXPECT_EQ(Tool({"figure", "--status=x", "40", "20", "3", "0"}).out,
            Tool({"figure", "40", "20", "--status", "x", "3", "0"}).out);
  // After "--" an argument that looks like an option is an operand.
  const ProcessResult dash = Tool({"replay", "--", "--json"});
  EXPECT_EQ(dash.status, 1);
  EXPECT_NE(dash.err.find("cannot open '--json'"), std::string::npos) << dash.err;
}

TEST(CommandLine, AUsageErrorIsOneLineAndAHint) {
  const struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{}, "tovmir-tool: no command given"},
      {{"frobnicate"}, "tovmir-tool: unknown command 'frobnicate'"},
      {{"replay", "--frob"}, "tovmir-tool replay: unknown option '--frob'"},
      {{"replay", "--raw=yes"}, "tovmir-tool replay: option '--raw' takes no value"},
      // Control bytes and bytes that are not UTF-8 shown escaped, never raw.
      {{"replay", "-\x01"}, "tovmir-tool replay: unknown option '-\\x01'"},  // not --version
      {{"replay", "a", "b\xff\xfe\xe7\xb6\xb2"},
       "tovmir-tool replay: unexpected argument 'b\\xFF\\xFE\xe7\xb6\xb2'"},  // 網 stays
      {{"\x1b[2J"}, "tovmir-tool: unknown command '\\x1B[2J'"},
      {{"figure", "40", "20"}, "tovmir-tool figure: missing LEVEL HOLLOW"},
      {{"figure", "40", "20", "3", "2"},
       "tovmir-tool figure: HOLLOW takes a whole number from 0 to 1, not '2'"},
      {{"sim", "--seed"}, "tovmir-tool sim: option '--seed' needs a value"},
      {{"sim", "--seed=-1"},
       "tovmir-tool sim: option '--seed' takes a whole number from 0 to 2147483647, not '-1'"},
      {{"monitor", "--bars", "--json"}, "tovmir-tool monitor: --bars and --json go one at a time"},
      {{"plot", "log"}, "tovmir-tool plot: --png FILE is needed: where to write the picture"},
  };
  for (const auto& c : cases) {
    const ProcessResult r = Tool(c.args);
    EXPECT_EQ(r.status, 2) << c.line;
    const std::string cmd =
        c.args.empty() || c.line.rfind("tovmir-tool: ", 0) == 0 ? "" : " " + c.args[0];
    EXPECT_EQ(r.err, c.line + "\nTry 'tovmir-tool" + cmd + " --help'.\n");
    EXPECT_TRUE(r.out.empty());
  }
}

}  // namespace
}  // namespace tovmir::test
