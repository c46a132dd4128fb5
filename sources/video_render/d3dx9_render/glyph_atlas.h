// The overlay texts of one font height without D3DX: the overlay face made with GDI as D3DX
// makes it (the same description), texts measured as D3DX measures them (the sum of the
// characters' advances, one font cell high per line), and each character rasterised by GDI
// the first time it is drawn into one texture that the overlay batch draws glyph quads from.
#pragma once

#include <d3d9.h>

#include <cstdint>
#include <string>
#include <unordered_map>

#include "d3d_overlay_geometry.h"
#include "overlay_batch.h"

class glyph_atlas {
  public:
    glyph_atlas(IDirect3DDevice9* device, int height);
    ~glyph_atlas();
    glyph_atlas(const glyph_atlas&) = delete;
    glyph_atlas& operator=(const glyph_atlas&) = delete;

    bool ready() const { return texture_.texture != nullptr; }

    // The size of the text laid out from the top-left corner, lines split at '\n'.
    SIZE measure(const std::wstring& text);
    // Adds the text's glyph quads with its top-left corner at (left, top) in window pixels,
    // taken to the back buffer by `transform`.
    void draw(overlay_batch& batch, const std::wstring& text, LONG left, LONG top,
              const affine2d& transform, uint32_t argb);

  private:
    struct glyph {
        int advance = 0;
        bool tried = false;  // rasterised, or found not to fit
        bool placed = false; // in the texture
        RECT cell = {};      // its texels; the ink starts `pad_` texels right of the left edge
    };
    glyph& entry(wchar_t character);
    // Rasterises every character of the text not yet tried; false if one did not fit.
    bool rasterise(const std::wstring& text);
    bool place(glyph& found, wchar_t character);
    void clear();

    IDirect3DDevice9* device_;
    HDC dc_ = nullptr;
    HFONT font_ = nullptr;
    HGDIOBJ previous_font_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_bitmap_ = nullptr;
    uint32_t* bits_ = nullptr;
    int cell_height_ = 0;
    int pad_ = 0;
    int scratch_width_ = 0;
    batch_texture texture_;
    int side_ = 0;
    int shelf_x_ = 0;
    int shelf_y_ = 0;
    std::unordered_map<wchar_t, glyph> glyphs_;
};
