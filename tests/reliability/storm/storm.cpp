// vrender_reliability storm [--long] [--seed N] [--part losses|creation]: device and surface loss
// over and over, and creation calls failing one after another, on real platform objects whose
// methods are patched in place. Ends with one "fault storm" line; exit 1 when a check failed.
#include "storm.h"

#include <d3d11.h>
#include <d3d9.h>
#include <d3dx9.h>
#include <ddraw.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "d3d11_fake_decoder.h"
#include "d3d11_readback.h"
#include "dc_capture.h"
#include "fake_dxva2_decoder.h"
#include "import_patch.h"
#include "modes.h"
#include "test_picture.h"

namespace {

constexpr int video_w = 160;
constexpr int video_h = 120;

bool close_to(int got, int want)
{
    return std::abs(got - want) <= 8;
}

// Frames that reach the draw callback, which captures the finished picture.
class captured_path : public storm_path {
  protected:
    bool open(kx_pixel_fmt format, AVCodecContext* codec_ctx)
    {
        stop();
        renderer_ = kx_vidrender::create_vrender(format);
        const bool ok = renderer_->init_vrender(window(), video_w, video_h, codec_ctx);
        capture_ = {video_w, video_h, 0, {}};
        renderer_->set_draw_callback(capture_callback, 0, &capture_);
        return ok;
    }
    bool shown(AVFrame* frame, uint32_t rgb)
    {
        const int before = capture_.frames;
        renderer_->render_frame(frame, video_w, video_h);
        const captured_picture& got = capture_.last;
        return capture_.frames == before + 1 && close_to(got.red(80, 60), rgb >> 16 & 0xFF) &&
               close_to(got.green(80, 60), rgb >> 8 & 0xFF) &&
               close_to(got.blue(80, 60), rgb & 0xFF);
    }

  private:
    frame_capture capture_;
};

// Flat greys, whatever the colour class: limited-range Y 16 is black and 235 white.
class software_frames : public captured_path {
  public:
    const char* name() const override { return "software frames"; }
    bool start() override { return open(kx_pix_fmt_yuv420p, nullptr); }
    bool frame(int n) override
    {
        return shown(&(n & 2 ? white_ : black_).frame, n & 2 ? 0xFFFFFF : 0);
    }

  private:
    test_picture white_{video_w, video_h, 235, 128, 128};
    test_picture black_{video_w, video_h, 16, 128, 128};
};

class dxva2_frames : public captured_path {
  public:
    dxva2_frames() { com_targets::add(decoder_.device()); }
    ~dxva2_frames() override
    {
        stop();
        com_targets::remove(decoder_.device());
        for (IDirect3DSurface9* surface : surfaces_)
            surface->Release();
    }
    const char* name() const override { return "DXVA2 frames"; }
    bool start() override { return open(kx_pix_fmt_dxva2_vld, decoder_.codec_context()); }
    bool frame(int n) override
    {
        AVFrame frame = decoder_.frame_of(surfaces_[n >> 1 & 1]);
        return shown(&frame, n & 2 ? 0x2090A0 : 0xE08020);
    }
    std::vector<IUnknown*> borrowed() override { return {decoder_.device(), decoder_.d3d9()}; }

  private:
    fake_dxva2_decoder decoder_;
    IDirect3DSurface9* surfaces_[2] = {
        decoder_.make_surface(video_w, video_h, [](int, int) { return 0xE08020u; }),
        decoder_.make_surface(video_w, video_h, [](int, int) { return 0x2090A0u; })};
};

// Drawn is the grey of the slice's luma (neutral chroma) in the back buffer as it is presented.
// Present is watched on every swap chain through one of this path's own, whose table the
// library's share.
class d3d11_frames : public storm_path {
    using present = method_patch<&IDXGISwapChain::Present>;

  public:
    d3d11_frames()
    {
        decoder_.fill_luma(0, [](int, int) -> uint8_t { return 40; });
        decoder_.fill_luma(1, [](int, int) -> uint8_t { return 200; });
        DXGI_SWAP_CHAIN_DESC desc = {};
        desc.BufferDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc.Count = desc.BufferCount = 1;
        desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        desc.OutputWindow = own_window_.handle();
        desc.Windowed = TRUE;
        IDXGIFactory* factory = nullptr;
        CreateDXGIFactory(__uuidof(IDXGIFactory), reinterpret_cast<void**>(&factory));
        factory->CreateSwapChain(decoder_.device(), &desc, &table_owner_);
        factory->Release();
        watch_ = std::make_unique<present>(
            table_owner_,
            [this](IDXGISwapChain* self, UINT interval, UINT flags) {
                look_at(self);
                return present::next(self, interval, flags);
            },
            true);
    }
    ~d3d11_frames() override
    {
        stop();
        watch_.reset();
        table_owner_->Release();
    }
    const char* name() const override { return "Direct3D 11 frames"; }
    bool start() override
    {
        stop();
        renderer_ = kx_vidrender::create_vrender(kx_pix_fmt_d3d11);
        const bool ok =
            renderer_->init_vrender(window(), video_w, video_h, decoder_.codec_context());
        decoder_.fill_chroma(128, 128);
        return ok;
    }
    bool frame(int n) override
    {
        shown_ = -1;
        AVFrame frame = decoder_.frame_of(n >> 1 & 1);
        renderer_->render_frame(&frame, video_w, video_h);
        return close_to(shown_, ((n & 2 ? 200 : 40) - 16) * 255 / 219);
    }
    std::vector<IUnknown*> borrowed() override
    {
        decoder_.release_standins();
        return {decoder_.device(), decoder_.context()};
    }
    int locks_unreturned() const { return decoder_.locks - decoder_.unlocks; }
    IDXGISwapChain* table_owner() const { return table_owner_; }

  private:
    void look_at(IDXGISwapChain* swap_chain)
    {
        const bypass_faults own_calls;
        ID3D11Texture2D* buffer = nullptr;
        if (FAILED(swap_chain->GetBuffer(0, __uuidof(ID3D11Texture2D),
                                         reinterpret_cast<void**>(&buffer))))
            return;
        const texture_pixels pixels = read_pixels(decoder_.context(), buffer);
        buffer->Release();
        if (!pixels.empty())
            shown_ = pixels.green(pixels.width / 2, pixels.height / 2);
    }

    fake_d3d11_decoder decoder_{video_w, video_h, 2};
    test_window own_window_{64, 64};
    IDXGISwapChain* table_owner_ = nullptr;
    std::unique_ptr<present> watch_;
    int shown_ = -1;
};

// Device loss after device loss: the swap chain's Present reports the loss, the device stays
// lost for a few frames (dropped), then needs a reset and the front rebuilds; in every third
// rebuild a creation call fails, which must log `failed_lines` and still draw.
void d3d9_loss_storm(storm_path& path, IDirect3DDevice9* device, int losses,
                     const std::function<std::shared_ptr<void>()>& failing_rebuild,
                     const std::vector<std::string>& failed_lines)
{
    path.check_counts();
    const std::string name = path.name();
    int n = 0;
    check(path.start() && draws_again(path, n), name + ": the first frames");
    IDirect3DSwapChain9* table_owner = nullptr;
    device->GetSwapChain(0, &table_owner);
    table_owner->Release(); // the device keeps it
    bool lose = false;
    int lost_frames = -1;
    auto losing = fail_calls<&IDirect3DSwapChain9::Present>(table_owner, D3DERR_DEVICELOST,
                                                            [&](int) { return lose; });
    using cooperation = method_patch<&IDirect3DDevice9::TestCooperativeLevel>;
    cooperation lost(
        device,
        [&](IDirect3DDevice9* self) -> HRESULT {
            if (lost_frames < 0)
                return cooperation::next(self);
            return lost_frames-- > 0 ? D3DERR_DEVICELOST : D3DERR_DEVICENOTRESET;
        },
        true);
    log_capture logs;
    for (int loss = 0; loss < losses; ++loss, ++run().runs) {
        const std::string where = name + ", loss " + std::to_string(loss);
        const int held = static_cast<int>(run().random() % 3);
        logs.clear();
        lose = true;
        path.frame(n++);
        lose = false;
        lost_frames = held;
        for (int i = 0; i < held; ++i, ++run().dropped)
            check(!path.frame(n++), where + ": a frame drawn while the device is lost");
        {
            std::shared_ptr<void> failing = loss % 3 == 2 ? failing_rebuild() : nullptr;
            path.frame(n++);
            lost_frames = -1;
        }
        check(draws_again(path, n), where + ": no frame drawn after the loss");
        std::vector<std::string> expected = {"1 device lost error occured!\n"};
        if (loss % 3 == 2)
            expected.insert(expected.end(), failed_lines.begin(), failed_lines.end());
        check(errors(logs) == expected, where + ": the loss's lines");
        check(logs.count(3, "handle lost and reset render object "
                            "uuuuuuuuuuuuuuuuuuuuuuuuuuu\n") == 1,
              where + ": one rebuild");
    }
    path.stop();
    path.check_counts();
}

HRESULT WINAPI refused_sprite(IDirect3DDevice9*, ID3DXSprite** sprite)
{
    ++run().faults;
    *sprite = nullptr;
    return E_OUTOFMEMORY;
}

// On the decoder's device the rebuild goes on without the overlay objects; on a device of its
// own the backend falls back from the Ex device to a plain one.
void d3d9_loss_storms()
{
    fake_dxva2_decoder table_owner;
    d3d9_loss_storm(*make_path(path_kind::dxva2), table_owner.device(), run().long_run ? 2000 : 12,
                    [] {
                        return std::make_shared<import_patch>(
                            GetModuleHandleA("video_render.dll"), "d3dx9_43.dll",
                            "D3DXCreateSprite", reinterpret_cast<void*>(refused_sprite));
                    },
                    {});
    IDirect3D9Ex* d3d9ex = nullptr;
    Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d9ex);
    d3d9_loss_storm(*make_path(path_kind::software), table_owner.device(), run().long_run ? 200 : 6,
                    [d3d9ex] {
                        return fail_calls<&IDirect3D9Ex::CreateDeviceEx>(
                            d3d9ex, D3DERR_OUTOFVIDEOMEMORY, only_call(1));
                    },
                    {code_text("1 CreateDeviceEx error,code:%p!\n", D3DERR_OUTOFVIDEOMEMORY),
                     "1 CreateDeviceEx error!Try CreateDevice...\n"});
    d3d9ex->Release();
}

// Surfaces lost over and over: a blit reports the loss, Restore fails for a few frames
// (dropped), then the picture comes back without a rebuild.
void ddraw_loss_storm()
{
    std::unique_ptr<storm_path> path = make_path(path_kind::software);
    int n = 0;
    check(path->start() && draws_again(*path, n), "DirectDraw: the first frames");
    IDirectDraw* ddraw = nullptr;
    DirectDrawCreate(nullptr, &ddraw, nullptr);
    ddraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.dwWidth = desc.dwHeight = 8;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    IDirectDrawSurface* surface = nullptr;
    IDirectDrawSurface2* table_owner = nullptr;
    ddraw->CreateSurface(&desc, &surface, nullptr);
    surface->QueryInterface(IID_IDirectDrawSurface2, reinterpret_cast<void**>(&table_owner));
    bool lose = false;
    bool stuck = false;
    auto losing = fail_calls<&IDirectDrawSurface2::Blt>(table_owner, DDERR_SURFACELOST,
                                                        [&](int) { return lose; });
    auto refusing = fail_calls<&IDirectDrawSurface2::Restore>(table_owner, DDERR_WRONGMODE,
                                                              [&](int) { return stuck; });
    log_capture logs;
    const std::vector<std::string> lines = {
        code_text("1 Blt rgb_offscreen_surface_ error!result:%p\n", DDERR_SURFACELOST)};
    for (int loss = 0; loss < (run().long_run ? 20000 : 160); ++loss, ++run().runs) {
        const std::string where = "DirectDraw, loss " + std::to_string(loss);
        logs.clear();
        lose = true;
        path->frame(n++);
        lose = false;
        stuck = true;
        for (int i = static_cast<int>(run().random() % 3); i >= 0; --i, ++run().dropped)
            check(!path->frame(n++), where + ": a frame drawn before the surfaces came back");
        stuck = false;
        check(draws_again(*path, n), where + ": no frame drawn after the surfaces came back");
        check(errors(logs) == lines, where + ": the loss's lines");
    }
    losing.reset();
    refusing.reset();
    table_owner->Release();
    surface->Release();
    ddraw->Release();
}

// Present failing for stretches: nothing is logged, the decoder's lock is given back after
// every frame and the frames after the stretch show their pictures.
void d3d11_present_storm()
{
    d3d11_frames path;
    path.check_counts();
    int n = 0;
    check(path.start() && draws_again(path, n), "Direct3D 11: the first frames");
    int failing = 0;
    using present = method_patch<&IDXGISwapChain::Present>;
    present presenting(
        path.table_owner(),
        [&](IDXGISwapChain* self, UINT interval, UINT flags) -> HRESULT {
            const HRESULT shown = present::next(self, interval, flags);
            if (failing-- <= 0)
                return shown;
            ++run().faults;
            return DXGI_ERROR_DEVICE_REMOVED;
        },
        true);
    log_capture logs;
    for (int stretch = 0; stretch < (run().long_run ? 1000 : 24); ++stretch, ++run().runs) {
        const std::string where = "Direct3D 11, stretch " + std::to_string(stretch);
        failing = 1 + static_cast<int>(run().random() % 5);
        for (int frames = failing; frames > 0; --frames, ++run().dropped)
            path.frame(n++);
        check(draws_again(path, n), where + ": no frame drawn after the stretch");
        check(path.locks_unreturned() == 0, where + ": the decoder's lock is held");
    }
    check(logs.lines().empty(), "Direct3D 11: lines logged by the present storm");
    path.stop();
    path.check_counts();
}

} // namespace

storm_run& run()
{
    static storm_run the_run;
    return the_run;
}

bool check(bool ok, const std::string& what)
{
    if (!ok && ++run().failures)
        std::fprintf(stderr, "storm: %s\n", what.c_str());
    return ok;
}

std::string code_text(const char* format, HRESULT code)
{
    char text[256];
    const auto bits = static_cast<uint32_t>(code);
    if (std::strstr(format, "%p"))
        std::snprintf(text, sizeof(text), format, reinterpret_cast<void*>(uintptr_t{bits}));
    else
        std::snprintf(text, sizeof(text), format, bits);
    return text;
}

std::vector<std::string> errors(const log_capture& logs)
{
    std::vector<std::string> lines;
    for (const log_line& line : logs.lines())
        if (line.level == 1)
            lines.push_back("1 " + line.text);
    return lines.empty() ? std::vector<std::string>{"none"} : lines;
}

void storm_path::stop()
{
    if (renderer_)
        kx_vidrender::destroy_vrender(renderer_);
    renderer_ = nullptr;
}

void storm_path::check_counts()
{
    std::vector<ULONG> counts;
    for (IUnknown* object : borrowed()) {
        object->AddRef();
        counts.push_back(object->Release());
    }
    if (counts_.empty())
        counts_ = counts;
    check(counts == counts_, std::string(name()) + ": a borrowed object's count changed");
}

bool draws_again(storm_path& path, int& n)
{
    n += n & 1;
    const bool first = path.frame(n++);
    const bool drawn = path.frame(n++) || first;
    run().drawn += drawn;
    return drawn;
}

std::unique_ptr<storm_path> make_path(path_kind kind)
{
    if (kind == path_kind::dxva2)
        return std::make_unique<dxva2_frames>();
    if (kind == path_kind::d3d11)
        return std::make_unique<d3d11_frames>();
    return std::make_unique<software_frames>();
}

int run_storm(int argc, char** argv)
{
    unsigned seed = 1;
    std::string part = "all";
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--long") == 0) {
            run().long_run = true;
        } else if (i + 1 < argc && std::strcmp(argv[i], "--seed") == 0) {
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (i + 1 < argc && std::strcmp(argv[i], "--part") == 0) {
            part = argv[++i];
        } else {
            std::fprintf(stderr, "usage: storm [--long] [--seed N] [--part losses|creation]\n");
            return 2;
        }
    }
    run().random.seed(seed);
    IDirect3D9Ex* d3d9 = nullptr;
    const bool ddraw_only = FAILED(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d9)) || !d3d9;
    if (d3d9)
        d3d9->Release();
    if (part != "creation" && ddraw_only) {
        ddraw_loss_storm();
    } else if (part != "creation") {
        d3d9_loss_storms();
        d3d11_present_storm();
    }
    if (part != "losses")
        creation_storms(ddraw_only);
    const storm_run& r = run();
    std::printf("fault storm (%s, %s, seed %u): %ld faults injected, %ld frames drawn, %ld frames "
                "dropped, %ld runs, %d failures\n",
                ddraw_only ? "DirectDraw" : "Direct3D 9 and 11", r.long_run ? "long" : "short",
                seed, r.faults, r.drawn, r.dropped, r.runs, r.failures);
    return r.failures ? 1 : 0;
}
