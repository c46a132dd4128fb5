// The GDI+ run time of the process. The first overlay renderer that needs GDI+ starts it
// through get_instance(); it stays up until the process ends and is never shut down.
#pragma once

#include <windows.h>

#include <objidl.h>

#include <algorithm>

// The GDI+ headers call min and max unqualified, which NOMINMAX keeps out of windows.h.
namespace Gdiplus {
using std::max;
using std::min;
} // namespace Gdiplus

#include <gdiplus.h>

class gdi_manager {
  public:
    // The one instance, made (and GDI+ started) on the first call; safe from any thread.
    static gdi_manager* get_instance();

    gdi_manager(const gdi_manager&) = delete;
    gdi_manager& operator=(const gdi_manager&) = delete;

    // What GdiplusStartup returned (0 when GDI+ runs).
    int startup_status() const { return startup_status_; }

  private:
    gdi_manager();
    ~gdi_manager() = default;

    ULONG_PTR token_ = 0;
    int startup_status_ = 0;
};
