#include "fake_dxva2_decoder.h"

fake_dxva2_decoder::fake_dxva2_decoder()
{
    window_ = CreateWindowExA(0, "STATIC", "decoder", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    d3d9_ = Direct3DCreate9(D3D_SDK_VERSION);
    if (!d3d9_)
        return;
    D3DPRESENT_PARAMETERS params = {};
    params.Windowed = TRUE;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.BackBufferFormat = D3DFMT_UNKNOWN;
    params.hDeviceWindow = window_;
    // Multithreaded, as FFmpeg makes a DXVA2 device: the decoder's threads share it.
    if (FAILED(d3d9_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                   D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED,
                                   &params, &device_)))
        device_ = nullptr;
    records_.attach(d3d9_, device_, 0, 0);
}

fake_dxva2_decoder::~fake_dxva2_decoder()
{
    if (device_)
        device_->Release();
    if (d3d9_)
        d3d9_->Release();
    if (window_)
        DestroyWindow(window_);
}

IDirect3DSurface9* fake_dxva2_decoder::make_surface(int width, int height,
                                                    uint32_t (*colour_at)(int x, int y))
{
    IDirect3DSurface9* surface = nullptr;
    if (FAILED(device_->CreateOffscreenPlainSurface(static_cast<UINT>(width),
                                                    static_cast<UINT>(height), D3DFMT_X8R8G8B8,
                                                    D3DPOOL_DEFAULT, &surface, nullptr)))
        return nullptr;
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(surface->LockRect(&locked, nullptr, 0))) {
        for (int y = 0; y < height; ++y) {
            auto* row =
                reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch);
            for (int x = 0; x < width; ++x)
                row[x] = colour_at(x, y);
        }
        surface->UnlockRect();
    }
    return surface;
}
