// FFmpeg 4.4 records as video_render sees them.
//
// The renderer reads frames and codec contexts that the caller's FFmpeg 4.x decoder filled in
// (libavutil 56, libavcodec 58), but it calls no FFmpeg function and does not ship FFmpeg's
// headers. This file declares our own copies of the few records we touch, laid out exactly like
// FFmpeg 4.4 (4.4.0 to 4.4.3) on i686 and x86_64 Windows. ffmpeg_layout_checks.h proves every
// offset and size we rely on.
//
// The records keep FFmpeg's names, in the global namespace and in FFmpeg's
// `typedef struct X {...} X;` form, so that exported signatures such as
// `render_frame(AVFrame*, ...)` and `init_vrender(..., AVCodecContext*)` mangle and link the same
// whether the caller compiled them against these declarations or against the real headers.
//
// Include order: a caller that uses the real FFmpeg headers must include them BEFORE this file.
// Each record below is skipped when the include guard of the FFmpeg header that defines it is
// already set. Included the other way round, FFmpeg's headers would define the same records a
// second time and the build fails with redefinition errors.
//
// FFmpeg types we never look into (AVClass, AVCodec, AVDictionary, AVBuffer, ...) are `void*`
// here. Fields whose FFmpeg type is an enum are `int`: every FFmpeg enum is 4 bytes on both
// targets. The function-pointer fields have no explicit calling convention, as in FFmpeg, so on
// i686 they are the default __cdecl.
//
// On i686 the Microsoft ABI aligns 64-bit integers to 8 inside structs, which leaves holes in
// AVFrame and AVCodecContext; declaring the fields with their natural types reproduces them.
//
// Where the picture lives in a hardware frame:
//   pix_fmt_dxva2_vld : data[3] is the IDirect3DSurface9*.
//   pix_fmt_d3d11     : data[0] is the ID3D11Texture2D*, data[1] the array slice (intptr_t).

#ifndef VIDEO_RENDER_FFMPEG_RECORDS_H
#define VIDEO_RENDER_FFMPEG_RECORDS_H

#include <cstddef>
#include <cstdint>

// COM interfaces referenced by pointer only. Plain forward declarations agree with the Windows
// SDK and mingw-w64 headers, whichever is included first.
struct ID3D11Device;
struct ID3D11DeviceContext;
struct ID3D11VideoDevice;
struct ID3D11VideoContext;
struct ID3D11Texture2D;
struct IDirect3D9;
struct IDirect3DDevice9;

// FFmpeg enumeration values we use. FFmpeg's own names (AV_PIX_FMT_*, AVCOL_SPC_*, ...) are left
// alone because a caller may have included the real headers too.
namespace ffmpeg_ids {

// AV_NUM_DATA_POINTERS
constexpr int num_data_pointers = 8;

// enum AVPixelFormat
constexpr int pix_fmt_none = -1;
constexpr int pix_fmt_yuv420p = 0;
constexpr int pix_fmt_yuvj420p = 12;
constexpr int pix_fmt_nv12 = 23;
constexpr int pix_fmt_dxva2_vld = 53;
constexpr int pix_fmt_d3d11 = 174;

// enum AVColorSpace
constexpr int colorspace_bt709 = 1;
constexpr int colorspace_bt2020_ncl = 9;
constexpr int colorspace_bt2020_cl = 10;

// enum AVHWDeviceType
constexpr int hwdevice_dxva2 = 4;
constexpr int hwdevice_d3d11va = 7;

} // namespace ffmpeg_ids

// libavutil/rational.h
#ifndef AVUTIL_RATIONAL_H
#define VIDEO_RENDER_OWN_AVRATIONAL
typedef struct AVRational {
    int num;
    int den;
} AVRational;
#endif

// libavutil/buffer.h
#ifndef AVUTIL_BUFFER_H
#define VIDEO_RENDER_OWN_AVBUFFERREF
typedef struct AVBufferRef {
    void* buffer; // AVBuffer*
    std::uint8_t* data;
    int size; // int until libavutil 57
} AVBufferRef;
#endif

// libavutil/frame.h
#ifndef AVUTIL_FRAME_H
#define VIDEO_RENDER_OWN_AVFRAME
typedef struct AVFrame {
    std::uint8_t* data[ffmpeg_ids::num_data_pointers];
    int linesize[ffmpeg_ids::num_data_pointers];
    std::uint8_t** extended_data;
    int width;
    int height;
    int nb_samples;
    int format; // AVPixelFormat for video
    int key_frame;
    int pict_type; // AVPictureType
    AVRational sample_aspect_ratio;
    std::int64_t pts;
    std::int64_t pkt_pts;
    std::int64_t pkt_dts;
    int coded_picture_number;
    int display_picture_number;
    int quality;
    void* opaque;
    std::uint64_t error[ffmpeg_ids::num_data_pointers];
    int repeat_pict;
    int interlaced_frame;
    int top_field_first;
    int palette_has_changed;
    std::int64_t reordered_opaque;
    int sample_rate;
    std::uint64_t channel_layout;
    AVBufferRef* buf[ffmpeg_ids::num_data_pointers];
    AVBufferRef** extended_buf;
    int nb_extended_buf;
    void** side_data; // AVFrameSideData**
    int nb_side_data;
    int flags;
    int color_range;     // AVColorRange
    int color_primaries; // AVColorPrimaries
    int color_trc;       // AVColorTransferCharacteristic
    int colorspace;      // AVColorSpace
    int chroma_location; // AVChromaLocation
    std::int64_t best_effort_timestamp;
    std::int64_t pkt_pos;
    std::int64_t pkt_duration;
    void* metadata; // AVDictionary*
    int decode_error_flags;
    int channels;
    int pkt_size;
    std::int8_t* qscale_table;
    int qstride;
    int qscale_type;
    AVBufferRef* qp_table_buf;
    AVBufferRef* hw_frames_ctx;
    AVBufferRef* opaque_ref;
    std::size_t crop_top;
    std::size_t crop_bottom;
    std::size_t crop_left;
    std::size_t crop_right;
    AVBufferRef* private_ref;
} AVFrame;
#endif

// libavcodec/avcodec.h
//
// Only some fields of AVCodecContext are declared; the stretches in between are opaque bytes
// whose length depends on the target. The gaps are named after the field they follow.
#ifndef AVCODEC_AVCODEC_H
#define VIDEO_RENDER_OWN_AVCODECCONTEXT
namespace ffmpeg_records_detail {
#if defined(_WIN64)
constexpr std::size_t codec_gap_after_bit_rate = 52;        // 64..115
constexpr std::size_t codec_gap_after_get_format = 212;     // 160..371
constexpr std::size_t codec_gap_after_color_range = 68;     // 388..455
constexpr std::size_t codec_gap_after_get_buffer2 = 200;    // 464..663
constexpr std::size_t codec_gap_after_hwaccel_context = 96; // 688..783
constexpr std::size_t codec_gap_after_thread_count = 92;    // 788..879
constexpr std::size_t codec_gap_after_sw_pix_fmt = 124;     // 884..1007
constexpr std::size_t codec_gap_after_hw_frames_ctx = 16;   // 1016..1031
constexpr std::size_t codec_gap_after_hwaccel_flags = 4;    // 1044..1047
constexpr std::size_t codec_gap_after_extra_hw_frames = 28; // 1052..1079
#else
constexpr std::size_t codec_gap_after_bit_rate = 44;        // 48..91
constexpr std::size_t codec_gap_after_get_format = 192;     // 124..315
constexpr std::size_t codec_gap_after_color_range = 68;     // 332..399
constexpr std::size_t codec_gap_after_get_buffer2 = 180;    // 404..583
constexpr std::size_t codec_gap_after_hwaccel_context = 88; // 600..687
constexpr std::size_t codec_gap_after_thread_count = 76;    // 692..767
constexpr std::size_t codec_gap_after_sw_pix_fmt = 88;      // 772..859
constexpr std::size_t codec_gap_after_hw_frames_ctx = 16;   // 864..879
constexpr std::size_t codec_gap_after_hwaccel_flags = 4;    // 888..891
constexpr std::size_t codec_gap_after_extra_hw_frames = 24; // 896..919
#endif
} // namespace ffmpeg_records_detail

typedef struct AVCodecContext {
    const void* av_class; // const AVClass*
    int log_level_offset;
    int codec_type;    // AVMediaType
    const void* codec; // const AVCodec*
    int codec_id;      // AVCodecID
    unsigned int codec_tag;
    void* priv_data;
    void* internal; // AVCodecInternal*
    void* opaque;
    std::int64_t bit_rate;
    unsigned char gap_after_bit_rate[ffmpeg_records_detail::codec_gap_after_bit_rate];
    int width;
    int height;
    int coded_width;
    int coded_height;
    int gop_size;
    int pix_fmt; // AVPixelFormat
    void (*draw_horiz_band)(AVCodecContext* s, const AVFrame* src,
                            int offset[ffmpeg_ids::num_data_pointers], int y, int type, int height);
    int (*get_format)(AVCodecContext* s, const int* fmt); // returns an AVPixelFormat
    unsigned char gap_after_get_format[ffmpeg_records_detail::codec_gap_after_get_format];
    int color_primaries; // AVColorPrimaries
    int color_trc;       // AVColorTransferCharacteristic
    int colorspace;      // AVColorSpace
    int color_range;     // AVColorRange
    unsigned char gap_after_color_range[ffmpeg_records_detail::codec_gap_after_color_range];
    int (*get_buffer2)(AVCodecContext* s, AVFrame* frame, int flags);
    unsigned char gap_after_get_buffer2[ffmpeg_records_detail::codec_gap_after_get_buffer2];
    std::int64_t reordered_opaque;
    const void* hwaccel; // const AVHWAccel*
    void* hwaccel_context;
    unsigned char gap_after_hwaccel_context[ffmpeg_records_detail::codec_gap_after_hwaccel_context];
    int thread_count;
    unsigned char gap_after_thread_count[ffmpeg_records_detail::codec_gap_after_thread_count];
    int sw_pix_fmt; // AVPixelFormat
    unsigned char gap_after_sw_pix_fmt[ffmpeg_records_detail::codec_gap_after_sw_pix_fmt];
    AVBufferRef* hw_frames_ctx;
    unsigned char gap_after_hw_frames_ctx[ffmpeg_records_detail::codec_gap_after_hw_frames_ctx];
    AVBufferRef* hw_device_ctx;
    int hwaccel_flags;
    unsigned char gap_after_hwaccel_flags[ffmpeg_records_detail::codec_gap_after_hwaccel_flags];
    int extra_hw_frames;
    unsigned char gap_after_extra_hw_frames[ffmpeg_records_detail::codec_gap_after_extra_hw_frames];
} AVCodecContext;
#endif

// libavutil/hwcontext.h
#ifndef AVUTIL_HWCONTEXT_H
#define VIDEO_RENDER_OWN_AVHWCONTEXT
typedef struct AVHWDeviceContext {
    const void* av_class; // const AVClass*
    void* internal;       // AVHWDeviceInternal*
    int type;             // AVHWDeviceType
    void* hwctx;          // AVD3D11VADeviceContext* or AVDXVA2DeviceContext*
    void (*free)(AVHWDeviceContext* ctx);
    void* user_opaque; // dxva2_device_priv* for a DXVA2 device made by FFmpeg
} AVHWDeviceContext;

typedef struct AVHWFramesContext {
    const void* av_class; // const AVClass*
    void* internal;       // AVHWFramesInternal*
    AVBufferRef* device_ref;
    AVHWDeviceContext* device_ctx;
    void* hwctx; // AVD3D11VAFramesContext* or AVDXVA2FramesContext*
    void (*free)(AVHWFramesContext* ctx);
    void* user_opaque;
    void* pool; // AVBufferPool*
    int initial_pool_size;
    int format;    // AVPixelFormat
    int sw_format; // AVPixelFormat
    int width;
    int height;
} AVHWFramesContext;
#endif

// libavutil/hwcontext_d3d11va.h
#ifndef AVUTIL_HWCONTEXT_D3D11VA_H
#define VIDEO_RENDER_OWN_AVD3D11VACONTEXT
typedef struct AVD3D11VADeviceContext {
    ID3D11Device* device;
    ID3D11DeviceContext* device_context;
    ID3D11VideoDevice* video_device;
    ID3D11VideoContext* video_context;
    // FFmpeg installs its own mutex-based pair, with lock_ctx a mutex HANDLE, when these are
    // left null at init.
    void (*lock)(void* lock_ctx);
    void (*unlock)(void* lock_ctx);
    void* lock_ctx;
} AVD3D11VADeviceContext;

typedef struct AVD3D11VAFramesContext {
    ID3D11Texture2D* texture;
    unsigned int BindFlags; // UINT
    unsigned int MiscFlags; // UINT
} AVD3D11VAFramesContext;
#endif

// The private record that FFmpeg's DXVA2 device creation (libavutil/hwcontext_dxva2.c) stores in
// AVHWDeviceContext::user_opaque. No public header declares it, so it is always ours. When the
// D3D9Ex path succeeded the two interface pointers really are IDirect3D9Ex* and
// IDirect3DDevice9Ex*, stored as their base interfaces. device_handle stays INVALID_HANDLE_VALUE
// until the device manager's OpenDeviceHandle has run.
struct dxva2_device_priv {
    void* d3dlib;        // HMODULE of d3d9.dll
    void* dxva2lib;      // HMODULE of dxva2.dll
    void* device_handle; // HANDLE
    IDirect3D9* d3d9;
    IDirect3DDevice9* d3d9device;
};

#endif // VIDEO_RENDER_FFMPEG_RECORDS_H
