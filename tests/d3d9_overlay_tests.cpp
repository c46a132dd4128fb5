// Overlays on the Direct3D 9 path: the shared drawing rules, the renderer's own geometry, and
// texts read back from the back buffer in the draw callback. Wine's ID3DXLine draws nothing,
// so outlines are checked through the functions that place them.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "d3dx9_render/d3d9_manager.h"
#include "d3dx9_render/d3d_overlay_geometry.h"
#include "dc_capture.h"
#include "fake_dxva2_decoder.h"
#include "kx_vidrender.h"
#include "log_capture.h"
#include "overlay/overlay_rules.h"
#include "test_picture.h"
#include "test_window.h"

namespace {

overlay_entry text_entry(const std::string& text, overlay_point anchor, uint32_t size,
                         uint32_t colour)
{
    overlay_entry entry;
    entry.kind = overlay_kind_text;
    entry.text = text;
    entry.points = {anchor};
    entry.font_size = size;
    entry.text_color = colour;
    return entry;
}

overlay_group group_of(int id, std::vector<overlay_entry> entries)
{
    overlay_group group;
    group.id = id;
    group.entries = std::move(entries);
    return group;
}

struct box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    bool empty() const { return right < 0; }
};

// The bounding box (right and bottom exclusive) of the pixels equal to `colour`, or of all
// non-black pixels with colour 0xFFFFFFFF.
box pixels_of(const captured_picture& shot, uint32_t colour)
{
    box found;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) {
            const uint32_t pixel = shot.at(x, y);
            if (colour == 0xFFFFFFFFu ? pixel == 0 : pixel != colour)
                continue;
            found.left = std::min(found.left, x);
            found.top = std::min(found.top, y);
            found.right = std::max(found.right, x + 1);
            found.bottom = std::max(found.bottom, y + 1);
        }
    return found;
}

} // namespace

TEST(overlay_rules, pure_red_entries_come_last_in_their_group)
{
    std::list<overlay_group> groups;
    std::vector<overlay_entry> first(4), second(2);
    first[0].line_color = 0x00FF0000;
    first[1].line_color = 0x01FF0000; // not exactly pure red: keeps its place
    first[2].line_color = 0x00FF0000;
    first[3].line_color = 0x0000FF00;
    second[0].line_color = 0x00FF0000;
    groups.push_back(group_of(1, first));
    groups.push_back(group_of(2, second));
    int index = 0;
    for (overlay_group& group : groups)
        for (overlay_entry& entry : group.entries)
            entry.font_size = static_cast<uint32_t>(index++);
    std::vector<uint32_t> order;
    overlay_rules::visit_in_drawing_order(
        groups, [&order](overlay_entry& entry) { order.push_back(entry.font_size); });
    EXPECT_EQ(order, (std::vector<uint32_t>{1, 3, 0, 2, 5, 4}));
}

TEST(overlay_rules, corners_margins_and_write_back)
{
    std::vector<overlay_point> triangle = {
        {0, 0, 0, 0}, {10, 0, 0, 0}, {0, 10, 0, 0}, {0, 0, 0, 0}};
    EXPECT_EQ(overlay_rules::distinct_corners(triangle), 3u);
    float x[4] = {1000, 3000, 3000, 1000}, y[4] = {1000, 1000, 2000, 2000};
    EXPECT_TRUE(overlay_rules::right_angled(x, y));
    y[3] = 2500;
    EXPECT_FALSE(overlay_rules::right_angled(x, y));
    EXPECT_EQ(overlay_rules::size_label(200, 100), "200*100");

    overlay_entry entry;
    entry.h_align = 3;
    entry.v_align = 3;
    EXPECT_EQ(overlay_rules::margins_for(entry).horizontal, 4);
    EXPECT_EQ(overlay_rules::margins_for(entry).vertical, 0);
    entry.border = true;
    EXPECT_EQ(overlay_rules::margins_for(entry).horizontal, 8);
    EXPECT_EQ(overlay_rules::margins_for(entry).vertical, 6);
    entry.h_align = 2;
    EXPECT_EQ(overlay_rules::margins_for(entry).horizontal, 0);
    // A right-aligned text of 40 pixels with a border: ends 8 pixels before the anchor.
    EXPECT_EQ(overlay_rules::aligned_start(500, 40, 3, 8), 452);
    EXPECT_EQ(static_cast<int>(overlay_rules::aligned_start(500, 41, 2, 0)), 479);

    entry.points = {{5000, 5000, 10000, 10000}};
    overlay_rules::write_back_corner(entry, 460, 330, 10000, 10000, 800, 600);
    ASSERT_EQ(entry.points.size(), 2u);
    EXPECT_EQ(entry.points[1].x, 10000u * 460 / 800);
    EXPECT_EQ(entry.points[1].y, 10000u * 330 / 600);
    EXPECT_EQ(entry.points[1].ref_w, 10000u);
}

TEST(overlay_rules, the_zoom_stays_finite_for_empty_and_reversed_regions)
{
    const auto zoom = overlay_rules::zoom_for(RECT{100, 50, 500, 350}, 800, 600);
    EXPECT_FLOAT_EQ(zoom.translate_x, -100);
    EXPECT_FLOAT_EQ(zoom.translate_y, -50);
    EXPECT_FLOAT_EQ(zoom.scale_x, 2);
    EXPECT_FLOAT_EQ(zoom.scale_y, 2);

    const auto empty = overlay_rules::zoom_for(RECT{300, 300, 300, 300}, 800, 600);
    EXPECT_FLOAT_EQ(empty.scale_x, 800);
    EXPECT_FLOAT_EQ(empty.scale_y, 600);
    const auto reversed = overlay_rules::zoom_for(RECT{500, 350, 100, 50}, 800, 600);
    EXPECT_GT(reversed.scale_x, 0);
    EXPECT_LT(reversed.scale_x, 1e-6f);
}

TEST(d3d9_overlay_geometry, figure_points_stay_inside_the_window)
{
    const D3DXVECTOR2 left = map_figure_point({0, 0, 0, 0}, 1920, 1080);
    EXPECT_EQ(left.x, 1.0f);
    EXPECT_EQ(left.y, 1.0f);
    const D3DXVECTOR2 right = map_figure_point({10000, 10000, 0, 0}, 1920, 1080);
    EXPECT_EQ(right.x, 1918.0f);
    EXPECT_EQ(right.y, 1078.0f);
    EXPECT_EQ(map_figure_point({5000, 2500, 0, 0}, 1920, 1080).x, 960.0f);
    EXPECT_EQ(map_figure_point({100, 50, 400, 200}, 800, 600).y, 150.0f);
}

TEST(d3d9_overlay_geometry, ellipses_and_their_layouts)
{
    const auto outline = ellipse_outline(D3DXVECTOR2(100, 50), 20, 10);
    EXPECT_FLOAT_EQ(outline[0].x, 100.0f);
    EXPECT_FLOAT_EQ(outline[0].y, 60.0f);
    EXPECT_NEAR(outline[18].x, 120.0f, 1e-4); // 90 degrees
    EXPECT_NEAR(outline[36].y, 40.0f, 1e-4);
    EXPECT_EQ(outline[72].x, outline[0].x);

    const D3DXVECTOR2 max(160, 80), min(100, 20);
    const auto one = inner_ellipse_layout(0, max, min);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_FLOAT_EQ(one[0].centre.x, 130.0f);
    EXPECT_FLOAT_EQ(one[0].ry, 30.0f);
    const auto side = inner_ellipse_layout(1, max, min);
    ASSERT_EQ(side.size(), 3u);
    EXPECT_FLOAT_EQ(side[0].rx, 10.0f);
    EXPECT_FLOAT_EQ(side[2].centre.x, 150.0f);
    const auto stacked = inner_ellipse_layout(2, max, min);
    EXPECT_FLOAT_EQ(stacked[1].centre.y, 50.0f);
    EXPECT_TRUE(inner_ellipse_layout(3, max, min).empty());
}

TEST(d3d9_overlay_geometry, the_direction_mark_stands_across_its_line)
{
    // A line going right: the local x axis points down, so B lies below the line.
    const D3DXMATRIX frame = direction_mark_frame(D3DXVECTOR2(200, 100), D3DXVECTOR2(50, 0));
    D3DXVECTOR2 tip_b, tip_a;
    const D3DXVECTOR2 local_b(overlay_rules::mark_tip_b.x, overlay_rules::mark_tip_b.y);
    const D3DXVECTOR2 local_a(overlay_rules::mark_tip_a.x, overlay_rules::mark_tip_a.y);
    D3DXVec2TransformCoord(&tip_b, &local_b, &frame);
    D3DXVec2TransformCoord(&tip_a, &local_a, &frame);
    EXPECT_NEAR(tip_b.x, 200.0f, 1e-3);
    EXPECT_NEAR(tip_b.y, 130.0f, 1e-3);
    EXPECT_NEAR(tip_a.y, 70.0f, 1e-3);
}

TEST(d3d9_overlay_geometry, the_white_bitmap_is_a_plain_24_bit_file)
{
    const std::vector<uint8_t> file = white_bitmap_file();
    ASSERT_EQ(file.size(), 15894u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(file[10], 54);
    EXPECT_EQ(file[18], 240);
    EXPECT_EQ(file[22], 22);
    EXPECT_EQ(file[28], 24);
    EXPECT_EQ(file[54], 0xFF);
    EXPECT_EQ(file.back(), 0xFF);
}

namespace {

uint32_t black(int, int)
{
    return 0;
}

// Texts need a device that offers managed textures (D3DX keeps glyphs in them), so they are
// drawn here on a decoder's plain Direct3D 9 device, the DXVA2 path.
class d3d9_overlays : public ::testing::Test {
  protected:
    void start(int width, int height)
    {
        ASSERT_TRUE(decoder_.ready());
        surface_ = decoder_.make_surface(width, height, black);
        window_ = std::make_unique<test_window>(width, height);
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_dxva2_vld);
        ASSERT_TRUE(
            renderer_->init_vrender(window_->handle(), width, height, decoder_.codec_context()));
        capture_.width = width;
        capture_.height = height;
        renderer_->set_draw_callback(capture_callback, 0, &capture_);
    }

    void TearDown() override
    {
        if (renderer_)
            kx_vidrender::destroy_vrender(renderer_);
        if (surface_)
            surface_->Release();
    }

    void draw()
    {
        AVFrame frame = decoder_.frame_of(surface_);
        renderer_->render_frame(&frame, capture_.width, capture_.height);
    }

    fake_dxva2_decoder decoder_;
    IDirect3DSurface9* surface_ = nullptr;
    std::unique_ptr<test_window> window_;
    kx_vidrender* renderer_ = nullptr;
    frame_capture capture_;
};

} // namespace

TEST_F(d3d9_overlays, a_text_lands_where_it_is_laid_out)
{
    start(400, 300);
    renderer_->set_overlay_list(
        {group_of(7, {text_entry("Camera 7", {100, 80, 400, 300}, 24, 0x00FFFFFF)})});
    draw();
    overlay_rect rect = {};
    ASSERT_TRUE(renderer_->get_overlay_rect(7, &rect));
    EXPECT_EQ(rect.left, 100);
    EXPECT_EQ(rect.top, 80);
    EXPECT_GT(rect.right, 130);
    EXPECT_GT(rect.bottom, 95);
    const box lit = pixels_of(capture_.last, 0xFFFFFFFFu);
    ASSERT_FALSE(lit.empty());
    EXPECT_GE(lit.left, rect.left);
    EXPECT_LE(lit.left, rect.left + 4);
    EXPECT_GE(lit.top, rect.top);
    EXPECT_LE(lit.right, rect.right);
    EXPECT_LE(lit.bottom, rect.bottom);
}

TEST_F(d3d9_overlays, alignment_and_margins_move_the_text)
{
    start(400, 300);
    overlay_entry right = text_entry("Right", {300, 200, 400, 300}, 20, 0x0000FF00);
    right.h_align = 3;
    right.v_align = 3;
    right.border = true;
    renderer_->set_overlay_list({group_of(1, {right})});
    draw();
    overlay_rect rect = {};
    ASSERT_TRUE(renderer_->get_overlay_rect(1, &rect));
    // Right edge 8 pixels before the anchor, bottom edge 6 pixels above it.
    EXPECT_EQ(rect.right, 292);
    EXPECT_EQ(rect.bottom, 194);
    const box lit = pixels_of(capture_.last, 0xFFFFFFFFu);
    ASSERT_FALSE(lit.empty());
    EXPECT_LE(lit.right, 292);
    EXPECT_LE(lit.bottom, 194);
}

TEST_F(d3d9_overlays, a_highlighted_text_sits_on_a_box_of_its_measured_size)
{
    start(400, 300);
    overlay_entry entry = text_entry("Zone A", {60, 40, 400, 300}, 22, 0x00FFFFFF);
    entry.highlight = true;
    renderer_->set_overlay_list({group_of(3, {entry})});
    draw();
    overlay_rect rect = {};
    ASSERT_TRUE(renderer_->get_overlay_rect(3, &rect));
    const box background = pixels_of(capture_.last, 0x0058582Cu);
    ASSERT_FALSE(background.empty());
    EXPECT_EQ(background.left, rect.left);
    EXPECT_EQ(background.top, rect.top);
    EXPECT_EQ(background.right, rect.right);
    EXPECT_EQ(background.bottom, rect.bottom);
}

TEST_F(d3d9_overlays, texts_outside_the_window_are_neither_drawn_nor_laid_out)
{
    start(400, 300);
    // With no reference a text anchor is in window pixels: 5000 lies far outside.
    renderer_->set_overlay_list(
        {group_of(4, {text_entry("gone", {5000, 10, 0, 0}, 20, 0x00FFFFFF)})});
    draw();
    EXPECT_TRUE(pixels_of(capture_.last, 0xFFFFFFFFu).empty());
    overlay_rect rect = {};
    EXPECT_FALSE(renderer_->get_overlay_rect(4, &rect));
}

TEST_F(d3d9_overlays, normalised_texts_write_back_their_corner)
{
    start(800, 600);
    renderer_->set_overlay_list(
        {group_of(5, {text_entry("Door", {5000, 5000, 10000, 10000}, 20, 0x00FFFF00)})});
    draw();
    overlay_rect rect = {};
    ASSERT_TRUE(renderer_->get_overlay_rect(5, &rect));
    EXPECT_EQ(rect.left, 400);
    EXPECT_EQ(rect.top, 300);
    // The corner went through 10000ths and back: within a pixel of the laid-out text.
    const box lit = pixels_of(capture_.last, 0xFFFFFFFFu);
    ASSERT_FALSE(lit.empty());
    EXPECT_LE(lit.right, rect.right + 1);
    EXPECT_LE(lit.bottom, rect.bottom + 1);
}

TEST(d3d9_overlay_renderer, fonts_are_shared_by_height_and_zoom_changes_are_logged_once)
{
    fake_dxva2_decoder decoder;
    ASSERT_TRUE(decoder.ready());
    test_window window(400, 300);
    d3d9_manager manager;
    ASSERT_TRUE(manager.init_render(window.handle(), 400, 300, 400, 300, decoder.codec_context()));
    log_capture logs;
    std::list<overlay_group> groups = {
        group_of(1, {text_entry("one", {10, 10, 0, 0}, 20, 0xFFFFFF),
                     text_entry("two", {10, 40, 0, 0}, 20, 0xFFFFFF),
                     text_entry("three", {10, 80, 0, 0}, 30, 0xFFFFFF)})};
    for (int frame = 0; frame < 3; ++frame) {
        manager.begin_render(true, 0xFF000000);
        manager.draw_overlays(&groups, 400, 300, nullptr);
        manager.present(nullptr, nullptr);
    }
    EXPECT_EQ(manager.overlay_renderer().cached_fonts(), 2u);
    EXPECT_TRUE(logs.lines().empty());

    RECT zoom = {100, 50, 300, 250};
    for (int frame = 0; frame < 3; ++frame)
        manager.draw_overlays(&groups, 400, 300, &zoom);
    manager.draw_overlays(&groups, 400, 300, nullptr);
    EXPECT_EQ(logs.texts(),
              (std::vector<std::string>{"dst_rect:[left:100, top:50, right:300, bottom:250]\n",
                                        "dst_rect:[left:0, top:0, right:400, bottom:300]\n"}));
    EXPECT_EQ(logs.lines()[0].source,
              "..\\..\\..\\sources\\video_render\\d3dx9_render\\d3d_mytext");
}

TEST(d3d9_overlay_renderer, an_ex_device_skips_texts_and_says_so_once)
{
    test_window window(400, 300);
    log_capture logs;
    d3d9_manager manager;
    ASSERT_TRUE(manager.init_render(window.handle(), 400, 300, 400, 300, nullptr));
    std::list<overlay_group> groups = {group_of(1, {text_entry("one", {10, 10, 0, 0}, 20, 1)})};
    overlay_entry figure;
    figure.points = {
        {1000, 1000, 0, 0}, {3000, 1000, 0, 0}, {3000, 2000, 0, 0}, {1000, 2000, 0, 0}};
    figure.highlight = true;
    figure.inner_ellipses = true;
    figure.text = "box";
    groups.front().entries.push_back(figure);
    for (int frame = 0; frame < 2; ++frame) {
        manager.begin_render(true, 0xFF000000);
        EXPECT_TRUE(manager.draw_overlays(&groups, 400, 300, nullptr));
        manager.present(nullptr, nullptr);
    }
    EXPECT_EQ(manager.overlay_renderer().cached_fonts(), 0u);
    EXPECT_EQ(logs.count(3, "overlay texts need D3DX managed textures, which this device "
                            "does not offer: texts are not drawn\n"),
              1);
    EXPECT_EQ(groups.front().entries[0].points.size(), 1u);
}
