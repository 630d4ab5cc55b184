#pragma once
// A failed invariant in a fuzz target: print what broke and abort, so that libFuzzer keeps
// the input as a crash. Plain assert() would vanish in a release build.

#include <cstdio>
#include <cstdlib>

#define KX_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
