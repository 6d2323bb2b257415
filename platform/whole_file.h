// whole_file.h: a file written whole or not at all: under a name of its own beside the one
// it replaces (links followed), then renamed over it, with that file's permissions (or as
// umask says for a new one); on any failure the file that was there is untouched and no
// piece is left. A device or a pipe (/dev/stdout) is written as it is. POSIX only; any
// thread.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace tovmir {

// write puts everything into the stream and returns "" or why it could not (the system's
// reason). Returns "" or the whole error: "cannot open 'PATH': ..." / "cannot write 'PATH':
// ...".
std::string WriteWholeFile(const std::string& path,
                           const std::function<std::string(FILE* file)>& write);

}  // namespace tovmir
