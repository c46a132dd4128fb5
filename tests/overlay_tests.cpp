// Overlay scenes on Direct3D 9 (software frames, DXVA2 surfaces) through the public interface
// must cover the places the GDI renderer covers, colour by colour, within two pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "dc_capture.h"
#include "fake_dxva2_decoder.h"
#include "gdi_mytext.h"
#include "kx_vidrender.h"
#include "log_capture.h"
#include "test_picture.h"
#include "test_window.h"

namespace {

// A 640 x 480 picture (the reference size) shown in a 320 x 240 window.
constexpr int window_w = 320, window_h = 240, picture_w = 640, picture_h = 480;
constexpr uint32_t white = 0xFFFFFF, green = 0x00FF00, cyan = 0x00FFFF, yellow = 0xFFFF00,
                   magenta = 0xFF00FF, blue = 0x4040FF, red = 0xFF0000, highlight = 0x58582C;

// Points in ten-thousandths of the window, which both renderers map alike; a text at one.
using points = std::vector<std::pair<uint32_t, uint32_t>>;
overlay_entry entry(points at, uint32_t colour, uint32_t width, const char* words = "")
{
    overlay_entry e;
    for (const auto& point : at)
        e.points.push_back({point.first, point.second, 10000, 10000});
    e.kind = at.size() == 1 ? overlay_kind_text : overlay_kind_figure;
    e.line_color = colour;
    e.line_width = width;
    e.text = words;
    e.text_color = white;
    e.font_size = 14 + 2 * e.kind;
    return e;
}

struct scene {
    const char* name;
    std::vector<overlay_entry> entries; // one group each
    std::vector<uint32_t> colours;      // those of outlines first
    size_t outline_colours;
    bool zoomed;
};

std::vector<scene> scenes()
{
    overlay_entry box = entry({{1000, 1000}, {4000, 1000}, {4000, 4000}, {1000, 4000}}, green, 2);
    overlay_entry open = entry({{5000, 1500}, {9000, 2500}, {6000, 4500}}, blue, 3, "P");
    overlay_entry crossing = entry({{1000, 5500}, {4000, 9000}}, cyan, 2);
    overlay_entry across = entry({{5500, 6000}, {9000, 6000}}, magenta, 2);
    overlay_entry boxed = entry({{100, 9200}}, 0, 1, "Box"),
                  scaled = entry({{6000, 6000}}, green, 1, "Ref");
    box.closed = box.highlight = boxed.highlight = true;
    crossing.direction_mark = 1;
    across.direction_mark = 2;
    scaled.scale_to_reference = scaled.border = true;
    scaled.h_align = scaled.v_align = 3;
    scaled.font_size = 700; // 33 reference pixels: 16 on the screen
    scaled.text_color = cyan;
    std::vector<overlay_entry> zones, aligned = {boxed, scaled};
    for (uint32_t layout = 0, x = 500; layout < 3; ++layout, x += 3200) {
        const uint32_t y = layout == 1 ? 5000 : 800;
        zones.push_back(entry({{x, y}, {x + 2800, y}, {x + 2800, y + 3400}, {x, y + 3400}},
                              layout == 1 ? yellow : cyan, 2, "Zone"));
        zones.back().closed = zones.back().inner_ellipses = true;
        zones.back().ellipse_layout = layout;
    }
    for (uint32_t i = 0; i < 16; ++i) {
        aligned.push_back(entry({{1250 + i % 4 * 2500, 1250 + i / 4 * 2500}}, green, 1, "Ab"));
        aligned.back().h_align = i % 4;
        aligned.back().v_align = i / 4;
        aligned.back().border = i % 2;
    }
    // Boxes thinner than the pen: Wine's GDI corrupts its heap on ellipses smaller than it.
    std::vector<overlay_entry> thin;
    for (uint32_t i = 0, a = 500, b = 542; i < 12; ++i, a += 700, b = a + 42 * (1 + i % 2)) {
        thin.push_back(entry(i % 2 ? points{{1250, a}, {6250, a}, {6250, b}, {1250, b}}
                                   : points{{a, 1500}, {a, 8500}, {b, 8500}, {b, 1500}},
                             green, i < 6 ? 40 : 3));
        thin.back().inner_ellipses = true;
        thin.back().ellipse_layout = i % 3;
    }
    // Not zoomed: size labels and direction marks, which GDI sizes in zoomed pixels.
    const std::vector<overlay_entry> figures = {box, open, crossing, across};
    return {{"figures", figures, {green, blue, cyan, magenta, red, white}, 4, false},
            {"inner_ellipses", zones, {cyan, yellow, white}, 2, false},
            {"texts", aligned, {green, white, cyan}, 1, false},
            {"zoomed", {zones[1], open, scaled}, {yellow, blue, green, white, cyan}, 3, true},
            {"thin_boxes", thin, {}, 0, false}};
}

std::list<overlay_group> groups_of(const scene& s)
{
    std::list<overlay_group> groups;
    for (const overlay_entry& e : s.entries)
        groups.push_back(overlay_group{{e}, 0, 0, static_cast<int32_t>(groups.size() + 1)});
    return groups;
}

struct shown {
    captured_picture picture;
    std::vector<POINT> corners; // of each group's first entry, written back without the zoom
    bool own_texts;
};

shown drawn_by_gdi(const scene& s)
{
    HDC screen = GetDC(nullptr), dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, window_w, window_h);
    ReleaseDC(nullptr, screen);
    SelectObject(dc, bitmap);
    PatBlt(dc, 0, 0, window_w, window_h, BLACKNESS);
    gdi_mytext renderer;
    renderer.init(window_w, window_h);
    const RECT area = {window_w / 4, window_h / 4, window_w * 3 / 4, window_h * 3 / 4};
    std::list<overlay_group> groups = groups_of(s);
    renderer.draw(dc, &groups, picture_w, picture_h, s.zoomed ? &area : nullptr);
    GdiFlush();
    shown result = {capture_dc(dc, window_w, window_h), {}, true};
    renderer.draw(dc, &groups, picture_w, picture_h, nullptr);
    for (const overlay_group& group : groups)
        result.corners.push_back({LONG(group.entries[0].points[1].x * window_w / 10000),
                                  LONG(group.entries[0].points[1].y * window_h / 10000)});
    DeleteDC(dc);
    DeleteObject(bitmap);
    return result;
}

shown drawn_on_d3d9(const scene& s, bool dxva2)
{
    test_window window(window_w, window_h);
    fake_dxva2_decoder decoder;
    test_picture picture(picture_w, picture_h, 16, 128, 128);
    IDirect3DSurface9* surface =
        dxva2 ? decoder.make_surface(picture_w, picture_h, [](int, int) { return 0u; }) : nullptr;
    const bool d3dx_present = LoadLibraryA("d3dx9_43.dll") != nullptr;
    log_capture logs;
    kx_vidrender* renderer =
        kx_vidrender::create_vrender(dxva2 ? kx_pix_fmt_dxva2_vld : kx_pix_fmt_yuv420p);
    EXPECT_TRUE(renderer->init_vrender(window.handle(), picture_w, picture_h,
                                       dxva2 ? decoder.codec_context() : nullptr));
    EXPECT_EQ(logs.count(3, "d3dx9_43.dll is missing: overlays are drawn without D3DX\n"),
              d3dx_present ? 0 : 1);
    frame_capture capture = {window_w, window_h, 0, {}};
    renderer->set_draw_callback(capture_callback, 0, &capture);
    renderer->set_overlay_list(groups_of(s));
    const display_region region = {1, 0, 2500, 7500, 2500, 7500, 0, 0};
    if (s.zoomed)
        renderer->set_display_region(&region);
    AVFrame frame = dxva2 ? decoder.frame_of(surface) : picture.frame;
    renderer->render_frame(&frame, picture_w, picture_h);
    shown result = {capture.last,
                    {},
                    !d3dx_present ||
                        logs.count(3, "overlay texts are drawn without D3DX on this device\n")};
    for (int id = 1; id <= int(s.entries.size()); ++id) {
        overlay_rect r = {};
        renderer->get_overlay_rect(id, &r);
        result.corners.push_back({r.right, r.bottom});
    }
    kx_vidrender::destroy_vrender(renderer);
    if (surface)
        surface->Release();
    return result;
}

// The smaller of the shares of either picture's pixels in the colour that have one of the
// other's within two pixels.
double agreement(const captured_picture& a, const captured_picture& b, uint32_t colour)
{
    // Each channel on the colour's side of half: edges blended at half or more count.
    const auto in_colour = [colour](uint32_t pixel) { return ((pixel ^ colour) & 0x808080) == 0; };
    const auto share = [&](const captured_picture& from, const captured_picture& to) {
        int count = 0, matched = 0;
        for (int y = 0; y < window_h; ++y)
            for (int x = 0; x < window_w; ++x) {
                if (!in_colour(from.at(x, y)))
                    continue;
                bool found = false;
                for (int v = std::max(0, y - 2); v <= std::min(window_h - 1, y + 2); ++v)
                    for (int u = std::max(0, x - 2); u <= std::min(window_w - 1, x + 2); ++u)
                        found = found || in_colour(to.at(u, v));
                ++count;
                matched += found;
            }
        return count ? double(matched) / count : 0.0;
    };
    return std::min(share(a, b), share(b, a));
}

class overlays : public ::testing::TestWithParam<bool> {};

} // namespace

TEST_P(overlays, land_where_the_gdi_renderer_puts_them_in_their_colours)
{
    for (const scene& s : scenes()) {
        const shown want = drawn_by_gdi(s), seen = drawn_on_d3d9(s, GetParam());
        // Wine's D3DX fonts space and clip glyphs their own way: there texts are laid out only.
        const size_t checked = seen.own_texts ? s.colours.size() : s.outline_colours;
        for (size_t i = 0; i < checked; ++i)
            EXPECT_GT(agreement(want.picture, seen.picture, s.colours[i]), 0.85) << s.name << i;
        for (size_t i = 0; i < s.entries.size(); ++i) {
            const POINT w = want.corners[i], g = seen.corners[i];
            EXPECT_TRUE(std::abs(g.x - w.x) <= 2 && std::abs(g.y - w.y) <= 2) << s.name << i;
            const overlay_point& p = s.entries[i].points[0];
            const LONG left = LONG(p.x * window_w / 10000), top = LONG(p.y * window_h / 10000);
            // The highlight box lies exactly under the text (GDI draws none).
            EXPECT_TRUE(!s.entries[i].kind || !s.entries[i].highlight ||
                        (seen.picture.at(left, top) == highlight &&
                         seen.picture.at(w.x - 1, w.y - 1) == highlight &&
                         seen.picture.at(left - 2, top) != highlight));
            EXPECT_TRUE(!s.colours.empty() ||
                        want.picture.at(LONG(p.x + s.entries[i].points[2].x) * window_w / 20000,
                                        top) == green);
        }
    }
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}

INSTANTIATE_TEST_SUITE_P(d3d9, overlays, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "dxva2" : "software"; });
