// A presentation strategy: draws the current picture as one textured quad into the render
// target that the Direct3D 9 manager set, converting and adjusting its colours in a pixel
// shader.
#pragma once

#include <d3d9.h>
#include <wrl/client.h>

#include <cstdint>

#include "../color/color_math.h"
#include "quad_geometry.h"

class base_display {
  public:
    virtual ~base_display();
    base_display(const base_display&) = delete;
    base_display& operator=(const base_display&) = delete;

    // Prepares for pictures of width x height; `rect` is the destination of the quad (or,
    // for DXVA2 surfaces, the decoded picture's size).
    virtual bool set_image_buffer(int width, int height, int kind, const RECT* rect) = 0;
    // Takes the picture of one frame.
    virtual bool upload_image(uint8_t** planes, int* strides, const RECT* source) = 0;
    // Draws the quad inside the open scene; dst in back-buffer pixels, src in picture pixels.
    virtual bool draw(float alpha, int flip_flags, const RECT* dst, const RECT* src) = 0;
    virtual bool release_resources() = 0;
    virtual bool restore_resources() = 0;
    virtual void set_backbuffer_format(D3DFORMAT format);

    // Contrast, brightness, saturation, hue; read at every draw.
    void set_adjust(const int values[4]);
    void set_color_class(int color_class) { color_class_ = color_class; }

  protected:
    base_display();

    // True when the opacity, the destination, the source or the flips changed.
    bool update_geometry(int flip_flags, const RECT* dst, const RECT* src, float alpha);
    void set_positions(const RECT& dst);
    // Uploads the colour constants: F to c0-c3, the contrast gain to c4-c7, the contrast
    // offset to c8 and the brightness offset to c9.
    static void set_shader_constants(IDirect3DDevice9* device,
                                     const color_math::shader_constants& constants);
    color_math::image_adjust adjustment() const;

    IDirect3DDevice9* device_ = nullptr; // the manager's, which outlives the strategy
    RECT dst_rect_ = {};
    RECT src_rect_ = {};
    int flip_flags_ = 0;
    int image_kind_ = -1;
    float inv_width_ = 0.0f;
    float inv_height_ = 0.0f;
    quad_tex_coords tex_coords_ = {{{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}}};
    quad_positions positions_ = {};
    float alpha_ = 1.0f;
    uint32_t diffuse_ = 0xFFFFFFFF;
    D3DFORMAT backbuffer_format_ = D3DFMT_UNKNOWN;
    color_math::hue_frame hue_ = color_math::make_hue_frame();
    int adjust_[4] = {50, 50, 50, 50};
    int color_class_ = 0;
};

// Makes a strategy whose constructor reports in an HRESULT; null when that failed.
template <typename display> base_display* create_display(IDirect3DDevice9* device)
{
    HRESULT result = S_OK;
    display* created = new display(device, &result);
    if (FAILED(result)) {
        delete created;
        return nullptr;
    }
    return created;
}

// Strategy kinds of the Direct3D 9 manager's factory.
enum display_kind : int { display_kind_yvu = 0, display_kind_yuv = 1, display_kind_hwceel = 10 };
