// A d3d9.dll that has no Direct3D 9: placed beside a test program and loaded in place of the
// system's (under Wine: WINEDLLOVERRIDES=d3d9=n), it makes the library's capability check
// find DirectDraw only, as on a machine without a usable Direct3D 9.
#include <d3d9.h>

extern "C" IDirect3D9* WINAPI Direct3DCreate9(UINT)
{
    return nullptr;
}

extern "C" HRESULT WINAPI Direct3DCreate9Ex(UINT, IDirect3D9Ex** created)
{
    if (created)
        *created = nullptr;
    return D3DERR_NOTAVAILABLE;
}
