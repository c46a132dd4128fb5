#include "d3d9_fault_imports.h"

#include <d3dx9.h>

#include "d3d9_creation_faults.h"
#include "d3d9_fault_d3d9.h"
#include "d3d9_fault_device.h"

namespace {

using create9ex_fn = HRESULT(WINAPI*)(UINT, IDirect3D9Ex**);
using create9_fn = IDirect3D9*(WINAPI*)(UINT);
using create_line_fn = HRESULT(WINAPI*)(IDirect3DDevice9*, ID3DXLine**);
using create_sprite_fn = HRESULT(WINAPI*)(IDirect3DDevice9*, ID3DXSprite**);
using create_texture_fn = HRESULT(WINAPI*)(IDirect3DDevice9*, const void*, UINT,
                                           IDirect3DTexture9**);
using create_font_fn = HRESULT(WINAPI*)(IDirect3DDevice9*, const D3DXFONT_DESCA*, ID3DXFont**);

// The real functions and the listener of the object in force (one at a time).
struct real_functions {
    create9ex_fn create9ex = nullptr;
    create9_fn create9 = nullptr;
    create_line_fn create_line = nullptr;
    create_sprite_fn create_sprite = nullptr;
    create_texture_fn create_texture = nullptr;
    create_font_fn create_font = nullptr;
    fault_d3d9::device_listener listener = nullptr;
    void* context = nullptr;
} real;

template <typename T> HRESULT refused(HRESULT hr, T** out)
{
    if (out)
        *out = nullptr;
    return hr;
}

HRESULT WINAPI create9ex(UINT sdk_version, IDirect3D9Ex** out)
{
    if (const HRESULT hr = creation_plan().decide("Direct3DCreate9Ex"); FAILED(hr))
        return refused(hr, out);
    const HRESULT hr = real.create9ex(sdk_version, out);
    if (SUCCEEDED(hr) && out && *out)
        fault_d3d9::wrap(*out, real.listener, real.context);
    return hr;
}

IDirect3D9* WINAPI create9(UINT sdk_version)
{
    if (FAILED(creation_plan().decide("Direct3DCreate9")))
        return nullptr;
    IDirect3D9* d3d9 = real.create9(sdk_version);
    if (d3d9)
        fault_d3d9::wrap(d3d9, real.listener, real.context);
    return d3d9;
}

HRESULT WINAPI create_line(IDirect3DDevice9* device, ID3DXLine** line)
{
    if (const HRESULT hr = creation_plan().decide("D3DXCreateLine"); FAILED(hr))
        return refused(hr, line);
    creation_faults::scope inside(creation_plan(), "D3DXCreateLine");
    return real.create_line(device, line);
}

HRESULT WINAPI create_sprite(IDirect3DDevice9* device, ID3DXSprite** sprite)
{
    if (const HRESULT hr = creation_plan().decide("D3DXCreateSprite"); FAILED(hr))
        return refused(hr, sprite);
    creation_faults::scope inside(creation_plan(), "D3DXCreateSprite");
    return real.create_sprite(device, sprite);
}

HRESULT WINAPI create_texture(IDirect3DDevice9* device, const void* data, UINT size,
                              IDirect3DTexture9** texture)
{
    if (const HRESULT hr = creation_plan().decide("D3DXCreateTextureFromFileInMemory"); FAILED(hr))
        return refused(hr, texture);
    creation_faults::scope inside(creation_plan(), "D3DXCreateTextureFromFileInMemory");
    return real.create_texture(device, data, size, texture);
}

HRESULT WINAPI create_font(IDirect3DDevice9* device, const D3DXFONT_DESCA* description,
                           ID3DXFont** font)
{
    if (const HRESULT hr = creation_plan().decide("D3DXCreateFontIndirectA"); FAILED(hr))
        return refused(hr, font);
    creation_faults::scope inside(creation_plan(), "D3DXCreateFontIndirectA");
    return real.create_font(device, description, font);
}

template <typename F> void* as_address(F function)
{
    return reinterpret_cast<void*>(function);
}

} // namespace

d3d9_import_faults::d3d9_import_faults()
{
    real.listener = &d3d9_import_faults::on_device;
    real.context = this;
    auto patch = [this](const char* dll, const char* name, void* replacement) {
        patches_.push_back(std::make_unique<import_patch>(dll, name, replacement));
        return patches_.back()->original();
    };
    real.create9ex = reinterpret_cast<create9ex_fn>(
        patch("d3d9.dll", "Direct3DCreate9Ex", as_address(&create9ex)));
    real.create9 =
        reinterpret_cast<create9_fn>(patch("d3d9.dll", "Direct3DCreate9", as_address(&create9)));
    real.create_line = reinterpret_cast<create_line_fn>(
        patch("d3dx9_43.dll", "D3DXCreateLine", as_address(&create_line)));
    real.create_sprite = reinterpret_cast<create_sprite_fn>(
        patch("d3dx9_43.dll", "D3DXCreateSprite", as_address(&create_sprite)));
    real.create_texture = reinterpret_cast<create_texture_fn>(
        patch("d3dx9_43.dll", "D3DXCreateTextureFromFileInMemory", as_address(&create_texture)));
    real.create_font = reinterpret_cast<create_font_fn>(
        patch("d3dx9_43.dll", "D3DXCreateFontIndirectA", as_address(&create_font)));
}

d3d9_import_faults::~d3d9_import_faults()
{
    patches_.clear(); // the real entry points are back before the devices go
    for (fault_device* device : devices_)
        device->release();
    real = real_functions();
}

bool d3d9_import_faults::ok() const
{
    for (const auto& patch : patches_)
        if (!patch->ok())
            return false;
    return !patches_.empty();
}

void d3d9_import_faults::on_device(fault_device* device, void* context)
{
    static_cast<d3d9_import_faults*>(context)->devices_.push_back(device);
}

int d3d9_import_faults::devices_held() const
{
    int held = 0;
    for (const fault_device* device : devices_)
        held += device->refcount() > 1;
    return held;
}

void d3d9_import_faults::drop_released_devices(bool keep_newest)
{
    std::vector<fault_device*> kept;
    for (size_t i = 0; i < devices_.size(); ++i) {
        fault_device* device = devices_[i];
        if (device->refcount() > 1 || (keep_newest && i + 1 == devices_.size()))
            kept.push_back(device);
        else
            device->release();
    }
    devices_.swap(kept);
}
