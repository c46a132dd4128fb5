// The DirectDraw backend: the last resort for software frames on machines without a usable
// Direct3D 9.
//
// Each frame is written into an off-screen copy surface in a format the display can blit
// from (YUV when the driver blits FOURCC surfaces, else the display's RGB format), blitted
// with scaling into a back surface of the target size, where the image adjustment runs on
// the processor and the draw callback and the GDI overlay renderer paint, and finally
// blitted onto the primary surface at the window's place on the screen, clipped to the
// window.
//
// Nothing is borrowed from a decoder: every DirectDraw object here is the backend's own.
#pragma once

#include <ddraw.h>
#include <wrl/client.h>

#include <map>

#include "../gdi_mytext.h"
#include "../vrender_base.h"
#include "rgb_adjust.h"

class ddraw_manager final : public vrender_base {
  public:
    // Keys of the copy-surface formats, in the order of preference.
    enum copy_format : int {
        copy_format_none = 0,
        copy_format_yv12 = 1,
        copy_format_yuy2 = 2,
        copy_format_uyvy = 3,
        copy_format_yvyu = 4,
        copy_format_argb = 5, // the display's own RGB format
    };

    ddraw_manager();
    ~ddraw_manager() override;

    bool init_render(HWND window, int video_width, int video_height, int target_width,
                     int target_height, AVCodecContext* codec_ctx) override;
    bool begin_render(bool clear, uint32_t argb) override;
    bool draw_image(uint8_t** planes, int* strides, RECT* destination, RECT* source) override;
    bool update_image(uint8_t** planes, int* strides, RECT* source) override;
    bool draw_overlays(std::list<overlay_group>* groups, int reference_width, int reference_height,
                       RECT* area) override;
    bool present(void* first, void* second) override;
    // -3 before a successful initialisation; -1 while a lost surface cannot be restored.
    int check_device() override;
    bool set_image_adjust(const int* values) override;
    void set_color_space(int color_class) override;

    int copy_format_key() const { return copy_format_; }

  private:
    // Pixel formats of the copy surface by key, and their names for the log (with "NONE"
    // for key 0).
    static const std::map<int, DDPIXELFORMAT> copy_formats;
    static const std::map<int, const char*> copy_format_names;

    bool create_primary_surface();
    bool attach_clipper(HWND window);
    void read_primary_format();
    bool create_copy_surface(int width, int height, bool use_sysmem);
    bool create_back_surface(int width, int height, bool use_sysmem);
    void release_surfaces();
    void release_all();
    void fill_copy_surface(uint8_t** planes, const int* strides, uint8_t* dst, int pitch);
    void fill_rgb(uint8_t** planes, const int* strides, uint8_t* dst, int pitch, int width,
                  int height);
    void adjust_back_surface();
    // Moves to the lost state when `result` says a surface was lost.
    void note_result(HRESULT result);

    Microsoft::WRL::ComPtr<IDirectDraw2> ddraw_;
    Microsoft::WRL::ComPtr<IDirectDrawClipper> clipper_;
    Microsoft::WRL::ComPtr<IDirectDrawSurface2> main_surface_;
    Microsoft::WRL::ComPtr<IDirectDrawSurface2> yuv_offscreen_surface_; // the copy surface
    int copy_format_ = copy_format_none;
    Microsoft::WRL::ComPtr<IDirectDrawSurface2> rgb_offscreen_surface_; // the back surface
    int surface_state_ = device_ready;
    gdi_mytext mytext_;
    int color_class_ = 0;
    int image_adjust_[4] = {50, 50, 50, 50};
    rgb_adjust::hue_turns hue_turns_ = {};
    bool blt_fourcc_ = false;
    DDPIXELFORMAT primary_format_ = {};
};
