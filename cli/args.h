// args.h: the command lines of tovmir-tool in the usual GNU form, parsed one way for every
// command (getopt_long): -h/--help and -V/--version everywhere, --opt=value or --opt value,
// options and operands in any order, "--" ends the options. A usage error is one line that
// names the problem, then "Try 'tovmir-tool CMD --help'.", and exit status 2.
// Single-threaded.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tovmir {

struct Option {
  const char* name;        // the long name, without "--"
  const char* value_name;  // what its value is ("FILE"), or nullptr for a flag
  char short_name = 0;     // its one-letter form ('j' for -j), if it has one
  // The value may be left out (--gps, or --gps=HOST:PORT; only in the --opt=value form).
  bool value_optional = false;
};

class CommandLine {
 public:
  // help: the command's whole help text, printed for --help.
  CommandLine(const char* command, const char* help) : command_(command), help_(help) {}

  // Parses a command's arguments, argv[0] being the command's name. operands names them
  // ("FILE"; a last name ending in "..." may be given any number of times); the first
  // `required` must be given, the rest may be. False when the command
  // is done here: help or version printed (status() 0, or 1 when they could not be
  // written) or a usage error reported (2).
  bool Parse(int argc, char** argv, std::span<const Option> options,
             std::span<const char* const> operands, size_t required);
  int status() const { return status_; }

  bool Has(std::string_view option) const;
  // The value of the option's last occurrence; "" when it was not given.
  std::string Value(std::string_view option) const;
  const std::vector<std::string>& operands() const { return operands_; }

  // A usage error the command finds itself (a bad value): the line and the hint; returns 2.
  int UsageError(const std::string& what);
  // The option's value as a whole number from lo to hi, or *out unchanged when the option
  // was not given. False, with the usage error reported, when it is something else.
  bool IntValue(std::string_view option, int lo, int hi, int* out);

 private:
  std::string command_;
  const char* help_;
  std::vector<std::pair<std::string, std::string>> given_;  // options in command-line order
  std::vector<std::string> operands_;
  int status_ = 0;
};

// "tovmir-tool VERSION"
std::string VersionLine();

}  // namespace tovmir
