// The GDI overlay renderer on a real device context (a 32-bit DIB section in a memory DC):
// its own point arithmetic, outlines, ellipses, direction marks and GDI+ texts on their
// pixels with and without a zoom, the written-back corner, the log line, the GDI+ start.
#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <thread>
#include <vector>

#include "dc_capture.h"
#include "gdi_mytext.h"
#include "log_capture.h"

namespace {

constexpr int W = 400;
constexpr int H = 300;
constexpr uint32_t green = 0x0000FF00, red = 0x00FF0000, blue = 0x000000FF;

// Figures and texts in window pixels (references 0); texts are white with a blue border.
overlay_entry figure(std::vector<overlay_point> points, uint32_t color, uint32_t width = 1)
{
    overlay_entry entry;
    entry.points = std::move(points);
    entry.line_color = color;
    entry.line_width = width;
    entry.font_size = 20;
    entry.text_color = 0x00FFFFFF;
    return entry;
}
overlay_entry text(overlay_point anchor, const char* words, uint32_t h_align = 0,
                   uint32_t v_align = 0, bool border = false)
{
    overlay_entry entry = figure({anchor}, blue);
    entry.kind = overlay_kind_text;
    entry.text = words;
    entry.h_align = h_align;
    entry.v_align = v_align;
    entry.border = border;
    return entry;
}
std::list<overlay_group> one_group(std::vector<overlay_entry> entries)
{
    std::list<overlay_group> groups(1);
    groups.front().entries = std::move(entries);
    return groups;
}

// Bounding box of the pixels that `wanted` selects; count 0 when there are none.
struct lit_box {
    int left = W, top = H, right = -1, bottom = -1, count = 0;
};
template <typename predicate> lit_box box_where(const captured_picture& shot, predicate wanted)
{
    lit_box box;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            if (wanted(shot.at(x, y)))
                box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
                       std::max(box.bottom, y), box.count + 1};
    return box;
}
lit_box box_of(const captured_picture& shot, uint32_t color)
{
    return box_where(shot, [color](uint32_t pixel) { return pixel == color; });
}
// Smoothed glyphs of white and of red text on black.
bool whitish(uint32_t p)
{
    return (p & 0xFF) > 60 && (p & 0xFF) == (p >> 8 & 0xFF) && (p & 0xFF) == (p >> 16);
}
bool reddish(uint32_t p)
{
    return (p >> 16) > 100 && (p & 0xFFFF) == 0;
}

// A black 400 x 300 picture before every draw, and a renderer initialised on its size.
class gdi_bench : public ::testing::Test {
  protected:
    void SetUp() override
    {
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(info.bmiHeader), W, -H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        ASSERT_TRUE(dc_ && bitmap_ && bits_);
        previous_ = SelectObject(dc_, bitmap_);
        renderer_.init(W, H);
    }
    void TearDown() override
    {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    captured_picture draw(std::list<overlay_group>& groups, const RECT* zoom = nullptr,
                          int ref_width = 0, int ref_height = 0)
    {
        GdiFlush();
        std::fill_n(static_cast<uint32_t*>(bits_), W * H, 0u);
        EXPECT_TRUE(renderer_.draw(dc_, &groups, ref_width, ref_height, zoom));
        return capture_dc(dc_, W, H);
    }
    captured_picture draw(std::vector<overlay_entry> entries, const RECT* zoom = nullptr)
    {
        std::list<overlay_group> groups = one_group(std::move(entries));
        return draw(groups, zoom);
    }

    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
    gdi_mytext renderer_;
};

} // namespace

TEST(gdi_geometry, figure_points_stay_a_third_of_the_pen_inside_the_window)
{
    using gdi_overlay::figure_window_point;
    EXPECT_EQ(figure_window_point({0, 0, 0, 0}, W, H, 9).x, 3);
    EXPECT_EQ(figure_window_point({W, H, 0, 0}, W, H, 9).x, W - 3);
    EXPECT_EQ(figure_window_point({W, H, 0, 0}, W, H, 9).y, H - 3);
    EXPECT_EQ(figure_window_point({0, 0, 0, 0}, W, H, 1).y, 1);
    EXPECT_EQ(figure_window_point({W, 0, 0, 0}, W, H, 10).x, W - 4); // 396.67, truncated
    EXPECT_EQ(figure_window_point({5000, 5000, 10000, 10000}, W, H, 1).x, 200);
    EXPECT_EQ(figure_window_point({4000000000u, 7, 1, 0}, W, H, 1).x, W - 1);
}

TEST(gdi_geometry, short_horizontal_strokes_are_boxes_and_rectangles_may_close)
{
    using gdi_overlay::stroke_for;
    const gdi_overlay::two_point_stroke dash = stroke_for({100, 50}, {104, 50}, 4);
    ASSERT_TRUE(dash.as_box);
    EXPECT_EQ(dash.box.top, 48);
    EXPECT_EQ(dash.box.bottom, 52);
    EXPECT_FALSE(stroke_for({100, 50}, {104, 50}, 2).as_box);
    EXPECT_FALSE(stroke_for({104, 50}, {100, 50}, 4).as_box);
    EXPECT_FALSE(stroke_for({100, 50}, {104, 51}, 4).as_box);

    const POINT box[6] = {{10, 10}, {50, 10}, {50, 30}, {10, 30}, {10, 10}, {10, 10}};
    const POINT diamond[4] = {{0, 10}, {10, 0}, {20, 10}, {10, 20}};
    const POINT not_closed[5] = {{10, 10}, {50, 10}, {50, 30}, {10, 30}, {10, 11}};
    const POINT skewed[4] = {{10, 10}, {50, 10}, {50, 30}, {10, 35}};
    EXPECT_TRUE(gdi_overlay::is_rectangle(box, 4));
    EXPECT_TRUE(gdi_overlay::is_rectangle(box, 5));
    EXPECT_FALSE(gdi_overlay::is_rectangle(box, 6));
    EXPECT_TRUE(gdi_overlay::is_rectangle(diamond, 4));
    EXPECT_FALSE(gdi_overlay::is_rectangle(not_closed, 5));
    EXPECT_FALSE(gdi_overlay::is_rectangle(skewed, 4));
}

TEST(gdi_manager, starts_gdiplus_once_whatever_the_thread_or_renderer)
{
    log_capture logs;
    gdi_manager* seen[8] = {};
    std::vector<std::thread> threads;
    for (gdi_manager*& slot : seen)
        threads.emplace_back([&slot] { slot = gdi_manager::get_instance(); });
    for (std::thread& thread : threads)
        thread.join();
    for (gdi_manager* manager : seen)
        EXPECT_EQ(manager, seen[0]);
    EXPECT_EQ(seen[0]->startup_status(), 0);
    gdi_mytext first;
    gdi_mytext second;
    EXPECT_TRUE(logs.lines().empty());
}

TEST_F(gdi_bench, outlines_land_on_their_pixels_in_their_colours)
{
    // A dash as long as the pen is wide is a 4 x 4 box; with a thinner pen, a line.
    captured_picture shot = draw({figure({{100, 50, 0, 0}, {104, 50, 0, 0}}, 0x00204080, 4)});
    const lit_box dash = box_of(shot, 0x204080);
    EXPECT_EQ(dash.left, 100);
    EXPECT_EQ(dash.top, 48);
    EXPECT_EQ(dash.right, 103);
    EXPECT_EQ(dash.bottom, 51);
    shot = draw({figure({{100, 50, 0, 0}, {104, 50, 0, 0}}, 0x00204080, 2)});
    EXPECT_EQ(shot.at(100, 48), 0u);
    EXPECT_EQ(shot.at(101, 50), 0x204080u);

    // A closed pair stays one line, a closed triangle gains its third side; the top byte of
    // a colour is dropped.
    const std::vector<overlay_point> pair = {{50, 200, 0, 0}, {150, 250, 0, 0}};
    overlay_entry closed_pair = figure(pair, 0x01FF0000);
    closed_pair.closed = true;
    EXPECT_EQ(draw({closed_pair}).pixels, draw({figure(pair, 0x01FF0000)}).pixels);
    EXPECT_GT(box_of(draw({closed_pair}), red).count, 90);
    overlay_entry triangle = figure({{200, 100, 0, 0}, {300, 100, 0, 0}, {300, 200, 0, 0}}, green);
    EXPECT_EQ(draw({triangle}).at(250, 150), 0u);
    triangle.closed = true;
    EXPECT_EQ(draw({triangle}).at(250, 150), green);
}

TEST_F(gdi_bench, pure_red_outlines_are_drawn_last_in_their_group_only)
{
    const std::vector<overlay_point> line = {{100, 100, 0, 0}, {300, 100, 0, 0}};
    overlay_entry other_kind = figure(line, blue, 5);
    other_kind.kind = 2;
    EXPECT_EQ(draw({figure(line, red, 5), figure(line, green, 5), other_kind}).at(200, 100), red);
    EXPECT_EQ(draw({figure(line, 0x01FF0000, 5), figure(line, green, 5)}).at(200, 100), green);
    std::list<overlay_group> groups = one_group({figure(line, red, 5)});
    groups.push_back(one_group({figure(line, green, 5)}).front());
    EXPECT_EQ(draw(groups).at(200, 100), green);
}

TEST_F(gdi_bench, inner_ellipses_follow_their_layout)
{
    overlay_entry box =
        figure({{100, 100, 0, 0}, {220, 100, 0, 0}, {220, 160, 0, 0}, {100, 160, 0, 0}}, green);
    box.inner_ellipses = true;
    const auto lit_near = [](const captured_picture& shot, int x, int y) {
        return shot.at(x - 1, y) == green || shot.at(x, y) == green || shot.at(x + 1, y) == green ||
               shot.at(x, y - 1) == green || shot.at(x, y + 1) == green;
    };
    // Probes inside the box: on the single ellipse's diagonal, where the side-by-side ones
    // touch (x 140 and 180, middle row), where the stacked ones touch (y 120 and 140).
    for (uint32_t layout : {0u, 1u, 2u, 3u}) {
        box.ellipse_layout = layout;
        const captured_picture shot = draw({box});
        EXPECT_EQ(lit_near(shot, 202, 109), layout == 0) << layout;
        EXPECT_EQ(lit_near(shot, 140, 130) && lit_near(shot, 180, 130), layout == 1) << layout;
        EXPECT_EQ(lit_near(shot, 160, 120) && lit_near(shot, 160, 140), layout == 2) << layout;
        EXPECT_EQ(shot.at(160, 130), 0u);
    }
}

// Boxes only a pixel or two high (or wide) under pens far wider than that: GDI's inside-frame
// arithmetic must not be handed a box smaller than the pen (Wine corrupts its heap on it).
TEST_F(gdi_bench, inner_ellipses_of_thin_boxes_under_wide_pens_leave_gdi_intact)
{
    for (uint32_t pen : {2u, 3u, 7u, 40u})
        for (uint32_t layout : {0u, 1u, 2u})
            for (int thin : {1, 2}) {
                overlay_entry flat = figure({{100, 100, 0, 0},
                                             {220, 100, 0, 0},
                                             {220, 100 + uint32_t(thin), 0, 0},
                                             {100, 100 + uint32_t(thin), 0, 0}},
                                            green, pen);
                flat.inner_ellipses = true;
                flat.ellipse_layout = layout;
                overlay_entry narrow = flat;
                for (overlay_point& point : narrow.points)
                    std::swap(point.x, point.y);
                EXPECT_GT(box_of(draw({flat, narrow}), green).count, 0);
            }
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
    // The box itself draws as before.
    const overlay_entry box =
        figure({{100, 100, 0, 0}, {220, 100, 0, 0}, {220, 160, 0, 0}, {100, 160, 0, 0}}, green);
    EXPECT_EQ(draw({box}).at(160, 100), green);
}

TEST_F(gdi_bench, figure_labels_sit_at_the_centre_beside_the_box_or_below_it)
{
    // A triangle given with its first point repeated: centred on its three corners.
    overlay_entry triangle =
        figure({{100, 100, 0, 0}, {220, 100, 0, 0}, {100, 220, 0, 0}, {100, 100, 0, 0}}, green);
    triangle.text = "X";
    const lit_box centre = box_where(draw({triangle}), whitish);
    ASSERT_GT(centre.count, 0);
    EXPECT_NEAR((centre.left + centre.right) / 2.0, 140, 2);
    EXPECT_NEAR((centre.top + centre.bottom) / 2.0, 140, 4);

    // The size label starts 5 pixels beyond the far corner; a skewed box has none.
    overlay_entry box =
        figure({{100, 100, 0, 0}, {220, 100, 0, 0}, {220, 160, 0, 0}, {100, 160, 0, 0}}, green);
    box.highlight = true;
    const lit_box size = box_where(draw({box}), whitish);
    const lit_box same_text = box_where(draw({text({225, 165, 0, 0}, "120*60")}), whitish);
    ASSERT_GT(size.count, 0);
    EXPECT_EQ(size.left, same_text.left);
    EXPECT_EQ(size.top, same_text.top);
    EXPECT_NEAR(size.right, same_text.right, 1);
    box.points[3].y = 180;
    EXPECT_EQ(box_where(draw({box}), whitish).count, 0);

    // With inner ellipses the text is centred under the box, its bottom font_size below.
    box.points[3].y = 160;
    box.highlight = false;
    box.inner_ellipses = true;
    box.text = "ROI";
    const lit_box below = box_where(draw({box}), whitish);
    ASSERT_GT(below.count, 0);
    EXPECT_NEAR((below.left + below.right) / 2.0, 160, 2);
    EXPECT_GT(below.top, 160);
    EXPECT_LE(below.bottom, 180);
}

TEST_F(gdi_bench, direction_marks_show_the_chosen_arrows_and_both_letters)
{
    overlay_entry line = figure({{100, 150, 0, 0}, {300, 150, 0, 0}}, green);
    for (uint32_t mode : {1u, 2u, 3u}) {
        line.direction_mark = mode;
        const captured_picture shot = draw({line});
        EXPECT_EQ(shot.at(199, 138), green) << mode;              // the bar
        EXPECT_EQ(shot.at(190, 138) == green, mode != 1) << mode; // the A arrow's base
        EXPECT_EQ(shot.at(190, 162) == green, mode != 2) << mode; // the B arrow's base
        // The red letters start at the tips, 30 pixels either side of the line.
        const lit_box letters = box_where(shot, reddish);
        EXPECT_NEAR(letters.left, 200, 2) << mode;
        EXPECT_NEAR(letters.top, 120, 4) << mode;
        EXPECT_GT(letters.bottom, 185) << mode;
    }
}

TEST_F(gdi_bench, a_zoom_moves_and_enlarges_figures_and_texts)
{
    // The region (100, 75)-(300, 225) fills the window: everything doubles.
    const RECT region = {100, 75, 300, 225};
    overlay_entry line = figure({{150, 100, 0, 0}, {250, 100, 0, 0}}, green);
    line.text = "M";
    overlay_entry words = text({150, 150, 0, 0}, "Zoom");
    words.text_color = 0x0000FFFF;
    const auto cyanish = [](uint32_t p) { return p >> 16 == 0 && (p & 0xFF) > 60; };
    const lit_box plain = box_where(draw({words}), cyanish);
    const captured_picture shot = draw({line, words}, &region);
    const lit_box stroke = box_of(shot, green);
    EXPECT_EQ(stroke.left, 100);
    EXPECT_EQ(stroke.right, 299);
    EXPECT_EQ(stroke.top, 50);
    EXPECT_EQ(stroke.bottom, 50);
    const lit_box zoomed = box_where(shot, cyanish);
    EXPECT_NEAR(zoomed.left, (plain.left - 100) * 2, 3);
    EXPECT_NEAR(zoomed.top, (plain.top - 75) * 2, 3);
    EXPECT_NEAR(zoomed.right - zoomed.left, (plain.right - plain.left) * 2, 4);
    // The figure's label stays centred on the figure.
    const lit_box label = box_where(shot, whitish);
    ASSERT_GT(label.count, 0);
    EXPECT_NEAR((label.left + label.right) / 2.0, 200, 3);
    EXPECT_NEAR((label.top + label.bottom) / 2.0, 50, 5);
}

TEST_F(gdi_bench, texts_are_placed_by_alignment_margins_and_border)
{
    overlay_point corner = {};
    captured_picture shot;
    const auto place = [&](uint32_t h_align, uint32_t v_align, bool border) {
        std::list<overlay_group> groups =
            one_group({text({200, 150, 0, 0}, "Wg", h_align, v_align, border)});
        shot = draw(groups);
        corner = groups.front().entries[0].points.at(1);
        return box_where(shot, whitish);
    };
    // At the anchor; the corner written back (in window pixels here) closes the text.
    const lit_box plain = place(0, 0, false);
    ASSERT_GT(plain.count, 0);
    EXPECT_NEAR(plain.left, 201, 2);
    EXPECT_NEAR(plain.top, 154, 4);
    EXPECT_NEAR(static_cast<int>(corner.x), plain.right + 1, 2);
    EXPECT_GE(static_cast<int>(corner.y), plain.bottom);
    const int width = static_cast<int>(corner.x) - 200;
    const int height = static_cast<int>(corner.y) - 150;

    // 1 adds a margin only with a border; 2 centres on the anchor.
    EXPECT_EQ(place(1, 1, false).left, plain.left);
    const lit_box after_margin = place(1, 1, true);
    EXPECT_EQ(after_margin.left, plain.left + 4);
    EXPECT_EQ(after_margin.top, plain.top);
    const lit_box centred = place(2, 2, false);
    EXPECT_NEAR(centred.left, plain.left - width / 2, 1);
    EXPECT_NEAR(centred.top, plain.top - height / 2, 1);

    // 3 ends 4 pixels before the anchor, 8 with a border, whose frame runs 2 pixels beyond
    // the text; the bottom margin is 6.
    place(3, 0, false);
    EXPECT_EQ(corner.x, 196u);
    const lit_box framed = place(3, 3, true);
    EXPECT_EQ(corner.x, 192u);
    EXPECT_EQ(corner.y, 144u);
    EXPECT_LE(framed.right, 192);
    const lit_box frame = box_of(shot, blue);
    EXPECT_EQ(frame.right, 194);
    EXPECT_EQ(frame.bottom, 144);
    EXPECT_NEAR(frame.left, 192 - width - 2, 1);
    EXPECT_NEAR(frame.top, 144 - height, 1);
}

TEST_F(gdi_bench, corners_are_written_back_in_the_anchor_space)
{
    // Anchored at the window's centre, ending at right 192 and bottom 144 pixels; in the
    // reference size 800 x 600 with a font of 400/10000 of it, at 304 and 288 of it.
    overlay_entry scaled = text({4000, 5000, 10000, 10000}, "Ab", 3, 3, true);
    scaled.font_size = 400;
    scaled.scale_to_reference = true;
    std::list<overlay_group> groups =
        one_group({text({5000, 5000, 10000, 10000}, "Ab", 3, 3, true),
                   text({5000, 5000, 10000, 10000}, "Ab", 3, 3, true), scaled,
                   text({10001, 0, 10000, 10000}, "Ab"), text({0, 10001, 10000, 10000}, "Ab")});
    std::vector<overlay_entry>& entries = groups.front().entries;
    entries[1].points.push_back({1, 2, 3, 4});
    entries[1].points.push_back({5, 6, 7, 8});
    draw(groups, nullptr, 800, 600);
    const overlay_point appended = entries[0].points.at(1);
    EXPECT_EQ(appended.x, 4800u);
    EXPECT_EQ(appended.y, 4800u);
    EXPECT_EQ(appended.ref_w, 10000u);
    ASSERT_EQ(entries[1].points.size(), 3u);
    EXPECT_EQ(entries[1].points[1].x, 4800u);
    EXPECT_EQ(entries[1].points[2].x, 5u);
    EXPECT_EQ(entries[2].points.at(1).x, 3800u);
    EXPECT_EQ(entries[2].points.at(1).y, 4800u);

    // Anchors beyond the right or bottom edge are neither drawn nor given a corner.
    EXPECT_EQ(entries[3].points.size(), 1u);
    EXPECT_EQ(entries[4].points.size(), 1u);
    entries.erase(entries.begin(), entries.begin() + 3);
    EXPECT_EQ(box_where(draw(groups), [](uint32_t p) { return p != 0; }).count, 0);
}

TEST_F(gdi_bench, draw_needs_a_context_and_logs_each_new_zoom_rectangle_once)
{
    log_capture logs;
    std::list<overlay_group> groups = one_group({figure({{10, 10, 0, 0}, {20, 10, 0, 0}}, red)});
    std::list<overlay_group> none;
    const RECT region = {100, 50, 300, 200};
    const RECT inverted = {300, 50, 100, 200}; // no scale: taken as the whole window
    EXPECT_FALSE(renderer_.draw(nullptr, &groups, 0, 0, nullptr));
    EXPECT_TRUE(renderer_.draw(dc_, &none, 0, 0, &region)); // nothing drawn, nothing applied
    draw(groups);                                           // init set the whole window
    draw(groups, &region);
    draw(groups, &region);
    draw(groups, &inverted);
    draw(groups);
    EXPECT_EQ(logs.texts(),
              (std::vector<std::string>{"dst_rect:[left:100, top:50, right:300, bottom:200]\n",
                                        "dst_rect:[left:0, top:0, right:400, bottom:300]\n"}));
    for (const log_line& line : logs.lines()) {
        EXPECT_EQ(line.level, 3);
        EXPECT_EQ(line.source, "..\\..\\..\\sources\\video_render\\gdi_mytext");
    }
}
