#include "dxva2_uploader.h"

#include <libyuv/convert_argb.h>

dxva2_uploader::~dxva2_uploader()
{
    for (IDirect3DSurface9* surface : surfaces_)
        surface->Release();
    if (device_)
        device_->Release();
    if (d3d9_)
        d3d9_->Release();
    if (window_)
        DestroyWindow(window_);
}

bool dxva2_uploader::open(int width, int height, std::string& error)
{
    width_ = width;
    height_ = height;
    window_ = CreateWindowExA(0, "STATIC", "decoder", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    d3d9_ = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS params = {};
    params.Windowed = TRUE;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.hDeviceWindow = window_;
    if (!d3d9_ ||
        FAILED(d3d9_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                   D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED,
                                   &params, &device_))) {
        error = "cannot create the decoder's Direct3D 9 device";
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        IDirect3DSurface9* surface = nullptr;
        if (FAILED(device_->CreateOffscreenPlainSurface(static_cast<UINT>(width),
                                                        static_cast<UINT>(height), D3DFMT_X8R8G8B8,
                                                        D3DPOOL_DEFAULT, &surface, nullptr))) {
            error = "cannot create the decoder's surfaces";
            return false;
        }
        surfaces_.push_back(surface);
    }
    records_.attach(d3d9_, device_, width, height);
    return true;
}

bool dxva2_uploader::upload(const std::vector<uint8_t>& picture, int colorspace, AVFrame& frame)
{
    IDirect3DSurface9* surface = surfaces_[next_++ % surfaces_.size()];
    D3DLOCKED_RECT locked;
    if (FAILED(surface->LockRect(&locked, nullptr, 0)))
        return false;
    const int cw = (width_ + 1) / 2;
    const uint8_t* y = picture.data();
    const uint8_t* u = y + static_cast<size_t>(width_) * height_;
    const uint8_t* v = u + static_cast<size_t>(cw) * ((height_ + 1) / 2);
    const libyuv::YuvConstants* constants = colorspace == 1   ? &libyuv::kYuvH709Constants
                                            : colorspace == 9 ? &libyuv::kYuv2020Constants
                                                              : &libyuv::kYuvI601Constants;
    libyuv::I420ToARGBMatrix(y, width_, u, cw, v, cw, static_cast<uint8_t*>(locked.pBits),
                             locked.Pitch, constants, width_, height_);
    surface->UnlockRect();
    frame = records_.frame_of(surface, colorspace);
    return true;
}
