// Soak run of the shipped DLL on one backend: thousands of frames into a real window that is
// resized every 100 frames (each resize rebuilds the backend), while a second thread replaces
// the overlay list at random moments. It watches the process (memory, live heap blocks,
// handles, GDI and USER objects, threads) and the reference counts of what a decoder lends the
// library.
//
//   vrender_soak --backend d3d9|dxva2|d3d11|ddraw [--long] [--frames N] [--warmup N]
//                [--seed S] [--verbose]
//
// Passes when, after the warm-up, memory grows by no more than 5% (plus a small slack) over its
// warm-up value and object counts do not grow at all (but for a slack of one); when each rebuilt
// renderer holds the decoder's objects exactly as the first one did, and they are back where they
// started once the renderer is destroyed; when every frame was drawn; and when the library logged
// no failure.
//
// The windows Wine's Direct3D makes for itself, and the GDI objects that go with them, are left
// out of the GDI and USER counts (process_gauges.h says which and why); the line before the last
// gives them, not judged.
//
// The last line is a summary of key=value figures: each gauge as warm-up->end, with its peak
// after the warm-up, its value before create_vrender and after destroy_vrender. --verbose
// prints the gauges at every measured frame. Exit status: 0 passed, 1 a check failed, 2 the run
// could not start, 3 a crash. The seed drives the overlay lists and the pauses between their
// replacements; where a replacement falls between frames is up to the scheduler.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_sources.h"
#include "kx_vidrender.h"
#include "log_capture.h"
#include "overlay_writer.h"
#include "process_gauges.h"
#include "test_window.h"

namespace {

std::atomic<int> g_frame{-1};

// A crash ends the run at once with where it happened (a crash dialog or debugger would hang it).
LONG WINAPI report_crash(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    HMODULE module = nullptr;
    char path[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<const char*>(record->ExceptionAddress), &module))
        GetModuleFileNameA(module, path, sizeof(path));
    std::fprintf(
        stderr, "vrender_soak: CRASH, exception 0x%08lx at %p (%s+0x%llx), thread %lu, frame %d\n",
        static_cast<unsigned long>(record->ExceptionCode), record->ExceptionAddress, path,
        static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(record->ExceptionAddress) -
                                        reinterpret_cast<uintptr_t>(module)),
        static_cast<unsigned long>(GetCurrentThreadId()), g_frame.load());
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

struct window_size {
    int width;
    int height;
};
// The window goes through these sizes in turn, 100 frames each: the picture's own size and
// smaller ones, some odd, as the cells of a camera grid are.
//
// The first frame of each size (drawn by a rebuilt backend) and the last frame of each cycle
// are measured, drawn with a fixed overlay list. Object counts do not depend on the size: they
// are judged at every rebuild after the warm-up. Memory does: it is judged at the first and the
// last frame of each cycle, against the same frame of the warm-up's last cycle.
constexpr window_size window_sizes[] = {{640, 360}, {480, 270}, {401, 225}, {560, 315}};
constexpr int frames_per_size = 100;
constexpr int cycle_frames = frames_per_size * static_cast<int>(std::size(window_sizes));

// Allowed growth over the warm-up value. Memory: 5%, plus a slack. The process's memory: Wine's
// and Mesa's allocators touch new pages of their arenas for the first thousand frames or so,
// and now and then take a new arena later (a step of 6.8 MB once in 10000 DirectDraw frames,
// live heap blocks level to the kilobyte), and never give them back, whatever the library does;
// it is judged only after a warm-up of at least 1000 frames. Live heap blocks: Wine's Direct3D 9
// copies each frame's planes into its command queue, and up to three frames of them (345 KB
// each here) are still queued at one reading and gone at the next. Object counts: one, for an
// object Wine may hold for a moment; they stay exactly level here, so a leak of one object per
// rebuild shows within two.
constexpr double memory_share = 0.05;
constexpr uint64_t memory_slack = 8ull << 20;
constexpr uint64_t heap_slack = 1ull << 20;
constexpr uint64_t count_slack = 1;
constexpr int memory_warmup = 1000;
constexpr std::chrono::milliseconds settle_time{200};

constexpr int long_frames = 10000;
constexpr int long_warmup = 2000;

struct options {
    std::string backend;
    int frames = 2 * cycle_frames;
    int warmup = cycle_frames;
    uint32_t seed = 1;
    bool verbose = false;
};

const char* usage = "usage: vrender_soak --backend d3d9|dxva2|d3d11|ddraw [--long] [--frames N] "
                    "[--warmup N] [--seed S] [--verbose]\n"
                    "  --long: 10000 frames, warm-up 2000 (default 800 and 400)\n"
                    "  N: multiples of 400, the warm-up shorter than the run";

bool parse(int argc, char** argv, options& out)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--verbose") {
            out.verbose = true;
            continue;
        }
        if (name == "--long") {
            out.frames = long_frames;
            out.warmup = long_warmup;
            continue;
        }
        if (i + 1 == argc)
            return false;
        const char* value = argv[++i];
        if (name == "--backend")
            out.backend = value;
        else if (name == "--frames")
            out.frames = std::atoi(value);
        else if (name == "--warmup")
            out.warmup = std::atoi(value);
        else if (name == "--seed")
            out.seed = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
        else
            return false;
    }
    return !out.backend.empty() && out.warmup > 0 && out.warmup < out.frames &&
           out.warmup % cycle_frames == 0 && out.frames % cycle_frames == 0;
}

// ---- The checks ---------------------------------------------------------------------------

class findings {
  public:
    void add(const std::string& text)
    {
        if (texts_.size() < 20)
            texts_.push_back(text);
        ++count_;
    }
    bool empty() const { return count_ == 0; }
    void print() const
    {
        for (const std::string& text : texts_)
            std::fprintf(stderr, "vrender_soak: FAILED: %s\n", text.c_str());
        if (count_ > texts_.size())
            std::fprintf(stderr, "vrender_soak: ... and %zu more\n", count_ - texts_.size());
    }

  private:
    std::vector<std::string> texts_;
    size_t count_ = 0;
};

enum class gauge_kind { process_memory, heap, count };

struct gauge_field {
    const char* name;
    uint64_t (*value)(const gauge_reading&);
    gauge_kind kind;
    uint64_t slack;
    uint64_t unit; // printed in these

    bool grew_too_much(const gauge_reading& warm, const gauge_reading& now) const
    {
        const double share = kind == gauge_kind::count ? 0.0 : memory_share;
        const double allowed = static_cast<double>(value(warm)) * (1.0 + share) + slack;
        return static_cast<double>(value(now)) > allowed;
    }
};

const gauge_field gauge_fields[] = {
    {"private_kb", [](const gauge_reading& r) { return r.private_bytes; },
     gauge_kind::process_memory, memory_slack, 1024},
    {"pagefile_kb", [](const gauge_reading& r) { return r.pagefile_bytes; },
     gauge_kind::process_memory, memory_slack, 1024},
    {"workingset_kb", [](const gauge_reading& r) { return r.working_set_bytes; },
     gauge_kind::process_memory, memory_slack, 1024},
    {"heap_kb", [](const gauge_reading& r) { return r.heap_bytes; }, gauge_kind::heap, heap_slack,
     1024},
    {"handles", [](const gauge_reading& r) { return uint64_t{r.handles}; }, gauge_kind::count,
     count_slack, 1},
    {"gdi", [](const gauge_reading& r) { return uint64_t{r.gdi_objects}; }, gauge_kind::count,
     count_slack, 1},
    {"user", [](const gauge_reading& r) { return uint64_t{r.user_objects}; }, gauge_kind::count,
     count_slack, 1},
    {"threads", [](const gauge_reading& r) { return uint64_t{r.threads}; }, gauge_kind::count,
     count_slack, 1},
};

// Reported, not judged: Wine's own helper windows and their GDI objects.
const gauge_field wine_fields[] = {
    {"wine_windows", [](const gauge_reading& r) { return uint64_t{r.wine_windows}; },
     gauge_kind::count, 0, 1},
    {"wine_gdi", [](const gauge_reading& r) { return uint64_t{r.wine_gdi_objects}; },
     gauge_kind::count, 0, 1},
};

std::string describe(const std::vector<borrowed_count>& counts)
{
    std::string text;
    for (const borrowed_count& count : counts)
        text += (text.empty() ? "" : ",") + count.name + ":" + std::to_string(count.count);
    return text;
}

// ---- One run ------------------------------------------------------------------------------

void on_draw(void* context, int, void* drawn)
{
    ++*static_cast<long*>(drawn);
    PatBlt(static_cast<HDC>(context), 0, 0, 16, 16, WHITENESS);
}

bool starts_with(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// What the library logged, tallied as it goes so that the capture never grows.
struct log_tally {
    long rebuilds = 0;
    long d3d9_inits = 0;
    long ddraw_inits = 0;
    std::map<std::string, long> failures;

    void take(log_capture& log)
    {
        for (const log_line& line : log.lines()) {
            if (line.level == 1)
                ++failures[line.text];
            rebuilds += starts_with(line.text, "window size(") ||
                        starts_with(line.text, "video size(") ||
                        starts_with(line.text, "decode type(") ||
                        starts_with(line.text, "handle lost and reset");
            d3d9_inits += starts_with(line.text, "init video render with d3d9 software!");
            ddraw_inits += starts_with(line.text, "init video render with ddraw software!");
        }
        log.clear();
    }
};

class soak_run {
  public:
    soak_run(const options& settings, frame_source& source, const process_gauges& gauges)
        : settings_(settings), source_(source), gauges_(gauges)
    {}

    int run();

  private:
    void draw(int index, test_window& window);
    void measure(int index);
    const gauge_reading& warm_for(int index) const;
    gauge_reading settled(int index, const gauge_reading& now) const;
    void judge(int index, const gauge_reading& now);
    void print_reading(int index, const gauge_reading& reading) const;
    void check_at_end();
    void print_summary(double seconds) const;
    void print_figure(const gauge_field& field, uint64_t peak) const;

    const options& settings_;
    frame_source& source_;
    const process_gauges& gauges_;
    kx_vidrender* renderer_ = nullptr;
    overlay_writer* writer_ = nullptr;
    log_capture log_;
    log_tally tally_;
    findings findings_;

    int resizes_ = 0;
    long drawn_ = 0;
    long replacements_ = 0;
    std::chrono::steady_clock::time_point start_;
    // Before create_vrender, at the end of the warm-up (aged and fresh), at the end of the
    // run, after destroy_vrender.
    gauge_reading before_, warm_, warm_fresh_, end_, after_;
    std::vector<uint64_t> peaks_ = std::vector<uint64_t>(std::size(gauge_fields));
    std::vector<uint64_t> wine_peaks_ = std::vector<uint64_t>(std::size(wine_fields));
    std::vector<borrowed_count> borrowed_before_, borrowed_held_, borrowed_after_;
};

int soak_run::run()
{
    test_window window(window_sizes[0].width, window_sizes[0].height);
    before_ = gauges_.read();
    borrowed_before_ = source_.borrowed_counts();

    renderer_ = kx_vidrender::create_vrender(source_.format());
    if (!renderer_->init_vrender(window.handle(), frame_source::width, frame_source::height,
                                 source_.codec_context())) {
        std::fprintf(stderr, "vrender_soak: init_vrender failed on %s\n",
                     settings_.backend.c_str());
        kx_vidrender::destroy_vrender(renderer_);
        return 2;
    }
    const int adjust[4] = {60, 45, 55, 52};
    renderer_->set_image_adjust(adjust);
    renderer_->set_draw_callback(on_draw, 7, &drawn_);

    start_ = std::chrono::steady_clock::now();
    {
        overlay_writer writer(renderer_, settings_.seed);
        writer_ = &writer;
        for (int index = 0; index < settings_.frames; ++index)
            draw(index, window);
        replacements_ = writer.replacements();
        writer_ = nullptr;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();

    kx_vidrender::destroy_vrender(renderer_);
    test_window::pump_messages();
    source_.let_go();
    after_ = gauges_.read();
    borrowed_after_ = source_.borrowed_counts();
    tally_.take(log_);

    check_at_end();
    print_summary(seconds);
    findings_.print();
    return findings_.empty() ? 0 : 1;
}

// The first frame of each window size (drawn by a rebuilt backend) and the last frame of each
// cycle are measured. They are drawn with the fixed overlay list and no replacement in
// between, so that what the renderers hold at those frames is comparable.
void soak_run::draw(int index, test_window& window)
{
    if (index > 0 && index % frames_per_size == 0) {
        const window_size& size = window_sizes[(index / frames_per_size) % std::size(window_sizes)];
        window.resize(size.width, size.height);
        ++resizes_;
    }
    const bool measured = index % frames_per_size == 0 || index % cycle_frames == cycle_frames - 1;
    std::unique_lock<std::mutex> hold(writer_->gate(), std::defer_lock);
    if (measured) {
        hold.lock();
        renderer_->set_overlay_list(overlay_writer::fixed_list());
    }
    g_frame = index;
    renderer_->render_frame(source_.frame(index), frame_source::width, frame_source::height);
    test_window::pump_messages();
    if (measured)
        measure(index);
}

// Every rebuilt backend must hold the decoder's objects as the first one did.
void soak_run::measure(int index)
{
    tally_.take(log_);
    if (!source_.lock_balanced())
        findings_.add("frame " + std::to_string(index) + ": the decoder's device lock is held");
    if (index % frames_per_size == 0) {
        const std::vector<borrowed_count> held = source_.borrowed_counts();
        if (index == 0)
            borrowed_held_ = held;
        else if (describe(held) != describe(borrowed_held_))
            findings_.add("frame " + std::to_string(index) + ": the rebuilt renderer holds " +
                          describe(held) + ", the first one held " + describe(borrowed_held_));
    }
    gauge_reading now = gauges_.read();
    if (index > settings_.warmup)
        now = settled(index, now);
    if (settings_.verbose)
        print_reading(index, now);
    if (index == settings_.warmup - 1)
        warm_ = now;
    if (index == settings_.warmup)
        warm_fresh_ = now;
    if (index == settings_.frames - 1)
        end_ = now;
    if (index < settings_.warmup - 1)
        return;
    for (size_t i = 0; i < std::size(gauge_fields); ++i)
        peaks_[i] = std::max(peaks_[i], gauge_fields[i].value(now));
    for (size_t i = 0; i < std::size(wine_fields); ++i)
        wine_peaks_[i] = std::max(wine_peaks_[i], wine_fields[i].value(now));
    judge(index, now);
}

// The first frame of a size is judged against the first frame of a size at the end of the
// warm-up, any other against the warm-up's last frame.
const gauge_reading& soak_run::warm_for(int index) const
{
    return index % frames_per_size == 0 ? warm_fresh_ : warm_;
}

// A count that is up is read again a moment later: Wine's command thread may be half-way
// through something (falling back to its helper window, it holds a desktop DC before the window
// is there), and a leak is still there.
gauge_reading soak_run::settled(int index, const gauge_reading& now) const
{
    for (const gauge_field& field : gauge_fields) {
        if (field.kind == gauge_kind::count && field.grew_too_much(warm_for(index), now)) {
            std::this_thread::sleep_for(settle_time);
            return gauges_.read();
        }
    }
    return now;
}

void soak_run::judge(int index, const gauge_reading& now)
{
    const bool cycle_edge = index % cycle_frames == 0 || index % cycle_frames == cycle_frames - 1;
    const gauge_reading& warm = warm_for(index);
    for (const gauge_field& field : gauge_fields) {
        const bool judged =
            field.kind == gauge_kind::count ||
            (cycle_edge && (field.kind == gauge_kind::heap || settings_.warmup >= memory_warmup));
        if (judged && field.grew_too_much(warm, now))
            findings_.add("frame " + std::to_string(index) + ": " + field.name + " " +
                          std::to_string(field.value(now) / field.unit) + ", at the warm-up " +
                          std::to_string(field.value(warm) / field.unit));
    }
}

void soak_run::print_reading(int index, const gauge_reading& reading) const
{
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::printf("frame %d (%.1f s):", index, seconds);
    for (const gauge_field& field : gauge_fields)
        std::printf(" %s=%llu", field.name,
                    static_cast<unsigned long long>(field.value(reading) / field.unit));
    for (const gauge_field& field : wine_fields)
        std::printf(" %s=%llu", field.name, static_cast<unsigned long long>(field.value(reading)));
    std::printf(" borrowed=%s\n", describe(source_.borrowed_counts()).c_str());
}

void soak_run::check_at_end()
{
    if (describe(borrowed_after_) != describe(borrowed_before_))
        findings_.add("after destroy_vrender the decoder's objects count " +
                      describe(borrowed_after_) + ", before create_vrender " +
                      describe(borrowed_before_));
    const long drawn = source_.frames_copied() >= 0 ? source_.frames_copied() : drawn_;
    if (drawn != settings_.frames)
        findings_.add(std::to_string(drawn) + " of " + std::to_string(settings_.frames) +
                      " frames drawn");
    if (tally_.rebuilds < resizes_)
        findings_.add(std::to_string(resizes_) + " resizes but " + std::to_string(tally_.rebuilds) +
                      " rebuilds");
    if (settings_.backend == "d3d9" && (tally_.ddraw_inits || !tally_.d3d9_inits))
        findings_.add("the frames did not go through Direct3D 9");
    if (settings_.backend == "ddraw" && (tally_.d3d9_inits || !tally_.ddraw_inits))
        findings_.add("the frames did not go through DirectDraw (is the stand-in d3d9.dll "
                      "loaded?)");
    for (const auto& failure : tally_.failures) {
        // Where Direct3D 9 is hidden, the capability check of init_vrender says so, once.
        const bool expected = settings_.backend == "ddraw" && failure.second == 1 &&
                              starts_with(failure.first, "Check D3D9 Failed:");
        if (!expected)
            findings_.add("logged " + std::to_string(failure.second) + " times: " + failure.first);
    }
}

void soak_run::print_figure(const gauge_field& field, uint64_t peak) const
{
    std::printf(" %s=%llu->%llu(peak:%llu,start:%llu,destroyed:%llu)", field.name,
                static_cast<unsigned long long>(field.value(warm_) / field.unit),
                static_cast<unsigned long long>(field.value(end_) / field.unit),
                static_cast<unsigned long long>(peak / field.unit),
                static_cast<unsigned long long>(field.value(before_) / field.unit),
                static_cast<unsigned long long>(field.value(after_) / field.unit));
}

void soak_run::print_summary(double seconds) const
{
    std::printf("vrender_soak: not judged, Wine's own windows:");
    for (size_t i = 0; i < std::size(wine_fields); ++i)
        print_figure(wine_fields[i], wine_peaks_[i]);
    std::printf("\n");
    std::printf("soak backend=%s seed=%u frames=%d drawn=%ld resizes=%d rebuilds=%ld "
                "overlay_replacements=%ld warmup_frames=%d seconds=%.1f",
                settings_.backend.c_str(), settings_.seed, settings_.frames,
                source_.frames_copied() >= 0 ? source_.frames_copied() : drawn_, resizes_,
                tally_.rebuilds, replacements_, settings_.warmup, seconds);
    for (size_t i = 0; i < std::size(gauge_fields); ++i) {
        const gauge_field& field = gauge_fields[i];
        if (field.value(warm_) == 0) {
            std::printf(" %s=n/a", field.name);
            continue;
        }
        print_figure(field, peaks_[i]);
    }
    if (!borrowed_before_.empty())
        std::printf(" borrowed_before=%s borrowed_held=%s borrowed_after=%s",
                    describe(borrowed_before_).c_str(), describe(borrowed_held_).c_str(),
                    describe(borrowed_after_).c_str());
    std::printf(" process_memory_judged=%s result=%s\n",
                settings_.warmup >= memory_warmup ? "yes" : "no",
                findings_.empty() ? "pass" : "FAIL");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    options settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr, "%s\n", usage);
        return 2;
    }
    SetUnhandledExceptionFilter(report_crash);
    const process_gauges gauges;
    std::printf("vrender_soak: backend %s, %d frames, warm-up %d, seed %u\n",
                settings.backend.c_str(), settings.frames, settings.warmup, settings.seed);
    std::printf("vrender_soak: gauges %s\n", gauges.sources().c_str());
    std::fflush(stdout);

    const std::unique_ptr<frame_source> source = make_frame_source(settings.backend);
    if (!source) {
        std::fprintf(stderr, "%s\n", usage);
        return 2;
    }
    if (!source->problem().empty()) {
        std::fprintf(stderr, "vrender_soak: %s\n", source->problem().c_str());
        return 2;
    }
    return soak_run(settings, *source, gauges).run();
}
