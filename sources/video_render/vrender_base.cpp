#include "vrender_base.h"

vrender_base::vrender_base() = default;

vrender_base::~vrender_base() = default;

bool vrender_base::draw_overlays(std::list<overlay_group>*, int, int, RECT*)
{
    return true;
}

int vrender_base::check_device()
{
    return device_ready;
}

void vrender_base::set_draw_callback(kx_draw_callback callback, int user_value, void* user_pointer)
{
    std::lock_guard<recursive_lock> lock(callback_mutex_);
    if (!callback) {
        draw_callback_ = nullptr;
        return;
    }
    draw_callback_ = [callback, user_value, user_pointer](void* context) {
        callback(context, user_value, user_pointer);
    };
}

void vrender_base::invoke_draw_callback(void* context)
{
    std::lock_guard<recursive_lock> lock(callback_mutex_);
    if (draw_callback_)
        draw_callback_(context);
}

bool vrender_base::has_draw_callback()
{
    std::lock_guard<recursive_lock> lock(callback_mutex_);
    return static_cast<bool>(draw_callback_);
}
