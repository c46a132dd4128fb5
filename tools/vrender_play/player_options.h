// The player's command line.
#pragma once

#include <array>
#include <string>

#include "kx_vidrender.h"

enum class play_path { d3d9, dxva2, ddraw, d3d11 };

struct player_options {
    play_path path = play_path::d3d9;
    int frames = 300;
    int window_width = 1280;
    int window_height = 720;
    bool region = false;
    display_region region_value = {};
    std::array<int, 4> adjust = {50, 50, 50, 50};
    std::string input; // a Y4M file, or empty for the test pattern
    std::string screenshot = "out/vrender_play.png";
    bool help = false;
};

// Fills `options` from the arguments; false with `error` set on a bad argument.
bool parse_options(int argc, char** argv, player_options& options, std::string& error);

extern const char* const player_usage;
