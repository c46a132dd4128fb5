#include "d3d11_manager.h"

#include <d3d10.h>

#include <cfloat>

#include "../ffmpeg_records.h"
#include "../frame_input.h"
#include "../log_helper.h"
#include "d3d11_constants.h"
#include "shaders/nv12_ps40.h"
#include "shaders/nv12_ps91.h"
#include "shaders/quad_vs40.h"
#include "shaders/quad_vs91.h"
#include "video_texture.h"

VR_LOG_SOURCE("..\\..\\..\\sources\\video_render\\d3d11_render\\d3d11_manager")

namespace {

unsigned code_of(HRESULT result)
{
    return static_cast<unsigned>(result);
}

struct shader_code {
    const void* bytes;
    SIZE_T size;
};

shader_code vertex_shader_code(bool level9)
{
    if (level9)
        return {compiled_shaders::quad_vs91, compiled_shaders::quad_vs91_size};
    return {compiled_shaders::quad_vs40, compiled_shaders::quad_vs40_size};
}

shader_code pixel_shader_code(bool level9)
{
    if (level9)
        return {compiled_shaders::nv12_ps91, compiled_shaders::nv12_ps91_size};
    return {compiled_shaders::nv12_ps40, compiled_shaders::nv12_ps40_size};
}

// The outer size of the window, or the fallback when the window cannot be measured.
void window_size(HWND window, int fallback_width, int fallback_height, int& width, int& height)
{
    RECT rect = {};
    if (GetWindowRect(window, &rect)) {
        width = rect.right - rect.left;
        height = rect.bottom - rect.top;
    } else {
        width = fallback_width;
        height = fallback_height;
    }
}

using Microsoft::WRL::ComPtr;

// The DXGI factory that made the device's adapter.
HRESULT factory_of(ID3D11Device* device, ComPtr<IDXGIFactory2>& factory)
{
    ComPtr<IDXGIDevice> dxgi_device;
    HRESULT result = device->QueryInterface(__uuidof(IDXGIDevice), &dxgi_device);
    if (FAILED(result))
        return result;
    ComPtr<IDXGIAdapter> adapter;
    result = dxgi_device->GetAdapter(&adapter);
    if (FAILED(result))
        return result;
    return adapter->GetParent(__uuidof(IDXGIFactory2), &factory);
}

// The decoder goes on using a borrowed device from its own threads.
void protect_multithreaded(ID3D11Device* device)
{
    ComPtr<ID3D10Multithread> multithread;
    if (FAILED(device->QueryInterface(__uuidof(ID3D10Multithread), &multithread)))
        return;
    if (!multithread->GetMultithreadProtected())
        multithread->SetMultithreadProtected(TRUE);
}

// One B8G8R8A8 buffer on the window, discarded at every present.
DXGI_SWAP_CHAIN_DESC swap_chain_description(HWND window, int width, int height)
{
    DXGI_SWAP_CHAIN_DESC desc = {};
    desc.BufferDesc.Width = static_cast<UINT>(width);
    desc.BufferDesc.Height = static_cast<UINT>(height);
    desc.BufferDesc.RefreshRate.Numerator = 60;
    desc.BufferDesc.RefreshRate.Denominator = 1;
    desc.BufferDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.BufferDesc.ScanlineOrdering = DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED;
    desc.BufferDesc.Scaling = DXGI_MODE_SCALING_UNSPECIFIED;
    desc.SampleDesc.Count = 1;
    desc.SampleDesc.Quality = 0;
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount = 1;
    desc.OutputWindow = window;
    desc.Windowed = TRUE;
    desc.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
    desc.Flags = 0;
    return desc;
}

D3D11_SAMPLER_DESC sampler_description(D3D11_FILTER filter, D3D11_COMPARISON_FUNC comparison,
                                       float border, float min_lod)
{
    D3D11_SAMPLER_DESC desc = {};
    desc.Filter = filter;
    desc.AddressU = D3D11_TEXTURE_ADDRESS_CLAMP;
    desc.AddressV = D3D11_TEXTURE_ADDRESS_CLAMP;
    desc.AddressW = D3D11_TEXTURE_ADDRESS_CLAMP;
    desc.MipLODBias = 0.0f;
    desc.MaxAnisotropy = 1;
    desc.ComparisonFunc = comparison;
    for (float& channel : desc.BorderColor)
        channel = border;
    desc.MinLOD = min_lod;
    desc.MaxLOD = FLT_MAX;
    return desc;
}

D3D11_BUFFER_DESC constant_buffer_description(UINT size)
{
    D3D11_BUFFER_DESC desc = {};
    desc.ByteWidth = size;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    return desc;
}

} // namespace

d3d11_manager::d3d11_manager()
{
    render_type_ = render_kind_d3d11;
}

d3d11_manager::~d3d11_manager() = default;

bool d3d11_manager::init_render(HWND window, int video_width, int video_height, int, int,
                                AVCodecContext* codec_ctx)
{
    if (codec_ctx && codec_ctx->hw_device_ctx) {
        if (!borrow_decoder_device(codec_ctx))
            return false;
    } else {
        video_width_ = video_width;
        video_height_ = video_height;
        if (!create_own_device())
            return false;
    }

    int width = 0;
    int height = 0;
    window_size(window, video_width_, video_height_, width, height);
    window_ = window;
    target_width_ = width;
    target_height_ = height;

    ComPtr<IDXGIFactory2> factory;
    const HRESULT result = factory_of(device_.Get(), factory);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "Get DXGI factory failed, %x \n", code_of(result));
        return false;
    }
    protect_multithreaded(device_.Get());
    if (!create_swap_chain(factory.Get(), window, width, height))
        return false;
    init_video_texture(video_width_, video_height_);
    if (!swap_chain_)
        return false;
    DXGI_FORMAT back_buffer_format = DXGI_FORMAT_UNKNOWN;
    if (!init_back_buffer_view(back_buffer_format))
        return false;
    context_->OMSetRenderTargets(1, back_buffer_view_.GetAddressOf(), nullptr);
    if (!init_samplers())
        return false;

    window_size(window, width, height, width, height);
    init_render_target(width, height, back_buffer_format);
    init_vertex_stage();
    init_rasterizer_state();
    init_pixel_shader();
    init_hue_matrices();
    return true;
}

bool d3d11_manager::borrow_decoder_device(AVCodecContext* codec_ctx)
{
    auto* device_ctx = reinterpret_cast<AVHWDeviceContext*>(codec_ctx->hw_device_ctx->data);
    if (!device_ctx) {
        VR_LOG(vr_log::error, "hw_device_ctx->data is nullptr!\n");
        return false;
    }
    const auto* hwctx = static_cast<const AVD3D11VADeviceContext*>(device_ctx->hwctx);
    if (!hwctx) {
        VR_LOG(vr_log::error, "device_ctx->hwctx is nullptr!\n");
        return false;
    }
    if (!hwctx->device || !hwctx->device_context)
        return false;
    // A removed device stays removed: the decoder has to make a new one. The front logs the
    // frames it drops meanwhile.
    if (FAILED(hwctx->device->GetDeviceRemovedReason()))
        return false;
    codec_ctx_ = codec_ctx;
    device_ = hwctx->device;
    context_ = hwctx->device_context;
    video_width_ = codec_ctx->width;
    video_height_ = codec_ctx->height;
    return true;
}

bool d3d11_manager::create_own_device()
{
    const D3D_DRIVER_TYPE driver_types[] = {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP,
                                            D3D_DRIVER_TYPE_REFERENCE};
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0, D3D_FEATURE_LEVEL_9_1};
    for (D3D_DRIVER_TYPE driver_type : driver_types) {
        D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_9_1;
        const HRESULT result =
            D3D11CreateDevice(nullptr, driver_type, nullptr, D3D11_CREATE_DEVICE_VIDEO_SUPPORT,
                              levels, static_cast<UINT>(sizeof(levels) / sizeof(levels[0])),
                              D3D11_SDK_VERSION, &device_, &level, &context_);
        if (SUCCEEDED(result) && device_ && context_)
            return true;
        context_.Reset();
        device_.Reset();
    }
    return false;
}

bool d3d11_manager::create_swap_chain(IDXGIFactory2* factory, HWND window, int width, int height)
{
    swap_chain_.Reset();
    DXGI_SWAP_CHAIN_DESC desc = swap_chain_description(window, width, height);
    const HRESULT result = factory->CreateSwapChain(device_.Get(), &desc, &swap_chain_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "create swap chain failed, %x \n", code_of(result));
        return false;
    }
    viewport_width_ = static_cast<uint32_t>(width);
    viewport_height_ = static_cast<uint32_t>(height);
    return true;
}

bool d3d11_manager::init_back_buffer_view(DXGI_FORMAT& format)
{
    back_buffer_view_.Reset();
    ComPtr<ID3D11Texture2D> buffer;
    HRESULT result = swap_chain_->GetBuffer(0, __uuidof(ID3D11Texture2D), &buffer);
    if (SUCCEEDED(result)) {
        D3D11_TEXTURE2D_DESC desc = {};
        buffer->GetDesc(&desc);
        format = desc.Format;
        result = device_->CreateRenderTargetView(buffer.Get(), nullptr, &back_buffer_view_);
    }
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateRenderTargetView() failed, %x ",
               code_of(result));
        return false;
    }
    return true;
}

bool d3d11_manager::init_samplers()
{
    point_sampler_.Reset();
    linear_sampler_.Reset();
    const D3D11_SAMPLER_DESC point =
        sampler_description(D3D11_FILTER_MIN_MAG_MIP_POINT, D3D11_COMPARISON_ALWAYS, 0.0f, 0.0f);
    HRESULT result = device_->CreateSamplerState(&point, &point_sampler_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateSamplerState(POINT) failed, %x ",
               code_of(result));
        return false;
    }
    const D3D11_SAMPLER_DESC linear = sampler_description(D3D11_FILTER_MIN_MAG_MIP_LINEAR,
                                                          D3D11_COMPARISON_NEVER, 1.0f, -FLT_MAX);
    result = device_->CreateSamplerState(&linear, &linear_sampler_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateSamplerState(LINEAR) failed, %x ",
               code_of(result));
        return false;
    }
    return true;
}

bool d3d11_manager::init_video_texture(int width, int height)
{
    if (!device_)
        return false;
    luma_view_.Reset();
    chroma_view_.Reset();
    video_texture_.Reset();

    D3D11_TEXTURE2D_DESC desc =
        video_texture_description(static_cast<UINT>(width), static_cast<UINT>(height));
    HRESULT result = device_->CreateTexture2D(&desc, nullptr, &video_texture_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateTexture2D() failed, %x", code_of(result));
        return false;
    }
    video_texture_->GetDesc(&desc);

    // On an NV12 texture the R8 view reads the Y plane and the R8G8 view the UV plane.
    D3D11_SHADER_RESOURCE_VIEW_DESC view = {};
    view.Format = DXGI_FORMAT_R8_UNORM;
    view.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    view.Texture2D.MostDetailedMip = 0;
    view.Texture2D.MipLevels = desc.MipLevels;
    result = device_->CreateShaderResourceView(video_texture_.Get(), &view, &luma_view_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateRenderTargetView(R8) failed, %x \n",
               code_of(result));
        video_texture_.Reset();
        return false;
    }
    view.Format = DXGI_FORMAT_R8G8_UNORM;
    result = device_->CreateShaderResourceView(video_texture_.Get(), &view, &chroma_view_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateRenderTargetView(R8G8) failed, %x \n",
               code_of(result));
        luma_view_.Reset();
        video_texture_.Reset();
        return false;
    }
    return true;
}

bool d3d11_manager::init_render_target(int width, int height, DXGI_FORMAT format)
{
    if (!device_)
        return false;
    offscreen_view_.Reset();
    offscreen_texture_.Reset();

    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = static_cast<UINT>(width);
    desc.Height = static_cast<UINT>(height);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = format;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
    HRESULT result = device_->CreateTexture2D(&desc, nullptr, &offscreen_texture_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateTexture2D() failed, %x", code_of(result));
        return false;
    }
    D3D11_RENDER_TARGET_VIEW_DESC view = {};
    view.Format = format;
    view.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2D;
    view.Texture2D.MipSlice = 0;
    result = device_->CreateRenderTargetView(offscreen_texture_.Get(), &view, &offscreen_view_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateRenderTargetView() failed, %x \n",
               code_of(result));
        return false;
    }
    return true;
}

bool d3d11_manager::init_vertex_stage()
{
    if (!device_ || !swap_chain_)
        return false;
    DXGI_SWAP_CHAIN_DESC swap_desc = {};
    if (FAILED(swap_chain_->GetDesc(&swap_desc)))
        return false;

    vertex_shader_.Reset();
    input_layout_.Reset();
    vertex_buffer_.Reset();
    vs_constants_.Reset();
    const shader_code code = vertex_shader_code(level9_device());
    device_->CreateVertexShader(code.bytes, code.size, nullptr, &vertex_shader_);

    const D3D11_INPUT_ELEMENT_DESC elements[] = {
        {"POSITION", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 12, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"COLOR", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 20, D3D11_INPUT_PER_VERTEX_DATA, 0},
    };
    HRESULT result = device_->CreateInputLayout(
        elements, static_cast<UINT>(sizeof(elements) / sizeof(elements[0])), code.bytes, code.size,
        &input_layout_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateInputLayout() failed, %x.", code_of(result));
        return false;
    }

    // The unit square until the first frame rewrites it for the target's size.
    d3d11_constants::quad_vertex square[d3d11_constants::quad_vertex_count];
    d3d11_constants::fill_quad(square, 1.0f, 1.0f);
    D3D11_BUFFER_DESC desc = {};
    desc.ByteWidth = static_cast<UINT>(sizeof(square));
    desc.Usage = D3D11_USAGE_DYNAMIC;
    desc.BindFlags = D3D11_BIND_VERTEX_BUFFER;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    D3D11_SUBRESOURCE_DATA initial = {};
    initial.pSysMem = square;
    result = device_->CreateBuffer(&desc, &initial, &vertex_buffer_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateBuffer(VERTEX_BUFFER) failed, %x \n",
               code_of(result));
        return false;
    }

    desc = constant_buffer_description(sizeof(d3d11_constants::vertex_constants));
    result = device_->CreateBuffer(&desc, nullptr, &vs_constants_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateBuffer() failed, %x \n", code_of(result));
        return false;
    }
    return true;
}

bool d3d11_manager::init_rasterizer_state()
{
    if (!device_)
        return false;
    rasterizer_state_.Reset();
    D3D11_RASTERIZER_DESC desc = {};
    desc.FillMode = D3D11_FILL_SOLID;
    desc.CullMode = D3D11_CULL_NONE;
    desc.FrontCounterClockwise = FALSE;
    desc.DepthBias = 0;
    desc.DepthBiasClamp = 0.0f;
    desc.SlopeScaledDepthBias = 0.0f;
    desc.DepthClipEnable = TRUE;
    desc.ScissorEnable = FALSE;
    desc.MultisampleEnable = FALSE;
    desc.AntialiasedLineEnable = FALSE;
    const HRESULT result = device_->CreateRasterizerState(&desc, &rasterizer_state_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "init_rasterizer_state failed, %x \n", code_of(result));
        return false;
    }
    return true;
}

bool d3d11_manager::init_pixel_shader()
{
    if (!device_)
        return false;
    yuv_shader_.Reset();
    color_matrix_cb_.Reset();
    image_changes_cb_.Reset();
    const shader_code code = pixel_shader_code(level9_device());
    HRESULT result = device_->CreatePixelShader(code.bytes, code.size, nullptr, &yuv_shader_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "init_pixel_shader failed, %x \n", code_of(result));
        return false;
    }
    D3D11_BUFFER_DESC desc =
        constant_buffer_description(sizeof(d3d11_constants::color_matrix_constants));
    result = device_->CreateBuffer(&desc, nullptr, &color_matrix_cb_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateBuffer() failed, %x \n", code_of(result));
        return false;
    }
    desc = constant_buffer_description(sizeof(d3d11_constants::image_changes_constants));
    result = device_->CreateBuffer(&desc, nullptr, &image_changes_cb_);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11Device::CreateBuffer() failed, %x \n", code_of(result));
        return false;
    }
    return true;
}

void d3d11_manager::init_hue_matrices()
{
    const color_math::hue_frame frame = color_math::make_hue_frame();
    hue_pre_ = frame.pre;
    hue_post_ = frame.post;
}

bool d3d11_manager::level9_device() const
{
    return device_ && device_->GetFeatureLevel() < D3D_FEATURE_LEVEL_10_0;
}

bool d3d11_manager::begin_render(bool, uint32_t)
{
    if (!back_buffer_view_)
        return false;
    D3D11_VIEWPORT viewport = {};
    viewport.TopLeftX = 0.0f;
    viewport.TopLeftY = 0.0f;
    viewport.Width = static_cast<float>(viewport_width_);
    viewport.Height = static_cast<float>(viewport_height_);
    viewport.MinDepth = 0.0f;
    viewport.MaxDepth = 1.0f;
    context_->RSSetViewports(1, &viewport);
    context_->OMSetRenderTargets(1, back_buffer_view_.GetAddressOf(), nullptr);
    const float opaque_black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    context_->ClearRenderTargetView(back_buffer_view_.Get(), opaque_black);
    return true;
}

bool d3d11_manager::draw_image(uint8_t** planes, int*, RECT*, RECT*)
{
    if (!context_ || !swap_chain_ || !vertex_buffer_ || !video_texture_ || !planes)
        return false;
    if (!copy_picture(planes))
        return false;

    DXGI_SWAP_CHAIN_DESC swap_desc = {};
    if (FAILED(swap_chain_->GetDesc(&swap_desc)))
        return false;
    const float width = static_cast<float>(swap_desc.BufferDesc.Width);
    const float height = static_cast<float>(swap_desc.BufferDesc.Height);

    D3D11_MAPPED_SUBRESOURCE mapped = {};
    const HRESULT result =
        context_->Map(vertex_buffer_.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped);
    if (FAILED(result)) {
        VR_LOG(vr_log::error, "ID3D11DeviceContext::Map() failed, %x \n", code_of(result));
        return false;
    }
    d3d11_constants::fill_quad(static_cast<d3d11_constants::quad_vertex*>(mapped.pData), width,
                               height);
    context_->Unmap(vertex_buffer_.Get(), 0);

    update_projection(width, height);
    if (vs_constants_) {
        const d3d11_constants::vertex_constants constants =
            d3d11_constants::pack_vertex_constants(view_matrix_, projection_matrix_);
        context_->UpdateSubresource(vs_constants_.Get(), 0, nullptr, &constants, 0, 0);
        context_->VSSetConstantBuffers(0, 1, vs_constants_.GetAddressOf());
    }

    if (offscreen_view_ && offscreen_texture_) {
        context_->OMSetRenderTargets(0, nullptr, nullptr);
        context_->OMSetRenderTargets(1, offscreen_view_.GetAddressOf(), nullptr);
        const float opaque_black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        context_->ClearRenderTargetView(offscreen_view_.Get(), opaque_black);
    }
    bind_pipeline();
    upload_color_constants();
    context_->PSSetShaderResources(0, 1, luma_view_.GetAddressOf());
    context_->PSSetShaderResources(1, 1, chroma_view_.GetAddressOf());
    // Slot 0, which the shader samples through, keeps the default state: bilinear, clamped.
    context_->PSSetSamplers(1, 1, point_sampler_.GetAddressOf());
    context_->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLESTRIP);
    context_->Draw(d3d11_constants::quad_vertex_count, 0);
    return true;
}

bool d3d11_manager::copy_picture(uint8_t** planes)
{
    auto* source = reinterpret_cast<ID3D11Texture2D*>(planes[0]);
    if (!source)
        return false;
    const auto slice = static_cast<UINT>(reinterpret_cast<uintptr_t>(planes[1]));
    if (!codec_ctx_) {
        copy_slice(context_.Get(), source, slice);
        return true;
    }

    const intptr_t format = reinterpret_cast<intptr_t>(planes[2]);
    if (format != frame_input::d3d11_frame_marker) {
        VR_LOG(vr_log::error, "decoded frame pixel format error! format:%d!\n",
               static_cast<int>(format));
        return false;
    }
    const auto* frames_ref = reinterpret_cast<const AVBufferRef*>(planes[3]);
    const auto* frames_ctx =
        frames_ref ? reinterpret_cast<const AVHWFramesContext*>(frames_ref->data) : nullptr;
    if (!frames_ctx) {
        VR_LOG(vr_log::error, "frame_ctx is nullptr!\n");
        return false;
    }
    const AVHWDeviceContext* device_ctx = frames_ctx->device_ctx;
    if (!device_ctx) {
        VR_LOG(vr_log::error, "device_ctx->hwctx is nullptr!\n");
        return false;
    }
    const auto* hwctx = static_cast<const AVD3D11VADeviceContext*>(device_ctx->hwctx);
    if (!hwctx) {
        VR_LOG(vr_log::error, "hwctx is nullptr\n");
        return false;
    }
    if (!hwctx->device || !hwctx->device_context || !hwctx->video_device || !hwctx->video_context) {
        VR_LOG(vr_log::error,
               "hwctx->device:%p,hwctx->device_context:%p,hwctx->video_device:%p,hwctx->video_"
               "context:%p\n",
               static_cast<void*>(hwctx->device), static_cast<void*>(hwctx->device_context),
               static_cast<void*>(hwctx->video_device), static_cast<void*>(hwctx->video_context));
        return false;
    }
    // The decoder writes its textures from its own threads: copy under its device lock.
    if (hwctx->lock)
        hwctx->lock(hwctx->lock_ctx);
    copy_slice(hwctx->device_context, source, slice);
    if (hwctx->unlock)
        hwctx->unlock(hwctx->lock_ctx);
    return true;
}

void d3d11_manager::copy_slice(ID3D11DeviceContext* context, ID3D11Texture2D* source, UINT slice)
{
    // Decoders allocate their surfaces aligned (1088 lines for 1080, say): copy only what fits
    // the video texture, from the slice's top-left corner.
    D3D11_TEXTURE2D_DESC source_desc = {};
    D3D11_TEXTURE2D_DESC target_desc = {};
    source->GetDesc(&source_desc);
    video_texture_->GetDesc(&target_desc);
    D3D11_BOX box = {0, 0, 0, source_desc.Width, source_desc.Height, 1};
    const bool crop =
        source_desc.Width > target_desc.Width || source_desc.Height > target_desc.Height;
    if (crop) {
        box.right = source_desc.Width < target_desc.Width ? source_desc.Width : target_desc.Width;
        box.bottom =
            source_desc.Height < target_desc.Height ? source_desc.Height : target_desc.Height;
    }
    context->CopySubresourceRegion(video_texture_.Get(), 0, 0, 0, 0, source, slice,
                                   crop ? &box : nullptr);
}

void d3d11_manager::update_projection(float width, float height)
{
    // Written so that a NaN counts as a change.
    if (width == projected_width_ && height == projected_height_)
        return;
    view_matrix_ = color_math::transpose(color_math::identity());
    projection_matrix_ =
        color_math::transpose(d3d11_constants::orthographic_projection(width, height));
    projected_width_ = width;
    projected_height_ = height;
}

void d3d11_manager::bind_pipeline()
{
    if (rasterizer_state_.Get())
        context_->RSSetState(rasterizer_state_.Get());
    if (input_layout_.Get())
        context_->IASetInputLayout(input_layout_.Get());
    if (vertex_shader_)
        context_->VSSetShader(vertex_shader_.Get(), nullptr, 0);
    if (vertex_buffer_) {
        const UINT stride = sizeof(d3d11_constants::quad_vertex);
        const UINT offset = 0;
        context_->IASetVertexBuffers(0, 1, vertex_buffer_.GetAddressOf(), &stride, &offset);
    }
    if (yuv_shader_)
        context_->PSSetShader(yuv_shader_.Get(), nullptr, 0);
}

void d3d11_manager::upload_color_constants()
{
    const color_math::hue_frame hue = {hue_pre_, hue_post_};
    const d3d11_constants::pixel_constants constants =
        d3d11_constants::pixel_constants_for(image_adjust_, color_class_, hue);
    if (color_matrix_cb_) {
        context_->UpdateSubresource(color_matrix_cb_.Get(), 0, nullptr, &constants.color_matrix, 0,
                                    0);
        context_->PSSetConstantBuffers(0, 1, color_matrix_cb_.GetAddressOf());
    }
    if (image_changes_cb_) {
        context_->UpdateSubresource(image_changes_cb_.Get(), 0, nullptr, &constants.image_changes,
                                    0, 0);
        context_->PSSetConstantBuffers(1, 1, image_changes_cb_.GetAddressOf());
    }
}

bool d3d11_manager::update_image(uint8_t**, int*, RECT*)
{
    return true;
}

bool d3d11_manager::present(void*, void*)
{
    if (!swap_chain_ || !context_)
        return false;
    ComPtr<ID3D11Texture2D> buffer;
    if (SUCCEEDED(swap_chain_->GetBuffer(0, __uuidof(ID3D11Texture2D), &buffer)) &&
        offscreen_texture_)
        context_->CopyResource(buffer.Get(), offscreen_texture_.Get());
    // Success codes such as DXGI_STATUS_OCCLUDED mean the picture was not shown.
    const HRESULT result = swap_chain_->Present(0, 0);
    if (result == DXGI_ERROR_DEVICE_REMOVED || result == DXGI_ERROR_DEVICE_RESET) {
        if (!device_removed_)
            VR_LOG(vr_log::error, "d3d11 device removed or reset, %x \n", code_of(result));
        device_removed_ = true;
    }
    return result == S_OK;
}

int d3d11_manager::check_device()
{
    return device_removed_ ? device_lost : device_ready;
}

bool d3d11_manager::set_image_adjust(const int* values)
{
    if (!values)
        return false;
    for (int i = 0; i < 4; ++i)
        image_adjust_[i] = values[i];
    return true;
}

void d3d11_manager::set_color_space(int color_class)
{
    color_class_ = color_class;
}
