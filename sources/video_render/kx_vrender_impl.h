// The render front: the one implementation of kx_vidrender. It owns the backend, scales
// software pictures to the window, rebuilds the backend when the window size, the picture
// size or the decode type changes, and drives it through one fixed sequence per frame. A
// backend that could not be built is built again on a later frame, paced by rebuild_pacing.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "kx_vidrender.h"
#include "recursive_lock.h"
#include "vrender_base.h"

// When a failed rebuild may be tried again: at once on the next frame after a first failure,
// then once per interval while the failures go on (a display that stays off would otherwise
// cost a device creation per frame).
class rebuild_pacing {
  public:
    static constexpr uint64_t retry_interval_ms = 250;
    bool due(uint64_t now_ms) const
    {
        return failures_ < 2 || now_ms - last_failure_ms_ >= retry_interval_ms;
    }
    void failed(uint64_t now_ms)
    {
        ++failures_;
        last_failure_ms_ = now_ms;
    }
    // The failures that went before; the count starts again.
    uint32_t succeeded()
    {
        const uint32_t before = failures_;
        failures_ = 0;
        return before;
    }
    uint32_t failures() const { return failures_; }

  private:
    uint32_t failures_ = 0;
    uint64_t last_failure_ms_ = 0;
};

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
    // Whether a rebuild may be tried on this frame.
    bool rebuild_due() const;
    // Logs the start and the end of a failure that repeats; the first failure logs its own.
    void note_rebuild(bool ok);
    bool first_failure() const { return pacing_.failures() == 1; }
    void _draw_frame(uint8_t* const planes[], const int strides[], int width, int height);

    bool region_in_force() const;
    // Installs a new backend for the pixel format and caps_, if one can be made.
    void replace_backend();
    // Scales a software frame into scale_buffer_; false when libyuv refuses.
    bool scale_to_window(const AVFrame& frame, int width, int height, uint32_t window_width,
                         uint32_t window_height);
    // Rebuilds the backend when the window size, picture size, decode type or decoder's device
    // changed; false when a rebuild failed and the frame must be dropped.
    bool rebuild_for_changes(int frame_format, int width, int height, uint32_t window_width,
                             uint32_t window_height, AVCodecContext* codec_ctx);
    RECT region_source_rect(int width, int height) const;
    // Whether the backend reads what a frame of `format` carries in its planes.
    bool backend_reads(int format) const;

    std::unique_ptr<vrender_base> render_mng_;
    const kx_pixel_fmt pixel_format_;
    HWND window_ = nullptr;
    AVCodecContext* codec_ctx_ = nullptr;
    // The decoder's device the backend was last built on (null when none), which names its lock.
    const void* decoder_device_ = nullptr;
    int video_width_ = 0;
    int video_height_ = 0;
    uint32_t window_width_ = 0;
    uint32_t window_height_ = 0;
    recursive_lock mutex_;
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
    // False while the backend's last initialisation failed: it cannot draw, and the next
    // frame that is due builds it again.
    bool backend_ready_ = false;
    rebuild_pacing pacing_;
};
