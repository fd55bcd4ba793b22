// tarvek-server [PORT] [OPTIONS]: the document-recognition HTTP service.

#include "api_keys.h"
#include "http/file_log_handler.h"
#include "http/http_server.h"
#include "http/logger.h"
#include "imageio.h"
#include "memory_budget.h"
#include "memory_policy.h"
#include "page.h"
#include "reading/reading.h"
#include "routes.h"
#include "server_options.h"

#include <boost/system/system_error.hpp>
#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <clocale>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include <unistd.h>

namespace {

using namespace tarvek;
using http::LogLevel;

void log(LogLevel level, const std::string& message)
{
    if (http::logger::enabled(level))
        http::logger::write(level, message);
}

// The key file read again; a file that has become unreadable or empty keeps the keys in force.
void reloadKeys(service::ApiKeys* keys)
{
    if (!keys)
        return log(LogLevel::Info, "SIGHUP: nothing to reload");
    try {
        keys->reload();
        log(LogLevel::Info, "SIGHUP: API keys read again, " + std::to_string(keys->count()) + " in force");
    } catch (const std::exception& error) {
        log(LogLevel::Error, std::string("SIGHUP: ") + error.what() + "; the keys read before stay in force");
    }
}

std::shared_ptr<service::ApiKeys> readKeys(const std::string& file)
{
    return file.empty() ? nullptr : std::make_shared<service::ApiKeys>(file);
}

std::string accessLogPath(const std::string& directory)
{
    return (std::filesystem::path(directory) / "access.log").string();
}

} // namespace

int main(int argc, char* argv[])
{
    // Refused options end the program here, before anything is opened.
    auto parsed = service::parseServerOptions(argc, argv);
    if (const int* status = std::get_if<int>(&parsed))
        return *status;
    const service::ServerOptions& options = std::get<service::ServerOptions>(parsed);

    // OpenCV reads its pixel limit, and OpenMP the threads Tesseract may take, from the
    // environment when they are loaded, before main: the huge-page restart carries them along,
    // or the program restarts for them alone.
    const bool pixelLimitAdded = imageio::limitDecoderPixels();
    const bool threadLimitAdded = reading::limitEngineThreads();
    service::restartWithHugePageAdvice(argv);
    if (pixelLimitAdded || threadLimitAdded)
        execv("/proc/self/exe", argv);
    std::setlocale(LC_ALL, "");
    service::keepLargeBlocksWhileBusy();
    if (options.maxPixels != 0)
        imageio::setPixelLimit(options.maxPixels);
    if (options.memoryBudget != 0)
        service::memoryBudget().setTotal(options.memoryBudget);
    http::logger::setLevel(options.logLevel);

    std::shared_ptr<service::ApiKeys> keys;
    try {
        keys = readKeys(options.apiKeyFile);
    } catch (const std::exception& error) {
        std::cerr << "tarvek-server: " << error.what() << '\n';
        return 2;
    }

    http::App app;
    service::setTemplateBase(options.pageDirectory);

    log(LogLevel::Info, fmt::format("BUILD : {} {}", __DATE__, __TIME__));

    service::addRoutes(app, {options.pageName, keys, options.protectMetrics, options.readingPool});
    // Quiet for a fifth of a second: between bursts of requests, not between two of one client.
    app.observe(std::make_shared<service::IdleTrim>(std::chrono::milliseconds(200)));
    app.onHangup([keys] { reloadKeys(keys.get()); });
    // Work that outlived the grace period is not waited for: every line is in the log
    // already (each is written through), and the clients have had their answers.
    app.onWorkLeftRunning([] { _exit(0); });

    std::optional<service::FileLogHandler> handler;
    try {
        handler.emplace(accessLogPath(options.logDirectory));
    } catch (const spdlog::spdlog_ex& error) {
        std::cerr << "tarvek-server: " << error.what() << '\n';
        return 2;
    }
    http::logger::setHandler(&*handler);

    app.port(options.port).bindaddr(options.bind).limits(options.limits);
    if (options.threads != 0)
        app.concurrency(options.threads);
    else
        app.multithreaded();
    int status = 0;
    try {
        app.run();
    } catch (const boost::system::system_error& error) {
        log(LogLevel::Critical,
            "cannot listen on " + options.bind + ":" + std::to_string(options.port) + ": " + error.code().message());
        status = 1;
    }

    spdlog::drop_all();
    http::logger::setHandler(nullptr);
    return status;
}
