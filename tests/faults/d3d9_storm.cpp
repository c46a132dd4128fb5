#include "d3d9_storm.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

storm_settings& storm_options()
{
    static storm_settings settings;
    return settings;
}

storm_figures& storm_tally()
{
    static storm_figures figures;
    return figures;
}

std::list<overlay_group> storm_overlays()
{
    overlay_entry box;
    box.kind = overlay_kind_figure;
    box.points = {{6000, 500, 0, 0}, {9000, 500, 0, 0}, {9000, 3500, 0, 0}, {6000, 3500, 0, 0}};
    box.closed = true;
    box.line_width = 2;
    box.line_color = 0x0000FF00;
    box.highlight = true;
    box.font_size = 12;
    box.text_color = 0x00FFFF00;
    overlay_entry label;
    label.kind = overlay_kind_text;
    label.points = {{10, 10, 0, 0}};
    label.text = "storm";
    label.font_size = 14;
    label.text_color = 0x00FFFFFF;
    label.border = true;
    label.line_width = 1;
    label.highlight = true;
    overlay_group group;
    group.id = 1;
    group.entries = {box, label};
    return {group};
}

std::string formatted(const char* format, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    return text;
}

::testing::AssertionResult shows_colour(const captured_picture& picture, const rgb8& expected)
{
    if (picture.empty())
        return ::testing::AssertionFailure() << "no picture";
    constexpr double tolerance = 4.0;
    const int points[][2] = {{picture.width / 8, picture.height * 3 / 4},
                             {picture.width * 7 / 8, picture.height * 7 / 8}};
    for (const auto& point : points) {
        const int x = point[0], y = point[1];
        if (std::fabs(picture.red(x, y) - expected.r) > tolerance ||
            std::fabs(picture.green(x, y) - expected.g) > tolerance ||
            std::fabs(picture.blue(x, y) - expected.b) > tolerance)
            return ::testing::AssertionFailure()
                   << "pixel " << x << "," << y << " is " << std::hex << picture.at(x, y)
                   << std::dec << ", expected about " << expected.r << " " << expected.g << " "
                   << expected.b;
    }
    return ::testing::AssertionSuccess();
}

void storm_scene::dress(kx_vidrender* renderer, const adjust4& adjust)
{
    renderer->set_draw_callback(capture_callback, 0, &capture_);
    renderer->set_image_adjust(adjust.data());
    renderer->set_overlay_list(storm_overlays());
}
