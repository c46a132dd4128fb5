// The Direct3D 11 backend's creation calls failing one after another, through the public
// interface: on the decoder's device and on a device the backend makes itself, at the first
// initialisation and at the rebuild of a resize. A run without faults gives the calls in their
// order; then the n-th call fails (in the long run also every call from the n-th on, and every
// pair). Each run is checked against a walk of the same steps: the calls, the lines, the
// result; the frames after it must show the picture again (through a clean initialisation
// where the backend stays without an object it needs), the decoder's device and context must
// keep their reference counts, and every device and DXGI object the backend made must be let
// go.
//
// Wine refuses NV12 textures. With the stand-in of the test devices (an R8 and an R8G8 texture
// for the NV12 one) every step is reached and the picture is drawn; with the platform's own
// answer the video texture is never made, so its views are never tried and no frame is drawn.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "d3d11_storm_frames.h"
#include "kx_vidrender.h"
#include "test_window.h"

namespace {

constexpr int small_w = 128;
constexpr int small_h = 64;
constexpr int large_w = 144;
constexpr int large_h = 80;

// What the backend holds after its initialisation.
struct backend_objects {
    bool swap_chain = false;
    bool video_texture = false;
    bool luma_view = false;
    bool chroma_view = false;
    bool back_buffer_view = false;
    bool offscreen_texture = false;
    bool offscreen_view = false;
    bool vertex_shader = false;
    bool input_layout = false;
    bool vertex_buffer = false;
    bool vertex_constants = false;
    bool rasterizer_state = false;
    bool pixel_shader = false;
    bool color_constants = false;
    bool adjust_constants = false;

    // Everything the picture needs.
    bool complete() const
    {
        return swap_chain && video_texture && luma_view && chroma_view && back_buffer_view &&
               offscreen_texture && offscreen_view && vertex_shader && input_layout &&
               vertex_buffer && vertex_constants && rasterizer_state && pixel_shader &&
               color_constants && adjust_constants;
    }
};

std::string device_call(const char* method)
{
    return d3d11_calls::device_call(method);
}

// "%x" of a failure code, as the backend prints it.
std::string hex(HRESULT code)
{
    return formatted("%x", static_cast<unsigned>(code));
}

std::string planned_hex(const std::string& call)
{
    return hex(d3d11_failure_code(call));
}

// The front and its Direct3D 11 backend as the steps of their initialisation leave them.
class d3d11_front_walk {
  public:
    d3d11_front_walk(bool own_device, bool nv12_refused)
        : own_device_(own_device), nv12_refused_(nv12_refused)
    {}

    backend_objects objects;
    int window_w = 0, window_h = 0, video_w = 0, video_h = 0;

    bool init_vrender(call_model& m, int width, int height)
    {
        const bool ok = init_render(m);
        if (ok) {
            window_w = width;
            window_h = height;
            video_w = storm_video_w;
            video_h = storm_video_h;
        }
        return ok;
    }

    // A frame in a window of width x height; `with_texture` false for a frame without one.
    void render_frame(call_model& m, int width, int height, bool with_texture)
    {
        if (window_w != 0 && window_h != 0 && (width != window_w || height != window_h)) {
            if (!rebuild(m, width, height)) {
                m.log(1, "window size changed, update window texture error!\n");
                return;
            }
            m.log(3,
                  formatted("window size(%d*%d) changed ,update window texture!\n", width, height));
        }
        if (video_w != storm_video_w || video_h != storm_video_h) {
            if (!rebuild(m, width, height)) {
                m.log(1, "video size changed, update window texture error!\n");
                return;
            }
            m.log(3, formatted("video size(%d*%d) changed, update window texture!\n", storm_video_w,
                               storm_video_h));
        }
        if (objects.swap_chain && objects.vertex_buffer && objects.video_texture && with_texture)
            m.call(d3d11_calls::get_desc); // draw_image: the target's size
        if (objects.swap_chain)
            m.call(d3d11_calls::get_buffer); // present
    }

  private:
    bool rebuild(call_model& m, int width, int height)
    {
        const bool ok = init_render(m);
        if (ok) {
            video_w = storm_video_w;
            video_h = storm_video_h;
            window_w = width;
            window_h = height;
        }
        return ok;
    }

    bool init_render(call_model& m)
    {
        objects = backend_objects();
        if (own_device_ && !own_device(m))
            return false;
        if (!factory(m))
            return false;
        m.call(d3d11_calls::query_multithread); // a refusal is ignored
        if (!m.call(d3d11_calls::create_swap_chain)) {
            m.log(1, "create swap chain failed, " + planned_hex(d3d11_calls::create_swap_chain) +
                         " \n");
            return false;
        }
        objects.swap_chain = true;
        video_texture(m);
        if (!back_buffer_view(m) || !samplers(m))
            return false;
        offscreen_target(m);
        vertex_stage(m);
        if (m.call(device_call("CreateRasterizerState")))
            objects.rasterizer_state = true;
        else
            m.log(1, "init_rasterizer_state failed, " +
                         planned_hex(device_call("CreateRasterizerState")) + " \n");
        pixel_stage(m);
        return true;
    }

    bool own_device(call_model& m)
    {
        for (const D3D_DRIVER_TYPE driver :
             {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP, D3D_DRIVER_TYPE_REFERENCE})
            if (m.call(d3d11_calls::create_device(driver)) &&
                d3d11_interception::platform_makes(driver))
                return true;
        return false;
    }

    bool factory(call_model& m)
    {
        for (const char* call :
             {d3d11_calls::query_dxgi_device, d3d11_calls::get_adapter, d3d11_calls::get_factory})
            if (!m.call(call)) {
                m.log(1, "Get DXGI factory failed, " + planned_hex(call) + " \n");
                return false;
            }
        return true;
    }

    void video_texture(call_model& m)
    {
        const std::string texture = device_call("CreateTexture2D");
        const std::string view = device_call("CreateShaderResourceView");
        if (!m.call(texture)) {
            m.log(1, "ID3D11Device::CreateTexture2D() failed, " + planned_hex(texture));
            return;
        }
        if (nv12_refused_) {
            m.log(1, "ID3D11Device::CreateTexture2D() failed, " + hex(E_INVALIDARG));
            return;
        }
        if (!m.call(view)) {
            m.log(1,
                  "ID3D11Device::CreateRenderTargetView(R8) failed, " + planned_hex(view) + " \n");
            return;
        }
        if (!m.call(view)) {
            m.log(1, "ID3D11Device::CreateRenderTargetView(R8G8) failed, " + planned_hex(view) +
                         " \n");
            return;
        }
        objects.video_texture = objects.luma_view = objects.chroma_view = true;
    }

    bool back_buffer_view(call_model& m)
    {
        for (const std::string& call :
             {std::string(d3d11_calls::get_buffer), device_call("CreateRenderTargetView")})
            if (!m.call(call)) {
                m.log(1,
                      "ID3D11Device::CreateRenderTargetView() failed, " + planned_hex(call) + " ");
                return false;
            }
        objects.back_buffer_view = true;
        return true;
    }

    bool samplers(call_model& m)
    {
        for (const char* filter : {"POINT", "LINEAR"})
            if (!m.call(device_call("CreateSamplerState"))) {
                m.log(1, formatted("ID3D11Device::CreateSamplerState(%s) failed, ", filter) +
                             planned_hex(device_call("CreateSamplerState")) + " ");
                return false;
            }
        return true;
    }

    void offscreen_target(call_model& m)
    {
        if (!m.call(device_call("CreateTexture2D"))) {
            m.log(1, "ID3D11Device::CreateTexture2D() failed, " +
                         planned_hex(device_call("CreateTexture2D")));
            return;
        }
        objects.offscreen_texture = true;
        if (!m.call(device_call("CreateRenderTargetView"))) {
            m.log(1, "ID3D11Device::CreateRenderTargetView() failed, " +
                         planned_hex(device_call("CreateRenderTargetView")) + " \n");
            return;
        }
        objects.offscreen_view = true;
    }

    void vertex_stage(call_model& m)
    {
        if (!m.call(d3d11_calls::get_desc))
            return;                                                        // without a message
        objects.vertex_shader = m.call(device_call("CreateVertexShader")); // not looked at
        const std::string buffer = device_call("CreateBuffer");
        if (!m.call(device_call("CreateInputLayout"))) {
            m.log(1, "ID3D11Device::CreateInputLayout() failed, " +
                         planned_hex(device_call("CreateInputLayout")) + ".");
            return;
        }
        objects.input_layout = true;
        if (!m.call(buffer)) {
            m.log(1, "ID3D11Device::CreateBuffer(VERTEX_BUFFER) failed, " + planned_hex(buffer) +
                         " \n");
            return;
        }
        objects.vertex_buffer = true;
        if (!m.call(buffer)) {
            m.log(1, "ID3D11Device::CreateBuffer() failed, " + planned_hex(buffer) + " \n");
            return;
        }
        objects.vertex_constants = true;
    }

    void pixel_stage(call_model& m)
    {
        const std::string buffer = device_call("CreateBuffer");
        if (!m.call(device_call("CreatePixelShader"))) {
            m.log(1, "init_pixel_shader failed, " + planned_hex(device_call("CreatePixelShader")) +
                         " \n");
            return;
        }
        objects.pixel_shader = true;
        for (bool* made : {&objects.color_constants, &objects.adjust_constants}) {
            if (!m.call(buffer)) {
                m.log(1, "ID3D11Device::CreateBuffer() failed, " + planned_hex(buffer) + " \n");
                return;
            }
            *made = true;
        }
    }

    bool own_device_;
    bool nv12_refused_;
};

// Whose device the backend draws with, and what Wine answers to its NV12 texture.
enum class device_kind { decoders, own_with_standin, own_refused_nv12 };

const char* kind_name(device_kind kind)
{
    switch (kind) {
    case device_kind::decoders:
        return "decoder's device";
    case device_kind::own_with_standin:
        return "own device";
    default:
        return "own device, NV12 refused";
    }
}

enum class entry { first_init, resize };

class d3d11_creation_storm : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(decoder_.ready());
        ASSERT_TRUE(d3d11_.ready()) << "D3D11CreateDevice is not imported by the test program";
        d3d11_interception::watch(decoder_.device());
    }

    void TearDown() override
    {
        d3d11_interception::unwatch(decoder_.device());
        d3d11_interception::stand_in_for_nv12 = true;
    }

    bool own(device_kind kind) const { return kind != device_kind::decoders; }

    AVCodecContext* context_for(device_kind kind)
    {
        return own(kind) ? nullptr : decoder_.codec_context();
    }

    void window_size(int& width, int& height) const
    {
        RECT rect = {};
        GetWindowRect(window_.handle(), &rect);
        width = rect.right - rect.left;
        height = rect.bottom - rect.top;
    }

    // One frame; on a device of the backend's own, a frame that may rebuild carries no texture.
    void frame(kx_vidrender* renderer, storm_frames& frames, bool with_texture)
    {
        AVFrame next = frames.next(!with_texture);
        renderer->render_frame(&next, storm_video_w, storm_video_h);
    }

    // Two frames, the second with the chroma filled: true when it shows its picture.
    bool draws_again(kx_vidrender* renderer, storm_frames& frames, bool own_device)
    {
        frame(renderer, frames, !own_device);
        frames.fill_chroma();
        frame(renderer, frames, true);
        return frames.shown(catcher_);
    }

    // The renderer of a run of `e`, brought to where the faults start.
    kx_vidrender* prepared(device_kind kind, entry e, storm_frames& frames, d3d11_front_walk& walk)
    {
        window_.resize(small_w, small_h);
        kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_d3d11);
        if (e == entry::first_init)
            return renderer;
        call_model clean(no_call());
        EXPECT_TRUE(renderer->init_vrender(window_.handle(), storm_video_w, storm_video_h,
                                           context_for(kind)));
        walk.init_vrender(clean, small_w, small_h);
        if (kind != device_kind::own_refused_nv12) {
            EXPECT_TRUE(draws_again(renderer, frames, own(kind)));
        }
        window_.resize(large_w, large_h);
        return renderer;
    }

    // The faulty step, walked and made; false when the library's result is not the walk's.
    bool faulty_step(kx_vidrender* renderer, device_kind kind, entry e, storm_frames& frames,
                     d3d11_front_walk& walk, call_model& expected)
    {
        if (e == entry::first_init) {
            const bool expected_result = walk.init_vrender(expected, small_w, small_h);
            return renderer->init_vrender(window_.handle(), storm_video_w, storm_video_h,
                                          context_for(kind)) == expected_result;
        }
        walk.render_frame(expected, large_w, large_h, !own(kind));
        frame(renderer, frames, !own(kind));
        return true;
    }

    std::vector<std::string> count_calls(device_kind kind, entry e)
    {
        d3d11_interception::stand_in_for_nv12 = kind != device_kind::own_refused_nv12;
        storm_frames frames(decoder_, own(kind));
        d3d11_front_walk walk(own(kind), kind == device_kind::own_refused_nv12);
        kx_vidrender* renderer = prepared(kind, e, frames, walk);
        call_model expected(no_call());
        std::vector<std::string> made;
        logs_.clear();
        {
            armed_plan armed(no_call());
            EXPECT_TRUE(faulty_step(renderer, kind, e, frames, walk, expected));
            made = plan().trace();
        }
        EXPECT_EQ(made, expected.trace()) << kind_name(kind);
        std::printf("%s, %s: %zu calls\n", kind_name(kind),
                    e == entry::resize ? "rebuild for a resize" : "first init", made.size());
        for (size_t i = 0; i < made.size(); ++i)
            std::printf("  %2zu %s\n", i + 1, made[i].c_str());
        EXPECT_EQ(leveled(logs_), expected.lines()) << kind_name(kind);
        kx_vidrender::destroy_vrender(renderer);
        catcher_.release_caught();
        EXPECT_TRUE(frames.release_made_devices());
        decoder_.device()->release_standins();
        return made;
    }

    void run(device_kind kind, entry e, const failing_calls& failing, const std::string& label)
    {
        SCOPED_TRACE(std::string(kind_name(kind)) +
                     (e == entry::resize ? ", rebuild for a resize, " : ", first init, ") + label);
        d3d11_interception::stand_in_for_nv12 = kind != device_kind::own_refused_nv12;
        const ULONG device_refs = decoder_.device_refcount();
        const ULONG real_device_refs = decoder_.real_device_refcount();
        const ULONG context_refs = decoder_.context_refcount();
        {
            storm_frames frames(decoder_, own(kind));
            d3d11_front_walk walk(own(kind), kind == device_kind::own_refused_nv12);
            kx_vidrender* renderer = prepared(kind, e, frames, walk);
            logs_.clear();
            call_model expected(failing);
            {
                armed_plan armed(failing);
                EXPECT_TRUE(faulty_step(renderer, kind, e, frames, walk, expected))
                    << "init_vrender's result";
                EXPECT_EQ(plan().trace(), expected.trace());
            }
            EXPECT_EQ(leveled(logs_), expected.lines());
            ++tally().runs;
            recover(renderer, kind, frames, walk);
            kx_vidrender::destroy_vrender(renderer);
            catcher_.release_caught();
            EXPECT_TRUE(frames.release_made_devices()) << "a device the backend made is held";
        }
        EXPECT_EQ(d3d11_interception::wrappers_alive(), 0);
        decoder_.device()->release_standins();
        EXPECT_EQ(decoder_.device_refcount(), device_refs);
        EXPECT_EQ(decoder_.real_device_refcount(), real_device_refs);
        EXPECT_EQ(decoder_.context_refcount(), context_refs);
    }

    // The frames after a fault: the next one tries again where the sizes say so; where the
    // backend still lacks an object the picture needs, a clean initialisation follows.
    void recover(kx_vidrender* renderer, device_kind kind, storm_frames& frames,
                 d3d11_front_walk& walk)
    {
        int width = 0;
        int height = 0;
        window_size(width, height);
        logs_.clear();
        call_model next(no_call());
        walk.render_frame(next, width, height, !own(kind));
        walk.render_frame(next, width, height, true);
        const bool drawn = draws_again(renderer, frames, own(kind));
        EXPECT_EQ(leveled(logs_), next.lines());
        if (kind == device_kind::own_refused_nv12) {
            EXPECT_FALSE(drawn);
            return;
        }
        // Without some of its objects the backend may still draw, as the platform allows.
        if (walk.objects.complete()) {
            EXPECT_TRUE(drawn);
        }
        if (drawn) {
            ++tally().frames_drawn;
            return;
        }
        EXPECT_TRUE(renderer->init_vrender(window_.handle(), storm_video_w, storm_video_h,
                                           context_for(kind)));
        const bool again = draws_again(renderer, frames, own(kind));
        EXPECT_TRUE(again);
        tally().frames_drawn += again;
    }

    static int call_number(const std::vector<std::string>& calls, const std::string& name,
                           int occurrence)
    {
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i] == name && --occurrence == 0)
                return static_cast<int>(i + 1);
        ADD_FAILURE() << name << " is not made that often";
        return 0;
    }

    void only(device_kind kind, entry e, int n)
    {
        run(kind, e, only_call(n), "call " + std::to_string(n) + " fails");
    }

    // Every call failing alone; in the long run also with all after it, and in pairs.
    void storm(device_kind kind, entry e, const std::vector<std::string>& calls, bool pairs)
    {
        const int count = static_cast<int>(calls.size());
        for (int n = 1; n <= count; ++n) {
            only(kind, e, n);
            if (settings().long_run)
                run(kind, e, calls_from(n), "calls from " + std::to_string(n) + " on fail");
        }
        for (int first = 1; pairs && settings().long_run && first <= count; ++first)
            for (int second = first + 1; second <= count; ++second)
                run(kind, e, two_calls(first, second),
                    "calls " + std::to_string(first) + " and " + std::to_string(second) + " fail");
    }

    fake_d3d11_decoder decoder_{storm_video_w, storm_video_h, 3};
    d3d11_interception d3d11_;
    swap_chain_catcher catcher_;
    log_capture logs_;
    test_window window_{small_w, small_h};
};

} // namespace

TEST_F(d3d11_creation_storm, on_the_decoders_device)
{
    const std::vector<std::string> calls = count_calls(device_kind::decoders, entry::first_init);
    ASSERT_GT(calls.size(), 10u);
    storm(device_kind::decoders, entry::first_init, calls, true);
}

// The calls after the device's creation are those of the decoder's device; the short run
// takes the creation itself (the hardware device refused, then every driver type), a failure
// after it and the video texture.
TEST_F(d3d11_creation_storm, on_a_device_of_its_own)
{
    const std::vector<std::string> calls =
        count_calls(device_kind::own_with_standin, entry::first_init);
    ASSERT_GT(calls.size(), 10u);
    if (settings().long_run)
        return storm(device_kind::own_with_standin, entry::first_init, calls, false);
    only(device_kind::own_with_standin, entry::first_init, 1);
    run(device_kind::own_with_standin, entry::first_init, calls_from(1), "calls from 1 on fail");
    only(device_kind::own_with_standin, entry::first_init,
         call_number(calls, d3d11_calls::create_swap_chain, 1));
    only(device_kind::own_with_standin, entry::first_init,
         call_number(calls, d3d11_calls::device_call("CreateTexture2D"), 1));
}

// What Wine itself answers: the video texture is refused, the rest is made, nothing is drawn.
TEST_F(d3d11_creation_storm, on_a_device_of_its_own_without_nv12)
{
    const std::vector<std::string> calls =
        count_calls(device_kind::own_refused_nv12, entry::first_init);
    ASSERT_GT(calls.size(), 10u);
    if (settings().long_run)
        return storm(device_kind::own_refused_nv12, entry::first_init, calls, false);
    only(device_kind::own_refused_nv12, entry::first_init, 1);
    only(device_kind::own_refused_nv12, entry::first_init,
         call_number(calls, d3d11_calls::create_swap_chain, 1));
}

TEST_F(d3d11_creation_storm, at_the_rebuild_of_a_resize)
{
    const std::vector<std::string> calls = count_calls(device_kind::decoders, entry::resize);
    ASSERT_GT(calls.size(), 10u);
    if (settings().long_run)
        return storm(device_kind::decoders, entry::resize, calls, false);
    only(device_kind::decoders, entry::resize,
         call_number(calls, d3d11_calls::create_swap_chain, 1));
    only(device_kind::decoders, entry::resize, call_number(calls, d3d11_calls::get_desc, 2));
}
