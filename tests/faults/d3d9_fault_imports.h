// Puts the storm between the library and the platform for as long as the object lives: the
// program's imports of Direct3DCreate9Ex and Direct3DCreate9 return the real objects treated
// by fault_d3d9 (whose devices get fault controls), and its imports of the D3DX creation
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

    // The controls of the devices made so far, oldest first; each holds its device once more,
    // so that the device's reference count tells whether anybody else still holds it.
    const std::vector<fault_device*>& devices() const { return devices_; }
    fault_device* newest_device() const { return devices_.empty() ? nullptr : devices_.back(); }
    // Devices that something besides this object still holds.
    int devices_held() const;
    // Lets go of the devices nobody else holds (they are destroyed, and with them the Direct3D
    // objects that made them), but for the newest one unless told otherwise.
    void drop_released_devices(bool keep_newest = true);

  private:
    static void on_device(fault_device* device, void* context);

    std::vector<std::unique_ptr<import_patch>> patches_;
    std::vector<fault_device*> devices_;
};
