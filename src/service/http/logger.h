#pragma once

// The HTTP layer's logger: one process-wide level and one replaceable handler.
// Callers test the level before forming a line, so suppressed lines cost
// nothing:  if (tarvek::http::logger::enabled(LogLevel::Info)) logger::write(...)

#include <string>
#include <string_view>

namespace tarvek::http {

enum class LogLevel { Debug = 0, Info = 1, Warning = 2, Error = 3, Critical = 4 };

// Receives every formatted line, line end included.
class ILogHandler {
public:
    virtual void log(std::string message, LogLevel level) = 0;

protected:
    ~ILogHandler() = default;
};

namespace logger {

// The level starts at Info; Debug lines are not formed unless it is lowered.
LogLevel level();
void setLevel(LogLevel level);
bool enabled(LogLevel level);

// Replaces the handler; nullptr restores the default one (standard error).
// The handler must outlive every later log call.
void setHandler(ILogHandler* handler);

// "(" local time ") [" eight-character prefix "] " message "\n", handed to the handler.
void write(LogLevel level, const std::string& message);

// Writes the line to standard error with one write() (more only when the
// system takes part of it): the lines of concurrent threads stay whole, where
// a text and its line end written apart would interleave with other lines.
void echo(const std::string& line);

// The line as write() forms it, for a given time stamp text.
std::string formatLine(std::string_view timestamp, LogLevel level, const std::string& message);

} // namespace logger
} // namespace tarvek::http
