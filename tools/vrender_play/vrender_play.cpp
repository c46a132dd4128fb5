// Plays frames through the library into a real window: the built-in test pattern or a Y4M
// file, as software frames or as DXVA2-style surfaces. Writes a screenshot of the last frame
// and prints frames per second and the CPU time spent inside render_frame.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dc_pixels.h"
#include "dxva2_uploader.h"
#include "ffmpeg_records.h"
#include "kx_vidrender.h"
#include "player_options.h"
#include "png_writer.h"
#include "test_pattern.h"
#include "y4m_reader.h"

namespace {

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

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

// A picture source: the test pattern or a Y4M file.
class frame_source {
  public:
    bool open(const player_options& options, std::string& error)
    {
        if (options.input.empty()) {
            width_ = options.window_width;
            height_ = options.window_height;
            pattern_ = std::make_unique<test_pattern>(width_, height_);
            limit_ = options.frames;
            return true;
        }
        if (!file_.open(options.input)) {
            error = file_.error();
            return false;
        }
        width_ = file_.width();
        height_ = file_.height();
        limit_ = options.frames;
        return true;
    }

    // The next picture; false at the end (or on a damaged file, with `error` set).
    bool next(std::vector<uint8_t>& picture, int& colorspace, std::string& error)
    {
        if (index_ >= limit_)
            return false;
        if (pattern_) {
            pattern_->paint(index_, picture);
            colorspace = test_pattern::colorspace_of(index_);
        } else if (!file_.read_frame(picture)) {
            error = file_.error();
            return false;
        } else {
            colorspace = 2;
        }
        ++index_;
        return true;
    }

    const test_pattern* pattern() const { return pattern_.get(); }
    int index() const { return index_; }
    int width() const { return width_; }
    int height() const { return height_; }

  private:
    std::unique_ptr<test_pattern> pattern_;
    y4m_reader file_;
    int width_ = 0;
    int height_ = 0;
    int index_ = 0;
    int limit_ = 0;
};

AVFrame software_frame(std::vector<uint8_t>& picture, int width, int height, int colorspace)
{
    const int cw = (width + 1) / 2;
    AVFrame frame = {};
    frame.format = 0;
    frame.colorspace = colorspace;
    frame.data[0] = picture.data();
    frame.data[1] = frame.data[0] + static_cast<size_t>(width) * height;
    frame.data[2] = frame.data[1] + static_cast<size_t>(cw) * ((height + 1) / 2);
    frame.linesize[0] = width;
    frame.linesize[1] = cw;
    frame.linesize[2] = cw;
    return frame;
}

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

} // namespace

int main(int argc, char** argv)
{
    player_options options;
    std::string error;
    if (!parse_options(argc, argv, options, error)) {
        std::fprintf(stderr, "vrender_play: %s\n%s", error.c_str(), player_usage);
        return 2;
    }
    if (options.path == play_path::d3d11) {
        std::fprintf(stderr, "vrender_play: the Direct3D 11 path is not available in this "
                             "player yet\n");
        return 1;
    }
    frame_source source;
    if (!source.open(options, error)) {
        std::fprintf(stderr, "vrender_play: %s\n", error.c_str());
        return 1;
    }

    HWND window = make_window(options.window_width, options.window_height);
    std::unique_ptr<dxva2_uploader> uploader;
    AVCodecContext* codec_ctx = nullptr;
    if (options.path == play_path::dxva2) {
        uploader = std::make_unique<dxva2_uploader>();
        if (!uploader->open(source.width(), source.height(), error)) {
            std::fprintf(stderr, "vrender_play: %s\n", error.c_str());
            return 1;
        }
        codec_ctx = uploader->codec_context();
    }
    const kx_pixel_fmt format =
        options.path == play_path::dxva2 ? kx_pix_fmt_dxva2_vld : kx_pix_fmt_yuv420p;
    kx_vidrender* renderer = kx_vidrender::create_vrender(format);
    if (options.region)
        renderer->set_display_region(&options.region_value);
    if (!renderer->init_vrender(window, source.width(), source.height(), codec_ctx)) {
        std::fprintf(stderr, "vrender_play: the library could not initialise a renderer\n");
        kx_vidrender::destroy_vrender(renderer);
        return 1;
    }
    renderer->set_image_adjust(options.adjust.data());
    screenshot shot;
    shot.width = options.window_width;
    shot.height = options.window_height;
    renderer->set_draw_callback(take_screenshot, 0, &shot);

    std::vector<uint8_t> picture;
    std::vector<double> cpu_ms;
    int colorspace = 2;
    const DWORD started = GetTickCount();
    while (source.next(picture, colorspace, error)) {
        if (source.pattern())
            renderer->set_overlay_list(source.pattern()->overlays(source.index() - 1));
        AVFrame frame;
        if (uploader)
            uploader->upload(picture, colorspace, frame);
        else
            frame = software_frame(picture, source.width(), source.height(), colorspace);
        shot.wanted = source.index() == options.frames;
        const double before = thread_cpu_ms();
        renderer->render_frame(&frame, source.width(), source.height());
        cpu_ms.push_back(thread_cpu_ms() - before);
        pump_messages();
        if (source.index() % 50 == 0)
            std::printf("vrender_play: %d frames\n", source.index());
    }
    const double seconds = std::max(1, static_cast<int>(GetTickCount() - started)) / 1000.0;
    if (!error.empty()) {
        std::fprintf(stderr, "vrender_play: %s\n", error.c_str());
        kx_vidrender::destroy_vrender(renderer);
        return 1;
    }
    if (shot.pixels.empty()) {
        // A file shorter than --frames: take the last frame again.
        shot.wanted = true;
        std::vector<uint8_t> last = picture;
        AVFrame frame = uploader
                            ? AVFrame()
                            : software_frame(last, source.width(), source.height(), colorspace);
        if (uploader)
            uploader->upload(last, colorspace, frame);
        renderer->render_frame(&frame, source.width(), source.height());
    }
    kx_vidrender::destroy_vrender(renderer);
    DestroyWindow(window);

    const int frames = static_cast<int>(cpu_ms.size());
    std::printf("vrender_play: %d frames drawn in %.2f s: %.1f frames per second\n", frames,
                seconds, frames / seconds);
    std::printf("vrender_play: CPU time in render_frame: median %.2f ms, 95th percentile "
                "%.2f ms\n",
                percentile(cpu_ms, 0.5), percentile(cpu_ms, 0.95));
    if (shot.pixels.empty()) {
        std::fprintf(stderr, "vrender_play: no picture reached the draw callback\n");
        return 1;
    }
    if (!write_png(options.screenshot, shot.width, shot.height, shot.pixels, error)) {
        std::fprintf(stderr, "vrender_play: %s: %s\n", options.screenshot.c_str(), error.c_str());
        return 1;
    }
    std::printf("vrender_play: screenshot %s\n", options.screenshot.c_str());
    return 0;
}
