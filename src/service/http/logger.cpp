#include "logger.h"

#include <atomic>
#include <cerrno>
#include <ctime>

#include <unistd.h>

namespace tarvek::http::logger {
namespace {

class StandardErrorHandler final : public ILogHandler {
public:
    void log(std::string message, LogLevel) override { echo(message); }
};

StandardErrorHandler defaultHandler;
std::atomic<ILogHandler*> currentHandler{&defaultHandler};
std::atomic<LogLevel> currentLevel{LogLevel::Info};

const char* prefix(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug: return "DEBUG   ";
    case LogLevel::Info: return "INFO    ";
    case LogLevel::Warning: return "WARNING ";
    case LogLevel::Error: return "ERROR   ";
    case LogLevel::Critical: return "CRITICAL";
    }
    return "        ";
}

// The time stamp of lines written now. A busy server writes many lines a
// second, so each thread keeps the text of the current second.
std::string_view localTimestamp()
{
    struct Stamp {
        std::time_t second = -1;
        char text[32];
        std::size_t length = 0;
    };
    thread_local Stamp stamp;
    const std::time_t now = std::time(nullptr);
    if (now != stamp.second) {
        std::tm local{};
        localtime_r(&now, &local);
        stamp.length = std::strftime(stamp.text, sizeof stamp.text, "%Y-%m-%d %H:%M:%S", &local);
        stamp.second = now;
    }
    return {stamp.text, stamp.length};
}

} // namespace

LogLevel level() { return currentLevel.load(); }

void setLevel(LogLevel level) { currentLevel.store(level); }

bool enabled(LogLevel level) { return level >= currentLevel.load(); }

void setHandler(ILogHandler* handler) { currentHandler.store(handler ? handler : &defaultHandler); }

std::string formatLine(std::string_view timestamp, LogLevel level, const std::string& message)
{
    std::string line;
    line.reserve(timestamp.size() + message.size() + 16);
    line.append("(").append(timestamp).append(") [").append(prefix(level)).append("] ");
    line.append(message).append("\n");
    return line;
}

void echo(const std::string& line)
{
    // One write() a line, without the stream's lock: the I/O threads write a line or two for
    // every request, and waiting for each other's writes on that lock cost them more than the
    // writes. A line written by one call never mixes with another's.
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        written += static_cast<std::size_t>(n);
    }
}

void write(LogLevel level, const std::string& message)
{
    currentHandler.load()->log(formatLine(localTimestamp(), level, message), level);
}

} // namespace tarvek::http::logger
