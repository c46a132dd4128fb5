#include "player_options.h"

#include <cstdio>
#include <cstdlib>

const char* const player_usage =
    "usage: vrender_play [options] [file.y4m]\n"
    "  --path PATH              how frames reach the library (default d3d9):\n"
    "      d3d9                 software frames, drawn with Direct3D 9\n"
    "      ddraw                software frames, drawn with DirectDraw; needs a machine without\n"
    "                           a usable Direct3D 9 (./run.sh --path ddraw runs the copy in\n"
    "                           build/x64/bin/ddraw_only, beside a d3d9.dll without one)\n"
    "      dxva2                DXVA2-style surfaces of the player's own Direct3D 9 device\n"
    "      d3d11                Direct3D 11-style NV12 textures of the player's own device\n"
    "  --frames N               frames to play (default 300; a file plays to its end)\n"
    "  --size WxH               window size (default 1280x720)\n"
    "  --region L,R,T,B         show this part, in ten-thousandths of the picture\n"
    "  --adjust C,B,S,H         contrast, brightness, saturation, hue (0..100, 50 neutral)\n"
    "  --screenshot FILE.png    where the last frame goes (default out/vrender_play.png)\n"
    "exit status: 0 played, 1 failed, 2 bad arguments, 3 the path cannot run on this\n"
    "machine, 4 DirectDraw asked for but the library found Direct3D 9\n";

namespace {

bool parse_ints(const std::string& text, char separator, int* values, int count)
{
    size_t start = 0;
    for (int i = 0; i < count; ++i) {
        const size_t end = i + 1 < count ? text.find(separator, start) : text.size();
        if (end == std::string::npos || end == start)
            return false;
        char* stop = nullptr;
        values[i] = static_cast<int>(std::strtol(text.c_str() + start, &stop, 10));
        if (stop != text.c_str() + end)
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace

bool parse_options(int argc, char** argv, player_options& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        const std::string value = has_value ? argv[i + 1] : "";
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--path" && has_value) {
            if (value == "d3d9")
                options.path = play_path::d3d9;
            else if (value == "dxva2")
                options.path = play_path::dxva2;
            else if (value == "ddraw")
                options.path = play_path::ddraw;
            else if (value == "d3d11")
                options.path = play_path::d3d11;
            else {
                error = "unknown path: " + value;
                return false;
            }
            ++i;
        } else if (arg == "--frames" && has_value) {
            if (!parse_ints(value, ',', &options.frames, 1) || options.frames <= 0) {
                error = "bad frame count: " + value;
                return false;
            }
            ++i;
        } else if (arg == "--size" && has_value) {
            int size[2];
            if (!parse_ints(value, 'x', size, 2) || size[0] < 16 || size[1] < 16 ||
                size[0] > 8192 || size[1] > 8192) {
                error = "bad window size: " + value;
                return false;
            }
            options.window_width = size[0];
            options.window_height = size[1];
            ++i;
        } else if (arg == "--region" && has_value) {
            int edges[4];
            if (!parse_ints(value, ',', edges, 4)) {
                error = "bad region: " + value;
                return false;
            }
            options.region = true;
            options.region_value = {1, 0, edges[0], edges[1], edges[2], edges[3], 0, 0};
            ++i;
        } else if (arg == "--adjust" && has_value) {
            if (!parse_ints(value, ',', options.adjust.data(), 4)) {
                error = "bad adjustment: " + value;
                return false;
            }
            ++i;
        } else if (arg == "--screenshot" && has_value) {
            options.screenshot = value;
            ++i;
        } else if (!arg.empty() && arg[0] != '-' && options.input.empty()) {
            options.input = arg;
        } else {
            error = "unknown argument: " + arg;
            return false;
        }
    }
    return true;
}
