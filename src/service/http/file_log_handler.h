#pragma once

// Sink for the server's log lines once it is set up: each line goes to the
// size-rotated "access.log" (in the working directory unless told otherwise)
// and to standard error.

#include "logger.h"

#include <spdlog/logger.h>

#include <cstddef>
#include <memory>
#include <string>

namespace tarvek::service {

class FileLogHandler final : public http::ILogHandler {
public:
    static constexpr std::size_t maxFileSize = 104857600; // 100 MiB
    static constexpr std::size_t maxFiles = 10;

    // Creates the logger "access" on the file (appending), "access.log" in the
    // working directory by default. Throws the logging library's error when
    // the file cannot be opened or a logger of that name exists already.
    explicit FileLogHandler(const std::string& fileName = "access.log");
    // The same on another file and size, for tests of rotation.
    FileLogHandler(const std::string& fileName, std::size_t maxSize, std::size_t files);

    void log(std::string message, http::LogLevel level) override;

private:
    std::shared_ptr<spdlog::logger> logger_;
};

} // namespace tarvek::service
