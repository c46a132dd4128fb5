#include "kx_vidrender.h"

#include <algorithm>
#include <climits>

#include <libyuv/convert.h>

#include "frame_input.h"
#include "interface_layout_checks.h"
#include "kx_vrender_impl.h"
#include "log_helper.h"

VR_LOG_SOURCE("..\\..\\..\\sources\\video_render\\kx_vrender_impl")

kx_vidrender::kx_vidrender() = default;
kx_vidrender::kx_vidrender(const kx_vidrender&)
{}
kx_vidrender::kx_vidrender(kx_vidrender&&)
{}

kx_vidrender& kx_vidrender::operator=(const kx_vidrender&)
{
    return *this;
}

kx_vidrender& kx_vidrender::operator=(kx_vidrender&&)
{
    return *this;
}

kx_vidrender* kx_vidrender::create_vrender(kx_pixel_fmt format)
{
    return new kx_vrender_impl(format);
}

void kx_vidrender::destroy_vrender(kx_vidrender* renderer)
{
    delete static_cast<kx_vrender_impl*>(renderer);
}

namespace {

// libyuv reads and writes whole chroma pairs, (width + 1) / 2 per row and (height + 1) / 2
// rows, so odd sizes reach a little past the 1.5 bytes per pixel of the size test. Returns
// whether the conversion stays inside both buffers.
bool nv12_conversion_fits(uint64_t width, uint64_t height, uint64_t src_length, uint64_t dst_length,
                          const frame_input::i420_layout& layout)
{
    const uint64_t area = width * height;
    const uint64_t chroma_rows = (height + 1) / 2;
    const uint64_t chroma_width = (width + 1) / 2;
    const uint64_t src_end = area + width * (chroma_rows - 1) + 2 * chroma_width;
    const uint64_t chroma_extent = layout.chroma_stride * (chroma_rows - 1) + chroma_width;
    const uint64_t dst_end = std::max<uint64_t>(layout.u_offset, layout.v_offset) + chroma_extent;
    return src_end <= src_length && dst_end <= dst_length;
}

} // namespace

bool kx_vidrender::yuvnv12_to_yuv420p(uint8_t* src, uint32_t src_length, uint32_t width,
                                      uint32_t height, uint8_t* dst, uint32_t& dst_length)
{
    const uint32_t area = width * height;
    const uint32_t need = area + area / 2;
    if (need > src_length || dst_length < need || !dst)
        return false;
    if (!src || width == 0 || height == 0)
        return false;
    // A size whose area does not fit 32 bits would make libyuv walk past both buffers.
    if (width > INT_MAX || height > INT_MAX ||
        static_cast<uint64_t>(width) * height != static_cast<uint64_t>(area)) {
        VR_LOG(vr_log::error, "yuvnv12_to_yuv420p picture size(%u*%u) too large!\n", width, height);
        return false;
    }
    const frame_input::i420_layout layout = frame_input::contiguous_i420(width, height);
    if (!nv12_conversion_fits(width, height, src_length, dst_length, layout)) {
        VR_LOG(vr_log::error,
               "yuvnv12_to_yuv420p picture size(%u*%u) overruns the buffers(%u, %u)!\n", width,
               height, src_length, dst_length);
        return false;
    }
    const int w = static_cast<int>(width);
    return libyuv::NV12ToI420(src, w, src + area, w, dst, w, dst + layout.u_offset,
                              static_cast<int>(layout.chroma_stride), dst + layout.v_offset,
                              static_cast<int>(layout.chroma_stride), w,
                              static_cast<int>(height)) == 0;
}

kx_vidrender* create_vrender(kx_pixel_fmt format)
{
    return kx_vidrender::create_vrender(format);
}

void destroy_vrender(kx_vidrender* renderer)
{
    kx_vidrender::destroy_vrender(renderer);
}

bool yuvnv12_to_yuv420p(uint8_t* src, uint32_t src_length, uint32_t width, uint32_t height,
                        uint8_t* dst, uint32_t& dst_length)
{
    return kx_vidrender::yuvnv12_to_yuv420p(src, src_length, width, height, dst, dst_length);
}
