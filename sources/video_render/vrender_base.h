// The contract between the render front and its drawing backends.
//
// For every frame the front calls, in this order: check_device, set_color_space,
// update_image, begin_render, draw_image, draw_overlays (with the front's mutex held) and
// present. After every rebuild it calls init_render, set_image_adjust and, if it holds
// one, set_draw_callback.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>

#include "kx_vidrender.h"
#include "recursive_lock.h"

struct AVCodecContext;

enum render_kind : int { render_kind_ddraw = 0, render_kind_d3d9 = 1, render_kind_d3d11 = 2 };

// check_device results
enum device_state : int {
    device_ready = 0,
    device_not_ready = -1, // drop this frame
    device_lost = -2,      // rebuild the backend, then draw
    device_skip = -3,      // drop this frame
};

class vrender_base {
  public:
    vrender_base();
    virtual ~vrender_base();

    vrender_base(const vrender_base&) = delete;
    vrender_base& operator=(const vrender_base&) = delete;

    // Creates the device objects for the window; video size is the picture size the front
    // will hand in, target size the window size. codec_ctx is set for hardware frames only.
    virtual bool init_render(HWND window, int video_width, int video_height, int target_width,
                             int target_height, AVCodecContext* codec_ctx) = 0;
    virtual bool begin_render(bool clear, uint32_t argb) = 0;
    // Null rectangles mean the whole picture and the whole target.
    virtual bool draw_image(uint8_t** planes, int* strides, RECT* destination, RECT* source) = 0;
    virtual bool update_image(uint8_t** planes, int* strides, RECT* source) = 0;
    // Draws the overlay list and calls the draw callback. `area` is the window rectangle of
    // the shown part of the picture, or null for the whole target.
    virtual bool draw_overlays(std::list<overlay_group>* groups, int reference_width,
                               int reference_height, RECT* area);
    virtual bool present(void* first, void* second) = 0;
    virtual int check_device();
    virtual bool set_image_adjust(const int* values) = 0;
    virtual void set_color_space(int color_class) = 0;

    void set_draw_callback(kx_draw_callback callback, int user_value, void* user_pointer);

    int render_type() const { return render_type_; }

  protected:
    // Calls the draw callback, if one is set, with a drawing context of the finished picture.
    void invoke_draw_callback(void* context);
    bool has_draw_callback();

    int render_type_ = render_kind_ddraw;
    HWND window_ = nullptr;
    int video_width_ = 0;
    int video_height_ = 0;
    int target_width_ = 0;
    int target_height_ = 0;
    AVCodecContext* decoder_ctx_ = nullptr;

  private:
    std::function<void(void*)> draw_callback_;
    recursive_lock callback_mutex_;
};
