#include <cstdio>

#include "modes.h"

int run_soak(int, char**)
{
    std::fprintf(stderr, "soak: not built yet\n");
    return 2;
}
