// What the Direct3D 9 backend must make of failing creation calls: whether its initialisation
// fails and which lines it logs, call by call, as the plan wrote the calls down; and which
// calls the short storms choose to fail.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "d3d9_creation_faults.h"
#include "log_capture.h"

enum class device_path { shared, own };

// Where the calls were made: an initialisation through the front starts with the capability
// check's Direct3DCreate9Ex; a rebuild does not probe the machine again.
enum class call_origin { initialisation, rebuild };

// The name the short storms give the capability check's Direct3DCreate9Ex.
extern const char capability_check[];

struct consequence {
    bool fatal = false;             // the initialisation fails
    std::vector<std::string> lines; // the level-1 lines, in order
};

// What the failed calls among `calls` lead to together.
consequence consequence_of(const std::vector<creation_call>& calls, device_path path,
                           call_origin origin);

// The name of calls[i] as the storms choose by it.
std::string step_name(const std::vector<creation_call>& calls, size_t i, call_origin origin);

// Whether the storm fails the n-th call (from 1): every call in the long storm; in the short
// one the first call of each of `short_names`.
bool chosen_step(const std::vector<creation_call>& calls, size_t n,
                 const std::set<std::string>& short_names, call_origin origin);

// The texts of the level-1 lines in order.
std::vector<std::string> error_lines(const log_capture& logs);

// "Direct3DCreate9Ex, CreateDeviceEx, ..."
std::string names_of(const std::vector<creation_call>& calls);
