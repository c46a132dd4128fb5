#include "bench_support.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <utility>

namespace bench {

namespace {

// Context values are small JSON objects; the texts here never hold quotes or backslashes.
std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// A number in JSON, with all its digits.
std::string exact(double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.17g", value);
    return text;
}

int declared = 0;

constexpr DWORD settle_milliseconds = 250;

// Context keys sort by name in the JSON output: a running number keeps the declared order.
std::string next_key(const char* kind)
{
    char key[64];
    std::snprintf(key, sizeof(key), "video_render.%s.%02d", kind, ++declared);
    return key;
}

const char* window_class()
{
    static const char* const name = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "video_render_bench_window";
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        RegisterClassA(&wc);
        return wc.lpszClassName;
    }();
    return name;
}

uint8_t pattern(int x, int y, int seed)
{
    return static_cast<uint8_t>((x * 3 + y * 5 + seed) ^ (x >> 4));
}

} // namespace

void declare_ratio(const std::string& candidate, const std::string& anchor, const std::string& goal,
                   const std::string& what)
{
    benchmark::AddCustomContext(next_key("ratio"), "{\"candidate\": " + quoted(candidate) +
                                                       ", \"anchor\": " + quoted(anchor) +
                                                       ", \"goal\": " + quoted(goal) +
                                                       ", \"what\": " + quoted(what) + "}");
}

void declare_figure(const std::string& benchmark, bool per_second, const std::string& what)
{
    benchmark::AddCustomContext(next_key("figure"),
                                "{\"benchmark\": " + quoted(benchmark) +
                                    ", \"unit\": " + quoted(per_second ? "per_second" : "ms") +
                                    ", \"what\": " + quoted(what) + "}");
}

void declare_throughput(const std::string& benchmark, double items, const std::string& unit,
                        const std::string& what, const std::string& goal)
{
    benchmark::AddCustomContext(
        next_key("figure"),
        "{\"benchmark\": " + quoted(benchmark) + ", \"unit\": " + quoted("giga_per_second") +
            ", \"items\": " + std::to_string(items) + ", \"label\": " + quoted(unit) +
            ", \"goal\": " + quoted(goal) + ", \"what\": " + quoted(what) + "}");
}

void declare_counter(const std::string& benchmark, const std::string& counter, double scale,
                     const std::string& unit, const std::string& what)
{
    benchmark::AddCustomContext(
        next_key("figure"),
        "{\"benchmark\": " + quoted(benchmark) + ", \"unit\": " + quoted("counter") +
            ", \"counter\": " + quoted(counter) + ", \"scale\": " + exact(scale) +
            ", \"label\": " + quoted(unit) + ", \"what\": " + quoted(what) + "}");
}

benchmark::internal::Benchmark* pinned(benchmark::internal::Benchmark* b, int64_t iterations,
                                       int repetitions, timing kind)
{
    b->Iterations(iterations)
        ->Repetitions(repetitions)
        ->DisplayAggregatesOnly()
        ->Unit(benchmark::kMicrosecond);
    return kind == timing::manual ? b->UseManualTime() : b->UseRealTime();
}

double now_seconds()
{
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

window::window(int width, int height, int x, int y)
    : handle_(CreateWindowExA(0, window_class(), "video_render bench", WS_POPUP | WS_VISIBLE, x, y,
                              width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr))
{
    pump_messages();
    Sleep(settle_milliseconds);
    pump_messages();
}

window& window::shared(int width, int height)
{
    static std::map<std::pair<int, int>, std::unique_ptr<window>> windows;
    std::unique_ptr<window>& kept = windows[std::make_pair(width, height)];
    if (!kept)
        kept = std::make_unique<window>(width, height);
    return *kept;
}

window::~window()
{
    if (handle_)
        DestroyWindow(handle_);
    pump_messages();
}

bool window::has_size(int width, int height) const
{
    RECT rect;
    return handle_ && GetWindowRect(handle_, &rect) && rect.right - rect.left == width &&
           rect.bottom - rect.top == height;
}

void window::pump_messages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

i420_picture::i420_picture(int width, int height)
    : width_(width), height_(height), y_(static_cast<size_t>(width) * height),
      u_(static_cast<size_t>(width / 2) * (height / 2)),
      v_(static_cast<size_t>(width / 2) * (height / 2))
{
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            y_[static_cast<size_t>(row) * width + col] = pattern(col, row, 0);
    for (int row = 0; row < height / 2; ++row)
        for (int col = 0; col < width / 2; ++col) {
            const size_t at = static_cast<size_t>(row) * (width / 2) + col;
            u_[at] = pattern(col, row, 85);
            v_[at] = pattern(row, col, 170);
        }
    planes_[0] = y_.data();
    planes_[1] = u_.data();
    planes_[2] = v_.data();
    strides_[0] = width;
    strides_[1] = width / 2;
    strides_[2] = width / 2;
}

AVFrame i420_picture::frame()
{
    AVFrame frame = {};
    frame.format = ffmpeg_ids::pix_fmt_yuv420p;
    frame.colorspace = ffmpeg_ids::colorspace_bt709;
    frame.width = width_;
    frame.height = height_;
    for (int i = 0; i < 3; ++i) {
        frame.data[i] = planes_[i];
        frame.linesize[i] = strides_[i];
    }
    return frame;
}

std::vector<uint8_t> nv12_picture(int width, int height)
{
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3 / 2);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            picture[static_cast<size_t>(row) * width + col] = pattern(col, row, 0);
    uint8_t* chroma = picture.data() + static_cast<size_t>(width) * height;
    for (int row = 0; row < height / 2; ++row)
        for (int col = 0; col < width; ++col)
            chroma[static_cast<size_t>(row) * width + col] = pattern(col, row, 85);
    return picture;
}

} // namespace bench
