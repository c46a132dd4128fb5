// The NV12 texture the Direct3D 11 backend copies each picture into: written by the CPU,
// sampled by the pixel shader through a view of each plane.
#pragma once

#include <d3d11.h>

inline D3D11_TEXTURE2D_DESC video_texture_description(UINT width, UINT height)
{
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_NV12;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DYNAMIC;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    return desc;
}
