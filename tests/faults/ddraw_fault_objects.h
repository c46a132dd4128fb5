// DirectDraw for the fault storms. While a `ddraw_interception` lives, the test program's
// import of DirectDrawCreate hands out a forwarding IDirectDraw; its IDirectDraw2 and the
// clippers made through it forward too. The calls the library makes on them, and the surface
// queries and surface calls of a `surface_wrapping`, are numbered by the storm's call plan and
// fail when it says so; every object is the real one behind its wrapper.
#pragma once

#include <windows.h>

#include <ddraw.h>

#include <string>

#include "ddraw_d3d11_storm.h"
#include "ddraw_fault_surface.h"

// The failure each watched call answers when it is made to fail.
HRESULT ddraw_failure_code(const std::string& call);

// Names of the watched calls, as the call plan records them.
namespace ddraw_calls {
constexpr char create[] = "DirectDrawCreate";
constexpr char query_ddraw2[] = "IDirectDraw::QueryInterface(IDirectDraw2)";
constexpr char probe_caps[] = "IDirectDraw::GetCaps";
constexpr char cooperative_level[] = "IDirectDraw2::SetCooperativeLevel";
constexpr char caps[] = "IDirectDraw2::GetCaps";
constexpr char create_surface[] = "IDirectDraw2::CreateSurface";
constexpr char create_clipper[] = "IDirectDraw2::CreateClipper";
constexpr char set_hwnd[] = "IDirectDrawClipper::SetHWnd";
constexpr char set_clipper[] = "IDirectDrawSurface2::SetClipper";
constexpr char pixel_format[] = "IDirectDrawSurface2::GetPixelFormat";
// The query of a new surface for IDirectDrawSurface2, with the surface's role.
std::string query_surface2(int role);
} // namespace ddraw_calls

class ddraw_interception {
  public:
    // Needs a `surface_wrapping` alive for as long as itself.
    explicit ddraw_interception(surface_wrapping& surfaces);
    ~ddraw_interception();
    ddraw_interception(const ddraw_interception&) = delete;
    ddraw_interception& operator=(const ddraw_interception&) = delete;

    bool ready() const { return patch_.ok(); }
    // DirectDraw objects and clippers handed out and not yet released.
    static int wrappers_alive();
    // While true, a failing GetDC of a surface is answered (the storms' per-frame fault);
    // GetDC is not numbered by the plan.
    static bool fail_get_dc;
    // While true, the driver's capabilities include blits from FOURCC (YUV) surfaces, which
    // Wine's do not.
    static bool report_blt_fourcc;

  private:
    import_patch patch_;
    surface_wrapping& surfaces_;
};
