// video_render: draws decoded video into a window.
//
// A caller creates one renderer per window with kx_vidrender::create_vrender(format),
// initialises it with init_vrender(window, width, height, codec_ctx), hands it decoded
// FFmpeg frames with render_frame(), and destroys it with kx_vidrender::destroy_vrender().
//
// Frames are FFmpeg 4.x AVFrame records. Include FFmpeg's headers (or this library's
// ffmpeg_records.h) to build them; this header needs only the names.
#pragma once

#include <windows.h>

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#if defined(VIDEO_RENDER_BUILD)
#define VIDEO_RENDER_API __declspec(dllexport)
#else
#define VIDEO_RENDER_API __declspec(dllimport)
#endif

struct AVFrame;
struct AVCodecContext;

// FFmpeg 4.x AVPixelFormat numbers that the library gives a meaning to. Any other value is
// accepted by create_vrender but its frames are not drawn.
enum kx_pixel_fmt {
    kx_pix_fmt_yuv420p = 0,    // software planar Y, U, V
    kx_pix_fmt_yuvj420p = 12,  // software, full-range flag only; drawn like yuv420p
    kx_pix_fmt_dxva2_vld = 53, // IDirect3DSurface9 in data[3]; drawn with Direct3D 9
    kx_pix_fmt_d3d11 = 174,    // ID3D11Texture2D array slice; drawn with Direct3D 11
};

// The part of the picture shown enlarged to the whole window. Coordinates are in
// ten-thousandths of the picture; note the order left, right, top, bottom. In force only
// when enabled, right and bottom are all non-zero.
struct display_region {
    int32_t enabled;
    uint8_t flag; // not used by the library
    int32_t left;
    int32_t right;
    int32_t top;
    int32_t bottom;
    int32_t reserved1;
    int32_t reserved2;
};

// Window rectangle of an overlay group, as get_overlay_rect() lays it out.
struct overlay_rect {
    int32_t left;
    int32_t right;
    int32_t top;
    int32_t bottom;
    int32_t window_width;
    int32_t window_height;
};

// A point in a space of ref_w x ref_h units; a zero reference means the renderer's default.
struct overlay_point {
    uint32_t x;
    uint32_t y;
    uint32_t ref_w;
    uint32_t ref_h;
};

enum overlay_kind : uint32_t { overlay_kind_figure = 0, overlay_kind_text = 1 };

// One drawable element: a figure (polyline, box, crossing line) or a text label.
struct overlay_entry {
    uint32_t kind = overlay_kind_figure;
    std::vector<overlay_point> points; // text: [0] anchor, [1] receives the laid-out corner
    std::string text;                  // ANSI code page
    uint32_t font_size = 0;            // pixels, or units of ref_h with scale_to_reference
    uint32_t text_color = 0;           // 0x00RRGGBB
    uint32_t line_width = 0;
    uint32_t line_color = 0; // 0x00RRGGBB; exactly 0x00FF0000 is drawn in the second pass
    bool border = false;
    bool scale_to_reference = false;
    bool closed = false;
    uint32_t direction_mark = 0; // two-point figure: 0 none, 1 B side, 2 A side, 3 both
    bool highlight = false;
    bool inner_ellipses = false;
    uint32_t ellipse_layout = 0; // 0 one ellipse, 1 three side by side, 2 three stacked
    uint32_t h_align = 0;        // 0 left, 1 left + margin, 2 centred, 3 right - margin
    uint32_t v_align = 0;        // 0 top, 1 top + margin, 2 centred, 3 bottom - margin
};

// An element of the overlay list. Only `entries` and `id` are read by the library; the
// other fields belong to the caller and are carried along unchanged.
struct overlay_group {
    std::vector<overlay_entry> entries;
    int64_t caller_data = 0;
    int16_t caller_kind = 0;
    int32_t id = 0;
    int32_t caller_values[4] = {};
    int16_t caller_flags = 0;
    int32_t caller_extra[2] = {};
};

typedef void (*kx_draw_callback)(void* context, int user_value, void* user_pointer);

class VIDEO_RENDER_API kx_vidrender {
  public:
    kx_vidrender();
    kx_vidrender(const kx_vidrender& other);
    kx_vidrender(kx_vidrender&& other);
    kx_vidrender& operator=(const kx_vidrender& other);
    kx_vidrender& operator=(kx_vidrender&& other);

    // Chooses, creates and initialises the drawing backend on `window` for a picture of
    // width x height. codec_ctx is the decoder's context, used for DXVA2 and Direct3D 11
    // frames only. Returns true when the renderer is ready to draw.
    virtual bool init_vrender(HWND window, int width, int height, AVCodecContext* codec_ctx) = 0;
    // Draws one decoded frame whose planes are width x height pixels.
    virtual void render_frame(AVFrame* frame, int width, int height) = 0;
    // Draws a planar YUV 4:2:0 picture held in one buffer: Y, then U, then V.
    virtual void render_buffer(int pixel_format, uint8_t* buffer, uint32_t length, int width,
                               int height) = 0;
    // Replaces the overlays drawn over every following frame (the list is copied).
    virtual void set_overlay_list(const std::list<overlay_group>& groups) = 0;
    // Sets the part of the picture enlarged to the window (the record is copied).
    virtual void set_display_region(const display_region* region) = 0;
    // Window rectangle of the first overlay group whose id is `id`.
    virtual bool get_overlay_rect(int id, overlay_rect* out) = 0;
    // Contrast, brightness, saturation, hue; each 0..100, 50 neutral.
    virtual bool set_image_adjust(const int values[4]) = 0;
    // Installs (or, with a null callback, removes) the callback called once per frame with
    // a device context of the finished picture.
    virtual void set_draw_callback(kx_draw_callback callback, int user_value,
                                   void* user_pointer) = 0;

    static kx_vidrender* create_vrender(kx_pixel_fmt format);
    static void destroy_vrender(kx_vidrender* renderer);
    // Converts an NV12 picture (Y, then interleaved UV) into planar YUV 4:2:0 in `dst`.
    static bool yuvnv12_to_yuv420p(uint8_t* src, uint32_t src_length, uint32_t width,
                                   uint32_t height, uint8_t* dst, uint32_t& dst_length);

  protected:
    // Renderers are destroyed with destroy_vrender() only.
    ~kx_vidrender() = default;
};

// The same three functions outside the class, for callers that prefer free functions.
VIDEO_RENDER_API kx_vidrender* create_vrender(kx_pixel_fmt format);
VIDEO_RENDER_API void destroy_vrender(kx_vidrender* renderer);
VIDEO_RENDER_API bool yuvnv12_to_yuv420p(uint8_t* src, uint32_t src_length, uint32_t width,
                                         uint32_t height, uint8_t* dst, uint32_t& dst_length);
