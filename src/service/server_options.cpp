#include "server_options.h"

#include "imageio.h"
#include "memory_budget.h"
#include "printable.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <vector>

#include <unistd.h>

namespace tarvek::service {
namespace {

namespace fs = std::filesystem;

// The one number the bare command line takes. It is read as std::stoi reads
// it and wraps modulo 65536 like the 16-bit port it becomes, as it always has.
std::optional<std::uint16_t> legacyPort(const std::string& text)
{
    try {
        return static_cast<std::uint16_t>(std::stoi(text, nullptr, 10));
    } catch (const std::logic_error&) {
        return std::nullopt;
    }
}

CLI::Validator ipAddress()
{
    return CLI::Validator(
        [](std::string& text) {
            boost::system::error_code ec;
            boost::asio::ip::make_address(text, ec);
            return ec ? escapedForTerminal(text) + " is not an IPv4 or IPv6 address" : std::string();
        },
        "ADDRESS");
}

// A folder (or a regular file) the server may use with the access mode given.
CLI::Validator usablePath(bool folder, int mode)
{
    return CLI::Validator(
        [folder, mode](std::string& path) {
            std::error_code ec;
            if (folder ? !fs::is_directory(path, ec) : !fs::is_regular_file(path, ec))
                return escapedForTerminal(path) + (folder ? " is not a folder" : " is not a file");
            if (access(path.c_str(), mode) != 0)
                return escapedForTerminal(path) + ": " + std::strerror(errno);
            return std::string();
        },
        folder ? "FOLDER" : "FILE");
}

// A folder the server may create its log files in.
CLI::Validator writableFolder() { return usablePath(true, W_OK | X_OK); }

// A file the server can read now (it reads it again later).
CLI::Validator readableFile() { return usablePath(false, R_OK); }

const std::vector<std::string> levelNames = {"debug", "info", "warning", "error", "critical"};

// Seconds given as a decimal number, kept in milliseconds.
CLI::Option* addSeconds(CLI::App& app, const std::string& name, std::chrono::milliseconds& kept, double least,
                        double most, const std::string& help)
{
    return app
        .add_option_function<double>(
            "--" + name,
            [&kept](double seconds) { kept = std::chrono::milliseconds(static_cast<long long>(seconds * 1000)); },
            help + " (seconds, default " + std::to_string(kept.count() / 1000) + ")")
        ->check(CLI::Range(least, most))
        ->envname(environmentName(name));
}

// A pool of long work: its threads, and the queue of requests that may wait
// for them. Each pool the server runs is one call.
void addPoolOptions(CLI::App& app, const std::string& pool, const std::string& work, const std::string& threadsByDefault,
                    http::PoolLimits& limits)
{
    app.add_option("--" + pool + "-threads", limits.threads,
                   "Threads that " + work + " (default: " + threadsByDefault + ")")
        ->check(CLI::Range(1u, 1024u))
        ->envname(environmentName(pool + "-threads"));
    app.add_option("--" + pool + "-queue", limits.queue.count,
                   "Requests that may wait for those threads; more are answered 503 (default " +
                       std::to_string(limits.queue.count) + ")")
        ->check(CLI::Range(std::size_t{0}, std::size_t{1} << 20))
        ->envname(environmentName(pool + "-queue"));
    app.add_option("--" + pool + "-queue-bytes", limits.queue.bytes,
                   "Bytes of request bodies that may wait, k/m/g suffixes allowed (default " +
                       std::to_string(limits.queue.bytes >> 20) + "m)")
        ->transform(CLI::AsSizeValue(false))
        ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 40))
        ->envname(environmentName(pool + "-queue-bytes"));
    addSeconds(app, pool + "-queue-wait", limits.queue.oldest, 0.001, 3600,
               "Once the oldest waiting request has waited this long, new ones are answered 503");
}

void addOptions(CLI::App& app, ServerOptions& options, std::string& page)
{
    app.add_option("--port", options.port, "TCP port to listen on; 0 takes a free one (default 8080)")
        ->envname(environmentName("port"));
    app.add_option("--bind", options.bind, "Address to listen on (default 0.0.0.0, every interface)")
        ->check(ipAddress())
        ->envname(environmentName("bind"));
    app.add_option("--threads", options.threads, "I/O threads (default: one per hardware thread)")
        ->check(CLI::Range(1u, 1024u))
        ->envname(environmentName("threads"));
    addPoolOptions(app, "work", "decode and process photos", "one per I/O thread", options.limits.work);
    addPoolOptions(app, "reading", "read text", "one per hardware thread", options.readingPool);
    app.add_option("--memory-budget", options.memoryBudget,
                   "Bytes that photos in work may take at once, k/m/g suffixes allowed; a request that would "
                   "pass it is answered 503 (default: half the machine's memory, here " +
                       std::to_string(defaultMemoryBudget() >> 20) + "m)")
        ->transform(CLI::AsSizeValue(false))
        ->check(CLI::Range(std::uint64_t{1} << 20, std::uint64_t{1} << 50))
        ->envname(environmentName("memory-budget"));
    app.add_option("--log-dir", options.logDirectory, "Folder of access.log (default: the working folder)")
        ->check(writableFolder())
        ->envname(environmentName("log-dir"));
    app.add_option_function<std::string>(
           "--log-level",
           [&options](const std::string& name) {
               const auto at = std::find(levelNames.begin(), levelNames.end(), name);
               options.logLevel = static_cast<http::LogLevel>(at - levelNames.begin());
           },
           "Lowest level logged (default info)")
        ->transform(CLI::IsMember(levelNames, CLI::ignore_case))
        ->envname(environmentName("log-level"));
    app.add_option("--max-body", options.limits.bodyLimit,
                   "Largest request body in bytes, k/m/g suffixes allowed; larger ones are answered 413 (default 64m)")
        ->transform(CLI::AsSizeValue(false))
        ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 32))
        ->envname(environmentName("max-body"));
    app.add_option("--max-pixels", options.maxPixels,
                   "Largest image decoded, in pixels (default and most " + std::to_string(imageio::maxImagePixels) + ")")
        ->check(CLI::Range(std::uint64_t{1}, imageio::maxImagePixels))
        ->envname(environmentName("max-pixels"));
    app.add_option("--page", page, "Page template of GET / (default: index.html in the working folder)")
        ->check(readableFile())
        ->envname(environmentName("page"));
    addSeconds(app, "read-timeout", options.limits.headerTimeout, 0.001, 3600,
               "Longest wait for a request's header, or between two pieces of its body");
    addSeconds(app, "grace", options.limits.grace, 0, 3600,
               "On SIGTERM, how long requests under way may take before the server exits");
    CLI::Option* keys = app.add_option("--api-keys", options.apiKeyFile,
                                       "File of API keys, one per line, read at start and on SIGHUP; "
                                       "requests then need \"Authorization: Bearer KEY\"")
                            ->check(readableFile())
                            ->envname(environmentName("api-keys"));
    app.add_flag("--protect-metrics", options.protectMetrics, "/metrics needs an API key too")
        ->needs(keys)
        ->envname(environmentName("protect-metrics"));
}

void placePage(ServerOptions& options, const std::string& page)
{
    const fs::path path(page);
    options.pageName = path.filename().string();
    options.pageDirectory = path.has_parent_path() ? path.parent_path().string() : ".";
}

// "TARVEK_PORT=abc: " when the refused value came from the environment, the
// option named at the start of the message not being on the command line.
std::string sourceOf(const CLI::App& app, const std::string& message, int argc, const char* const* argv)
{
    for (const CLI::Option* option : app.get_options()) {
        const std::string& variable = option->get_envname();
        const std::string name = option->get_name();
        const bool named = message.rfind(name + ":", 0) == 0 || message.rfind(name + " ", 0) == 0;
        if (variable.empty() || !named || !std::getenv(variable.c_str()))
            continue;
        for (int i = 1; i < argc; ++i)
            if (std::string(argv[i]).rfind(name, 0) == 0)
                return "";
        return variable + "=" + escapedForTerminal(std::getenv(variable.c_str())) + ": ";
    }
    return "";
}

// The first variable of an option that the command line leaves to the environment and that is
// set but empty. The parser takes an empty variable as unset, and the setting's default would
// then be used in silence: an empty TARVEK_API_KEYS from a templated settings file would open
// every route.
std::optional<std::string> emptyVariable(const CLI::App& app)
{
    for (const CLI::Option* option : app.get_options()) {
        const std::string& variable = option->get_envname();
        const char* value = variable.empty() ? nullptr : std::getenv(variable.c_str());
        if (value && *value == '\0' && option->count() == 0)
            return variable;
    }
    return std::nullopt;
}

} // namespace

std::string environmentName(const std::string& option)
{
    std::string name = "TARVEK_" + option;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return c == '-' ? '_' : static_cast<char>(std::toupper(c)); });
    return name;
}

std::variant<ServerOptions, int> parseServerOptions(int argc, const char* const* argv)
{
    ServerOptions options;
    std::string page;
    std::vector<std::string> positional;

    CLI::App app("tarvek-server: the document tools over HTTP, logging to standard error and access.log",
                 "tarvek-server");
    app.set_version_flag("--version", std::string("tarvek-server ") + version());
    // The bare form of the command line: a port, and anything after it ignored.
    app.add_option("PORT", positional, "TCP port, before --port; the value wraps modulo 65536");
    addOptions(app, options, page);
    app.get_option("--port")->check(CLI::Range(0, 65535));

    try {
        app.parse(argc, argv);
        if (!positional.empty()) {
            const auto port = legacyPort(positional.front());
            if (!port)
                throw CLI::ValidationError("PORT", escapedForTerminal(positional.front()) + " is not a port number");
            options.port = *port;
        }
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << sourceOf(app, e.what(), argc, argv);
        app.exit(e);
        return 2;
    }
    if (const auto empty = emptyVariable(app)) {
        std::cerr << *empty << " is set but empty: give it a value or unset it\n";
        return 2;
    }
    options.limits.bodyIdleTimeout = options.limits.headerTimeout;
    if (!page.empty())
        placePage(options, page);
    return options;
}

} // namespace tarvek::service
