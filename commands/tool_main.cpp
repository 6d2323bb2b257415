// tovmir-tool: the meter's command-line companion.
#include <signal.h>

#include <cstring>
#include <iostream>

#include "cli/args.h"
#include "cli/tool.h"
#include "commands/commands.h"
#include "events/shown.h"
#include "station/monitor.h"

namespace {

struct Command {
  const char* name;
  int (*main)(int, char**);
  const char* summary;
};

const Command kCommands[] = {
    {"replay", tovmir::ReplayMain, "feed a script of bytes and ticks through the receiver logic"},
    {"figure", tovmir::FigureMain, "the meter figure's drawing calls, and a PNG of the window"},
    {"monitor", tovmir::MonitorMain, "listen to a handset on a serial port and print the meter"},
    {"sim", tovmir::SimMain, "play the handset: send its bytes into a pty or serial port"},
    {"plot", tovmir::PlotMain, "draw a monitor session's reception over time as a PNG"},
    {"map", tovmir::MapMain, "draw a monitor --gps session as maps: GeoJSON, GPX, KML, CSV, PNG"},
};

void PrintHelp() {
  std::cout << "usage: tovmir-tool COMMAND [OPTIONS] [ARGS]\n"
               "       tovmir-tool -h|--help | -V|--version\n\n"
               "The command-line companion of the tovmir reception meter.\n\n";
  size_t width = 0;
  for (const Command& c : kCommands) width = std::max(width, std::strlen(c.name));
  for (const Command& c : kCommands)
    std::cout << "  " << c.name << std::string(width + 3 - std::strlen(c.name), ' ') << c.summary
              << "\n";
  std::cout
      << "\n'tovmir-tool COMMAND --help' describes a command; 'man tovmir-tool' all of them.\n";
}

int UsageError(const std::string& what) {
  std::cerr << "tovmir-tool: " << what << "\nTry 'tovmir-tool --help'.\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed output is a write error like any other, reported with its reason; dying of
  // SIGPIPE would also leave a serial port without its settings put back.
  signal(SIGPIPE, SIG_IGN);
  if (argc < 2) return UsageError("no command given");
  const std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    PrintHelp();
    return tovmir::FinishOutput("");
  }
  if (first == "--version" || first == "-V") {
    std::cout << tovmir::VersionLine() << '\n';
    return tovmir::FinishOutput("");
  }
  for (const Command& c : kCommands)
    if (first == c.name) return c.main(argc - 1, argv + 1);
  if (first[0] == '-') return UsageError("unknown option '" + tovmir::Shown(first) + "'");
  return UsageError("unknown command '" + tovmir::Shown(first) + "'");
}
