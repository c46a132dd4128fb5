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

} // namespace

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
    in_->Release();
}

IDirectDrawSurface2* fault_surface::unwrap(IDirectDrawSurface2* surface)
{
    fault_surface* wrapper = as_wrapper(surface);
    return wrapper ? wrapper->in_ : surface;
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
    const fault_surface* source = as_wrapper(src);
    if (lost || (source && source->lost))
        return DDERR_SURFACELOST;
    return in_->Blt(dst_rect, unwrap(src), src_rect, flags, fx);
}

STDMETHODIMP fault_surface::GetPixelFormat(LPDDPIXELFORMAT f)
{
    if (!fake_format)
        return in_->GetPixelFormat(f);
    *f = format;
    return DD_OK;
}

STDMETHODIMP fault_surface::Lock(LPRECT rect, LPDDSURFACEDESC desc, DWORD flags, HANDLE event)
{
    ++lock_calls;
    return lost ? DDERR_SURFACELOST : in_->Lock(rect, desc, flags, event);
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

void surface_wrapping::report_primary_format(const DDPIXELFORMAT& format)
{
    fake_primary_ = true;
    primary_format_ = format;
}

IDirectDrawSurface2* surface_wrapping::filter(IDirectDrawSurface2* surface,
                                              ddraw_manager::surface_role role)
{
    if (active->refusals_[role] > 0) {
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
