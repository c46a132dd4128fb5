// Wine refuses NV12 textures. While an nv12_standin lives, a Direct3D 11 device in com_targets
// answers a request for a (non-decoder) NV12 texture with an R8 texture of the same size, which
// the backend's copy and its R8 view reach, and keeps an R8G8 texture of half the size, which
// an R8G8 view of that texture is given instead. Everything else is the platform's.
#pragma once

#include <d3d11.h>

#include <vector>

#include "com_patch.h"

class nv12_standin {
  public:
    explicit nv12_standin(ID3D11Device* device);
    ~nv12_standin() { release(); }
    nv12_standin(const nv12_standin&) = delete;
    nv12_standin& operator=(const nv12_standin&) = delete;

    // False: NV12 requests reach the platform (which refuses them).
    bool enabled = true;
    // The NV12 textures asked for.
    std::vector<D3D11_TEXTURE2D_DESC> requests;
    // The two textures of the latest request, held here (each holds its device).
    ID3D11Texture2D* luma() const { return luma_; }
    ID3D11Texture2D* chroma() const { return chroma_; }
    void release();

  private:
    HRESULT make(ID3D11Device* device, const D3D11_TEXTURE2D_DESC& desc, ID3D11Texture2D** out);

    ID3D11Texture2D* luma_ = nullptr;
    ID3D11Texture2D* chroma_ = nullptr;
    method_patch<&ID3D11Device::CreateTexture2D> textures_;
    method_patch<&ID3D11Device::CreateShaderResourceView> views_;
};
