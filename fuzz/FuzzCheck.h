#pragma once

#include <cstdio>
#include <cstdlib>

// An expectation of a fuzz target. A broken one aborts, so libFuzzer keeps
// the input and the corpus replay in the test suite fails on it.
#define FUZZ_CHECK(condition)                                                           \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "%s:%d: expectation failed: %s\n", __FILE__, __LINE__, \
                         #condition);                                                   \
            std::abort();                                                               \
        }                                                                               \
    } while (0)
