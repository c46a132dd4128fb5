// The library's one way to log: VR_LOG(level, format, ...) calls kx_logger's write_log with
// the fixed arguments filled in (logger name, version, this file's source path, the line,
// the calling thread). Each source file names itself once with VR_LOG_SOURCE.
#pragma once

#include <windows.h>

#include "kx_logger.h"

namespace vr_log {
constexpr char logger_name[] = "kx_logger";
constexpr char logger_version[] = "v1.0.0.1";
constexpr int error = 1;  // failures
constexpr int notice = 3; // state changes: initialisation, rebuilds, formats chosen
constexpr int trace = 5;  // the per-frame trace of a lost Direct3D 9 device
} // namespace vr_log

// Declares the source path that VR_LOG reports for the current file.
#define VR_LOG_SOURCE(path)                                                                        \
    namespace {                                                                                    \
    constexpr char vr_log_source_path[] = path;                                                    \
    }

#define VR_LOG(level, ...)                                                                         \
    write_log(static_cast<log_level>(level), const_cast<char*>(vr_log::logger_name),               \
              const_cast<char*>(vr_log::logger_version), const_cast<char*>(vr_log_source_path),    \
              __LINE__, static_cast<int>(::GetCurrentThreadId()), true, __VA_ARGS__)
