#include "glyph_atlas.h"

#include <algorithm>
#include <cstring>
#include <cwctype>

#include "../overlay/overlay_rules.h"

namespace {

// Room for about 16 rows of glyphs, within what every Direct3D 9 device can sample.
int texture_side_for(int cell_height)
{
    int side = 256;
    while (side < cell_height * 16 && side < 2048)
        side *= 2;
    return side;
}

} // namespace

glyph_atlas::glyph_atlas(IDirect3DDevice9* device, int height) : device_(device)
{
    LOGFONTA description = {};
    description.lfHeight = height;
    description.lfCharSet = DEFAULT_CHARSET;
    std::memcpy(description.lfFaceName, overlay_rules::font_face, sizeof(overlay_rules::font_face));
    dc_ = CreateCompatibleDC(nullptr);
    font_ = CreateFontIndirectA(&description);
    if (!dc_ || !font_)
        return;
    previous_font_ = SelectObject(dc_, font_);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc_, &metrics);
    cell_height_ = metrics.tmHeight;
    // Room for the ink that reaches out of a character's advance on either side.
    pad_ = cell_height_ / 4 + 2;
    side_ = texture_side_for(cell_height_);
    // The widest glyphs of a very tall font are cut at the texture's width.
    scratch_width_ = std::min(static_cast<int>(metrics.tmMaxCharWidth) + 2 * pad_, side_);
    if (cell_height_ <= 0 || cell_height_ + 1 + static_cast<int>(white_block_texels) > side_)
        return;

    BITMAPINFO info = {};
    info.bmiHeader = {
        sizeof(info.bmiHeader), scratch_width_, -cell_height_, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap_ || !bits)
        return;
    bits_ = static_cast<uint32_t*>(bits);
    previous_bitmap_ = SelectObject(dc_, bitmap_);
    SetTextColor(dc_, RGB(255, 255, 255));
    SetBkMode(dc_, TRANSPARENT);
    SetTextAlign(dc_, TA_LEFT | TA_TOP | TA_NOUPDATECP);

    if (FAILED(device->CreateTexture(static_cast<UINT>(side_), static_cast<UINT>(side_), 1,
                                     D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                     &texture_.texture, nullptr)))
        texture_.texture = nullptr;
    texture_.white_u = texture_.white_v =
        static_cast<float>(white_block_texels) * 0.5f / static_cast<float>(side_);
    clear();
}

glyph_atlas::~glyph_atlas()
{
    if (texture_.texture)
        texture_.texture->Release();
    if (previous_bitmap_)
        SelectObject(dc_, previous_bitmap_);
    if (previous_font_)
        SelectObject(dc_, previous_font_);
    if (bitmap_)
        DeleteObject(bitmap_);
    if (font_)
        DeleteObject(font_);
    if (dc_)
        DeleteDC(dc_);
}

void glyph_atlas::clear()
{
    glyphs_.clear();
    shelf_x_ = static_cast<int>(white_block_texels) + 1;
    shelf_y_ = 0;
    D3DLOCKED_RECT locked;
    if (!texture_.texture || FAILED(texture_.texture->LockRect(0, &locked, nullptr, 0))) {
        if (texture_.texture)
            texture_.texture->Release();
        texture_.texture = nullptr;
        return;
    }
    for (int y = 0; y < side_; ++y)
        std::memset(static_cast<uint8_t*>(locked.pBits) + static_cast<size_t>(y) * locked.Pitch, 0,
                    static_cast<size_t>(side_) * 4);
    fill_white_block(locked);
    texture_.texture->UnlockRect(0);
}

glyph_atlas::glyph& glyph_atlas::entry(wchar_t character)
{
    const auto found = glyphs_.find(character);
    if (found != glyphs_.end())
        return found->second;
    glyph& added = glyphs_[character];
    SIZE size = {};
    if (GetTextExtentPoint32W(dc_, &character, 1, &size))
        added.advance = size.cx;
    // Blanks leave no ink: nothing to rasterise.
    added.tried = std::iswspace(character) != 0;
    return added;
}

SIZE glyph_atlas::measure(const std::wstring& text)
{
    LONG width = 0, line = 0, lines = 1;
    for (wchar_t character : text) {
        if (character == L'\n') {
            ++lines;
            line = 0;
            continue;
        }
        line += entry(character).advance;
        width = std::max(width, line);
    }
    return {width, lines * cell_height_};
}

bool glyph_atlas::place(glyph& found, wchar_t character)
{
    const int width = std::min(found.advance + 2 * pad_, scratch_width_);
    if (shelf_x_ + width > side_) {
        shelf_x_ = 0;
        shelf_y_ += cell_height_ + 1;
    }
    if (shelf_y_ + cell_height_ > side_)
        return false;
    std::memset(bits_, 0, static_cast<size_t>(scratch_width_) * cell_height_ * 4);
    TextOutW(dc_, pad_, 0, &character, 1);
    GdiFlush();
    const RECT cell = {shelf_x_, shelf_y_, shelf_x_ + width, shelf_y_ + cell_height_};
    D3DLOCKED_RECT locked;
    if (FAILED(texture_.texture->LockRect(0, &locked, &cell, 0)))
        return false;
    for (int y = 0; y < cell_height_; ++y) {
        const uint32_t* from = bits_ + static_cast<size_t>(y) * scratch_width_;
        auto* to = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) +
                                               static_cast<size_t>(y) * locked.Pitch);
        for (int x = 0; x < width; ++x) {
            // White ink on black: the brightest channel is the coverage.
            const uint32_t c = from[x];
            const uint32_t coverage = std::max({c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF});
            to[x] = coverage << 24 | 0x00FFFFFF;
        }
    }
    texture_.texture->UnlockRect(0);
    found.cell = cell;
    shelf_x_ += width + 1;
    return true;
}

bool glyph_atlas::rasterise(const std::wstring& text)
{
    bool all = true;
    for (wchar_t character : text) {
        if (character == L'\n')
            continue;
        glyph& found = entry(character);
        if (!found.tried) {
            found.tried = true;
            found.placed = place(found, character);
        }
        all = all && (found.placed || std::iswspace(character));
    }
    return all;
}

void glyph_atlas::draw(overlay_batch& batch, const std::wstring& text, LONG left, LONG top,
                       const affine2d& transform, uint32_t argb)
{
    if (!ready())
        return;
    if (!rasterise(text)) {
        // The texture is full: start it again, once the quads drawn from it so far are sent.
        batch.let_go_of_texture();
        clear();
        if (!ready())
            return;
        rasterise(text);
    }
    const float scale = 1.0f / static_cast<float>(side_);
    float x = static_cast<float>(left), y = static_cast<float>(top);
    for (wchar_t character : text) {
        if (character == L'\n') {
            x = static_cast<float>(left);
            y += static_cast<float>(cell_height_);
            continue;
        }
        const glyph& found = entry(character);
        if (found.placed) {
            const float x0 = x - static_cast<float>(pad_);
            const float x1 = x0 + static_cast<float>(found.cell.right - found.cell.left);
            const float y1 = y + static_cast<float>(cell_height_);
            const D3DXVECTOR2 corners[4] = {
                apply(transform, D3DXVECTOR2(x0, y)), apply(transform, D3DXVECTOR2(x1, y)),
                apply(transform, D3DXVECTOR2(x1, y1)), apply(transform, D3DXVECTOR2(x0, y1))};
            batch.add_textured_quad(texture_, corners, found.cell.left * scale,
                                    found.cell.top * scale, found.cell.right * scale,
                                    found.cell.bottom * scale, argb);
        }
        x += static_cast<float>(found.advance);
    }
}
