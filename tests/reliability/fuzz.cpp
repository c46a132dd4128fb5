#include <cstdio>

#include "modes.h"

int run_fuzz(int, char**)
{
    std::fprintf(stderr, "fuzz: not built yet\n");
    return 2;
}
