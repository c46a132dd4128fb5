#include "ddraw_fault_surface.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

namespace {

std::mutex live_mutex;
std::set<IDirectDrawSurface2*> live; // every wrapper in existence
surface_wrapping* active = nullptr;

fault_surface* as_wrapper(IDirectDrawSurface2* surface)
{
    std::lock_guard<std::mutex> lock(live_mutex);
    return live.count(surface) ? static_cast<fault_surface*>(surface) : nullptr;
}

HRESULT injected_failure(const char* method)
{
    if (!fault_surface::fail_hook)
        return DD_OK;
    const HRESULT result = fault_surface::fail_hook(method);
    return FAILED(result) ? result : DD_OK;
}

} // namespace

HRESULT (*fault_surface::fail_hook)(const char* method) = nullptr;
IDirectDrawClipper* (*fault_surface::unwrap_clipper)(IDirectDrawClipper* clipper) = nullptr;

size_t fault_surface::live_count()
{
    std::lock_guard<std::mutex> lock(live_mutex);
    return live.size();
}

fault_surface::fault_surface(IDirectDrawSurface2* inner) : in_(inner)
{
    std::lock_guard<std::mutex> lock(live_mutex);
    live.insert(this);
}

fault_surface::~fault_surface()
{
    {
        std::lock_guard<std::mutex> lock(live_mutex);
        live.erase(this);
    }
    if (active)
        active->forget(this);
    in_->Release();
}

IDirectDrawSurface2* fault_surface::unwrap(IDirectDrawSurface2* surface)
{
    fault_surface* wrapper = as_wrapper(surface);
    return wrapper ? wrapper->in_ : surface;
}

bool fault_surface::use()
{
    if (lose_after_uses > 0 && --lose_after_uses == 0)
        lost = true;
    return lost;
}

STDMETHODIMP fault_surface::QueryInterface(REFIID riid, void** object)
{
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDirectDrawSurface2)) {
        AddRef();
        *object = static_cast<IDirectDrawSurface2*>(this);
        return S_OK;
    }
    return in_->QueryInterface(riid, object);
}

STDMETHODIMP_(ULONG) fault_surface::Release()
{
    const ULONG left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

STDMETHODIMP fault_surface::Blt(LPRECT dst_rect, LPDIRECTDRAWSURFACE2 src, LPRECT src_rect,
                                DWORD flags, LPDDBLTFX fx)
{
    ++blt_calls;
    fault_surface* source = as_wrapper(src);
    const bool target_lost = use();
    const bool source_lost = source && source->use();
    if (target_lost || source_lost)
        return DDERR_SURFACELOST;
    return in_->Blt(dst_rect, unwrap(src), src_rect, flags, fx);
}

STDMETHODIMP fault_surface::GetDC(HDC* dc)
{
    if (use())
        return DDERR_SURFACELOST;
    if (const HRESULT failure = injected_failure("GetDC"))
        return failure;
    const HRESULT result = in_->GetDC(dc);
    if (SUCCEEDED(result))
        ++dcs_taken;
    return result;
}

STDMETHODIMP fault_surface::ReleaseDC(HDC dc)
{
    ++dcs_given_back;
    return in_->ReleaseDC(dc);
}

STDMETHODIMP fault_surface::SetClipper(LPDIRECTDRAWCLIPPER c)
{
    if (const HRESULT failure = injected_failure("SetClipper"))
        return failure;
    return in_->SetClipper(unwrap_clipper ? unwrap_clipper(c) : c);
}

STDMETHODIMP fault_surface::GetPixelFormat(LPDDPIXELFORMAT f)
{
    if (const HRESULT failure = injected_failure("GetPixelFormat"))
        return failure;
    if (!fake_format)
        return in_->GetPixelFormat(f);
    *f = format;
    return DD_OK;
}

STDMETHODIMP fault_surface::Lock(LPRECT rect, LPDDSURFACEDESC desc, DWORD flags, HANDLE event)
{
    ++lock_calls;
    return use() ? DDERR_SURFACELOST : in_->Lock(rect, desc, flags, event);
}

STDMETHODIMP fault_surface::Restore()
{
    ++restore_calls;
    const HRESULT restored = in_->Restore();
    if (!lost)
        return restored;
    lost = restore_result != DD_OK;
    return restore_result;
}

surface_wrapping::surface_wrapping()
{
    active = this;
    ddraw_manager::install_surface_filter(filter);
}

surface_wrapping::~surface_wrapping()
{
    ddraw_manager::install_surface_filter(nullptr);
    active = nullptr;
}

void surface_wrapping::forget(const fault_surface* released)
{
    for (fault_surface*& latest : latest_)
        if (latest == released)
            latest = nullptr;
}

void surface_wrapping::report_primary_format(const DDPIXELFORMAT& format)
{
    fake_primary_ = true;
    primary_format_ = format;
}

IDirectDrawSurface2* surface_wrapping::filter(IDirectDrawSurface2* surface,
                                              ddraw_manager::surface_role role)
{
    const bool refused =
        active->refusals_[role] > 0 || (active->refuse_when && active->refuse_when(role));
    if (refused) {
        if (active->refusals_[role] > 0)
            --active->refusals_[role];
        surface->Release();
        return nullptr;
    }
    auto* wrapper = new fault_surface(surface);
    if (role == ddraw_manager::surface_primary && active->fake_primary_) {
        wrapper->fake_format = true;
        wrapper->format = active->primary_format_;
    }
    active->latest_[role] = wrapper;
    return wrapper;
}

DDSURFACEDESC surface_description(IDirectDrawSurface2* surface)
{
    DDSURFACEDESC description;
    std::memset(&description, 0, sizeof(description));
    description.dwSize = sizeof(description);
    surface->GetSurfaceDesc(&description);
    return description;
}

std::vector<uint32_t> surface_pixels(IDirectDrawSurface2* surface, int width, int height)
{
    IDirectDrawSurface2* real = fault_surface::unwrap(surface);
    DDSURFACEDESC locked = surface_description(real);
    std::vector<uint32_t> pixels;
    if (FAILED(real->Lock(nullptr, &locked, DDLOCK_WAIT | DDLOCK_READONLY, nullptr)))
        return pixels;
    for (int row = 0; row < height; ++row) {
        const auto* line = static_cast<const uint32_t*>(locked.lpSurface) + row * locked.lPitch / 4;
        pixels.insert(pixels.end(), line, line + width);
    }
    real->Unlock(nullptr);
    return pixels;
}

std::string with_code(const char* format, HRESULT code)
{
    char text[200];
    std::snprintf(text, sizeof(text), format,
                  reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(code))));
    return text;
}
