// Plays frames through the library into a real window: the built-in test pattern or a Y4M
// file, as software frames (drawn with Direct3D 9, or with DirectDraw where Direct3D 9 is
// missing), as DXVA2-style surfaces or as Direct3D 11-style textures of the player's own
// devices. Writes a screenshot of the last frame and prints frames per second and the CPU
// time spent inside render_frame.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "backend_watch.h"
#include "dc_pixels.h"
#include "frame_feed.h"
#include "frame_source.h"
#include "kx_vidrender.h"
#include "player_options.h"
#include "png_writer.h"

namespace {

enum exit_status : int {
    exit_played = 0,
    exit_failed = 1,
    exit_bad_arguments = 2,
    exit_platform_lacks = 3, // the chosen path cannot run on this machine
    exit_not_ddraw = 4,      // DirectDraw was asked for, but the library found Direct3D 9
};

int fail(const std::string& message, int status = exit_failed)
{
    std::fprintf(stderr, "vrender_play: %s\n", message.c_str());
    return status;
}

HWND make_window(int width, int height)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "vrender_play";
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "video_render player", WS_POPUP | WS_VISIBLE, 0, 0,
                           width, height, nullptr, nullptr, wc.hInstance, nullptr);
}

void pump_messages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

double thread_cpu_ms()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return static_cast<double>(static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 10000.0;
}

double wall_ms()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

// The finished picture of one frame, taken by the draw callback when `wanted`.
struct screenshot {
    bool wanted = false;
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

void take_screenshot(void* context, int, void* user)
{
    auto* shot = static_cast<screenshot*>(user);
    if (shot->wanted)
        shot->pixels = capture_dc(static_cast<HDC>(context), shot->width, shot->height).pixels;
}

// Direct3D 9 calls the draw callback with the finished picture. DirectDraw calls it before it
// draws the overlays and Direct3D 11 does not call it: there the window itself is read.
bool callback_shows_last_frame(play_path path)
{
    return path == play_path::d3d9 || path == play_path::dxva2;
}

std::vector<uint32_t> window_pixels(HWND window, int width, int height)
{
    HDC dc = GetDC(window);
    if (!dc)
        return {};
    std::vector<uint32_t> pixels = capture_dc(dc, width, height).pixels;
    ReleaseDC(window, dc);
    return pixels;
}

struct renderer_deleter {
    void operator()(kx_vidrender* renderer) const { kx_vidrender::destroy_vrender(renderer); }
};
using renderer_ptr = std::unique_ptr<kx_vidrender, renderer_deleter>;

// Software frames go to Direct3D 9 when it is usable, else to DirectDraw: the path asked for
// has to be the one the library took.
int check_software_backend(play_path path, const backend_watch& watch)
{
    if (path == play_path::ddraw && !watch.saw_ddraw())
        return fail("the library drew with Direct3D 9, not DirectDraw: Direct3D 9 is usable "
                    "here (./run.sh --path ddraw runs the copy in build/x64/bin/ddraw_only, "
                    "beside a d3d9.dll without it)",
                    exit_not_ddraw);
    if (path == play_path::d3d9 && watch.saw_ddraw())
        return fail("Direct3D 9 is not usable here: the library fell back to DirectDraw "
                    "(--path ddraw plays that way)",
                    exit_platform_lacks);
    if (path == play_path::ddraw)
        std::printf("vrender_play: the library fell back to DirectDraw (copy surface %s)\n",
                    watch.copy_format().empty() ? "?" : watch.copy_format().c_str());
    return exit_played;
}

// Creates and initialises the renderer. Returns exit_played or the status to exit with.
int start_renderer(const player_options& options, HWND window, frame_feed& feed,
                   renderer_ptr& renderer)
{
    renderer.reset(kx_vidrender::create_vrender(feed.pixel_format()));
    if (options.region)
        renderer->set_display_region(&options.region_value);
    int status = exit_played;
    {
        const backend_watch watch;
        if (!renderer->init_vrender(window, feed.frame_width(), feed.frame_height(),
                                    feed.codec_context()))
            return fail("the library could not initialise a renderer");
        if (options.path == play_path::d3d9 || options.path == play_path::ddraw)
            status = check_software_backend(options.path, watch);
    }
    renderer->set_image_adjust(options.adjust.data());
    return status;
}

struct run_figures {
    // Inside render_frame, one entry a frame. Thread times advance in whole scheduler ticks
    // (10 ms under Wine), so the wall-clock times go with them.
    std::vector<double> cpu_ms;
    std::vector<double> wall_ms;
    double seconds = 0.0;
};

// Plays every picture of `source`; false with `error` set on a damaged file or a failed upload.
bool play(kx_vidrender& renderer, frame_source& source, frame_feed& feed, int last_frame,
          screenshot& shot, run_figures& figures, std::string& error)
{
    std::vector<uint8_t> picture;
    int colorspace = 2;
    const DWORD started = GetTickCount();
    while (source.next(picture, colorspace, error)) {
        if (source.pattern())
            renderer.set_overlay_list(source.pattern()->overlays(source.index() - 1));
        AVFrame frame;
        if (!feed.make(picture, colorspace, frame)) {
            error = "cannot upload the picture of frame " + std::to_string(source.index());
            return false;
        }
        shot.wanted = source.index() == last_frame;
        const double cpu_before = thread_cpu_ms();
        const double wall_before = wall_ms();
        renderer.render_frame(&frame, feed.frame_width(), feed.frame_height());
        figures.wall_ms.push_back(wall_ms() - wall_before);
        figures.cpu_ms.push_back(thread_cpu_ms() - cpu_before);
        pump_messages();
        if (source.index() % 50 == 0)
            std::printf("vrender_play: %d frames\n", source.index());
    }
    figures.seconds = std::max(1, static_cast<int>(GetTickCount() - started)) / 1000.0;
    if (!error.empty())
        return false;
    if (shot.wanted || picture.empty())
        return true;
    // A file shorter than --frames: draw its last picture again for the callback.
    AVFrame frame;
    shot.wanted = true;
    if (feed.make(picture, colorspace, frame))
        renderer.render_frame(&frame, feed.frame_width(), feed.frame_height());
    return true;
}

void print_figures(const run_figures& figures)
{
    const int frames = static_cast<int>(figures.cpu_ms.size());
    std::printf("vrender_play: %d frames drawn in %.2f s: %.1f frames per second\n", frames,
                figures.seconds, frames / figures.seconds);
    std::printf("vrender_play: CPU time in render_frame: median %.2f ms, 95th percentile "
                "%.2f ms\n",
                percentile(figures.cpu_ms, 0.5), percentile(figures.cpu_ms, 0.95));
    std::printf("vrender_play: wall time in render_frame: median %.2f ms, 95th percentile "
                "%.2f ms\n",
                percentile(figures.wall_ms, 0.5), percentile(figures.wall_ms, 0.95));
}

int run(const player_options& options)
{
    frame_source source;
    std::string error;
    if (!source.open(options, error))
        return fail(error);
    frame_feed feed;
    const frame_feed::outcome fed = feed.open(options.path, source.width(), source.height(), error);
    if (fed == frame_feed::outcome::platform_lacks)
        return fail(error + "; the Direct3D 11 path cannot run here", exit_platform_lacks);
    if (fed != frame_feed::outcome::ready)
        return fail(error);

    HWND window = make_window(options.window_width, options.window_height);
    renderer_ptr renderer;
    const int started = start_renderer(options, window, feed, renderer);
    if (started != exit_played)
        return started;
    screenshot shot;
    shot.width = options.window_width;
    shot.height = options.window_height;
    if (callback_shows_last_frame(options.path))
        renderer->set_draw_callback(take_screenshot, 0, &shot);

    run_figures figures;
    if (!play(*renderer, source, feed, options.frames, shot, figures, error))
        return fail(error);
    if (!callback_shows_last_frame(options.path))
        shot.pixels = window_pixels(window, shot.width, shot.height);
    renderer.reset();
    DestroyWindow(window);

    print_figures(figures);
    if (shot.pixels.empty())
        return fail("no picture of the last frame could be read");
    if (!write_png(options.screenshot, shot.width, shot.height, shot.pixels, error))
        return fail(options.screenshot + ": " + error);
    std::printf("vrender_play: screenshot %s\n", options.screenshot.c_str());
    return exit_played;
}

} // namespace

int main(int argc, char** argv)
{
    player_options options;
    std::string error;
    if (!parse_options(argc, argv, options, error)) {
        std::fprintf(stderr, "vrender_play: %s\n%s", error.c_str(), player_usage);
        return exit_bad_arguments;
    }
    if (options.help) {
        std::fputs(player_usage, stdout);
        return exit_played;
    }
    return run(options);
}
