// A small system-memory surface of DirectDraw's own: its method table is the one every
// IDirectDrawSurface2 shares, so patching it reaches the library's surfaces too.
#pragma once

#include <ddraw.h>

inline IDirectDrawSurface2* make_ddraw_surface2()
{
    IDirectDraw* ddraw = nullptr;
    if (FAILED(DirectDrawCreate(nullptr, &ddraw, nullptr)))
        return nullptr;
    ddraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.dwWidth = desc.dwHeight = 8;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    IDirectDrawSurface* first = nullptr;
    IDirectDrawSurface2* surface = nullptr;
    if (SUCCEEDED(ddraw->CreateSurface(&desc, &first, nullptr))) {
        first->QueryInterface(IID_IDirectDrawSurface2, reinterpret_cast<void**>(&surface));
        first->Release();
    }
    ddraw->Release();
    return surface;
}
