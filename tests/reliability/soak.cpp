// soak --backend d3d9|dxva2|d3d11|ddraw [--long] [--seed S]: frames into
// a window resized every 100 frames (each resize rebuilds the backend) while a second thread
// replaces the overlay list. Passes when after the warm-up the object counts stay level and memory
// within 5% (plus a slack), every rebuilt renderer holds the decoder's objects as at the warm-up
// and all are let go at the end, every frame is drawn, and the library logs no failure. The last
// line sums the run up.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "harness.h"
#include "log_capture.h"
#include "modes.h"
#include "test_window.h"

namespace {

constexpr int window_sizes[][2] = {{640, 360}, {480, 270}, {401, 225}, {560, 315}};
constexpr int cycle_frames = 400; // 100 frames at each size
// Wine's and Mesa's allocators touch new pages for the first thousand frames, then step the
// process's memory up and swing it: judged after such a warm-up only, in the second half of the
// run against the peak of the first half, above which a leak keeps climbing.
constexpr int memory_warmup = 1000;

struct options {
    std::string backend;
    int frames = 800, warmup = 400;
    uint32_t seed = 1;
};

bool parse(int argc, char** argv, options& out)
{
    for (int i = 0; i < argc; ++i) {
        const std::string name = argv[i];
        const bool value = i + 1 < argc;
        if (name == "--long")
            out.frames = 10000, out.warmup = 2000;
        else if (name == "--backend" && value)
            out.backend = argv[++i];
        else if (name == "--seed" && value)
            out.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else
            return false;
    }
    return true;
}

// Replaces the overlay list at random moments until it is destroyed.
class overlay_thread {
  public:
    std::mutex gate; // held around the frames that are measured
    long replacements = 0;

    overlay_thread(kx_vidrender* renderer, uint32_t seed)
        : thread_([this, renderer, seed] {
              seeded_random random(seed);
              while (!stop_) {
                  Sleep(random.below(13));
                  const std::list<overlay_group> groups = random_overlays(random, false);
                  std::lock_guard<std::mutex> hold(gate);
                  renderer->set_overlay_list(groups);
                  ++replacements;
              }
          })
    {}
    ~overlay_thread()
    {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

bool starts_with(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

class soak_run {
  public:
    soak_run(const options& settings, frame_source& source) : settings_(settings), source_(source)
    {}

    int run()
    {
        before_ = read_gauges();
        borrowed_before_ = source_.borrowed();
        renderer_ = kx_vidrender::create_vrender(source_.format());
        if (!renderer_->init_vrender(window_.handle(), 640, 360, source_.codec_context()))
            return std::fprintf(stderr, "soak: init_vrender failed\n"), 2;
        const int adjust[4] = {60, 45, 55, 52};
        renderer_->set_image_adjust(adjust);
        renderer_->set_draw_callback(
            [](void* dc, int, void* drawn) {
                ++*static_cast<long*>(drawn);
                PatBlt(static_cast<HDC>(dc), 0, 0, 16, 16, WHITENESS);
            },
            7, &drawn_);
        const ULONGLONG started = GetTickCount64();
        {
            overlay_thread overlays(renderer_, settings_.seed);
            for (int index = 0; index < settings_.frames; ++index)
                draw(index, overlays);
            replacements_ = overlays.replacements;
        }
        const double seconds = (GetTickCount64() - started) / 1000.0;
        kx_vidrender::destroy_vrender(renderer_);
        test_window::pump_messages();
        source_.let_go();
        after_ = read_gauges();
        tally_log();
        judge_at_end();
        std::printf("soak backend=%s seed=%u frames=%d drawn=%ld resizes=%d rebuilds=%ld "
                    "overlay_replacements=%ld warmup_frames=%d seconds=%.1f",
                    settings_.backend.c_str(), settings_.seed, settings_.frames, drawn(), resizes_,
                    rebuilds_, replacements_, settings_.warmup, seconds);
        for (int g = 0; g < gauge_count; ++g)
            std::printf("%s", figures(g).c_str());
        if (!borrowed_before_.empty())
            std::printf(" borrowed_before=%s borrowed_held=%s borrowed_after=%s",
                        borrowed_before_.c_str(), borrowed_held_.c_str(),
                        source_.borrowed().c_str());
        std::printf(" process_memory_judged=%s result=%s\n",
                    settings_.warmup >= memory_warmup ? "yes" : "no", failed_ ? "FAIL" : "pass");
        return failed_ ? 1 : 0;
    }

  private:
    // The first frame of each size is drawn by a rebuilt backend with the fixed overlay list and
    // measured, so that what the renderers hold there is comparable.
    void draw(int index, overlay_thread& overlays)
    {
        const bool measured = index % 100 == 0;
        if (measured && index > 0) {
            window_.resize(window_sizes[index / 100 % 4][0], window_sizes[index / 100 % 4][1]);
            ++resizes_;
        }
        std::unique_lock<std::mutex> hold(overlays.gate, std::defer_lock);
        if (measured) {
            hold.lock();
            renderer_->set_overlay_list(fixed_overlays_);
        }
        run_report::begin_call("soak frame %d", index);
        renderer_->render_frame(source_.frame(index), 640, 360);
        test_window::pump_messages();
        run_report::end_call();
        if (measured)
            measure(index);
    }

    void measure(int index)
    {
        tally_log();
        const std::string at = "frame " + std::to_string(index) + ": ";
        if (!source_.lock_balanced())
            fail(at + "the decoder's device lock is held");
        const std::string held = source_.borrowed();
        if (index == settings_.warmup)
            borrowed_held_ = held;
        else if (index > settings_.warmup && held != borrowed_held_)
            fail(at + "the rebuilt renderer holds " + held + ", at the warm-up " + borrowed_held_);
        gauge_reading now = read_gauges();
        // Wine's command thread may be half-way through something: a count that is up is read
        // again a moment later, and a leak is still there.
        for (int g = gauge_handles; index > settings_.warmup && g < gauge_count; ++g)
            if (now.value[g] > warm_.value[g] + 1) {
                Sleep(200);
                now = read_gauges();
                break;
            }
        warm_ = index == settings_.warmup ? now : warm_;
        end_ = now;
        if (index < settings_.warmup)
            return;
        // Memory depends on the window's size: judged at the size of the warm reading.
        const bool cycle = index % cycle_frames == 0;
        const bool first_half = index <= (settings_.warmup + settings_.frames) / 2;
        if (cycle && first_half)
            memory_peak_ = std::max(memory_peak_, now.value[gauge_memory_kb]);
        const uint64_t slack[gauge_count] = {8192, 1024, 1, 1, 1, 1};
        for (int g = 0; g < gauge_count; ++g) {
            const bool memory = g < gauge_handles, long_run = settings_.warmup >= memory_warmup;
            const uint64_t base = g == gauge_memory_kb ? memory_peak_ : warm_.value[g];
            const bool judged =
                !memory || (cycle && (g == gauge_heap_kb || (long_run && !first_half)));
            if (judged && now.value[g] > base + (memory ? base / 20 : 0) + slack[g])
                fail(at + gauge_name(g) + " " + std::to_string(now.value[g]) + ", judged against " +
                     std::to_string(base));
        }
    }

    // What the library logged, tallied as it goes so that the capture never grows.
    void tally_log()
    {
        for (const log_line& line : log_.lines()) {
            rebuilds_ += starts_with(line.text, "window size(") ||
                         starts_with(line.text, "video size(") ||
                         starts_with(line.text, "decode type(") ||
                         starts_with(line.text, "handle lost and reset");
            // Where Direct3D 9 is hidden, the capability check of init_vrender says so, once.
            const bool expected = settings_.backend == "ddraw" && d3d9_inits_ + ddraw_inits_ == 0 &&
                                  starts_with(line.text, "Check D3D9 Failed:");
            d3d9_inits_ += starts_with(line.text, "init video render with d3d9 software!");
            ddraw_inits_ += starts_with(line.text, "init video render with ddraw software!");
            if (line.level == 1 && !expected)
                fail("logged: " + line.text);
        }
        log_.clear();
    }

    long drawn() const { return source_.copies() >= 0 ? source_.copies() : drawn_; }

    void judge_at_end()
    {
        if (source_.borrowed() != borrowed_before_)
            fail("after destroy_vrender the decoder's objects count " + source_.borrowed() +
                 ", before create_vrender " + borrowed_before_);
        if (drawn() != settings_.frames)
            fail(std::to_string(drawn()) + " of " + std::to_string(settings_.frames) +
                 " frames drawn");
        if (rebuilds_ < resizes_)
            fail(std::to_string(resizes_) + " resizes but " + std::to_string(rebuilds_) +
                 " rebuilds");
        if (settings_.backend == "d3d9" && (ddraw_inits_ || !d3d9_inits_))
            fail("the frames did not go through Direct3D 9");
        if (settings_.backend == "ddraw" && (d3d9_inits_ || !ddraw_inits_))
            fail("the frames did not go through DirectDraw (is the stand-in d3d9.dll loaded?)");
    }

    // " name=warm->end(start:S,destroyed:D)" of one gauge.
    std::string figures(int which) const
    {
        const auto value = [&](const gauge_reading& r) { return std::to_string(r.value[which]); };
        return std::string(" ") + gauge_name(which) + "=" + value(warm_) + "->" + value(end_) +
               "(start:" + value(before_) + ",destroyed:" + value(after_) + ")";
    }

    void fail(const std::string& text)
    {
        std::fprintf(stderr, "soak: FAILED: %s\n", text.c_str());
        failed_ = true;
    }

    const options& settings_;
    frame_source& source_;
    kx_vidrender* renderer_ = nullptr;
    test_window window_{640, 360};
    log_capture log_;
    const std::list<overlay_group> fixed_overlays_ = [] {
        seeded_random random(7);
        return random_overlays(random, false);
    }();
    long drawn_ = 0, rebuilds_ = 0, d3d9_inits_ = 0, ddraw_inits_ = 0, replacements_ = 0;
    int resizes_ = 0;
    bool failed_ = false;
    gauge_reading before_, warm_, end_, after_;
    uint64_t memory_peak_ = 0;
    std::string borrowed_before_, borrowed_held_;
};

} // namespace

int run_soak(int argc, char** argv)
{
    options settings;
    std::unique_ptr<frame_source> source =
        parse(argc, argv, settings) ? make_frame_source(settings.backend) : nullptr;
    if (!source)
        return std::fprintf(stderr,
                            "usage: soak --backend d3d9|dxva2|d3d11|ddraw [--long] [--seed S]\n"),
               2;
    std::printf("soak: backend %s, %d frames, warm-up %d, seed %u\n", settings.backend.c_str(),
                settings.frames, settings.warmup, settings.seed);
    std::fflush(stdout);
    run_report::watch_hangs(60);
    run_report::set_replay("vrender_reliability soak --backend " + settings.backend + " --seed " +
                           std::to_string(settings.seed) +
                           (settings.frames > 800 ? " --long" : ""));
    const std::string blind = gauges_blind_spots();
    if (!source->problem.empty() || !blind.empty())
        return std::fprintf(stderr, "soak: %s%s\n", source->problem.c_str(),
                            blind.empty() ? "" : (" gauges blind to a leak:" + blind).c_str()),
               2;
    return soak_run(settings, *source).run();
}
