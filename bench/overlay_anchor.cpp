#include "overlay_anchor.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace anchor {

namespace gp = Gdiplus::DllExports;

namespace {

constexpr uint32_t opaque = 0xFF000000;
constexpr uint32_t letter_rgb = 0xFF0000;
constexpr uint32_t highlight_argb = 0xFF58582C;
constexpr uint32_t normalised = 10000;
constexpr int ellipse_points = 73;
constexpr char face_name[] = "Microsoft YaHei";

struct mapper {
    int width, height;
    POINT operator()(const overlay_point& p) const
    {
        const uint32_t rw = p.ref_w ? p.ref_w : normalised;
        const uint32_t rh = p.ref_h ? p.ref_h : normalised;
        return {static_cast<LONG>(static_cast<uint64_t>(p.x) * width / rw),
                static_cast<LONG>(static_cast<uint64_t>(p.y) * height / rh)};
    }
};

std::wstring widened(const std::string& narrow)
{
    return std::wstring(narrow.begin(), narrow.end());
}

text label(const std::string& narrow, uint32_t height, uint32_t rgb, float x, float y,
           float shift_x, float shift_y)
{
    return {narrow, widened(narrow), height, rgb, x, y, shift_x, shift_y, true, false, false, 0, 0};
}

float alignment_shift(uint32_t align)
{
    static const float shifts[4] = {0.0f, 0.5f, 1.0f, 0.5f};
    return shifts[align % 4];
}

POINT offset(POINT from, double nx, double ny, double dx, double dy, double across, double along)
{
    return {static_cast<LONG>(from.x + nx * across + dx * along),
            static_cast<LONG>(from.y + ny * across + dy * along)};
}

// A bar across a line's midpoint, the arrows on either side and the letters at their tips.
void add_direction_mark(scene& out, const overlay_entry& entry, POINT from, POINT to)
{
    const POINT mid = {(from.x + to.x) / 2, (from.y + to.y) / 2};
    const double length = std::hypot(to.x - from.x, to.y - from.y);
    const double dx = (to.x - from.x) / length, dy = (to.y - from.y) / length;
    const double nx = -dy, ny = dx;
    const auto at = [&](double across, double along) {
        return offset(mid, nx, ny, dx, dy, across, along);
    };
    out.strokes.push_back(
        {{at(-25, -3), at(25, -3), at(25, 3), at(-25, 3), at(-25, -3)}, entry.line_color, 1});
    if (entry.direction_mark & 1)
        out.strokes.push_back({{at(8, 5), at(20, 12), at(8, 20), at(8, 5)}, entry.line_color, 1});
    if (entry.direction_mark & 2)
        out.strokes.push_back(
            {{at(-8, 5), at(-20, 12), at(-8, 20), at(-8, 5)}, entry.line_color, 1});
    const POINT a = at(35, 0), b = at(-35, 0);
    out.texts.push_back(label("A", entry.font_size, letter_rgb, static_cast<float>(a.x),
                              static_cast<float>(a.y), 0.0f, 0.0f));
    out.texts.push_back(label("B", entry.font_size, letter_rgb, static_cast<float>(b.x),
                              static_cast<float>(b.y), 0.0f, 0.0f));
}

void add_inner_ellipses(scene& out, const overlay_entry& entry, RECT box)
{
    const LONG w = (box.right - box.left) / 3, h = (box.bottom - box.top) / 3;
    for (int i = 0; i < (entry.ellipse_layout == 0 ? 1 : 3); ++i) {
        RECT part = box;
        if (entry.ellipse_layout == 1)
            part = {box.left + i * w, box.top, box.left + (i + 1) * w, box.bottom};
        else if (entry.ellipse_layout == 2)
            part = {box.left, box.top + i * h, box.right, box.top + (i + 1) * h};
        out.ellipses.push_back({part, entry.line_color, static_cast<int>(entry.line_width)});
    }
    if (!entry.text.empty())
        out.texts.push_back(label(entry.text, entry.font_size, entry.text_color,
                                  (box.left + box.right) * 0.5f,
                                  static_cast<float>(box.bottom + entry.font_size), 0.5f, 1.0f));
}

void add_figure(scene& out, const overlay_entry& entry, const mapper& map)
{
    stroke outline = {{}, entry.line_color, static_cast<int>(entry.line_width)};
    float sum_x = 0.0f, sum_y = 0.0f;
    RECT box = {LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    for (const overlay_point& point : entry.points) {
        const POINT p = map(point);
        outline.points.push_back(p);
        sum_x += static_cast<float>(p.x);
        sum_y += static_cast<float>(p.y);
        box = {std::min(box.left, p.x), std::min(box.top, p.y), std::max(box.right, p.x),
               std::max(box.bottom, p.y)};
    }
    const size_t n = outline.points.size();
    if (n < 2)
        return;
    if (entry.closed)
        outline.points.push_back(outline.points.front());
    out.strokes.push_back(outline);
    if (!entry.text.empty() && !entry.inner_ellipses)
        out.texts.push_back(label(entry.text, entry.font_size, entry.text_color,
                                  sum_x / static_cast<float>(n), sum_y / static_cast<float>(n),
                                  0.5f, 0.5f));
    if (entry.direction_mark != 0 && n == 2)
        add_direction_mark(out, entry, outline.points[0], outline.points[1]);
    if (n != 4)
        return;
    if (entry.highlight) {
        char size[32];
        std::snprintf(size, sizeof(size), "%ldx%ld", static_cast<long>(box.right - box.left),
                      static_cast<long>(box.bottom - box.top));
        out.texts.push_back(label(size, entry.font_size, entry.text_color,
                                  static_cast<float>(box.right + 5),
                                  static_cast<float>(box.bottom + 5), 0.0f, 0.0f));
    }
    if (entry.inner_ellipses)
        add_inner_ellipses(out, entry, box);
}

LOGFONTA logfont_of(uint32_t height)
{
    LOGFONTA logfont = {};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(logfont), &logfont);
    logfont.lfHeight = static_cast<LONG>(height);
    logfont.lfCharSet = DEFAULT_CHARSET;
    std::memcpy(logfont.lfFaceName, face_name, sizeof(face_name));
    return logfont;
}

Gdiplus::GpStringFormat* typographic_format(INT flags)
{
    Gdiplus::GpStringFormat* generic = nullptr;
    Gdiplus::GpStringFormat* format = nullptr;
    gp::GdipStringFormatGetGenericTypographic(&generic);
    if (generic && gp::GdipCloneStringFormat(generic, &format) == Gdiplus::Ok)
        gp::GdipSetStringFormatFlags(format, flags);
    return format;
}

COLORREF colorref(uint32_t rgb)
{
    return RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF);
}

} // namespace

scene reduce(const std::list<overlay_group>& groups, int width, int height)
{
    scene out;
    const mapper map = {width, height};
    for (const overlay_group& group : groups)
        for (const overlay_entry& entry : group.entries) {
            if (entry.kind == overlay_kind_figure) {
                add_figure(out, entry, map);
                continue;
            }
            if (entry.kind != overlay_kind_text || entry.points.empty())
                continue;
            const POINT at = map(entry.points[0]);
            out.texts.push_back({entry.text, widened(entry.text), entry.font_size, entry.text_color,
                                 static_cast<float>(at.x), static_cast<float>(at.y),
                                 alignment_shift(entry.h_align), alignment_shift(entry.v_align),
                                 false, entry.highlight, entry.border, entry.line_color,
                                 static_cast<int>(entry.line_width)});
        }
    return out;
}

gdi_anchor::gdi_anchor(const scene& drawn) : scene_(drawn)
{
    gdi_manager::get_instance();
    const auto pen = [this](uint32_t rgb, int width) {
        HPEN& made = pens_[{rgb, width}];
        if (!made)
            made = CreatePen(PS_INSIDEFRAME, width, colorref(rgb));
        made_ = made_ && made;
    };
    for (const stroke& s : scene_.strokes)
        pen(s.rgb, s.width);
    for (const ellipse& e : scene_.ellipses)
        pen(e.rgb, e.width);
    HDC dc = CreateCompatibleDC(nullptr);
    for (const text& t : scene_.texts) {
        if (t.border)
            pen(t.border_rgb, t.border_width);
        if (!fonts_.count(t.height)) {
            const LOGFONTA logfont = logfont_of(t.height);
            gp::GdipCreateFontFromLogfontA(dc, &logfont, &fonts_[t.height]);
        }
        if (!brushes_.count(t.rgb))
            gp::GdipCreateSolidFill(t.rgb | opaque, &brushes_[t.rgb]);
        made_ = made_ && fonts_[t.height] && brushes_[t.rgb];
    }
    DeleteDC(dc);
    formats_[0] = typographic_format(Gdiplus::StringFormatFlagsNoWrap);
    formats_[1] = typographic_format(Gdiplus::StringFormatFlagsNoClip);
    made_ = made_ && formats_[0] && formats_[1];
}

gdi_anchor::~gdi_anchor()
{
    for (const auto& pen : pens_)
        DeleteObject(pen.second);
    for (const auto& font : fonts_)
        gp::GdipDeleteFont(font.second);
    for (const auto& brush : brushes_)
        gp::GdipDeleteBrush(brush.second);
    for (Gdiplus::GpStringFormat* format : formats_)
        gp::GdipDeleteStringFormat(format);
}

Gdiplus::RectF gdi_anchor::placed(Gdiplus::GpGraphics* graphics, const text& t) const
{
    const Gdiplus::RectF layout(t.x, t.y, 0.0f, 0.0f);
    Gdiplus::RectF size(t.x, t.y, 0.0f, 0.0f);
    gp::GdipMeasureString(graphics, t.wide.c_str(), static_cast<INT>(t.wide.size()),
                          fonts_.at(t.height), &layout, formats_[t.label], &size, nullptr, nullptr);
    return Gdiplus::RectF(t.x - size.Width * t.shift_x, t.y - size.Height * t.shift_y, size.Width,
                          size.Height);
}

bool gdi_anchor::frame(HDC dc)
{
    if (!made_)
        return false;
    Gdiplus::GpGraphics* graphics = nullptr;
    if (gp::GdipCreateFromHDC(dc, &graphics) != Gdiplus::Ok)
        return false;
    gp::GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeHighSpeed);
    const HGDIOBJ previous = GetCurrentObject(dc, OBJ_PEN);
    for (const stroke& s : scene_.strokes) {
        SelectObject(dc, pens_.at({s.rgb, s.width}));
        if (s.points.size() == 2) {
            MoveToEx(dc, s.points[0].x, s.points[0].y, nullptr);
            LineTo(dc, s.points[1].x, s.points[1].y);
        } else {
            Polyline(dc, s.points.data(), static_cast<int>(s.points.size()));
        }
    }
    for (const ellipse& e : scene_.ellipses) {
        SelectObject(dc, pens_.at({e.rgb, e.width}));
        const RECT& b = e.box;
        Arc(dc, b.left, b.top, b.right, b.bottom, b.left, b.top, b.left, b.top);
    }
    bool drawn = true;
    for (const text& t : scene_.texts) {
        const Gdiplus::RectF box = placed(graphics, t);
        drawn = gp::GdipDrawString(graphics, t.wide.c_str(), static_cast<INT>(t.wide.size()),
                                   fonts_.at(t.height), &box, formats_[t.label],
                                   brushes_.at(t.rgb)) == Gdiplus::Ok &&
                drawn;
        if (!t.border)
            continue;
        const LONG l = static_cast<LONG>(box.X) - 2, r = static_cast<LONG>(box.X + box.Width) + 2;
        const LONG top = static_cast<LONG>(box.Y), bottom = static_cast<LONG>(box.Y + box.Height);
        const POINT frame[5] = {{l, top}, {r, top}, {r, bottom}, {l, bottom}, {l, top}};
        SelectObject(dc, pens_.at({t.border_rgb, t.border_width}));
        Polyline(dc, frame, 5);
    }
    SelectObject(dc, previous);
    gp::GdipDeleteGraphics(graphics);
    return drawn;
}

d3dx_anchor::d3dx_anchor(IDirect3DDevice9* device, const scene& drawn) : scene_(drawn)
{
    for (const stroke& s : scene_.strokes) {
        std::vector<D3DXVECTOR2> points;
        for (const POINT& p : s.points)
            points.emplace_back(static_cast<float>(p.x), static_cast<float>(p.y));
        outlines_.push_back(points);
        outline_pens_.emplace_back(static_cast<float>(s.width), s.rgb);
    }
    for (const ellipse& e : scene_.ellipses) {
        const float cx = (e.box.left + e.box.right) * 0.5f, cy = (e.box.top + e.box.bottom) * 0.5f;
        const float rx = (e.box.right - e.box.left) * 0.5f, ry = (e.box.bottom - e.box.top) * 0.5f;
        std::vector<D3DXVECTOR2> points;
        for (int i = 0; i < ellipse_points; ++i) {
            const float turn = 6.2831853f * static_cast<float>(i) / (ellipse_points - 1);
            points.emplace_back(cx + rx * std::cos(turn), cy + ry * std::sin(turn));
        }
        outlines_.push_back(points);
        outline_pens_.emplace_back(static_cast<float>(e.width), e.rgb);
    }
    made_ =
        SUCCEEDED(D3DXCreateLine(device, &line_)) && SUCCEEDED(D3DXCreateSprite(device, &sprite_));
    if (SUCCEEDED(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &white_,
                                        nullptr))) {
        D3DLOCKED_RECT locked;
        if (SUCCEEDED(white_->LockRect(0, &locked, nullptr, 0))) {
            for (int row = 0; row < 8; ++row)
                std::memset(static_cast<uint8_t*>(locked.pBits) + row * locked.Pitch, 0xFF, 32);
            white_->UnlockRect(0);
        }
    }
    for (const text& t : scene_.texts) {
        if (fonts_.count(t.height))
            continue;
        D3DXFONT_DESCA description = {};
        description.Height = static_cast<INT>(t.height);
        description.CharSet = DEFAULT_CHARSET;
        std::strncpy(description.FaceName, face_name, LF_FACESIZE - 1);
        made_ =
            SUCCEEDED(D3DXCreateFontIndirectA(device, &description, &fonts_[t.height])) && made_;
    }
    made_ = made_ && white_;
}

d3dx_anchor::~d3dx_anchor()
{
    for (const auto& font : fonts_)
        if (font.second)
            font.second->Release();
    if (white_)
        white_->Release();
    if (sprite_)
        sprite_->Release();
    if (line_)
        line_->Release();
}

void d3dx_anchor::frame()
{
    for (size_t i = 0; i < outlines_.size(); ++i) {
        line_->SetWidth(outline_pens_[i].first);
        line_->SetAntialias(TRUE);
        line_->Draw(outlines_[i].data(), static_cast<DWORD>(outlines_[i].size()),
                    outline_pens_[i].second | opaque);
    }
    std::vector<std::pair<std::vector<D3DXVECTOR2>, const text*>> borders;
    sprite_->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_TEXTURE);
    for (const text& t : scene_.texts) {
        ID3DXFont* font = fonts_.at(t.height);
        const DWORD colour = t.rgb | opaque;
        RECT box = {static_cast<LONG>(t.x), static_cast<LONG>(t.y), 0, 0};
        font->DrawTextA(nullptr, t.narrow.c_str(), -1, &box, DT_CALCRECT, colour);
        const LONG w = box.right - box.left, h = box.bottom - box.top;
        const LONG left = static_cast<LONG>(t.x - static_cast<float>(w) * t.shift_x);
        const LONG top = static_cast<LONG>(t.y - static_cast<float>(h) * t.shift_y);
        box = {left, top, left + w, top + h};
        if (t.highlight) {
            const RECT area = {0, 0, w, h};
            const D3DXVECTOR3 position(static_cast<float>(left), static_cast<float>(top), 0.0f);
            sprite_->Draw(white_, &area, nullptr, &position, highlight_argb);
        }
        font->DrawTextA(sprite_, t.narrow.c_str(), -1, &box, 0, colour);
        if (t.border) {
            const float l = static_cast<float>(left - 2), r = static_cast<float>(left + w + 2);
            const float up = static_cast<float>(top), down = static_cast<float>(top + h);
            borders.push_back({{{l, up}, {r, up}, {r, down}, {l, down}, {l, up}}, &t});
        }
    }
    sprite_->End();
    for (const auto& border : borders) {
        line_->SetWidth(static_cast<float>(border.second->border_width));
        line_->Draw(border.first.data(), 5, border.second->border_rgb | opaque);
    }
}

} // namespace anchor
