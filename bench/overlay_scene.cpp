#include "overlay_scene.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint32_t units = 10000;
constexpr uint32_t colours[] = {0x0000FF00, 0x00FFFF00, 0x0000FFFF, 0x00FF0000, 0x00FFFFFF};
constexpr uint32_t text_sizes[] = {16, 20, 24, 32};

overlay_point at(uint32_t x, uint32_t y)
{
    return {x, y, units, units};
}

std::string numbered(const char* text, int number)
{
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), text, number);
    return buffer;
}

// Entry `i` of its kind, in cell `cell` (0..99) of a 10 x 10 grid over the picture.
overlay_entry text_entry(int i, uint32_t x, uint32_t y)
{
    overlay_entry entry;
    entry.kind = overlay_kind_text;
    entry.points = {at(x, y)};
    entry.text = numbered(i % 2 ? "Camera %02d 2024-05-01 12:34:56" : "Zone %d", i);
    entry.font_size = text_sizes[i % 4];
    entry.text_color = colours[i % 5];
    entry.line_color = colours[(i + 2) % 5];
    entry.line_width = 1;
    entry.border = i % 3 == 0;
    entry.highlight = i % 4 == 1;
    entry.h_align = static_cast<uint32_t>(i % 4);
    entry.v_align = static_cast<uint32_t>((i / 4) % 4);
    return entry;
}

overlay_entry rectangle_entry(int i, uint32_t x, uint32_t y)
{
    overlay_entry entry;
    entry.points = {at(x, y), at(x + 700, y), at(x + 700, y + 600), at(x, y + 600)};
    entry.closed = true;
    entry.highlight = true; // the size label
    entry.font_size = 18;
    entry.text_color = 0x00FFFFFF;
    entry.line_color = colours[i % 5];
    entry.line_width = 2;
    return entry;
}

overlay_entry crossing_line_entry(int i, uint32_t x, uint32_t y)
{
    overlay_entry entry;
    entry.points = {at(x, y), at(x + 800, y + 300 + static_cast<uint32_t>(i % 3) * 150)};
    entry.text = numbered("Line %d", i);
    entry.direction_mark = static_cast<uint32_t>(i % 3 + 1);
    entry.font_size = 18;
    entry.text_color = 0x00FFFF00;
    entry.line_color = colours[i % 5];
    entry.line_width = 3;
    return entry;
}

overlay_entry ellipse_box_entry(int i, uint32_t x, uint32_t y)
{
    overlay_entry entry;
    entry.points = {at(x, y), at(x + 800, y), at(x + 800, y + 700), at(x, y + 700)};
    entry.closed = true;
    entry.inner_ellipses = true;
    entry.ellipse_layout = static_cast<uint32_t>(i % 3);
    entry.text = numbered("Area %d", i);
    entry.font_size = 20;
    entry.text_color = 0x00FFFFFF;
    entry.line_color = colours[(i + 1) % 5];
    entry.line_width = 2;
    return entry;
}

} // namespace

std::list<overlay_group> overlay_scene()
{
    std::list<overlay_group> groups;
    for (int g = 0; g < 10; ++g) {
        overlay_group group;
        group.id = g + 1;
        for (int e = 0; e < 10; ++e) {
            const int cell = g * 10 + e;
            const uint32_t x = 100 + static_cast<uint32_t>(cell % 10) * 980;
            const uint32_t y = 100 + static_cast<uint32_t>(cell / 10) * 980;
            const int i = cell / 4;
            switch (cell % 4) {
            case 0:
                group.entries.push_back(text_entry(i, x, y));
                break;
            case 1:
                group.entries.push_back(rectangle_entry(i, x, y));
                break;
            case 2:
                group.entries.push_back(crossing_line_entry(i, x, y));
                break;
            default:
                group.entries.push_back(ellipse_box_entry(i, x, y));
                break;
            }
        }
        groups.push_back(std::move(group));
    }
    return groups;
}
