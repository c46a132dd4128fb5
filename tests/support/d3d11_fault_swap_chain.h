// A DXGI swap chain that forwards every call to the real one the Direct3D 11 backend made, and
// lets a test choose what Present answers and see each picture as it is presented.
//
// A `swap_chain_catcher` installs the backend's swap-chain hook while it lives, so every swap
// chain a backend makes in that time is wrapped; the catcher keeps a reference on each wrapper.
#pragma once

#include <d3d11.h>
#include <dxgi.h>

#include <atomic>
#include <vector>

#include "d3d11_readback.h"

class fault_dxgi_swap_chain final : public IDXGISwapChain {
  public:
    // Takes over the caller's reference on `inner`; starts with a count of 1.
    explicit fault_dxgi_swap_chain(IDXGISwapChain* inner);
    fault_dxgi_swap_chain(const fault_dxgi_swap_chain&) = delete;
    fault_dxgi_swap_chain& operator=(const fault_dxgi_swap_chain&) = delete;

    IDXGISwapChain* inner() const { return inner_; }
    ULONG refcount() const { return refs_.load(); }
    DXGI_SWAP_CHAIN_DESC description() const;

    // Anything but S_OK is answered by Present without presenting.
    HRESULT present_result = S_OK;
    int present_calls = 0;
    // Buffer 0 as Present found it, on every call.
    texture_pixels last_presented;

    // Asked first by GetBuffer and GetDesc with the method's name; a failure code is answered
    // without calling the real swap chain. Process-wide; null asks nothing.
    static HRESULT (*fail_hook)(const char* method);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDXGIObject
    STDMETHODIMP SetPrivateData(REFGUID guid, UINT data_size, const void* data) override;
    STDMETHODIMP SetPrivateDataInterface(REFGUID guid, const IUnknown* object) override;
    STDMETHODIMP GetPrivateData(REFGUID guid, UINT* data_size, void* data) override;
    STDMETHODIMP GetParent(REFIID riid, void** parent) override;
    // IDXGIDeviceSubObject
    STDMETHODIMP GetDevice(REFIID riid, void** device) override;
    // IDXGISwapChain
    STDMETHODIMP Present(UINT sync_interval, UINT flags) override;
    STDMETHODIMP GetBuffer(UINT buffer_idx, REFIID riid, void** surface) override;
    STDMETHODIMP SetFullscreenState(WINBOOL fullscreen, IDXGIOutput* target) override;
    STDMETHODIMP GetFullscreenState(WINBOOL* fullscreen, IDXGIOutput** target) override;
    STDMETHODIMP GetDesc(DXGI_SWAP_CHAIN_DESC* desc) override;
    STDMETHODIMP ResizeBuffers(UINT buffer_count, UINT width, UINT height, DXGI_FORMAT format,
                               UINT flags) override;
    STDMETHODIMP ResizeTarget(const DXGI_MODE_DESC* target_mode_desc) override;
    STDMETHODIMP GetContainingOutput(IDXGIOutput** output) override;
    STDMETHODIMP GetFrameStatistics(DXGI_FRAME_STATISTICS* stats) override;
    STDMETHODIMP GetLastPresentCount(UINT* last_present_count) override;

  private:
    ~fault_dxgi_swap_chain();

    std::atomic<ULONG> refs_{1};
    IDXGISwapChain* inner_;
};

class swap_chain_catcher {
  public:
    swap_chain_catcher();
    ~swap_chain_catcher();
    swap_chain_catcher(const swap_chain_catcher&) = delete;
    swap_chain_catcher& operator=(const swap_chain_catcher&) = delete;

    // The wrappers in the order their swap chains were made.
    const std::vector<fault_dxgi_swap_chain*>& caught() const { return caught_; }
    fault_dxgi_swap_chain* last() const { return caught_.empty() ? nullptr : caught_.back(); }
    // Drops the catcher's references, so that swap chains the backend let go of are destroyed.
    void release_caught();

  private:
    static IDXGISwapChain* wrap(IDXGISwapChain* made);

    std::vector<fault_dxgi_swap_chain*> caught_;
};
