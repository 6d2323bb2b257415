// Arbitrary command lines through CommandLine::Parse, with options like the commands' own
// (flags, options with values, two that share a prefix) and up to two operands, one of
// them required. Input: the arguments after the command's name, separated by NUL bytes.
// Each command line is parsed twice, from fresh copies: the second parse must come out as
// the first (getopt_long keeps state between scans). Checked: done or not with status 0,
// 1 or 2; a usage error says what is wrong, then the hint; a value refused only where one
// was given; every operand and value one of the arguments or what follows '=' in one;
// --width a number within its range or refused. Help and version go to standard output,
// which the test closes (-close_fd_mask=1); standard error is caught here.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const tovmir::Option kOptions[] = {{"port", "DEVICE"}, {"png", "FILE"},   {"seed", "N"},
                                   {"width", "W"},     {"json", nullptr}, {"raw", nullptr}};
const char* const kOperands[] = {"LOG", "FILE"};
constexpr size_t kRequired = 1;
constexpr char kHint[] = "Try 'tovmir-tool fuzz --help'.\n";

struct Outcome {
  bool done = false;
  int status = 0;
  std::vector<std::string> operands, values;
  std::string error;  // what went to standard error
  bool operator==(const Outcome&) const = default;
};

Outcome Parse(const std::vector<std::string>& args) {
  std::vector<std::string> copy = args;  // getopt_long reorders argv
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::ostringstream err;
  std::streambuf* const old_err = std::cerr.rdbuf(err.rdbuf());
  tovmir::CommandLine cl("fuzz", "usage: tovmir-tool fuzz LOG [FILE]\n");
  Outcome o;
  o.done = !cl.Parse(static_cast<int>(args.size()), argv.data(), kOptions, kOperands, kRequired);
  o.status = cl.status();
  o.error = err.str();
  if (!o.done) {
    o.operands = cl.operands();
    for (const tovmir::Option& option : kOptions) o.values.push_back(cl.Value(option.name));
    err.str("");
    int width = -1;
    if (cl.IntValue("width", 200, 8000, &width))
      FUZZ_CHECK(cl.Has("width") ? width >= 200 && width <= 8000 : width == -1);
    else
      FUZZ_CHECK(cl.status() == 2 &&
                 err.str().find("option '--width' takes a whole number") != std::string::npos);
  }
  std::cerr.rdbuf(old_err);
  return o;
}

// Whether `text` is one of the arguments, or follows the first '=' in one.
bool FromArguments(const std::string& text, const std::vector<std::string>& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == text) return true;
    const size_t eq = args[i].find('=');
    if (eq != std::string::npos && std::string_view(args[i]).substr(eq + 1) == text) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = {"fuzz"};
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\0', start), text.size());
    args.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }

  const Outcome o = Parse(args);
  FUZZ_CHECK(Parse(args) == o);
  if (!o.done) {
    FUZZ_CHECK(o.status == 0 && o.error.empty());
    FUZZ_CHECK(o.operands.size() >= kRequired && o.operands.size() <= std::size(kOperands));
    for (const std::string& operand : o.operands) FUZZ_CHECK(FromArguments(operand, args));
    for (size_t i = 0; i < std::size(kOptions); ++i) {
      const std::string& value = o.values[i];
      // A flag's value is "", an option's never.
      FUZZ_CHECK(value.empty() || (kOptions[i].value_name && FromArguments(value, args)));
    }
    return 0;
  }
  FUZZ_CHECK(o.status >= 0 && o.status <= 2);
  if (o.status == 2) {
    // "tovmir-tool fuzz: WHAT\nTry ...", WHAT not empty.
    constexpr std::string_view kStart = "tovmir-tool fuzz: ", kEnd = kHint;
    const std::string_view error = o.error;
    FUZZ_CHECK(error.starts_with(kStart) && error.ends_with(kEnd));
    FUZZ_CHECK(error.size() > kStart.size() + kEnd.size() + 1);
    const std::string_view what =
        error.substr(kStart.size(), error.size() - kStart.size() - kEnd.size() - 1);
    FUZZ_CHECK(error[kStart.size() + what.size()] == '\n');
    // A value refused only where one was given.
    if (what.starts_with("option '--") && what.ends_with("' takes no value")) {
      bool given = false;
      for (const std::string& a : args)
        given |= a.starts_with("--") && a.find('=') != std::string::npos;
      FUZZ_CHECK(given);
    }
  } else {
    // Help or version: written, or a failure to write them said.
    const bool said = o.error.find("cannot write to standard output") != std::string::npos;
    FUZZ_CHECK(o.status == 0 ? o.error.empty() : said);
  }
  return 0;
}
