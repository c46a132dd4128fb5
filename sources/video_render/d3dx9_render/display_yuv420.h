// Software YUV 4:2:0 pictures: the three planes in three L8 textures, converted to RGB by
// the yuv420 pixel shader.
#pragma once

#include "base_display.h"
#include "pixel_shader.h"

// Copies `rows` rows of `width` bytes between two strided planes: in one block when both sides
// are contiguous, else row by row (a stride below the width, even a negative one, reads only
// the rows the stride says the plane holds).
void copy_plane(uint8_t* target, int target_pitch, const uint8_t* source, int source_stride,
                int width, int rows);

class display_yuv420 final : public base_display {
  public:
    // Reports E_FAIL in `result` when the device has no pixel shader 2.0.
    display_yuv420(IDirect3DDevice9* device, HRESULT* result);
    ~display_yuv420() override;

    bool set_image_buffer(int width, int height, int kind, const RECT* rect) override;
    bool upload_image(uint8_t** planes, int* strides, const RECT* source) override;
    bool draw(float alpha, int flip_flags, const RECT* dst, const RECT* src) override;
    bool release_resources() override;
    bool restore_resources() override;

  private:
    bool create_resources(int width, int height, const RECT* dst);
    bool write_vertices(DWORD lock_flags);
    void bind_samplers();

    Microsoft::WRL::ComPtr<IDirect3DVertexBuffer9> vertex_buffer_;
    Microsoft::WRL::ComPtr<IDirect3DTexture9> plane_textures_[3];
    IDirect3DTexture9* sampler_textures_[3] = {}; // plane_textures_ in the sampling order
    int plane_width_[3] = {};
    int plane_height_[3] = {};
    yuv420_shader* shader_ = nullptr;
};
