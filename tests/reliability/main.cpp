// vrender_reliability fuzz|soak|storm|wall [options]: hostile calls, long runs, fault storms
// and sixteen renderers at once through one harness. Every mode runs under the crash and hang
// report.
#include <cstdio>
#include <cstring>

#include "harness.h"
#include "modes.h"

int main(int argc, char** argv)
{
    run_report::install();
    if (argc >= 2 && std::strcmp(argv[1], "fuzz") == 0)
        return run_fuzz(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "soak") == 0)
        return run_soak(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "storm") == 0)
        return run_storm(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "wall") == 0)
        return run_wall(argc - 2, argv + 2);
    std::fprintf(stderr, "usage: %s fuzz|soak|storm|wall [options]\n", argv[0]);
    return 2;
}
