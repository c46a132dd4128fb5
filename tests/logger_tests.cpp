// kx_logger: formatting, the sink, the log file, and the library's fixed arguments.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "kx_logger.h"
#include "log_capture.h"
#include "log_helper.h"

namespace {

std::string log_file_path()
{
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    return std::string(directory) + "kx_logger_test_" + std::to_string(GetCurrentProcessId()) +
           ".log";
}

// The file is named before the first message, since the logger reads its settings once.
const std::string& test_log_file()
{
    static const std::string path = [] {
        const std::string value = log_file_path();
        std::remove(value.c_str());
        SetEnvironmentVariableA("KX_LOGGER_FILE", value.c_str());
        return value;
    }();
    return path;
}

const bool file_named_early = !test_log_file().empty();

VR_LOG_SOURCE("..\\..\\..\\sources\\video_render\\test_file")

} // namespace

TEST(logger, formats_the_message_for_the_sink)
{
    log_capture capture;
    write_log(log_level_error, const_cast<char*>("kx_logger"), const_cast<char*>("v1.0.0.1"),
              const_cast<char*>("some\\file"), 42, 1234, true, "value %d text %s hex %x\n", -5,
              "abc", 255u);
    ASSERT_EQ(capture.lines().size(), 1u);
    const log_line line = capture.lines()[0];
    EXPECT_EQ(line.level, 1);
    EXPECT_EQ(line.source, "some\\file");
    EXPECT_EQ(line.line, 42);
    EXPECT_EQ(line.thread_id, 1234);
    EXPECT_EQ(line.text, "value -5 text abc hex ff\n");
}

TEST(logger, long_messages_are_not_cut)
{
    log_capture capture;
    const std::string text(5000, 'z');
    write_log(log_level_notice, const_cast<char*>("kx_logger"), const_cast<char*>("v"),
              const_cast<char*>("f"), 1, 1, true, "%s", text.c_str());
    EXPECT_EQ(capture.texts(), std::vector<std::string>{text});
}

TEST(logger, the_helper_fills_in_the_fixed_arguments)
{
    log_capture capture;
    const int expected_line = __LINE__ + 1;
    VR_LOG(vr_log::trace, "TestCooperativeLevel result:%x\n", 0x88760868u);
    ASSERT_EQ(capture.lines().size(), 1u);
    const log_line line = capture.lines()[0];
    EXPECT_EQ(line.level, 5);
    EXPECT_EQ(line.source, "..\\..\\..\\sources\\video_render\\test_file");
    EXPECT_EQ(line.line, expected_line);
    EXPECT_EQ(line.thread_id, static_cast<int>(GetCurrentThreadId()));
    EXPECT_EQ(line.text, "TestCooperativeLevel result:88760868\n");
}

TEST(logger, lines_from_many_threads_arrive_whole)
{
    log_capture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                VR_LOG(vr_log::notice, "thread %d message %d\n", t, i);
        });
    for (std::thread& thread : threads)
        thread.join();
    const std::vector<log_line> lines = capture.lines();
    ASSERT_EQ(lines.size(), 800u);
    for (const log_line& line : lines)
        EXPECT_EQ(line.text.rfind("thread ", 0), 0u);
}

TEST(logger, writes_lines_to_the_file_named_in_the_environment)
{
    ASSERT_TRUE(file_named_early);
    VR_LOG(vr_log::error, "Check D3D9 Failed:%p\n", reinterpret_cast<void*>(0x8876086a));
    std::ifstream file(test_log_file());
    std::stringstream content;
    content << file.rdbuf();
    const std::string text = content.str();
    EXPECT_NE(text.find("[ERROR] kx_logger tid "), std::string::npos) << text;
    EXPECT_NE(text.find("..\\..\\..\\sources\\video_render\\test_file:"), std::string::npos);
    EXPECT_NE(text.find("Check D3D9 Failed:"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
}
