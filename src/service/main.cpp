// tarvek-server [PORT | --version | --help]: the document-recognition HTTP service.

#include "http/file_log_handler.h"
#include "http/http_server.h"
#include "http/logger.h"
#include "imageio.h"
#include "memory_policy.h"
#include "page.h"
#include "routes.h"
#include "version.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <clocale>
#include <iostream>
#include <string>

#include <unistd.h>

namespace {

// Answers --version and --help on standard output; false for any other argument, the port.
bool answeredOption(const std::string& argument)
{
    if (argument == "--version")
        std::cout << "tarvek-server " << tarvek::version() << '\n';
    else if (argument == "--help" || argument == "-h")
        std::cout << "Usage: tarvek-server [PORT]\n"
                     "Serves the document tools over HTTP on PORT (default 8080; 0 takes a free port),\n"
                     "logging to standard error and access.log in the working folder.\n"
                     "  --version  print the version and exit\n"
                     "  --help     print this text and exit\n";
    else
        return false;
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace tarvek;
    using http::LogLevel;

    if (argc > 1 && answeredOption(argv[1]))
        return 0;

    // OpenCV reads its pixel limit from the environment when it is loaded, before main: the
    // huge-page restart carries the limit along, or the program restarts for it alone.
    const bool pixelLimitAdded = imageio::limitDecoderPixels();
    service::restartWithHugePageAdvice(argv);
    if (pixelLimitAdded)
        execv("/proc/self/exe", argv);
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
