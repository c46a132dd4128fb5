// Surface loss on the DirectDraw backend, many times over, through the public interface: the
// primary, copy and back surfaces are lost before a frame or at a chosen use inside one, their
// Restore fails for a while, and device contexts are refused. Every frame is checked against
// a walk of the frame path: the lines logged, whether the frame was dropped, whether the
// callback got a device context, and the pixel that reached the window on the screen. Nothing
// may be made again, and nothing may be left held.
#include <gtest/gtest.h>

#include <libyuv/convert_argb.h>

#include <array>
#include <cstdio>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "ddraw_d3d11_storm.h"
#include "ddraw_fault_objects.h"
#include "ddraw_render/rgb_adjust.h"
#include "kx_vidrender.h"
#include "test_picture.h"
#include "test_window.h"

namespace {

using adjust4 = std::array<int, 4>;
constexpr adjust4 neutral = {50, 50, 50, 50};
constexpr adjust4 adjusted = {60, 45, 70, 40};
constexpr int window_w = 160;
constexpr int window_h = 120;
// The pixel watched on the screen: the window sits at the origin, the overlay box is far off.
constexpr int watch_x = 6;
constexpr int watch_y = 5;
constexpr uint32_t sentinel = 0x123456;

const int roles[] = {ddraw_manager::surface_primary, ddraw_manager::surface_copy,
                     ddraw_manager::surface_back};

// 0x00RRGGBB of a flat grey picture after the conversion and the adjustment.
uint32_t colour_of(uint8_t luma, const adjust4& adjust)
{
    test_picture picture(2, 2, luma, 128, 128);
    uint32_t pixels[4] = {};
    libyuv::I420ToARGBMatrix(picture.y_plane.data(), 2, picture.u_plane.data(), 1,
                             picture.v_plane.data(), 1, reinterpret_cast<uint8_t*>(pixels), 8,
                             &libyuv::kYuvI601Constants, 2, 2);
    rgb_adjust::apply_plain(reinterpret_cast<uint8_t*>(pixels), 2, 2, 8,
                            rgb_adjust::make_params(adjust.data(), rgb_adjust::make_hue_turns()));
    return pixels[0] & 0xFFFFFF;
}

// What the test sees of one surface, before and after a frame.
struct surface_shadow {
    bool lost = false;
    int lose_after_uses = -1;
    HRESULT restore_result = DD_OK;

    bool use()
    {
        if (lose_after_uses > 0 && --lose_after_uses == 0)
            lost = true;
        return lost;
    }
    HRESULT restore()
    {
        if (!lost)
            return DD_OK;
        lost = restore_result != DD_OK;
        return restore_result;
    }
    bool operator==(const surface_shadow& other) const
    {
        return lost == other.lost && lose_after_uses == other.lose_after_uses;
    }
};

// The outcome of one frame.
struct frame_outcome {
    std::vector<std::string> lines;
    bool dropped = false;
    bool callback = false;
    bool dc = false;
    bool presented = false;
};

// Walks one frame of the DirectDraw path over the shadows: the surface state of the backend
// (0 or -1), the colour its back surface holds, and what the frame shows.
class frame_walk {
  public:
    int state = 0;
    uint32_t back_colour = 0;

    frame_outcome walk(std::array<surface_shadow, 3>& s, uint32_t picture, uint32_t unadjusted,
                       bool adjusting, bool refuse_dc)
    {
        surface_shadow& primary = s[ddraw_manager::surface_primary];
        surface_shadow& copy = s[ddraw_manager::surface_copy];
        surface_shadow& back = s[ddraw_manager::surface_back];
        frame_outcome out;
        const std::string lost = code_text(DDERR_SURFACELOST);
        if (state == -1) {
            copy.restore();
            back.restore();
            if (primary.restore() == DD_OK)
                state = 0;
        }
        if (state == -1) {
            out.dropped = true;
            return out;
        }
        if (copy.use()) {
            fail(out, "1 Lock yuv_offscreen_surface_ error!result:" + lost + "\n");
        } else {
            const bool target_lost = back.use();
            const bool source_lost = copy.use();
            if (target_lost || source_lost) {
                fail(out, "1 Blt rgb_offscreen_surface_ error!result:" + lost + "\n");
            } else {
                back_colour = unadjusted;
                if (adjusting && back.use())
                    fail(out, "1 Lock rgb_offscreen_surface_ error!result:" + lost + "\n");
                else
                    back_colour = picture;
            }
        }
        back.use(); // the lock of the overlay step, whose result is not looked at
        out.callback = true;
        out.dc = !back.use() && !refuse_dc;
        const bool target_lost = primary.use();
        const bool source_lost = back.use();
        if (target_lost || source_lost)
            fail(out, "3 Blt main_surface_ failed with 887601c2\n");
        else
            out.presented = true;
        return out;
    }

  private:
    void fail(frame_outcome& out, const std::string& line)
    {
        state = -1;
        out.lines.push_back(line);
    }
};

struct callback_record {
    int calls = 0;
    int without_dc = 0;
};

void count_callback(void* context, int, void* record)
{
    auto* calls = static_cast<callback_record*>(record);
    ++calls->calls;
    if (!context)
        ++calls->without_dc;
}

std::list<overlay_group> one_box()
{
    overlay_entry box;
    box.points = {{60, 40, 0, 0}, {140, 40, 0, 0}, {140, 100, 0, 0}, {60, 100, 0, 0}};
    box.closed = true;
    box.line_width = 3;
    box.line_color = 0x00FF00;
    overlay_group group;
    group.entries.push_back(box);
    return {group};
}

class ddraw_surface_storm : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(ddraw_.ready()) << "DirectDrawCreate is not imported by the test program";
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
        ASSERT_TRUE(renderer_->init_vrender(window_.handle(), window_w, window_h, nullptr));
        renderer_->set_draw_callback(count_callback, 0, &calls_);
        renderer_->set_overlay_list(one_box());
        for (int role : roles) {
            ASSERT_NE(surfaces_[role], nullptr);
            made_[role] = surfaces_[role];
        }
    }

    void TearDown() override
    {
        if (renderer_)
            kx_vidrender::destroy_vrender(renderer_);
        EXPECT_EQ(fault_surface::live_count(), 0u);
        EXPECT_EQ(ddraw_interception::wrappers_alive(), 0);
    }

    IDirectDrawSurface2* real_primary() const
    {
        return fault_surface::unwrap(surfaces_[ddraw_manager::surface_primary]);
    }

    // The watched pixel of the screen, 0x00RRGGBB; `value` is written there first when given.
    uint32_t screen_pixel(const uint32_t* value = nullptr) const
    {
        IDirectDrawSurface2* primary = real_primary();
        DDSURFACEDESC locked = surface_description(primary);
        if (FAILED(primary->Lock(nullptr, &locked, DDLOCK_WAIT, nullptr)))
            return 0xFFFFFFFF;
        auto* pixel =
            static_cast<uint32_t*>(locked.lpSurface) + watch_y * locked.lPitch / 4 + watch_x;
        if (value)
            *pixel = *value;
        const uint32_t read = *pixel & 0xFFFFFF;
        primary->Unlock(nullptr);
        return read;
    }

    std::array<surface_shadow, 3> shadows() const
    {
        std::array<surface_shadow, 3> s;
        for (int role : roles)
            s[role] = {surfaces_[role]->lost, surfaces_[role]->lose_after_uses,
                       surfaces_[role]->restore_result};
        return s;
    }

    surface_wrapping surfaces_;
    ddraw_interception ddraw_{surfaces_};
    log_capture logs_;
    test_window window_{window_w, window_h};
    kx_vidrender* renderer_ = nullptr;
    callback_record calls_;
    fault_surface* made_[3] = {};
};

} // namespace

TEST_F(ddraw_surface_storm, lost_surfaces_drop_frames_until_restored_and_nothing_is_made_again)
{
    const int frames = settings().long_run ? 20000 : 160;
    std::mt19937 random(settings().seed);
    auto chance = [&random](int percent) { return static_cast<int>(random() % 100) < percent; };
    frame_walk model;
    int restore_failures_left = 0;
    adjust4 adjust = neutral;
    long drawn = 0;
    long dropped = 0;
    long faults = 0;
    const size_t memory_at_start = working_set();

    for (int frame = 0; frame < frames; ++frame) {
        // Faults for this frame, chosen while the renderer is idle.
        if (chance(5)) {
            adjust = adjust == neutral ? adjusted : neutral;
            renderer_->set_image_adjust(adjust.data());
        }
        if (chance(20)) {
            const int lost = 1 + static_cast<int>(random() % 7);
            const bool at_once = chance(40);
            for (int role : roles) {
                if (!(lost >> role & 1))
                    continue;
                if (at_once)
                    surfaces_[role]->lost = true;
                else
                    surfaces_[role]->lose_after_uses = 1 + static_cast<int>(random() % 6);
                ++faults;
            }
            if (chance(30))
                restore_failures_left = 1 + static_cast<int>(random() % 4);
        }
        for (int role : roles)
            surfaces_[role]->restore_result = restore_failures_left > 0 ? DDERR_WRONGMODE : DD_OK;
        const bool refuse_dc = chance(4);
        ddraw_interception::fail_get_dc = refuse_dc;
        faults += refuse_dc;

        const auto luma = static_cast<uint8_t>(30 + frame % 13 * 15);
        const uint32_t picture = colour_of(luma, adjust);
        std::array<surface_shadow, 3> expected_surfaces = shadows();
        const int state_before = model.state;
        const frame_outcome expected = model.walk(
            expected_surfaces, picture, colour_of(luma, neutral), adjust != neutral, refuse_dc);
        if (state_before == -1 && restore_failures_left > 0)
            --restore_failures_left;

        test_picture shown(window_w, window_h, luma, 128, 128);
        screen_pixel(&sentinel);
        const callback_record calls_before = calls_;
        logs_.clear();
        renderer_->render_frame(&shown.frame, window_w, window_h);
        ddraw_interception::fail_get_dc = false;

        const std::string where = "frame " + std::to_string(frame);
        ASSERT_EQ(leveled(logs_), expected.lines) << where;
        ASSERT_EQ(calls_.calls - calls_before.calls, expected.callback ? 1 : 0) << where;
        ASSERT_EQ(calls_.without_dc - calls_before.without_dc,
                  expected.callback && !expected.dc ? 1 : 0)
            << where;
        const std::array<surface_shadow, 3> after = shadows();
        for (int role : roles)
            ASSERT_TRUE(after[role] == expected_surfaces[role]) << where << ", surface " << role;
        const uint32_t on_screen = screen_pixel();
        ASSERT_EQ(on_screen, expected.presented ? model.back_colour : sentinel)
            << where << std::hex << ", back surface colour " << model.back_colour;
        drawn += expected.presented && model.back_colour == picture;
        dropped += expected.dropped;
    }

    // The faults end: the next frame restores what is still lost and draws.
    for (int role : roles) {
        surfaces_[role]->lose_after_uses = -1;
        surfaces_[role]->restore_result = DD_OK;
    }
    for (int frame = 0; frame < 3; ++frame) {
        test_picture shown(window_w, window_h, 200, 128, 128);
        renderer_->render_frame(&shown.frame, window_w, window_h);
    }
    EXPECT_EQ(screen_pixel(), colour_of(200, adjust));

    // Never rebuilt: the same three surfaces, each held once, and every device context given
    // back.
    for (int role : roles) {
        EXPECT_EQ(surfaces_[role], made_[role]) << role;
        EXPECT_EQ(reference_count(surfaces_[role]), 1u) << role;
    }
    EXPECT_EQ(fault_surface::live_count(), 3u);
    EXPECT_EQ(ddraw_interception::wrappers_alive(), 2); // IDirectDraw2 and the clipper
    fault_surface* back = surfaces_[ddraw_manager::surface_back];
    EXPECT_EQ(back->dcs_taken, back->dcs_given_back);
    EXPECT_GT(drawn, frames / 4);
    EXPECT_GT(dropped, 0);

    tally().faults_injected += faults;
    tally().frames_drawn += drawn;
    tally().frames_dropped += dropped;
    ++tally().runs;
    std::printf("surface-loss storm: %d frames, %ld drawn, %ld dropped, %ld faults, working set "
                "%zu -> %zu KiB\n",
                frames, drawn, dropped, faults, memory_at_start / 1024, working_set() / 1024);
}
