#include "overlay_rules.h"

#include <algorithm>

namespace overlay_rules {

std::wstring to_wide(const std::string& text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 1)
        return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length) != length)
        return {};
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

std::string size_label(long width, long height)
{
    return std::to_string(width) + "*" + std::to_string(height);
}

text_margins margins_for(const overlay_entry& entry)
{
    text_margins margins = {entry.h_align == 3 ? 4 : 0, 0};
    if (entry.border) {
        if (entry.h_align == 1 || entry.h_align == 3)
            margins.horizontal += 4;
        if (entry.v_align == 3)
            margins.vertical = 6;
    }
    return margins;
}

text_margins scaled_margins(text_margins margins, uint32_t ref_width, uint32_t ref_height,
                            uint32_t width, uint32_t height)
{
    const auto scaled = [](int margin, uint32_t reference, uint32_t extent) {
        return static_cast<int>(static_cast<float>(margin) * static_cast<float>(reference) /
                                static_cast<float>(extent));
    };
    return {scaled(margins.horizontal, ref_width, width),
            scaled(margins.vertical, ref_height, height)};
}

double aligned_start(double anchor, double extent, uint32_t align, double margin)
{
    switch (align) {
    case 1:
        return anchor + margin;
    case 2:
        return anchor - extent * 0.5;
    case 3:
        return anchor - margin - extent;
    default:
        return anchor;
    }
}

void write_back_corner(overlay_entry& entry, uint32_t right, uint32_t bottom, uint32_t rw,
                       uint32_t rh, uint32_t space_width, uint32_t space_height)
{
    if (entry.points.empty() || space_width == 0 || space_height == 0)
        return;
    if (entry.points.size() == 1)
        entry.points.push_back({0, 0, normalised_units, normalised_units});
    entry.points[1] = {right * rw / space_width, bottom * rh / space_height, entry.points[0].ref_w,
                       entry.points[0].ref_h};
}

zoom_transform zoom_for(const RECT& region, uint32_t width, uint32_t height)
{
    // An empty region would make the scale infinite; one pixel keeps it finite. A reversed
    // region wraps to a huge unsigned size and so a tiny scale, which draws nothing useful but
    // harms nothing.
    const uint32_t region_width =
        std::max<uint32_t>(1, static_cast<uint32_t>(region.right - region.left));
    const uint32_t region_height =
        std::max<uint32_t>(1, static_cast<uint32_t>(region.bottom - region.top));
    return {-static_cast<float>(region.left), -static_cast<float>(region.top),
            static_cast<float>(width) / static_cast<float>(region_width),
            static_cast<float>(height) / static_cast<float>(region_height)};
}

} // namespace overlay_rules
