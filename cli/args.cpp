#include "cli/args.h"

#include <getopt.h>

#include <iostream>

#include "cli/tool.h"
#include "events/shown.h"
#include "version.h"

namespace tovmir {
namespace {

// getopt_long's values: -h and -V answer with their letters; the long options without one
// lie beyond any byte, since an unknown short option is reported in the same optopt, as
// its character ("-\x01" must not read as one of them).
constexpr int kHelp = 'h';
constexpr int kVersion = 'V';
constexpr int kFirstOption = 256;  // getopt_long's value for options[i] is kFirstOption + i

}  // namespace

std::string VersionLine() { return std::string("tovmir-tool ") + TOVMIR_VERSION; }

int CommandLine::UsageError(const std::string& what) {
  std::cerr << "tovmir-tool " << command_ << ": " << what << "\nTry 'tovmir-tool " << command_
            << " --help'.\n";
  return status_ = 2;
}

bool CommandLine::Parse(int argc, char** argv, std::span<const Option> options,
                        std::span<const char* const> operands, size_t required) {
  std::vector<option> longs = {{"help", no_argument, nullptr, kHelp},
                               {"version", no_argument, nullptr, kVersion}};
  std::string shorts = ":hV";
  for (size_t i = 0; i < options.size(); ++i) {
    const int has_value = !options[i].value_name      ? no_argument
                          : options[i].value_optional ? optional_argument
                                                      : required_argument;
    // An option with a letter is answered with that letter, in either form.
    const int value =
        options[i].short_name ? options[i].short_name : kFirstOption + static_cast<int>(i);
    longs.push_back({options[i].name, has_value, nullptr, value});
    if (options[i].short_name)
      shorts += std::string(1, options[i].short_name) + (has_value ? ":" : "");
  }
  longs.push_back({nullptr, 0, nullptr, 0});
  auto index_of = [&](int value) {
    for (size_t i = 0; i < options.size(); ++i)
      if ((options[i].short_name && value == options[i].short_name) ||
          value == kFirstOption + static_cast<int>(i))
        return i;
    return options.size();
  };
  auto name_of = [&](int value) {
    if (value == kVersion || value == kHelp)
      return std::string(value == kVersion ? "version" : "help");
    return std::string(options[index_of(value)].name);
  };

  optind = 0;  // a fresh scan, whoever scanned before
  opterr = 0;  // the messages are ours
  for (;;) {
    const int c = getopt_long(argc, argv, shorts.c_str(), longs.data(), nullptr);
    if (c == -1) break;
    if (c == kHelp || c == kVersion) {
      // Asked for, so a failure to write it is an error like any other output's.
      std::cout << (c == kHelp ? help_ : VersionLine() + '\n');
      status_ = FinishOutput(command_);
      return false;
    }
    if (c == ':') return UsageError("option '--" + name_of(optopt) + "' needs a value"), false;
    if (c == '?') {
      // A long option given a value it does not take comes back with its own value.
      const bool known = optopt == kVersion || optopt == kHelp || index_of(optopt) < options.size();
      const std::string arg = argv[optind - 1];
      if (known && arg.rfind("--", 0) == 0)
        return UsageError("option '--" + name_of(optopt) + "' takes no value"), false;
      std::string what = optopt ? std::string("-") + static_cast<char>(optopt) : arg;
      what = what.substr(0, what.find('='));
      return UsageError("unknown option '" + Shown(what) + "'"), false;
    }
    const Option& o = options[index_of(c)];
    if (o.value_name && !o.value_optional && !*optarg)
      return UsageError(std::string("option '--") + o.name + "' needs a value"), false;
    given_.emplace_back(o.name, o.value_name && optarg ? optarg : "");
  }
  for (int i = optind; i < argc; ++i) operands_.emplace_back(argv[i]);
  const bool repeats = !operands.empty() && std::string_view(operands.back()).ends_with("...");
  if (operands_.size() > operands.size() && !repeats)
    return UsageError("unexpected argument '" + Shown(operands_[operands.size()]) + "'"), false;
  if (operands_.size() < required) {
    std::string missing;
    for (size_t i = operands_.size(); i < required; ++i)
      missing += std::string(missing.empty() ? "" : " ") + operands[i];
    return UsageError("missing " + missing), false;
  }
  return true;
}

bool CommandLine::Has(std::string_view option) const {
  for (const auto& [name, value] : given_)
    if (name == option) return true;
  return false;
}

std::string CommandLine::Value(std::string_view option) const {
  std::string value;
  for (const auto& [name, v] : given_)
    if (name == option) value = v;
  return value;
}

bool CommandLine::IntValue(std::string_view option, int lo, int hi, int* out) {
  if (!Has(option)) return true;
  const std::string text = Value(option);
  int v = 0;
  if (!ParseInt(text, v) || v < lo || v > hi) {
    UsageError("option '--" + std::string(option) + "' takes a whole number from " +
               std::to_string(lo) + " to " + std::to_string(hi) + ", not '" + text + "'");
    return false;
  }
  *out = v;
  return true;
}

}  // namespace tovmir
