// A camera wall: 16 renderers on 16 windows of 480x270, a 4x4 wall over a 1920x1080 screen,
// each fed its own 1920x1080 software stream, the frames interleaved as a player sends them
// (one frame to each renderer in turn makes one wall frame).
//   wall_front: the front's own cost, on backends that do nothing, against libyuv I420Scale
//   alone doing the same 16 scalings;
//   wall_d3d9 (this program) and wall_ddraw (bench_wall_ddraw, the same source run from the
//   folder of the stand-in d3d9.dll, which leaves the library DirectDraw only): whole wall
//   frames on the platform's backends, with the process's private bytes that the 16
//   renderers added, per renderer.
// A platform wall is made on first use and kept, so that its memory is counted once and every
// repetition sees steady renderers.
#include <windows.h>

#include <psapi.h>

#include <libyuv/scale.h>

#include <memory>
#include <vector>

#include "backend_factory.h"
#include "bench_support.h"
#include "frame_input.h"
#include "kx_vidrender.h"
#include "null_backend.h"

namespace {

constexpr int columns = 4;
constexpr int rows = 4;
constexpr int screens = columns * rows;
constexpr int tile_width = 480;
constexpr int tile_height = 270;
constexpr int picture_width = 1920;
constexpr int picture_height = 1080;
constexpr int warm_up_frames = 10;

// The 16 windows of the wall, made once.
const std::vector<std::unique_ptr<bench::window>>& wall_windows()
{
    static const std::vector<std::unique_ptr<bench::window>> windows = [] {
        std::vector<std::unique_ptr<bench::window>> made;
        for (int i = 0; i < screens; ++i)
            made.push_back(std::make_unique<bench::window>(
                tile_width, tile_height, i % columns * tile_width, i / columns * tile_height));
        return made;
    }();
    return windows;
}

// One stream a screen, each a picture of its own.
std::vector<std::unique_ptr<bench::i420_picture>>& streams()
{
    static std::vector<std::unique_ptr<bench::i420_picture>> pictures = [] {
        std::vector<std::unique_ptr<bench::i420_picture>> made;
        for (int i = 0; i < screens; ++i)
            made.push_back(std::make_unique<bench::i420_picture>(picture_width, picture_height));
        return made;
    }();
    return pictures;
}

// The process's commit charge, which Windows also reports as its private bytes (Wine fills in
// only this one of the two, from the process's anonymous memory).
size_t private_bytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

// 16 renderers, one on each window of the wall, fed by the seam in force when made.
class wall {
  public:
    wall()
    {
        const size_t before = private_bytes();
        for (int i = 0; i < screens; ++i) {
            kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
            started_ = renderer->init_vrender(wall_windows()[static_cast<size_t>(i)]->handle(),
                                              picture_width, picture_height, nullptr) &&
                       started_;
            renderers_.push_back(renderer);
        }
        for (int frame = 0; started_ && frame < warm_up_frames; ++frame)
            show_frame();
        added_per_renderer_ =
            (static_cast<double>(private_bytes()) - static_cast<double>(before)) / screens;
    }
    ~wall()
    {
        for (kx_vidrender* renderer : renderers_)
            kx_vidrender::destroy_vrender(renderer);
    }
    wall(const wall&) = delete;
    wall& operator=(const wall&) = delete;

    bool started() const { return started_; }
    double added_per_renderer() const { return added_per_renderer_; }

    // One frame to each renderer in turn.
    void show_frame()
    {
        for (int i = 0; i < screens; ++i) {
            AVFrame frame = streams()[static_cast<size_t>(i)]->frame();
            renderers_[static_cast<size_t>(i)]->render_frame(&frame, picture_width, picture_height);
        }
        bench::window::pump_messages();
    }

  private:
    std::vector<kx_vidrender*> renderers_;
    bool started_ = true;
    double added_per_renderer_ = 0.0;
};

#ifndef WALL_DDRAW

void wall_front(benchmark::State& state)
{
    null_backend_seam seam;
    wall screens_wall;
    if (!screens_wall.started()) {
        state.SkipWithError("init_vrender failed on a null backend");
        return;
    }
    const int frames_before = seam.tally().frames;

    for (auto _ : state)
        screens_wall.show_frame();

    const null_backend_tally tally = seam.tally();
    if (tally.frames - frames_before != static_cast<int>(state.iterations()) * screens ||
        tally.luma_stride != tile_width)
        state.SkipWithError("the backends did not receive every frame at the tile's size");
}

void wall_i420scale(benchmark::State& state)
{
    const frame_input::i420_layout layout = frame_input::contiguous_i420(tile_width, tile_height);
    std::vector<std::vector<uint8_t>> scaled(
        screens, std::vector<uint8_t>(static_cast<size_t>(tile_width) * tile_height * 7 / 4));
    const int luma = static_cast<int>(layout.luma_stride);
    const int chroma = static_cast<int>(layout.chroma_stride);
    const auto scale_all = [&] {
        int failed = 0;
        for (int i = 0; i < screens; ++i) {
            bench::i420_picture& picture = *streams()[static_cast<size_t>(i)];
            uint8_t* y = scaled[static_cast<size_t>(i)].data();
            failed |= libyuv::I420Scale(
                picture.planes()[0], picture.strides()[0], picture.planes()[1],
                picture.strides()[1], picture.planes()[2], picture.strides()[2], picture_width,
                picture_height, y, luma, y + layout.u_offset, chroma, y + layout.v_offset, chroma,
                tile_width, tile_height, libyuv::kFilterBilinear);
        }
        return failed;
    };
    scale_all(); // as each renderer's first frame before the timed ones

    for (auto _ : state) {
        benchmark::DoNotOptimize(scale_all());
        benchmark::ClobberMemory();
    }
}

#endif

// Whole wall frames on the platform's backends; the backend each renderer got is checked to
// be `wanted`.
int made_kinds = 0;
int wrong_kinds = 0;
int wanted_kind = -1;
std::unique_ptr<vrender_base> make_checked_backend(int kind)
{
    ++made_kinds;
    wrong_kinds += kind != wanted_kind;
    return make_platform_backend(kind);
}
const backend_seam checked_seam = {probe_render_caps, make_checked_backend};

void wall_platform(benchmark::State& state, int kind)
{
    wanted_kind = kind;
    install_backend_seam(&checked_seam);
    static std::unique_ptr<wall> kept; // each program runs one backend
    if (!kept)
        kept = std::make_unique<wall>();
    install_backend_seam(nullptr);
    if (!kept->started() || made_kinds < screens || wrong_kinds != 0) {
        state.SkipWithError("the wall's renderers did not all start on the wanted backend");
        return;
    }

    for (auto _ : state)
        kept->show_frame();

    state.counters["private_bytes_per_renderer"] = kept->added_per_renderer();
}

} // namespace

void bench::register_benchmarks()
{
    constexpr double mib = 1.0 / (1024.0 * 1024.0);
#ifndef WALL_DDRAW
    pinned(benchmark::RegisterBenchmark("wall_front", wall_front), 20, 21);
    pinned(benchmark::RegisterBenchmark("wall_I420Scale", wall_i420scale), 20, 21);
    declare_ratio("wall_front", "wall_I420Scale", "<=1.1",
                  "camera wall, 16 streams of 1080p into 480x270 windows: the front vs "
                  "I420Scale alone");
    pinned(
        benchmark::RegisterBenchmark(
            "wall_d3d9", [](benchmark::State& state) { wall_platform(state, render_kind_d3d9); }),
        10, 9);
    declare_figure("wall_d3d9", false, "camera wall frame (16 renderers) on Direct3D 9");
    declare_counter("wall_d3d9", "private_bytes_per_renderer", mib, "MiB",
                    "private bytes per renderer of the Direct3D 9 wall");
#else
    pinned(
        benchmark::RegisterBenchmark(
            "wall_ddraw", [](benchmark::State& state) { wall_platform(state, render_kind_ddraw); }),
        10, 9);
    declare_figure("wall_ddraw", false, "camera wall frame (16 renderers) on DirectDraw");
    declare_counter("wall_ddraw", "private_bytes_per_renderer", mib, "MiB",
                    "private bytes per renderer of the DirectDraw wall");
#endif
}
