// Makes chosen calls of a real Direct3D 9 device fail, the device keeping its identity: it is
// given a private copy of its method table in which Present (on the device and on the swap
// chains it hands out), TestCooperativeLevel and the calls that hand out new objects are
// replaced; every other call goes straight to the device's own method.
//
// The injection controls are plain members and are not synchronised: set them before the calls
// they should affect, on the thread that makes those calls or while the renderer is idle.
#pragma once

#include <windows.h>

#include <d3d9.h>

#include <deque>
#include <functional>

class fault_device {
  public:
    // Replaces the device's methods and holds a reference on it until release(). The controls
    // start with no fault planned. A device is wrapped by one fault_device at a time.
    static fault_device* wrap(IDirect3DDevice9* device);
    // Gives the device its own methods back, drops the reference and deletes the controls.
    void release();

    fault_device(const fault_device&) = delete;
    fault_device& operator=(const fault_device&) = delete;

    IDirect3DDevice9* device() const { return device_; }
    // The device's reference count as it stands (the one held by these controls included).
    ULONG refcount() const;

    // Anything but S_OK is returned by Present, on the device and on its swap chains, without
    // presenting.
    HRESULT present_result = S_OK;
    // Device and swap-chain Present calls, the failed ones included.
    int present_calls = 0;
    // TestCooperativeLevel answers the front entry (and removes it); when empty, the device
    // answers.
    std::deque<HRESULT> cooperative_level_results;
    int test_cooperative_level_calls = 0;
    // Asked first by every call that hands out a new object (the Create... calls, Ex ones
    // included) and by GetSwapChain and GetBackBuffer, with the method's name; a failure code is
    // returned from the method as it is (the out pointer set to null) and the device is not
    // called.
    std::function<HRESULT(const char* method)> fail_hook;

  private:
    explicit fault_device(IDirect3DDevice9* device) : device_(device) {}
    ~fault_device() = default;

    IDirect3DDevice9* device_;
    const void* own_methods_ = nullptr;
};
