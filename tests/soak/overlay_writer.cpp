#include "overlay_writer.h"

#include <chrono>
#include <iterator>
#include <string>

namespace {

// A player's overlays come in a handful of sizes; the renderers cache a font per size.
constexpr uint32_t pixel_font_sizes[] = {12, 16, 20, 28, 36};
// With scale_to_reference a size is in units of the reference height (10000 here).
constexpr uint32_t scaled_font_sizes[] = {450, 600, 900};
constexpr const char* words[] = {"cam", "gate", "zone", "12", "lobby", "exit", "motion", "A-7"};
constexpr uint32_t reference = 10000;
constexpr uint32_t smallest_zone = reference / 10;
constexpr int longest_pause_ms = 12;

overlay_point point(uint32_t x, uint32_t y)
{
    return {x, y, reference, reference};
}

} // namespace

overlay_writer::overlay_writer(kx_vidrender* renderer, uint32_t seed)
    : renderer_(renderer), random_(seed), thread_(&overlay_writer::run, this)
{}

overlay_writer::~overlay_writer()
{
    stop_ = true;
    thread_.join();
}

void overlay_writer::run()
{
    while (!stop_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(below(longest_pause_ms + 1)));
        const std::list<overlay_group> groups = random_list();
        std::lock_guard<std::mutex> hold(gate_);
        renderer_->set_overlay_list(groups);
        ++replacements_;
    }
}

std::list<overlay_group> overlay_writer::random_list()
{
    std::list<overlay_group> groups(below(7));
    int id = 0;
    for (overlay_group& group : groups) {
        group.id = ++id;
        const uint32_t entries = 1 + below(4);
        for (uint32_t i = 0; i < entries; ++i)
            group.entries.push_back(below(2) ? random_text() : random_figure());
    }
    return groups;
}

overlay_point overlay_writer::random_point()
{
    return point(below(reference), below(reference));
}

overlay_entry overlay_writer::random_text()
{
    overlay_entry entry;
    entry.kind = overlay_kind_text;
    entry.points.push_back(random_point());
    entry.text = std::string(words[below(std::size(words))]) + " " + words[below(std::size(words))];
    entry.scale_to_reference = below(4) == 0;
    entry.font_size = entry.scale_to_reference
                          ? scaled_font_sizes[below(std::size(scaled_font_sizes))]
                          : pixel_font_sizes[below(std::size(pixel_font_sizes))];
    entry.text_color = below(0x1000000);
    entry.line_color = below(0x1000000);
    entry.line_width = 1 + below(3);
    entry.border = below(2);
    entry.highlight = below(2);
    entry.h_align = below(4);
    entry.v_align = below(4);
    return entry;
}

overlay_entry overlay_writer::random_figure()
{
    overlay_entry entry;
    entry.kind = overlay_kind_figure;
    entry.line_color = below(3) == 0 ? 0x00FF0000 : below(0x1000000);
    entry.line_width = 1 + below(4);
    entry.text_color = below(0x1000000);
    entry.font_size = pixel_font_sizes[below(std::size(pixel_font_sizes))];
    if (below(2)) {
        // A zone: its size label, its ellipses and its caption. Zones are at least a tenth of
        // the picture on each side; Wine's Arc corrupts the heap when a PS_INSIDEFRAME pen is
        // wider than the ellipse is tall, which tinier ones would run into.
        const uint32_t left = below(reference / 2), top = below(reference / 2);
        const uint32_t right = left + smallest_zone + below(reference / 2);
        const uint32_t bottom = top + smallest_zone + below(reference / 2);
        entry.points = {point(left, top), point(right, top), point(right, bottom),
                        point(left, bottom)};
        entry.highlight = below(2);
        entry.inner_ellipses = below(2);
        entry.ellipse_layout = below(3);
    } else {
        const uint32_t count = 2 + below(5);
        for (uint32_t i = 0; i < count; ++i)
            entry.points.push_back(random_point());
        entry.direction_mark = below(4);
        entry.closed = below(2);
    }
    if (below(2))
        entry.text = words[below(std::size(words))];
    return entry;
}

std::list<overlay_group> overlay_writer::fixed_list()
{
    overlay_entry label;
    label.kind = overlay_kind_text;
    label.points = {point(500, 500)};
    label.text = "cam 12";
    label.font_size = 20;
    label.text_color = 0x00FFFFFF;
    label.border = true;
    label.line_width = 1;

    overlay_entry box;
    box.points = {point(2000, 2000), point(6000, 2000), point(6000, 7000), point(2000, 7000)};
    box.line_color = 0x00FF0000;
    box.line_width = 2;
    box.highlight = true;
    box.font_size = 16;
    box.text = "zone";

    overlay_entry crossing;
    crossing.points = {point(1000, 9000), point(9000, 8000)};
    crossing.line_color = 0x0000FF00;
    crossing.line_width = 3;
    crossing.direction_mark = 3;

    overlay_group group;
    group.id = 1;
    group.entries = {label, box, crossing};
    return {group};
}
