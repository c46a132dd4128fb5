#include "import_patch.h"

#include <cstring>

#include "com_patch.h"

namespace {

template <typename T> T* at_rva(BYTE* base, DWORD rva)
{
    return reinterpret_cast<T*>(base + rva);
}

void** find_import_slot(HMODULE module, const char* dll, const char* function)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = at_rva<const IMAGE_NT_HEADERS>(base, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!module || imports.VirtualAddress == 0)
        return nullptr;
    for (auto* entry = at_rva<IMAGE_IMPORT_DESCRIPTOR>(base, imports.VirtualAddress); entry->Name;
         ++entry) {
        if (_stricmp(at_rva<const char>(base, entry->Name), dll) != 0)
            continue;
        // The lookup table keeps the names, the address table beside it the addresses.
        auto* names = at_rva<IMAGE_THUNK_DATA>(
            base, entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk);
        auto* slots = at_rva<IMAGE_THUNK_DATA>(base, entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* by_name = at_rva<const IMAGE_IMPORT_BY_NAME>(
                base, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

} // namespace

import_patch::import_patch(HMODULE module, const char* dll, const char* function, void* replacement)
    : slot_(find_import_slot(module, dll, function))
{
    if (slot_)
        com_patch_detail::write_slot(slot_, 0, replacement);
}

import_patch::~import_patch()
{
    if (slot_)
        com_patch_detail::restore_slot(slot_, 0);
}
