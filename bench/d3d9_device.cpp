#include "d3d9_device.h"

decoder_device::decoder_device(bool ex)
    : window_(CreateWindowExA(0, "STATIC", "decoder", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr))
{
    IDirect3D9Ex* d3d9ex = nullptr;
    if (!ex)
        d3d9_ = Direct3DCreate9(D3D_SDK_VERSION);
    else if (SUCCEEDED(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d9ex)))
        d3d9_ = d3d9ex;
    if (!d3d9_)
        return;
    D3DPRESENT_PARAMETERS params = {};
    params.Windowed = TRUE;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.BackBufferFormat = D3DFMT_UNKNOWN;
    params.hDeviceWindow = window_;
    IDirect3DDevice9Ex* device_ex = nullptr;
    const HRESULT created =
        d3d9ex ? d3d9ex->CreateDeviceEx(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                        D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, nullptr,
                                        &device_ex)
               : d3d9_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device_);
    if (device_ex)
        device_ = device_ex;
    if (FAILED(created)) {
        device_ = nullptr;
        return;
    }
    if (FAILED(device_->CreateQuery(D3DQUERYTYPE_EVENT, &query_)))
        query_ = nullptr;

    priv_.d3d9 = d3d9_;
    priv_.d3d9device = device_;
    device_ctx_.hwctx = &hwctx_placeholder_;
    device_ctx_.user_opaque = &priv_;
    device_ref_.data = reinterpret_cast<uint8_t*>(&device_ctx_);
    codec_ctx_.hw_device_ctx = &device_ref_;
}

decoder_device::~decoder_device()
{
    if (query_)
        query_->Release();
    if (device_)
        device_->Release();
    if (d3d9_)
        d3d9_->Release();
    if (window_)
        DestroyWindow(window_);
}

void decoder_device::finish()
{
    if (!query_)
        return;
    // One flush sends the commands on their way; later polls only look, so that waiting
    // does not keep adding work for the thread being waited for.
    query_->Issue(D3DISSUE_END);
    if (query_->GetData(nullptr, 0, D3DGETDATA_FLUSH) != S_FALSE)
        return;
    while (query_->GetData(nullptr, 0, 0) == S_FALSE)
        SwitchToThread();
}
