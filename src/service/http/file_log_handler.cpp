#include "file_log_handler.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <string_view>

namespace tarvek::service {

FileLogHandler::FileLogHandler(const std::string& fileName) : FileLogHandler(fileName, maxFileSize, maxFiles) {}

FileLogHandler::FileLogHandler(const std::string& fileName, std::size_t maxSize, std::size_t files)
    : logger_(spdlog::rotating_logger_mt("access", fileName, maxSize, files))
{
    logger_->set_pattern("%v");
    // Every line is written through at once: an instance killed behind a load
    // balancer keeps the line of every request it answered. A write per line
    // is little beside the work of a request.
    logger_->flush_on(spdlog::level::trace);
}

void FileLogHandler::log(std::string message, http::LogLevel level)
{
    // The line arrives with its line end; the file logger adds its own.
    const std::string_view text(message.data(), message.empty() ? 0 : message.size() - 1);

    static constexpr spdlog::level::level_enum levels[] = {spdlog::level::debug, spdlog::level::info,
                                                           spdlog::level::warn, spdlog::level::err,
                                                           spdlog::level::critical};
    const auto index = static_cast<int>(level);
    if (index >= 0 && index < 5) {
        // Looked up by name so that a logger dropped at shutdown is not written to.
        if (auto access = spdlog::get("access"))
            access->log(levels[index], text);
    }
    http::logger::echo(message);
}

} // namespace tarvek::service
