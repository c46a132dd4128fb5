#include "kx_logger.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex& logger_mutex()
{
    static std::mutex mutex;
    return mutex;
}

kx_log_sink g_sink = nullptr;
void* g_sink_user = nullptr;

const char* level_name(int level)
{
    static const char* const names[] = {"FATAL", "ERROR", "WARN", "NOTICE", "DEBUG", "TRACE"};
    return level >= 0 && level < 6 ? names[level] : "LEVEL?";
}

std::string format_message(const char* format, va_list args)
{
    if (!format)
        return std::string();
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return std::string();
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    return std::string(text.data(), static_cast<size_t>(length));
}

std::string environment_value(const char* name)
{
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string();
}

// Settings are read once, at the first message.
struct output_settings {
    std::string file_path = environment_value("KX_LOGGER_FILE");
    bool echo_to_stderr = environment_value("KX_LOGGER_STDERR") == "1";
};

const output_settings& settings()
{
    static const output_settings value;
    return value;
}

std::string format_line(int level, const char* logger, const char* source_file, int line,
                        int thread_id, const std::string& message)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char prefix[512];
    std::snprintf(
        prefix, sizeof(prefix), "%04u-%02u-%02u %02u:%02u:%02u.%03u [%s] %s tid %d %s:%d ",
        now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
        level_name(level), logger ? logger : "", thread_id, source_file ? source_file : "", line);
    std::string text = prefix + message;
    if (text.empty() || text.back() != '\n')
        text += '\n';
    return text;
}

void append_to_file(const std::string& path, const std::string& text)
{
    FILE* file = std::fopen(path.c_str(), "ab");
    if (!file)
        return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

} // namespace

void write_log(log_level level, char* logger, char* version, char* source_file, int line,
               int thread_id, bool flag, const char* format, ...)
{
    (void)version;
    (void)flag;
    va_list args;
    va_start(args, format);
    const std::string message = format_message(format, args);
    va_end(args);

    const std::string text = format_line(level, logger, source_file, line, thread_id, message);
    std::lock_guard<std::mutex> lock(logger_mutex());
    OutputDebugStringA(text.c_str());
    if (!settings().file_path.empty())
        append_to_file(settings().file_path, text);
    if (settings().echo_to_stderr)
        std::fputs(text.c_str(), stderr);
    if (g_sink)
        g_sink(g_sink_user, level, source_file, line, thread_id, message.c_str());
}

extern "C" void kx_logger_set_sink(kx_log_sink sink, void* user)
{
    std::lock_guard<std::mutex> lock(logger_mutex());
    g_sink = sink;
    g_sink_user = user;
}
