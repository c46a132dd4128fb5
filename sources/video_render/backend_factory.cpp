#include "backend_factory.h"

#include <atomic>

#include "d3d11_render/d3d11_manager.h"
#include "d3dx9_render/d3d9_manager.h"
#include "ddraw_render/ddraw_manager.h"

namespace {

const backend_seam platform_seam = {probe_render_caps, make_platform_backend};
std::atomic<const backend_seam*> installed_seam{&platform_seam};

} // namespace

int choose_backend(int pixel_format, int caps)
{
    if (pixel_format == 53)
        return render_kind_d3d9;
    if (pixel_format == 174)
        return render_kind_d3d11;
    if (caps & caps_d3d9)
        return render_kind_d3d9;
    if (caps & caps_ddraw)
        return render_kind_ddraw;
    return no_backend;
}

std::unique_ptr<vrender_base> make_platform_backend(int kind)
{
    switch (kind) {
    case render_kind_d3d9:
        return std::make_unique<d3d9_manager>();
    case render_kind_d3d11:
        return std::make_unique<d3d11_manager>();
    case render_kind_ddraw:
        return std::make_unique<ddraw_manager>();
    default:
        return nullptr;
    }
}

const backend_seam& active_backend_seam()
{
    return *installed_seam.load();
}

void install_backend_seam(const backend_seam* seam)
{
    installed_seam.store(seam ? seam : &platform_seam);
}
