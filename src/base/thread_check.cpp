// The end of a broken thread contract.
#include "base/thread_check.h"

#include <cstdio>
#include <cstdlib>

void threadContractBroken(const char* function, const char* rule) {
    std::fprintf(stderr, "linkrelay: %s %s\n", function, rule);
    std::fflush(stderr);
    std::abort();
}
