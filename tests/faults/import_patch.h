// Points one entry of this program's import address table at another function for as long as
// the object lives: every call the program's own code (the library may be linked in statically)
// makes to that import then reaches the replacement. Calls made inside other DLLs are not
// affected.
#pragma once

#include <windows.h>

class import_patch {
  public:
    // Patches the import `function` of `dll` (names compared without regard to case). ok() is
    // false when the program does not import it.
    import_patch(const char* dll, const char* function, void* replacement);
    ~import_patch();
    import_patch(const import_patch&) = delete;
    import_patch& operator=(const import_patch&) = delete;

    bool ok() const { return slot_ != nullptr; }
    // What the entry held before: the real function.
    void* original() const { return original_; }

  private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};
