#include "d3d_mytext.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "../log_helper.h"
#include "../overlay/overlay_rules.h"

VR_LOG_SOURCE("..\\..\\..\\sources\\video_render\\d3dx9_render\\d3d_mytext")

namespace {

constexpr DWORD opaque = 0xFF000000;
constexpr uint32_t highlight_colour = 0xFF58582C;
// No text taller than the largest window is of any use; D3DX builds glyphs of the font's full
// size, and Wine's faults while drawing fonts of some 20,000 pixels.
constexpr int max_font_height = 8192;
// The text heights a renderer keeps fonts or glyph textures for.
constexpr size_t max_glyph_heights = 16;
// The most points one outline has: a figure's and its closing point, or an ellipse's 73.
constexpr int max_outline_points = static_cast<int>(overlay_rules::max_figure_points) + 1;

template <typename T> void release(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

} // namespace

d3d_mytext::~d3d_mytext()
{
    release_resources();
}

bool d3d_mytext::init(IDirect3DDevice9* device, uint32_t width, uint32_t height)
{
    release_resources();
    device_ = device;
    width_ = width;
    height_ = height;
    dst_rect_ = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    zoom_ = affine2d();
    text_transform_ = zoom_;
    sprite_has_zoom_ = true;
    if (!device)
        return false;
    const bool own_ready = batch_.init(device);
    choose_parts();
    ready_ = own_ready || (!own_outlines_ && !own_texts_);
    return ready_;
}

void d3d_mytext::choose_parts()
{
    d3dx_ = find_d3dx_functions();
    if (!d3dx_.create_line && !d3dx_.create_sprite && !d3dx_.create_font &&
        !d3dx_.create_texture_from_file) {
        VR_LOG(vr_log::notice, "d3dx9_43.dll is missing: overlays are drawn without D3DX\n");
        own_outlines_ = own_texts_ = true;
        return;
    }
    const std::vector<uint8_t> white = white_bitmap_file();
    if (!d3dx_.create_texture_from_file ||
        FAILED(d3dx_.create_texture_from_file(device_, white.data(),
                                              static_cast<UINT>(white.size()), &white_texture_)))
        white_texture_ = nullptr;
    if (!d3dx_.create_line || FAILED(d3dx_.create_line(device_, &line_)))
        line_ = nullptr;
    if (!d3dx_.create_sprite || FAILED(d3dx_.create_sprite(device_, &sprite_)))
        sprite_ = nullptr;
    set_text_transform(zoom_);
    if (!line_)
        draw_outlines_without_d3dx();
    // D3DX keeps font glyphs in managed textures, as it keeps the white one; where it cannot
    // make them (a Direct3D 9Ex device) its fonts fail or fault.
    if (!sprite_ || !white_texture_ || !d3dx_.create_font)
        draw_texts_without_d3dx();
}

void d3d_mytext::draw_outlines_without_d3dx()
{
    if (own_outlines_)
        return;
    own_outlines_ = true;
    release(line_);
    VR_LOG(vr_log::notice, "overlay outlines are drawn without D3DX on this device\n");
}

void d3d_mytext::draw_texts_without_d3dx()
{
    if (own_texts_)
        return;
    own_texts_ = true;
    release_fonts();
    release(sprite_);
    release(white_texture_);
    VR_LOG(vr_log::notice, "overlay texts are drawn without D3DX on this device\n");
}

void d3d_mytext::release_resources()
{
    release_fonts();
    {
        std::lock_guard<recursive_lock> lock(font_mutex_);
        atlas_cache_.clear();
    }
    release(line_);
    release(sprite_);
    release(white_texture_);
    batch_.release();
    device_ = nullptr;
    ready_ = false;
    own_outlines_ = own_texts_ = false;
}

bool d3d_mytext::draw(std::list<overlay_group>* groups, int ref_width, int ref_height,
                      const RECT* rect)
{
    if (!device_ || !ready_)
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
    batch_.end();
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
    zoom_ =
        then(translation(zoom.translate_x, zoom.translate_y), scaling(zoom.scale_x, zoom.scale_y));
    set_text_transform(zoom_);
    sprite_has_zoom_ = true;
}

void d3d_mytext::set_text_transform(const affine2d& transform)
{
    text_transform_ = transform;
    if (sprite_) {
        const D3DXMATRIX matrix = as_matrix(transform);
        sprite_->SetTransform(&matrix);
    }
}

void d3d_mytext::stroke(const D3DXVECTOR2* points, int count, float width, uint32_t colour)
{
    if (!own_outlines_) {
        line_->SetWidth(width);
        line_->SetAntialias(TRUE);
        const HRESULT drawn = line_->Draw(points, static_cast<DWORD>(count), colour | opaque);
        // Outside a scene every draw is refused; any other failure means that D3DX lines do
        // not draw on this device.
        if (SUCCEEDED(drawn) || drawn == D3DERR_INVALIDCALL)
            return;
        draw_outlines_without_d3dx();
    }
    batch_.add_polyline(points, count, width, colour | opaque);
}

bool d3d_mytext::draw_polyline(const D3DXVECTOR2* points, int count, float width, uint32_t colour)
{
    if (!points || count <= 0)
        return false;
    D3DXVECTOR2 zoomed[max_outline_points];
    const int drawn = std::min(count, max_outline_points);
    for (int i = 0; i < drawn; ++i)
        zoomed[i] = apply(zoom_, points[i]);
    stroke(zoomed, drawn, width, colour);
    return true;
}

void d3d_mytext::draw_figure(overlay_entry& entry)
{
    D3DXVECTOR2 mapped[max_outline_points] = {};
    size_t count = 0;
    float sum_x = 0.0f, sum_y = 0.0f;
    for (const overlay_point& point : entry.points) {
        if (count == overlay_rules::max_figure_points)
            break;
        mapped[count] = map_figure_point(point, width_, height_);
        sum_x += mapped[count].x;
        sum_y += mapped[count].y;
        ++count;
    }
    const size_t mapped_count = count;
    if (entry.closed && count > 0)
        mapped[count++] = mapped[0];
    draw_polyline(mapped, static_cast<int>(count), static_cast<float>(entry.line_width),
                  entry.line_color);

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

bool d3d_mytext::height_allowed(uint32_t height)
{
    // Negative heights are character heights to D3DX and GDI: the same limit holds for them.
    const int signed_height = static_cast<int>(height);
    if (signed_height <= max_font_height && signed_height >= -max_font_height &&
        refused_heights_.count(height) == 0)
        return true;
    if (refused_heights_.insert(height).second)
        VR_LOG(vr_log::error, "overlay font height %d out of range, text not drawn!\n",
               signed_height);
    return false;
}

void d3d_mytext::release_fonts()
{
    std::lock_guard<recursive_lock> lock(font_mutex_);
    for (auto& cached : font_cache_)
        cached.second->Release();
    font_cache_.clear();
}

ID3DXFont* d3d_mytext::get_font(uint32_t height)
{
    std::lock_guard<recursive_lock> lock(font_mutex_);
    const auto cached = font_cache_.find(height);
    if (cached != font_cache_.end())
        return cached->second;
    // A font keeps glyph textures of its full height: as with glyph textures, a renderer keeps
    // the fonts of a few heights, and starts again (once the sprite has drawn what it holds)
    // when texts come in ever more sizes.
    if (font_cache_.size() >= max_glyph_heights) {
        if (sprite_)
            sprite_->Flush();
        release_fonts();
    }
    D3DXFONT_DESCA description = {};
    description.Height = static_cast<INT>(height);
    description.CharSet = DEFAULT_CHARSET;
    std::memcpy(description.FaceName, overlay_rules::font_face, sizeof(overlay_rules::font_face));
    ID3DXFont* font = nullptr;
    if (FAILED(d3dx_.create_font(device_, &description, &font)) || !font)
        return nullptr;
    font_cache_[height] = font;
    return font;
}

glyph_atlas* d3d_mytext::get_atlas(uint32_t height)
{
    std::lock_guard<recursive_lock> lock(font_mutex_);
    const auto cached = atlas_cache_.find(height);
    if (cached != atlas_cache_.end())
        return cached->second.get();
    // Glyph textures are large: a renderer keeps those of a few heights, and starts again
    // when texts come in ever more sizes (once the quads drawn from them are sent).
    if (atlas_cache_.size() >= max_glyph_heights) {
        batch_.let_go_of_texture();
        atlas_cache_.clear();
    }
    auto atlas = std::make_unique<glyph_atlas>(device_, static_cast<int>(height));
    if (!atlas->ready()) {
        // Glyphs too tall for a texture: the height is refused from now on.
        refused_heights_.insert(height);
        VR_LOG(vr_log::error, "overlay font height %d out of range, text not drawn!\n",
               static_cast<int>(height));
        return nullptr;
    }
    return (atlas_cache_[height] = std::move(atlas)).get();
}

bool d3d_mytext::measure_text(const std::string& text, uint32_t height, SIZE& size)
{
    if (text.empty() || !height_allowed(height))
        return false;
    if (!own_texts_) {
        if (ID3DXFont* font = get_font(height)) {
            RECT measured = {0, 0, 0, 0};
            font->DrawTextA(nullptr, text.c_str(), -1, &measured, DT_CALCRECT, opaque);
            size = {measured.right - measured.left, measured.bottom - measured.top};
            return true;
        }
        draw_texts_without_d3dx();
    }
    glyph_atlas* atlas = get_atlas(height);
    const std::wstring wide = overlay_rules::to_wide(text);
    if (!atlas || wide.empty())
        return false;
    size = atlas->measure(wide);
    return true;
}

void d3d_mytext::place_text(const std::string& text, uint32_t height, const RECT& placed,
                            uint32_t colour)
{
    if (!own_texts_) {
        if (ID3DXFont* font = get_font(height)) {
            RECT box = placed;
            font->DrawTextA(sprite_, text.c_str(), -1, &box, 0, colour | opaque);
        }
        return;
    }
    if (glyph_atlas* atlas = get_atlas(height))
        atlas->draw(batch_, overlay_rules::to_wide(text), placed.left, placed.top, text_transform_,
                    colour | opaque);
}

void d3d_mytext::fill_box(const RECT& box, uint32_t colour)
{
    if (!own_texts_) {
        if (!white_texture_)
            return;
        const RECT source = {0, 0, box.right - box.left, box.bottom - box.top};
        const D3DXVECTOR3 position(static_cast<float>(box.left), static_cast<float>(box.top), 0.0f);
        sprite_->Draw(white_texture_, &source, nullptr, &position, colour);
        return;
    }
    const float l = static_cast<float>(box.left), r = static_cast<float>(box.right);
    const float t = static_cast<float>(box.top), b = static_cast<float>(box.bottom);
    const D3DXVECTOR2 corners[4] = {
        apply(text_transform_, D3DXVECTOR2(l, t)), apply(text_transform_, D3DXVECTOR2(r, t)),
        apply(text_transform_, D3DXVECTOR2(r, b)), apply(text_transform_, D3DXVECTOR2(l, b))};
    batch_.add_solid_quad(corners, colour);
}

void d3d_mytext::draw_label(const std::string& text, uint32_t colour, uint32_t height,
                            D3DXVECTOR2 anchor, int flags)
{
    SIZE size;
    if (!measure_text(text, height, size))
        return;
    // Labels belong to figures, which are zoomed only: not scaled as the text before them was.
    if (!sprite_has_zoom_) {
        set_text_transform(zoom_);
        sprite_has_zoom_ = true;
    }
    LONG x = static_cast<LONG>(anchor.x), y = static_cast<LONG>(anchor.y);
    overlay_rules::shift_for_flags(x, y, size.cx, size.cy, flags);
    const RECT placed = {x, y, x + size.cx, y + size.cy};
    if (own_texts_) {
        place_text(text, height, placed, colour);
        return;
    }
    batch_.flush();
    sprite_->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_TEXTURE);
    place_text(text, height, placed, colour);
    sprite_->End();
}

void d3d_mytext::draw_text(overlay_entry& entry)
{
    if (entry.text.empty() || entry.points.empty() || width_ == 0 || height_ == 0)
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
    overlay_rules::text_margins margins = overlay_rules::margins_for(entry);
    affine2d transform = zoom_;
    if (!entry.scale_to_reference) {
        if (!sprite_has_zoom_) {
            set_text_transform(zoom_);
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
        margins = overlay_rules::scaled_margins(margins, ref_width_, ref_height_, width_, height_);
        transform = then(scaling(static_cast<float>(width_) / static_cast<float>(ref_width_),
                                 static_cast<float>(height_) / static_cast<float>(ref_height_)),
                         zoom_);
        set_text_transform(transform);
        sprite_has_zoom_ = false;
    }
    SIZE size;
    if (!measure_text(entry.text, font_height, size))
        return;
    const LONG left = static_cast<LONG>(
        overlay_rules::aligned_start(px, size.cx, entry.h_align, margins.horizontal));
    const LONG top = static_cast<LONG>(
        overlay_rules::aligned_start(py, size.cy, entry.v_align, margins.vertical));
    const RECT placed = {left, top, left + size.cx, top + size.cy};
    overlay_rules::write_back_corner(entry, static_cast<uint32_t>(placed.right),
                                     static_cast<uint32_t>(placed.bottom), rw, rh, space_width,
                                     space_height);

    const bool in_sprite = !own_texts_;
    if (in_sprite) {
        batch_.flush();
        sprite_->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_DONOTSAVESTATE);
    }
    if (entry.highlight)
        fill_box(placed, highlight_colour);
    place_text(entry.text, font_height, placed, entry.text_color);
    if (entry.border) {
        const float l = static_cast<float>(left - 2), r = static_cast<float>(placed.right + 2);
        const float t = static_cast<float>(top), b = static_cast<float>(placed.bottom);
        D3DXVECTOR2 corners[5] = {{l, t}, {r, t}, {r, b}, {l, b}, {l, t}};
        for (D3DXVECTOR2& corner : corners)
            corner = apply(transform, corner);
        stroke(corners, 5, static_cast<float>(entry.line_width), entry.line_color);
    }
    if (in_sprite)
        sprite_->End();
}

void d3d_mytext::draw_ellipse(D3DXVECTOR2 centre, float rx, float ry, uint32_t colour, float width)
{
    std::array<D3DXVECTOR2, 73> outline = ellipse_outline(centre, rx, ry);
    draw_polyline(outline.data(), static_cast<int>(outline.size()), width, colour);
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
    const affine2d frame = direction_mark_frame(centre, direction);
    auto shape = [&frame](const overlay_rules::mark_point* local, int count, D3DXVECTOR2* out) {
        for (int i = 0; i < count; ++i)
            out[i] = apply(frame, D3DXVECTOR2(local[i].x, local[i].y));
    };
    D3DXVECTOR2 points[5];
    shape(overlay_rules::mark_bar, 5, points);
    draw_polyline(points, 5, 1.0f, entry.line_color);
    if (overlay_rules::draws_arrow_a(entry.direction_mark)) {
        shape(overlay_rules::mark_arrow_a, 4, points);
        draw_polyline(points, 4, 1.0f, entry.line_color);
    }
    if (overlay_rules::draws_arrow_b(entry.direction_mark)) {
        shape(overlay_rules::mark_arrow_b, 4, points);
        draw_polyline(points, 4, 1.0f, entry.line_color);
    }
    D3DXVECTOR2 tip;
    shape(&overlay_rules::mark_tip_a, 1, &tip);
    draw_label("A", overlay_rules::mark_letter_argb, entry.font_size, tip, 0);
    shape(&overlay_rules::mark_tip_b, 1, &tip);
    draw_label("B", overlay_rules::mark_letter_argb, entry.font_size, tip, 0);
}
