#include <cstdio>

#include "modes.h"

int run_storm(int, char**)
{
    std::fprintf(stderr, "storm: not built yet\n");
    return 2;
}
