// The anchors of the overlay benchmarks: the entries of an overlay list drawn with the
// platform's own objects, every one made once and reused, as the smallest program that draws
// those figures, texts, fonts and colours would do it. The list is reduced once, by plain
// mapping of its own, to strokes, ellipses and texts in window pixels; each frame then only
// calls GDI and GDI+ (gdi_anchor) or D3DX (d3dx_anchor). Where a text goes depends on its
// measured size, so every text is measured on every frame, as the renderers do.
#pragma once

#include <windows.h>

#include <d3dx9.h>

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gdi_manager.h"
#include "kx_vidrender.h"

namespace anchor {

struct stroke {
    std::vector<POINT> points; // two points: a line
    uint32_t rgb;
    int width;
};

struct ellipse {
    RECT box;
    uint32_t rgb;
    int width;
};

struct text {
    std::string narrow;
    std::wstring wide;
    uint32_t height;
    uint32_t rgb;
    float x, y;
    float shift_x, shift_y; // fractions of the measured size the text moves left and up by
    bool label;             // a figure's label (never clipped) rather than a text entry
    bool highlight;         // a box behind the text (Direct3D 9)
    bool border;            // a frame around the text
    uint32_t border_rgb;
    int border_width;
};

struct scene {
    std::vector<stroke> strokes;
    std::vector<ellipse> ellipses;
    std::vector<text> texts;
};

// The primitives of `groups` in a window of width x height.
scene reduce(const std::list<overlay_group>& groups, int width, int height);

// GDI pens and GDI+ fonts, string formats and brushes for a scene, made once; a frame makes
// only the graphics object of the device context it draws on.
class gdi_anchor {
  public:
    explicit gdi_anchor(const scene& drawn);
    ~gdi_anchor();
    gdi_anchor(const gdi_anchor&) = delete;
    gdi_anchor& operator=(const gdi_anchor&) = delete;

    // False when an object could not be made or GDI+ failed on the frame.
    bool frame(HDC dc);

  private:
    Gdiplus::RectF placed(Gdiplus::GpGraphics* graphics, const text& t) const;

    const scene& scene_;
    std::map<std::pair<uint32_t, int>, HPEN> pens_;
    std::map<uint32_t, Gdiplus::GpFont*> fonts_;
    std::map<uint32_t, Gdiplus::GpSolidFill*> brushes_;
    Gdiplus::GpStringFormat* formats_[2] = {nullptr, nullptr}; // texts, labels
    bool made_ = true;
};

// A D3DX line, a sprite, fonts by height and a white texture for highlight boxes, made once
// on a device; a frame draws the scene between the caller's BeginScene and EndScene.
class d3dx_anchor {
  public:
    d3dx_anchor(IDirect3DDevice9* device, const scene& drawn);
    ~d3dx_anchor();
    d3dx_anchor(const d3dx_anchor&) = delete;
    d3dx_anchor& operator=(const d3dx_anchor&) = delete;

    bool ready() const { return made_; }
    void frame();

  private:
    const scene& scene_;
    std::vector<std::vector<D3DXVECTOR2>> outlines_; // strokes, then ellipses
    std::vector<std::pair<float, uint32_t>> outline_pens_;
    ID3DXLine* line_ = nullptr;
    ID3DXSprite* sprite_ = nullptr;
    IDirect3DTexture9* white_ = nullptr;
    std::map<uint32_t, ID3DXFont*> fonts_;
    bool made_ = true;
};

} // namespace anchor
