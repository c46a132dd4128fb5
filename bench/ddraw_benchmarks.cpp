// The DirectDraw backend:
//   its colour adjustment on the processor (rgb_adjust), as draw_image runs it on a 1080p back
//   surface with all four values off neutral: the AVX2 form against the SSE2 form and the SSE2
//   form against the plain loop, each timed on freshly restored pixels;
//   whole software frames per second through the public interface on Wine's real DirectDraw,
//   the front told (through the backend seam) that Direct3D 9 is not usable.
#include <cstring>
#include <map>
#include <vector>

#include "backend_factory.h"
#include "bench_support.h"
#include "ddraw_render/rgb_adjust.h"
#include "kx_vidrender.h"

namespace {

constexpr int surface_width = 1920;
constexpr int surface_height = 1080;
constexpr int surface_pitch = surface_width * 4;
constexpr int frame_width = 1280;
constexpr int frame_height = 720;
// Contrast, brightness, saturation, hue: every step of the adjustment runs.
constexpr int off_neutral[4] = {60, 45, 70, 30};

using adjust_function = void (*)(uint8_t*, int, int, int, const rgb_adjust::params&);

// A back surface's pixels, blue, green, red, fourth byte, with every value of each.
const std::vector<uint8_t>& back_surface()
{
    static const std::vector<uint8_t> pixels = [] {
        std::vector<uint8_t> made(static_cast<size_t>(surface_pitch) * surface_height);
        for (size_t i = 0; i < made.size(); ++i)
            made[i] = static_cast<uint8_t>((i * 7 + i / surface_pitch * 3) ^ (i >> 9));
        return made;
    }();
    return pixels;
}

rgb_adjust::params adjustment()
{
    return rgb_adjust::make_params(off_neutral, rgb_adjust::make_hue_turns());
}

bool compare_with_plain(adjust_function adjust)
{
    std::vector<uint8_t> plain = back_surface();
    std::vector<uint8_t> simd = back_surface();
    const rgb_adjust::params p = adjustment();
    rgb_adjust::apply_plain(plain.data(), surface_width, surface_height, surface_pitch, p);
    adjust(simd.data(), surface_width, surface_height, surface_pitch, p);
    return plain == simd && plain != back_surface();
}

// Compared once a form, not on every repetition.
bool matches_plain(adjust_function adjust)
{
    static std::map<adjust_function, bool> compared;
    const auto known = compared.find(adjust);
    return known != compared.end() ? known->second
                                   : (compared[adjust] = compare_with_plain(adjust));
}

void ddraw_adjust(benchmark::State& state, adjust_function adjust)
{
    if (adjust == rgb_adjust::apply_avx2 && !rgb_adjust::avx2_available()) {
        state.SkipWithError("this processor or system has no AVX2");
        return;
    }
    if (!rgb_adjust::sse2_available() || !matches_plain(adjust)) {
        state.SkipWithError("no SSE2, or this form gives other bytes than the plain loop");
        return;
    }
    const rgb_adjust::params p = adjustment();
    std::vector<uint8_t> pixels(back_surface().size());

    for (auto _ : state) {
        std::memcpy(pixels.data(), back_surface().data(), pixels.size());
        const double started = bench::now_seconds();
        adjust(pixels.data(), surface_width, surface_height, surface_pitch, p);
        benchmark::ClobberMemory();
        state.SetIterationTime(bench::now_seconds() - started);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * surface_width *
                            surface_height);
}

void ddraw_adjust_avx2(benchmark::State& state)
{
    ddraw_adjust(state, rgb_adjust::apply_avx2);
}

void ddraw_adjust_sse2(benchmark::State& state)
{
    ddraw_adjust(state, rgb_adjust::apply_sse2);
}

void ddraw_adjust_plain(benchmark::State& state)
{
    ddraw_adjust(state, rgb_adjust::apply_plain);
}

// The platform's backends, on a machine reported to have DirectDraw and no usable Direct3D 9
// (a DirectDraw that does not work shows as a failed init_vrender).
int made_kind = -1;
int ddraw_only_caps()
{
    return caps_ddraw;
}
std::unique_ptr<vrender_base> make_counted_backend(int kind)
{
    made_kind = kind;
    return make_platform_backend(kind);
}
const backend_seam ddraw_only_seam = {ddraw_only_caps, make_counted_backend};

// state.range(0): 1 with the four adjustment values off neutral, 0 with them neutral.
void ddraw_whole_frames(benchmark::State& state)
{
    install_backend_seam(&ddraw_only_seam);
    made_kind = -1;
    const bench::window& window = bench::window::shared(frame_width, frame_height);
    static bench::i420_picture picture(frame_width, frame_height);
    AVFrame frame = picture.frame();
    kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
    const bool started =
        renderer->init_vrender(window.handle(), frame_width, frame_height, nullptr) &&
        made_kind == render_kind_ddraw;
    if (started && state.range(0) != 0)
        renderer->set_image_adjust(off_neutral);
    for (int warm_up = 0; started && warm_up < 10; ++warm_up)
        renderer->render_frame(&frame, frame_width, frame_height);

    for (auto _ : state) {
        if (!started)
            break;
        renderer->render_frame(&frame, frame_width, frame_height);
        bench::window::pump_messages();
    }

    kx_vidrender::destroy_vrender(renderer);
    install_backend_seam(nullptr);
    if (!started)
        state.SkipWithError("no DirectDraw renderer could be made");
    state.SetItemsProcessed(state.iterations());
}

} // namespace

void bench::register_benchmarks()
{
    constexpr double pixels = static_cast<double>(surface_width) * surface_height;
    // One pass a repetition: a pass lasts about a millisecond, and on a shared machine a
    // repetition of many passes is seldom without one that lost the processor.
    pinned(benchmark::RegisterBenchmark("ddraw_adjust_avx2", ddraw_adjust_avx2), 1, 301,
           timing::manual);
    pinned(benchmark::RegisterBenchmark("ddraw_adjust_sse2", ddraw_adjust_sse2), 1, 301,
           timing::manual);
    pinned(benchmark::RegisterBenchmark("ddraw_adjust_plain", ddraw_adjust_plain), 1, 61,
           timing::manual);
    declare_ratio("ddraw_adjust_sse2", "ddraw_adjust_avx2", ">=1.6",
                  "DirectDraw colour adjustment, 1080p: SSE2 form vs AVX2 form");
    declare_ratio("ddraw_adjust_plain", "ddraw_adjust_sse2", "",
                  "DirectDraw colour adjustment, 1080p: plain loop vs SSE2 form");
    declare_throughput("ddraw_adjust_avx2", pixels, "Gpixel/s",
                       "DirectDraw colour adjustment, 1080p, AVX2 form", ">=2.5");
    declare_throughput("ddraw_adjust_sse2", pixels, "Gpixel/s",
                       "DirectDraw colour adjustment, 1080p, SSE2 form");
    declare_throughput("ddraw_adjust_plain", pixels, "Gpixel/s",
                       "DirectDraw colour adjustment, 1080p, plain loop");

    pinned(benchmark::RegisterBenchmark("ddraw_whole_frames", ddraw_whole_frames)->Arg(0), 100, 5);
    pinned(benchmark::RegisterBenchmark("ddraw_whole_frames", ddraw_whole_frames)->Arg(1), 100, 5);
    declare_figure("ddraw_whole_frames/0", true,
                   "software frames per second through the DirectDraw backend, 1280x720");
    declare_figure("ddraw_whole_frames/1", true,
                   "the same, the four adjustment values off neutral");
}
