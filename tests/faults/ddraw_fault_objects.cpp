#include "ddraw_fault_objects.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <set>

#include "com_forwarder.h"

namespace {

std::atomic<int> alive{0};

// The failure planned for `call`, or DD_OK.
HRESULT planned(const std::string& call)
{
    return plan().fails(call) ? ddraw_failure_code(call) : DD_OK;
}

class fault_clipper final : public com_forwarder<IDirectDrawClipper> {
  public:
    explicit fault_clipper(IDirectDrawClipper* inner) : com_forwarder(inner, alive)
    {
        std::lock_guard<std::mutex> lock(mutex());
        wrappers().insert(this);
    }

    static IDirectDrawClipper* unwrap(IDirectDrawClipper* clipper)
    {
        std::lock_guard<std::mutex> lock(mutex());
        if (!wrappers().count(clipper))
            return clipper;
        return static_cast<fault_clipper*>(clipper)->in_;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        return query(riid, {IID_IDirectDrawClipper}, object);
    }
    STDMETHODIMP GetClipList(LPRECT rect, LPRGNDATA list, LPDWORD size) override
    {
        return in_->GetClipList(rect, list, size);
    }
    STDMETHODIMP GetHWnd(HWND* window) override { return in_->GetHWnd(window); }
    STDMETHODIMP Initialize(LPDIRECTDRAW ddraw, DWORD flags) override
    {
        return in_->Initialize(ddraw, flags);
    }
    STDMETHODIMP IsClipListChanged(WINBOOL* changed) override
    {
        return in_->IsClipListChanged(changed);
    }
    STDMETHODIMP SetClipList(LPRGNDATA list, DWORD flags) override
    {
        return in_->SetClipList(list, flags);
    }
    STDMETHODIMP SetHWnd(DWORD flags, HWND window) override
    {
        if (const HRESULT failure = planned(ddraw_calls::set_hwnd))
            return failure;
        return in_->SetHWnd(flags, window);
    }

  private:
    ~fault_clipper() override
    {
        std::lock_guard<std::mutex> lock(mutex());
        wrappers().erase(this);
    }
    static std::mutex& mutex()
    {
        static std::mutex guard;
        return guard;
    }
    static std::set<IDirectDrawClipper*>& wrappers()
    {
        static std::set<IDirectDrawClipper*> all;
        return all;
    }
};

// The methods IDirectDraw and IDirectDraw2 share; the watched ones are numbered under the
// interface's name.
template <class I> class ddraw_forwarder : public com_forwarder<I> {
  protected:
    ddraw_forwarder(I* inner, const char* name) : com_forwarder<I>(inner, alive), name_(name) {}
    using com_forwarder<I>::in_;

    HRESULT planned_call(const char* method) { return planned(std::string(name_) + method); }

  public:
    STDMETHODIMP Compact() override { return in_->Compact(); }
    STDMETHODIMP CreateClipper(DWORD flags, LPDIRECTDRAWCLIPPER* clipper, IUnknown* outer) override
    {
        if (const HRESULT failure = planned_call("::CreateClipper")) {
            *clipper = nullptr;
            return failure;
        }
        const HRESULT result = in_->CreateClipper(flags, clipper, outer);
        if (SUCCEEDED(result) && *clipper)
            *clipper = new fault_clipper(*clipper);
        return result;
    }
    STDMETHODIMP CreatePalette(DWORD flags, LPPALETTEENTRY colors, LPDIRECTDRAWPALETTE* palette,
                               IUnknown* outer) override
    {
        return in_->CreatePalette(flags, colors, palette, outer);
    }
    STDMETHODIMP CreateSurface(LPDDSURFACEDESC desc, LPDIRECTDRAWSURFACE* surface,
                               IUnknown* outer) override
    {
        if (const HRESULT failure = planned_call("::CreateSurface")) {
            *surface = nullptr;
            return failure;
        }
        return in_->CreateSurface(desc, surface, outer);
    }
    STDMETHODIMP DuplicateSurface(LPDIRECTDRAWSURFACE surface, LPDIRECTDRAWSURFACE* copy) override
    {
        return in_->DuplicateSurface(surface, copy);
    }
    STDMETHODIMP EnumDisplayModes(DWORD flags, LPDDSURFACEDESC desc, LPVOID context,
                                  LPDDENUMMODESCALLBACK callback) override
    {
        return in_->EnumDisplayModes(flags, desc, context, callback);
    }
    STDMETHODIMP EnumSurfaces(DWORD flags, LPDDSURFACEDESC desc, LPVOID context,
                              LPDDENUMSURFACESCALLBACK callback) override
    {
        return in_->EnumSurfaces(flags, desc, context, callback);
    }
    STDMETHODIMP FlipToGDISurface() override { return in_->FlipToGDISurface(); }
    STDMETHODIMP GetCaps(LPDDCAPS driver_caps, LPDDCAPS emulation_caps) override
    {
        if (const HRESULT failure = planned_call("::GetCaps"))
            return failure;
        const HRESULT result = in_->GetCaps(driver_caps, emulation_caps);
        if (SUCCEEDED(result) && driver_caps && ddraw_interception::report_blt_fourcc)
            driver_caps->dwCaps |= DDCAPS_BLTFOURCC;
        return result;
    }
    STDMETHODIMP GetDisplayMode(LPDDSURFACEDESC desc) override { return in_->GetDisplayMode(desc); }
    STDMETHODIMP GetFourCCCodes(LPDWORD count, LPDWORD codes) override
    {
        return in_->GetFourCCCodes(count, codes);
    }
    STDMETHODIMP GetGDISurface(LPDIRECTDRAWSURFACE* surface) override
    {
        return in_->GetGDISurface(surface);
    }
    STDMETHODIMP GetMonitorFrequency(LPDWORD frequency) override
    {
        return in_->GetMonitorFrequency(frequency);
    }
    STDMETHODIMP GetScanLine(LPDWORD line) override { return in_->GetScanLine(line); }
    STDMETHODIMP GetVerticalBlankStatus(WINBOOL* in_blank) override
    {
        return in_->GetVerticalBlankStatus(in_blank);
    }
    STDMETHODIMP Initialize(GUID* guid) override { return in_->Initialize(guid); }
    STDMETHODIMP RestoreDisplayMode() override { return in_->RestoreDisplayMode(); }
    STDMETHODIMP SetCooperativeLevel(HWND window, DWORD flags) override
    {
        if (const HRESULT failure = planned_call("::SetCooperativeLevel"))
            return failure;
        return in_->SetCooperativeLevel(window, flags);
    }
    STDMETHODIMP WaitForVerticalBlank(DWORD flags, HANDLE event) override
    {
        return in_->WaitForVerticalBlank(flags, event);
    }

  private:
    const char* name_;
};

class fault_ddraw2 final : public ddraw_forwarder<IDirectDraw2> {
  public:
    explicit fault_ddraw2(IDirectDraw2* inner) : ddraw_forwarder(inner, "IDirectDraw2") {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        return query(riid, {IID_IDirectDraw2}, object);
    }
    STDMETHODIMP SetDisplayMode(DWORD width, DWORD height, DWORD bits, DWORD refresh,
                                DWORD flags) override
    {
        return in_->SetDisplayMode(width, height, bits, refresh, flags);
    }
    STDMETHODIMP GetAvailableVidMem(LPDDSCAPS caps, LPDWORD total, LPDWORD free) override
    {
        return in_->GetAvailableVidMem(caps, total, free);
    }
};

class fault_ddraw final : public ddraw_forwarder<IDirectDraw> {
  public:
    explicit fault_ddraw(IDirectDraw* inner) : ddraw_forwarder(inner, "IDirectDraw") {}

    // The query for IDirectDraw2 is watched and answered with a wrapper.
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        if (!object || !IsEqualGUID(riid, IID_IDirectDraw2))
            return query(riid, {IID_IDirectDraw}, object);
        if (const HRESULT failure = planned(ddraw_calls::query_ddraw2)) {
            *object = nullptr;
            return failure;
        }
        IDirectDraw2* real = nullptr;
        const HRESULT result = in_->QueryInterface(riid, reinterpret_cast<void**>(&real));
        *object = SUCCEEDED(result) && real ? static_cast<IDirectDraw2*>(new fault_ddraw2(real))
                                            : nullptr;
        return result;
    }
    STDMETHODIMP SetDisplayMode(DWORD width, DWORD height, DWORD bits) override
    {
        return in_->SetDisplayMode(width, height, bits);
    }
};

using direct_draw_create = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);
direct_draw_create real_create = nullptr;

HRESULT WINAPI create_watched(GUID* guid, LPDIRECTDRAW* ddraw, IUnknown* outer)
{
    if (const HRESULT failure = planned(ddraw_calls::create)) {
        *ddraw = nullptr;
        return failure;
    }
    const HRESULT result = real_create(guid, ddraw, outer);
    if (SUCCEEDED(result) && *ddraw)
        *ddraw = new fault_ddraw(*ddraw);
    return result;
}

HRESULT surface_call(const char* method)
{
    if (std::strcmp(method, "GetDC") == 0)
        return ddraw_interception::fail_get_dc ? DDERR_GENERIC : DD_OK;
    return planned(std::string("IDirectDrawSurface2::") + method);
}

bool refuse_query(int role)
{
    return plan().fails(ddraw_calls::query_surface2(role));
}

} // namespace

bool ddraw_interception::fail_get_dc = false;
bool ddraw_interception::report_blt_fourcc = false;

HRESULT ddraw_failure_code(const std::string& call)
{
    if (call == ddraw_calls::create)
        return DDERR_NODIRECTDRAWHW;
    if (call == ddraw_calls::query_ddraw2 || call.find("QueryInterface") != std::string::npos)
        return E_NOINTERFACE;
    if (call == ddraw_calls::create_surface)
        return DDERR_OUTOFVIDEOMEMORY;
    if (call == ddraw_calls::create_clipper)
        return DDERR_OUTOFMEMORY;
    if (call == ddraw_calls::set_hwnd)
        return DDERR_INVALIDPARAMS;
    return DDERR_GENERIC;
}

std::string ddraw_calls::query_surface2(int role)
{
    static const char* const roles[] = {"primary", "copy", "back"};
    return std::string("IDirectDrawSurface::QueryInterface(IDirectDrawSurface2) of the ") +
           roles[role] + " surface";
}

ddraw_interception::ddraw_interception(surface_wrapping& surfaces)
    : patch_("ddraw.dll", "DirectDrawCreate", reinterpret_cast<void*>(&create_watched)),
      surfaces_(surfaces)
{
    real_create = reinterpret_cast<direct_draw_create>(patch_.original());
    fault_surface::fail_hook = surface_call;
    fault_surface::unwrap_clipper = fault_clipper::unwrap;
    surfaces_.refuse_when = refuse_query;
}

ddraw_interception::~ddraw_interception()
{
    surfaces_.refuse_when = nullptr;
    fault_surface::unwrap_clipper = nullptr;
    fault_surface::fail_hook = nullptr;
    fail_get_dc = false;
}

int ddraw_interception::wrappers_alive()
{
    return alive.load();
}
