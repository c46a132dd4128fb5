#include "ddraw_manager.h"

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from.h>

#include <cstddef>
#include <cstring>
#include <exception>
#include <initializer_list>

#include "../log_helper.h"

VR_LOG_SOURCE("..\\..\\..\\sources\\video_render\\ddraw_render\\ddraw_manager")

// The DirectDraw records have the sizes of the platform's headers on 32-bit Windows.
#if !defined(_WIN64)
static_assert(sizeof(DDSURFACEDESC) == 108, "DDSURFACEDESC is 108 bytes on 32-bit Windows");
static_assert(sizeof(DDBLTFX) == 100, "DDBLTFX is 100 bytes on 32-bit Windows");
#endif
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT is 32 bytes");
static_assert(sizeof(DDCAPS) == 380, "DDCAPS is 380 bytes");

namespace {

constexpr DWORD cooperative_flags = DDSCL_NORMAL | DDSCL_NOWINDOWCHANGES;
constexpr DWORD video_memory_caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
constexpr DWORD system_memory_caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
constexpr int neutral = 50;

int round_up_to_4(int value)
{
    return (value + 3) & ~3;
}

void* code_as_pointer(HRESULT code)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(code)));
}

using Microsoft::WRL::ComPtr;

DDSURFACEDESC empty_description()
{
    DDSURFACEDESC description;
    std::memset(&description, 0, sizeof(description));
    description.dwSize = sizeof(description);
    return description;
}

DDBLTFX no_tearing()
{
    DDBLTFX fx;
    std::memset(&fx, 0, sizeof(fx));
    fx.dwSize = sizeof(fx);
    fx.dwDDFX = DDBLTFX_NOTEARING;
    return fx;
}

DDPIXELFORMAT empty_format()
{
    DDPIXELFORMAT format;
    std::memset(&format, 0, sizeof(format));
    format.dwSize = sizeof(format);
    return format;
}

DDPIXELFORMAT fourcc_format(DWORD fourcc, DWORD y_mask = 0)
{
    DDPIXELFORMAT format = empty_format();
    format.dwFlags = DDPF_FOURCC;
    format.dwFourCC = fourcc;
    format.dwYBitMask = y_mask;
    return format;
}

DDPIXELFORMAT xrgb32_format()
{
    DDPIXELFORMAT format = empty_format();
    format.dwFlags = DDPF_RGB;
    format.dwRGBBitCount = 32;
    format.dwRBitMask = 0x00FF0000;
    format.dwGBitMask = 0x0000FF00;
    format.dwBBitMask = 0x000000FF;
    return format;
}

// `created` as IDirectDrawSurface2.
HRESULT to_surface2(const ComPtr<IDirectDrawSurface>& created, ComPtr<IDirectDrawSurface2>& out)
{
    ComPtr<IDirectDrawSurface2> surface;
    const HRESULT result = created->QueryInterface(IID_IDirectDrawSurface2, &surface);
    if (FAILED(result) || !surface)
        return FAILED(result) ? result : E_NOINTERFACE;
    out = surface;
    return DD_OK;
}

} // namespace

const std::map<int, DDPIXELFORMAT> ddraw_manager::copy_formats = {
    {copy_format_yv12, fourcc_format(MAKEFOURCC('Y', 'V', '1', '2'), 8)},
    {copy_format_yuy2, fourcc_format(MAKEFOURCC('Y', 'U', 'Y', '2'))},
    {copy_format_uyvy, fourcc_format(MAKEFOURCC('U', 'Y', 'V', 'Y'))},
    {copy_format_yvyu, fourcc_format(MAKEFOURCC('Y', 'V', 'Y', 'U'))},
    {copy_format_argb, xrgb32_format()},
};

const std::map<int, const char*> ddraw_manager::copy_format_names = {
    {copy_format_none, "NONE"}, {copy_format_yv12, "YV12"}, {copy_format_yuy2, "YUY2"},
    {copy_format_uyvy, "UYVY"}, {copy_format_yvyu, "YVYU"}, {copy_format_argb, "ARGB"},
};

ddraw_manager::ddraw_manager() : primary_format_(empty_format())
{
    render_type_ = render_kind_ddraw;
}

ddraw_manager::~ddraw_manager()
{
    release_all();
}

void ddraw_manager::release_surfaces()
{
    main_surface_.Reset();
    yuv_offscreen_surface_.Reset();
    rgb_offscreen_surface_.Reset();
}

void ddraw_manager::release_all()
{
    clipper_.Reset();
    release_surfaces();
    ddraw_.Reset();
}

bool ddraw_manager::init_render(HWND window, int video_width, int video_height, int target_width,
                                int target_height, AVCodecContext*)
{
    try {
        // A second initialisation starts from scratch.
        release_all();
        copy_format_ = copy_format_none;
        surface_state_ = device_ready;

        ComPtr<IDirectDraw> created;
        if (FAILED(DirectDrawCreate(nullptr, &created, nullptr)) || !created)
            return false;
        if (FAILED(created->QueryInterface(IID_IDirectDraw2, &ddraw_)) || !ddraw_) {
            ddraw_.Reset();
            return false;
        }

        hue_turns_ = rgb_adjust::make_hue_turns();
        VR_LOG(vr_log::notice,
               "init video render with ddraw software! hwnd:%p, vwidth:%d, vheight:%d, "
               "twidth:%d, theight:%d\n",
               static_cast<void*>(window), video_width, video_height, target_width, target_height);

        if (FAILED(ddraw_->SetCooperativeLevel(nullptr, cooperative_flags)))
            return false;

        DDCAPS caps;
        std::memset(&caps, 0, sizeof(caps));
        caps.dwSize = sizeof(caps);
        ddraw_->GetCaps(&caps, nullptr);
        const int overlay = (caps.dwCaps & DDCAPS_OVERLAY) ? 1 : 0;
        const int yuv_overlay = (caps.dwCaps & DDCAPS_OVERLAYFOURCC) ? 1 : 0;
        const int color_key = (caps.dwCaps & DDCAPS_COLORKEY) ? 1 : 0;
        const int stretch = (caps.dwCaps & DDCAPS_OVERLAYSTRETCH) ? 1 : 0;
        const int blt_fourcc = (caps.dwCaps & DDCAPS_BLTFOURCC) ? 1 : 0;
        blt_fourcc_ = blt_fourcc != 0;
        VR_LOG(vr_log::notice,
               "DirectDraw Capabilities: overlay=%i yuvoverlay=%i can_deinterlace_overlay=%i "
               "colorkey=%i stretch=%i bltfourcc=%i",
               overlay, yuv_overlay, yuv_overlay, color_key, stretch, blt_fourcc);

        if (!create_primary_surface())
            return false;
        if (!attach_clipper(window))
            return false;
        read_primary_format();

        if (!create_copy_surface(video_width, video_height, false)) {
            VR_LOG(vr_log::error, "create copy surface with video memory error!\n");
            if (!create_copy_surface(video_width, video_height, true)) {
                VR_LOG(vr_log::error, "create copy surface with system memory error!\n");
                release_surfaces();
                return false;
            }
        }
        VR_LOG(vr_log::notice, "create copy surface OK!\n");

        if (!create_back_surface(target_width, target_height, false)) {
            VR_LOG(vr_log::error, "create back surface with video memory error!\n");
            if (!create_back_surface(target_width, target_height, true)) {
                VR_LOG(vr_log::error, "create back surface with system memory error!\n");
                release_surfaces();
                return false;
            }
        }
        VR_LOG(vr_log::notice, "create back surface OK!\n");

        mytext_.init(static_cast<uint32_t>(target_width), static_cast<uint32_t>(target_height));
        window_ = window;
        video_width_ = video_width;
        video_height_ = video_height;
        target_width_ = target_width;
        target_height_ = target_height;
        return true;
    } catch (const std::exception& error) {
        VR_LOG(vr_log::error, "DirectDrawCreateEx exception:%s\n", error.what());
    } catch (...) {
        VR_LOG(vr_log::error, "DirectDrawCreateEx exception:%s\n", "unknown exception");
    }
    return false;
}

bool ddraw_manager::create_primary_surface()
{
    DDSURFACEDESC description = empty_description();
    description.dwFlags = DDSD_CAPS;
    description.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    ComPtr<IDirectDrawSurface> created;
    if (FAILED(ddraw_->CreateSurface(&description, &created, nullptr)) || !created) {
        VR_LOG(vr_log::error, "CreateSurface main surface error!\n");
        return false;
    }
    if (FAILED(to_surface2(created, main_surface_))) {
        VR_LOG(vr_log::error, "cannot get IDirectDraw2 interface");
        return false;
    }
    return true;
}

bool ddraw_manager::attach_clipper(HWND window)
{
    if (FAILED(ddraw_->CreateClipper(0, &clipper_, nullptr)) || !clipper_ ||
        FAILED(clipper_->SetHWnd(0, window))) {
        clipper_.Reset();
        release_surfaces();
        return false;
    }
    main_surface_->SetClipper(clipper_.Get());
    return true;
}

void ddraw_manager::read_primary_format()
{
    primary_format_ = empty_format();
    main_surface_->GetPixelFormat(&primary_format_);
    if (primary_format_.dwFlags & DDPF_RGB)
        VR_LOG(vr_log::notice, "ddp_fmt.dwRGBBitCount = %d,rmask = %x,gmask = %x,bmask = %x\n",
               static_cast<int>(primary_format_.dwRGBBitCount),
               static_cast<unsigned>(primary_format_.dwRBitMask),
               static_cast<unsigned>(primary_format_.dwGBitMask),
               static_cast<unsigned>(primary_format_.dwBBitMask));
}

bool ddraw_manager::create_copy_surface(int width, int height, bool use_sysmem)
{
    if (!ddraw_)
        return false;
    yuv_offscreen_surface_.Reset();

    DDSURFACEDESC description = empty_description();
    description.dwFlags = DDSD_WIDTH | DDSD_HEIGHT;
    description.dwWidth = static_cast<DWORD>(round_up_to_4(width));
    description.dwHeight = static_cast<DWORD>(round_up_to_4(height));
    description.ddsCaps.dwCaps = use_sysmem ? system_memory_caps : video_memory_caps;

    HRESULT last_failure = DD_OK;
    for (const auto& entry : copy_formats) {
        if (entry.second.dwFlags & DDPF_FOURCC) {
            if (!blt_fourcc_)
                continue;
            description.dwFlags |= DDSD_PIXELFORMAT;
            description.ddpfPixelFormat = entry.second;
        } else {
            // The display's own format.
            description.dwFlags &= ~static_cast<DWORD>(DDSD_PIXELFORMAT);
            description.ddpfPixelFormat = empty_format();
        }
        ComPtr<IDirectDrawSurface> created;
        HRESULT result = ddraw_->CreateSurface(&description, &created, nullptr);
        if (FAILED(result) || !created) {
            last_failure = FAILED(result) ? result : E_POINTER;
            continue;
        }
        VR_LOG(vr_log::notice, "CreateSurface successfully with copy surface format:%s\n",
               copy_format_names.at(entry.first));
        result = to_surface2(created, yuv_offscreen_surface_);
        if (FAILED(result)) {
            last_failure = result;
            continue;
        }
        last_failure = DD_OK;
        copy_format_ = entry.first;
        break;
    }
    if (FAILED(last_failure) || !yuv_offscreen_surface_) {
        VR_LOG(vr_log::error, "CreateSurface yuv_offscreen_surface error!result:0x%p\n",
               code_as_pointer(last_failure));
        copy_format_ = copy_format_none;
        return false;
    }
    return true;
}

bool ddraw_manager::create_back_surface(int width, int height, bool use_sysmem)
{
    if (!ddraw_)
        return false;
    rgb_offscreen_surface_.Reset();

    DDSURFACEDESC description = empty_description();
    description.dwFlags = DDSD_WIDTH | DDSD_HEIGHT;
    description.dwWidth = static_cast<DWORD>(width);
    description.dwHeight = static_cast<DWORD>(height);
    description.ddsCaps.dwCaps = use_sysmem ? system_memory_caps : video_memory_caps;
    ComPtr<IDirectDrawSurface> created;
    if (FAILED(ddraw_->CreateSurface(&description, &created, nullptr)) || !created) {
        VR_LOG(vr_log::error, "CreateSurface rgb_offscreen_surface error,use_sysmem:%d!\n",
               use_sysmem ? 1 : 0);
        return false;
    }
    if (FAILED(to_surface2(created, rgb_offscreen_surface_))) {
        VR_LOG(vr_log::error, "QueryInterface rgb_offscreen_surface error,use_sysmem:%d!\n",
               use_sysmem ? 1 : 0);
        return false;
    }
    return true;
}

bool ddraw_manager::begin_render(bool, uint32_t)
{
    // The blit of draw_image overwrites the whole back surface.
    return true;
}

bool ddraw_manager::update_image(uint8_t**, int*, RECT*)
{
    return true;
}

void ddraw_manager::note_result(HRESULT result)
{
    if (result == DDERR_SURFACELOST)
        surface_state_ = device_not_ready;
}

bool ddraw_manager::draw_image(uint8_t** planes, int* strides, RECT*, RECT* source)
{
    if (!yuv_offscreen_surface_ || !rgb_offscreen_surface_)
        return false;

    DDSURFACEDESC locked = empty_description();
    HRESULT result = yuv_offscreen_surface_->Lock(nullptr, &locked, DDLOCK_WAIT, nullptr);
    if (FAILED(result)) {
        note_result(result);
        VR_LOG(vr_log::error, "Lock yuv_offscreen_surface_ error!result:%p\n",
               code_as_pointer(result));
        return false;
    }
    if (locked.lpSurface)
        fill_copy_surface(planes, strides, static_cast<uint8_t*>(locked.lpSurface),
                          static_cast<int>(locked.lPitch));
    yuv_offscreen_surface_->Unlock(nullptr);

    RECT whole_picture = {0, 0, video_width_, video_height_};
    DDBLTFX fx = no_tearing();
    result = rgb_offscreen_surface_->Blt(nullptr, yuv_offscreen_surface_.Get(),
                                         source ? source : &whole_picture, DDBLT_ASYNC, &fx);
    if (FAILED(result)) {
        note_result(result);
        VR_LOG(vr_log::error, "Blt rgb_offscreen_surface_ error!result:%p\n",
               code_as_pointer(result));
        return false;
    }

    if (image_adjust_[0] == neutral && image_adjust_[1] == neutral && image_adjust_[2] == neutral &&
        image_adjust_[3] == neutral)
        return true;

    locked = empty_description();
    result = rgb_offscreen_surface_->Lock(nullptr, &locked, DDLOCK_WAIT, nullptr);
    if (FAILED(result)) {
        note_result(result);
        VR_LOG(vr_log::error, "Lock rgb_offscreen_surface_ error!result:%p\n",
               code_as_pointer(result));
        return false;
    }
    // The adjustment works on 32-bit pixels; a display of another depth is left unadjusted.
    const DWORD bits = (locked.dwFlags & DDSD_PIXELFORMAT) ? locked.ddpfPixelFormat.dwRGBBitCount
                                                           : primary_format_.dwRGBBitCount;
    if (locked.lpSurface && bits == 32 && locked.lPitch >= target_width_ * 4) {
        const rgb_adjust::params p = rgb_adjust::make_params(image_adjust_, hue_turns_);
        rgb_adjust::apply(static_cast<uint8_t*>(locked.lpSurface), target_width_, target_height_,
                          static_cast<int>(locked.lPitch), p);
    }
    rgb_offscreen_surface_->Unlock(nullptr);
    return true;
}

void ddraw_manager::fill_copy_surface(uint8_t** planes, const int* strides, uint8_t* dst, int pitch)
{
    // A picture without its three planes leaves the surface as it was.
    if (!planes || !strides || !planes[0] || !planes[1] || !planes[2])
        return;
    const int width = round_up_to_4(video_width_);
    const int height = round_up_to_4(video_height_);
    switch (copy_format_) {
    case copy_format_yv12: {
        // Y, then V, then U, the chroma rows at half the pitch.
        uint8_t* out = dst;
        for (int row = 0; row < height; ++row, out += pitch)
            std::memcpy(out, planes[0] + static_cast<ptrdiff_t>(row) * strides[0],
                        static_cast<size_t>(width));
        const int chroma_pitch = pitch / 2;
        for (int plane : {2, 1})
            for (int row = 0; row < height / 2; ++row, out += chroma_pitch)
                std::memcpy(out, planes[plane] + static_cast<ptrdiff_t>(row) * strides[plane],
                            static_cast<size_t>(width / 2));
        break;
    }
    case copy_format_yuy2:
        libyuv::I420ToYUY2(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2], dst,
                           pitch, width, height);
        break;
    case copy_format_uyvy:
        libyuv::I420ToUYVY(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2], dst,
                           pitch, width, height);
        break;
    case copy_format_argb:
        fill_rgb(planes, strides, dst, pitch, width, height);
        break;
    default:
        // No conversion into YVYU.
        break;
    }
}

void ddraw_manager::fill_rgb(uint8_t** planes, const int* strides, uint8_t* dst, int pitch,
                             int width, int height)
{
    const DDPIXELFORMAT& f = primary_format_;
    const auto masks_are = [&f](DWORD red, DWORD green, DWORD blue) {
        return f.dwRBitMask == red && f.dwGBitMask == green && f.dwBBitMask == blue;
    };
    const uint8_t* y = planes[0];
    const uint8_t* u = planes[1];
    const uint8_t* v = planes[2];
    if (f.dwRGBBitCount == 32) {
        if (masks_are(0x00FF0000, 0x0000FF00, 0x000000FF)) {
            const libyuv::YuvConstants* constants =
                color_class_ == 1 ? &libyuv::kYuvH709Constants : &libyuv::kYuvI601Constants;
            libyuv::I420ToARGBMatrix(y, strides[0], u, strides[1], v, strides[2], dst, pitch,
                                     constants, width, height);
        } else if (masks_are(0xFF000000, 0x00FF0000, 0x0000FF00)) {
            libyuv::I420ToRGBAMatrix(y, strides[0], u, strides[1], v, strides[2], dst, pitch,
                                     &libyuv::kYuvI601Constants, width, height);
        } else if (masks_are(0x0000FF00, 0x00FF0000, 0xFF000000)) {
            libyuv::I420ToRGBAMatrix(y, strides[0], v, strides[2], u, strides[1], dst, pitch,
                                     &libyuv::kYvuI601Constants, width, height);
        } else if (masks_are(0x000000FF, 0x0000FF00, 0x00FF0000)) {
            libyuv::I420ToARGBMatrix(y, strides[0], v, strides[2], u, strides[1], dst, pitch,
                                     &libyuv::kYvuI601Constants, width, height);
        }
    } else if (f.dwRGBBitCount == 15 || f.dwRGBBitCount == 16) {
        if (masks_are(0x7C00, 0x03E0, 0x001F))
            libyuv::I420ToARGB1555(y, strides[0], u, strides[1], v, strides[2], dst, pitch, width,
                                   height);
        else if (masks_are(0xF800, 0x07E0, 0x001F))
            libyuv::I420ToRGB565(y, strides[0], u, strides[1], v, strides[2], dst, pitch, width,
                                 height);
    }
}

bool ddraw_manager::draw_overlays(std::list<overlay_group>* groups, int reference_width,
                                  int reference_height, RECT* area)
{
    const bool has_groups = groups && !groups->empty();
    if (!has_groups && !has_draw_callback())
        return true;
    if (!rgb_offscreen_surface_)
        return false;

    // Both may fail on some platforms; the callback and the overlays then get what there is.
    DDSURFACEDESC locked = empty_description();
    rgb_offscreen_surface_->Lock(nullptr, &locked, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr);
    HDC dc = nullptr;
    rgb_offscreen_surface_->GetDC(&dc);

    // Without a device context (the surface was lost) neither the callback nor the overlay
    // renderer has anything to paint on.
    if (dc) {
        invoke_draw_callback(dc);
        if (has_groups)
            mytext_.draw(dc, groups, reference_width, reference_height, area);
        rgb_offscreen_surface_->ReleaseDC(dc);
    }
    rgb_offscreen_surface_->Unlock(nullptr);
    return true;
}

bool ddraw_manager::present(void*, void*)
{
    if (!main_surface_ || !rgb_offscreen_surface_)
        return false;
    RECT client = {0, 0, 0, 0};
    GetClientRect(window_, &client);
    POINT top_left = {client.left, client.top};
    POINT bottom_right = {client.right, client.bottom};
    ClientToScreen(window_, &top_left);
    ClientToScreen(window_, &bottom_right);
    RECT destination = {top_left.x, top_left.y, bottom_right.x, bottom_right.y};
    RECT source = {0, 0, target_width_, target_height_};
    DDBLTFX fx = no_tearing();
    const HRESULT result =
        main_surface_->Blt(&destination, rgb_offscreen_surface_.Get(), &source, DDBLT_ASYNC, &fx);
    note_result(result);
    if (result != DD_OK)
        VR_LOG(vr_log::notice, "Blt main_surface_ failed with %x\n", static_cast<unsigned>(result));
    return result == DD_OK;
}

int ddraw_manager::check_device()
{
    if (!ddraw_ || !yuv_offscreen_surface_)
        return device_skip;
    if (surface_state_ == device_not_ready) {
        yuv_offscreen_surface_->Restore();
        if (rgb_offscreen_surface_)
            rgb_offscreen_surface_->Restore();
        if (main_surface_ && main_surface_->Restore() == DD_OK)
            surface_state_ = device_ready;
    }
    return surface_state_;
}

bool ddraw_manager::set_image_adjust(const int* values)
{
    if (!values)
        return false;
    for (int i = 0; i < 4; ++i)
        image_adjust_[i] = values[i];
    return true;
}

void ddraw_manager::set_color_space(int color_class)
{
    color_class_ = color_class;
}
