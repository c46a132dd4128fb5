// Creates a renderer on a real window, plays a few frames of moving colour bars through the
// library's public interface, and reports what happened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kx_vidrender.h"

namespace {

constexpr int frame_width = 640;
constexpr int frame_height = 360;

struct yuv {
    uint8_t y, u, v;
};

// BT.601 limited-range values of white, yellow, cyan, green, magenta, red, blue, black.
const yuv bars[] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                    {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};

void fill_bars(std::vector<uint8_t>& picture, int frame_index)
{
    const int area = frame_width * frame_height;
    uint8_t* y_plane = picture.data();
    uint8_t* u_plane = y_plane + area;
    uint8_t* v_plane = y_plane + 5 * (area / 4);
    const int shift = frame_index * 4;
    for (int row = 0; row < frame_height; ++row)
        for (int col = 0; col < frame_width; ++col) {
            const yuv& bar = bars[((col + shift) % frame_width) * 8 / frame_width];
            y_plane[row * frame_width + col] = bar.y;
            if (row % 2 == 0 && col % 2 == 0) {
                const int chroma = (row / 2) * (frame_width / 2) + col / 2;
                u_plane[chroma] = bar.u;
                v_plane[chroma] = bar.v;
            }
        }
}

HWND make_window()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "vrender_smoke";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "video_render smoke", WS_POPUP | WS_VISIBLE, 0, 0,
                           frame_width, frame_height, nullptr, nullptr, wc.hInstance, nullptr);
}

void pump_messages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

int callback_calls = 0;

void count_callback(void*, int, void*)
{
    ++callback_calls;
}

} // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 30;
    HWND window = make_window();
    if (!window) {
        std::fprintf(stderr, "smoke: cannot create a window\n");
        return 1;
    }
    kx_vidrender* renderer = kx_vidrender::create_vrender(kx_pix_fmt_yuv420p);
    const bool ready = renderer->init_vrender(window, frame_width, frame_height, nullptr);
    std::printf("smoke: init_vrender %s\n", ready ? "succeeded" : "failed");
    if (!ready) {
        kx_vidrender::destroy_vrender(renderer);
        return 1;
    }
    renderer->set_draw_callback(count_callback, 0, nullptr);

    std::vector<uint8_t> picture(frame_width * frame_height * 3 / 2);
    for (int i = 0; i < frames; ++i) {
        fill_bars(picture, i);
        renderer->render_buffer(kx_pix_fmt_yuv420p, picture.data(),
                                static_cast<uint32_t>(picture.size()), frame_width, frame_height);
        pump_messages();
    }
    std::printf("smoke: %d frames handed in, draw callback called %d times\n", frames,
                callback_calls);
    kx_vidrender::destroy_vrender(renderer);
    DestroyWindow(window);
    return callback_calls == frames ? 0 : 1;
}
