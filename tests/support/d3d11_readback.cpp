#include "d3d11_readback.h"

#include <cstring>

namespace {

int bytes_per_pixel_of(DXGI_FORMAT format)
{
    if (format == DXGI_FORMAT_R8_UNORM || format == DXGI_FORMAT_R8G8_UNORM)
        return format == DXGI_FORMAT_R8_UNORM ? 1 : 2;
    return format == DXGI_FORMAT_B8G8R8A8_UNORM || format == DXGI_FORMAT_R8G8B8A8_UNORM ? 4 : 0;
}

} // namespace

texture_pixels read_pixels(ID3D11DeviceContext* context, ID3D11Texture2D* texture)
{
    texture_pixels pixels;
    D3D11_TEXTURE2D_DESC desc = {};
    texture->GetDesc(&desc);
    const int bytes_per_pixel = bytes_per_pixel_of(desc.Format);
    if (bytes_per_pixel == 0)
        return pixels;

    ID3D11Device* device = nullptr;
    texture->GetDevice(&device);
    D3D11_TEXTURE2D_DESC staging_desc = desc;
    staging_desc.MipLevels = 1;
    staging_desc.ArraySize = 1;
    staging_desc.Usage = D3D11_USAGE_STAGING;
    staging_desc.BindFlags = 0;
    staging_desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    staging_desc.MiscFlags = 0;
    ID3D11Texture2D* staging = nullptr;
    const HRESULT created = device->CreateTexture2D(&staging_desc, nullptr, &staging);
    device->Release();
    if (FAILED(created))
        return pixels;

    context->CopySubresourceRegion(staging, 0, 0, 0, 0, texture, 0, nullptr);
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    if (SUCCEEDED(context->Map(staging, 0, D3D11_MAP_READ, 0, &mapped))) {
        pixels.width = static_cast<int>(desc.Width);
        pixels.height = static_cast<int>(desc.Height);
        pixels.bytes_per_pixel = bytes_per_pixel;
        pixels.bgra = desc.Format == DXGI_FORMAT_B8G8R8A8_UNORM;
        const size_t row = static_cast<size_t>(desc.Width) * bytes_per_pixel;
        pixels.bytes.resize(row * desc.Height);
        for (UINT y = 0; y < desc.Height; ++y)
            std::memcpy(&pixels.bytes[y * row],
                        static_cast<const uint8_t*>(mapped.pData) + y * mapped.RowPitch, row);
        context->Unmap(staging, 0);
    }
    staging->Release();
    return pixels;
}

texture_pixels read_bound_target(ID3D11DeviceContext* context)
{
    ID3D11RenderTargetView* view = nullptr;
    context->OMGetRenderTargets(1, &view, nullptr);
    if (!view)
        return {};
    ID3D11Resource* resource = nullptr;
    view->GetResource(&resource);
    view->Release();
    ID3D11Texture2D* texture = nullptr;
    resource->QueryInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&texture));
    resource->Release();
    if (!texture)
        return {};
    texture_pixels pixels = read_pixels(context, texture);
    texture->Release();
    return pixels;
}
