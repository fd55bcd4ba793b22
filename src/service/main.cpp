// tarvek-server [port]: the document-recognition HTTP service.

#include "file_log_handler.h"
#include "http_server.h"
#include "logger.h"
#include "memory_policy.h"
#include "page.h"
#include "routes.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <string>

namespace {

// Blocks over the heaps' limit (the 36 MB of a 12-megapixel photo) are still
// mapped and faulted in page by page on every request, and the heaps grow in
// pages too. glibc's hugetlb tunable advises both as transparent huge pages: a
// fraction of the faults. glibc reads tunables only when a process starts, so the
// server adds it to its environment and starts itself once more, keeping its PID
// and arguments. A value the operator set is left as it is; when the restart
// fails the server runs on without.
void restartWithHugePageBlocks(char* argv[])
{
    const std::string tunable = "glibc.malloc.hugetlb";
    const char* given = std::getenv("GLIBC_TUNABLES");
    std::string tunables = given ? given : "";
    if (tunables.find(tunable) != std::string::npos)
        return;
    tunables += (tunables.empty() ? "" : ":") + tunable + "=1";
    if (setenv("GLIBC_TUNABLES", tunables.c_str(), 1) == 0)
        execv("/proc/self/exe", argv);
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace tarvek;
    using http::LogLevel;

    restartWithHugePageBlocks(argv);
    std::setlocale(LC_ALL, "");
    service::keepLargeBlocksWhileBusy();

    // A port that is not a number ends the process here, before any socket or
    // log file exists. Values wrap modulo 65536 like the 16-bit port they become.
    int port = 8080;
    if (argc != 1)
        port = std::stoi(argv[1], nullptr, 10);

    http::App app;
    service::setTemplateBase(".");

    if (http::logger::enabled(LogLevel::Info))
        http::logger::write(LogLevel::Info, fmt::format("BUILD : {} {}", __DATE__, __TIME__));

    service::addRoutes(app);
    // Quiet for a fifth of a second: between bursts of requests, not between two of one client.
    app.observe(std::make_shared<service::IdleTrim>(std::chrono::milliseconds(200)));

    service::FileLogHandler handler;
    http::logger::setHandler(&handler);

    app.port(static_cast<std::uint16_t>(port)).multithreaded().run();

    spdlog::drop_all();
    http::logger::setHandler(nullptr);
    return 0;
}
