// The server's command line and its TARVEK_ environment variables.

#include "server_options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <variant>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tarvek::service::ServerOptions;
using namespace std::chrono_literals;

// Every variable the server reads, so that the machine's own settings do not leak in.
const std::vector<std::string> optionNames = {
    "port",      "bind",         "threads", "work-threads", "work-queue", "reading-threads", "reading-queue",
    "log-dir",   "log-level",    "max-body", "max-pixels",  "page",       "read-timeout",    "grace",
    "api-keys",  "protect-metrics", "work-queue-bytes", "work-queue-wait", "reading-queue-bytes",
    "reading-queue-wait", "memory-budget"};

class Options : public ::testing::Test {
protected:
    Options()
    {
        for (const auto& name : optionNames)
            unsetenv(tarvek::service::environmentName(name).c_str());
        fs::create_directories(directory);
        std::ofstream(directory / "page.html") << "<p>page</p>";
        std::ofstream(directory / "keys") << "k1\n";
    }
    ~Options() override
    {
        for (const auto& name : optionNames)
            unsetenv(tarvek::service::environmentName(name).c_str());
        fs::remove_all(directory);
    }

    // The parse of tarvek-server ARGUMENTS..., with its message on standard error kept.
    std::variant<ServerOptions, int> parse(std::vector<std::string> arguments)
    {
        std::vector<const char*> argv{"tarvek-server"};
        for (const auto& argument : arguments)
            argv.push_back(argument.c_str());
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        auto parsed = tarvek::service::parseServerOptions(static_cast<int>(argv.size()), argv.data());
        message = testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
        return parsed;
    }

    std::string path(const std::string& name) const { return (directory / name).string(); }

    fs::path directory = fs::temp_directory_path() / ("tarvek-options-" + std::to_string(::getpid()));
    std::string message;
};

using Check = std::function<bool(const ServerOptions&)>;

struct Good {
    std::string option; // without "--"
    std::string value;  // "" for a flag
    Check check;
};

// Each value given as an option and, the same, as its environment variable.
TEST_F(Options, GoodValuesReachTheSettingsFromEitherSource)
{
    const std::vector<Good> cases = {
        {"port", "0", [](auto& o) { return o.port == 0; }},
        {"port", "65535", [](auto& o) { return o.port == 65535; }},
        {"bind", "127.0.0.1", [](auto& o) { return o.bind == "127.0.0.1"; }},
        {"bind", "::1", [](auto& o) { return o.bind == "::1"; }},
        {"threads", "3", [](auto& o) { return o.threads == 3; }},
        {"work-threads", "5", [](auto& o) { return o.limits.work.threads == 5; }},
        {"work-queue", "0", [](auto& o) { return o.limits.work.queue.count == 0; }},
        {"work-queue-bytes", "10m", [](auto& o) { return o.limits.work.queue.bytes == 10u << 20; }},
        {"reading-threads", "1", [](auto& o) { return o.readingPool.threads == 1; }},
        {"reading-queue", "7", [](auto& o) { return o.readingPool.queue.count == 7; }},
        {"reading-queue-wait", "2.5", [](auto& o) { return o.readingPool.queue.oldest == 2500ms; }},
        {"memory-budget", "3g", [](auto& o) { return o.memoryBudget == 3ull << 30; }},
        {"log-dir", path(""), [this](auto& o) { return o.logDirectory == path(""); }},
        {"log-level", "WARNING", [](auto& o) { return o.logLevel == tarvek::http::LogLevel::Warning; }},
        {"log-level", "debug", [](auto& o) { return o.logLevel == tarvek::http::LogLevel::Debug; }},
        {"max-body", "2k", [](auto& o) { return o.limits.bodyLimit == 2048; }},
        {"max-body", "100", [](auto& o) { return o.limits.bodyLimit == 100; }},
        {"max-body", "1m", [](auto& o) { return o.limits.bodyLimit == 1u << 20; }},
        {"max-pixels", "1000000", [](auto& o) { return o.maxPixels == 1000000; }},
        {"page", path("page.html"),
         [this](auto& o) { return o.pageName == "page.html" && o.pageDirectory == directory.string(); }},
        {"read-timeout", "2.5",
         [](auto& o) { return o.limits.headerTimeout == 2500ms && o.limits.bodyIdleTimeout == 2500ms; }},
        {"grace", "0", [](auto& o) { return o.limits.grace == 0ms; }},
        {"api-keys", path("keys"), [this](auto& o) { return o.apiKeyFile == path("keys"); }},
    };
    for (const Good& c : cases) {
        const std::string variable = tarvek::service::environmentName(c.option);
        for (const bool fromEnvironment : {false, true}) {
            if (fromEnvironment)
                setenv(variable.c_str(), c.value.c_str(), 1);
            const auto parsed = fromEnvironment ? parse({}) : parse({"--" + c.option, c.value});
            unsetenv(variable.c_str());
            const auto* options = std::get_if<ServerOptions>(&parsed);
            ASSERT_TRUE(options) << c.option << " " << c.value << " env " << fromEnvironment << ": " << message;
            EXPECT_TRUE(c.check(*options)) << c.option << " " << c.value << " env " << fromEnvironment;
        }
    }
}

struct Bad {
    std::vector<std::string> arguments;
    std::string variable, value; // the same mistake in the environment, when it can be made there
    std::string said;            // part of the message
};

TEST_F(Options, BadValuesAreNamedAndExitWithStatus2)
{
    const std::vector<Bad> cases = {
        {{"--port", "65536"}, "TARVEK_PORT", "65536", "--port"},
        {{"--port", "-1"}, "TARVEK_PORT", "-1", "--port"},
        {{"--port", "http"}, "TARVEK_PORT", "http", "--port"},
        {{"--bind", "localhost:80"}, "TARVEK_BIND", "localhost:80", "not an IPv4 or IPv6 address"},
        {{"--threads", "0"}, "TARVEK_THREADS", "0", "--threads"},
        {{"--work-threads", "2000"}, "TARVEK_WORK_THREADS", "2000", "--work-threads"},
        {{"--log-dir", path("missing")}, "TARVEK_LOG_DIR", path("missing"), "is not a folder"},
        {{"--log-dir", path("keys")}, "TARVEK_LOG_DIR", path("keys"), "is not a folder"},
        {{"--log-level", "loud"}, "TARVEK_LOG_LEVEL", "loud", "--log-level"},
        {{"--max-body", "0"}, "TARVEK_MAX_BODY", "0", "--max-body"},
        {{"--max-body", "lots"}, "TARVEK_MAX_BODY", "lots", "--max-body"},
        {{"--max-pixels", "268435457"}, "TARVEK_MAX_PIXELS", "268435457", "--max-pixels"},
        {{"--page", path("missing.html")}, "TARVEK_PAGE", path("missing.html"), "is not a file"},
        {{"--read-timeout", "0"}, "TARVEK_READ_TIMEOUT", "0", "--read-timeout"},
        {{"--grace", "-1"}, "TARVEK_GRACE", "-1", "--grace"},
        {{"--api-keys", path("")}, "TARVEK_API_KEYS", path(""), "is not a file"},
        {{"--protect-metrics"}, "TARVEK_PROTECT_METRICS", "1", "--api-keys"},
        {{"--colour"}, "", "", "--colour"},
        {{"abc"}, "", "", "abc is not a port number"},
        {{"99999999999"}, "", "", "is not a port number"},
    };
    for (const Bad& c : cases) {
        EXPECT_EQ(std::get<int>(parse(c.arguments)), 2) << c.arguments[0];
        EXPECT_NE(message.find(c.said), std::string::npos) << message;
        if (c.variable.empty())
            continue;
        setenv(c.variable.c_str(), c.value.c_str(), 1);
        EXPECT_EQ(std::get<int>(parse({})), 2) << c.variable;
        unsetenv(c.variable.c_str());
        // A value from the environment is named by its variable, an operator's first question.
        EXPECT_NE(message.find(c.variable + "="), std::string::npos) << message;
    }
}

// A variable set but empty (a templated settings file's blank) is refused like an empty
// option, never taken as unset: an empty TARVEK_API_KEYS would open every route. An option
// on the command line still wins over it.
TEST_F(Options, EveryEmptyVariableIsRefusedUnlessTheCommandLineGivesIt)
{
    for (const auto& name : optionNames) {
        const std::string variable = tarvek::service::environmentName(name);
        setenv(variable.c_str(), "", 1);
        EXPECT_EQ(std::get<int>(parse({})), 2) << variable;
        EXPECT_NE(message.find(variable + " is set but empty"), std::string::npos) << message;
        unsetenv(variable.c_str());
    }
    setenv("TARVEK_PORT", "", 1);
    EXPECT_EQ(std::get<ServerOptions>(parse({"--port", "9000"})).port, 9000);
}

TEST_F(Options, TheCommandLineWinsOverTheEnvironment)
{
    setenv("TARVEK_THREADS", "7", 1);
    setenv("TARVEK_LOG_LEVEL", "nonsense", 1); // not read at all when the option is given
    const auto options = std::get<ServerOptions>(parse({"--threads", "2", "--log-level", "error"}));
    EXPECT_EQ(options.threads, 2u);
    EXPECT_EQ(options.logLevel, tarvek::http::LogLevel::Error);
}

TEST_F(Options, TheBarePortWrapsAndLaterWordsAreIgnored)
{
    for (const auto& [argument, port] : std::vector<std::pair<std::string, int>>{
             {"9000", 9000}, {"70000", 4464}, {"65536", 0}, {"0", 0}}) {
        const auto options = std::get<ServerOptions>(parse({argument, "ignored", "too"}));
        EXPECT_EQ(options.port, port) << argument;
    }
    const ServerOptions defaults = std::get<ServerOptions>(parse({}));
    EXPECT_EQ(defaults.port, 8080);
    EXPECT_EQ(defaults.bind, "0.0.0.0");
    EXPECT_EQ(defaults.logDirectory, ".");
    EXPECT_EQ(defaults.pageDirectory, ".");
    EXPECT_EQ(defaults.pageName, "index.html");
    EXPECT_TRUE(defaults.apiKeyFile.empty());
}

} // namespace
