// Puts the storm between the library and the platform for as long as the object lives: the
// program's imports of Direct3DCreate9Ex and Direct3DCreate9 return the real objects wrapped
// in fault_d3d9 (which hands out fault devices), and its imports of the D3DX creation
// functions ask the creation plan first and name the device calls they make. Every one of
// them asks creation_plan() before it makes the real call.
#pragma once

#include <memory>
#include <vector>

#include "import_patch.h"

class fault_device;

class d3d9_import_faults {
  public:
    d3d9_import_faults();
    ~d3d9_import_faults();
    d3d9_import_faults(const d3d9_import_faults&) = delete;
    d3d9_import_faults& operator=(const d3d9_import_faults&) = delete;

    // Whether every import was found and patched.
    bool ok() const;

    // Devices handed out so far, oldest first; each is held once more by this object, so that
    // its reference count tells whether anybody else still holds it.
    const std::vector<fault_device*>& devices() const { return devices_; }
    fault_device* newest_device() const { return devices_.empty() ? nullptr : devices_.back(); }
    // Devices that something besides this object still holds.
    int devices_held() const;
    // Lets go of the devices nobody else holds (they are destroyed), keeping the newest.
    void drop_released_devices();

  private:
    static void on_device(fault_device* device, void* context);

    std::vector<std::unique_ptr<import_patch>> patches_;
    std::vector<fault_device*> devices_;
};
