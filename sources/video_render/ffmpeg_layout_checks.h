// Compile-time proof that the records in ffmpeg_records.h match FFmpeg 4.4 on both targets.
//
// The numbers are those of the FFmpeg 4.4 release headers built with the mingw-w64 compilers for
// i686 and x86_64 (Microsoft ABI: 64-bit integers 8-aligned inside structs on i686 too). A record
// that the caller took from the real FFmpeg headers is not ours and is not checked here.
// Include this from one source file of the library.

#ifndef VIDEO_RENDER_FFMPEG_LAYOUT_CHECKS_H
#define VIDEO_RENDER_FFMPEG_LAYOUT_CHECKS_H

#include "ffmpeg_records.h"

#include <cstddef>
#include <type_traits>

#if !defined(_WIN32)
#error "the FFmpeg record layouts are only known for Windows targets"
#endif

#if defined(VIDEO_RENDER_OWN_AVRATIONAL)
static_assert(std::is_standard_layout_v<AVRational>);
static_assert(std::is_trivially_copyable_v<AVRational>);
static_assert(sizeof(AVRational) == 8);
static_assert(offsetof(AVRational, num) == 0);
static_assert(offsetof(AVRational, den) == 4);
#endif

#if defined(VIDEO_RENDER_OWN_AVBUFFERREF)
static_assert(std::is_standard_layout_v<AVBufferRef>);
static_assert(std::is_trivially_copyable_v<AVBufferRef>);
#if defined(_WIN64)
static_assert(sizeof(AVBufferRef) == 24);
static_assert(offsetof(AVBufferRef, buffer) == 0);
static_assert(offsetof(AVBufferRef, data) == 8);
static_assert(offsetof(AVBufferRef, size) == 16);
#else
static_assert(sizeof(AVBufferRef) == 12);
static_assert(offsetof(AVBufferRef, buffer) == 0);
static_assert(offsetof(AVBufferRef, data) == 4);
static_assert(offsetof(AVBufferRef, size) == 8);
#endif
#endif

#if defined(VIDEO_RENDER_OWN_AVFRAME)
static_assert(std::is_standard_layout_v<AVFrame>);
static_assert(std::is_trivially_copyable_v<AVFrame>);
static_assert(alignof(AVFrame) == 8);
#if defined(_WIN64)
static_assert(sizeof(AVFrame) == 536);
static_assert(offsetof(AVFrame, data) == 0);
static_assert(offsetof(AVFrame, linesize) == 64);
static_assert(offsetof(AVFrame, extended_data) == 96);
static_assert(offsetof(AVFrame, width) == 104);
static_assert(offsetof(AVFrame, height) == 108);
static_assert(offsetof(AVFrame, nb_samples) == 112);
static_assert(offsetof(AVFrame, format) == 116);
static_assert(offsetof(AVFrame, key_frame) == 120);
static_assert(offsetof(AVFrame, pict_type) == 124);
static_assert(offsetof(AVFrame, sample_aspect_ratio) == 128);
static_assert(offsetof(AVFrame, pts) == 136);
static_assert(offsetof(AVFrame, pkt_pts) == 144);
static_assert(offsetof(AVFrame, pkt_dts) == 152);
static_assert(offsetof(AVFrame, coded_picture_number) == 160);
static_assert(offsetof(AVFrame, display_picture_number) == 164);
static_assert(offsetof(AVFrame, quality) == 168);
static_assert(offsetof(AVFrame, opaque) == 176);
static_assert(offsetof(AVFrame, error) == 184);
static_assert(offsetof(AVFrame, repeat_pict) == 248);
static_assert(offsetof(AVFrame, interlaced_frame) == 252);
static_assert(offsetof(AVFrame, top_field_first) == 256);
static_assert(offsetof(AVFrame, palette_has_changed) == 260);
static_assert(offsetof(AVFrame, reordered_opaque) == 264);
static_assert(offsetof(AVFrame, sample_rate) == 272);
static_assert(offsetof(AVFrame, channel_layout) == 280);
static_assert(offsetof(AVFrame, buf) == 288);
static_assert(offsetof(AVFrame, extended_buf) == 352);
static_assert(offsetof(AVFrame, nb_extended_buf) == 360);
static_assert(offsetof(AVFrame, side_data) == 368);
static_assert(offsetof(AVFrame, nb_side_data) == 376);
static_assert(offsetof(AVFrame, flags) == 380);
static_assert(offsetof(AVFrame, color_range) == 384);
static_assert(offsetof(AVFrame, color_primaries) == 388);
static_assert(offsetof(AVFrame, color_trc) == 392);
static_assert(offsetof(AVFrame, colorspace) == 396);
static_assert(offsetof(AVFrame, chroma_location) == 400);
static_assert(offsetof(AVFrame, best_effort_timestamp) == 408);
static_assert(offsetof(AVFrame, pkt_pos) == 416);
static_assert(offsetof(AVFrame, pkt_duration) == 424);
static_assert(offsetof(AVFrame, metadata) == 432);
static_assert(offsetof(AVFrame, decode_error_flags) == 440);
static_assert(offsetof(AVFrame, channels) == 444);
static_assert(offsetof(AVFrame, pkt_size) == 448);
static_assert(offsetof(AVFrame, qscale_table) == 456);
static_assert(offsetof(AVFrame, qstride) == 464);
static_assert(offsetof(AVFrame, qscale_type) == 468);
static_assert(offsetof(AVFrame, qp_table_buf) == 472);
static_assert(offsetof(AVFrame, hw_frames_ctx) == 480);
static_assert(offsetof(AVFrame, opaque_ref) == 488);
static_assert(offsetof(AVFrame, crop_top) == 496);
static_assert(offsetof(AVFrame, crop_bottom) == 504);
static_assert(offsetof(AVFrame, crop_left) == 512);
static_assert(offsetof(AVFrame, crop_right) == 520);
static_assert(offsetof(AVFrame, private_ref) == 528);
#else
static_assert(sizeof(AVFrame) == 408);
static_assert(offsetof(AVFrame, data) == 0);
static_assert(offsetof(AVFrame, linesize) == 32);
static_assert(offsetof(AVFrame, extended_data) == 64);
static_assert(offsetof(AVFrame, width) == 68);
static_assert(offsetof(AVFrame, height) == 72);
static_assert(offsetof(AVFrame, nb_samples) == 76);
static_assert(offsetof(AVFrame, format) == 80);
static_assert(offsetof(AVFrame, key_frame) == 84);
static_assert(offsetof(AVFrame, pict_type) == 88);
static_assert(offsetof(AVFrame, sample_aspect_ratio) == 92);
static_assert(offsetof(AVFrame, pts) == 104);
static_assert(offsetof(AVFrame, pkt_pts) == 112);
static_assert(offsetof(AVFrame, pkt_dts) == 120);
static_assert(offsetof(AVFrame, coded_picture_number) == 128);
static_assert(offsetof(AVFrame, display_picture_number) == 132);
static_assert(offsetof(AVFrame, quality) == 136);
static_assert(offsetof(AVFrame, opaque) == 140);
static_assert(offsetof(AVFrame, error) == 144);
static_assert(offsetof(AVFrame, repeat_pict) == 208);
static_assert(offsetof(AVFrame, interlaced_frame) == 212);
static_assert(offsetof(AVFrame, top_field_first) == 216);
static_assert(offsetof(AVFrame, palette_has_changed) == 220);
static_assert(offsetof(AVFrame, reordered_opaque) == 224);
static_assert(offsetof(AVFrame, sample_rate) == 232);
static_assert(offsetof(AVFrame, channel_layout) == 240);
static_assert(offsetof(AVFrame, buf) == 248);
static_assert(offsetof(AVFrame, extended_buf) == 280);
static_assert(offsetof(AVFrame, nb_extended_buf) == 284);
static_assert(offsetof(AVFrame, side_data) == 288);
static_assert(offsetof(AVFrame, nb_side_data) == 292);
static_assert(offsetof(AVFrame, flags) == 296);
static_assert(offsetof(AVFrame, color_range) == 300);
static_assert(offsetof(AVFrame, color_primaries) == 304);
static_assert(offsetof(AVFrame, color_trc) == 308);
static_assert(offsetof(AVFrame, colorspace) == 312);
static_assert(offsetof(AVFrame, chroma_location) == 316);
static_assert(offsetof(AVFrame, best_effort_timestamp) == 320);
static_assert(offsetof(AVFrame, pkt_pos) == 328);
static_assert(offsetof(AVFrame, pkt_duration) == 336);
static_assert(offsetof(AVFrame, metadata) == 344);
static_assert(offsetof(AVFrame, decode_error_flags) == 348);
static_assert(offsetof(AVFrame, channels) == 352);
static_assert(offsetof(AVFrame, pkt_size) == 356);
static_assert(offsetof(AVFrame, qscale_table) == 360);
static_assert(offsetof(AVFrame, qstride) == 364);
static_assert(offsetof(AVFrame, qscale_type) == 368);
static_assert(offsetof(AVFrame, qp_table_buf) == 372);
static_assert(offsetof(AVFrame, hw_frames_ctx) == 376);
static_assert(offsetof(AVFrame, opaque_ref) == 380);
static_assert(offsetof(AVFrame, crop_top) == 384);
static_assert(offsetof(AVFrame, crop_bottom) == 388);
static_assert(offsetof(AVFrame, crop_left) == 392);
static_assert(offsetof(AVFrame, crop_right) == 396);
static_assert(offsetof(AVFrame, private_ref) == 400);
#endif
#endif

#if defined(VIDEO_RENDER_OWN_AVCODECCONTEXT)
static_assert(std::is_standard_layout_v<AVCodecContext>);
static_assert(std::is_trivially_copyable_v<AVCodecContext>);
static_assert(alignof(AVCodecContext) == 8);
#if defined(_WIN64)
static_assert(sizeof(AVCodecContext) == 1080);
static_assert(offsetof(AVCodecContext, av_class) == 0);
static_assert(offsetof(AVCodecContext, log_level_offset) == 8);
static_assert(offsetof(AVCodecContext, codec_type) == 12);
static_assert(offsetof(AVCodecContext, codec) == 16);
static_assert(offsetof(AVCodecContext, codec_id) == 24);
static_assert(offsetof(AVCodecContext, codec_tag) == 28);
static_assert(offsetof(AVCodecContext, priv_data) == 32);
static_assert(offsetof(AVCodecContext, internal) == 40);
static_assert(offsetof(AVCodecContext, opaque) == 48);
static_assert(offsetof(AVCodecContext, bit_rate) == 56);
static_assert(offsetof(AVCodecContext, width) == 116);
static_assert(offsetof(AVCodecContext, height) == 120);
static_assert(offsetof(AVCodecContext, coded_width) == 124);
static_assert(offsetof(AVCodecContext, coded_height) == 128);
static_assert(offsetof(AVCodecContext, gop_size) == 132);
static_assert(offsetof(AVCodecContext, pix_fmt) == 136);
static_assert(offsetof(AVCodecContext, draw_horiz_band) == 144);
static_assert(offsetof(AVCodecContext, get_format) == 152);
static_assert(offsetof(AVCodecContext, color_primaries) == 372);
static_assert(offsetof(AVCodecContext, color_trc) == 376);
static_assert(offsetof(AVCodecContext, colorspace) == 380);
static_assert(offsetof(AVCodecContext, color_range) == 384);
static_assert(offsetof(AVCodecContext, get_buffer2) == 456);
static_assert(offsetof(AVCodecContext, reordered_opaque) == 664);
static_assert(offsetof(AVCodecContext, hwaccel) == 672);
static_assert(offsetof(AVCodecContext, hwaccel_context) == 680);
static_assert(offsetof(AVCodecContext, thread_count) == 784);
static_assert(offsetof(AVCodecContext, sw_pix_fmt) == 880);
static_assert(offsetof(AVCodecContext, hw_frames_ctx) == 1008);
static_assert(offsetof(AVCodecContext, hw_device_ctx) == 1032);
static_assert(offsetof(AVCodecContext, hwaccel_flags) == 1040);
static_assert(offsetof(AVCodecContext, extra_hw_frames) == 1048);
#else
static_assert(sizeof(AVCodecContext) == 920);
static_assert(offsetof(AVCodecContext, av_class) == 0);
static_assert(offsetof(AVCodecContext, log_level_offset) == 4);
static_assert(offsetof(AVCodecContext, codec_type) == 8);
static_assert(offsetof(AVCodecContext, codec) == 12);
static_assert(offsetof(AVCodecContext, codec_id) == 16);
static_assert(offsetof(AVCodecContext, codec_tag) == 20);
static_assert(offsetof(AVCodecContext, priv_data) == 24);
static_assert(offsetof(AVCodecContext, internal) == 28);
static_assert(offsetof(AVCodecContext, opaque) == 32);
static_assert(offsetof(AVCodecContext, bit_rate) == 40);
static_assert(offsetof(AVCodecContext, width) == 92);
static_assert(offsetof(AVCodecContext, height) == 96);
static_assert(offsetof(AVCodecContext, coded_width) == 100);
static_assert(offsetof(AVCodecContext, coded_height) == 104);
static_assert(offsetof(AVCodecContext, gop_size) == 108);
static_assert(offsetof(AVCodecContext, pix_fmt) == 112);
static_assert(offsetof(AVCodecContext, draw_horiz_band) == 116);
static_assert(offsetof(AVCodecContext, get_format) == 120);
static_assert(offsetof(AVCodecContext, color_primaries) == 316);
static_assert(offsetof(AVCodecContext, color_trc) == 320);
static_assert(offsetof(AVCodecContext, colorspace) == 324);
static_assert(offsetof(AVCodecContext, color_range) == 328);
static_assert(offsetof(AVCodecContext, get_buffer2) == 400);
static_assert(offsetof(AVCodecContext, reordered_opaque) == 584);
static_assert(offsetof(AVCodecContext, hwaccel) == 592);
static_assert(offsetof(AVCodecContext, hwaccel_context) == 596);
static_assert(offsetof(AVCodecContext, thread_count) == 688);
static_assert(offsetof(AVCodecContext, sw_pix_fmt) == 768);
static_assert(offsetof(AVCodecContext, hw_frames_ctx) == 860);
static_assert(offsetof(AVCodecContext, hw_device_ctx) == 880);
static_assert(offsetof(AVCodecContext, hwaccel_flags) == 884);
static_assert(offsetof(AVCodecContext, extra_hw_frames) == 892);
#endif
#endif

#if defined(VIDEO_RENDER_OWN_AVHWCONTEXT)
static_assert(std::is_standard_layout_v<AVHWDeviceContext>);
static_assert(std::is_trivially_copyable_v<AVHWDeviceContext>);
static_assert(std::is_standard_layout_v<AVHWFramesContext>);
static_assert(std::is_trivially_copyable_v<AVHWFramesContext>);
#if defined(_WIN64)
static_assert(sizeof(AVHWDeviceContext) == 48);
static_assert(offsetof(AVHWDeviceContext, av_class) == 0);
static_assert(offsetof(AVHWDeviceContext, internal) == 8);
static_assert(offsetof(AVHWDeviceContext, type) == 16);
static_assert(offsetof(AVHWDeviceContext, hwctx) == 24);
static_assert(offsetof(AVHWDeviceContext, free) == 32);
static_assert(offsetof(AVHWDeviceContext, user_opaque) == 40);

static_assert(sizeof(AVHWFramesContext) == 88);
static_assert(offsetof(AVHWFramesContext, av_class) == 0);
static_assert(offsetof(AVHWFramesContext, internal) == 8);
static_assert(offsetof(AVHWFramesContext, device_ref) == 16);
static_assert(offsetof(AVHWFramesContext, device_ctx) == 24);
static_assert(offsetof(AVHWFramesContext, hwctx) == 32);
static_assert(offsetof(AVHWFramesContext, free) == 40);
static_assert(offsetof(AVHWFramesContext, user_opaque) == 48);
static_assert(offsetof(AVHWFramesContext, pool) == 56);
static_assert(offsetof(AVHWFramesContext, initial_pool_size) == 64);
static_assert(offsetof(AVHWFramesContext, format) == 68);
static_assert(offsetof(AVHWFramesContext, sw_format) == 72);
static_assert(offsetof(AVHWFramesContext, width) == 76);
static_assert(offsetof(AVHWFramesContext, height) == 80);
#else
static_assert(sizeof(AVHWDeviceContext) == 24);
static_assert(offsetof(AVHWDeviceContext, av_class) == 0);
static_assert(offsetof(AVHWDeviceContext, internal) == 4);
static_assert(offsetof(AVHWDeviceContext, type) == 8);
static_assert(offsetof(AVHWDeviceContext, hwctx) == 12);
static_assert(offsetof(AVHWDeviceContext, free) == 16);
static_assert(offsetof(AVHWDeviceContext, user_opaque) == 20);

static_assert(sizeof(AVHWFramesContext) == 52);
static_assert(offsetof(AVHWFramesContext, av_class) == 0);
static_assert(offsetof(AVHWFramesContext, internal) == 4);
static_assert(offsetof(AVHWFramesContext, device_ref) == 8);
static_assert(offsetof(AVHWFramesContext, device_ctx) == 12);
static_assert(offsetof(AVHWFramesContext, hwctx) == 16);
static_assert(offsetof(AVHWFramesContext, free) == 20);
static_assert(offsetof(AVHWFramesContext, user_opaque) == 24);
static_assert(offsetof(AVHWFramesContext, pool) == 28);
static_assert(offsetof(AVHWFramesContext, initial_pool_size) == 32);
static_assert(offsetof(AVHWFramesContext, format) == 36);
static_assert(offsetof(AVHWFramesContext, sw_format) == 40);
static_assert(offsetof(AVHWFramesContext, width) == 44);
static_assert(offsetof(AVHWFramesContext, height) == 48);
#endif
#endif

#if defined(VIDEO_RENDER_OWN_AVD3D11VACONTEXT)
static_assert(std::is_standard_layout_v<AVD3D11VADeviceContext>);
static_assert(std::is_trivially_copyable_v<AVD3D11VADeviceContext>);
static_assert(std::is_standard_layout_v<AVD3D11VAFramesContext>);
static_assert(std::is_trivially_copyable_v<AVD3D11VAFramesContext>);
#if defined(_WIN64)
static_assert(sizeof(AVD3D11VADeviceContext) == 56);
static_assert(offsetof(AVD3D11VADeviceContext, device) == 0);
static_assert(offsetof(AVD3D11VADeviceContext, device_context) == 8);
static_assert(offsetof(AVD3D11VADeviceContext, video_device) == 16);
static_assert(offsetof(AVD3D11VADeviceContext, video_context) == 24);
static_assert(offsetof(AVD3D11VADeviceContext, lock) == 32);
static_assert(offsetof(AVD3D11VADeviceContext, unlock) == 40);
static_assert(offsetof(AVD3D11VADeviceContext, lock_ctx) == 48);

static_assert(sizeof(AVD3D11VAFramesContext) == 16);
static_assert(offsetof(AVD3D11VAFramesContext, texture) == 0);
static_assert(offsetof(AVD3D11VAFramesContext, BindFlags) == 8);
static_assert(offsetof(AVD3D11VAFramesContext, MiscFlags) == 12);
#else
static_assert(sizeof(AVD3D11VADeviceContext) == 28);
static_assert(offsetof(AVD3D11VADeviceContext, device) == 0);
static_assert(offsetof(AVD3D11VADeviceContext, device_context) == 4);
static_assert(offsetof(AVD3D11VADeviceContext, video_device) == 8);
static_assert(offsetof(AVD3D11VADeviceContext, video_context) == 12);
static_assert(offsetof(AVD3D11VADeviceContext, lock) == 16);
static_assert(offsetof(AVD3D11VADeviceContext, unlock) == 20);
static_assert(offsetof(AVD3D11VADeviceContext, lock_ctx) == 24);

static_assert(sizeof(AVD3D11VAFramesContext) == 12);
static_assert(offsetof(AVD3D11VAFramesContext, texture) == 0);
static_assert(offsetof(AVD3D11VAFramesContext, BindFlags) == 4);
static_assert(offsetof(AVD3D11VAFramesContext, MiscFlags) == 8);
#endif
#endif

// Always ours: FFmpeg keeps this record private to hwcontext_dxva2.c.
static_assert(std::is_standard_layout_v<dxva2_device_priv>);
static_assert(std::is_trivially_copyable_v<dxva2_device_priv>);
#if defined(_WIN64)
static_assert(sizeof(dxva2_device_priv) == 40);
static_assert(offsetof(dxva2_device_priv, d3dlib) == 0);
static_assert(offsetof(dxva2_device_priv, dxva2lib) == 8);
static_assert(offsetof(dxva2_device_priv, device_handle) == 16);
static_assert(offsetof(dxva2_device_priv, d3d9) == 24);
static_assert(offsetof(dxva2_device_priv, d3d9device) == 32);
#else
static_assert(sizeof(dxva2_device_priv) == 20);
static_assert(offsetof(dxva2_device_priv, d3dlib) == 0);
static_assert(offsetof(dxva2_device_priv, dxva2lib) == 4);
static_assert(offsetof(dxva2_device_priv, device_handle) == 8);
static_assert(offsetof(dxva2_device_priv, d3d9) == 12);
static_assert(offsetof(dxva2_device_priv, d3d9device) == 16);
#endif

#endif // VIDEO_RENDER_FFMPEG_LAYOUT_CHECKS_H
