// The Direct3D 11 backend's creation calls failing one after another, through the public
// interface: on the decoder's device and on a device the backend makes itself, at the first
// initialisation and at the rebuild of a resize. A run without faults gives the calls in their
// order; then the n-th call fails (in the long run also every call from the n-th on, and every
// pair). A call failing alone must log the backend's line for it and end as the table below
// says; the frames after it must show the picture again (through a clean initialisation where
// the backend stays without an object it needs), the decoder's device and context must keep
// their reference counts, and every device and DXGI object the backend made must be let go.
//
// Wine refuses NV12 textures. With the stand-in of the test devices (an R8 and an R8G8 texture
// for the NV12 one) every step is reached and the picture is drawn; with the platform's own
// answer the video texture is never made, so its views are never tried and no frame is drawn.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "d3d11_storm_frames.h"
#include "kx_vidrender.h"
#include "test_window.h"

namespace {

constexpr int small_w = 128;
constexpr int small_h = 64;
constexpr int large_w = 144;
constexpr int large_h = 80;

const char* const texture_failed = "ID3D11Device::CreateTexture2D() failed, %s";

// "%x" of a failure code, as the backend prints it.
std::string hex(HRESULT code)
{
    return formatted("%x", static_cast<unsigned>(code));
}

// Wine's answer to the video texture, without the stand-in.
const std::string nv12_refused = "1 " + formatted(texture_failed, hex(E_INVALIDARG).c_str());

// Each creation call failing alone. A device of the backend's own is made first (the WARP one
// when the hardware one fails); the calls after it are those of the decoder's device, and at a
// resize the frame's GetDesc and GetBuffer follow the rebuild.
const std::vector<creation_fault>& faults()
{
    using d3d11_calls::device_call;
    using o = fault_outcome;
    const char* const factory = "Get DXGI factory failed, %s \n";
    const char* const view = "ID3D11Device::CreateRenderTargetView() failed, %s ";
    const char* const buffer = "ID3D11Device::CreateBuffer() failed, %s \n";
    static const std::vector<creation_fault> table = {
        {d3d11_calls::create_device(D3D_DRIVER_TYPE_HARDWARE), 1, o::draws},
        {d3d11_calls::query_dxgi_device, 1, o::fails, factory},
        {d3d11_calls::get_adapter, 1, o::fails, factory},
        {d3d11_calls::get_factory, 1, o::fails, factory},
        {d3d11_calls::query_multithread, 1, o::draws},
        {d3d11_calls::create_swap_chain, 1, o::fails, "create swap chain failed, %s \n"},
        // The video texture and its views.
        {device_call("CreateTexture2D"), 1, o::degraded, texture_failed},
        {device_call("CreateShaderResourceView"), 1, o::degraded,
         "ID3D11Device::CreateRenderTargetView(R8) failed, %s \n"},
        {device_call("CreateShaderResourceView"), 2, o::degraded,
         "ID3D11Device::CreateRenderTargetView(R8G8) failed, %s \n"},
        // The back buffer's view and the samplers.
        {d3d11_calls::get_buffer, 1, o::fails, view},
        {device_call("CreateRenderTargetView"), 1, o::fails, view},
        {device_call("CreateSamplerState"), 1, o::fails,
         "ID3D11Device::CreateSamplerState(POINT) failed, %s "},
        {device_call("CreateSamplerState"), 2, o::fails,
         "ID3D11Device::CreateSamplerState(LINEAR) failed, %s "},
        // The offscreen target.
        {device_call("CreateTexture2D"), 2, o::degraded, texture_failed},
        {device_call("CreateRenderTargetView"), 2, o::degraded,
         "ID3D11Device::CreateRenderTargetView() failed, %s \n"},
        // The vertex stage (the target's size, the shader, its layout, the vertex buffer and its
        // constants), the rasterizer state and the pixel stage.
        {d3d11_calls::get_desc, 1, o::degraded},
        {device_call("CreateVertexShader"), 1, o::degraded},
        {device_call("CreateInputLayout"), 1, o::degraded,
         "ID3D11Device::CreateInputLayout() failed, %s."},
        {device_call("CreateBuffer"), 1, o::degraded,
         "ID3D11Device::CreateBuffer(VERTEX_BUFFER) failed, %s \n"},
        {device_call("CreateBuffer"), 2, o::degraded, buffer},
        {device_call("CreateRasterizerState"), 1, o::degraded,
         "init_rasterizer_state failed, %s \n"},
        {device_call("CreatePixelShader"), 1, o::degraded, "init_pixel_shader failed, %s \n"},
        {device_call("CreateBuffer"), 3, o::degraded, buffer},
        {device_call("CreateBuffer"), 4, o::degraded, buffer},
        // The frame's: the target's size for the drawing, the back buffer for the present.
        {d3d11_calls::get_desc, 2, o::draws},
        {d3d11_calls::get_buffer, 2, o::draws},
    };
    return table;
}

// Whose device the backend draws with, and what Wine answers to its NV12 texture.
enum class device_kind { decoders, own_with_standin, own_refused_nv12 };
const char* const kind_names[] = {"decoder's device", "own device", "own device, NV12 refused"};

enum class entry { first_init, resize };

class d3d11_creation_storm : public creation_storm_test {
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

    bool own() const { return kind_ != device_kind::decoders; }

    bool init()
    {
        return renderer_->init_vrender(window_.handle(), storm_video_w, storm_video_h,
                                       own() ? nullptr : decoder_.codec_context());
    }

    // One frame; on a device of the backend's own, a frame that may rebuild carries no texture.
    void frame(storm_frames& frames, bool with_texture)
    {
        AVFrame next = frames.next(!with_texture);
        renderer_->render_frame(&next, storm_video_w, storm_video_h);
    }

    // Two frames, the second with the chroma filled: true when it shows its picture.
    bool draws_again(storm_frames& frames)
    {
        frame(frames, !own());
        frames.fill_chroma();
        frame(frames, true);
        return frames.shown(catcher_);
    }

    // The step of the entry from a renderer brought to where the faults start, with `failing`
    // calls failing: true when it reports success. The calls it made are left in made_.
    bool faulty_step(storm_frames& frames, failing_calls failing)
    {
        d3d11_interception::stand_in_for_nv12 = kind_ != device_kind::own_refused_nv12;
        window_.resize(small_w, small_h);
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_d3d11);
        if (entry_ == entry::resize) {
            EXPECT_TRUE(init());
            EXPECT_TRUE(draws_again(frames)); // on the decoder's device
            window_.resize(large_w, large_h);
        }
        logs_.clear();
        armed_plan armed(std::move(failing));
        bool ok = true;
        if (entry_ == entry::first_init)
            ok = init();
        else
            frame(frames, !own());
        made_ = plan().trace();
        return ok && !rebuild_failed(logs_);
    }

    void finish(storm_frames& frames)
    {
        kx_vidrender::destroy_vrender(renderer_);
        catcher_.release_caught();
        EXPECT_TRUE(frames.release_made_devices()) << "a device the backend made is held";
    }

    // The calls of the step of `e` without faults, printed, and its lines.
    void count_calls(device_kind kind, entry e)
    {
        kind_ = kind;
        entry_ = e;
        storm_frames frames(decoder_, own());
        EXPECT_TRUE(faulty_step(frames, no_call()));
        calls_ = made_;
        EXPECT_GT(calls_.size(), 10u);
        print_calls(std::string(kind_names[static_cast<int>(kind)]) +
                        (e == entry::resize ? ", rebuild for a resize" : ", first init"),
                    calls_);
        std::vector<std::string> lines;
        if (kind == device_kind::own_refused_nv12)
            lines.push_back(nv12_refused);
        if (e == entry::resize)
            lines.push_back(formatted("3 window size(%d*%d) changed ,update window texture!\n",
                                      large_w, large_h));
        EXPECT_EQ(leveled(logs_), lines);
        finish(frames);
        decoder_.device()->release_standins();
    }

    void run(const fault_pattern& pattern) override
    {
        SCOPED_TRACE(std::string(kind_names[static_cast<int>(kind_)]) +
                     (entry_ == entry::resize ? ", rebuild for a resize, " : ", first init, ") +
                     pattern.label);
        ASSERT_GE(pattern.first, 1);
        const ULONG device_refs = decoder_.device_refcount();
        const ULONG real_device_refs = decoder_.real_device_refcount();
        const ULONG context_refs = decoder_.context_refcount();
        {
            storm_frames frames(decoder_, own());
            const bool ok = faulty_step(frames, pattern.failing);
            const std::string& call = calls_[pattern.first - 1];
            const creation_fault* fault =
                find_fault(faults(), call, occurrence(calls_, pattern.first));
            // Wine refuses the NV12 texture wherever it is asked for and not made to fail (the
            // calls before it that let the initialisation go on log nothing).
            const int n = pattern.first;
            const int texture = nth(d3d11_calls::device_call("CreateTexture2D"), 1);
            const bool refused = kind_ == device_kind::own_refused_nv12 && n != texture &&
                                 (n > texture || (fault && fault->outcome != fault_outcome::fails));
            check_run(pattern, calls_, made_, fault, hex(d3d11_failure_code(call)),
                      refused ? std::vector<std::string>{nv12_refused} : std::vector<std::string>(),
                      entry_ == entry::resize
                          ? "1 window size changed, update window texture error!\n"
                          : "",
                      logs_, ok);

            // The frames after it, where a failed rebuild is tried again; where they do not
            // show the picture, a clean initialisation must.
            const bool drawn = draws_again(frames);
            if (kind_ == device_kind::own_refused_nv12) {
                EXPECT_FALSE(drawn);
            } else if ((pattern.alone && fault && fault->outcome == fault_outcome::draws) ||
                       (entry_ == entry::resize && !ok)) {
                EXPECT_TRUE(drawn) << "the frames after the fault";
            }
            tally().frames_drawn += drawn;
            if (!drawn && kind_ != device_kind::own_refused_nv12) {
                EXPECT_TRUE(init());
                const bool again = draws_again(frames);
                EXPECT_TRUE(again);
                tally().frames_drawn += again;
            }
            finish(frames);
        }
        EXPECT_EQ(d3d11_interception::wrappers_alive(), 0);
        decoder_.device()->release_standins();
        EXPECT_EQ(decoder_.device_refcount(), device_refs);
        EXPECT_EQ(decoder_.real_device_refcount(), real_device_refs);
        EXPECT_EQ(decoder_.context_refcount(), context_refs);
    }

    fake_d3d11_decoder decoder_{storm_video_w, storm_video_h, 3};
    d3d11_interception d3d11_;
    swap_chain_catcher catcher_;
    log_capture logs_;
    test_window window_{small_w, small_h};
    kx_vidrender* renderer_ = nullptr;
    device_kind kind_ = device_kind::decoders;
    entry entry_ = entry::first_init;
};

} // namespace

TEST_F(d3d11_creation_storm, on_the_decoders_device)
{
    count_calls(device_kind::decoders, entry::first_init);
    storm(true);
}

// The calls after the device's creation are those of the decoder's device; the short run
// takes the creation itself (the hardware device refused, then every driver type), a failure
// after it and the video texture.
TEST_F(d3d11_creation_storm, on_a_device_of_its_own)
{
    count_calls(device_kind::own_with_standin, entry::first_init);
    if (settings().long_run)
        return storm(false);
    run(call_alone(1));
    run(calls_from(1));
    run(call_alone(nth(d3d11_calls::create_swap_chain, 1)));
    run(call_alone(nth(d3d11_calls::device_call("CreateTexture2D"), 1)));
}

// What Wine itself answers: the video texture is refused, the rest is made, nothing is drawn.
TEST_F(d3d11_creation_storm, on_a_device_of_its_own_without_nv12)
{
    count_calls(device_kind::own_refused_nv12, entry::first_init);
    if (settings().long_run)
        return storm(false);
    run(call_alone(1));
    run(call_alone(nth(d3d11_calls::create_swap_chain, 1)));
}

TEST_F(d3d11_creation_storm, at_the_rebuild_of_a_resize)
{
    count_calls(device_kind::decoders, entry::resize);
    if (settings().long_run)
        return storm(false);
    run(call_alone(nth(d3d11_calls::create_swap_chain, 1)));
    run(call_alone(nth(d3d11_calls::get_desc, 2)));
}
