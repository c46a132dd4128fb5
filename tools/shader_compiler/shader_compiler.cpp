// Compiles the library's shaders into C++ headers of 32-bit words, with the system's
// d3dcompiler_47.dll: shader assembly through D3DAssemble, HLSL through D3DCompile.
//
//   shader_compiler --write <shaders.list>   regenerates every header of the list
//   shader_compiler --check <shaders.list>   fails when a header differs from its source
//
// Each line of the list: "asm <source> <header> <array> [<define>]" or
// "hlsl <source> <header> <array> <entry> <profile>", paths relative to the list's folder.
#include <windows.h>

#include <d3dcompiler.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

typedef HRESULT(WINAPI* assemble_fn)(const void* data, SIZE_T size, const char* name,
                                     const D3D_SHADER_MACRO* defines, ID3DInclude* include,
                                     UINT flags, ID3DBlob** shader, ID3DBlob** errors);
typedef HRESULT(WINAPI* compile_fn)(const void* data, SIZE_T size, const char* name,
                                    const D3D_SHADER_MACRO* defines, ID3DInclude* include,
                                    const char* entry, const char* target, UINT flags1, UINT flags2,
                                    ID3DBlob** shader, ID3DBlob** errors);

struct shader_entry {
    std::string kind;
    std::string source;
    std::string header;
    std::string array;
    std::string entry;   // hlsl: entry point; asm: a macro to define, if any
    std::string profile; // hlsl only
};

bool read_file(const std::string& path, std::string& text)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

std::string folder_of(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string file_name_of(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<shader_entry> read_list(const std::string& path)
{
    std::vector<shader_entry> entries;
    std::string text;
    if (!read_file(path, text))
        return entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        shader_entry entry;
        fields >> entry.kind >> entry.source >> entry.header >> entry.array >> entry.entry >>
            entry.profile;
        entries.push_back(entry);
    }
    return entries;
}

class compiler {
  public:
    compiler() : library_(LoadLibraryA("d3dcompiler_47.dll"))
    {
        if (library_) {
            assemble_ = reinterpret_cast<assemble_fn>(
                reinterpret_cast<void*>(GetProcAddress(library_, "D3DAssemble")));
            compile_ = reinterpret_cast<compile_fn>(
                reinterpret_cast<void*>(GetProcAddress(library_, "D3DCompile")));
        }
    }
    ~compiler()
    {
        if (library_)
            FreeLibrary(library_);
    }
    compiler(const compiler&) = delete;
    compiler& operator=(const compiler&) = delete;

    // Compiles one shader; on failure prints the compiler's messages and returns false.
    bool build(const shader_entry& entry, const std::string& source, std::vector<uint8_t>& code)
    {
        ID3DBlob* shader = nullptr;
        ID3DBlob* errors = nullptr;
        HRESULT result = E_FAIL;
        const std::string name = file_name_of(entry.source);
        const D3D_SHADER_MACRO defines[] = {{entry.entry.c_str(), "1"}, {nullptr, nullptr}};
        if (entry.kind == "asm" && assemble_)
            result =
                assemble_(source.data(), source.size(), name.c_str(),
                          entry.entry.empty() ? nullptr : defines, nullptr, 0, &shader, &errors);
        else if (entry.kind == "hlsl" && compile_)
            result = compile_(source.data(), source.size(), name.c_str(), nullptr, nullptr,
                              entry.entry.c_str(), entry.profile.c_str(),
                              D3DCOMPILE_OPTIMIZATION_LEVEL3, 0, &shader, &errors);
        if (errors) {
            std::fprintf(stderr, "%s: %.*s\n", entry.source.c_str(),
                         static_cast<int>(errors->GetBufferSize()),
                         static_cast<const char*>(errors->GetBufferPointer()));
            errors->Release();
        }
        if (FAILED(result) || !shader) {
            std::fprintf(stderr, "%s: cannot compile (0x%08lx)\n", entry.source.c_str(),
                         static_cast<unsigned long>(result));
            return false;
        }
        const auto* bytes = static_cast<const uint8_t*>(shader->GetBufferPointer());
        code.assign(bytes, bytes + shader->GetBufferSize());
        shader->Release();
        return true;
    }

  private:
    HMODULE library_;
    assemble_fn assemble_ = nullptr;
    compile_fn compile_ = nullptr;
};

std::string header_text(const shader_entry& entry, const std::vector<uint8_t>& code)
{
    std::vector<uint8_t> padded = code;
    padded.resize((padded.size() + 3) / 4 * 4, 0);
    std::ostringstream text;
    text << "// Generated by tools/shader_compiler from " << file_name_of(entry.source)
         << "; do not edit.\n// clang-format off\n#pragma once\n\n#include <cstddef>\n#include "
            "<cstdint>\n\n"
         << "namespace compiled_shaders {\n\n"
         << "inline constexpr size_t " << entry.array << "_size = " << code.size() << ";\n"
         << "inline constexpr uint32_t " << entry.array << "[] = {";
    for (size_t i = 0; i < padded.size(); i += 4) {
        const uint32_t word = padded[i] | padded[i + 1] << 8 | padded[i + 2] << 16 |
                              static_cast<uint32_t>(padded[i + 3]) << 24;
        char number[16];
        std::snprintf(number, sizeof(number), "0x%08x,", word);
        text << ((i / 4) % 6 == 0 ? "\n    " : " ") << number;
    }
    text << "\n};\n\n} // namespace compiled_shaders\n";
    return text.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::string(argv[1]) != "--write" && std::string(argv[1]) != "--check")) {
        std::fprintf(stderr, "usage: shader_compiler --write|--check <shaders.list>\n");
        return 2;
    }
    const bool write = std::string(argv[1]) == "--write";
    const std::string list = argv[2];
    const std::vector<shader_entry> entries = read_list(list);
    if (entries.empty()) {
        std::fprintf(stderr, "%s: no shaders listed\n", list.c_str());
        return 2;
    }
    compiler tool;
    int failures = 0;
    for (const shader_entry& entry : entries) {
        std::string source;
        std::vector<uint8_t> code;
        if (!read_file(folder_of(list) + entry.source, source)) {
            std::fprintf(stderr, "%s: cannot read\n", entry.source.c_str());
            ++failures;
            continue;
        }
        if (!tool.build(entry, source, code)) {
            ++failures;
            continue;
        }
        const std::string generated = header_text(entry, code);
        const std::string header_path = folder_of(list) + entry.header;
        if (write) {
            std::ofstream(header_path, std::ios::binary) << generated;
            std::printf("%s: %zu bytes\n", entry.header.c_str(), code.size());
            continue;
        }
        std::string committed;
        if (!read_file(header_path, committed) || committed != generated) {
            std::fprintf(stderr, "%s is out of date: run scripts/compile_shaders.sh\n",
                         entry.header.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
