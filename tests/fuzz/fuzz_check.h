// fuzz_check.h: FUZZ_CHECK(condition), how the fuzz targets check an invariant. A failed
// one is said on standard error, the condition and where it is, and ends the run with
// abort(), which libFuzzer reports as a crash and keeps the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition) \
  ((condition) ? void() : ::tovmir::FuzzCheckFailed(#condition, __FILE__, __LINE__))

namespace tovmir {

[[noreturn]] inline void FuzzCheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

}  // namespace tovmir
