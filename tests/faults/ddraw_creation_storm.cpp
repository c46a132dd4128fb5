// The DirectDraw backend's creation calls failing one after another, through the public
// interface: a first initialisation, a second one on a renderer that was drawing, and the
// rebuild of a window resize. A run without faults gives the calls in their order; then for
// each n the n-th call fails (and, in a second pass, every call from the n-th on; in the long
// run also every pair). Each run is checked against a walk of the same steps: the calls made,
// the lines logged, the result, and the frame after it; a clean initialisation must then draw
// again, and nothing may be left held when the renderer is gone.
#include <gtest/gtest.h>

#include <d3d9.h>
#include <libyuv/convert_argb.h>

#include <string>
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

// The copy formats in the order the backend tries them, and their names in its log.
struct copy_format {
    DWORD fourcc; // 0: the display's RGB format
    const char* name;
};
const copy_format copy_formats[] = {{MAKEFOURCC('Y', 'V', '1', '2'), "YV12"},
                                    {MAKEFOURCC('Y', 'U', 'Y', '2'), "YUY2"},
                                    {MAKEFOURCC('U', 'Y', 'V', 'Y'), "UYVY"},
                                    {MAKEFOURCC('Y', 'V', 'Y', 'U'), "YVYU"},
                                    {0, "ARGB"}};

// Each channel of `pixel` within `tolerance` of `want`'s.
bool close_to(uint32_t pixel, uint32_t want, int tolerance)
{
    for (int shift : {0, 8, 16}) {
        const int got = static_cast<int>(pixel >> shift & 0xFF);
        const int wanted = static_cast<int>(want >> shift & 0xFF);
        if (got < wanted - tolerance || got > wanted + tolerance)
            return false;
    }
    return true;
}

uint32_t grey()
{
    test_picture picture(2, 2, luma, 128, 128);
    uint32_t pixels[4] = {};
    libyuv::I420ToARGBMatrix(picture.y_plane.data(), 2, picture.u_plane.data(), 1,
                             picture.v_plane.data(), 1, reinterpret_cast<uint8_t*>(pixels), 8,
                             &libyuv::kYuvI601Constants, 2, 2);
    return pixels[0] & 0xFFFFFF;
}

// The front and its DirectDraw backend as the steps of their initialisation leave them.
class ddraw_front_walk {
  public:
    // `blt_fourcc`: the driver reports blits from FOURCC surfaces.
    ddraw_front_walk(HWND window, bool blt_fourcc) : window_(window), blt_fourcc_(blt_fourcc) {}

    bool has_backend = false;
    bool backend_ready = false;
    // Initialised without a picture to show: without the primary's pixel format, or with a YUV
    // copy surface to blit into a back surface in system memory (which Wine's blit leaves
    // black, answering DD_OK).
    bool degraded = false;
    int window_w = 0, window_h = 0, video_w = 0, video_h = 0;

    bool init_vrender(call_model& m, int width, int height)
    {
        m.log(1, "Check D3D9 Failed:" + code_text(D3DERR_NOTAVAILABLE) + "\n");
        const bool ddraw_usable = m.call(ddraw_calls::create) && m.call(ddraw_calls::probe_caps);
        if (ddraw_usable)
            has_backend = true; // a new one
        if (!has_backend) {
            m.log(1, "init_vrender erro of render_mng_ null!\n");
            return false;
        }
        const bool ok = init_render(m, width, height, width, height);
        if (ok) {
            window_w = video_w = width;
            window_h = video_h = height;
        }
        return ok;
    }

    // A frame of a window of width x height; true when it reaches the backend's drawing.
    bool render_frame(call_model& m, int width, int height)
    {
        if (!has_backend)
            return false;
        if (window_w != 0 && window_h != 0 && (width != window_w || height != window_h)) {
            if (!rebuild(m, video_w, video_h, width, height)) {
                m.log(1, "window size changed, update window texture error!\n");
                return false;
            }
            m.log(3,
                  formatted("window size(%d*%d) changed ,update window texture!\n", width, height));
        }
        if (width != video_w || height != video_h) {
            if (!rebuild(m, width, height, width, height)) {
                m.log(1, "video size changed, update window texture error!\n");
                return false;
            }
            m.log(3,
                  formatted("video size(%d*%d) changed, update window texture!\n", width, height));
        }
        return backend_ready;
    }

  private:
    bool rebuild(call_model& m, int video_width, int video_height, int width, int height)
    {
        const bool ok = init_render(m, video_width, video_height, width, height);
        if (ok) {
            video_w = video_width;
            video_h = video_height;
            window_w = width;
            window_h = height;
        }
        return ok;
    }

    bool init_render(call_model& m, int video_width, int video_height, int width, int height)
    {
        backend_ready = backend_init(m, video_width, video_height, width, height);
        return backend_ready;
    }

    bool backend_init(call_model& m, int video_width, int video_height, int width, int height)
    {
        degraded = yuv_copy_ = back_in_system_memory_ = false;
        if (!m.call(ddraw_calls::create) || !m.call(ddraw_calls::query_ddraw2))
            return false;
        m.log(3, formatted("init video render with ddraw software! hwnd:%p, vwidth:%d, "
                           "vheight:%d, twidth:%d, theight:%d\n",
                           static_cast<void*>(window_), video_width, video_height, width, height));
        if (!m.call(ddraw_calls::cooperative_level))
            return false;
        const bool caps = m.call(ddraw_calls::caps);
        fourcc_ = caps && blt_fourcc_;
        m.log(3, formatted("DirectDraw Capabilities: overlay=0 yuvoverlay=0 "
                           "can_deinterlace_overlay=0 colorkey=%d stretch=0 bltfourcc=%d",
                           caps ? 1 : 0, fourcc_ ? 1 : 0));
        if (!m.call(ddraw_calls::create_surface)) {
            m.log(1, "CreateSurface main surface error!\n");
            return false;
        }
        if (!m.call(ddraw_calls::query_surface2(ddraw_manager::surface_primary))) {
            m.log(1, "cannot get IDirectDraw2 interface");
            return false;
        }
        if (!m.call(ddraw_calls::create_clipper) || !m.call(ddraw_calls::set_hwnd))
            return false;
        m.call(ddraw_calls::set_clipper); // not looked at
        if (m.call(ddraw_calls::pixel_format))
            m.log(3, "ddp_fmt.dwRGBBitCount = 32,rmask = ff0000,gmask = ff00,bmask = ff\n");
        else
            degraded = true;
        if (!offscreen_surface(m, "copy", &ddraw_front_walk::copy_surface) ||
            !offscreen_surface(m, "back", &ddraw_front_walk::back_surface))
            return false;
        degraded = degraded || (yuv_copy_ && back_in_system_memory_);
        return true;
    }

    using surface_step = bool (ddraw_front_walk::*)(call_model&, int use_sysmem);

    bool offscreen_surface(call_model& m, const std::string& name, surface_step create)
    {
        if (!(this->*create)(m, 0)) {
            m.log(1, "create " + name + " surface with video memory error!\n");
            if (!(this->*create)(m, 1)) {
                m.log(1, "create " + name + " surface with system memory error!\n");
                return false;
            }
        }
        m.log(3, "create " + name + " surface OK!\n");
        return true;
    }

    // FOURCC formats only when the driver blits from them; the platform refuses some.
    bool copy_surface(call_model& m, int use_sysmem)
    {
        HRESULT last_failure = DD_OK;
        for (const copy_format& format : copy_formats) {
            if (format.fourcc && !fourcc_)
                continue;
            if (!m.call(ddraw_calls::create_surface)) {
                last_failure = DDERR_OUTOFVIDEOMEMORY;
                continue;
            }
            const HRESULT answer =
                format.fourcc ? ddraw_interception::platform_answer(format.fourcc, use_sysmem != 0)
                              : DD_OK;
            if (FAILED(answer)) {
                last_failure = answer;
                continue;
            }
            m.log(3, std::string("CreateSurface successfully with copy surface format:") +
                         format.name + "\n");
            yuv_copy_ = format.fourcc != 0;
            if (m.call(ddraw_calls::query_surface2(ddraw_manager::surface_copy)))
                return true;
            last_failure = E_NOINTERFACE;
        }
        m.log(1, "CreateSurface yuv_offscreen_surface error!result:0x" + code_text(last_failure) +
                     "\n");
        return false;
    }

    bool back_surface(call_model& m, int use_sysmem)
    {
        if (!m.call(ddraw_calls::create_surface)) {
            m.log(1, formatted("CreateSurface rgb_offscreen_surface error,use_sysmem:%d!\n",
                               use_sysmem));
            return false;
        }
        if (!m.call(ddraw_calls::query_surface2(ddraw_manager::surface_back))) {
            m.log(1, formatted("QueryInterface rgb_offscreen_surface error,use_sysmem:%d!\n",
                               use_sysmem));
            return false;
        }
        back_in_system_memory_ = use_sysmem != 0;
        return true;
    }

    HWND window_;
    bool blt_fourcc_;
    bool fourcc_ = false; // as the backend found the capability
    bool yuv_copy_ = false;
    bool back_in_system_memory_ = false;
};

// Where the failing calls are made.
enum class entry { first_init, second_init, resize };

const char* entry_name(entry e)
{
    switch (e) {
    case entry::first_init:
        return "first init_vrender";
    case entry::second_init:
        return "second init_vrender";
    default:
        return "rebuild for a resize";
    }
}

class ddraw_creation_storm : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ddraw_.ready()); }
    void TearDown() override { ddraw_interception::report_blt_fourcc = false; }

    // What the draw callback saw of its frame.
    struct callback_view {
        bool called = false;
        uint32_t pixel = 0; // 0x00RRGGBB at the watched point, 0xFFFFFFFF without a context
    };

    static void look(void* context, int, void* view)
    {
        auto* seen = static_cast<callback_view*>(view);
        seen->called = true;
        seen->pixel = 0xFFFFFFFF;
        if (!context)
            return;
        const COLORREF colour = GetPixel(static_cast<HDC>(context), watch_x, watch_y);
        seen->pixel = static_cast<uint32_t>(GetRValue(colour)) << 16 |
                      static_cast<uint32_t>(GetGValue(colour)) << 8 | GetBValue(colour);
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

    // An initialisation on the test window, with the callback that watches the frames.
    bool init(kx_vidrender* renderer, int width, int height)
    {
        const bool ok = renderer->init_vrender(window_.handle(), width, height, nullptr);
        renderer->set_draw_callback(look, 0, &view_);
        return ok;
    }

    // One frame of the window's size; true when its picture was drawn and reached the screen.
    // When the frame builds a new primary surface, the screen keeps no mark from before it.
    bool frame_reaches_screen(kx_vidrender* renderer)
    {
        fault_surface* before = surfaces_[ddraw_manager::surface_primary];
        if (before)
            screen_pixel(before, &sentinel);
        RECT rect = {};
        GetWindowRect(window_.handle(), &rect);
        test_picture picture(rect.right - rect.left, rect.bottom - rect.top, luma, 128, 128);
        view_ = callback_view();
        renderer->render_frame(&picture.frame, picture.width, picture.height);
        fault_surface* after = surfaces_[ddraw_manager::surface_primary];
        // The platform's blit converts a YUV copy surface on its own terms (Wine's gives 171
        // where libyuv gives 179).
        const int tolerance = ddraw_interception::report_blt_fourcc ? 10 : 2;
        return view_.called && close_to(view_.pixel, grey(), tolerance) && after &&
               screen_pixel(after) == view_.pixel;
    }

    // The renderer for a run of `e`, brought to where the faults start.
    kx_vidrender* prepared(entry e, ddraw_front_walk& walk)
    {
        window_.resize(small_w, small_h);
        kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
        if (e == entry::first_init)
            return renderer;
        call_model clean(no_call());
        EXPECT_TRUE(init(renderer, small_w, small_h));
        walk.init_vrender(clean, small_w, small_h);
        EXPECT_TRUE(frame_reaches_screen(renderer));
        if (e == entry::resize)
            window_.resize(large_w, large_h);
        return renderer;
    }

    // The faulty step of `e`, then the model's and the library's accounts of it compared.
    void run(entry e, const failing_calls& failing, const std::string& label)
    {
        SCOPED_TRACE(std::string(entry_name(e)) + ", " + label);
        ddraw_front_walk walk(window_.handle(), ddraw_interception::report_blt_fourcc);
        kx_vidrender* renderer = prepared(e, walk);
        logs_.clear();
        call_model expected(failing);
        bool result = false;
        bool expected_result = false;
        {
            armed_plan armed(failing);
            if (e == entry::resize) {
                expected_result = walk.render_frame(expected, large_w, large_h);
                result = frame_reaches_screen(renderer);
            } else {
                result = init(renderer, small_w, small_h);
                expected_result = walk.init_vrender(expected, small_w, small_h);
            }
            EXPECT_EQ(plan().trace(), expected.trace());
        }
        EXPECT_EQ(leveled(logs_), expected.lines());
        // A picture without the primary's pixel format is not the one drawn.
        if (e != entry::resize || !walk.degraded) {
            EXPECT_EQ(result, expected_result);
        }
        ++tally().runs;

        // The next frame: it tries again where the sizes say so, and draws where it can.
        RECT rect = {};
        GetWindowRect(window_.handle(), &rect);
        logs_.clear();
        call_model next(no_call());
        const bool draws = walk.render_frame(next, rect.right - rect.left, rect.bottom - rect.top);
        const bool reached = frame_reaches_screen(renderer);
        EXPECT_EQ(leveled(logs_), next.lines());
        if (!walk.degraded) {
            EXPECT_EQ(reached, draws);
        }
        tally().frames_drawn += reached;
        tally().frames_dropped += walk.has_backend && !draws;

        // Where that frame could not draw, a clean initialisation does.
        if (!reached) {
            EXPECT_TRUE(init(renderer, rect.right - rect.left, rect.bottom - rect.top));
            const bool again = frame_reaches_screen(renderer);
            EXPECT_TRUE(again);
            tally().frames_drawn += again;
        }

        kx_vidrender::destroy_vrender(renderer);
        EXPECT_EQ(fault_surface::live_count(), 0u);
        EXPECT_EQ(ddraw_interception::wrappers_alive(), 0);
    }

    // The calls a run of `e` makes without faults.
    std::vector<std::string> count_calls(entry e)
    {
        ddraw_front_walk walk(window_.handle(), ddraw_interception::report_blt_fourcc);
        kx_vidrender* renderer = prepared(e, walk);
        call_model expected(no_call());
        std::vector<std::string> made;
        {
            armed_plan armed(no_call());
            if (e == entry::resize) {
                walk.render_frame(expected, large_w, large_h);
                EXPECT_TRUE(frame_reaches_screen(renderer));
            } else {
                EXPECT_TRUE(init(renderer, small_w, small_h));
                walk.init_vrender(expected, small_w, small_h);
            }
            made = plan().trace();
        }
        kx_vidrender::destroy_vrender(renderer);
        EXPECT_EQ(made, expected.trace()) << entry_name(e);
        return made;
    }

    // The number of the `occurrence`-th call of `name` among `calls`.
    static int call_number(const std::vector<std::string>& calls, const std::string& name,
                           int occurrence)
    {
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i] == name && --occurrence == 0)
                return static_cast<int>(i + 1);
        ADD_FAILURE() << name << " is not made that often";
        return 0;
    }

    void only(entry e, int n) { run(e, only_call(n), "call " + std::to_string(n) + " fails"); }
    void from(entry e, int n)
    {
        run(e, calls_from(n), "calls from " + std::to_string(n) + " on fail");
    }

    // The long run: each call failing alone and with all after it, and every pair failing.
    void long_storm(entry e, int calls, bool pairs)
    {
        for (int n = 1; n <= calls; ++n) {
            only(e, n);
            from(e, n);
        }
        for (int first = 1; pairs && first <= calls; ++first)
            for (int second = first + 1; second <= calls; ++second)
                run(e, two_calls(first, second),
                    "calls " + std::to_string(first) + " and " + std::to_string(second) + " fail");
    }

    surface_wrapping surfaces_;
    ddraw_interception ddraw_{surfaces_};
    log_capture logs_;
    test_window window_{small_w, small_h};
    callback_view view_;
};

} // namespace

// Every step of the backend's initialisation, and the probe before it. The short run also lets
// every call fail from each offscreen surface on, past the fall-back to system memory.
TEST_F(ddraw_creation_storm, a_first_initialisation)
{
    const std::vector<std::string> calls = count_calls(entry::first_init);
    ASSERT_GT(calls.size(), 10u);
    const int count = static_cast<int>(calls.size());
    if (settings().long_run)
        return long_storm(entry::first_init, count, true);
    for (int n = 1; n <= count; ++n)
        only(entry::first_init, n);
    from(entry::first_init, call_number(calls, ddraw_calls::create_surface, 2));
    from(entry::first_init, call_number(calls, ddraw_calls::create_surface, 3));
}

// A renderer that was drawing: a failed probe leaves the old backend to initialise again, a
// failure in the new backend leaves frames dropped until the next initialisation.
TEST_F(ddraw_creation_storm, a_second_initialisation_of_a_drawing_renderer)
{
    const std::vector<std::string> calls = count_calls(entry::second_init);
    ASSERT_GT(calls.size(), 10u);
    if (settings().long_run)
        return long_storm(entry::second_init, static_cast<int>(calls.size()), false);
    only(entry::second_init, 1);
    only(entry::second_init, call_number(calls, ddraw_calls::create_surface, 1));
}

// A resize rebuilds twice (for the window, then for the picture that follows it): a failure in
// either is retried by the next frame.
TEST_F(ddraw_creation_storm, the_rebuilds_of_a_resize)
{
    const std::vector<std::string> calls = count_calls(entry::resize);
    ASSERT_GT(calls.size(), 20u);
    if (settings().long_run)
        return long_storm(entry::resize, static_cast<int>(calls.size()), false);
    only(entry::resize, 1);
    only(entry::resize, call_number(calls, ddraw_calls::create, 2));
    from(entry::resize,
         call_number(calls, ddraw_calls::query_surface2(ddraw_manager::surface_back), 2));
}

// Wine's driver does not blit from YUV surfaces. Told that it does, the backend tries YV12,
// YUY2, UYVY and YVYU (which Wine refuses) before the display's RGB format, in video memory and
// then in system memory.
TEST_F(ddraw_creation_storm, a_driver_that_blits_from_yuv_surfaces)
{
    ddraw_interception::report_blt_fourcc = true;
    const std::vector<std::string> calls = count_calls(entry::first_init);
    ASSERT_GT(calls.size(), 10u);
    if (settings().long_run)
        return long_storm(entry::first_init, static_cast<int>(calls.size()), false);
    const int first_copy = call_number(calls, ddraw_calls::create_surface, 2);
    only(entry::first_init, first_copy);
    only(entry::first_init,
         call_number(calls, ddraw_calls::query_surface2(ddraw_manager::surface_copy), 1));
    from(entry::first_init, first_copy);
}
