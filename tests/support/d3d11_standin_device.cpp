#include "d3d11_standin_device.h"

using texture_patch = method_patch<&ID3D11Device::CreateTexture2D>;
using view_patch = method_patch<&ID3D11Device::CreateShaderResourceView>;

nv12_standin::nv12_standin(ID3D11Device* device)
    : textures_(device,
                [this](ID3D11Device* self, const D3D11_TEXTURE2D_DESC* desc,
                       const D3D11_SUBRESOURCE_DATA* data, ID3D11Texture2D** out) {
                    if (enabled && desc && desc->Format == DXGI_FORMAT_NV12 &&
                        !(desc->BindFlags & D3D11_BIND_DECODER))
                        return make(self, *desc, out);
                    return texture_patch::next(self, desc, data, out);
                }),
      views_(device,
             [this](ID3D11Device* self, ID3D11Resource* resource,
                    const D3D11_SHADER_RESOURCE_VIEW_DESC* desc, ID3D11ShaderResourceView** out) {
                 if (luma_ && resource == luma_ && desc && desc->Format == DXGI_FORMAT_R8G8_UNORM)
                     resource = chroma_;
                 return view_patch::next(self, resource, desc, out);
             })
{}

void nv12_standin::release()
{
    for (ID3D11Texture2D** texture : {&luma_, &chroma_})
        if (*texture) {
            (*texture)->Release();
            *texture = nullptr;
        }
}

HRESULT nv12_standin::make(ID3D11Device* device, const D3D11_TEXTURE2D_DESC& desc,
                           ID3D11Texture2D** out)
{
    requests.push_back(desc);
    release();
    D3D11_TEXTURE2D_DESC luma = desc;
    luma.Format = DXGI_FORMAT_R8_UNORM;
    D3D11_TEXTURE2D_DESC chroma = luma;
    chroma.Format = DXGI_FORMAT_R8G8_UNORM;
    chroma.Width = desc.Width / 2;
    chroma.Height = desc.Height / 2;
    chroma.Usage = D3D11_USAGE_DEFAULT;
    chroma.CPUAccessFlags = 0;
    HRESULT result = texture_patch::original(device, &luma, nullptr, &luma_);
    if (SUCCEEDED(result))
        result = texture_patch::original(device, &chroma, nullptr, &chroma_);
    if (FAILED(result)) {
        release();
        *out = nullptr;
        return result;
    }
    luma_->AddRef();
    *out = luma_;
    return S_OK;
}
