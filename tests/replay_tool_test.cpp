// tovmir-tool replay, end to end as a user runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "events/json.h"
#include "tests/support/process.h"

namespace tovmir::test {
namespace {

ProcessResult Replay(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> argv = {TOVMIR_TOOL, "replay"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, input);
}

const char kInitLine[] =
    "init level=13 shown=13 hollow=0 hollow_shown=0 net=-1 accum=0 mode=0 codes=0 digits=0 "
    "receiving=0 start=0 silent=0 redraws=0 status=携帯の電源が入ってません";

TEST(ReplayTool, NetworkNumberFromStandardInput) {
  const ProcessResult r = Replay({}, "ad 01 02 03 04\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], kInitLine);
  EXPECT_EQ(lines[1],
            "byte AD level=13 shown=13 hollow=0 hollow_shown=0 net=-1 accum=0 mode=173 codes=0 "
            "digits=0 receiving=1 start=0 silent=0 redraws=0 "
            "status=携帯の電源を入れなおしてください");
  EXPECT_EQ(lines[5],
            "byte 04 level=13 shown=13 hollow=0 hollow_shown=0 net=4660 accum=4660 mode=0 codes=0 "
            "digits=0 receiving=1 start=0 silent=0 redraws=1 "
            "status=携帯の電源を入れなおしてください");
  EXPECT_TRUE(r.err.empty());
}

// The default line's key=value pairs, with WHAT under "what".
std::map<std::string, std::string> Fields(const std::string& line) {
  std::map<std::string, std::string> f;
  const size_t first = line.find(" level=");
  f["what"] = line.substr(0, first);
  const size_t status = line.find(" status=");
  std::istringstream pairs(line.substr(first, status - first));
  for (std::string kv; pairs >> kv;) f[kv.substr(0, kv.find('='))] = kv.substr(kv.find('=') + 1);
  f["status"] = line.substr(status + 8);
  return f;
}

TEST(ReplayTool, JsonLinesCarryTheSameValuesAsTheDefaultLines) {
  const std::string script = "c5 a3 81 ad 01 0a 02 0f c9 80 t t t t t c3 zz";
  const ProcessResult text = Replay({}, script), json = Replay({"--json"}, script);
  EXPECT_EQ(json.status, 2);  // the bad token at the end, as in the default form
  EXPECT_EQ(json.err, text.err);
  const auto lines = Lines(text.out), objects = Lines(json.out);
  ASSERT_EQ(objects.size(), lines.size());
  ASSERT_EQ(lines.size(), 17u);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::map<std::string, JsonValue> o;
    std::string error;
    ASSERT_TRUE(ParseJsonObject(objects[i], &o, &error)) << error << ": " << objects[i];
    auto f = Fields(lines[i]);
    const std::string what = o["event"].text + (o.count("byte") ? " " + o["byte"].text : "");
    EXPECT_EQ(what, f["what"]);
    EXPECT_EQ(o["level"].number, std::stoi(f["level"])) << lines[i];
    EXPECT_EQ(o["antenna"].text, f["hollow"] == "1" ? "hollow" : "filled");
    const int net = std::stoi(f["net"]);
    if (net < 0) {
      EXPECT_EQ(o["net"].kind, JsonValue::kNull);
    } else {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%04X", net);
      EXPECT_EQ(o["net"].text, hex);
    }
    EXPECT_EQ(o["receiving"].boolean, f["receiving"] == "1");
    EXPECT_EQ(o["start"].boolean, f["start"] == "1");
    EXPECT_EQ(o["status"].text, f["status"]);
    EXPECT_EQ(o["redraws"].number, std::stoi(f["redraws"]));
    EXPECT_EQ(o.count("time"), 0u) << "replay has no clock";
  }
}

TEST(ReplayTool, TicksCommentsAndSpellingsOfBytes) {
  const std::string script =
      "# a fresh start, then silence\n"
      "0xA3 c7   # level 7\n"
      "\tt tick t\n"
      "T\n";
  const ProcessResult bad = Replay({}, script);
  EXPECT_EQ(bad.status, 2);
  const ProcessResult r = Replay({}, script.substr(0, script.size() - 2) + "tick\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_NE(lines[1].find("byte A3 level=0 "), std::string::npos);
  EXPECT_NE(lines[1].find(" redraws=1 status=網番号:不明"), std::string::npos);
  EXPECT_NE(lines[2].find("byte C7 level=7 shown=7 "), std::string::npos);
  EXPECT_NE(lines[5].find("tick level=7 "), std::string::npos);
  EXPECT_NE(lines[5].find(" silent=3 redraws=0 "), std::string::npos);
  EXPECT_NE(lines[6].find("tick level=8 shown=8 "), std::string::npos);
  EXPECT_NE(
      lines[6].find(" receiving=0 start=0 silent=255 redraws=1 status=携帯の電源が入ってません"),
      std::string::npos);
}

TEST(ReplayTool, BadTokensNameTheLineAndKeepEarlierLines) {
  for (const char* token : {"zz", "123", "0x1FF", "c", "0x"}) {
    const ProcessResult r = Replay({}, "c5\n  a3 " + std::string(token) + " c6\n");
    EXPECT_EQ(r.status, 2) << token;
    EXPECT_EQ(Lines(r.out).size(), 3u) << token;  // init, c5, a3
    EXPECT_NE(r.err.find("line 2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("'" + std::string(token) + "'"), std::string::npos) << r.err;
  }
}

TEST(ReplayTool, ScriptFileAndRawCapture) {
  const std::string script = TempFile("script.txt", "a3\nAD 0f 0e 0d 0c\n");
  const ProcessResult r = Replay({script});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("net=65244"), std::string::npos);

  const std::string capture = TempFile("capture.bin", std::string("\xa3\xc9\x0a\x81", 4));
  const ProcessResult raw = Replay({"--raw", capture});
  ASSERT_EQ(raw.status, 0) << raw.err;
  const auto lines = Lines(raw.out);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2].substr(0, 16), "byte C9 level=9 ");
  EXPECT_EQ(lines[3].substr(0, 8), "byte 0A ");
  EXPECT_NE(lines[4].find("hollow=1"), std::string::npos);
}

// Through the shell, for redirections.
ProcessResult Shell(const std::string& command) { return RunProcess({"/bin/sh", "-c", command}); }

TEST(ReplayTool, InputThatCannotBeReadAndOutputThatCannotBeWritten) {
  const std::string dir = testing::TempDir();
  for (const ProcessResult& r : {Replay({dir}), Replay({"--raw", dir})}) {
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot read '" + dir + "': Is a directory"), std::string::npos) << r.err;
  }
  const ProcessResult in = Shell(TOVMIR_TOOL " replay - < " + dir);
  EXPECT_EQ(in.status, 1);
  EXPECT_NE(in.err.find("cannot read '<stdin>': Is a directory"), std::string::npos) << in.err;

  const std::string script = TempFile("full.txt", "a3 c5 t t t t\n");
  for (const char* raw : {"", "--raw "}) {
    const ProcessResult full =
        Shell(TOVMIR_TOOL " replay " + std::string(raw) + script + " > /dev/full");
    EXPECT_EQ(full.status, 1) << raw;
    EXPECT_NE(full.err.find("cannot write to standard output: No space left on device"),
              std::string::npos)
        << full.err;
  }
}

TEST(ReplayTool, AnEndlessTokenIsRefusedAtOnceAndShownCutShortAndEscaped) {
  Child endless({TOVMIR_TOOL, "replay", "/dev/zero"});
  EXPECT_EQ(endless.Wait(), 2) << "read on and on";
  const std::string err = endless.Errors();
  EXPECT_NE(err.find("line 1: a token longer than 64 bytes: '\\x00\\x00"), std::string::npos)
      << err;
  EXPECT_LT(err.size(), 300u);

  const ProcessResult big = Replay({}, "c5 " + std::string(1 << 20, 'a'));
  EXPECT_EQ(big.status, 2);
  EXPECT_LT(big.err.size(), 300u);
  EXPECT_EQ(Lines(big.out).size(), 2u);  // init, c5

  const ProcessResult control = Replay({}, "c5\n\x1b[2Jz\x07 c6\n");
  EXPECT_EQ(control.status, 2);
  EXPECT_NE(control.err.find("line 2: unknown token '\\x1B[2Jz\\x07'"), std::string::npos)
      << control.err;
  // Bytes that are not UTF-8 likewise (a broken character would garble the terminal's next
  // ones); whole characters stay as they are.
  const ProcessResult broken = Replay({}, "c5 \xe7\xb6\xb2\xe7\xb6\xff\xc0\xaf\n");
  EXPECT_EQ(broken.status, 2);
  EXPECT_NE(broken.err.find("line 1: unknown token '\xe7\xb6\xb2\\xE7\\xB6\\xFF\\xC0\\xAF'"),
            std::string::npos)
      << broken.err;
}

TEST(ReplayTool, MissingFilesAndBadArguments) {
  const ProcessResult missing = Replay({"/nonexistent/script"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot open '/nonexistent/script': No such file or directory"),
            std::string::npos)
      << missing.err;
  EXPECT_TRUE(missing.out.empty());
  EXPECT_EQ(Replay({"--raw", "/nonexistent/capture"}).status, 1);
  EXPECT_EQ(Replay({"--raw"}).status, 2);
  EXPECT_EQ(Replay({"a", "b"}).status, 2);
  EXPECT_EQ(Replay({"--frobnicate"}).status, 2);

  const ProcessResult help = Replay({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--raw FILE"), std::string::npos);
}

}  // namespace
}  // namespace tovmir::test
