#pragma once
// Checks inside fuzz harnesses: a broken property ends the run with a message
// and abort(), which libFuzzer and the replay driver both report as a failure
// of the input being run.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                          \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)
