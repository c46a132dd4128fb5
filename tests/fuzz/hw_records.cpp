#include "hw_records.h"

namespace {

template <typename T> void release(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

uint8_t* bytes_of(void* record)
{
    return static_cast<uint8_t*>(record);
}

const char* window_class()
{
    static const char* const name = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "vrender_fuzz_decoder";
        RegisterClassA(&wc);
        return wc.lpszClassName;
    }();
    return name;
}

// Sizes of the DXVA2 surfaces: typical, odd, tall (the two-line cut) and tiny.
struct surface_size {
    int width;
    int height;
};
constexpr surface_size dxva2_sizes[] = {{320, 240}, {64, 64}, {17, 9}, {1280, 736}, {640, 480}};

} // namespace

hw_records::hw_records()
{
    add_broken_contexts();
}

hw_records::~hw_records()
{
    for (dxva2_surface& surface : surfaces_)
        release(surface.surface);
    for (dxva2_decoder& decoder : dxva2_) {
        release(decoder.device);
        release(decoder.d3d9);
        if (decoder.window)
            DestroyWindow(decoder.window);
    }
    release(texture_);
    release(d3d11_context_);
    release(d3d11_device_);
}

void hw_records::add_broken_contexts()
{
    to_zero_ref_.hw_device_ctx = &zero_ref_;

    ref_to_zero_device_.data = bytes_of(&zero_device_);
    to_zero_device_.hw_device_ctx = &ref_to_zero_device_;

    device_with_zero_hwctx_.hwctx = zero_hwctx_;
    ref_to_zero_hwctx_.data = bytes_of(&device_with_zero_hwctx_);
    to_zero_hwctx_.hw_device_ctx = &ref_to_zero_hwctx_;

    device_with_zero_priv_.hwctx = zero_priv_hwctx_;
    device_with_zero_priv_.user_opaque = &zero_priv_;
    ref_to_zero_priv_.data = bytes_of(&device_with_zero_priv_);
    to_zero_priv_.hw_device_ctx = &ref_to_zero_priv_;

    device_with_half_priv_.hwctx = half_priv_hwctx_;
    device_with_half_priv_.user_opaque = &half_priv_;
    ref_to_half_priv_.data = bytes_of(&device_with_half_priv_);
    to_half_priv_.hw_device_ctx = &ref_to_half_priv_;

    device_with_half_d3d11_.hwctx = &half_d3d11_;
    ref_to_half_d3d11_.data = bytes_of(&device_with_half_d3d11_);
    to_half_d3d11_.hw_device_ctx = &ref_to_half_d3d11_;

    const std::string no_priv = "device_ctx->user_opaque is nullptr!\n";
    const std::string no_data = "hw_device_ctx->data is nullptr!\n";
    const std::string no_hwctx = "device_ctx->hwctx is nullptr!\n";
    const std::string half_priv = "hw_priv_->d3d9device(";
    contexts_ = {
        {"null", nullptr, context_kind::none, "", false, ""},
        {"no hw_device_ctx", &no_device_ref_, context_kind::none, "hw_device_ctx is nullptr!\n",
         false, ""},
        {"zeroed device ref", &to_zero_ref_, context_kind::none, no_data, false, no_data},
        {"zeroed device context", &to_zero_device_, context_kind::none, no_hwctx, false, no_hwctx},
        {"zeroed hwctx", &to_zero_hwctx_, context_kind::none, no_priv, false, ""},
        {"zeroed decoder record", &to_zero_priv_, context_kind::none, half_priv, true, ""},
        {"decoder record without device", &to_half_priv_, context_kind::none, half_priv, true, ""},
        {"d3d11 device without context", &to_half_d3d11_, context_kind::none, no_priv, false, ""},
    };

    zero_frames_ref_ = {};
    ref_to_zero_frames_.data = bytes_of(&zero_frames_);
    frames_with_zero_device_.device_ctx = &zero_frames_device_;
    ref_to_frames_with_zero_device_.data = bytes_of(&frames_with_zero_device_);
    frames_refs_ = {nullptr, &zero_frames_ref_, &ref_to_zero_frames_,
                    &ref_to_frames_with_zero_device_};
}

std::string hw_records::open()
{
    std::string what;
    for (int i = 0; i < 2; ++i)
        if (open_dxva2(dxva2_[i], i))
            what += "dxva2 decoder " + std::to_string(i) + ", ";
    if (dxva2_[0].d3d9)
        half_priv_.d3d9 = dxva2_[0].d3d9;
    if (open_d3d11())
        what += "d3d11 decoder, ";
    what += std::to_string(contexts_.size()) + " codec contexts, " +
            std::to_string(surfaces_.size()) + " dxva2 surfaces";
    return what;
}

bool hw_records::open_dxva2(dxva2_decoder& decoder, int index)
{
    decoder.window = CreateWindowExA(0, window_class(), "decoder", WS_POPUP, 0, 0, 64, 64, nullptr,
                                     nullptr, GetModuleHandleA(nullptr), nullptr);
    decoder.d3d9 = Direct3DCreate9(D3D_SDK_VERSION);
    if (!decoder.d3d9)
        return false;
    D3DPRESENT_PARAMETERS params = {};
    params.Windowed = TRUE;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.hDeviceWindow = decoder.window;
    if (FAILED(decoder.d3d9->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, decoder.window,
                                          D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                              D3DCREATE_MULTITHREADED,
                                          &params, &decoder.device))) {
        release(decoder.d3d9);
        return false;
    }
    int colour = 0x203040 * (index + 1);
    for (const surface_size& size : dxva2_sizes) {
        IDirect3DSurface9* surface = nullptr;
        if (FAILED(decoder.device->CreateOffscreenPlainSurface(
                static_cast<UINT>(size.width), static_cast<UINT>(size.height), D3DFMT_X8R8G8B8,
                D3DPOOL_DEFAULT, &surface, nullptr)))
            continue;
        decoder.device->ColorFill(surface, nullptr, static_cast<D3DCOLOR>(colour));
        colour += 0x101010;
        surfaces_.push_back({surface, index, size.width, size.height});
    }
    decoder.priv.d3d9 = decoder.d3d9;
    decoder.priv.d3d9device = decoder.device;
    decoder.device_ctx.type = ffmpeg_ids::hwdevice_dxva2;
    decoder.device_ctx.hwctx = decoder.hwctx;
    decoder.device_ctx.user_opaque = &decoder.priv;
    decoder.device_ref.data = bytes_of(&decoder.device_ctx);
    decoder.device_ref.size = static_cast<int>(sizeof(decoder.device_ctx));
    decoder.codec_ctx.width = 320;
    decoder.codec_ctx.height = 240;
    decoder.codec_ctx.pix_fmt = ffmpeg_ids::pix_fmt_dxva2_vld;
    decoder.codec_ctx.hw_device_ctx = &decoder.device_ref;
    contexts_.push_back({index == 0 ? "dxva2 decoder 0" : "dxva2 decoder 1", &decoder.codec_ctx,
                         context_kind::dxva2, "", false, ""});
    return true;
}

bool hw_records::open_d3d11()
{
    const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr,
                                 D3D11_CREATE_DEVICE_VIDEO_SUPPORT, &level, 1, D3D11_SDK_VERSION,
                                 &d3d11_device_, nullptr, &d3d11_context_)))
        return false;
    half_d3d11_.device = d3d11_device_;

    // Decoders keep their pictures in one texture array. Wine makes no NV12 textures, so the
    // slices are R8; the renderer only copies them.
    texture_slices_ = 4;
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = 320;
    desc.Height = 240;
    desc.MipLevels = 1;
    desc.ArraySize = static_cast<UINT>(texture_slices_);
    desc.Format = DXGI_FORMAT_NV12;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_DECODER;
    if (FAILED(d3d11_device_->CreateTexture2D(&desc, nullptr, &texture_))) {
        desc.Format = DXGI_FORMAT_R8_UNORM;
        desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
        if (FAILED(d3d11_device_->CreateTexture2D(&desc, nullptr, &texture_)))
            texture_slices_ = 0;
    }

    d3d11_hwctx_.device = d3d11_device_;
    d3d11_hwctx_.device_context = d3d11_context_;
    d3d11_hwctx_.video_device = reinterpret_cast<ID3D11VideoDevice*>(video_placeholders_[0]);
    d3d11_hwctx_.video_context = reinterpret_cast<ID3D11VideoContext*>(video_placeholders_[1]);
    d3d11_hwctx_.lock = &hw_records::lock;
    d3d11_hwctx_.unlock = &hw_records::unlock;
    d3d11_hwctx_.lock_ctx = this;
    d3d11_device_ctx_.type = ffmpeg_ids::hwdevice_d3d11va;
    d3d11_device_ctx_.hwctx = &d3d11_hwctx_;
    d3d11_device_ref_.data = bytes_of(&d3d11_device_ctx_);
    d3d11_device_ref_.size = static_cast<int>(sizeof(d3d11_device_ctx_));
    d3d11_frames_ctx_.device_ref = &d3d11_device_ref_;
    d3d11_frames_ctx_.device_ctx = &d3d11_device_ctx_;
    d3d11_frames_ctx_.format = ffmpeg_ids::pix_fmt_d3d11;
    d3d11_frames_ctx_.sw_format = ffmpeg_ids::pix_fmt_nv12;
    d3d11_frames_ctx_.width = 320;
    d3d11_frames_ctx_.height = 240;
    d3d11_frames_ref_.data = bytes_of(&d3d11_frames_ctx_);
    d3d11_frames_ref_.size = static_cast<int>(sizeof(d3d11_frames_ctx_));
    d3d11_codec_ctx_.width = 320;
    d3d11_codec_ctx_.height = 240;
    d3d11_codec_ctx_.pix_fmt = ffmpeg_ids::pix_fmt_d3d11;
    d3d11_codec_ctx_.hw_device_ctx = &d3d11_device_ref_;
    d3d11_codec_ctx_.hw_frames_ctx = &d3d11_frames_ref_;
    contexts_.push_back({"d3d11 decoder", &d3d11_codec_ctx_, context_kind::d3d11,
                         "device_ctx->user_opaque is nullptr!\n", false, ""});
    frames_refs_.push_back(&d3d11_frames_ref_);
    return true;
}

std::vector<size_t> hw_records::real_contexts(context_kind kind) const
{
    std::vector<size_t> found;
    for (size_t i = 0; i < contexts_.size(); ++i)
        if (contexts_[i].kind == kind)
            found.push_back(i);
    return found;
}

void hw_records::lock(void* lock_ctx)
{
    ++static_cast<hw_records*>(lock_ctx)->lock_balance_;
}

void hw_records::unlock(void* lock_ctx)
{
    --static_cast<hw_records*>(lock_ctx)->lock_balance_;
}
