// The front's own cost on software frames, and the NV12 converter, each against the libyuv
// call it is built on, alone, on the same sizes.
//
// front_software_path: render_frame through the public interface of a renderer whose
// backend does nothing, a 1080p picture into a real window of 1080p and of 540p; what is
// left is the window size check, the scaling into the front's buffer and the call sequence.
#include <libyuv/convert.h>
#include <libyuv/scale.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "frame_input.h"
#include "kx_vidrender.h"
#include "null_backend.h"

namespace {

constexpr int picture_width = 1920;
constexpr int picture_height = 1080;

void front_software_path(benchmark::State& state)
{
    const int window_width = static_cast<int>(state.range(0));
    const int window_height = static_cast<int>(state.range(1));
    null_backend_seam seam;
    const bench::window& window = bench::window::shared(window_width, window_height);
    if (!window.has_size(window_width, window_height)) {
        state.SkipWithError("the window does not have the asked size");
        return;
    }
    static bench::i420_picture picture(picture_width, picture_height);
    AVFrame frame = picture.frame();
    kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
    if (!renderer->init_vrender(window.handle(), picture_width, picture_height, nullptr)) {
        kx_vidrender::destroy_vrender(renderer);
        state.SkipWithError("init_vrender failed");
        return;
    }
    renderer->render_frame(&frame, picture_width, picture_height); // grows the scale buffer

    for (auto _ : state)
        renderer->render_frame(&frame, picture_width, picture_height);

    kx_vidrender::destroy_vrender(renderer);
    const null_backend_tally tally = seam.tally();
    if (tally.frames != static_cast<int>(state.iterations()) + 1 ||
        tally.luma_stride != window_width)
        state.SkipWithError("the backend did not receive every frame at the window's size");
}

void libyuv_i420_scale(benchmark::State& state)
{
    const uint32_t width = static_cast<uint32_t>(state.range(0));
    const uint32_t height = static_cast<uint32_t>(state.range(1));
    static bench::i420_picture picture(picture_width, picture_height);
    std::vector<uint8_t> scaled(static_cast<size_t>(width) * height * 7 / 4);
    const frame_input::i420_layout layout = frame_input::contiguous_i420(width, height);
    uint8_t* y = scaled.data();
    uint8_t* u = y + layout.u_offset;
    uint8_t* v = y + layout.v_offset;
    const int luma = static_cast<int>(layout.luma_stride);
    const int chroma = static_cast<int>(layout.chroma_stride);
    uint8_t** planes = picture.planes();
    const int* strides = picture.strides();
    const auto scale = [&] {
        return libyuv::I420Scale(planes[0], strides[0], planes[1], strides[1], planes[2],
                                 strides[2], picture_width, picture_height, y, luma, u, chroma, v,
                                 chroma, static_cast<int>(width), static_cast<int>(height),
                                 libyuv::kFilterBilinear);
    };
    scale(); // as the front's first frame before the timed ones

    for (auto _ : state) {
        benchmark::DoNotOptimize(scale());
        benchmark::ClobberMemory();
    }
}

void nv12_converter(benchmark::State& state)
{
    static std::vector<uint8_t> source = bench::nv12_picture(picture_width, picture_height);
    std::vector<uint8_t> target(source.size());
    const uint32_t source_length = static_cast<uint32_t>(source.size());
    const auto convert = [&] {
        uint32_t target_length = static_cast<uint32_t>(target.size());
        return kx_vidrender::yuvnv12_to_yuv420p(source.data(), source_length, picture_width,
                                                picture_height, target.data(), target_length);
    };
    bool converted = convert();

    for (auto _ : state) {
        converted = convert() && converted;
        benchmark::ClobberMemory();
    }
    if (!converted)
        state.SkipWithError("yuvnv12_to_yuv420p refused the picture");
}

void libyuv_nv12_to_i420(benchmark::State& state)
{
    static std::vector<uint8_t> source = bench::nv12_picture(picture_width, picture_height);
    std::vector<uint8_t> target(source.size());
    const frame_input::i420_layout layout =
        frame_input::contiguous_i420(picture_width, picture_height);
    const uint8_t* y = source.data();
    const uint8_t* uv = y + static_cast<size_t>(picture_width) * picture_height;
    uint8_t* out = target.data();
    const int chroma = static_cast<int>(layout.chroma_stride);
    const auto convert = [&] {
        return libyuv::NV12ToI420(y, picture_width, uv, picture_width, out, picture_width,
                                  out + layout.u_offset, chroma, out + layout.v_offset, chroma,
                                  picture_width, picture_height);
    };
    convert();

    for (auto _ : state) {
        benchmark::DoNotOptimize(convert());
        benchmark::ClobberMemory();
    }
}

// A benchmark's name for the summary: its name and arguments (the summary leaves out the
// iteration, repetition and time-kind suffixes).
std::string named(const char* benchmark, int width, int height)
{
    return std::string(benchmark) + "/" + std::to_string(width) + "/" + std::to_string(height);
}

} // namespace

void bench::register_benchmarks()
{
    constexpr int iterations = 200;
    constexpr int repetitions = 60;
    for (const auto& size : {std::make_pair(1920, 1080), std::make_pair(960, 540)}) {
        pinned(benchmark::RegisterBenchmark("front_software_path", front_software_path)
                   ->Args({size.first, size.second}),
               iterations, repetitions);
        pinned(benchmark::RegisterBenchmark("libyuv_I420Scale", libyuv_i420_scale)
                   ->Args({size.first, size.second}),
               iterations, repetitions);
        declare_ratio(named("front_software_path", size.first, size.second),
                      named("libyuv_I420Scale", size.first, size.second), "<=1.05",
                      "front software path, 1080p frame into a " + std::to_string(size.second) +
                          "p window, vs I420Scale alone");
    }
    pinned(benchmark::RegisterBenchmark("yuvnv12_to_yuv420p", nv12_converter), iterations,
           repetitions);
    pinned(benchmark::RegisterBenchmark("libyuv_NV12ToI420", libyuv_nv12_to_i420), iterations,
           repetitions);
    declare_ratio("yuvnv12_to_yuv420p", "libyuv_NV12ToI420", "<=1.1",
                  "yuvnv12_to_yuv420p at 1080p vs NV12ToI420 alone");
}
