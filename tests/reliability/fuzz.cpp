// fuzz [--seed N] [--calls M]: random hostile calls of every public operation among
// renderers and windows that change under them. Fails on a crash (buffers end at a guard page), a
// hang, an unlogged refusal, the decoder's lock left taken, or more held after the run than before.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "harness.h"
#include "log_capture.h"
#include "modes.h"
#include "test_window.h"

namespace {

// A copy of a decoder's records cut at one link: codec context -> device reference -> device
// context -> its hwctx or private record -> the device in it; frames contexts lead to the same.
struct broken_chain {
    AVCodecContext codec;
    AVBufferRef ref, frames_ref = {};
    AVHWDeviceContext device;
    AVHWFramesContext frames = {};
    dxva2_device_priv priv = {};
    AVD3D11VADeviceContext d3d11 = {};
    bool refused_silently; // a Direct3D 11 device record without its device or context

    broken_chain(const AVCodecContext& real, bool dxva2, int cut)
        : codec(real), ref(*real.hw_device_ctx),
          device(*reinterpret_cast<AVHWDeviceContext*>(ref.data)),
          refused_silently(!dxva2 && cut >= 3)
    {
        codec.hw_device_ctx = cut == 0 ? nullptr : &ref;
        ref.data = cut == 1 ? nullptr : reinterpret_cast<uint8_t*>(&device);
        frames.device_ctx = cut == 0 ? nullptr : &device;
        frames_ref.data = cut == 1 ? nullptr : reinterpret_cast<uint8_t*>(&frames);
        if (cut == 2) {
            device.hwctx = nullptr;
        } else if (cut >= 3 && dxva2) {
            priv = *static_cast<dxva2_device_priv*>(device.user_opaque);
            priv.d3d9device = nullptr;
            priv.d3d9 = cut == 4 ? nullptr : priv.d3d9;
            device.user_opaque = cut == 3 ? nullptr : &priv;
        } else if (cut >= 3) {
            d3d11 = *static_cast<AVD3D11VADeviceContext*>(device.hwctx);
            d3d11.device_context = nullptr;
            d3d11.device = cut == 4 ? nullptr : d3d11.device;
            device.hwctx = &d3d11;
        }
    }
};

struct renderer_slot {
    int id = 0;
    kx_vidrender* renderer = nullptr;
    int format = 0;
    bool initialised = false;    // init_vrender has run: the renderer holds a backend
    int width = 64, height = 48; // of its software pictures; with a region in force it rebuilds
};

long g_callbacks = 0;
void (&call)(const char* format, ...) = run_report::begin_call;

std::unique_ptr<guarded_buffer> filled(size_t bytes, int value)
{
    auto buffer = std::make_unique<guarded_buffer>(bytes);
    std::memset(buffer->data(), value, bytes);
    return buffer;
}

class fuzzer {
  public:
    long frames = 0, refusals = 0;

    explicit fuzzer(uint64_t seed) : random_(seed), seed_(seed)
    {
        for (int i = 0; i < 10; ++i) // each cut of each decoder's records
            broken_.push_back(std::make_unique<broken_chain>(
                *decoder(i % 2 ? kx_pix_fmt_d3d11 : 0).codec_context(), i % 2 == 0, i / 2));
        for (int i = 0; i < 3; ++i) {
            windows_[i] = std::make_unique<test_window>(320, 240);
            slots_[i].id = i;
        }
        // What the first renderer of each kind loads stays loaded: made before the baseline.
        for (frame_source* source : {software_.get(), dxva2_.get(), d3d11_.get()}) {
            kx_vidrender* renderer = kx_vidrender::create_vrender(source->format());
            renderer->init_vrender(windows_[0]->handle(), 640, 360, source->codec_context());
            renderer->render_frame(source->frame(0), 640, 360);
            kx_vidrender::destroy_vrender(renderer);
        }
        log_.clear();
    }

    void run(uint64_t calls)
    {
        // Out of 100; init, window changes and new renderers cost Wine a device each.
        static void (fuzzer::*const actions[])() = {&fuzzer::software_picture,
                                                    &fuzzer::hardware_frame, &fuzzer::small_call,
                                                    &fuzzer::lifecycle, &fuzzer::window};
        static const uint32_t weights[] = {52, 11, 27, 4, 6};
        for (index_ = 0; index_ < calls; ++index_) {
            run_report::set_replay("vrender_fuzz fuzz --seed " + std::to_string(seed_) +
                                   " --calls " + std::to_string(index_ + 1));
            uint32_t roll = random_.below(100), chosen = 0;
            while (roll >= weights[chosen])
                roll -= weights[chosen++];
            (this->*actions[chosen])();
            if (index_ % 8 == 7) {
                call("pump the window messages"); // they reach Direct3D's window hooks too
                test_window::pump_messages();
                finish();
            }
        }
        for (renderer_slot& slot : slots_) {
            call("destroy_vrender(r%d) at the end", slot.id);
            kx_vidrender::destroy_vrender(std::exchange(slot.renderer, nullptr));
            finish();
        }
        test_window::pump_messages();
    }

  private:
    // A refused call must log a failure line: `refusal` is that line, or "" for any.
    void finish(const char* refusal = nullptr)
    {
        run_report::end_call();
        bool logged = !refusal;
        for (const log_line& line : log_.lines())
            logged = logged || (line.level == 1 && (!*refusal || line.text == refusal));
        if (!d3d11_->lock_balanced())
            run_report::fail("the decoder's device lock is left taken");
        if (!logged)
            run_report::fail("the refusal was not logged %s", refusal);
        refusals += refusal != nullptr;
        log_.clear();
    }

    static bool software(int format) { return format == 0 || format == 12; }
    frame_source& decoder(int format) { return format == kx_pix_fmt_d3d11 ? *d3d11_ : *dxva2_; }
    int undrawn_format() { return random_.pick({1, 23, 52, 54, 173, 175, -1, INT_MIN, INT_MAX}); }
    int extreme()
    {
        return random_.pick({0, -1, INT_MIN, INT_MAX, random_.between(-20000, 40000)});
    }
    int any_value(int lo, int hi, int chance)
    {
        return random_.percent(chance) ? random_.between(lo, hi) : extreme();
    }

    AVCodecContext* context_for(int format)
    {
        if (random_.percent(20))
            return random_.percent(20) ? nullptr
                                       : &broken_[2 * random_.below(5) + (format == 174)]->codec;
        return decoder(format).codec_context();
    }

    // Mostly small and odd sizes, now and then a camera's.
    void picture_size(int& width, int& height)
    {
        const bool large = random_.percent(8);
        width = large ? random_.pick({1280, 1920, 641, 2}) : random_.between(1, 800);
        height = large ? random_.pick({720, 1080, 479, 1080}) : random_.between(1, 600);
    }

    // Mostly a renderer made for frames of `format` (any for -1), else a new one.
    renderer_slot& slot_for(int format)
    {
        std::vector<renderer_slot*> fitting;
        for (renderer_slot& slot : slots_)
            if (slot.renderer && (format < 0 || slot.format == format ||
                                  (software(slot.format) && software(format))))
                fitting.push_back(&slot);
        if (!fitting.empty() && random_.below(1000) < 995)
            return *fitting[random_.below(static_cast<uint32_t>(fitting.size()))];
        renderer_slot& slot = slots_[random_.below(3)];
        create(slot, std::max(format, 0));
        init(slot);
        return slot;
    }

    void create(renderer_slot& slot, int format)
    {
        const bool free_functions = random_.percent(50);
        call("destroy_vrender(r%d = %p)", slot.id, static_cast<void*>(slot.renderer));
        (free_functions ? ::destroy_vrender : kx_vidrender::destroy_vrender)(slot.renderer);
        finish();
        slot = {slot.id, nullptr, format};
        picture_size(slot.width, slot.height);
        call("r%d = create_vrender(%d)", slot.id, format);
        const auto chosen = static_cast<kx_pixel_fmt>(format);
        slot.renderer = (free_functions ? ::create_vrender : kx_vidrender::create_vrender)(chosen);
        finish();
        if (!slot.renderer)
            run_report::fail("create_vrender(%d) returned null", format);
    }

    // On a window alive, hidden or destroyed, on none, the desktop or a handle that never was.
    void init(renderer_slot& slot)
    {
        const uint32_t roll = random_.below(100);
        HWND window = roll < 85   ? windows_[random_.below(3)]->handle()
                      : roll < 93 ? nullptr
                      : roll < 95
                          ? GetDesktopWindow()
                          : reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7FF0 + 2 * roll));
        int width = 640, height = 360;
        if (random_.percent(30))
            picture_size(width, height);
        else if (random_.percent(10))
            (random_.percent(50) ? width : height) = random_.pick({0, -1, INT_MIN, INT_MAX});
        AVCodecContext* context = context_for(slot.format);
        call("r%d(format %d)->init_vrender(%p, %d, %d, %p)", slot.id, slot.format,
             static_cast<void*>(window), width, height, static_cast<void*>(context));
        const bool ready = slot.renderer->init_vrender(window, width, height, context);
        slot.initialised = true;
        const bool silent = std::any_of(broken_.begin(), broken_.end(), [context](auto& chain) {
            return &chain->codec == context && chain->refused_silently;
        });
        finish(ready || silent ? nullptr : "");
    }

    void lifecycle()
    {
        if (random_.percent(50))
            return init(slot_for(-1));
        renderer_slot& slot = slots_[random_.below(3)];
        create(slot, random_.percent(70) ? random_.pick({0, 12, 53, 174}) : undrawn_format());
        if (random_.percent(30)) {
            call("destroy_vrender(r%d)", slot.id);
            kx_vidrender::destroy_vrender(std::exchange(slot.renderer, nullptr));
            finish();
        }
    }

    void draw(renderer_slot& slot, AVFrame* frame, int width, int height)
    {
        slot.renderer->render_frame(frame, width, height);
        ++frames;
        const std::string refused = "invalid picture size(" + std::to_string(width) + "*" +
                                    std::to_string(height) + "), frame dropped!\n";
        finish(frame && slot.initialised && (width <= 0 || height <= 0) ? refused.c_str()
                                                                        : nullptr);
    }

    // Planes, or one buffer, that end at a guard page: strides padded or not, rows top-down or
    // bottom-up; stated sizes no larger than the planes, but zero, negative or smaller.
    void software_picture()
    {
        renderer_slot& slot = slot_for(random_.pick({0, 12}));
        if (random_.percent(2))
            picture_size(slot.width, slot.height);
        int width = slot.width, height = slot.height;
        if (random_.percent(5)) {
            width = random_.pick({0, -1, INT_MIN, width});
            height = random_.pick({0, -3, height});
        } else if (random_.percent(3)) {
            width = random_.between(1, width);
            height = random_.between(1, height);
        }
        if (random_.percent(12))
            return one_buffer(slot, width, height);
        AVFrame frame = {};
        frame.format = random_.percent(98) ? slot.format : random_.pick({0, 12});
        frame.colorspace = random_.percent(80) ? random_.between(0, 14) : int(random_.bits());
        std::unique_ptr<guarded_buffer> planes[3];
        for (int i = 0; i < 3; ++i) {
            const int row = i ? (slot.width + 1) / 2 : slot.width;
            const int rows = i ? (slot.height + 1) / 2 : slot.height;
            const int step = row + (random_.percent(50) ? 0 : random_.between(1, 64));
            const size_t above_last_row = static_cast<size_t>(rows - 1) * step;
            const bool bottom_up = random_.percent(15);
            planes[i] = filled(above_last_row + row, random_.below(256));
            frame.data[i] = planes[i]->data() + (bottom_up ? above_last_row : 0);
            frame.linesize[i] = bottom_up ? -step : step;
        }
        call("r%d->render_frame(format %d, colour space %d, %d, %d), %dx%d, strides %d %d %d",
             slot.id, frame.format, frame.colorspace, width, height, slot.width, slot.height,
             frame.linesize[0], frame.linesize[1], frame.linesize[2]);
        draw(slot, &frame, width, height);
    }

    // The library reads a drawn picture's width x height x 3 / 2 bytes, whatever the length.
    void one_buffer(renderer_slot& slot, int width, int height)
    {
        const int format = random_.percent(90) ? slot.format : random_.pick({23, 53, 174, -1});
        const bool drawable = width > 0 && height > 0;
        const size_t extra = random_.percent(30) ? random_.below(4096) : 0;
        const size_t bytes = drawable ? size_t(width) * height * 3 / 2 + extra : random_.below(64);
        const auto buffer = filled(bytes, random_.below(256));
        uint8_t* data = random_.percent(5) ? nullptr : buffer->data();
        const uint32_t length = random_.percent(5) ? 0 : static_cast<uint32_t>(bytes);
        call("r%d->render_buffer(%d, %p, %u, %d, %d)", slot.id, format, static_cast<void*>(data),
             length, width, height);
        slot.renderer->render_buffer(format, data, length, width, height);
        ++frames;
        finish(software(format) && data && length && width && height && !drawable ? "" : nullptr);
    }

    // Decoded surfaces and texture slices, some with broken records or of formats the library
    // does not draw, to renderers made for them or any other.
    void hardware_frame()
    {
        const uint32_t kind = random_.below(100);
        const bool d3d11 = kind % 2;
        frame_source& source = decoder(d3d11 ? kx_pix_fmt_d3d11 : 0);
        renderer_slot& slot = slot_for(kind < 90 ? source.format() : -1);
        AVFrame frame = *source.frame(random_.between(0, 3));
        if (random_.percent(15)) {
            broken_chain& chain = *broken_[2 * random_.below(5) + d3d11];
            frame.opaque = &chain.codec;
            frame.hw_frames_ctx = d3d11 ? &chain.frames_ref : nullptr;
        }
        if (random_.percent(5))
            frame.data[d3d11 ? 0 : 3] = nullptr;
        if (d3d11 && random_.percent(10))
            frame.data[1] =
                reinterpret_cast<uint8_t*>(random_.pick<intptr_t>({-1, 4, 1000, INTPTR_MAX}));
        frame.format = kind >= 94 ? undrawn_format() : frame.format;
        int width = 640, height = 360;
        if (random_.percent(4))
            picture_size(width, height);
        else if (random_.percent(4))
            width = random_.pick({0, -1, INT_MIN, INT_MAX, 65536});
        const bool null_frame = random_.percent(5);
        call("r%d(format %d)->render_frame(%s format %d, slice %p, opaque %p, frames %p, %d, %d)",
             slot.id, slot.format, null_frame ? "null" : "", frame.format,
             static_cast<void*>(frame.data[1]), frame.opaque,
             static_cast<void*>(frame.hw_frames_ctx), width, height);
        draw(slot, null_frame ? nullptr : &frame, width, height);
    }

    // The calls that draw nothing themselves; a null pointer is refused with its own line.
    void small_call()
    {
        renderer_slot& slot = slot_for(-1);
        kx_vidrender* renderer = slot.renderer;
        const bool null = random_.percent(10), ready = slot.initialised;
        const uint32_t which = random_.below(5);
        static const char* const names[] = {"set_overlay_list", "set_display_region",
                                            "set_image_adjust", "set_draw_callback",
                                            "get_overlay_rect"};
        static const int ranges[][3] = {
            {0, 0, 0}, {0, 10000, 60}, {0, 100, 40}, {0, 0, 0}, {-1, 6, 90}};
        int v[5] = {random_.percent(70) ? 1 : extreme()}; // a region's enabled, then values
        for (int i = 1; i < 5; ++i)
            v[i] = any_value(ranges[which][0], ranges[which][1], ranges[which][2]);
        call("r%d->%s(%s%d %d %d %d %d)", slot.id, names[which], null ? "null " : "", v[0], v[1],
             v[2], v[3], v[4]);
        overlay_rect out = {};
        const display_region region = {v[0], 0, v[1], v[2], v[3], v[4], 0, 0};
        const char* refusal = nullptr;
        if (which == 0) {
            renderer->set_overlay_list(random_overlays(random_, true));
        } else if (which == 1) {
            renderer->set_display_region(null ? nullptr : &region);
            refusal = null ? "set_display_region region is nullptr!\n" : nullptr;
        } else if (which == 2) {
            if (renderer->set_image_adjust(null ? nullptr : v + 1) && null)
                run_report::fail("set_image_adjust took null values");
            refusal = null && ready ? "set_image_adjust values is nullptr!\n" : nullptr;
        } else if (which == 3) {
            renderer->set_draw_callback(null ? nullptr : +[](void* context, int, void*) {
                ++g_callbacks;
                Rectangle(static_cast<HDC>(context), 2, 2, 60, 24);
            }, slot.id, &slot);
        } else {
            if (renderer->get_overlay_rect(v[1], null ? nullptr : &out) && null)
                run_report::fail("get_overlay_rect found a rectangle with nowhere to put it");
            refusal = null && ready ? "get_overlay_rect out is nullptr!\n" : nullptr;
        }
        finish(refusal);
    }

    void window()
    {
        const uint32_t w = random_.below(3), size = random_.below(100), op = random_.below(100);
        const bool tiny = size < 3, huge = size >= 97;
        const int width = tiny ? random_.between(0, 50) : huge ? 9000 : random_.between(64, 1280);
        const int height = tiny ? random_.between(0, 50) : huge ? 8193 : random_.between(48, 800);
        HWND handle = windows_[w]->handle();
        call("window w%u (%p) operation %u, %dx%d", w, static_cast<void*>(handle), op, width,
             height);
        if (op < 15) // the old window is destroyed
            windows_[w] = std::make_unique<test_window>(width, height);
        else if (op < 60) // resized or moved
            SetWindowPos(handle, nullptr, width * 4 - 3000, height * 4 - 2000, width, height,
                         SWP_NOZORDER | (op < 45 ? SWP_NOMOVE : SWP_NOSIZE));
        else if (op < 90) // no SW_MAXIMIZE: now and then Wine 8 never returns from it
            ShowWindow(handle, random_.pick(
                                   {SW_HIDE, SW_SHOW, SW_MINIMIZE, SW_RESTORE, SW_SHOWNOACTIVATE}));
        else
            DestroyWindow(handle); // the renderers given this window keep its handle
        test_window::pump_messages();
        finish();
    }

    seeded_random random_;
    uint64_t seed_;
    log_capture log_;
    std::unique_ptr<frame_source> software_ = make_frame_source("software");
    std::unique_ptr<frame_source> dxva2_ = make_frame_source("dxva2");
    std::unique_ptr<frame_source> d3d11_ = make_frame_source("d3d11");
    std::vector<std::unique_ptr<broken_chain>> broken_;
    renderer_slot slots_[3];
    std::unique_ptr<test_window> windows_[3];
    uint64_t index_ = 0;
};

} // namespace

int run_fuzz(int argc, char** argv)
{
    uint64_t seed = static_cast<uint64_t>(std::time(nullptr)) ^ GetCurrentProcessId();
    uint64_t calls = 3000;
    for (int i = 0; i < argc; ++i) {
        const std::string option = argv[i];
        if ((option == "--seed" || option == "--calls") && i + 1 < argc)
            (option == "--seed" ? seed : calls) = std::strtoull(argv[++i], nullptr, 10);
        else
            return std::fprintf(stderr, "usage: fuzz [--seed N] [--calls M]\n"), 2;
    }
    std::printf("fuzz: seed %llu\n", static_cast<unsigned long long>(seed));
    std::fflush(stdout);
    const std::string blind = gauges_blind_spots();
    if (!blind.empty())
        return std::fprintf(stderr, "fuzz: gauges blind to a leak:%s\n", blind.c_str()), 2;
    run_report::watch_hangs(60);
    fuzzer fuzz(seed);
    const gauge_reading before = read_gauges();
    fuzz.run(calls);
    const gauge_reading after = read_gauges();
    // A leak of every call or every frame shows, Wine's own few do not: after thousands of
    // calls Wine still holds the windows it fell back to, with a DC and a region each, and DCs
    // of windows it has destroyed.
    std::string figures;
    for (int g = gauge_heap_kb; g < gauge_count; ++g) {
        figures += std::string(" ") + gauge_name(g) + "=" + std::to_string(before.value[g]) + "->" +
                   std::to_string(after.value[g]);
        if (after.value[g] > before.value[g] + (g == gauge_heap_kb ? 4096 : 8))
            run_report::fail("the process holds more after the run than before it:%s",
                             figures.c_str());
    }
    std::printf("vrender_fuzz: %llu calls, seed %llu: %ld frames, %ld refusals logged, %ld draw "
                "callbacks, no crash, no hang, no leak:%s\n",
                static_cast<unsigned long long>(calls), static_cast<unsigned long long>(seed),
                fuzz.frames, fuzz.refusals, g_callbacks, figures.c_str());
    return 0;
}
