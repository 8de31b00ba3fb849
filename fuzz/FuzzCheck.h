#pragma once

#include <cstdio>
#include <cstdlib>

// A property the fuzzed code must keep; a break is a finding like a crash,
// so the fuzzer stops and keeps the input.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
