// DirectDraw surfaces for the tests: while a `surface_wrapping` lives, every surface the
// backend obtains is wrapped in a `fault_surface`, which forwards to the real one, counts the
// calls the backend makes, and can look lost (at once or at a chosen use), fail chosen calls
// or report another pixel format. Surfaces handed to the real one (a blit's source) are
// unwrapped first, and so are wrapped clippers. Set the controls while the renderer is idle.
#pragma once

#include <windows.h>

#include <ddraw.h>

#include <atomic>
#include <string>
#include <vector>

#include "ddraw_render/ddraw_manager.h"

constexpr char ddraw_source[] = "..\\..\\..\\sources\\video_render\\ddraw_render\\ddraw_manager";

class fault_surface final : public IDirectDrawSurface2 {
  public:
    explicit fault_surface(IDirectDrawSurface2* inner); // takes over the reference
    // The real surface behind a wrapper, or `surface` itself.
    static IDirectDrawSurface2* unwrap(IDirectDrawSurface2* surface);

    // While set, Lock, Blt (from or onto it), GetDC and IsLost answer DDERR_SURFACELOST, and
    // Restore answers `restore_result` (DD_OK also clears `lost`).
    bool lost = false;
    HRESULT restore_result = DD_OK;
    // Counts down at each Lock, GetDC and blit onto or from the surface; the use that brings
    // it to zero sets `lost`. Negative: never.
    int lose_after_uses = -1;
    bool fake_format = false; // GetPixelFormat reports `format`
    DDPIXELFORMAT format = {};
    int lock_calls = 0;
    int blt_calls = 0;
    int restore_calls = 0;
    int dcs_taken = 0; // successful GetDC calls
    int dcs_given_back = 0;

    // Asked first by GetDC, GetPixelFormat and SetClipper with the method's name; a failure
    // code is answered without calling the real surface. Process-wide; null asks nothing.
    static HRESULT (*fail_hook)(const char* method);
    // The real clipper behind a test's wrapper, for SetClipper. Process-wide; null: none.
    static IDirectDrawClipper* (*unwrap_clipper)(IDirectDrawClipper* clipper);
    // The wrappers in existence.
    static size_t live_count();

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Blt(LPRECT dst_rect, LPDIRECTDRAWSURFACE2 src, LPRECT src_rect, DWORD flags,
                     LPDDBLTFX fx) override;
    STDMETHODIMP GetDC(HDC* dc) override;
    STDMETHODIMP GetPixelFormat(LPDDPIXELFORMAT f) override;
    STDMETHODIMP IsLost() override { return lost ? DDERR_SURFACELOST : in_->IsLost(); }
    STDMETHODIMP Lock(LPRECT rect, LPDDSURFACEDESC desc, DWORD flags, HANDLE event) override;
    STDMETHODIMP Restore() override;

    // Everything else is passed on as it is.
    STDMETHODIMP AddAttachedSurface(LPDIRECTDRAWSURFACE2 s) override
    {
        return in_->AddAttachedSurface(unwrap(s));
    }
    STDMETHODIMP AddOverlayDirtyRect(LPRECT r) override { return in_->AddOverlayDirtyRect(r); }
    STDMETHODIMP BltBatch(LPDDBLTBATCH b, DWORD n, DWORD f) override
    {
        return in_->BltBatch(b, n, f);
    }
    STDMETHODIMP BltFast(DWORD x, DWORD y, LPDIRECTDRAWSURFACE2 s, LPRECT r, DWORD t) override
    {
        return in_->BltFast(x, y, unwrap(s), r, t);
    }
    STDMETHODIMP DeleteAttachedSurface(DWORD f, LPDIRECTDRAWSURFACE2 s) override
    {
        return in_->DeleteAttachedSurface(f, unwrap(s));
    }
    STDMETHODIMP EnumAttachedSurfaces(LPVOID c, LPDDENUMSURFACESCALLBACK cb) override
    {
        return in_->EnumAttachedSurfaces(c, cb);
    }
    STDMETHODIMP EnumOverlayZOrders(DWORD f, LPVOID c, LPDDENUMSURFACESCALLBACK cb) override
    {
        return in_->EnumOverlayZOrders(f, c, cb);
    }
    STDMETHODIMP Flip(LPDIRECTDRAWSURFACE2 s, DWORD f) override { return in_->Flip(unwrap(s), f); }
    STDMETHODIMP GetAttachedSurface(LPDDSCAPS c, LPDIRECTDRAWSURFACE2* s) override
    {
        return in_->GetAttachedSurface(c, s);
    }
    STDMETHODIMP GetBltStatus(DWORD f) override { return in_->GetBltStatus(f); }
    STDMETHODIMP GetCaps(LPDDSCAPS c) override { return in_->GetCaps(c); }
    STDMETHODIMP GetClipper(LPDIRECTDRAWCLIPPER* c) override { return in_->GetClipper(c); }
    STDMETHODIMP GetColorKey(DWORD f, LPDDCOLORKEY k) override { return in_->GetColorKey(f, k); }
    STDMETHODIMP GetFlipStatus(DWORD f) override { return in_->GetFlipStatus(f); }
    STDMETHODIMP GetOverlayPosition(LPLONG x, LPLONG y) override
    {
        return in_->GetOverlayPosition(x, y);
    }
    STDMETHODIMP GetPalette(LPDIRECTDRAWPALETTE* p) override { return in_->GetPalette(p); }
    STDMETHODIMP GetSurfaceDesc(LPDDSURFACEDESC d) override { return in_->GetSurfaceDesc(d); }
    STDMETHODIMP Initialize(LPDIRECTDRAW dd, LPDDSURFACEDESC d) override
    {
        return in_->Initialize(dd, d);
    }
    STDMETHODIMP ReleaseDC(HDC dc) override;
    STDMETHODIMP SetClipper(LPDIRECTDRAWCLIPPER c) override;
    STDMETHODIMP SetColorKey(DWORD f, LPDDCOLORKEY k) override { return in_->SetColorKey(f, k); }
    STDMETHODIMP SetOverlayPosition(LONG x, LONG y) override
    {
        return in_->SetOverlayPosition(x, y);
    }
    STDMETHODIMP SetPalette(LPDIRECTDRAWPALETTE p) override { return in_->SetPalette(p); }
    STDMETHODIMP Unlock(LPVOID data) override { return in_->Unlock(data); }
    STDMETHODIMP UpdateOverlay(LPRECT r, LPDIRECTDRAWSURFACE2 s, LPRECT d, DWORD f,
                               LPDDOVERLAYFX fx) override
    {
        return in_->UpdateOverlay(r, unwrap(s), d, f, fx);
    }
    STDMETHODIMP UpdateOverlayDisplay(DWORD f) override { return in_->UpdateOverlayDisplay(f); }
    STDMETHODIMP UpdateOverlayZOrder(DWORD f, LPDIRECTDRAWSURFACE2 s) override
    {
        return in_->UpdateOverlayZOrder(f, unwrap(s));
    }
    STDMETHODIMP GetDDInterface(LPVOID* dd) override { return in_->GetDDInterface(dd); }
    STDMETHODIMP PageLock(DWORD f) override { return in_->PageLock(f); }
    STDMETHODIMP PageUnlock(DWORD f) override { return in_->PageUnlock(f); }

  private:
    ~fault_surface();
    // One use of the surface; true when it is lost.
    bool use();
    IDirectDrawSurface2* in_;
    std::atomic<ULONG> refs_{1};
};

// Installs the backend's surface filter for its lifetime.
class surface_wrapping {
  public:
    surface_wrapping();
    ~surface_wrapping();
    surface_wrapping(const surface_wrapping&) = delete;
    surface_wrapping& operator=(const surface_wrapping&) = delete;

    // The wrapper of the latest surface of `role` (the backend holds its reference), null
    // once that surface is released.
    fault_surface* operator[](int role) const { return latest_[role]; }
    // The next `count` queries for a surface of `role` fail.
    void refuse(int role, int count) { refusals_[role] = count; }
    // The format every later primary surface reports.
    void report_primary_format(const DDPIXELFORMAT& format);
    // Asked at every query for a surface (after the refusals above); true makes it fail.
    bool (*refuse_when)(int role) = nullptr;

  private:
    friend class fault_surface;
    static IDirectDrawSurface2* filter(IDirectDrawSurface2* surface,
                                       ddraw_manager::surface_role role);
    void forget(const fault_surface* released);
    fault_surface* latest_[3] = {};
    int refusals_[3] = {};
    bool fake_primary_ = false;
    DDPIXELFORMAT primary_format_ = {};
};

DDSURFACEDESC surface_description(IDirectDrawSurface2* surface);
// The first width x height 32-bit values of a surface, top row first (empty if unlockable).
std::vector<uint32_t> surface_pixels(IDirectDrawSurface2* surface, int width, int height);
// `format` with one result code printed as the library prints codes (%p).
std::string with_code(const char* format, HRESULT code);
