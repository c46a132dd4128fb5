// Direct3D 9 objects made to ask the creation plan: the object the patched Direct3DCreate9Ex
// and Direct3DCreate9 hand to the library keeps its identity, but its CreateDevice and
// CreateDeviceEx ask the plan first, and the devices they make are given fault_device
// controls (whose creation calls ask the plan as well) and reported to a listener, which
// takes the controls over.
#pragma once

#include <windows.h>

#include <d3d9.h>

class fault_device;

class fault_d3d9 {
  public:
    using device_listener = void (*)(fault_device* device, void* context);

    // Replaces the object's creation methods; `listener` is called with every device made.
    static void wrap(IDirect3D9* d3d9, device_listener listener, void* context);
    // Objects so treated that their last holder has not yet released.
    static int alive();
};
