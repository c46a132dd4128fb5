#include "kx_vrender_impl.h"

#include <d3d9.h>
#include <ddraw.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <functional>
#include <mutex>
#include <utility>

#include "backend_factory.h"
#include "ffmpeg_records.h"
#include "frame_input.h"
#include "log_helper.h"

VR_LOG_SOURCE("..\\..\\..\\sources\\video_render\\kx_vrender_impl")

namespace {

constexpr uint32_t max_window_side = 8192;
constexpr uint32_t region_units = 10000;
constexpr uint32_t opaque_black = 0xFF000000;
constexpr UINT d3d9_sdk_version = 32;

static_assert(sizeof(DDCAPS) == 380, "DirectDraw capability records are 380 bytes");

uint32_t round_up_to_multiple_of_4(uint32_t value)
{
    return (value + 3u) & ~3u;
}

void* result_as_pointer(HRESULT result)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(result)));
}

bool d3d9_usable()
{
    IDirect3D9Ex* d3d9 = nullptr;
    const HRESULT result = Direct3DCreate9Ex(d3d9_sdk_version, &d3d9);
    if (FAILED(result) || !d3d9) {
        VR_LOG(vr_log::error, "Check D3D9 Failed:%p\n", result_as_pointer(result));
        if (d3d9)
            d3d9->Release();
        return false;
    }
    D3DCAPS9 device_caps = {};
    const bool usable = SUCCEEDED(d3d9->GetDeviceCaps(0, D3DDEVTYPE_HAL, &device_caps));
    d3d9->Release();
    return usable;
}

bool ddraw_usable()
{
    IDirectDraw* ddraw = nullptr;
    if (FAILED(DirectDrawCreate(nullptr, &ddraw, nullptr)) || !ddraw)
        return false;
    DDCAPS driver_caps = {};
    driver_caps.dwSize = sizeof(DDCAPS);
    DDCAPS emulation_caps = {};
    emulation_caps.dwSize = sizeof(DDCAPS);
    const bool usable = SUCCEEDED(ddraw->GetCaps(&driver_caps, &emulation_caps));
    ddraw->Release();
    return usable;
}

// Sizes the front computes with; a picture of no area cannot be scaled or placed.
bool valid_picture_size(int width, int height)
{
    if (width > 0 && height > 0)
        return true;
    VR_LOG(vr_log::error, "invalid picture size(%d*%d), frame dropped!\n", width, height);
    return false;
}

// The bytes of a contiguous 4:2:0 picture that libyuv reads: chroma in whole pairs, (width + 1)
// / 2 by (height + 1) / 2 at the stride floor(width / 2), which for odd sizes reaches past the
// width x height x 3 / 2 bytes of the picture.
uint64_t contiguous_read_extent(uint64_t width, uint64_t height,
                                const frame_input::i420_layout& layout)
{
    const uint64_t chroma_width = (width + 1) / 2;
    const uint64_t chroma_rows = (height + 1) / 2;
    const uint64_t chroma_end = std::max<uint64_t>(layout.u_offset, layout.v_offset) +
                                layout.chroma_stride * (chroma_rows - 1) + chroma_width;
    return std::max<uint64_t>(width * height, chroma_end);
}

// The decoder's device behind a codec context, or null where the context names none.
const void* decoder_device_of(const AVCodecContext* context)
{
    if (!context || !context->hw_device_ctx)
        return nullptr;
    return context->hw_device_ctx->data;
}

// Renderers that draw a decoder's frames share the decoder's device, whose state (render
// target, scene, bound resources, for Direct3D 11 the immediate context) is one for all of
// them: the frames of one device, rebuilds included, are drawn one at a time. Each device
// has one of a fixed set of locks, so that a wall of decoders is not drawn in single file.
recursive_lock& decoder_device_mutex(const void* device)
{
    static std::array<recursive_lock, 31> mutexes;
    return mutexes[reinterpret_cast<uintptr_t>(device) / alignof(std::max_align_t) %
                   mutexes.size()];
}

// The device locks a call holds: that of the device its frames come from and, when the backend
// was built on another, that one too, for the rebuild lets go of the old device's objects. Two
// are taken in address order, so that renderers moving between the same two devices cannot
// each hold one and wait for the other.
class device_locks {
  public:
    device_locks() = default;
    device_locks(const void* built_on, const void* drawn_on)
    {
        recursive_lock* first = &decoder_device_mutex(drawn_on);
        recursive_lock* second = built_on ? &decoder_device_mutex(built_on) : first;
        if (std::less<recursive_lock*>()(second, first))
            std::swap(first, second);
        first_ = std::unique_lock<recursive_lock>(*first);
        if (second != first)
            second_ = std::unique_lock<recursive_lock>(*second);
    }

  private:
    std::unique_lock<recursive_lock> first_, second_;
};

} // namespace

int probe_render_caps()
{
    int caps = 0;
    try {
        if (d3d9_usable())
            return caps_d3d9;
        if (ddraw_usable())
            caps = caps_ddraw;
    } catch (...) {
        VR_LOG(vr_log::error, "DirectDrawCreate/Direct3DCreate9 exception!\n");
    }
    return caps;
}

kx_vrender_impl::kx_vrender_impl(kx_pixel_fmt format) : pixel_format_(format)
{}

kx_vrender_impl::~kx_vrender_impl()
{
    // A backend built on a decoder's device lets go of it while no other renderer draws there.
    device_locks locks;
    if (decoder_device_)
        locks = device_locks(decoder_device_, decoder_device_);
    render_mng_.reset();
}

int kx_vrender_impl::check_render_caps()
{
    return active_backend_seam().check_render_caps();
}

bool kx_vrender_impl::get_window_size(uint32_t& width, uint32_t& height)
{
    RECT rect;
    if (!GetWindowRect(window_, &rect))
        return false;
    const uint32_t w = static_cast<uint32_t>(rect.right - rect.left);
    const uint32_t h = static_cast<uint32_t>(rect.bottom - rect.top);
    if (w == 0 || h == 0 || w > max_window_side || h > max_window_side)
        return false;
    width = w;
    height = h;
    return true;
}

bool kx_vrender_impl::region_in_force() const
{
    return display_region_.enabled != 0 && display_region_.right != 0 &&
           display_region_.bottom != 0;
}

void kx_vrender_impl::replace_backend()
{
    const int kind = choose_backend(pixel_format_, caps_);
    if (kind == no_backend)
        return;
    std::unique_ptr<vrender_base> replaced = active_backend_seam().make_backend(kind);
    if (!replaced)
        return;
    // The new backend is installed before the one it replaces is destroyed.
    std::swap(render_mng_, replaced);
}

bool kx_vrender_impl::init_vrender(HWND window, int width, int height, AVCodecContext* codec_ctx)
{
    device_locks locks;
    if (frame_input::is_hardware_format(pixel_format_)) {
        locks = device_locks(decoder_device_, decoder_device_of(codec_ctx));
        decoder_device_ = decoder_device_of(codec_ctx);
    }
    caps_ = check_render_caps();
    replace_backend();
    if (!render_mng_) {
        VR_LOG(vr_log::error, "init_vrender erro of render_mng_ null!\n");
        return false;
    }
    AVCodecContext* context = frame_input::is_hardware_format(pixel_format_) ? codec_ctx : nullptr;

    backend_ready_ = false;
    window_ = window;
    uint32_t window_width = 0;
    uint32_t window_height = 0;
    if (!get_window_size(window_width, window_height)) {
        VR_LOG(vr_log::error, "init_vrender window %p has no usable size!\n",
               static_cast<void*>(window));
        window_ = nullptr;
        return false;
    }
    // Software frames arrive already scaled to the window, unless a region is shown.
    if (frame_input::is_software_format(pixel_format_) && !region_in_force()) {
        width = static_cast<int>(window_width);
        height = static_cast<int>(window_height);
    }
    const bool ok = render_mng_->init_render(window, width, height, static_cast<int>(window_width),
                                             static_cast<int>(window_height), context);
    note_rebuild(ok);
    if (ok) {
        window_ = window;
        codec_ctx_ = context;
        video_width_ = width;
        video_height_ = height;
        window_width_ = window_width;
        window_height_ = window_height;
    }
    return ok;
}

bool kx_vrender_impl::scale_to_window(const AVFrame& frame, int width, int height,
                                      uint32_t window_width, uint32_t window_height)
{
    uint32_t target_width = window_width;
    uint32_t target_height = window_height;
    if (render_mng_->render_type() == render_kind_ddraw) {
        target_width = round_up_to_multiple_of_4(target_width);
        target_height = round_up_to_multiple_of_4(target_height);
    }
    const size_t needed = static_cast<size_t>(target_width) * target_height * 7 / 4;
    if (scale_buffer_.size() < needed)
        scale_buffer_.resize(needed, 0);

    const frame_input::i420_layout layout =
        frame_input::contiguous_i420(target_width, target_height);
    uint8_t* base = scale_buffer_.data();
    scaled_planes_[0] = base;
    scaled_planes_[1] = base + layout.u_offset;
    scaled_planes_[2] = base + layout.v_offset;
    scaled_strides_[0] = static_cast<int>(layout.luma_stride);
    scaled_strides_[1] = static_cast<int>(layout.chroma_stride);
    scaled_strides_[2] = static_cast<int>(layout.chroma_stride);

    return libyuv::I420Scale(frame.data[0], frame.linesize[0], frame.data[1], frame.linesize[1],
                             frame.data[2], frame.linesize[2], width, height, scaled_planes_[0],
                             scaled_strides_[0], scaled_planes_[1], scaled_strides_[1],
                             scaled_planes_[2], scaled_strides_[2], static_cast<int>(target_width),
                             static_cast<int>(target_height), libyuv::kFilterBilinear) == 0;
}

bool kx_vrender_impl::rebuild_for_changes(int frame_format, int width, int height,
                                          uint32_t window_width, uint32_t window_height,
                                          AVCodecContext* codec_ctx)
{
    if (window_width_ != 0 && window_height_ != 0 &&
        (window_width != window_width_ || window_height != window_height_)) {
        if (!rebuild_due())
            return false;
        if (!_update_wnd_texture(video_width_, video_height_, window_width, window_height,
                                 codec_ctx)) {
            if (first_failure())
                VR_LOG(vr_log::error, "window size changed, update window texture error!\n");
            return false;
        }
        VR_LOG(vr_log::notice, "window size(%d*%d) changed ,update window texture!\n",
               static_cast<int>(window_width), static_cast<int>(window_height));
    }
    if (width != video_width_ || height != video_height_) {
        if (!rebuild_due())
            return false;
        if (!_update_wnd_texture(width, height, window_width, window_height, codec_ctx)) {
            if (first_failure())
                VR_LOG(vr_log::error, "video size changed, update window texture error!\n");
            return false;
        }
        VR_LOG(vr_log::notice, "video size(%d*%d) changed, update window texture!\n", width,
               height);
    }
    if (frame_format != pixel_format_) {
        if (!rebuild_due())
            return false;
        if (!_update_wnd_texture(width, height, window_width, window_height, codec_ctx)) {
            if (first_failure())
                VR_LOG(vr_log::error, "decode type changed, update window texture error!\n");
            return false;
        }
        VR_LOG(vr_log::notice, "decode type(%d) changed, update window texture!\n", frame_format);
    }
    // A backend on one decoder's device cannot draw another's surfaces: the frames of a new
    // decoder rebuild it on their device.
    const void* frame_device = decoder_device_of(codec_ctx);
    if (frame_device && frame_device != decoder_device_) {
        if (!rebuild_due())
            return false;
        if (!_update_wnd_texture(width, height, window_width, window_height, codec_ctx)) {
            if (first_failure())
                VR_LOG(vr_log::error, "decoder device changed, update window texture error!\n");
            return false;
        }
        VR_LOG(vr_log::notice, "decoder device changed, update window texture!\n");
    }
    return true;
}

void kx_vrender_impl::render_frame(AVFrame* frame, int width, int height)
{
    if (!render_mng_ || !frame)
        return;
    if (!valid_picture_size(width, height))
        return;
    reference_width_ = width;
    reference_height_ = height;
    color_class_ = frame_input::color_class_of(frame->colorspace);

    uint32_t window_width = 0;
    uint32_t window_height = 0;
    if (!get_window_size(window_width, window_height))
        return;

    const int format = frame->format;
    AVCodecContext* context = nullptr;
    picture shown = {frame->data, frame->linesize, width, height};
    device_locks locks;
    if (frame_input::is_hardware_format(format)) {
        context = static_cast<AVCodecContext*>(frame->opaque);
        locks = device_locks(decoder_device_, decoder_device_of(context));
        if (format == ffmpeg_ids::pix_fmt_d3d11)
            frame_input::mark_d3d11_frame(frame);
    } else if (frame_input::is_software_format(format)) {
        if (!region_in_force() &&
            scale_to_window(*frame, width, height, window_width, window_height)) {
            shown = {scaled_planes_, scaled_strides_, static_cast<int>(window_width),
                     static_cast<int>(window_height)};
        }
    } else {
        return;
    }

    if (!rebuild_for_changes(format, shown.width, shown.height, window_width, window_height,
                             context))
        return;
    // A backend whose initialisation failed draws nothing: build it again when that is due,
    // for what this frame needs (a decoder's frames may come from a new device by now).
    if (!backend_ready_ &&
        (!rebuild_due() ||
         !_update_wnd_texture(shown.width, shown.height, window_width, window_height, context)))
        return;
    if (!backend_reads(format)) {
        VR_LOG(vr_log::error,
               "frame of pixel format %d does not fit the backend(%d) of this renderer, frame "
               "dropped!\n",
               format, render_mng_->render_type());
        return;
    }
    _draw_frame(shown.planes, shown.strides, shown.width, shown.height);
}

bool kx_vrender_impl::backend_reads(int format) const
{
    const bool d3d11 = render_mng_->render_type() == render_kind_d3d11;
    // A Direct3D 11 frame carries a texture and a slice index: only that backend reads them.
    if (format == ffmpeg_ids::pix_fmt_d3d11)
        return d3d11;
    // Software planes are pixels: not for the Direct3D 11 backend, which takes planes[0] for a
    // texture, nor for a backend built on a decoder's device, which reads a surface from
    // planes[3]. Both come about when the renderer was made for one kind of frame and is
    // handed another of the same size, which does not rebuild.
    if (frame_input::is_software_format(format))
        return !d3d11 && !codec_ctx_;
    return true;
}

bool kx_vrender_impl::_update_wnd_texture(int video_width, int video_height, uint32_t window_width,
                                          uint32_t window_height, AVCodecContext* codec_ctx)
{
    if (!render_mng_) {
        VR_LOG(vr_log::error, "_update_wnd_texture render_mng_ nullptr\n");
        return false;
    }
    decoder_device_ = decoder_device_of(codec_ctx);
    replace_backend();
    const bool ok =
        render_mng_->init_render(window_, video_width, video_height, static_cast<int>(window_width),
                                 static_cast<int>(window_height), codec_ctx);
    render_mng_->set_image_adjust(image_adjust_);
    if (callback_)
        render_mng_->set_draw_callback(callback_, callback_value_, callback_pointer_);
    note_rebuild(ok);
    if (ok) {
        codec_ctx_ = codec_ctx;
        video_width_ = video_width;
        video_height_ = video_height;
        window_width_ = window_width;
        window_height_ = window_height;
    }
    return ok;
}

bool kx_vrender_impl::rebuild_due() const
{
    return pacing_.due(GetTickCount64());
}

void kx_vrender_impl::note_rebuild(bool ok)
{
    backend_ready_ = ok;
    if (ok) {
        const uint32_t failures = pacing_.succeeded();
        if (failures >= 2)
            VR_LOG(vr_log::notice, "backend rebuilt after %u failed attempts, drawing again\n",
                   failures);
        return;
    }
    pacing_.failed(GetTickCount64());
    if (pacing_.failures() == 2)
        VR_LOG(vr_log::error,
               "backend rebuild keeps failing, frames dropped, retrying every %u ms\n",
               static_cast<unsigned>(rebuild_pacing::retry_interval_ms));
}

RECT kx_vrender_impl::region_source_rect(int width, int height) const
{
    const uint32_t w = static_cast<uint32_t>(width);
    const uint32_t h = static_cast<uint32_t>(height);
    RECT source;
    source.left = static_cast<LONG>(static_cast<uint32_t>(display_region_.left) * w / region_units);
    source.right =
        static_cast<LONG>(static_cast<uint32_t>(display_region_.right) * w / region_units);
    source.top = static_cast<LONG>(static_cast<uint32_t>(display_region_.top) * h / region_units);
    source.bottom =
        static_cast<LONG>(static_cast<uint32_t>(display_region_.bottom) * h / region_units);
    return source;
}

void kx_vrender_impl::_draw_frame(uint8_t* const planes[], const int strides[], int width,
                                  int height)
{
    if (!render_mng_)
        return;
    const int state = render_mng_->check_device();
    if (state == device_lost) {
        if (!rebuild_due())
            return;
        VR_LOG(vr_log::notice, "handle lost and reset render object uuuuuuuuuuuuuuuuuuuuuuuuuuu\n");
        // A failed rebuild is retried by the frames that follow; this one is dropped.
        if (!_update_wnd_texture(video_width_, video_height_, window_width_, window_height_,
                                 codec_ctx_))
            return;
    } else if (state == device_not_ready || state == device_skip) {
        return;
    }

    vrender_base& backend = *render_mng_;
    uint8_t** plane_array = const_cast<uint8_t**>(planes);
    int* stride_array = const_cast<int*>(strides);
    backend.set_color_space(color_class_);

    if (region_in_force()) {
        RECT source = region_source_rect(width, height);
        RECT destination = {0, 0, static_cast<LONG>(window_width_),
                            static_cast<LONG>(window_height_)};
        backend.update_image(plane_array, stride_array, &source);
        backend.begin_render(true, opaque_black);
        if (pixel_format_ == kx_pix_fmt_dxva2_vld)
            backend.draw_image(plane_array, stride_array, nullptr, nullptr);
        else
            backend.draw_image(plane_array, stride_array, &destination, &source);

        const float sx = static_cast<float>(window_width_) / static_cast<float>(width);
        const float sy = static_cast<float>(window_height_) / static_cast<float>(height);
        RECT overlay_area = {static_cast<LONG>(static_cast<float>(source.left) * sx),
                             static_cast<LONG>(static_cast<float>(source.top) * sy),
                             static_cast<LONG>(static_cast<float>(source.right) * sx),
                             static_cast<LONG>(static_cast<float>(source.bottom) * sy)};
        std::lock_guard<recursive_lock> lock(mutex_);
        backend.draw_overlays(&overlay_list_, reference_width_, reference_height_, &overlay_area);
    } else {
        backend.update_image(plane_array, stride_array, nullptr);
        backend.begin_render(true, opaque_black);
        backend.draw_image(plane_array, stride_array, nullptr, nullptr);
        std::lock_guard<recursive_lock> lock(mutex_);
        backend.draw_overlays(&overlay_list_, reference_width_, reference_height_, nullptr);
    }
    backend.present(nullptr, nullptr);
}

void kx_vrender_impl::render_buffer(int pixel_format, uint8_t* buffer, uint32_t length, int width,
                                    int height)
{
    if (!buffer || length == 0 || width == 0 || height == 0)
        return;
    if (!frame_input::is_software_format(pixel_format))
        return;
    if (!valid_picture_size(width, height))
        return;

    const frame_input::i420_layout layout =
        frame_input::contiguous_i420(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
    // An odd-sized picture is read a little past its width x height x 3 / 2 bytes; unless the
    // caller's length covers that, draw a copy padded with zeros (the buffer's own bytes are
    // what they were).
    const uint64_t picture_bytes =
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3 / 2;
    const uint64_t extent =
        contiguous_read_extent(static_cast<uint64_t>(width), static_cast<uint64_t>(height), layout);
    if (extent > picture_bytes && extent > length) {
        padded_buffer_.assign(static_cast<size_t>(extent), 0);
        const uint64_t copied = std::max<uint64_t>(picture_bytes, length);
        std::memcpy(padded_buffer_.data(), buffer, static_cast<size_t>(copied));
        buffer = padded_buffer_.data();
    }
    AVFrame frame = {};
    frame.format = pixel_format;
    frame.colorspace = 0;
    frame.data[0] = buffer;
    frame.data[1] = buffer + layout.u_offset;
    frame.data[2] = buffer + layout.v_offset;
    frame.linesize[0] = width;
    frame.linesize[1] = width / 2;
    frame.linesize[2] = width / 2;
    render_frame(&frame, width, height);
}

void kx_vrender_impl::set_overlay_list(const std::list<overlay_group>& groups)
{
    std::lock_guard<recursive_lock> lock(mutex_);
    if (&groups != &overlay_list_)
        overlay_list_ = groups;
}

void kx_vrender_impl::set_display_region(const display_region* region)
{
    if (!region) {
        VR_LOG(vr_log::error, "set_display_region region is nullptr!\n");
        return;
    }
    std::lock_guard<recursive_lock> lock(mutex_);
    display_region_ = *region;
}

bool kx_vrender_impl::get_overlay_rect(int id, overlay_rect* out)
{
    if (!render_mng_)
        return false;
    if (!out) {
        VR_LOG(vr_log::error, "get_overlay_rect out is nullptr!\n");
        return false;
    }
    out->window_width = static_cast<int32_t>(window_width_);
    out->window_height = static_cast<int32_t>(window_height_);

    // Laying the group out draws with the backend's overlay renderer, on the decoder's device
    // when the backend borrows it.
    device_locks locks;
    if (decoder_device_)
        locks = device_locks(decoder_device_, decoder_device_);
    std::lock_guard<recursive_lock> lock(mutex_);
    auto found = overlay_list_.begin();
    while (found != overlay_list_.end() && (found->id != id || found->entries.empty()))
        ++found;
    if (found == overlay_list_.end())
        return false;

    // Lay out a copy: the backend writes the laid-out corner into its points.
    std::list<overlay_group> laid_out(1, *found);
    render_mng_->draw_overlays(&laid_out, reference_width_, reference_height_, nullptr);
    const std::vector<overlay_point>& points = laid_out.front().entries[0].points;
    if (points.size() < 2)
        return false;

    const uint32_t bx = points[0].ref_w ? points[0].ref_w : region_units;
    const uint32_t by = points[0].ref_h ? points[0].ref_h : region_units;
    out->left = static_cast<int32_t>(points[0].x * window_width_ / bx);
    out->right = static_cast<int32_t>(points[1].x * window_width_ / bx);
    out->top = static_cast<int32_t>(points[0].y * window_height_ / by);
    out->bottom = static_cast<int32_t>(points[1].y * window_height_ / by);
    return true;
}

bool kx_vrender_impl::set_image_adjust(const int values[4])
{
    if (!render_mng_)
        return false;
    if (!values) {
        VR_LOG(vr_log::error, "set_image_adjust values is nullptr!\n");
        return false;
    }
    for (int i = 0; i < 4; ++i)
        image_adjust_[i] = values[i];
    return render_mng_->set_image_adjust(image_adjust_);
}

void kx_vrender_impl::set_draw_callback(kx_draw_callback callback, int user_value,
                                        void* user_pointer)
{
    if (!render_mng_)
        return;
    callback_ = callback;
    callback_value_ = user_value;
    callback_pointer_ = user_pointer;
    render_mng_->set_draw_callback(callback, user_value, user_pointer);
}
