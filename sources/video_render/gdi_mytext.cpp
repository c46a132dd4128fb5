#include "gdi_mytext.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "log_helper.h"

VR_LOG_SOURCE("..\\..\\..\\sources\\video_render\\gdi_mytext")

namespace gp = Gdiplus::DllExports;

namespace {

constexpr uint32_t opaque = 0xFF000000;
constexpr double quarter_turn = 3.14159265358979323846 / 2;

// The reference a coordinate is given in: its own, else the window's extent, else the
// normalised space (for a window whose size is not known yet).
uint32_t reference_for(uint32_t own, uint32_t window_extent)
{
    return overlay_rules::reference_or(
        own, overlay_rules::reference_or(window_extent, overlay_rules::normalised_units));
}

// Truncating a mapped coordinate and then comparing it with the bounds picks the same pixel
// as comparing first, so the comparisons run on the float and nothing out of range is ever
// converted to an integer.
LONG keep_inside(float value, float extent, float margin)
{
    if (value < 1.0f)
        value = static_cast<float>(static_cast<int>(margin));
    if (value > extent - margin)
        value = static_cast<float>(static_cast<int>(extent - margin));
    return static_cast<LONG>(value);
}

// A GDI pen selected into the device context for the life of the object.
class selected_pen {
  public:
    selected_pen(HDC dc, int width, uint32_t rgb)
        : dc_(dc), pen_(CreatePen(PS_INSIDEFRAME, width, gdi_overlay::to_colorref(rgb)))
    {
        if (pen_)
            previous_ = SelectObject(dc_, pen_);
    }
    ~selected_pen()
    {
        if (pen_) {
            SelectObject(dc_, previous_);
            DeleteObject(pen_);
        }
    }
    selected_pen(const selected_pen&) = delete;
    selected_pen& operator=(const selected_pen&) = delete;

  private:
    HDC dc_;
    HPEN pen_;
    HGDIOBJ previous_ = nullptr;
};

// The font of the renderer's texts at `height` pixels, from the system's GUI font.
LOGFONTA text_logfont(uint32_t height)
{
    LOGFONTA logfont = {};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(logfont), &logfont);
    logfont.lfHeight = static_cast<LONG>(height);
    logfont.lfCharSet = DEFAULT_CHARSET;
    std::memcpy(logfont.lfFaceName, overlay_rules::font_face, sizeof(overlay_rules::font_face));
    return logfont;
}

// A typographic string format with near alignment and the given flags.
Gdiplus::GpStringFormat* make_format(INT flags)
{
    Gdiplus::GpStringFormat* typographic = nullptr;
    Gdiplus::GpStringFormat* format = nullptr;
    gp::GdipStringFormatGetGenericTypographic(&typographic);
    if (typographic)
        gp::GdipCloneStringFormat(typographic, &format);
    if (format) {
        gp::GdipSetStringFormatAlign(format, Gdiplus::StringAlignmentNear);
        gp::GdipSetStringFormatLineAlign(format, Gdiplus::StringAlignmentNear);
        gp::GdipSetStringFormatFlags(format, flags);
    }
    return format;
}

} // namespace

namespace gdi_overlay {

POINT figure_window_point(const overlay_point& point, uint32_t width, uint32_t height,
                          uint32_t line_width)
{
    const float rw = static_cast<float>(reference_for(point.ref_w, width));
    const float rh = static_cast<float>(reference_for(point.ref_h, height));
    const float x = static_cast<float>(point.x) * static_cast<float>(width) / rw;
    const float y = static_cast<float>(point.y) * static_cast<float>(height) / rh;
    // A thick pen stays whole inside the window.
    const float margin = std::max(1.0f, static_cast<float>(line_width) * 0.33333334f);
    return {keep_inside(x, static_cast<float>(width), margin),
            keep_inside(y, static_cast<float>(height), margin)};
}

POINT device_point(float x, float y, const overlay_rules::zoom_transform& zoom)
{
    return {static_cast<LONG>((x + zoom.translate_x) * zoom.scale_x),
            static_cast<LONG>((y + zoom.translate_y) * zoom.scale_y)};
}

bool is_rectangle(const POINT* points, size_t count)
{
    if (count != 4 && count != 5)
        return false;
    long x[4], y[4];
    for (int i = 0; i < 4; ++i) {
        x[i] = points[i].x;
        y[i] = points[i].y;
    }
    if (!overlay_rules::right_angled(x, y))
        return false;
    return count == 4 || (points[4].x == points[0].x && points[4].y == points[0].y);
}

two_point_stroke stroke_for(POINT from, POINT to, float width)
{
    two_point_stroke stroke = {false, {0, 0, 0, 0}};
    const float length = static_cast<float>(to.x - from.x);
    if (from.y == to.y && length >= width - 1.0f && length <= width + 1.0f) {
        const LONG half = static_cast<LONG>(width * 0.5f);
        stroke.as_box = true;
        stroke.box = {from.x, from.y - half, to.x, from.y + half};
    }
    return stroke;
}

COLORREF to_colorref(uint32_t rgb)
{
    return RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF);
}

direction_mark_points direction_mark_at(POINT mid, POINT direction)
{
    const double angle =
        std::atan2(static_cast<double>(direction.y), static_cast<double>(direction.x));
    const double normal_x = std::cos(angle + quarter_turn);
    const double normal_y = std::sin(angle + quarter_turn);
    const double along_x = std::cos(angle);
    const double along_y = std::sin(angle);
    const auto place = [&](const overlay_rules::mark_point& local) {
        return POINT{static_cast<LONG>(mid.x + local.x * normal_x + local.y * along_x),
                     static_cast<LONG>(mid.y + local.x * normal_y + local.y * along_y)};
    };
    direction_mark_points mark = {};
    for (int i = 0; i < 5; ++i)
        mark.bar[i] = place(overlay_rules::mark_bar[i]);
    for (int i = 0; i < 4; ++i) {
        mark.arrow_a[i] = place(overlay_rules::mark_arrow_a[i]);
        mark.arrow_b[i] = place(overlay_rules::mark_arrow_b[i]);
    }
    mark.tip_a = place(overlay_rules::mark_tip_a);
    mark.tip_b = place(overlay_rules::mark_tip_b);
    return mark;
}

text_painter::text_painter()
{
    gdi_manager::get_instance();
    formats_[static_cast<int>(layout::text)] = make_format(Gdiplus::StringFormatFlagsNoWrap);
    formats_[static_cast<int>(layout::label)] = make_format(Gdiplus::StringFormatFlagsNoClip);
    gp::GdipCreateSolidFill(opaque, &brush_);
}

text_painter::~text_painter()
{
    end_frame();
    for (const auto& cached : fonts_)
        gp::GdipDeleteFont(cached.second);
    for (Gdiplus::GpStringFormat* format : formats_)
        if (format)
            gp::GdipDeleteStringFormat(format);
    if (brush_)
        gp::GdipDeleteBrush(brush_);
}

void text_painter::begin_frame(HDC dc)
{
    end_frame();
    dc_ = dc;
}

void text_painter::end_frame()
{
    if (graphics_)
        gp::GdipDeleteGraphics(graphics_);
    graphics_ = nullptr;
    dc_ = nullptr;
}

Gdiplus::GpGraphics* text_painter::graphics()
{
    if (!graphics_ && dc_) {
        gp::GdipCreateFromHDC(dc_, &graphics_);
        if (graphics_)
            gp::GdipSetSmoothingMode(graphics_, Gdiplus::SmoothingModeHighSpeed);
    }
    return graphics_;
}

Gdiplus::GpFont* text_painter::font(uint32_t height)
{
    const auto cached = fonts_.find(height);
    if (cached != fonts_.end())
        return cached->second;
    // The context only lends its resolution: the font serves every later frame's context.
    const LOGFONTA logfont = text_logfont(height);
    Gdiplus::GpFont* made = nullptr;
    gp::GdipCreateFontFromLogfontA(dc_, &logfont, &made);
    if (made)
        fonts_[height] = made;
    return made;
}

bool text_painter::prepare(uint32_t height, layout kind, Gdiplus::GpMatrix* transform)
{
    format_ = formats_[static_cast<int>(kind)];
    font_ = graphics() && format_ && brush_ ? font(height) : nullptr;
    if (!font_)
        return false;
    gp::GdipSetWorldTransform(graphics_, transform);
    return true;
}

Gdiplus::RectF text_painter::measure(const std::wstring& text, float x, float y) const
{
    const Gdiplus::RectF layout(x, y, 0.0f, 0.0f);
    Gdiplus::RectF bounds(x, y, 0.0f, 0.0f);
    gp::GdipMeasureString(graphics_, text.c_str(), static_cast<INT>(text.size()), font_, &layout,
                          format_, &bounds, nullptr, nullptr);
    return bounds;
}

void text_painter::draw(const std::wstring& text, const Gdiplus::RectF& box, uint32_t argb) const
{
    gp::GdipSetSolidFillColor(brush_, argb);
    gp::GdipDrawString(graphics_, text.c_str(), static_cast<INT>(text.size()), font_, &box, format_,
                       brush_);
}

} // namespace gdi_overlay

gdi_mytext::gdi_mytext()
{
    gp::GdipCreateMatrix(&zoom_matrix_);
    if (zoom_matrix_)
        gp::GdipSetMatrixElements(zoom_matrix_, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f);
    gp::GdipCreateMatrix(&reference_matrix_);
}

gdi_mytext::~gdi_mytext()
{
    if (reference_matrix_)
        gp::GdipDeleteMatrix(reference_matrix_);
    if (zoom_matrix_)
        gp::GdipDeleteMatrix(zoom_matrix_);
}

void gdi_mytext::init(uint32_t width, uint32_t height)
{
    width_ = width;
    height_ = height;
    dst_rect_ = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    translate_x_ = translate_y_ = 0.0f;
    scale_x_ = scale_y_ = 1.0f;
    if (zoom_matrix_)
        gp::GdipSetMatrixElements(zoom_matrix_, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f);
}

bool gdi_mytext::draw(HDC dc, std::list<overlay_group>* groups, int ref_width, int ref_height,
                      const RECT* rect)
{
    if (!dc)
        return false;
    if (!groups || groups->empty())
        return true;
    set_dst_rect(rect);
    ref_width_ = static_cast<uint32_t>(ref_width);
    ref_height_ = static_cast<uint32_t>(ref_height);
    hdc_ = dc;
    texts_.begin_frame(dc);
    overlay_rules::visit_in_drawing_order(*groups, [this](overlay_entry& entry) {
        if (entry.kind == overlay_kind_figure)
            draw_figure(entry);
        else if (entry.kind == overlay_kind_text)
            draw_text(entry);
    });
    texts_.end_frame();
    hdc_ = nullptr;
    return true;
}

void gdi_mytext::set_dst_rect(const RECT* rect)
{
    const RECT whole = {0, 0, static_cast<LONG>(width_), static_cast<LONG>(height_)};
    RECT wanted = rect ? *rect : whole;
    // An empty or inverted region has no scale: such a region shows the whole window.
    if (wanted.right <= wanted.left || wanted.bottom <= wanted.top)
        wanted = whole;
    if (wanted.left == dst_rect_.left && wanted.top == dst_rect_.top &&
        wanted.right == dst_rect_.right && wanted.bottom == dst_rect_.bottom)
        return;
    dst_rect_ = wanted;
    VR_LOG(vr_log::notice, "dst_rect:[left:%d, top:%d, right:%d, bottom:%d]\n",
           static_cast<int>(dst_rect_.left), static_cast<int>(dst_rect_.top),
           static_cast<int>(dst_rect_.right), static_cast<int>(dst_rect_.bottom));
    const overlay_rules::zoom_transform zoom = overlay_rules::zoom_for(dst_rect_, width_, height_);
    translate_x_ = zoom.translate_x;
    translate_y_ = zoom.translate_y;
    scale_x_ = zoom.scale_x;
    scale_y_ = zoom.scale_y;
    if (!zoom_matrix_)
        return;
    // Prepending both: a point is translated first, then scaled.
    gp::GdipSetMatrixElements(zoom_matrix_, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f);
    gp::GdipScaleMatrix(zoom_matrix_, scale_x_, scale_y_, Gdiplus::MatrixOrderPrepend);
    gp::GdipTranslateMatrix(zoom_matrix_, translate_x_, translate_y_, Gdiplus::MatrixOrderPrepend);
}

overlay_rules::zoom_transform gdi_mytext::zoom() const
{
    return {translate_x_, translate_y_, scale_x_, scale_y_};
}

void gdi_mytext::draw_figure(const overlay_entry& entry)
{
    const size_t count = std::min(entry.points.size(), overlay_rules::max_figure_points);
    POINT device[overlay_rules::max_figure_points + 1];
    long sum_x = 0;
    long sum_y = 0;
    for (size_t i = 0; i < count; ++i) {
        const POINT window =
            gdi_overlay::figure_window_point(entry.points[i], width_, height_, entry.line_width);
        device[i] = gdi_overlay::device_point(static_cast<float>(window.x),
                                              static_cast<float>(window.y), zoom());
        sum_x += device[i].x;
        sum_y += device[i].y;
    }
    if (count < 2)
        return;
    // A longer figure is its first max_figure_points points, for the centre as well.
    const size_t corners = std::min(overlay_rules::distinct_corners(entry.points), count);
    if (corners < count) {
        sum_x -= device[0].x;
        sum_y -= device[0].y;
    }
    size_t drawn = count;
    if (entry.closed && drawn > 2)
        device[drawn++] = device[0];
    draw_polyline(device, drawn, entry.line_color, static_cast<float>(entry.line_width));
    if (corners < 2)
        return;

    const long n = static_cast<long>(corners);
    if (!entry.text.empty() && !entry.inner_ellipses)
        draw_label(entry.text, entry.text_color, entry.font_size, window_x(sum_x / n),
                   window_y(sum_y / n), overlay_rules::label_centre | overlay_rules::label_middle);

    if (entry.direction_mark != 0 && corners == 2) {
        const POINT mid = {static_cast<LONG>(sum_x * 0.5), static_cast<LONG>(sum_y * 0.5)};
        const POINT direction = {device[1].x - device[0].x, device[1].y - device[0].y};
        draw_direction_mark(entry, mid, direction);
    }

    if (corners != 4 || !gdi_overlay::is_rectangle(device, count))
        return;
    POINT low = device[0];
    POINT high = device[0];
    for (int i = 1; i < 4; ++i) {
        low = {std::min(low.x, device[i].x), std::min(low.y, device[i].y)};
        high = {std::max(high.x, device[i].x), std::max(high.y, device[i].y)};
    }
    if (entry.highlight) {
        const std::string size = overlay_rules::size_label(std::labs(device[2].x - device[0].x),
                                                           std::labs(device[2].y - device[0].y));
        draw_label(size, entry.text_color, entry.font_size, window_x(high.x) + 5.0f,
                   window_y(high.y) + 5.0f, 0);
    }
    if (entry.inner_ellipses)
        draw_inner_ellipses(entry, high, low);
}

void gdi_mytext::draw_text(overlay_entry& entry)
{
    if (entry.text.empty() || entry.points.empty() || width_ == 0 || height_ == 0)
        return;
    // Without a reference size there is nothing to scale a reference-sized text by.
    if (entry.scale_to_reference && (ref_width_ == 0 || ref_height_ == 0))
        return;
    const std::wstring wide = overlay_rules::to_wide(entry.text);
    if (wide.empty())
        return;
    const overlay_point anchor = entry.points[0];
    const uint32_t rw = reference_for(anchor.ref_w, width_);
    const uint32_t rh = reference_for(anchor.ref_h, height_);
    float px = static_cast<float>(anchor.x) * static_cast<float>(width_) / static_cast<float>(rw);
    float py = static_cast<float>(anchor.y) * static_cast<float>(height_) / static_cast<float>(rh);
    if (px > static_cast<float>(width_) || py > static_cast<float>(height_))
        return;

    // Laid out in window pixels, or in the reference size scaled to the window.
    uint32_t font_height = entry.font_size;
    uint32_t space_width = width_;
    uint32_t space_height = height_;
    float scale_x = 1.0f;
    float scale_y = 1.0f;
    overlay_rules::text_margins margins = overlay_rules::margins_for(entry);
    Gdiplus::GpMatrix* transform = zoom_matrix_;
    if (entry.scale_to_reference) {
        px = static_cast<float>(ref_width_ * anchor.x / rw);
        py = static_cast<float>(ref_height_ * anchor.y / rh);
        font_height = entry.font_size * ref_height_ / rh;
        space_width = ref_width_;
        space_height = ref_height_;
        scale_x = static_cast<float>(width_) / static_cast<float>(ref_width_);
        scale_y = static_cast<float>(height_) / static_cast<float>(ref_height_);
        margins = overlay_rules::scaled_margins(margins, ref_width_, ref_height_, width_, height_);
        if (reference_matrix_) {
            gp::GdipSetMatrixElements(reference_matrix_, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f);
            gp::GdipScaleMatrix(reference_matrix_, scale_x, scale_y, Gdiplus::MatrixOrderPrepend);
            gp::GdipMultiplyMatrix(reference_matrix_, zoom_matrix_, Gdiplus::MatrixOrderAppend);
            transform = reference_matrix_;
        }
    }

    if (!texts_.prepare(font_height, gdi_overlay::text_painter::layout::text, transform))
        return;
    const Gdiplus::RectF size = texts_.measure(wide, px, py);
    // The alignment works on the whole-pixel part of the measured size.
    const double whole_width = static_cast<int>(size.Width);
    const double whole_height = static_cast<int>(size.Height);
    const Gdiplus::RectF box(static_cast<float>(overlay_rules::aligned_start(
                                 px, whole_width, entry.h_align, margins.horizontal)),
                             static_cast<float>(overlay_rules::aligned_start(
                                 py, whole_height, entry.v_align, margins.vertical)),
                             size.Width, size.Height);
    overlay_rules::write_back_corner(entry,
                                     static_cast<uint32_t>(static_cast<int>(box.X + box.Width)),
                                     static_cast<uint32_t>(static_cast<int>(box.Y + box.Height)),
                                     rw, rh, space_width, space_height);
    texts_.draw(wide, box, entry.text_color | opaque);
    if (!entry.border)
        return;

    // The frame: 2 pixels left and right of the text, on its top and bottom edges, taken to
    // the device by hand like the figures.
    const auto corner = [&](float x, float y) {
        return gdi_overlay::device_point(static_cast<float>(static_cast<int>(x * scale_x)),
                                         static_cast<float>(static_cast<int>(y * scale_y)), zoom());
    };
    const float left = box.X - 2.0f;
    const float right = box.X + box.Width + 2.0f;
    const float top = box.Y;
    const float bottom = box.Y + box.Height;
    const POINT frame[5] = {corner(left, top), corner(right, top), corner(right, bottom),
                            corner(left, bottom), corner(left, top)};
    draw_polyline(frame, 5, entry.line_color, static_cast<float>(entry.line_width));
}

void gdi_mytext::draw_label(const std::string& text, uint32_t argb, uint32_t height, float x,
                            float y, int flags)
{
    if (text.empty())
        return;
    const std::wstring wide = overlay_rules::to_wide(text);
    if (wide.empty())
        return;
    if (!texts_.prepare(height, gdi_overlay::text_painter::layout::label, zoom_matrix_))
        return;
    const Gdiplus::RectF size = texts_.measure(wide, x, y);
    overlay_rules::shift_for_flags(x, y, size.Width, size.Height, flags);
    texts_.draw(wide, Gdiplus::RectF(x, y, size.Width, size.Height), argb | opaque);
}

bool gdi_mytext::draw_polyline(const POINT* points, size_t count, uint32_t rgb, float width)
{
    if (count < 2)
        return false;
    if (count == 2) {
        draw_line(points, rgb, width);
        return true;
    }
    selected_pen pen(hdc_, static_cast<int>(width), rgb);
    Polyline(hdc_, points, static_cast<int>(count));
    return true;
}

void gdi_mytext::draw_line(const POINT* points, uint32_t rgb, float width)
{
    selected_pen pen(hdc_, static_cast<int>(width), rgb);
    const gdi_overlay::two_point_stroke stroke =
        gdi_overlay::stroke_for(points[0], points[1], width);
    if (stroke.as_box) {
        // Filled with the context's current brush.
        Rectangle(hdc_, stroke.box.left, stroke.box.top, stroke.box.right, stroke.box.bottom);
        return;
    }
    MoveToEx(hdc_, points[0].x, points[0].y, nullptr);
    LineTo(hdc_, points[1].x, points[1].y);
}

void gdi_mytext::draw_direction_mark(const overlay_entry& entry, POINT mid, POINT direction)
{
    const gdi_overlay::direction_mark_points mark = gdi_overlay::direction_mark_at(mid, direction);
    draw_polyline(mark.bar, 5, entry.line_color, 1.0f);
    if (overlay_rules::draws_arrow_a(entry.direction_mark))
        draw_polyline(mark.arrow_a, 4, entry.line_color, 1.0f);
    if (overlay_rules::draws_arrow_b(entry.direction_mark))
        draw_polyline(mark.arrow_b, 4, entry.line_color, 1.0f);
    draw_label("A", overlay_rules::mark_letter_argb, entry.font_size, window_x(mark.tip_a.x),
               window_y(mark.tip_a.y), 0);
    draw_label("B", overlay_rules::mark_letter_argb, entry.font_size, window_x(mark.tip_b.x),
               window_y(mark.tip_b.y), 0);
}

void gdi_mytext::draw_inner_ellipses(const overlay_entry& entry, POINT max, POINT min)
{
    const LONG width = max.x - min.x, height = max.y - min.y;
    const LONG ellipse_width = entry.ellipse_layout == 1 ? static_cast<LONG>(width / 3.0) : width;
    const LONG ellipse_height =
        entry.ellipse_layout == 2 ? static_cast<LONG>(height / 3.0) : height;
    // An inside-frame pen wider than the box it frames breaks GDI's arithmetic (Wine corrupts
    // its heap on it), so the pen is narrowed to the ellipse; it looks the same, a full blot.
    const LONG smaller_side = std::min(ellipse_width, ellipse_height);
    if (smaller_side < 1)
        return;
    const LONG pen_width =
        std::min(static_cast<LONG>(std::min(entry.line_width, 1u << 30)), smaller_side);
    {
        selected_pen pen(hdc_, static_cast<int>(pen_width), entry.line_color);
        // An arc that starts where it ends is the whole ellipse.
        const auto ellipse = [this](LONG left, LONG top, LONG right, LONG bottom) {
            Arc(hdc_, left, top, right, bottom, left, top, left, top);
        };
        switch (entry.ellipse_layout) {
        case 0:
            ellipse(min.x, min.y, max.x, max.y);
            break;
        case 1:
            for (LONG i = 0; i < 3; ++i)
                ellipse(min.x + i * ellipse_width, min.y, min.x + (i + 1) * ellipse_width, max.y);
            break;
        case 2:
            for (LONG i = 0; i < 3; ++i)
                ellipse(min.x, min.y + i * ellipse_height, max.x, min.y + (i + 1) * ellipse_height);
            break;
        default:
            break;
        }
    }
    if (!entry.text.empty()) {
        const LONG centre = static_cast<LONG>(min.x + (max.x - min.x) * 0.5);
        draw_label(entry.text, entry.text_color, entry.font_size, window_x(centre),
                   window_y(max.y) + static_cast<float>(entry.font_size),
                   overlay_rules::label_centre | overlay_rules::label_bottom);
    }
}
