// commands.h: tovmir-tool's commands. Each *Main takes the command's name and the
// arguments after it (argv[0] the name) and returns the process's exit status; the command
// lines are parsed by cli/args.h. monitor, the station's, is in station/monitor.h.
#pragma once

namespace tovmir {

int ReplayMain(int argc, char** argv);
int FigureMain(int argc, char** argv);
int SimMain(int argc, char** argv);
int PlotMain(int argc, char** argv);
int MapMain(int argc, char** argv);

}  // namespace tovmir
