#pragma once

// The settings of tarvek-server: its command line, each option also read from
// an environment variable TARVEK_<NAME> (the command line wins). A bare
// `tarvek-server [PORT]` gives the settings the server has always had.

#include "http/http_server.h"
#include "http/logger.h"
#include "reading_tools.h"

#include <cstdint>
#include <string>
#include <variant>

namespace tarvek::service {

struct ServerOptions {
    std::uint16_t port = 8080;
    std::string bind = "0.0.0.0";
    unsigned threads = 0; // I/O threads; 0: one per hardware thread
    std::string logDirectory = ".";
    http::LogLevel logLevel = http::LogLevel::Info;
    // Folder and file name of the page template of GET "/". Without --page a
    // missing file renders as an empty page; a given one must exist.
    std::string pageDirectory = ".";
    std::string pageName = "index.html";
    std::uint64_t maxPixels = 0; // 0: the library's limit
    std::uint64_t memoryBudget = 0; // bytes photos in work may take; 0: defaultMemoryBudget()
    http::ServerLimits limits;   // body limit, read timeouts, work pool, grace period
    http::PoolLimits readingPool = readingPoolLimits(); // the pool of the reading routes
    std::string apiKeyFile;      // empty: every route open
    bool protectMetrics = false; // /metrics needs a key too
};

// The settings of a valid command line and environment, or the exit status
// after --help or --version (0) or a refused value (2), whose message has then
// been printed.
std::variant<ServerOptions, int> parseServerOptions(int argc, const char* const* argv);

// "TARVEK_LOG_DIR" for "log-dir": the environment variable of an option.
std::string environmentName(const std::string& option);

} // namespace tarvek::service
