// D3DX is not part of Windows: d3dx9_43.dll comes only with the DirectX end-user runtime. The
// library loads it the first time a Direct3D 9 overlay renderer starts and looks up the few
// functions it calls by name, so that it loads and draws without it.
#pragma once

#include <d3dx9.h>

struct d3dx_functions {
    decltype(&D3DXCreateLine) create_line = nullptr;
    decltype(&D3DXCreateSprite) create_sprite = nullptr;
    decltype(&D3DXCreateFontIndirectA) create_font = nullptr;
    decltype(&D3DXCreateTextureFromFileInMemory) create_texture_from_file = nullptr;
};

// The functions of d3dx9_43.dll, which stays loaded for the rest of the process once found;
// all null when the DLL is missing.
d3dx_functions find_d3dx_functions();
