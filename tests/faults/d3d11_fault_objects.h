// Direct3D 11 for the fault storms. While a `d3d11_interception` lives, the calls the backend
// makes to create its objects are numbered by the storm's call plan and fail when it says so:
// the test program's import of D3D11CreateDevice (whose device is handed out in a forwarding
// nv12_standin_device), the creation calls of such a device or of the decoder's, the way to
// the DXGI factory (the device's IDXGIDevice, its adapter and the factory, each a forwarding
// wrapper) with the factory's CreateSwapChain, and the swap chain's GetBuffer and GetDesc.
#pragma once

#include <d3d11.h>

#include <string>
#include <vector>

#include "d3d11_standin_device.h"
#include "ddraw_d3d11_storm.h"

// Names of the watched calls, as the call plan records them.
namespace d3d11_calls {
std::string create_device(D3D_DRIVER_TYPE driver);
constexpr char query_dxgi_device[] = "ID3D11Device::QueryInterface(IDXGIDevice)";
constexpr char query_multithread[] = "ID3D11Device::QueryInterface(ID3D10Multithread)";
constexpr char get_adapter[] = "IDXGIDevice::GetAdapter";
constexpr char get_factory[] = "IDXGIAdapter::GetParent(IDXGIFactory2)";
constexpr char create_swap_chain[] = "IDXGIFactory::CreateSwapChain";
constexpr char get_buffer[] = "IDXGISwapChain::GetBuffer";
constexpr char get_desc[] = "IDXGISwapChain::GetDesc";
// A creation call of the device: "CreateBuffer", "CreateTexture2D", ...
std::string device_call(const std::string& method);
} // namespace d3d11_calls

// The failure each watched call answers when it is made to fail.
HRESULT d3d11_failure_code(const std::string& call);

// A device made through the test program's D3D11CreateDevice while the interception lived.
struct made_device {
    // The test holds one reference of its own on each of these two.
    ID3D11Device* real = nullptr;
    nv12_standin_device* handed = nullptr;  // what the caller got
    ID3D11DeviceContext* context = nullptr; // not held by the test
};

class d3d11_interception {
  public:
    d3d11_interception();
    ~d3d11_interception();
    d3d11_interception(const d3d11_interception&) = delete;
    d3d11_interception& operator=(const d3d11_interception&) = delete;

    bool ready() const { return patch_.ok(); }
    // Watches the creation calls of a device the test hands to the backend (the decoder's).
    static void watch(nv12_standin_device* device);
    static void unwatch(nv12_standin_device* device);

    // The devices made since the last call, oldest first; the caller takes over the test's
    // references.
    static std::vector<made_device> take_made_devices();
    // Whether NV12 textures of devices made from now on are stood in for (else the platform
    // answers them itself).
    static bool stand_in_for_nv12;
    // The DXGI wrappers (device, adapter, factory) handed out and not yet released.
    static int wrappers_alive();

  private:
    import_patch patch_;
};
