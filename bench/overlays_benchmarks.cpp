// One frame of the 100-entry overlay list (overlay_scene.h) on each renderer, 1920x1080:
//   the Direct3D 9 renderer d3d_mytext, through d3d9_manager::draw_overlays on a
//   decoder-style plain device (a frame: begin_render, draw_overlays, present, and waiting
//   until the device has carried it all out); the same on a 9Ex device, where the renderer
//   draws texts itself since D3DX fonts need managed textures (and, wherever D3DX lines do
//   not draw, as under Wine, outlines too: the library's own path); an empty frame of the
//   plain device for scale;
//   the GDI renderer gdi_mytext on a 32-bit DIB section (a frame: draw, GdiFlush).
// Each steady frame is compared with its anchor (overlay_anchor.h): the same entries drawn
// with D3DX objects, or GDI and GDI+ objects, made once, in the same kind of frame.
// Each renderer's first frame, on a fresh renderer, is timed separately from its steady frames:
// what a renderer makes once and keeps (fonts, glyph textures) shows as the difference.
#include <cstring>
#include <list>
#include <memory>

#include "bench_support.h"
#include "d3d9_device.h"
#include "d3dx9_render/d3d9_manager.h"
#include "gdi_mytext.h"
#include "kx_logger.h"
#include "overlay_anchor.h"
#include "overlay_scene.h"

namespace {

constexpr int width = 1920;
constexpr int height = 1080;
constexpr uint32_t opaque_black = 0xFF000000;

// Counts the library's lines saying that a text was left out, while it lives.
class left_out_texts {
  public:
    left_out_texts() { kx_logger_set_sink(receive, this); }
    ~left_out_texts() { kx_logger_set_sink(nullptr, nullptr); }
    left_out_texts(const left_out_texts&) = delete;
    left_out_texts& operator=(const left_out_texts&) = delete;
    int count() const { return count_; }

  private:
    static void receive(void* user, int, const char*, int, int, const char* message)
    {
        if (std::strstr(message, "not drawn"))
            ++static_cast<left_out_texts*>(user)->count_;
    }
    int count_ = 0;
};

// The Direct3D 9 backend on a decoder's device, drawing into a window of the overlay size.
class d3d9_overlay_rig {
  public:
    bool ready() const { return ready_; }

    bool start(decoder_device& device)
    {
        device_ = &device;
        manager_ = std::make_unique<d3d9_manager>();
        ready_ = device.ready() && window_.has_size(width, height) &&
                 manager_->init_render(window_.handle(), width, height, width, height,
                                       device.codec_context());
        return ready_;
    }

    void frame(std::list<overlay_group>* groups)
    {
        frame_around([&] { manager_->draw_overlays(groups, width, height, nullptr); });
    }

    // A frame whose drawing between begin_render and present is `draw`.
    template <typename draw_fn> void frame_around(draw_fn draw)
    {
        manager_->begin_render(true, opaque_black);
        draw();
        manager_->present(nullptr, nullptr);
        device_->finish();
    }

  private:
    const bench::window& window_ = bench::window::shared(width, height);
    decoder_device* device_ = nullptr;
    std::unique_ptr<d3d9_manager> manager_;
    bool ready_ = false;
};

void d3d9_overlays_steady(benchmark::State& state)
{
    left_out_texts left_out;
    decoder_device device;
    d3d9_overlay_rig rig;
    if (!rig.start(device)) {
        state.SkipWithError("the Direct3D 9 backend could not start on a decoder's device");
        return;
    }
    std::list<overlay_group> groups = overlay_scene();
    rig.frame(&groups);

    for (auto _ : state)
        rig.frame(&groups);

    if (left_out.count() > 0)
        state.SkipWithError("texts were left out");
}

void d3d9_overlays_own_steady(benchmark::State& state)
{
    left_out_texts left_out;
    decoder_device device(true);
    d3d9_overlay_rig rig;
    if (!rig.start(device)) {
        state.SkipWithError("the Direct3D 9 backend could not start on a 9Ex decoder's device");
        return;
    }
    std::list<overlay_group> groups = overlay_scene();
    rig.frame(&groups);

    for (auto _ : state)
        rig.frame(&groups);

    if (left_out.count() > 0)
        state.SkipWithError("texts were left out");
}

void d3d9_overlays_first(benchmark::State& state)
{
    decoder_device device;
    for (auto _ : state) {
        d3d9_overlay_rig rig;
        if (!rig.start(device)) {
            state.SkipWithError("the Direct3D 9 backend could not start on a decoder's device");
            return;
        }
        std::list<overlay_group> groups = overlay_scene();
        device.finish();
        const double start = bench::now_seconds();
        rig.frame(&groups);
        state.SetIterationTime(bench::now_seconds() - start);
    }
}

void d3d9_overlays_anchor(benchmark::State& state)
{
    decoder_device device;
    d3d9_overlay_rig rig;
    if (!rig.start(device)) {
        state.SkipWithError("the Direct3D 9 backend could not start on a decoder's device");
        return;
    }
    const anchor::scene scene = anchor::reduce(overlay_scene(), width, height);
    anchor::d3dx_anchor drawing(device.device(), scene);
    if (!drawing.ready()) {
        state.SkipWithError("the D3DX objects could not be made");
        return;
    }
    rig.frame_around([&] { drawing.frame(); });

    for (auto _ : state)
        rig.frame_around([&] { drawing.frame(); });
}

void d3d9_empty_frame(benchmark::State& state)
{
    decoder_device device;
    d3d9_overlay_rig rig;
    if (!rig.start(device)) {
        state.SkipWithError("the Direct3D 9 backend could not start on a decoder's device");
        return;
    }
    std::list<overlay_group> none;
    rig.frame(&none);

    for (auto _ : state)
        rig.frame(&none);
}

// A black 32-bit DIB section of the overlay size in a memory device context.
class dib_canvas {
  public:
    dib_canvas()
    {
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(info.bmiHeader), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        if (dc_ && bitmap_)
            previous_ = SelectObject(dc_, bitmap_);
    }
    ~dib_canvas()
    {
        if (previous_)
            SelectObject(dc_, previous_);
        if (bitmap_)
            DeleteObject(bitmap_);
        if (dc_)
            DeleteDC(dc_);
    }
    dib_canvas(const dib_canvas&) = delete;
    dib_canvas& operator=(const dib_canvas&) = delete;

    bool ready() const { return previous_ != nullptr && bits_ != nullptr; }
    HDC dc() const { return dc_; }

    // True when some pixel is no longer black.
    bool drawn_on() const
    {
        const auto* pixels = static_cast<const uint32_t*>(bits_);
        for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
            if (pixels[i] & 0x00FFFFFF)
                return true;
        return false;
    }

  private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
};

bool gdi_frame(gdi_mytext& renderer, const dib_canvas& canvas, std::list<overlay_group>& groups)
{
    const bool drawn = renderer.draw(canvas.dc(), &groups, width, height, nullptr);
    GdiFlush();
    return drawn;
}

void gdi_overlays_steady(benchmark::State& state)
{
    dib_canvas canvas;
    if (!canvas.ready()) {
        state.SkipWithError("no DIB section");
        return;
    }
    gdi_mytext renderer;
    renderer.init(width, height);
    std::list<overlay_group> groups = overlay_scene();
    bool drawn = gdi_frame(renderer, canvas, groups);

    for (auto _ : state)
        drawn = gdi_frame(renderer, canvas, groups) && drawn;

    if (!drawn || !canvas.drawn_on())
        state.SkipWithError("the GDI renderer drew nothing");
}

void gdi_overlays_anchor(benchmark::State& state)
{
    dib_canvas canvas;
    if (!canvas.ready()) {
        state.SkipWithError("no DIB section");
        return;
    }
    const anchor::scene scene = anchor::reduce(overlay_scene(), width, height);
    anchor::gdi_anchor drawing(scene);
    bool drawn = drawing.frame(canvas.dc());
    GdiFlush();

    for (auto _ : state) {
        drawn = drawing.frame(canvas.dc()) && drawn;
        GdiFlush();
    }

    if (!drawn || !canvas.drawn_on())
        state.SkipWithError("the GDI anchor drew nothing");
}

void gdi_overlays_first(benchmark::State& state)
{
    dib_canvas canvas;
    if (!canvas.ready()) {
        state.SkipWithError("no DIB section");
        return;
    }
    for (auto _ : state) {
        auto renderer = std::make_unique<gdi_mytext>();
        renderer->init(width, height);
        std::list<overlay_group> groups = overlay_scene();
        const double start = bench::now_seconds();
        gdi_frame(*renderer, canvas, groups);
        state.SetIterationTime(bench::now_seconds() - start);
    }
}

} // namespace

void bench::register_benchmarks()
{
    pinned(benchmark::RegisterBenchmark("d3d9_overlays_steady", d3d9_overlays_steady), 5, 25);
    pinned(benchmark::RegisterBenchmark("d3d9_overlays_own_steady", d3d9_overlays_own_steady), 5,
           25);
    pinned(benchmark::RegisterBenchmark("d3d9_overlays_first", d3d9_overlays_first), 2, 25,
           timing::manual);
    pinned(benchmark::RegisterBenchmark("d3d9_overlays_anchor", d3d9_overlays_anchor), 5, 25);
    pinned(benchmark::RegisterBenchmark("d3d9_empty_frame", d3d9_empty_frame), 5, 25);
    pinned(benchmark::RegisterBenchmark("gdi_overlays_steady", gdi_overlays_steady), 5, 25);
    pinned(benchmark::RegisterBenchmark("gdi_overlays_anchor", gdi_overlays_anchor), 5, 25);
    pinned(benchmark::RegisterBenchmark("gdi_overlays_first", gdi_overlays_first), 2, 25,
           timing::manual);

    declare_ratio("gdi_overlays_steady", "gdi_overlays_anchor", "<=1.3",
                  "GDI renderer, 100 overlay entries at 1920x1080 (steady) vs GDI and GDI+ "
                  "objects made once");
    declare_ratio("d3d9_overlays_steady", "d3d9_overlays_anchor", "",
                  "Direct3D 9 renderer, 100 overlay entries at 1920x1080 (steady) vs D3DX "
                  "objects made once");
    declare_figure("d3d9_overlays_steady", false,
                   "Direct3D 9 frame with 100 overlay entries, 1920x1080 (steady)");
    declare_ratio("d3d9_overlays_own_steady", "d3d9_empty_frame", "",
                  "Direct3D 9 frame with 100 overlay entries drawn by the library's own path vs "
                  "an empty frame, 1920x1080");
    declare_figure("d3d9_empty_frame", false,
                   "Direct3D 9 frame without overlays (clear, present), 1920x1080");
    declare_figure("d3d9_overlays_anchor", false,
                   "Direct3D 9 frame with the same entries drawn by the D3DX anchor");
    declare_figure("gdi_overlays_steady", false,
                   "GDI frame with 100 overlay entries, 1920x1080 (steady)");
    declare_figure("gdi_overlays_anchor", false,
                   "GDI frame with the same entries drawn by the GDI and GDI+ anchor");
    declare_ratio("d3d9_overlays_first", "d3d9_overlays_steady", "",
                  "Direct3D 9 overlays: first frame of a new renderer vs steady frames");
    declare_ratio("gdi_overlays_first", "gdi_overlays_steady", "",
                  "GDI overlays: first frame of a new renderer vs steady frames");
}
