// Draws the overlay list into the Direct3D 9 back buffer. D3DX is the first choice: one line
// object for every outline, one sprite for texts and their background boxes, fonts cached by
// height. Where a part of it does not work on the device (d3dx9_43.dll missing, a creation
// call failing, line drawing not implemented, fonts that need managed textures on a 9Ex
// device), that part is drawn by the library's own code on the same device: outlines as
// quads, texts from glyph textures made with GDI, in the same face, size and layout. The
// choice is made once per device.
#pragma once

#include <d3dx9.h>

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "../kx_vidrender.h"
#include "../recursive_lock.h"
#include "d3d_overlay_geometry.h"
#include "d3dx_library.h"
#include "glyph_atlas.h"
#include "overlay_batch.h"

class d3d_mytext {
  public:
    d3d_mytext() = default;
    ~d3d_mytext();
    d3d_mytext(const d3d_mytext&) = delete;
    d3d_mytext& operator=(const d3d_mytext&) = delete;

    // Borrows the device; width x height is the back buffer.
    bool init(IDirect3DDevice9* device, uint32_t width, uint32_t height);
    void release_resources();
    // Draws the list; `rect` is the zoom rectangle (the display region in window pixels) or
    // null. Texts get their laid-out corner written back into their points.
    bool draw(std::list<overlay_group>* groups, int ref_width, int ref_height, const RECT* rect);

  private:
    void choose_parts();
    void draw_outlines_without_d3dx();
    void draw_texts_without_d3dx();
    void set_dst_rect(const RECT* rect);
    void set_text_transform(const affine2d& transform);
    void draw_figure(overlay_entry& entry);
    void draw_text(overlay_entry& entry);
    void draw_label(const std::string& text, uint32_t colour, uint32_t height, D3DXVECTOR2 anchor,
                    int flags);
    bool draw_polyline(const D3DXVECTOR2* points, int count, float width, uint32_t colour);
    // Draws back-buffer points as one line `width` pixels wide.
    void stroke(const D3DXVECTOR2* points, int count, float width, uint32_t colour);
    void draw_ellipse(D3DXVECTOR2 centre, float rx, float ry, uint32_t colour, float width);
    void draw_direction_mark(const overlay_entry& entry, D3DXVECTOR2 centre, D3DXVECTOR2 direction);
    void draw_inner_ellipses(const overlay_entry& entry, D3DXVECTOR2 max, D3DXVECTOR2 min);
    static bool is_rectangle(const overlay_entry& entry);
    bool height_allowed(uint32_t height);
    ID3DXFont* get_font(uint32_t height);
    void release_fonts();
    glyph_atlas* get_atlas(uint32_t height);
    // The size of a text of `height` laid out on the path chosen for texts; false when it
    // cannot be drawn.
    bool measure_text(const std::string& text, uint32_t height, SIZE& size);
    // Draws a measured text into `placed` with the text transform, within a sprite scene on
    // the D3DX path.
    void place_text(const std::string& text, uint32_t height, const RECT& placed, uint32_t colour);
    void fill_box(const RECT& box, uint32_t colour);

    IDirect3DDevice9* device_ = nullptr;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t ref_width_ = 0;
    uint32_t ref_height_ = 0;
    d3dx_functions d3dx_;
    ID3DXLine* line_ = nullptr;
    ID3DXSprite* sprite_ = nullptr;
    recursive_lock font_mutex_;
    std::map<uint32_t, ID3DXFont*> font_cache_;
    std::map<uint32_t, std::unique_ptr<glyph_atlas>> atlas_cache_;
    // Heights refused by get_font, each logged once.
    std::set<uint32_t> refused_heights_;
    affine2d zoom_;
    // The transform texts are drawn with: the zoom, or a text's scaling to the reference size
    // followed by the zoom (the D3DX sprite holds the same one).
    affine2d text_transform_;
    RECT dst_rect_ = {};
    IDirect3DTexture9* white_texture_ = nullptr;
    bool sprite_has_zoom_ = true;
    bool ready_ = false;
    bool own_outlines_ = false;
    bool own_texts_ = false;
    overlay_batch batch_;
};
