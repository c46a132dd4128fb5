// What every benchmark program shares: its start-up, the ratios and figures it declares for
// bench/summary.py, real windows and test pictures.
//
// Each program defines bench::register_benchmarks(), which registers its benchmarks and
// declares what the summary reports. A ratio compares two benchmarks of the same run: the
// median real time per iteration of a candidate over that of its anchor.
#pragma once

#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ffmpeg_records.h"

namespace bench {

// Defined by each program: registers its benchmarks and declares its ratios and figures.
void register_benchmarks();

// Declares a ratio for the summary: the median real time per iteration of `candidate` over
// that of `anchor`. Names are a benchmark's name and arguments ("front_software_path/960/540"),
// without the iterations, repeats and real_time or manual_time suffixes that Google Benchmark
// adds. `goal` is "<=1.05", ">=2" or empty for information only; `what` says in a few words
// what is compared.
void declare_ratio(const std::string& candidate, const std::string& anchor, const std::string& goal,
                   const std::string& what);

// Declares a figure for the summary: the median real time per iteration of `benchmark`,
// shown in milliseconds, or as iterations per second with `per_second`.
void declare_figure(const std::string& benchmark, bool per_second, const std::string& what);

// Declares a throughput for the summary: `items` (pixels, say) per iteration over the median
// real time per iteration of `benchmark`, shown in thousand millions of them per second with
// `unit` as the label ("Gpixel/s"), against `goal` (">=2.5" in those units, or empty).
void declare_throughput(const std::string& benchmark, double items, const std::string& unit,
                        const std::string& what, const std::string& goal = "");

// Declares a figure for the summary: the counter `counter` that `benchmark` set (its median
// over the repetitions), times `scale`, shown with `unit` as the label.
void declare_counter(const std::string& benchmark, const std::string& counter, double scale,
                     const std::string& unit, const std::string& what);

// How a benchmark's iterations are timed: on the wall clock, or by the benchmark itself
// (State::SetIterationTime) when only some of an iteration's work counts.
enum class timing { real, manual };

// Fixes the work of a benchmark: `iterations` per repetition, `repetitions` repetitions
// (their median is what the summary compares), timed as said. Repetitions of every benchmark
// of a program run in random order, so that a slow phase of the machine does not favour one
// side of a ratio.
benchmark::internal::Benchmark* pinned(benchmark::internal::Benchmark* b, int64_t iterations,
                                       int repetitions, timing kind = timing::real);

// Seconds on the high-resolution clock, for benchmarks that time only some of an iteration's
// work.
double now_seconds();

// A real top-level window of exactly width x height pixels at (x, y) on the screen (a pop-up
// window without a sizing frame keeps the size it is given). Making one is left to settle: under
// Wine the X server paints a new window for a while after it appears, on the processors a benchmark
// runs on.
class window {
  public:
    window(int width, int height, int x = 0, int y = 0);
    // A window of that size kept for the life of the program, made on first use; repetitions
    // of a benchmark share it.
    static window& shared(int width, int height);
    ~window();
    window(const window&) = delete;
    window& operator=(const window&) = delete;

    HWND handle() const { return handle_; }
    // True when the window exists with the size it was made with.
    bool has_size(int width, int height) const;
    static void pump_messages();

  private:
    HWND handle_ = nullptr;
};

// A planar YUV 4:2:0 picture with a moving-gradient pattern, and the software frame that
// hands it to the renderer.
class i420_picture {
  public:
    i420_picture(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    uint8_t** planes() { return planes_; }
    int* strides() { return strides_; }
    size_t bytes() const { return y_.size() + u_.size() + v_.size(); }
    // A format-0 (planar 4:2:0) BT.709 frame of this picture.
    AVFrame frame();

  private:
    int width_;
    int height_;
    std::vector<uint8_t> y_, u_, v_;
    uint8_t* planes_[4] = {};
    int strides_[3] = {};
};

// An NV12 picture in one buffer: Y, then interleaved U and V.
std::vector<uint8_t> nv12_picture(int width, int height);

} // namespace bench
