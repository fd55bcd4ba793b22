// tarvek-server [port]: the document-recognition HTTP service.

#include "file_log_handler.h"
#include "http_server.h"
#include "logger.h"
#include "page.h"
#include "routes.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <malloc.h>

#include <clocale>
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

} // namespace

int main(int argc, char* argv[])
{
    using namespace tarvek;
    using http::LogLevel;

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
