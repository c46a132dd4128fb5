#include "d3d9_manager.h"

#include "../ffmpeg_records.h"
#include "../log_helper.h"
#include "display_hwdirect.h"
#include "display_yuv420.h"

VR_LOG_SOURCE("..\\..\\..\\sources\\video_render\\d3dx9_render\\d3d9_manager")

namespace {

constexpr UINT d3d9_sdk_version = 32;
constexpr DWORD present_flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER | D3DPRESENTFLAG_VIDEO;

void* result_as_pointer(HRESULT result)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(result)));
}

using Microsoft::WRL::ComPtr;

// The window's swap chain: one X8R8G8B8 back buffer, discarded at every present, with a
// lockable back buffer for the draw callback's device context.
D3DPRESENT_PARAMETERS present_parameters(HWND window, int width, int height)
{
    D3DPRESENT_PARAMETERS params = {};
    params.BackBufferWidth = static_cast<UINT>(width);
    params.BackBufferHeight = static_cast<UINT>(height);
    params.BackBufferFormat = D3DFMT_X8R8G8B8;
    params.BackBufferCount = 1;
    params.MultiSampleType = D3DMULTISAMPLE_NONE;
    params.MultiSampleQuality = 0;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.hDeviceWindow = window;
    params.Windowed = TRUE;
    params.Flags = present_flags;
    params.FullScreen_RefreshRateInHz = 0;
    return params;
}

// Hardware vertex processing when the device has it; no device without dynamic textures.
bool choose_behaviour(IDirect3D9* d3d9, D3DCAPS9& caps, DWORD& behaviour)
{
    behaviour = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    if (FAILED(d3d9->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps))) {
        caps = D3DCAPS9();
        return true;
    }
    if (!(caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES))
        return false;
    if (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT)
        behaviour = D3DCREATE_HARDWARE_VERTEXPROCESSING;
    return true;
}

} // namespace

const std::map<int, d3d9_manager::display_creator> d3d9_manager::display_creators = {
    {display_kind_yvu, create_display<display_yuv420>},
    {display_kind_yuv, create_display<display_yuv420>},
    {display_kind_hwceel, create_display<display_hwdirect>},
};

d3d9_manager::d3d9_manager()
{
    render_type_ = render_kind_d3d9;
}

d3d9_manager::~d3d9_manager()
{
    destroy_device();
}

base_display* d3d9_manager::create_render(int kind, IDirect3DDevice9* device)
{
    const auto found = display_creators.find(kind);
    return found == display_creators.end() ? nullptr : found->second(device);
}

bool d3d9_manager::init_render(HWND window, int video_width, int video_height, int target_width,
                               int target_height, AVCodecContext* codec_ctx)
{
    std::lock_guard<recursive_lock> lock(render_mutex_);
    if (!window || video_width == 0 || video_height == 0) {
        VR_LOG(vr_log::error, "inparam error!hwnd:%p, width:%d, height:%d, codec_ctx:%p\n",
               static_cast<void*>(window), video_width, video_height,
               static_cast<void*>(codec_ctx));
        return false;
    }
    if (d3d9_ && d3d_dev_) {
        VR_LOG(vr_log::notice, "d3d9 vrender initialized!\n");
        return true;
    }
    window_ = window;
    video_width_ = video_width;
    video_height_ = video_height;
    target_width_ = target_width;
    target_height_ = target_height;
    decoder_ctx_ = codec_ctx;

    const bool ok =
        codec_ctx ? init_shared_device(window, video_width, video_height, target_width,
                                       target_height, codec_ctx)
                  : init_own_device(window, video_width, video_height, target_width, target_height);
    if (!ok)
        return false;
    mytext_.init(d3d_dev_.Get(), static_cast<uint32_t>(target_width),
                 static_cast<uint32_t>(target_height));
    device_lost_ = false;
    return true;
}

bool d3d9_manager::init_own_device(HWND window, int video_width, int video_height, int target_width,
                                   int target_height)
{
    swap_chain_.Reset();
    d3d_dev_.Reset();
    d3d9_.Reset();
    VR_LOG(vr_log::notice,
           "init video render with d3d9 software! hwnd:%p, vwidth:%d, vheight:%d, twidth:%d, "
           "theight:%d\n",
           static_cast<void*>(window), video_width, video_height, target_width, target_height);

    D3DPRESENT_PARAMETERS params = present_parameters(window, target_width, target_height);
    params.EnableAutoDepthStencil = TRUE;
    params.AutoDepthStencilFormat = D3DFMT_D24S8;
    params.PresentationInterval = D3DPRESENT_INTERVAL_ONE;
    if (!create_device_ex(&params)) {
        VR_LOG(vr_log::error, "CreateDeviceEx error!Try CreateDevice...\n");
        if (!create_device(&params)) {
            VR_LOG(vr_log::error, "CreateDevice error too!\n");
            return false;
        }
    }
    if (FAILED(d3d_dev_->GetSwapChain(0, &swap_chain_))) {
        VR_LOG(vr_log::error, "GetSwapChain error !\n");
        destroy_device();
        return false;
    }
    display_ = create_render(display_kind_yuv, d3d_dev_.Get());
    if (!display_) {
        VR_LOG(vr_log::error, "create_render error !\n");
        destroy_device();
        return false;
    }
    display_->set_backbuffer_format(D3DFMT_X8R8G8B8);
    const RECT picture = {0, 0, video_width, video_height};
    if (!display_->set_image_buffer(video_width, video_height, display_kind_yuv, &picture)) {
        VR_LOG(vr_log::error, "set_image_buffer error !\n");
        drop_display();
        destroy_device();
        return false;
    }
    return true;
}

bool d3d9_manager::init_shared_device(HWND window, int video_width, int video_height,
                                      int target_width, int target_height,
                                      AVCodecContext* codec_ctx)
{
    AVBufferRef* device_ref = codec_ctx->hw_device_ctx;
    if (!device_ref) {
        VR_LOG(vr_log::error, "hw_device_ctx is nullptr!\n");
        return false;
    }
    auto* device_ctx = reinterpret_cast<AVHWDeviceContext*>(device_ref->data);
    if (!device_ctx) {
        VR_LOG(vr_log::error, "hw_device_ctx->data is nullptr!\n");
        return false;
    }
    if (!device_ctx->hwctx) {
        VR_LOG(vr_log::error, "device_ctx->hwctx is nullptr!\n");
        return false;
    }
    if (!device_ctx->user_opaque) {
        VR_LOG(vr_log::error, "device_ctx->user_opaque is nullptr!\n");
        return false;
    }
    const auto* hw_priv = static_cast<const dxva2_device_priv*>(device_ctx->user_opaque);
    if (!hw_priv->d3d9device || !hw_priv->d3d9) {
        VR_LOG(vr_log::error,
               "hw_priv_->d3d9device(%p) is nullptr or hw_priv_->d3d9(%p) is nullptr!\n",
               static_cast<void*>(hw_priv->d3d9device), static_cast<void*>(hw_priv->d3d9));
        return false;
    }
    if (d3d_dev_ && d3d_dev_.Get() != hw_priv->d3d9device) {
        VR_LOG(vr_log::error,
               "d3d_dev_(%p) is not nullptr and not equal to hw_priv_->d3d9device(%p)!\n",
               static_cast<void*>(d3d_dev_.Get()), static_cast<void*>(hw_priv->d3d9device));
        return false;
    }
    d3d_dev_ = hw_priv->d3d9device;

    D3DCAPS9 caps = {};
    if (SUCCEEDED(hw_priv->d3d9->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps)))
        set_render_states(&caps);

    D3DPRESENT_PARAMETERS params = present_parameters(window, target_width, target_height);
    params.EnableAutoDepthStencil = FALSE;
    params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    const HRESULT created = d3d_dev_->CreateAdditionalSwapChain(&params, &swap_chain_);
    if (FAILED(created)) {
        VR_LOG(vr_log::error, "create additional swapchain failed %d\n", static_cast<int>(created));
        return false;
    }
    display_ = create_render(display_kind_hwceel, d3d_dev_.Get());
    if (!display_) {
        VR_LOG(vr_log::error, "create_render CS_HWCEEL error !\n");
        release_swap_chain();
        return false;
    }
    display_->set_backbuffer_format(D3DFMT_X8R8G8B8);
    const RECT picture = {0, 0, video_width, video_height};
    if (!display_->set_image_buffer(target_width, target_height, display_kind_hwceel, &picture)) {
        VR_LOG(vr_log::error, "set_image_buffer error !\n");
        drop_display();
        release_swap_chain();
        return false;
    }
    return true;
}

bool d3d9_manager::create_device_ex(D3DPRESENT_PARAMETERS* params)
{
    try {
        ComPtr<IDirect3D9Ex> ex;
        const HRESULT created = Direct3DCreate9Ex(d3d9_sdk_version, &ex);
        if (FAILED(created) || !ex) {
            VR_LOG(vr_log::error, "Direct3DCreate9Ex error,code:%p!", result_as_pointer(created));
            return false;
        }
        D3DCAPS9 caps = {};
        DWORD behaviour = 0;
        if (!choose_behaviour(ex.Get(), caps, behaviour))
            return false;
        ComPtr<IDirect3DDevice9Ex> device;
        const HRESULT result =
            ex->CreateDeviceEx(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, params->hDeviceWindow, behaviour,
                               params, nullptr, &device);
        if (FAILED(result) || !device) {
            VR_LOG(vr_log::error, "CreateDeviceEx error,code:%p!\n", result_as_pointer(result));
            return false;
        }
        d3d9_ = ex;
        d3d_dev_ = device;
        return true;
    } catch (...) {
        VR_LOG(vr_log::error, "Direct3DCreate9Ex or CreateDeviceEx exception!");
        return false;
    }
}

bool d3d9_manager::create_device(D3DPRESENT_PARAMETERS* params)
{
    try {
        ComPtr<IDirect3D9> d3d9;
        d3d9.Attach(Direct3DCreate9(d3d9_sdk_version));
        if (!d3d9) {
            VR_LOG(vr_log::error, "Direct3DCreate9 error,code:%p!", result_as_pointer(0));
            return false;
        }
        D3DCAPS9 caps = {};
        DWORD behaviour = 0;
        if (!choose_behaviour(d3d9.Get(), caps, behaviour))
            return false;
        ComPtr<IDirect3DDevice9> device;
        const HRESULT result = d3d9->CreateDevice(
            D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, params->hDeviceWindow, behaviour, params, &device);
        if (FAILED(result) || !device) {
            VR_LOG(vr_log::error, "CreateDevice error,code:%p!\n", result_as_pointer(result));
            return false;
        }
        d3d9_ = d3d9;
        d3d_dev_ = device;
        set_render_states(&caps);
        return true;
    } catch (...) {
        VR_LOG(vr_log::error, "Direct3DCreate9 or CreateDevice exception!");
        return false;
    }
}

void d3d9_manager::set_render_states(const D3DCAPS9* caps)
{
    IDirect3DDevice9* device = d3d_dev_.Get();
    const bool min_linear = caps->TextureFilterCaps & D3DPTFILTERCAPS_MINFLINEAR;
    const bool mag_linear = caps->TextureFilterCaps & D3DPTFILTERCAPS_MAGFLINEAR;
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, min_linear ? D3DTEXF_LINEAR : D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, mag_linear ? D3DTEXF_LINEAR : D3DTEXF_POINT);
    device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_DITHERENABLE, TRUE);
    device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    if (caps->AlphaCmpCaps & D3DPCMPCAPS_GREATER) {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_ALPHAREF, 0);
        device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    }
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, TRUE);
}

void d3d9_manager::drop_display()
{
    delete display_;
    display_ = nullptr;
}

void d3d9_manager::release_swap_chain()
{
    back_buffer_.Reset();
    swap_chain_.Reset();
}

void d3d9_manager::destroy_device()
{
    std::lock_guard<recursive_lock> lock(render_mutex_);
    VR_LOG(vr_log::notice, "destory d3d9 device!\n");
    drop_display();
    release_swap_chain();
    d3d_dev_.Reset();
    d3d9_.Reset();
}

bool d3d9_manager::begin_render(bool clear, uint32_t argb)
{
    std::lock_guard<recursive_lock> lock(render_mutex_);
    if (!swap_chain_)
        return false;
    if (SUCCEEDED(swap_chain_->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back_buffer_)))
        d3d_dev_->SetRenderTarget(0, back_buffer_.Get());
    if (clear)
        d3d_dev_->Clear(0, nullptr, D3DCLEAR_TARGET, argb, 1.0f, 0);
    return d3d_dev_->BeginScene() == D3D_OK;
}

bool d3d9_manager::draw_image(uint8_t**, int*, RECT* destination, RECT* source)
{
    std::lock_guard<recursive_lock> lock(render_mutex_);
    if (!display_)
        return false;
    return display_->draw(1.0f, 0, destination, source);
}

bool d3d9_manager::update_image(uint8_t** planes, int* strides, RECT* source)
{
    std::lock_guard<recursive_lock> lock(render_mutex_);
    if (!display_)
        return false;
    return display_->upload_image(planes, strides, source);
}

bool d3d9_manager::draw_overlays(std::list<overlay_group>* groups, int reference_width,
                                 int reference_height, RECT* area)
{
    const bool has_callback = has_draw_callback();
    if ((!groups || groups->empty()) && !has_callback)
        return true;
    std::lock_guard<recursive_lock> lock(render_mutex_);
    const bool drawn = mytext_.draw(groups, reference_width, reference_height, area);
    if (has_callback && back_buffer_) {
        HDC dc = nullptr;
        back_buffer_->GetDC(&dc);
        if (dc) {
            invoke_draw_callback(dc);
            back_buffer_->ReleaseDC(dc);
        }
    }
    return drawn;
}

bool d3d9_manager::present(void*, void*)
{
    std::lock_guard<recursive_lock> lock(render_mutex_);
    if (!d3d_dev_ || !swap_chain_)
        return false;
    d3d_dev_->EndScene();
    back_buffer_.Reset();
    const HRESULT result = swap_chain_->Present(nullptr, nullptr, nullptr, nullptr, 0);
    if (result == D3D_OK)
        return true;
    if (result == D3DERR_DEVICELOST || result == D3DERR_DRIVERINTERNALERROR) {
        VR_LOG(vr_log::error, "device lost error occured!\n");
        device_lost_.exchange(true);
    }
    return false;
}

int d3d9_manager::check_device()
{
    // Without a swap chain (a failed initialisation on the decoder's device) nothing can be
    // drawn until the backend is built again.
    if (!d3d_dev_ || !swap_chain_)
        return device_lost;
    if (!device_lost_)
        return device_ready;
    const HRESULT result = d3d_dev_->TestCooperativeLevel();
    if (result >= 0)
        return device_ready;
    VR_LOG(vr_log::trace, "TestCooperativeLevel result:%x\n", static_cast<unsigned>(result));
    if (result == D3DERR_DEVICENOTRESET || result == D3DERR_DRIVERINTERNALERROR)
        return device_lost;
    device_lost_.exchange(true);
    return device_not_ready;
}

bool d3d9_manager::set_image_adjust(const int* values)
{
    std::lock_guard<recursive_lock> lock(render_mutex_);
    if (!display_ || !values)
        return false;
    display_->set_adjust(values);
    return true;
}

void d3d9_manager::set_color_space(int color_class)
{
    std::lock_guard<recursive_lock> lock(render_mutex_);
    if (display_)
        display_->set_color_class(color_class);
}
