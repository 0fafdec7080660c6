#pragma once

#include <cstdio>
#include <cstdlib>

// A broken promise of the code under the fuzzer: names the target's file and line, then aborts so the
// fuzzer keeps the input.
inline void fuzzCheckAt(bool ok, const char* file, int line) {
    if (ok) return;
    std::fprintf(stderr, "%s:%d: check failed\n", file, line);
    std::abort();
}
#define FUZZ_CHECK(ok) fuzzCheckAt((ok), __FILE__, __LINE__)
