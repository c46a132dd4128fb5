// Draws the overlay list onto a Windows device context: outlines, direction marks and
// ellipses with GDI pens, texts and labels with GDI+. The DirectDraw backend holds one by
// value, gives it the window size once, and hands it the device context of its surface for
// every frame.
//
// Figures are mapped and zoomed by hand into whole device pixels; texts keep window
// coordinates and reach the device through a GDI+ world transform. The GDI+ objects of the
// texts are made once and kept (fonts by height, string formats, a brush); only the graphics
// object belongs to a frame, made for its device context on the frame's first text.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "gdi_manager.h"
#include "kx_vidrender.h"
#include "overlay/overlay_rules.h"

// The GDI renderer's own arithmetic, as plain functions.
namespace gdi_overlay {

// Window pixel of a figure point: x * W / ref_w (ref_w 0 meaning W, or 10000 for an empty
// window), then kept m = max(1, line_width / 3) pixels inside the window: a coordinate below
// 1 becomes m, one beyond W - m becomes W - m, truncated.
POINT figure_window_point(const overlay_point& point, uint32_t width, uint32_t height,
                          uint32_t line_width);

// Device pixel of a window point: translated, scaled, truncated.
POINT device_point(float x, float y, const overlay_rules::zoom_transform& zoom);

// Four corners meeting at right angles; a fifth point may close them.
bool is_rectangle(const POINT* points, size_t count);

// A two-point outline: a short horizontal one whose length is within one pixel of the pen
// width is drawn as a filled box of that height (a dot or a dash), everything else as a line.
struct two_point_stroke {
    bool as_box;
    RECT box; // with as_box: the box handed to Rectangle
};
two_point_stroke stroke_for(POINT from, POINT to, float width);

// 0x00RRGGBB to a GDI colour; the top byte is dropped.
COLORREF to_colorref(uint32_t rgb);

// The direction mark across the midpoint of a two-point figure, in device pixels: the shared
// shapes laid out with their x axis along the normal of `direction` and their y axis along
// it.
struct direction_mark_points {
    POINT bar[5];
    POINT arrow_a[4];
    POINT arrow_b[4];
    POINT tip_a;
    POINT tip_b;
};
direction_mark_points direction_mark_at(POINT mid, POINT direction);

// The GDI+ side of the texts: what can be made once is kept for the renderer's life, the
// graphics object lives from a frame's first text to the end of that frame.
class text_painter {
  public:
    // Texts are laid out without wrapping, labels without clipping.
    enum class layout { text, label };

    text_painter();
    ~text_painter();
    text_painter(const text_painter&) = delete;
    text_painter& operator=(const text_painter&) = delete;

    // The device context of the frame that starts; end_frame deletes the frame's graphics.
    void begin_frame(HDC dc);
    void end_frame();

    // Readies a text of `height` pixels, laid out as `kind`, reaching the device through
    // `transform`; false when GDI+ cannot draw it (nothing is then measured or drawn).
    bool prepare(uint32_t height, layout kind, Gdiplus::GpMatrix* transform);
    // The size the prepared text takes when laid out from (x, y), in world units.
    Gdiplus::RectF measure(const std::wstring& text, float x, float y) const;
    void draw(const std::wstring& text, const Gdiplus::RectF& box, uint32_t argb) const;

  private:
    Gdiplus::GpGraphics* graphics();
    Gdiplus::GpFont* font(uint32_t height);

    HDC dc_ = nullptr;
    Gdiplus::GpGraphics* graphics_ = nullptr;
    Gdiplus::GpStringFormat* formats_[2] = {nullptr, nullptr}; // by layout
    Gdiplus::GpSolidFill* brush_ = nullptr;
    std::map<uint32_t, Gdiplus::GpFont*> fonts_;
    Gdiplus::GpFont* font_ = nullptr;           // of the prepared text
    Gdiplus::GpStringFormat* format_ = nullptr; // of the prepared text
};

} // namespace gdi_overlay

class gdi_mytext {
  public:
    gdi_mytext();
    ~gdi_mytext();
    gdi_mytext(const gdi_mytext&) = delete;
    gdi_mytext& operator=(const gdi_mytext&) = delete;

    // The window size W x H that points map into; the zoom goes back to the whole window.
    void init(uint32_t width, uint32_t height);

    // Draws the list onto `dc` (text entries receive their laid-out corner). `ref_width` and
    // `ref_height` are the frame call's reference size, `rect` the zoom rectangle in window
    // pixels (null: none). False only without a device context.
    bool draw(HDC dc, std::list<overlay_group>* groups, int ref_width, int ref_height,
              const RECT* rect);

  private:
    void set_dst_rect(const RECT* rect);
    void draw_figure(const overlay_entry& entry);
    void draw_text(overlay_entry& entry);
    void draw_label(const std::string& text, uint32_t argb, uint32_t height, float x, float y,
                    int flags);
    bool draw_polyline(const POINT* points, size_t count, uint32_t rgb, float width);
    void draw_line(const POINT* points, uint32_t rgb, float width);
    void draw_direction_mark(const overlay_entry& entry, POINT mid, POINT direction);
    void draw_inner_ellipses(const overlay_entry& entry, POINT max, POINT min);

    overlay_rules::zoom_transform zoom() const;
    // Window coordinates of a device pixel: where a label must go to land on it.
    float window_x(LONG device_x) const { return device_x / scale_x_ - translate_x_; }
    float window_y(LONG device_y) const { return device_y / scale_y_ - translate_y_; }

    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t ref_width_ = 0;
    uint32_t ref_height_ = 0;
    Gdiplus::GpMatrix* zoom_matrix_ = nullptr;
    Gdiplus::GpMatrix* reference_matrix_ = nullptr; // a reference-sized text's, then the zoom
    float translate_x_ = 0.0f;
    float translate_y_ = 0.0f;
    float scale_x_ = 1.0f;
    float scale_y_ = 1.0f;
    HDC hdc_ = nullptr;
    RECT dst_rect_ = {0, 0, 0, 0};
    gdi_overlay::text_painter texts_;
};
