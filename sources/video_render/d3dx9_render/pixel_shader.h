// Direct3D 9 pixel shaders, chosen by the device's shader model: the ps_3_0 code on devices
// with shader model 3.0 or higher, the ps_2_0 code on 2.x devices, none below.
#pragma once

#include <d3d9.h>
#include <wrl/client.h>

class pixel_shader {
  public:
    pixel_shader() = default;
    virtual ~pixel_shader() = default;
    pixel_shader(const pixel_shader&) = delete;
    pixel_shader& operator=(const pixel_shader&) = delete;

    bool init(IDirect3DDevice9* device, const DWORD* ps30_code, const DWORD* ps20_code);
    IDirect3DPixelShader9* shader() const { return d3d_shader_.Get(); }

  private:
    Microsoft::WRL::ComPtr<IDirect3DPixelShader9> d3d_shader_;
};

// Planar YUV 4:2:0 from three L8 textures (s0 Y, s1 U, s2 V) to adjusted RGB.
class yuv420_shader final : public pixel_shader {
  public:
    bool init(IDirect3DDevice9* device);
};

// An RGB texture (s0) to adjusted RGB.
class xrgb_shader final : public pixel_shader {
  public:
    bool init(IDirect3DDevice9* device);
};
