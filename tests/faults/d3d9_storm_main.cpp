// The Direct3D 9 fault storms: GoogleTest's own options, then ours.
//   --losses N   device losses in the loss storm of the shared device (12); the own device
//                gets a tenth of them, at least 3
//   --sweeps N   failure codes tried at each creation step (1, up to 5)
//   --every-step every creation call fails in turn (otherwise the first call of each name)
//   --seed S     seed of the loss schedule (1)
//   --long       --losses 2000 --sweeps 5 --every-step
// Ends with one line of figures: faults injected, frames drawn, rebuilds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "d3d9_creation_faults.h"
#include "d3d9_storm.h"

namespace {

bool read_options(int argc, char** argv)
{
    storm_settings& settings = storm_options();
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--long") == 0) {
            settings.losses = 2000;
            settings.sweeps = 5;
            settings.every_step = true;
        } else if (std::strcmp(argv[i], "--every-step") == 0) {
            settings.every_step = true;
        } else if (std::strcmp(argv[i], "--losses") == 0 && has_value) {
            settings.losses = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--sweeps") == 0 && has_value) {
            settings.sweeps = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--seed") == 0 && has_value) {
            settings.seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return false;
        }
    }
    return settings.losses > 0 && settings.sweeps > 0;
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!read_options(argc, argv))
        return 2;
    const storm_settings& settings = storm_options();
    std::printf("d3d9 fault storm: seed %u, %d losses per storm, %d sweeps\n", settings.seed,
                settings.losses, settings.sweeps);
    const int result = RUN_ALL_TESTS();
    storm_figures& figures = storm_tally();
    figures.failed_creations = creation_plan().injected();
    std::printf("d3d9 fault storm: %d faults injected (%d presents, %d cooperative-level tests, "
                "%d creation calls), %d frames drawn, %d rebuilds\n",
                figures.faults(), figures.failed_presents, figures.failed_cooperative_tests,
                figures.failed_creations, figures.frames_drawn, figures.rebuilds);
    return result;
}
