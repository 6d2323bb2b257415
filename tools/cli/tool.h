// tool.h: the subcommands of tovmir-tool and their shared reporting. Each *Main takes the
// subcommand's name and the arguments after it (argv[0] the name) and returns the process
// exit status; the command lines are parsed by tools/cli/args.h.
#pragma once

#include <string>

namespace tovmir {

int ReplayMain(int argc, char** argv);
int FigureMain(int argc, char** argv);
int MonitorMain(int argc, char** argv);
int SimMain(int argc, char** argv);
int PlotMain(int argc, char** argv);

// Prints "tovmir-tool CMD: MESSAGE" (or "tovmir-tool: MESSAGE" for no CMD) on standard
// error and returns status.
int Fail(const std::string& cmd, const std::string& message, int status);
// Text from outside as a message shows it: control bytes and bytes that are not UTF-8
// escaped ("\x1B"), so that a message never hands a terminal a raw escape or a broken
// character; cut short ("...") after max bytes.
std::string Shown(const std::string& text, size_t max = std::string::npos);
// A whole decimal number within int, with an optional minus sign.
bool ParseInt(const std::string& text, int& out);

// Standard output, checked: WriteLine is false once a write has failed, and FinishOutput
// flushes and returns 0, or prints "cannot write to standard output: REASON" and returns 1.
bool WriteLine(const std::string& line);
int FinishOutput(const std::string& cmd);

}  // namespace tovmir
