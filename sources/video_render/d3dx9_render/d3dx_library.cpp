#include "d3dx_library.h"

namespace {

HMODULE d3dx_module()
{
    static const HMODULE module = LoadLibraryA("d3dx9_43.dll");
    return module;
}

template <typename function> void look_up(HMODULE module, const char* name, function& found)
{
    // Through the generic function pointer type, which converts to every other.
    found = reinterpret_cast<function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

} // namespace

d3dx_functions find_d3dx_functions()
{
    d3dx_functions functions;
    const HMODULE module = d3dx_module();
    if (!module)
        return functions;
    look_up(module, "D3DXCreateLine", functions.create_line);
    look_up(module, "D3DXCreateSprite", functions.create_sprite);
    look_up(module, "D3DXCreateFontIndirectA", functions.create_font);
    look_up(module, "D3DXCreateTextureFromFileInMemory", functions.create_texture_from_file);
    return functions;
}
