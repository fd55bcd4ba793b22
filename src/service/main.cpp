// tarvek-server [port]: the document-recognition HTTP service.

#include "file_log_handler.h"
#include "http_server.h"
#include "logger.h"
#include "page.h"
#include "routes.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <malloc.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <string>

namespace {

// Request bodies and decoded photos are megabytes each and live for one request.
// After freeing such a block glibc raises its threshold for mapping blocks of their
// own, so later ones come from its heaps, which then keep the memory of the largest
// requests seen (resident memory at rest grew by a third within 20 s of mixed uploads). A
// fixed threshold maps and unmaps every block of 4 MiB or more by itself, so that it
// goes back to the system when its request ends.
void returnLargeBlocksToTheSystem()
{
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
}

// Those mapped blocks are faulted in page by page on every request: about 2,500 faults
// for the 9 MB of a 3-megapixel photo. glibc's hugetlb tunable advises them as
// transparent huge pages: a third of the faults, and 5 to 10 % less CPU per such
// request. glibc reads tunables only when a process starts, so the server adds it to
// its environment and starts itself once more, keeping its PID and arguments. A value
// the operator set is left as it is; when the restart fails the server runs on without.
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
    returnLargeBlocksToTheSystem();

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

    service::FileLogHandler handler;
    http::logger::setHandler(&handler);

    app.port(static_cast<std::uint16_t>(port)).multithreaded().run();

    spdlog::drop_all();
    http::logger::setHandler(nullptr);
    return 0;
}
