// The DirectDraw backend's creation calls failing one after another, through the public
// interface: a first initialisation, a second one on a renderer that was drawing, and the
// rebuild of a window resize. A run without faults gives the calls in their order; then for
// each n the n-th call fails (in the long run also every call from the n-th on, and every pair
// on a first initialisation). A call failing alone must log the backend's lines for it and end
// as the tables below say, and the frame after it must draw where nothing is missing; a clean
// initialisation must then draw again, and nothing may be left held when the renderer is gone.
#include <gtest/gtest.h>

#include <libyuv/convert_argb.h>

#include <string>
#include <utility>
#include <vector>

#include "ddraw_d3d11_storm.h"
#include "ddraw_fault_objects.h"
#include "kx_vidrender.h"
#include "test_picture.h"
#include "test_window.h"

namespace {

constexpr int small_w = 160;
constexpr int small_h = 120;
constexpr int large_w = 176;
constexpr int large_h = 132;
constexpr int watch_x = 6;
constexpr int watch_y = 5;
constexpr uint8_t luma = 170;
constexpr uint32_t sentinel = 0x654321;
constexpr uint32_t white = 0xFFFFFF;

using o = fault_outcome;

const char* const copy_failed = "CreateSurface yuv_offscreen_surface error!result:0x%s\n";
const char* const copy_in_video_memory = "create copy surface with video memory error!\n";
const char* const back_failed = "CreateSurface rgb_offscreen_surface error,use_sysmem:0!\n";
const char* const back_query_failed = "QueryInterface rgb_offscreen_surface error,use_sysmem:0!\n";
const char* const back_in_video_memory = "create back surface with video memory error!\n";

// The backend's initialisation, each creation call failing alone (occurrences count from its
// DirectDrawCreate). A copy or back surface refused in video memory is made in system memory.
const std::vector<creation_fault>& backend_faults()
{
    using namespace ddraw_calls;
    static const std::vector<creation_fault> table = {
        {create, 1, o::fails},
        {query_ddraw2, 1, o::fails},
        {cooperative_level, 1, o::fails},
        {caps, 1, o::draws},
        {create_surface, 1, o::fails, "CreateSurface main surface error!\n"},
        {query_surface2(ddraw_manager::surface_primary), 1, o::fails,
         "cannot get IDirectDraw2 interface"},
        {create_clipper, 1, o::fails},
        {set_hwnd, 1, o::fails},
        {set_clipper, 1, o::draws},
        {pixel_format, 1, o::degraded}, // without the primary's pixel format
        {create_surface, 2, o::draws, copy_failed, copy_in_video_memory},
        {query_surface2(ddraw_manager::surface_copy), 1, o::draws, copy_failed,
         copy_in_video_memory},
        {create_surface, 3, o::draws, back_failed, back_in_video_memory},
        {query_surface2(ddraw_manager::surface_back), 1, o::draws, back_query_failed,
         back_in_video_memory},
    };
    return table;
}

// Where the driver blits from YUV surfaces the copy surface is YV12, and a YUY2 one stands in
// for it; a back surface in system memory then gets Wine's blit of YUV, which leaves it black.
const std::vector<creation_fault>& yuv_copy_faults()
{
    using namespace ddraw_calls;
    static const std::vector<creation_fault> table = {
        {create_surface, 2, o::draws},
        {query_surface2(ddraw_manager::surface_copy), 1, o::draws},
        {create_surface, 3, o::degraded, back_failed, back_in_video_memory},
        {query_surface2(ddraw_manager::surface_back), 1, o::degraded, back_query_failed,
         back_in_video_memory},
    };
    return table;
}

// The probe before the backend (its DirectDrawCreate and GetCaps): a first initialisation
// has no backend without it, a second one initialises the backend before again.
const std::vector<creation_fault>& probe_faults(bool first_init)
{
    const char* const no_backend = "init_vrender erro of render_mng_ null!\n";
    static const std::vector<creation_fault> first = {
        {ddraw_calls::create, 1, o::fails, no_backend},
        {ddraw_calls::probe_caps, 1, o::fails, no_backend}};
    static const std::vector<creation_fault> second = {{ddraw_calls::create, 1, o::draws},
                                                       {ddraw_calls::probe_caps, 1, o::draws}};
    return first_init ? first : second;
}

// Each channel of `pixel` within `tolerance` of the frames' grey, as libyuv converts it.
bool grey_within(uint32_t pixel, int tolerance)
{
    test_picture picture(2, 2, luma, 128, 128);
    uint32_t grey[4] = {};
    libyuv::I420ToARGBMatrix(picture.y_plane.data(), 2, picture.u_plane.data(), 1,
                             picture.v_plane.data(), 1, reinterpret_cast<uint8_t*>(grey), 8,
                             &libyuv::kYuvI601Constants, 2, 2);
    for (int shift : {0, 8, 16}) {
        const int got = static_cast<int>(pixel >> shift & 0xFF);
        const int wanted = static_cast<int>(grey[0] >> shift & 0xFF);
        if (got < wanted - tolerance || got > wanted + tolerance)
            return false;
    }
    return true;
}

// Where the failing calls are made.
enum class entry { first_init, second_init, resize };
const char* const entry_names[] = {"first init_vrender", "second init_vrender",
                                   "rebuild for a resize"};

class ddraw_creation_storm : public creation_storm_test {
  protected:
    void SetUp() override { ASSERT_TRUE(ddraw_.ready()); }
    void TearDown() override { ddraw_interception::report_blt_fourcc = false; }

    // The draw callback: the frame's pixel at the watched point, as 0x00RRGGBB (white
    // without a context).
    static void look(void* context, int, void* seen)
    {
        const COLORREF colour =
            context ? GetPixel(static_cast<HDC>(context), watch_x, watch_y) : CLR_INVALID;
        *static_cast<uint32_t*>(seen) = static_cast<uint32_t>(GetRValue(colour)) << 16 |
                                        static_cast<uint32_t>(GetGValue(colour)) << 8 |
                                        GetBValue(colour);
    }

    static uint32_t screen_pixel(fault_surface* primary, const uint32_t* value = nullptr)
    {
        IDirectDrawSurface2* real = fault_surface::unwrap(primary);
        DDSURFACEDESC locked = surface_description(real);
        if (FAILED(real->Lock(nullptr, &locked, DDLOCK_WAIT, nullptr)))
            return 0xFFFFFFFF;
        auto* pixel =
            static_cast<uint32_t*>(locked.lpSurface) + watch_y * locked.lPitch / 4 + watch_x;
        if (value)
            *pixel = *value;
        const uint32_t read = *pixel & 0xFFFFFF;
        real->Unlock(nullptr);
        return read;
    }

    // An initialisation of the window's size, with the callback that watches the frames.
    bool init()
    {
        RECT rect = {};
        GetWindowRect(window_.handle(), &rect);
        const bool ok = renderer_->init_vrender(window_.handle(), rect.right - rect.left,
                                                rect.bottom - rect.top, nullptr);
        renderer_->set_draw_callback(look, 0, &seen_);
        return ok;
    }

    // One frame of the window's size; true when its picture was drawn and reached the screen.
    // When the frame builds a new primary surface, the screen keeps no mark from before it.
    bool frame_reaches_screen()
    {
        fault_surface* before = surfaces_[ddraw_manager::surface_primary];
        if (before)
            screen_pixel(before, &sentinel);
        RECT rect = {};
        GetWindowRect(window_.handle(), &rect);
        test_picture picture(rect.right - rect.left, rect.bottom - rect.top, luma, 128, 128);
        seen_ = white; // until the callback sees the frame
        renderer_->render_frame(&picture.frame, picture.width, picture.height);
        fault_surface* after = surfaces_[ddraw_manager::surface_primary];
        // The platform's blit converts a YUV copy surface on its own terms (Wine's gives 171
        // where libyuv gives 179).
        const int tolerance = ddraw_interception::report_blt_fourcc ? 10 : 2;
        return grey_within(seen_, tolerance) && after && screen_pixel(after) == seen_;
    }

    // The step of the entry from a renderer brought to where the faults start, with `failing`
    // calls failing: true when it reports success; `reached`: whether a resize's frame was
    // drawn. The calls it made are left in made_.
    bool faulty_step(failing_calls failing, bool& reached)
    {
        window_.resize(small_w, small_h);
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
        if (entry_ != entry::first_init) {
            EXPECT_TRUE(init());
            EXPECT_TRUE(frame_reaches_screen());
        }
        if (entry_ == entry::resize)
            window_.resize(large_w, large_h);
        logs_.clear();
        armed_plan armed(std::move(failing));
        bool ok = true;
        reached = entry_ == entry::resize && frame_reaches_screen();
        if (entry_ != entry::resize)
            ok = init();
        made_ = plan().trace();
        return ok && !rebuild_failed(logs_);
    }

    // The calls the step of `e` makes without faults, printed, and its level-1 lines.
    void count_calls(entry e)
    {
        entry_ = e;
        bool reached = false;
        EXPECT_TRUE(faulty_step(no_call(), reached));
        EXPECT_EQ(reached, e == entry::resize);
        calls_ = made_;
        EXPECT_GT(calls_.size(), e == entry::resize ? 20u : 10u);
        print_calls(entry_names[static_cast<int>(e)], calls_);
        clean_failures_ = failure_lines(logs_);
        kx_vidrender::destroy_vrender(renderer_);
    }

    // The row of call n failing alone, and the DirectDrawCreate of its initialisation (or of
    // the probe) among the calls.
    const creation_fault* fault_of(int n, int& start)
    {
        start = n - 1;
        while (start > 0 && calls_[start] != ddraw_calls::create)
            --start;
        const std::string& call = calls_[n - 1];
        const int which = occurrence(calls_, n, start);
        const creation_fault* fault = nullptr;
        if (calls_[start + 1] == ddraw_calls::probe_caps)
            fault = find_fault(probe_faults(entry_ == entry::first_init), call, which);
        else if (ddraw_interception::report_blt_fourcc)
            fault = find_fault(yuv_copy_faults(), call, which);
        return fault ? fault : find_fault(backend_faults(), call, which);
    }

    void run(const fault_pattern& pattern) override
    {
        SCOPED_TRACE(std::string(entry_names[static_cast<int>(entry_)]) + ", " + pattern.label);
        ASSERT_GE(pattern.first, 1);
        bool reached = false;
        const bool ok = faulty_step(pattern.failing, reached);
        int start = 0;
        const creation_fault* fault = fault_of(pattern.first, start);
        // A resize rebuilds for the window's size, then for the video's.
        const char* failed_step = entry_ != entry::resize ? ""
                                  : start == 0
                                      ? "1 window size changed, update window texture error!\n"
                                      : "1 video size changed, update window texture error!\n";
        check_run(pattern, calls_, made_, fault,
                  code_text(ddraw_failure_code(calls_[pattern.first - 1])), clean_failures_,
                  failed_step, logs_, ok);
        const bool draws = pattern.alone && fault && fault->outcome == o::draws;
        if (entry_ == entry::resize && draws) {
            EXPECT_TRUE(reached);
        }

        // The next frame: a failed rebuild is tried again, a failed second initialisation
        // leaves frames dropped until the next one.
        const bool next = frame_reaches_screen();
        if (draws || (entry_ == entry::resize && !ok)) {
            EXPECT_TRUE(next) << "the frame after the fault";
        }
        if (entry_ == entry::second_init && !ok) {
            EXPECT_FALSE(next) << "the frame after the fault";
        }
        tally().frames_drawn += next;
        tally().frames_dropped += !next;
        // Where that frame could not draw, a clean initialisation does.
        if (!next) {
            EXPECT_TRUE(init());
            const bool again = frame_reaches_screen();
            EXPECT_TRUE(again);
            tally().frames_drawn += again;
        }
        kx_vidrender::destroy_vrender(renderer_);
        EXPECT_EQ(fault_surface::live_count(), 0u);
        EXPECT_EQ(ddraw_interception::wrappers_alive(), 0);
    }

    surface_wrapping surfaces_;
    ddraw_interception ddraw_{surfaces_};
    log_capture logs_;
    test_window window_{small_w, small_h};
    uint32_t seen_ = white;
    kx_vidrender* renderer_ = nullptr;
    entry entry_ = entry::first_init;
    std::vector<std::string> clean_failures_; // the level-1 lines of the step without faults
};

} // namespace

// Every step of the backend's initialisation, and the probe before it. The short run also lets
// every call fail from each offscreen surface on, past the fall-back to system memory.
TEST_F(ddraw_creation_storm, a_first_initialisation)
{
    count_calls(entry::first_init);
    storm(true);
    if (!settings().long_run) {
        run(calls_from(nth(ddraw_calls::create_surface, 2)));
        run(calls_from(nth(ddraw_calls::create_surface, 3)));
    }
}

// A renderer that was drawing: a failed probe leaves the old backend to initialise again, a
// failure in the new backend leaves frames dropped until the next initialisation.
TEST_F(ddraw_creation_storm, a_second_initialisation_of_a_drawing_renderer)
{
    count_calls(entry::second_init);
    if (settings().long_run)
        return storm(false);
    run(call_alone(1));
    run(call_alone(nth(ddraw_calls::create_surface, 1)));
}

// A resize rebuilds twice (for the window, then for the picture that follows it): a failure in
// either is retried by the next frame.
TEST_F(ddraw_creation_storm, the_rebuilds_of_a_resize)
{
    count_calls(entry::resize);
    if (settings().long_run)
        return storm(false);
    run(call_alone(1));
    run(call_alone(nth(ddraw_calls::create, 2)));
    run(calls_from(nth(ddraw_calls::query_surface2(ddraw_manager::surface_back), 2)));
}

// Wine's driver does not blit from YUV surfaces. Told that it does, the backend tries YV12,
// YUY2, UYVY and YVYU (which Wine refuses) before the display's RGB format, in video memory and
// then in system memory.
TEST_F(ddraw_creation_storm, a_driver_that_blits_from_yuv_surfaces)
{
    ddraw_interception::report_blt_fourcc = true;
    count_calls(entry::first_init);
    if (settings().long_run)
        return storm(false);
    run(call_alone(nth(ddraw_calls::create_surface, 2)));
    run(call_alone(nth(ddraw_calls::query_surface2(ddraw_manager::surface_copy), 1)));
    run(calls_from(nth(ddraw_calls::create_surface, 2)));
}
