#include "d3d_mytext.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "../log_helper.h"
#include "../overlay/overlay_rules.h"
#include "d3d_overlay_geometry.h"

VR_LOG_SOURCE("..\\..\\..\\sources\\video_render\\d3dx9_render\\d3d_mytext")

namespace {

constexpr DWORD opaque = 0xFF000000;
constexpr uint32_t highlight_colour = 0xFF58582C;
constexpr uint32_t mark_letter_colour = 0xFFFF0000;
constexpr size_t max_figure_points = 98;
// No text taller than the largest window is of any use; D3DX builds glyphs of the font's full
// size, and Wine's faults while drawing fonts of some 20,000 pixels.
constexpr int max_font_height = 8192;

template <typename T> void release(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

D3DXVECTOR2 transformed(const D3DXVECTOR2& point, const D3DXMATRIX& matrix)
{
    D3DXVECTOR2 result;
    D3DXVec2TransformCoord(&result, &point, &matrix);
    return result;
}

} // namespace

d3d_mytext::~d3d_mytext()
{
    release_resources();
}

bool d3d_mytext::init(IDirect3DDevice9* device, uint32_t width, uint32_t height)
{
    device_ = device;
    width_ = width;
    height_ = height;
    dst_rect_ = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    D3DXMatrixIdentity(&zoom_matrix_);
    if (!device)
        return false;
    const std::vector<uint8_t> white = white_bitmap_file();
    if (FAILED(D3DXCreateTextureFromFileInMemory(device, white.data(),
                                                 static_cast<UINT>(white.size()), &white_texture_)))
        white_texture_ = nullptr;
    // D3DX keeps font glyphs in managed textures, as it keeps this one; where it cannot make
    // them (a Direct3D 9Ex device, with some D3DX builds) its fonts fail or fault, so texts
    // are left out.
    texts_usable_ = white_texture_ != nullptr;
    if (!texts_usable_)
        VR_LOG(vr_log::notice, "overlay texts need D3DX managed textures, which this device "
                               "does not offer: texts are not drawn\n");
    if (FAILED(D3DXCreateLine(device, &line_)) || FAILED(D3DXCreateSprite(device, &sprite_)))
        return false;
    sprite_->SetTransform(&zoom_matrix_);
    return true;
}

void d3d_mytext::release_resources()
{
    {
        std::lock_guard<std::recursive_mutex> lock(font_mutex_);
        for (auto& cached : font_cache_)
            cached.second->Release();
        font_cache_.clear();
    }
    release(line_);
    release(sprite_);
    release(white_texture_);
    device_ = nullptr;
}

bool d3d_mytext::draw(std::list<overlay_group>* groups, int ref_width, int ref_height,
                      const RECT* rect)
{
    if (!device_ || !line_)
        return false;
    if (!groups || groups->empty())
        return true;
    set_dst_rect(rect);
    ref_width_ = static_cast<uint32_t>(ref_width);
    ref_height_ = static_cast<uint32_t>(ref_height);
    overlay_rules::visit_in_drawing_order(*groups, [this](overlay_entry& entry) {
        if (entry.kind == overlay_kind_figure)
            draw_figure(entry);
        else if (entry.kind == overlay_kind_text)
            draw_text(entry);
    });
    return true;
}

void d3d_mytext::set_dst_rect(const RECT* rect)
{
    const RECT wanted =
        rect ? *rect : RECT{0, 0, static_cast<LONG>(width_), static_cast<LONG>(height_)};
    if (wanted.left == dst_rect_.left && wanted.top == dst_rect_.top &&
        wanted.right == dst_rect_.right && wanted.bottom == dst_rect_.bottom)
        return;
    dst_rect_ = wanted;
    VR_LOG(vr_log::notice, "dst_rect:[left:%d, top:%d, right:%d, bottom:%d]\n",
           static_cast<int>(wanted.left), static_cast<int>(wanted.top),
           static_cast<int>(wanted.right), static_cast<int>(wanted.bottom));
    const overlay_rules::zoom_transform zoom = overlay_rules::zoom_for(wanted, width_, height_);
    D3DXMATRIX translation, scaling;
    D3DXMatrixTranslation(&translation, zoom.translate_x, zoom.translate_y, 0.0f);
    D3DXMatrixScaling(&scaling, zoom.scale_x, zoom.scale_y, 1.0f);
    D3DXMatrixMultiply(&zoom_matrix_, &translation, &scaling);
    if (sprite_)
        sprite_->SetTransform(&zoom_matrix_);
    sprite_has_zoom_ = true;
}

void d3d_mytext::prepare_line(float width)
{
    line_->SetWidth(width);
    line_->SetAntialias(TRUE);
}

bool d3d_mytext::draw_polyline(const D3DXVECTOR2* points, int count, uint32_t colour)
{
    if (!points || count <= 0 || !line_)
        return false;
    D3DXVECTOR2 zoomed[99];
    const int drawn = std::min(count, 99);
    for (int i = 0; i < drawn; ++i)
        zoomed[i] = transformed(points[i], zoom_matrix_);
    line_->Draw(zoomed, static_cast<DWORD>(drawn), colour | opaque);
    return true;
}

void d3d_mytext::draw_figure(overlay_entry& entry)
{
    D3DXVECTOR2 mapped[99] = {};
    size_t count = 0;
    float sum_x = 0.0f, sum_y = 0.0f;
    for (const overlay_point& point : entry.points) {
        if (count == max_figure_points)
            break;
        mapped[count] = map_figure_point(point, width_, height_);
        sum_x += mapped[count].x;
        sum_y += mapped[count].y;
        ++count;
    }
    const size_t mapped_count = count;
    if (entry.closed && count > 0)
        mapped[count++] = mapped[0];
    prepare_line(static_cast<float>(entry.line_width));
    draw_polyline(mapped, static_cast<int>(count), entry.line_color);

    // Points beyond the mapped ones are not drawn and do not count.
    size_t n = mapped_count;
    if (n < 2)
        return;
    if (mapped[0].x == mapped[n - 1].x && mapped[0].y == mapped[n - 1].y) {
        --n;
        sum_x -= mapped[0].x;
        sum_y -= mapped[0].y;
    }
    const D3DXVECTOR2 centre(sum_x / static_cast<float>(n), sum_y / static_cast<float>(n));
    if (!entry.text.empty() && !entry.inner_ellipses)
        draw_label(entry.text, entry.text_color, entry.font_size, centre,
                   overlay_rules::label_centre | overlay_rules::label_middle);
    if (entry.direction_mark != 0 && n == 2)
        draw_direction_mark(entry, centre, mapped[1] - mapped[0]);
    if (n != 4 || !is_rectangle(entry))
        return;
    D3DXVECTOR2 max = mapped[0], min = mapped[0];
    for (int i = 1; i < 4; ++i) {
        max.x = std::max(max.x, mapped[i].x);
        max.y = std::max(max.y, mapped[i].y);
        min.x = std::min(min.x, mapped[i].x);
        min.y = std::min(min.y, mapped[i].y);
    }
    if (entry.highlight) {
        const long w = static_cast<long>(std::fabs(mapped[2].x - mapped[0].x));
        const long h = static_cast<long>(std::fabs(mapped[2].y - mapped[0].y));
        draw_label(overlay_rules::size_label(w, h), entry.text_color, entry.font_size,
                   D3DXVECTOR2(max.x + 5.0f, max.y + 5.0f), 0);
    }
    if (entry.inner_ellipses)
        draw_inner_ellipses(entry, max, min);
}

bool d3d_mytext::is_rectangle(const overlay_entry& entry)
{
    if (entry.points.size() > 5 || entry.points.size() < 4)
        return false;
    float x[4], y[4];
    for (int i = 0; i < 4; ++i) {
        x[i] = static_cast<float>(entry.points[static_cast<size_t>(i)].x);
        y[i] = static_cast<float>(entry.points[static_cast<size_t>(i)].y);
    }
    return overlay_rules::right_angled(x, y);
}

ID3DXFont* d3d_mytext::get_font(uint32_t height)
{
    if (!texts_usable_)
        return nullptr;
    std::lock_guard<std::recursive_mutex> lock(font_mutex_);
    const auto cached = font_cache_.find(height);
    if (cached != font_cache_.end())
        return cached->second;
    // Negative heights are character heights to D3DX: the same limit holds for them.
    const INT signed_height = static_cast<INT>(height);
    if (signed_height > max_font_height || signed_height < -max_font_height) {
        if (refused_heights_.insert(height).second)
            VR_LOG(vr_log::error, "overlay font height %d out of range, text not drawn!\n",
                   static_cast<int>(signed_height));
        return nullptr;
    }
    D3DXFONT_DESCA description = {};
    description.Height = signed_height;
    description.CharSet = DEFAULT_CHARSET;
    std::strncpy(description.FaceName, "Microsoft YaHei", LF_FACESIZE - 1);
    ID3DXFont* font = nullptr;
    if (FAILED(D3DXCreateFontIndirectA(device_, &description, &font)) || !font)
        return nullptr;
    font_cache_[height] = font;
    return font;
}

void d3d_mytext::draw_label(const std::string& text, uint32_t colour, uint32_t height,
                            D3DXVECTOR2 anchor, int flags)
{
    if (text.empty() || !sprite_)
        return;
    ID3DXFont* font = get_font(height);
    if (!font)
        return;
    RECT rect = {static_cast<LONG>(anchor.x), static_cast<LONG>(anchor.y),
                 static_cast<LONG>(width_), static_cast<LONG>(height_)};
    sprite_->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_TEXTURE);
    font->DrawTextA(nullptr, text.c_str(), -1, &rect, DT_CALCRECT, colour | opaque);
    LONG x = rect.left, y = rect.top;
    const LONG w = rect.right - rect.left, h = rect.bottom - rect.top;
    overlay_rules::shift_for_flags(x, y, w, h, flags);
    rect = {x, y, x + w, y + h};
    font->DrawTextA(sprite_, text.c_str(), -1, &rect, 0, colour | opaque);
    sprite_->End();
}

void d3d_mytext::draw_text(overlay_entry& entry)
{
    if (!sprite_ || entry.text.empty() || entry.points.empty() || width_ == 0 || height_ == 0)
        return;
    const overlay_point& anchor = entry.points[0];
    const uint32_t rw = overlay_rules::reference_or(anchor.ref_w, width_);
    const uint32_t rh = overlay_rules::reference_or(anchor.ref_h, height_);
    uint32_t px = width_ * anchor.x / rw;
    uint32_t py = height_ * anchor.y / rh;
    if (px > width_ || py > height_)
        return;

    uint32_t font_height = entry.font_size;
    uint32_t space_width = width_, space_height = height_;
    D3DXMATRIX transform = zoom_matrix_;
    if (!entry.scale_to_reference) {
        if (!sprite_has_zoom_) {
            sprite_->SetTransform(&zoom_matrix_);
            sprite_has_zoom_ = true;
        }
    } else {
        if (ref_width_ == 0 || ref_height_ == 0)
            return; // no reference size to scale from
        px = ref_width_ * anchor.x / rw;
        py = ref_height_ * anchor.y / rh;
        font_height = ref_height_ * entry.font_size / rh;
        space_width = ref_width_;
        space_height = ref_height_;
        D3DXMATRIX scaling;
        D3DXMatrixScaling(&scaling, static_cast<float>(width_) / static_cast<float>(ref_width_),
                          static_cast<float>(height_) / static_cast<float>(ref_height_), 1.0f);
        D3DXMatrixMultiply(&transform, &scaling, &zoom_matrix_);
        sprite_->SetTransform(&transform);
        sprite_has_zoom_ = false;
    }
    ID3DXFont* font = get_font(font_height);
    if (!font)
        return;

    const DWORD colour = entry.text_color | opaque;
    sprite_->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_DONOTSAVESTATE);
    RECT measured = {static_cast<LONG>(px), static_cast<LONG>(py), 0, 0};
    font->DrawTextA(nullptr, entry.text.c_str(), -1, &measured, DT_CALCRECT, colour);
    const LONG w = measured.right - measured.left;
    const LONG h = measured.bottom - measured.top;

    const overlay_rules::text_margins margins = overlay_rules::margins_for(entry);
    double h_margin = margins.horizontal, v_margin = margins.vertical;
    if (entry.scale_to_reference) {
        h_margin = static_cast<int>(static_cast<float>(margins.horizontal) *
                                    static_cast<float>(ref_width_) / static_cast<float>(width_));
        v_margin = static_cast<int>(static_cast<float>(margins.vertical) *
                                    static_cast<float>(ref_height_) / static_cast<float>(height_));
    }
    const LONG left =
        static_cast<LONG>(overlay_rules::aligned_start(px, w, entry.h_align, h_margin));
    const LONG top =
        static_cast<LONG>(overlay_rules::aligned_start(py, h, entry.v_align, v_margin));
    const LONG right = left + w, bottom = top + h;
    overlay_rules::write_back_corner(entry, static_cast<uint32_t>(right),
                                     static_cast<uint32_t>(bottom), rw, rh, space_width,
                                     space_height);

    if (entry.highlight && white_texture_) {
        const RECT box = {0, 0, w, h};
        const D3DXVECTOR3 position(static_cast<float>(left), static_cast<float>(top), 0.0f);
        sprite_->Draw(white_texture_, &box, nullptr, &position, highlight_colour);
    }
    RECT placed = {left, top, right, bottom};
    font->DrawTextA(sprite_, entry.text.c_str(), static_cast<INT>(entry.text.size()), &placed, 0,
                    colour);
    if (entry.border) {
        const float l = static_cast<float>(left - 2), r = static_cast<float>(right + 2);
        const float t = static_cast<float>(top), b = static_cast<float>(bottom);
        D3DXVECTOR2 corners[5] = {{l, t}, {r, t}, {r, b}, {l, b}, {l, t}};
        for (D3DXVECTOR2& corner : corners)
            corner = transformed(corner, transform);
        prepare_line(static_cast<float>(entry.line_width));
        line_->Draw(corners, 5, entry.line_color | opaque);
    }
    sprite_->End();
}

void d3d_mytext::draw_ellipse(D3DXVECTOR2 centre, float rx, float ry, uint32_t colour, float width)
{
    std::array<D3DXVECTOR2, 73> outline = ellipse_outline(centre, rx, ry);
    for (D3DXVECTOR2& point : outline)
        point = transformed(point, zoom_matrix_);
    prepare_line(width);
    line_->Draw(outline.data(), static_cast<DWORD>(outline.size()), colour | opaque);
}

void d3d_mytext::draw_inner_ellipses(const overlay_entry& entry, D3DXVECTOR2 max, D3DXVECTOR2 min)
{
    for (const inner_ellipse& ellipse : inner_ellipse_layout(entry.ellipse_layout, max, min))
        draw_ellipse(ellipse.centre, ellipse.rx, ellipse.ry, entry.line_color,
                     static_cast<float>(entry.line_width));
    if (!entry.text.empty())
        draw_label(entry.text, entry.text_color, entry.font_size,
                   D3DXVECTOR2(min.x + (max.x - min.x) * 0.5f,
                               max.y + static_cast<float>(entry.font_size)),
                   overlay_rules::label_centre | overlay_rules::label_bottom);
}

void d3d_mytext::draw_direction_mark(const overlay_entry& entry, D3DXVECTOR2 centre,
                                     D3DXVECTOR2 direction)
{
    const D3DXMATRIX frame = direction_mark_frame(centre, direction);
    auto shape = [&frame](const overlay_rules::mark_point* local, int count, D3DXVECTOR2* out) {
        for (int i = 0; i < count; ++i)
            out[i] = transformed(D3DXVECTOR2(local[i].x, local[i].y), frame);
    };
    prepare_line(1.0f);
    D3DXVECTOR2 points[5];
    shape(overlay_rules::mark_bar, 5, points);
    draw_polyline(points, 5, entry.line_color);
    if (overlay_rules::draws_arrow_a(entry.direction_mark)) {
        shape(overlay_rules::mark_arrow_a, 4, points);
        draw_polyline(points, 4, entry.line_color);
    }
    if (overlay_rules::draws_arrow_b(entry.direction_mark)) {
        shape(overlay_rules::mark_arrow_b, 4, points);
        draw_polyline(points, 4, entry.line_color);
    }
    D3DXVECTOR2 tip;
    shape(&overlay_rules::mark_tip_a, 1, &tip);
    draw_label("A", mark_letter_colour, entry.font_size, tip, 0);
    shape(&overlay_rules::mark_tip_b, 1, &tip);
    draw_label("B", mark_letter_colour, entry.font_size, tip, 0);
}
