#include "d3d9_creation_outcome.h"

#include <cstdint>

#include "d3d9_storm.h"

const char capability_check[] = "capability check";

namespace {

void* as_pointer(HRESULT result)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(result)));
}

// One failed call; `probe` tells the capability check's Direct3DCreate9Ex from the one the
// backend makes its device with.
consequence consequence_of(const std::string& name, HRESULT code, bool probe, device_path path)
{
    // D3DX objects serve the overlays only: without them the picture is still drawn.
    if (name.compare(0, 4, "D3DX") == 0)
        return {false, {}};
    if (name == "Direct3DCreate9Ex" && probe)
        return {false, {formatted("Check D3D9 Failed:%p\n", as_pointer(code))}};
    if (name == "Direct3DCreate9Ex")
        return {false,
                {formatted("Direct3DCreate9Ex error,code:%p!", as_pointer(code)),
                 "CreateDeviceEx error!Try CreateDevice...\n"}};
    if (name == "CreateDeviceEx")
        return {false,
                {formatted("CreateDeviceEx error,code:%p!\n", as_pointer(code)),
                 "CreateDeviceEx error!Try CreateDevice...\n"}};
    if (name == "Direct3DCreate9")
        return {true,
                {formatted("Direct3DCreate9 error,code:%p!", as_pointer(0)),
                 "CreateDevice error too!\n"}};
    if (name == "CreateDevice")
        return {true,
                {formatted("CreateDevice error,code:%p!\n", as_pointer(code)),
                 "CreateDevice error too!\n"}};
    if (name == "GetSwapChain")
        return {true, {"GetSwapChain error !\n"}};
    if (name == "CreateAdditionalSwapChain")
        return {true,
                {formatted("create additional swapchain failed %d\n", static_cast<int>(code))}};
    if (name == "CreatePixelShader")
        return {true,
                {path == device_path::shared ? "create_render CS_HWCEEL error !\n"
                                             : "create_render error !\n"}};
    if (name == "CreateVertexBuffer" || name == "CreateTexture")
        return {true, {"set_image_buffer error !\n"}};
    return {true, {"(no rule for a failing " + name + ")"}};
}

bool is_probe(const std::vector<creation_call>& calls, size_t i, call_origin origin)
{
    if (origin != call_origin::initialisation || calls[i].name != "Direct3DCreate9Ex")
        return false;
    for (size_t j = 0; j < i; ++j)
        if (calls[j].name == "Direct3DCreate9Ex")
            return false;
    return true;
}

} // namespace

consequence consequence_of(const std::vector<creation_call>& calls, device_path path,
                           call_origin origin)
{
    consequence total;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (SUCCEEDED(calls[i].result))
            continue;
        const consequence one =
            consequence_of(calls[i].name, calls[i].result, is_probe(calls, i, origin), path);
        total.fatal = total.fatal || one.fatal;
        total.lines.insert(total.lines.end(), one.lines.begin(), one.lines.end());
    }
    return total;
}

std::string step_name(const std::vector<creation_call>& calls, size_t i, call_origin origin)
{
    return is_probe(calls, i, origin) ? capability_check : calls[i].name;
}

bool chosen_step(const std::vector<creation_call>& calls, size_t n,
                 const std::set<std::string>& short_names, call_origin origin)
{
    if (storm_options().every_step)
        return true;
    const std::string name = step_name(calls, n - 1, origin);
    for (size_t i = 0; i + 1 < n; ++i)
        if (step_name(calls, i, origin) == name)
            return false;
    return short_names.count(name) != 0;
}

std::vector<std::string> error_lines(const log_capture& logs)
{
    std::vector<std::string> lines;
    for (const log_line& line : logs.lines())
        if (line.level == 1)
            lines.push_back(line.text);
    return lines;
}

std::string names_of(const std::vector<creation_call>& calls)
{
    std::string names;
    for (const creation_call& call : calls)
        names += (names.empty() ? "" : ", ") + call.name;
    return names;
}
