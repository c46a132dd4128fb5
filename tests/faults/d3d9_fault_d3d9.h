// A Direct3D 9 object that forwards to a real one and hands out fault devices: the object the
// patched Direct3DCreate9Ex and Direct3DCreate9 return to the library. CreateDevice and
// CreateDeviceEx ask the creation plan first; the devices they make are wrapped in
// fault_device, whose creation calls ask the plan as well.
#pragma once

#include <windows.h>

#include <d3d9.h>

#include <atomic>

class fault_device;

class fault_d3d9 final : public IDirect3D9Ex {
  public:
    // Called with every device handed out, before the library sees it.
    using device_listener = void (*)(fault_device* device, void* context);

    // Takes over the caller's reference on `inner`. Around a Direct3D 9Ex object it answers as
    // IDirect3D9Ex too, around a plain one only as IDirect3D9.
    static fault_d3d9* wrap(IDirect3D9* inner, device_listener listener, void* context);
    // Wrappers not yet released by their last holder.
    static int alive() { return alive_.load(); }

    fault_d3d9(const fault_d3d9&) = delete;
    fault_d3d9& operator=(const fault_d3d9&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDirect3D9, in the order of its vtable
    STDMETHODIMP RegisterSoftwareDevice(void* initialize) override;
    STDMETHODIMP_(UINT) GetAdapterCount() override;
    STDMETHODIMP GetAdapterIdentifier(UINT adapter, DWORD flags,
                                      D3DADAPTER_IDENTIFIER9* identifier) override;
    STDMETHODIMP_(UINT) GetAdapterModeCount(UINT adapter, D3DFORMAT format) override;
    STDMETHODIMP EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode_index,
                                  D3DDISPLAYMODE* mode) override;
    STDMETHODIMP GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    STDMETHODIMP CheckDeviceType(UINT adapter, D3DDEVTYPE device_type, D3DFORMAT display_format,
                                 D3DFORMAT backbuffer_format, WINBOOL windowed) override;
    STDMETHODIMP CheckDeviceFormat(UINT adapter, D3DDEVTYPE device_type, D3DFORMAT adapter_format,
                                   DWORD usage, D3DRESOURCETYPE resource_type,
                                   D3DFORMAT format) override;
    STDMETHODIMP CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE device_type,
                                            D3DFORMAT surface_format, WINBOOL windowed,
                                            D3DMULTISAMPLE_TYPE multisample,
                                            DWORD* quality_levels) override;
    STDMETHODIMP CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE device_type,
                                        D3DFORMAT adapter_format, D3DFORMAT target_format,
                                        D3DFORMAT depth_format) override;
    STDMETHODIMP CheckDeviceFormatConversion(UINT adapter, D3DDEVTYPE device_type,
                                             D3DFORMAT src_format, D3DFORMAT dst_format) override;
    STDMETHODIMP GetDeviceCaps(UINT adapter, D3DDEVTYPE device_type, D3DCAPS9* caps) override;
    STDMETHODIMP_(HMONITOR) GetAdapterMonitor(UINT adapter) override;
    STDMETHODIMP CreateDevice(UINT adapter, D3DDEVTYPE device_type, HWND focus_window, DWORD flags,
                              D3DPRESENT_PARAMETERS* parameters,
                              IDirect3DDevice9** device) override;

    // IDirect3D9Ex, in the order of its vtable; D3DERR_INVALIDCALL around a plain object
    STDMETHODIMP_(UINT)
    GetAdapterModeCountEx(UINT adapter, const D3DDISPLAYMODEFILTER* filter) override;
    STDMETHODIMP EnumAdapterModesEx(UINT adapter, const D3DDISPLAYMODEFILTER* filter,
                                    UINT mode_index, D3DDISPLAYMODEEX* mode) override;
    STDMETHODIMP GetAdapterDisplayModeEx(UINT adapter, D3DDISPLAYMODEEX* mode,
                                         D3DDISPLAYROTATION* rotation) override;
    STDMETHODIMP CreateDeviceEx(UINT adapter, D3DDEVTYPE device_type, HWND focus_window,
                                DWORD flags, D3DPRESENT_PARAMETERS* parameters,
                                D3DDISPLAYMODEEX* mode, IDirect3DDevice9Ex** device) override;
    STDMETHODIMP GetAdapterLUID(UINT adapter, LUID* luid) override;

  private:
    fault_d3d9(IDirect3D9* inner, device_listener listener, void* context);
    ~fault_d3d9();

    // Wraps a device the real object made (taking over its reference) and reports it.
    fault_device* hand_out(IDirect3DDevice9* real_device);

    static std::atomic<int> alive_;

    std::atomic<ULONG> refs_{1};
    IDirect3D9* inner_;
    IDirect3D9Ex* inner_ex_ = nullptr; // inner_ as a 9Ex object, no reference of its own
    device_listener listener_;
    void* context_;
};
