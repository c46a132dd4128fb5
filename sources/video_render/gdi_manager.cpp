#include "gdi_manager.h"

#include <mutex>

#include "log_helper.h"

VR_LOG_SOURCE("..\\..\\..\\sources\\video_render\\gdi_mytext")

namespace {

// Built when the library loads, so that concurrent first uses start GDI+ only once.
std::mutex instance_mutex;
gdi_manager* instance = nullptr;

} // namespace

gdi_manager* gdi_manager::get_instance()
{
    std::lock_guard<std::mutex> lock(instance_mutex);
    if (!instance)
        instance = new gdi_manager();
    return instance;
}

gdi_manager::gdi_manager()
{
    // Version 1, no debug hook, GDI+'s own background thread and external codecs allowed.
    const Gdiplus::GdiplusStartupInput input;
    startup_status_ = static_cast<int>(Gdiplus::GdiplusStartup(&token_, &input, nullptr));
    // A failed start is only reported: texts then fail one by one, outlines still draw.
    if (startup_status_ != 0)
        VR_LOG(vr_log::error, "%s GdiplusStartup error(%d)!\n", "gdi_manager::gdi_manager",
               startup_status_);
}
