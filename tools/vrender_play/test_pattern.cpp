#include "test_pattern.h"

#include <string>

namespace {

struct yuv {
    uint8_t y, u, v;
};

// 75% colour bars in BT.601 limited range: white, yellow, cyan, green, magenta, red, blue,
// black.
const yuv bars[8] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                     {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};

const char* const class_names[3] = {"BT.601", "BT.709", "BT.2020"};

overlay_entry text(const std::string& label, uint32_t x, uint32_t y, uint32_t colour,
                   bool highlight)
{
    overlay_entry entry;
    entry.kind = overlay_kind_text;
    entry.text = label;
    entry.points = {{x, y, 10000, 10000}};
    entry.font_size = 28;
    entry.text_color = colour;
    entry.highlight = highlight;
    entry.line_color = 0x00FFFFFF;
    entry.line_width = 2;
    return entry;
}

overlay_entry figure(std::vector<overlay_point> points, uint32_t colour)
{
    overlay_entry entry;
    entry.kind = overlay_kind_figure;
    entry.points = std::move(points);
    entry.line_color = colour;
    entry.line_width = 3;
    entry.text_color = 0x00FFFFFF;
    entry.font_size = 22;
    return entry;
}

} // namespace

test_pattern::test_pattern(int width, int height) : width_(width), height_(height)
{}

int test_pattern::colorspace_of(int index)
{
    static const int colorspaces[3] = {6, 1, 9};
    return colorspaces[(index / 100) % 3];
}

void test_pattern::paint(int index, std::vector<uint8_t>& picture) const
{
    const int cw = (width_ + 1) / 2, ch = (height_ + 1) / 2;
    picture.resize(static_cast<size_t>(width_) * height_ + 2 * static_cast<size_t>(cw) * ch);
    uint8_t* y_plane = picture.data();
    uint8_t* u_plane = y_plane + static_cast<size_t>(width_) * height_;
    uint8_t* v_plane = u_plane + static_cast<size_t>(cw) * ch;
    const int bars_bottom = height_ * 2 / 3;
    const int box = height_ / 6;
    const int box_x = (index * 8) % (width_ + box) - box;
    const int box_y = bars_bottom - box - height_ / 24;
    for (int row = 0; row < height_; ++row)
        for (int col = 0; col < width_; ++col) {
            yuv value;
            if (row >= bars_bottom)
                value = {static_cast<uint8_t>(16 + col * 219 / (width_ - 1 > 0 ? width_ - 1 : 1)),
                         128, 128};
            else
                value = bars[col * 8 / width_];
            if (col >= box_x && col < box_x + box && row >= box_y && row < box_y + box)
                value = {235, 128, 128};
            y_plane[static_cast<size_t>(row) * width_ + col] = value.y;
            if (row % 2 == 0 && col % 2 == 0) {
                const size_t c = static_cast<size_t>(row / 2) * cw + col / 2;
                u_plane[c] = value.u;
                v_plane[c] = value.v;
            }
        }
}

std::list<overlay_group> test_pattern::overlays(int index) const
{
    overlay_group group;
    group.id = 1;
    const int color_class = (index / 100) % 3;
    group.entries.push_back(
        text(std::string("video_render ") + class_names[color_class], 300, 300, 0x00FFFFFF, true));
    group.entries.push_back(text("frame " + std::to_string(index), 300, 9000, 0x00FFFF00, false));

    overlay_entry crossing =
        figure({{1500, 7600, 10000, 10000}, {4500, 9400, 10000, 10000}}, 0x0000FF00);
    crossing.direction_mark = 3;
    crossing.text = "Line 1";
    group.entries.push_back(crossing);

    overlay_entry sized = figure({{5600, 1200, 10000, 10000},
                                  {7400, 1200, 10000, 10000},
                                  {7400, 3800, 10000, 10000},
                                  {5600, 3800, 10000, 10000}},
                                 0x00FF0000);
    sized.closed = true;
    sized.highlight = true;
    group.entries.push_back(sized);

    overlay_entry zone = figure({{5600, 5200, 10000, 10000},
                                 {9200, 5200, 10000, 10000},
                                 {9200, 6400, 10000, 10000},
                                 {5600, 6400, 10000, 10000}},
                                0x0000FFFF);
    zone.closed = true;
    zone.inner_ellipses = true;
    zone.ellipse_layout = 1;
    zone.text = "Zone";
    group.entries.push_back(zone);
    return {group};
}
