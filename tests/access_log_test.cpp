// The access-log handler on the real file system.

#include "http/file_log_handler.h"
#include "http/logger.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using tarvek::http::LogLevel;
using tarvek::service::FileLogHandler;

std::string readFile(const fs::path& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class AccessLog : public ::testing::Test {
protected:
    AccessLog() : directory(fs::temp_directory_path() / ("tarvek-log-" + std::to_string(::getpid())))
    {
        fs::remove_all(directory);
        fs::create_directories(directory);
    }
    ~AccessLog() override
    {
        spdlog::drop_all();
        fs::remove_all(directory);
    }

    // Closes the file the way the server does at shutdown.
    static void close(std::unique_ptr<FileLogHandler>& handler)
    {
        spdlog::drop_all();
        handler.reset();
    }

    fs::path directory;
};

} // namespace

TEST_F(AccessLog, WritesEachLineOnceWithoutDoublingTheLineEnd)
{
    auto handler = std::make_unique<FileLogHandler>((directory / "access.log").string(), 1 << 20, 3);
    testing::internal::CaptureStderr();
    handler->log("(2019-04-25 14:30:23) [INFO    ] hello\n", LogLevel::Info);
    handler->log("(2019-04-25 14:30:24) [WARNING ] careful\n", LogLevel::Warning);
    handler->log("(2019-04-25 14:30:25) [DEBUG   ] hidden\n", LogLevel::Debug);
    handler->log("odd level\n", static_cast<LogLevel>(9));
    const std::string echoed = testing::internal::GetCapturedStderr();
    close(handler);

    EXPECT_EQ(readFile(directory / "access.log"),
              "(2019-04-25 14:30:23) [INFO    ] hello\n(2019-04-25 14:30:24) [WARNING ] careful\n");
    EXPECT_EQ(echoed, "(2019-04-25 14:30:23) [INFO    ] hello\n(2019-04-25 14:30:24) [WARNING ] careful\n"
                      "(2019-04-25 14:30:25) [DEBUG   ] hidden\nodd level\n");
}

TEST_F(AccessLog, ReopeningAppends)
{
    const auto file = (directory / "access.log").string();
    for (const char* line : {"first\n", "second\n"}) {
        auto handler = std::make_unique<FileLogHandler>(file, 1 << 20, 3);
        testing::internal::CaptureStderr();
        handler->log(line, LogLevel::Error);
        testing::internal::GetCapturedStderr();
        close(handler);
    }
    EXPECT_EQ(readFile(file), "first\nsecond\n");
}

TEST_F(AccessLog, RotatesBySizeAndKeepsABoundedNumberOfFiles)
{
    const auto file = (directory / "access.log").string();
    auto handler = std::make_unique<FileLogHandler>(file, 1000, 2);
    const std::string line(99, 'x'); // 100 bytes with the line end
    testing::internal::CaptureStderr();
    for (int i = 0; i < 45; ++i)
        handler->log(line + "\n", LogLevel::Info);
    testing::internal::GetCapturedStderr();
    close(handler);

    EXPECT_TRUE(fs::exists(directory / "access.1.log"));
    EXPECT_TRUE(fs::exists(directory / "access.2.log"));
    EXPECT_FALSE(fs::exists(directory / "access.3.log"));
    for (const char* name : {"access.log", "access.1.log", "access.2.log"})
        EXPECT_LE(fs::file_size(directory / name), 1000u) << name;
    EXPECT_EQ(fs::file_size(directory / "access.1.log"), 1000u);
}

TEST_F(AccessLog, LinesReachTheFileWithinASecondWhileOpen)
{
    FileLogHandler handler((directory / "access.log").string(), 1 << 20, 1);
    testing::internal::CaptureStderr();
    handler.log("visible soon\n", LogLevel::Info);
    testing::internal::GetCapturedStderr();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(readFile(directory / "access.log"), "visible soon\n");
}

TEST_F(AccessLog, ASecondHandlerCannotTakeTheSameLoggerName)
{
    FileLogHandler first((directory / "a.log").string(), 1000, 1);
    EXPECT_THROW(FileLogHandler((directory / "b.log").string(), 1000, 1), spdlog::spdlog_ex);
}

TEST_F(AccessLog, LinesAfterTheLoggerIsDroppedStillReachStandardError)
{
    FileLogHandler handler((directory / "access.log").string(), 1000, 1);
    spdlog::drop_all();
    testing::internal::CaptureStderr();
    handler.log("late\n", LogLevel::Info);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "late\n");
}

TEST_F(AccessLog, ConcurrentLinesReachStandardErrorWhole)
{
    auto handler = std::make_unique<FileLogHandler>((directory / "access.log").string(), 64 << 20, 3);
    constexpr int linesPerThread = 20000;
    testing::internal::CaptureStderr();
    const auto writeLines = [&handler](const std::string& who) {
        for (int i = 0; i < linesPerThread; ++i)
            handler->log(tarvek::http::logger::formatLine("2019-04-25 14:30:23", LogLevel::Info,
                                                           who + " line " + std::to_string(i)),
                         LogLevel::Info);
    };
    std::thread first(writeLines, "first"), second(writeLines, "second");
    first.join();
    second.join();
    std::istringstream echoed(testing::internal::GetCapturedStderr());
    close(handler);

    const std::regex wellFormed(R"(\(2019-04-25 14:30:23\) \[INFO    \] (first|second) line \d+)");
    int lines = 0;
    for (std::string line; std::getline(echoed, line); ++lines)
        ASSERT_TRUE(std::regex_match(line, wellFormed)) << "line " << lines << ": " << line;
    EXPECT_EQ(lines, 2 * linesPerThread);
}
