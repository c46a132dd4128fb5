// The drawing rules of the overlay list that both overlay renderers (Direct3D 9 and GDI)
// follow, as plain functions. Where the two renderers differ on purpose (rounding, clamping,
// default references, how the zoom is applied) they keep their own arithmetic.
#pragma once

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "../kx_vidrender.h"

namespace overlay_rules {

// The library's own normalised space: 0..10000 across the window.
constexpr uint32_t normalised_units = 10000;
// An outline in this exact colour is drawn after the rest of its group.
constexpr uint32_t second_pass_color = 0x00FF0000;
// The face of every overlay text.
constexpr char font_face[] = "Microsoft YaHei";
static_assert(sizeof(font_face) <= LF_FACESIZE, "the face name fits a font description");
// The letters A and B of a direction mark: opaque red, whatever the mark's colour.
constexpr uint32_t mark_letter_argb = 0xFFFF0000;
// A figure draws at most this many points; the rest of a longer one is left out, also from
// its centre and corner count.
constexpr size_t max_figure_points = 98;

inline bool in_second_pass(const overlay_entry& entry)
{
    return entry.line_color == second_pass_color;
}

// Visits every entry in drawing order: groups in list order; within a group first the
// entries that are not pure red, then the pure red ones, each pass in vector order.
template <typename visitor>
void visit_in_drawing_order(std::list<overlay_group>& groups, visitor&& visit)
{
    for (overlay_group& group : groups) {
        for (overlay_entry& entry : group.entries)
            if (!in_second_pass(entry))
                visit(entry);
        for (overlay_entry& entry : group.entries)
            if (in_second_pass(entry))
                visit(entry);
    }
}

inline uint32_t reference_or(uint32_t reference, uint32_t fallback)
{
    return reference != 0 ? reference : fallback;
}

// The number of distinct corners of a figure: a last point equal to the first closes the
// figure and does not count.
inline size_t distinct_corners(const std::vector<overlay_point>& points)
{
    const size_t n = points.size();
    if (n >= 2 && points[0].x == points[n - 1].x && points[0].y == points[n - 1].y)
        return n - 1;
    return n;
}

// Whether four corners, in order, meet at right angles: every pair of consecutive edges has
// a zero dot product.
template <typename number> bool right_angled(const number (&x)[4], const number (&y)[4])
{
    for (int i = 0; i < 4; ++i) {
        const int j = (i + 1) % 4;
        const int k = (i + 2) % 4;
        const number ax = x[j] - x[i], ay = y[j] - y[i];
        const number bx = x[k] - x[j], by = y[k] - y[j];
        if (ax * bx + ay * by != 0)
            return false;
    }
    return true;
}

// The text in UTF-16 from the system's code page, as D3DX and GDI+ take it; empty when it
// cannot be converted.
std::wstring to_wide(const std::string& text);

// The size label of a rectangle: "width*height".
std::string size_label(long width, long height);

// Margins around a placed text, before any scaling to the reference size.
struct text_margins {
    int horizontal;
    int vertical;
};
text_margins margins_for(const overlay_entry& entry);
// The margins of a text laid out in the reference size and then scaled to the window: each
// multiplied by reference / window (truncated), so that they keep their size on the screen.
text_margins scaled_margins(text_margins margins, uint32_t ref_width, uint32_t ref_height,
                            uint32_t width, uint32_t height);

// The leading edge of a text of `extent` placed at `anchor` by an alignment value: 0 at the
// anchor, 1 after the margin, 2 centred, 3 ending the margin before the anchor.
double aligned_start(double anchor, double extent, uint32_t align, double margin);

// Label flags: 1 centre horizontally, else 2 right edge at the anchor; 4 centre vertically,
// else 8 bottom edge at the anchor.
enum label_flags : int {
    label_centre = 1,
    label_right = 2,
    label_middle = 4,
    label_bottom = 8,
};

// Moves a label's top-left corner by its measured size as the flags say.
template <typename number>
void shift_for_flags(number& x, number& y, number width, number height, int flags)
{
    if (flags & label_centre)
        x -= width / 2;
    else if (flags & label_right)
        x -= width;
    if (flags & label_middle)
        y -= height / 2;
    else if (flags & label_bottom)
        y -= height;
}

// Stores the laid-out bottom-right corner of a text in points[1] (appending it when the
// entry has one point), in the references the anchor was mapped with. `space_width` and
// `space_height` are the size the anchor was mapped into.
void write_back_corner(overlay_entry& entry, uint32_t right, uint32_t bottom, uint32_t rw,
                       uint32_t rh, uint32_t space_width, uint32_t space_height);

// The zoom that enlarges the display region to the window: a window point p becomes
// ((p.x + translate_x) * scale_x, (p.y + translate_y) * scale_y).
struct zoom_transform {
    float translate_x;
    float translate_y;
    float scale_x;
    float scale_y;
};
zoom_transform zoom_for(const RECT& region, uint32_t width, uint32_t height);

// Local shapes of the direction mark, in a frame whose x axis runs across the line and whose
// origin is the line's midpoint: the bar, the A arrow and the B arrow, and the letter tips.
struct mark_point {
    float x, y;
};
constexpr mark_point mark_bar[5] = {{-12, -3}, {12, -3}, {12, 3}, {-12, 3}, {-12, -3}};
constexpr mark_point mark_arrow_a[4] = {{-12, -12}, {-12, 12}, {-30, 0}, {-12, -12}};
constexpr mark_point mark_arrow_b[4] = {{12, -12}, {12, 12}, {30, 0}, {12, -12}};
constexpr mark_point mark_tip_a = {-30, 0};
constexpr mark_point mark_tip_b = {30, 0};

inline bool draws_arrow_a(uint32_t mode)
{
    return mode == 2 || mode == 3;
}

inline bool draws_arrow_b(uint32_t mode)
{
    return mode == 1 || mode == 3;
}

} // namespace overlay_rules
