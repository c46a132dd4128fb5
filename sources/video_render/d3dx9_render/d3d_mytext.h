// Draws the overlay list into the Direct3D 9 back buffer with D3DX: one line object for
// every outline, one sprite for texts and their background boxes, fonts cached by height.
#pragma once

#include <d3dx9.h>

#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "../kx_vidrender.h"

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
    void set_dst_rect(const RECT* rect);
    void draw_figure(overlay_entry& entry);
    void draw_text(overlay_entry& entry);
    void draw_label(const std::string& text, uint32_t colour, uint32_t height, D3DXVECTOR2 anchor,
                    int flags);
    bool draw_polyline(const D3DXVECTOR2* points, int count, uint32_t colour);
    void draw_ellipse(D3DXVECTOR2 centre, float rx, float ry, uint32_t colour, float width);
    void draw_direction_mark(const overlay_entry& entry, D3DXVECTOR2 centre, D3DXVECTOR2 direction);
    void draw_inner_ellipses(const overlay_entry& entry, D3DXVECTOR2 max, D3DXVECTOR2 min);
    static bool is_rectangle(const overlay_entry& entry);
    ID3DXFont* get_font(uint32_t height);
    void prepare_line(float width);

    IDirect3DDevice9* device_ = nullptr;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t ref_width_ = 0;
    uint32_t ref_height_ = 0;
    ID3DXLine* line_ = nullptr;
    ID3DXSprite* sprite_ = nullptr;
    std::recursive_mutex font_mutex_;
    std::map<uint32_t, ID3DXFont*> font_cache_;
    // Heights refused by get_font, each logged once.
    std::set<uint32_t> refused_heights_;
    D3DXMATRIX zoom_matrix_;
    RECT dst_rect_ = {};
    IDirect3DTexture9* white_texture_ = nullptr;
    bool sprite_has_zoom_ = true;
    bool texts_usable_ = true;
};
