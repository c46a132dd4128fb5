// kx_logger: the kit's logging library.
//
// write_log() formats one message and writes it as a line with its level, source file,
// line and thread id. Lines go to the debugger output and, when the environment variable
// KX_LOGGER_FILE names a file, are appended to that file; KX_LOGGER_STDERR=1 also echoes
// them to standard error. A program (a test, typically) may install a sink that receives
// every message as well.
#pragma once

#if defined(KX_LOGGER_BUILD)
#define KX_LOGGER_API __declspec(dllexport)
#else
#define KX_LOGGER_API __declspec(dllimport)
#endif

#if defined(__GNUC__)
#define KX_LOGGER_PRINTF_CHECK(fmt_index) __attribute__((format(printf, fmt_index, fmt_index + 1)))
#else
#define KX_LOGGER_PRINTF_CHECK(fmt_index)
#endif

enum log_level {
    log_level_fatal = 0,
    log_level_error = 1,
    log_level_warning = 2,
    log_level_notice = 3,
    log_level_debug = 4,
    log_level_trace = 5,
};

KX_LOGGER_API void write_log(log_level level, char* logger, char* version, char* source_file,
                             int line, int thread_id, bool flag, const char* format, ...)
    KX_LOGGER_PRINTF_CHECK(8);

// One formatted message as the sink receives it; `message` is exactly the text the caller
// formatted, trailing "\n" included.
typedef void (*kx_log_sink)(void* user, int level, const char* source_file, int line, int thread_id,
                            const char* message);

// Installs (or, with a null sink, removes) the process's sink. Messages reach the sink one
// at a time, under the logger's lock.
extern "C" KX_LOGGER_API void kx_logger_set_sink(kx_log_sink sink, void* user);
