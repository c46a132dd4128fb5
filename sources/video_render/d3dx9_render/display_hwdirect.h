// DXVA2 surfaces: the decoded surface is stretched on the GPU into a render-target texture
// of the window's size (the driver converts it to RGB), then drawn as a quad through the
// xrgb pixel shader, which applies the adjustments.
#pragma once

#include "base_display.h"
#include "pixel_shader.h"

class display_hwdirect final : public base_display {
  public:
    // Reports E_FAIL in `result` when the device has no pixel shader 2.0.
    display_hwdirect(IDirect3DDevice9* device, HRESULT* result);
    ~display_hwdirect() override;

    // width x height: the window; rect: {0, 0, decoded width, decoded height}.
    bool set_image_buffer(int width, int height, int kind, const RECT* rect) override;
    // planes[3] is the decoded IDirect3DSurface9; source the crop in picture pixels.
    bool upload_image(uint8_t** planes, int* strides, const RECT* source) override;
    bool draw(float alpha, int flip_flags, const RECT* dst, const RECT* src) override;
    bool release_resources() override;
    bool restore_resources() override;

  private:
    bool create_resources(int width, int height, const RECT* dst);
    bool write_vertices();

    IDirect3DDevice9* render_device_ = nullptr; // the manager's
    Microsoft::WRL::ComPtr<IDirect3DVertexBuffer9> vertex_buffer_;
    RECT target_rect_ = {};
    Microsoft::WRL::ComPtr<IDirect3DTexture9> rt_texture_;
    Microsoft::WRL::ComPtr<IDirect3DSurface9> rt_surface_;
    IDirect3DSurface9* frame_surface_ = nullptr; // the decoder's, for the current frame only
    int image_width_ = 0;
    int image_height_ = 0;
    int source_width_ = 0;
    int source_height_ = 0;
    xrgb_shader* shader_ = nullptr;
};

// The part of a decoded surface that is copied: the crop rounded toward zero to even
// coordinates, or the whole picture less two lines at the top and bottom above 720 lines.
RECT dxva2_copy_rect(const RECT* crop, int source_width, int source_height);
