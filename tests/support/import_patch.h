// Points one import of a loaded module (video_render.dll, say) at another function while the
// object lives: the module's calls of that import then reach the replacement, everyone else's
// the real function.
#pragma once

#include <windows.h>

class import_patch {
  public:
    // Patches `function` imported from `dll` (compared without regard to case) by `module`;
    // ok() is false when the module does not import it.
    import_patch(HMODULE module, const char* dll, const char* function, void* replacement);
    ~import_patch();
    import_patch(const import_patch&) = delete;
    import_patch& operator=(const import_patch&) = delete;

    bool ok() const { return slot_ != nullptr; }

  private:
    void** slot_ = nullptr;
};
