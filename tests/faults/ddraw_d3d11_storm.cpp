#include "ddraw_d3d11_storm.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

storm_settings the_settings;

} // namespace

const storm_settings& settings()
{
    return the_settings;
}

storm_tally& tally()
{
    static storm_tally counts;
    return counts;
}

failing_calls no_call()
{
    return [](int) { return false; };
}

failing_calls only_call(int call)
{
    return [call](int n) { return n == call; };
}

failing_calls calls_from(int call)
{
    return [call](int n) { return n >= call; };
}

failing_calls two_calls(int first, int second)
{
    return [first, second](int n) { return n == first || n == second; };
}

void call_plan::arm(failing_calls failing)
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = true;
    failing_ = std::move(failing);
    trace_.clear();
}

void call_plan::disarm()
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    failing_ = nullptr;
}

bool call_plan::fails(const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!armed_)
        return false;
    trace_.push_back(name);
    const bool failing = failing_(static_cast<int>(trace_.size()));
    if (failing)
        ++tally().faults_injected;
    return failing;
}

std::vector<std::string> call_plan::trace() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return trace_;
}

call_plan& plan()
{
    static call_plan the_plan;
    return the_plan;
}

bool call_model::call(const std::string& name)
{
    trace_.push_back(name);
    return !failing_(static_cast<int>(trace_.size()));
}

void call_model::log(int level, const std::string& text)
{
    lines_.push_back(std::to_string(level) + " " + text);
}

std::vector<std::string> leveled(const log_capture& logs)
{
    std::vector<std::string> lines;
    for (const log_line& line : logs.lines())
        lines.push_back(std::to_string(line.level) + " " + line.text);
    return lines;
}

std::string formatted(const char* format, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    return text;
}

std::string code_text(HRESULT code)
{
    return formatted("%p",
                     reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(code))));
}

size_t working_set()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)))
        return 0;
    return counters.WorkingSetSize;
}

ULONG reference_count(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--long") == 0) {
            the_settings.long_run = true;
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            the_settings.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: %s [--long] [--seed N] [gtest options]\n", argv[0]);
            return 2;
        }
    }
    const int result = RUN_ALL_TESTS();
    const storm_tally& counts = tally();
    std::printf("fault storm summary (%s run, seed %u): %ld faults injected, %ld frames drawn, "
                "%ld frames dropped, %ld runs, working set %zu KiB\n",
                the_settings.long_run ? "long" : "short", the_settings.seed, counts.faults_injected,
                counts.frames_drawn, counts.frames_dropped, counts.runs, working_set() / 1024);
    return result;
}
