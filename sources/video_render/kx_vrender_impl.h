// The render front: the one implementation of kx_vidrender. It owns the backend, scales
// software pictures to the window, rebuilds the backend when the window size, the picture
// size or the decode type changes, and drives it through one fixed sequence per frame.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "kx_vidrender.h"
#include "vrender_base.h"

class kx_vrender_impl final : public kx_vidrender {
  public:
    explicit kx_vrender_impl(kx_pixel_fmt format);
    ~kx_vrender_impl();

    kx_vrender_impl(const kx_vrender_impl&) = delete;
    kx_vrender_impl& operator=(const kx_vrender_impl&) = delete;

    bool init_vrender(HWND window, int width, int height, AVCodecContext* codec_ctx) override;
    void render_frame(AVFrame* frame, int width, int height) override;
    void render_buffer(int pixel_format, uint8_t* buffer, uint32_t length, int width,
                       int height) override;
    void set_overlay_list(const std::list<overlay_group>& groups) override;
    void set_display_region(const display_region* region) override;
    bool get_overlay_rect(int id, overlay_rect* out) override;
    bool set_image_adjust(const int values[4]) override;
    void set_draw_callback(kx_draw_callback callback, int user_value, void* user_pointer) override;

  private:
    // A picture as the backend receives it: plane pointers, strides and size.
    struct picture {
        uint8_t** planes;
        int* strides;
        int width;
        int height;
    };

    int check_render_caps();
    bool get_window_size(uint32_t& width, uint32_t& height);
    bool _update_wnd_texture(int video_width, int video_height, uint32_t window_width,
                             uint32_t window_height, AVCodecContext* codec_ctx);
    void _draw_frame(uint8_t* const planes[], const int strides[], int width, int height);

    bool region_in_force() const;
    // Installs a new backend for the pixel format and caps_, if one can be made.
    void replace_backend();
    // Scales a software frame into scale_buffer_; false when libyuv refuses.
    bool scale_to_window(const AVFrame& frame, int width, int height, uint32_t window_width,
                         uint32_t window_height);
    // Rebuilds the backend when the window size, picture size or decode type changed;
    // false when a rebuild failed and the frame must be dropped.
    bool rebuild_for_changes(int frame_format, int width, int height, uint32_t window_width,
                             uint32_t window_height, AVCodecContext* codec_ctx);
    RECT region_source_rect(int width, int height) const;
    // Whether the backend reads what a frame of `format` carries in its planes.
    bool backend_reads(int format) const;

    std::unique_ptr<vrender_base> render_mng_;
    const kx_pixel_fmt pixel_format_;
    HWND window_ = nullptr;
    AVCodecContext* codec_ctx_ = nullptr;
    int video_width_ = 0;
    int video_height_ = 0;
    uint32_t window_width_ = 0;
    uint32_t window_height_ = 0;
    std::recursive_mutex mutex_;
    std::list<overlay_group> overlay_list_;
    display_region display_region_ = {};
    std::vector<uint8_t> scale_buffer_;
    // render_buffer's copy of an odd-sized picture, padded to what the scaler reads.
    std::vector<uint8_t> padded_buffer_;
    uint8_t* scaled_planes_[3] = {};
    int scaled_strides_[3] = {};
    int caps_ = 0;
    int color_class_ = 0;
    int image_adjust_[4] = {50, 50, 50, 50};
    int reference_width_ = 0;
    int reference_height_ = 0;
    kx_draw_callback callback_ = nullptr;
    void* callback_pointer_ = nullptr;
    int callback_value_ = 0;
};
