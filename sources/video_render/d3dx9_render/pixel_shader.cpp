#include "pixel_shader.h"

#include "shaders/xrgb_ps20.h"
#include "shaders/xrgb_ps30.h"
#include "shaders/yuv420_ps20.h"
#include "shaders/yuv420_ps30.h"

bool pixel_shader::init(IDirect3DDevice9* device, const DWORD* ps30_code, const DWORD* ps20_code)
{
    D3DCAPS9 caps = {};
    if (!device || FAILED(device->GetDeviceCaps(&caps)) ||
        caps.PixelShaderVersion < D3DPS_VERSION(2, 0)) {
        d3d_shader_.Reset();
        return false;
    }
    const DWORD* code = caps.PixelShaderVersion >= D3DPS_VERSION(3, 0) ? ps30_code : ps20_code;
    return SUCCEEDED(device->CreatePixelShader(code, &d3d_shader_));
}

namespace {

const DWORD* code_of(const uint32_t* words)
{
    static_assert(sizeof(DWORD) == sizeof(uint32_t), "shader code is made of 32-bit words");
    return reinterpret_cast<const DWORD*>(words);
}

} // namespace

bool yuv420_shader::init(IDirect3DDevice9* device)
{
    return pixel_shader::init(device, code_of(compiled_shaders::yuv420_ps30),
                              code_of(compiled_shaders::yuv420_ps20));
}

bool xrgb_shader::init(IDirect3DDevice9* device)
{
    return pixel_shader::init(device, code_of(compiled_shaders::xrgb_ps30),
                              code_of(compiled_shaders::xrgb_ps20));
}
