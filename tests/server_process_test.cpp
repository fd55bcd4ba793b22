// The tarvek-server program as a process: command line, start-up, shutdown
// and the files it leaves.

#include "http_client.h"
#include "receipt_image.h"
#include "test_images.h"
#include "version.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <thread>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
namespace bhttp = testhttp::bhttp;
using namespace std::chrono_literals;

std::string readFile(const fs::path& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Starts the server in its own directory with standard error sent to a file.
class ServerProcess {
public:
    // fileLimit, when set, caps the number of file descriptors the server may open.
    ServerProcess(const fs::path& directory, std::vector<std::string> arguments, rlim_t fileLimit = 0)
        : directory_(directory)
    {
        fs::remove(directory / "stderr.txt"); // an earlier run's start line must not be read
        pid_ = fork();
        if (pid_ == 0) {
            const rlimit limit{fileLimit, fileLimit};
            if (fileLimit != 0 && setrlimit(RLIMIT_NOFILE, &limit) != 0)
                _exit(126);
            if (chdir(directory.c_str()) != 0)
                _exit(127);
            dup2(open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(TARVEK_SERVER_BINARY)};
            for (auto& argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(TARVEK_SERVER_BINARY, argv.data());
            _exit(127);
        }
    }
    ~ServerProcess()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    std::string standardOutput() const { return readFile(directory_ / "stdout.txt"); }
    std::string standardError() const { return readFile(directory_ / "stderr.txt"); }

    // The port of the start line, or 0 when the process ended without one.
    std::uint16_t waitForPort()
    {
        static const std::regex startLine(R"(tarvek server is running at [0-9.]+:(\d+) using \d+ threads)");
        for (int attempt = 0; attempt < 1000; ++attempt) {
            std::smatch match;
            const std::string text = standardError();
            if (std::regex_search(text, match, startLine))
                return static_cast<std::uint16_t>(std::stoi(match[1]));
            if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                exited_ = true;
                return 0;
            }
            std::this_thread::sleep_for(10ms);
        }
        return 0;
    }

    // Whether the process ends within the time; its wait status is then kept for wait().
    bool endsWithin(std::chrono::milliseconds limit)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!exited_ && std::chrono::steady_clock::now() < until) {
            if (waitpid(pid_, &status_, WNOHANG) == pid_)
                exited_ = true;
            else
                std::this_thread::sleep_for(5ms);
        }
        return exited_;
    }

    // Waits for the end of the process and returns its wait status.
    int wait()
    {
        if (!exited_)
            waitpid(pid_, &status_, 0);
        exited_ = true;
        return status_;
    }

    void signal(int number) const { kill(pid_, number); }
    pid_t pid() const { return pid_; }

private:
    fs::path directory_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool exited_ = false;
};

class ServerProgram : public ::testing::Test {
protected:
    ServerProgram()
        : directory(fs::temp_directory_path() /
                    ("tarvek-server-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name()))
    {
        fs::remove_all(directory);
        fs::create_directories(directory);
    }
    ~ServerProgram() override { fs::remove_all(directory); }

    void writeTemplate(const std::string& text) const { std::ofstream(directory / "index.html") << text; }

    fs::path directory;
};

} // namespace

TEST_F(ServerProgram, ServesUntilSignalledThenExitsCleanly)
{
    for (const int number : {SIGTERM, SIGINT}) {
        ServerProcess server(directory, {"0"});
        const auto port = server.waitForPort();
        ASSERT_NE(port, 0) << server.standardError();
        EXPECT_EQ(testhttp::post(port, "/recognize_receipt", "{}").body(), R"({"status":-1})");
        server.signal(number);
        const int status = server.wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    // Both runs appended to the one access log; the build line reached only standard error.
    const std::string log = readFile(directory / "access.log");
    const std::regex startLine(R"(\(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\) \[INFO    \] tarvek server is running at)");
    EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), startLine), std::sregex_iterator()), 2);
    EXPECT_EQ(log.find("BUILD : "), std::string::npos);
    EXPECT_NE(log.find("[ERROR   ] request body isn't json."), std::string::npos);
    EXPECT_EQ(log.find("\n\n"), std::string::npos);
}

// The server restarts itself once, under the same PID, to have glibc advise its large
// blocks as huge pages; tunables the operator set are kept, a hugetlb value among them
// wins. (glibc splits the variable's text in place when it reads it, so the process's
// environment block is searched for each tunable alone.)
TEST_F(ServerProgram, AddsTheHugePageTunableToItsEnvironmentOnce)
{
    struct Case {
        const char* given;  // nullptr: no GLIBC_TUNABLES
        std::vector<std::string> present, absent;
    };
    for (const Case& c : std::vector<Case>{
             {nullptr, {"glibc.malloc.hugetlb=1"}, {}},
             {"glibc.malloc.arena_max=2", {"glibc.malloc.arena_max=2", "glibc.malloc.hugetlb=1"}, {}},
             {"glibc.malloc.hugetlb=0", {"glibc.malloc.hugetlb=0"}, {"glibc.malloc.hugetlb=1"}}}) {
        if (c.given)
            setenv("GLIBC_TUNABLES", c.given, 1);
        else
            unsetenv("GLIBC_TUNABLES");
        ServerProcess server(directory, {"0"});
        // A server that restarted itself over and over would never announce its port.
        ASSERT_NE(server.waitForPort(), 0) << server.standardError();
        const std::string environment = readFile("/proc/" + std::to_string(server.pid()) + "/environ");
        for (const std::string& tunable : c.present)
            EXPECT_NE(environment.find(tunable), std::string::npos) << tunable;
        for (const std::string& tunable : c.absent)
            EXPECT_EQ(environment.find(tunable), std::string::npos) << tunable;
    }
    unsetenv("GLIBC_TUNABLES");
}

// OpenCV reads its pixel limit and OpenMP its thread limit when they are loaded, before main: the
// server restarts itself with both in its environment unless lower ones (any thread limit) are
// there, also when the huge-page tunable is set already and that restart does not happen.
TEST_F(ServerProgram, AddsTheDecoderAndEngineLimitsToItsEnvironment)
{
    struct Case {
        const char* pixels; // nullptr: unset
        const char* threads;
        const char* tunables;
        std::string expectedPixels;
        std::string expectedThreads;
    };
    const auto given = [](const char* name, const char* value) {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    };
    for (const Case& c : std::vector<Case>{{nullptr, nullptr, "", "=268435456", "=1"},
                                           {nullptr, "3", "glibc.malloc.hugetlb=1", "=268435456", "=3"},
                                           {"1000", nullptr, "glibc.malloc.hugetlb=1", "=1000", "=1"},
                                           {"1000", "2", "glibc.malloc.hugetlb=1", "=1000", "=2"},
                                           {"4294967296", "", "", "=268435456", "=1"}}) {
        given("OPENCV_IO_MAX_IMAGE_PIXELS", c.pixels);
        given("OMP_THREAD_LIMIT", c.threads);
        setenv("GLIBC_TUNABLES", c.tunables, 1);
        ServerProcess server(directory, {"0"});
        ASSERT_NE(server.waitForPort(), 0) << server.standardError();
        const std::string environment = '\0' + readFile("/proc/" + std::to_string(server.pid()) + "/environ");
        const std::string label = std::string(c.pixels ? c.pixels : "unset") + ", " + (c.threads ? c.threads : "unset");
        EXPECT_NE(environment.find('\0' + std::string("OPENCV_IO_MAX_IMAGE_PIXELS") + c.expectedPixels + '\0'),
                  std::string::npos)
            << label;
        EXPECT_NE(environment.find('\0' + std::string("OMP_THREAD_LIMIT") + c.expectedThreads + '\0'),
                  std::string::npos)
            << label;
    }
    unsetenv("OPENCV_IO_MAX_IMAGE_PIXELS");
    unsetenv("OMP_THREAD_LIMIT");
    unsetenv("GLIBC_TUNABLES");
}

TEST_F(ServerProgram, WritesTheBuildLineToStandardErrorFirst)
{
    ServerProcess server(directory, {"0"});
    ASSERT_NE(server.waitForPort(), 0);
    const std::regex buildLine(R"(^\(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\) \[INFO    \] BUILD : [A-Z][a-z]{2} [ \d]\d \d{4} \d\d:\d\d:\d\d\n)");
    EXPECT_TRUE(std::regex_search(server.standardError(), buildLine)) << server.standardError();
}

TEST_F(ServerProgram, PortArgumentWrapsToSixteenBits)
{
    // 4464 is 70000 modulo 65536.
    ServerProcess server(directory, {"70000", "ignored"});
    const auto port = server.waitForPort();
    if (port == 0 && server.standardError().find("ddress already in use") != std::string::npos)
        GTEST_SKIP() << "port 4464 is taken on this machine";
    EXPECT_EQ(port, 4464);
}

// Either option answers alone, wherever the port would stand, and serves nothing.
TEST_F(ServerProgram, VersionAndHelpAnswerOnStandardOutputAndExit)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--version"}, "tarvek-server " + std::string(tarvek::version()) + "\n"},
        {{"--help", "8080"}, "tarvek-server: the document tools over HTTP"},
        {{"-h"}, "tarvek-server: the document tools over HTTP"},
    };
    for (const auto& [arguments, start] : cases) {
        ServerProcess server(directory, arguments);
        const int status = server.wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << arguments[0];
        EXPECT_EQ(server.standardOutput().rfind(start, 0), 0u) << server.standardOutput();
        EXPECT_EQ(server.standardError(), "") << arguments[0];
        EXPECT_FALSE(fs::exists(directory / "access.log")) << arguments[0];
    }
}

TEST_F(ServerProgram, NonNumericPortEndsTheProcessBeforeAnyLogFile)
{
    for (const char* argument : {"abc", "99999999999"}) {
        ServerProcess server(directory, {argument});
        const int status = server.wait();
        EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << argument;
        EXPECT_FALSE(fs::exists(directory / "access.log")) << argument;
    }
}

TEST_F(ServerProgram, RendersThePageTemplateOnEveryRequest)
{
    ServerProcess server(directory, {"0"});
    const auto port = server.waitForPort();
    ASSERT_NE(port, 0);

    auto reply = testhttp::request(port, bhttp::verb::get, "/");
    EXPECT_EQ(reply.result_int(), 200);
    EXPECT_EQ(reply.body(), "");

    writeTemplate("<p>{{missing}}|{{#list}}x{{/list}}|done</p>");
    reply = testhttp::request(port, bhttp::verb::get, "/");
    EXPECT_EQ(reply.result_int(), 200);
    EXPECT_EQ(reply.body(), "<p>||done</p>");

    writeTemplate("<p>{{#open}}never closed</p>");
    EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/").result_int(), 500);
    EXPECT_EQ(testhttp::request(port, bhttp::verb::post, "/").result_int(), 405);
}

TEST_F(ServerProgram, ShipsAPageTemplateThatRenders)
{
    fs::copy_file(fs::path(TARVEK_WWW_DIR) / "index.html", directory / "index.html");
    ServerProcess server(directory, {"0"});
    const auto port = server.waitForPort();
    ASSERT_NE(port, 0);
    const auto reply = testhttp::request(port, bhttp::verb::get, "/");
    EXPECT_EQ(reply.result_int(), 200);
    EXPECT_NE(reply.body().find("/recognize_receipt"), std::string::npos);
    EXPECT_EQ(reply.body().find("{{"), std::string::npos);
}

namespace {

// Resident memory of a process in KiB, from /proc.
long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long value = 0;
            status >> value;
            return value;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

// User and system CPU time of a process, in clock ticks.
long cpuTicks(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index)
        if (index >= 14)
            ticks += std::stol(field);
    return ticks;
}

} // namespace

TEST_F(ServerProgram, HugeDeclaredImagesKeepMemoryBounded)
{
    ServerProcess server(directory, {"0"});
    const auto port = server.waitForPort();
    ASSERT_NE(port, 0);
    const std::string huge = pngDeclaring(40000, 40000);
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(testhttp::post(port, "/recognize_receipt", huge).body(), R"({"status":-2})");
    EXPECT_LT(residentKiB(server.pid()), 400 * 1024);
}

TEST_F(ServerProgram, RunningOutOfFileDescriptorsNeitherSpinsNorStops)
{
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' runtime needs descriptors of its own for some checks, and
    // reports false errors when there are none left.
    GTEST_SKIP() << "not meaningful under the sanitizers";
#endif
    ServerProcess server(directory, {"0"}, 48);
    const auto port = server.waitForPort();
    ASSERT_NE(port, 0) << server.standardError();

    testhttp::asio::io_context context;
    std::vector<testhttp::tcp::socket> idle;
    for (int i = 0; i < 80; ++i)
        idle.push_back(testhttp::connectTo(context, port));
    std::this_thread::sleep_for(300ms);
    const long before = cpuTicks(server.pid());
    std::this_thread::sleep_for(1s);
    EXPECT_LT(cpuTicks(server.pid()) - before, 30); // a spinning acceptor burns about 100 a second

    idle.clear();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(testhttp::post(port, "/recognize_receipt", "{}").body(), R"({"status":-1})");
    EXPECT_NE(readFile(directory / "access.log").find("accepting a connection failed: Too many open files"),
              std::string::npos);
}

// Photo work runs on threads of its own: the I/O threads go on answering.
TEST_F(ServerProgram, HealthAnswersWhileTwoSlowCleansRun)
{
    ServerProcess server(directory, {"0"});
    const auto port = server.waitForPort();
    ASSERT_NE(port, 0);
    std::vector<uchar> png;
    cv::imencode(".png", cv::Mat(6000, 6000, CV_8UC3, cv::Scalar(200, 205, 210)), png);
    const std::string photo(png.begin(), png.end());
    std::vector<std::future<testhttp::Reply>> cleans;
    for (int i = 0; i < 2; ++i)
        cleans.push_back(std::async(std::launch::async, [&] { return testhttp::post(port, "/v1/document/clean", photo); }));
    // Both cleans are being answered once the metrics count them in flight beside their own request.
    const auto inFlight = [&] {
        const std::string text = testhttp::request(port, bhttp::verb::get, "/metrics").body();
        const std::string name = "\ntarvek_http_requests_in_flight ";
        const auto at = text.find(name);
        return at == std::string::npos ? 0 : std::stoi(text.substr(at + name.size()));
    };
    ASSERT_TRUE(testhttp::eventually([&] { return inFlight() >= 3; }));

    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/v1/health").result_int(), 200);
    // A bound for a loaded machine; an I/O thread held by a clean would take seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    for (auto& clean : cleans)
        EXPECT_EQ(clean.wait_for(0s), std::future_status::timeout) << "a clean finished before health answered";
    for (auto& clean : cleans)
        EXPECT_EQ(clean.get().result_int(), 200);
}

namespace {

std::string slowPhoto()
{
    std::vector<uchar> png;
    cv::imencode(".png", cv::Mat(6000, 6000, CV_8UC3, cv::Scalar(200, 205, 210)), png);
    return std::string(png.begin(), png.end());
}

int requestsInFlight(std::uint16_t port)
{
    const std::string text = testhttp::request(port, bhttp::verb::get, "/metrics").body();
    const std::string name = "\ntarvek_http_requests_in_flight ";
    const auto at = text.find(name);
    return at == std::string::npos ? 0 : std::stoi(text.substr(at + name.size()));
}

bool exitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

} // namespace

// Ready once listening; on SIGTERM not ready, no new connections, the request under
// way answered in full, then exit 0.
TEST_F(ServerProgram, ReadinessFollowsStartDrainAndExit)
{
    ServerProcess server(directory, {"--port", "0", "--grace", "30"});
    const auto port = server.waitForPort();
    ASSERT_NE(port, 0) << server.standardError();
    testhttp::KeptConnection watcher(port);
    const auto ready = watcher.get("/v1/ready");
    EXPECT_EQ(ready.result_int(), 200);
    EXPECT_EQ(ready.body(), R"({"status":"ready"})");

    const std::string photo = slowPhoto();
    auto clean = std::async(std::launch::async, [&] { return testhttp::post(port, "/v1/document/clean", photo); });
    ASSERT_TRUE(testhttp::eventually([&] { return requestsInFlight(port) >= 2; }));
    server.signal(SIGTERM);

    // The signal arrives a moment later; until then the kept connection stays open. An idle
    // connection is closed once the drain begins, or answered 503 if its request came first.
    const auto readiness = [&watcher]() -> std::optional<testhttp::Reply> {
        try {
            return watcher.get("/v1/ready");
        } catch (const boost::system::system_error&) {
            return std::nullopt;
        }
    };
    auto draining = readiness();
    ASSERT_TRUE(testhttp::eventually([&] {
        draining = readiness();
        return !draining || draining->result_int() != 200 || !draining->keep_alive();
    }));
    if (draining) {
        EXPECT_EQ(draining->result_int(), 503);
        EXPECT_EQ(draining->body(), R"({"status":"draining"})");
    }
    EXPECT_EQ(clean.wait_for(0s), std::future_status::timeout) << "the clean ended before the drain was seen";
    const auto cleaned = clean.get();
    EXPECT_EQ(cleaned.result_int(), 200);
    EXPECT_GT(cleaned.body().size(), 1000u);
    EXPECT_TRUE(exitedWith(server.wait(), 0));
    EXPECT_THROW(testhttp::request(port, bhttp::verb::get, "/v1/ready"), boost::system::system_error);
}

// Refused settings end the program with a message before it opens any file or port. Each
// value the parser refuses is in Options.BadValuesAreNamedAndExitWithStatus2; here one of them,
// and what only the program itself can find out.
TEST_F(ServerProgram, RefusedSettingsExitWithStatus2BeforeAnyFile)
{
    std::ofstream(directory / "no-keys") << "# none yet\n\n";
    struct Case {
        std::vector<std::string> arguments;
        std::string said;
    };
    const std::vector<Case> cases = {
        {{"--port", "70000"}, "--port: Value 70000 not in range"},
        {{"--api-keys", "no-keys"}, "the API key file no-keys holds no key"},
        {{"--threads"}, "--threads"},
        {{"8080", "--unknown"}, "--unknown"},
    };
    for (const Case& c : cases) {
        ServerProcess server(directory, c.arguments);
        EXPECT_TRUE(exitedWith(server.wait(), 2)) << c.arguments[0];
        EXPECT_NE(server.standardError().find(c.said), std::string::npos) << server.standardError();
        EXPECT_FALSE(fs::exists(directory / "access.log")) << c.arguments[0];
    }
    // A settings file's blank line must not start a server without keys.
    setenv("TARVEK_API_KEYS", "", 1);
    ServerProcess open(directory, {"--port", "0"});
    unsetenv("TARVEK_API_KEYS");
    EXPECT_TRUE(exitedWith(open.wait(), 2));
    EXPECT_NE(open.standardError().find("TARVEK_API_KEYS is set but empty"), std::string::npos);
}

TEST_F(ServerProgram, APortTakenExitsWithStatus1)
{
    ServerProcess first(directory, {"--port", "0", "--bind", "127.0.0.1"});
    const auto port = first.waitForPort();
    ASSERT_NE(port, 0);
    ServerProcess second(directory, {"--port", std::to_string(port), "--bind", "127.0.0.1"});
    EXPECT_TRUE(exitedWith(second.wait(), 1));
    EXPECT_NE(second.standardError().find("cannot listen on 127.0.0.1:" + std::to_string(port) + ": Address already in use"),
              std::string::npos)
        << second.standardError();
}

// Settings from the environment: the log's folder and level, the page, the limits.
TEST_F(ServerProgram, SettingsShapeTheServer)
{
    fs::create_directories(directory / "logs");
    fs::create_directories(directory / "www");
    std::ofstream(directory / "www" / "page.html") << "<p>{{none}}here</p>";
    const std::vector<std::pair<const char*, std::string>> environment = {
        {"TARVEK_LOG_DIR", (directory / "logs").string()}, {"TARVEK_LOG_LEVEL", "warning"},
        {"TARVEK_PAGE", (directory / "www" / "page.html").string()}, {"TARVEK_MAX_BODY", "100k"},
        {"TARVEK_MAX_PIXELS", "100"}, {"TARVEK_BIND", "127.0.0.1"}, {"TARVEK_PORT", "0"}};
    for (const auto& [name, value] : environment)
        setenv(name, value.c_str(), 1);
    ServerProcess server(directory, {"--log-level", "info"});
    for (const auto& [name, value] : environment)
        unsetenv(name);
    const auto port = server.waitForPort();
    ASSERT_NE(port, 0) << server.standardError();

    EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/").body(), "<p>here</p>");
    EXPECT_EQ(testhttp::post(port, "/v1/document/detect", std::string(200 << 10, 'x')).result_int(), 413);
    const auto tooLarge = testhttp::post(port, "/v1/document/detect", pngDeclaring(20, 20));
    EXPECT_EQ(tooLarge.result_int(), 413);
    EXPECT_NE(tooLarge.body().find("more than 100 pixels"), std::string::npos) << tooLarge.body();
    server.signal(SIGTERM);
    EXPECT_TRUE(exitedWith(server.wait(), 0));
    EXPECT_FALSE(fs::exists(directory / "access.log"));
    const std::string log = readFile(directory / "logs" / "access.log");
    EXPECT_NE(log.find("[INFO    ] Request: "), std::string::npos) << "--log-level wins over TARVEK_LOG_LEVEL";
    EXPECT_NE(log.find("POST /v1/document/detect 413"), std::string::npos) << log;
}

// With keys only the operators' routes are open; a refusal is logged without the key;
// SIGHUP reads the file again.
TEST_F(ServerProgram, ApiKeysGuardTheRoutesAndAreReadAgainOnSighup)
{
    const fs::path keys = directory / "keys";
    std::ofstream(keys) << "alpha\n";
    ServerProcess server(directory, {"--port", "0", "--api-keys", keys.string(), "--protect-metrics"});
    const auto port = server.waitForPort();
    ASSERT_NE(port, 0) << server.standardError();
    const auto statusWith = [port](const std::string& target, const std::string& key) {
        testhttp::Headers headers;
        if (!key.empty())
            headers.emplace_back(bhttp::field::authorization, key);
        const auto method = target == "/v1/document/detect" ? bhttp::verb::post : bhttp::verb::get;
        return testhttp::request(port, method, target, {}, headers);
    };
    struct Case {
        std::string target, authorization;
        int status;
    };
    const std::vector<Case> cases = {
        {"/v1/health", "", 200},           {"/v1/ready", "Bearer wrong", 200},
        {"/v1/health?x=1", "", 200},       {"/v1/ready?", "", 200},
        {"/v1/document/detect", "bearer alpha", 400}, {"/v1/document/detect", "  BEARER   alpha  ", 400},
        {"/v1/document/detect", "Bearer", 401}, {"/v1/document/detect", "Bearer alpha beta", 401},
        {"/metrics", "", 401},             {"/metrics", "Bearer alpha", 200},
        {"/", "", 401},                    {"/v1/document/detect", "", 401},
        {"/v1/document/detect", "Bearer secret-guess", 401},
        {"/v1/document/detect", "alpha", 401}, {"/v1/document/detect", "Bearer alpha", 400},
        {"/nowhere", "", 401},
    };
    for (const Case& c : cases) {
        const auto reply = statusWith(c.target, c.authorization);
        EXPECT_EQ(reply.result_int(), c.status) << c.target << " " << c.authorization;
        if (c.status == 401) {
            EXPECT_EQ(reply[bhttp::field::www_authenticate], R"(Bearer realm="tarvek")");
        }
    }
    // Two Authorization fields are refused whatever they hold.
    EXPECT_NE(testhttp::rawExchange(port, "POST /v1/document/detect HTTP/1.1\r\nAuthorization: Bearer alpha\r\n"
                                          "Authorization: Bearer alpha\r\nConnection: close\r\nContent-Length: 0\r\n\r\n")
                  .find("HTTP/1.1 400"),
              std::string::npos);

    std::ofstream(keys) << "beta\n";
    server.signal(SIGHUP);
    ASSERT_TRUE(testhttp::eventually(
        [&] { return server.standardError().find("API keys read again, 1 in force") != std::string::npos; }));
    EXPECT_EQ(statusWith("/v1/document/detect", "Bearer alpha").result_int(), 401);
    EXPECT_EQ(statusWith("/v1/document/detect", "Bearer beta").result_int(), 400);
    std::ofstream(keys) << ""; // an emptied file keeps the keys in force
    server.signal(SIGHUP);
    ASSERT_TRUE(testhttp::eventually([&] {
        return server.standardError().find("holds no key; the keys read before stay in force") != std::string::npos;
    }));
    EXPECT_EQ(statusWith("/v1/document/detect", "Bearer beta").result_int(), 400);

    server.signal(SIGTERM);
    EXPECT_TRUE(exitedWith(server.wait(), 0));
    const std::string log = readFile(directory / "access.log");
    EXPECT_NE(log.find("[WARNING ] Request: 127.0.0.1"), std::string::npos);
    EXPECT_NE(log.find("POST /v1/document/detect 401 (unknown API key)"), std::string::npos) << log;
    EXPECT_NE(log.find("GET / 401 (no API key)"), std::string::npos) << log;
    EXPECT_EQ(log.find("secret-guess"), std::string::npos) << "a refused key is never logged";
}

namespace {

std::string encodedPng(const cv::Mat& image)
{
    std::vector<uchar> png;
    cv::imencode(".png", image, png);
    return std::string(png.begin(), png.end());
}


std::future<testhttp::Reply> postLater(std::uint16_t port, std::string target, const std::string& body)
{
    return std::async(std::launch::async, [port, target = std::move(target), &body] {
        try {
            return testhttp::post(port, target, body);
        } catch (const boost::system::system_error&) {
            return testhttp::Reply{}; // closed unanswered
        }
    });
}

} // namespace

// A reload that finds no regular file in the key file's place (a FIFO, which would block a
// reader until someone writes, a device that never ends, a file too large to be keys) keeps
// the keys in force, and the server answers all the while.
TEST_F(ServerProgram, AKeyReloadRefusesWhatIsNoKeyFileAndNeverHoldsUpTheServer)
{
    const fs::path keys = directory / "keys";
    std::ofstream(keys) << "alpha\n";
    ServerProcess server(directory, {"--port", "0", "--api-keys", keys.string()});
    const auto port = server.waitForPort();
    ASSERT_NE(port, 0) << server.standardError();
    const std::vector<std::pair<std::function<void()>, std::string>> replacements = {
        {[&] { ASSERT_EQ(mkfifo(keys.c_str(), 0600), 0); }, "is not a file"},
        {[&] { fs::create_symlink("/dev/zero", keys); }, "is not a file"},
        {[&] { std::ofstream(keys) << std::string(2u << 20, 'k'); }, "is larger than 1048576 bytes"},
    };
    for (const auto& [replace, said] : replacements) {
        fs::remove(keys);
        replace();
        server.signal(SIGHUP);
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/v1/health").result_int(), 200) << said;
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s) << said;
        EXPECT_TRUE(testhttp::eventually([&] { return server.standardError().find(said) != std::string::npos; }, 5s))
            << server.standardError();
        testhttp::Headers key{{bhttp::field::authorization, "Bearer alpha"}};
        EXPECT_EQ(testhttp::request(port, bhttp::verb::post, "/v1/document/detect", {}, key).result_int(), 400)
            << "the keys read before stay in force";
    }
    server.signal(SIGTERM);
    EXPECT_TRUE(server.endsWithin(10s));
}

// The stop keeps its word: connections without a whole request (idle, half a header, half a
// body) are closed at once, work under way gets at most the grace period and is answered 503
// then, and a second signal ends the program at once. Exit status 0 in every case.
TEST_F(ServerProgram, StopsWithinItsGraceWhateverIsRunning)
{
    const std::string slowRead = encodedPng(testreceipt::crowdedReceipts(10, 8)), slowClean = slowPhoto();
    struct Case {
        std::string grace;
        bool secondSignal;
        std::chrono::milliseconds bound; // the grace and a wide margin; the work takes far longer
    };
    for (const Case& c : {Case{"0", false, 2s}, Case{"2", false, 4500ms}, Case{"60", true, 2s}}) {
        std::vector<std::future<testhttp::Reply>> work; // before the server: its end lets them go
        ServerProcess server(directory, {"--port", "0", "--grace", c.grace});
        const auto port = server.waitForPort();
        ASSERT_NE(port, 0) << server.standardError();
        testhttp::KeptConnection idle(port), halfHeader(port), halfBody(port);
        EXPECT_EQ(idle.get("/v1/health").result_int(), 200);
        testhttp::asio::write(halfHeader.socket, testhttp::asio::buffer(std::string("GET /v1/health HTTP/1.1\r\n")));
        testhttp::asio::write(halfBody.socket,
                              testhttp::asio::buffer(std::string("POST /v1/document/detect HTTP/1.1\r\n"
                                                                 "Content-Length: 1000\r\n\r\nhalf")));
        work.push_back(postLater(port, "/v1/document/read?lang=eng&rectify=false&upright=false&deadline_ms=60000",
                                 slowRead));
        work.push_back(postLater(port, "/v1/document/clean", slowClean));
        ASSERT_TRUE(testhttp::eventually([&] { return requestsInFlight(port) >= 3; }));

        const auto stopped = std::chrono::steady_clock::now();
        server.signal(SIGTERM);
        if (c.secondSignal) {
            std::this_thread::sleep_for(300ms);
            server.signal(SIGTERM);
        }
        ASSERT_TRUE(server.endsWithin(c.bound + 10s)) << "grace " << c.grace;
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, c.bound) << "grace " << c.grace;
        EXPECT_TRUE(exitedWith(server.wait(), 0));
        for (auto& reply : work) {
            ASSERT_EQ(reply.wait_for(5s), std::future_status::ready);
            const int status = reply.get().result_int();
            EXPECT_TRUE(status == 503 || status == 200) << status; // 200: a photo quicker than the grace
        }
        const std::string log = readFile(directory / "access.log");
        EXPECT_NE(log.find("the server stops: "), std::string::npos) << log;
    }
}

// Many small photos at once are all answered: the queue is bounded by what it holds, not by a count.
TEST_F(ServerProgram, TwoHundredConnectionsOfSmallPhotosAreAllAnswered)
{
    ServerProcess server(directory, {"--port", "0"});
    const auto port = server.waitForPort();
    ASSERT_NE(port, 0) << server.standardError();
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", cv::Mat(120, 160, CV_8UC3, cv::Scalar(90, 120, 200)), jpeg);
    const std::string photo(jpeg.begin(), jpeg.end());
    std::atomic<int> answered{0}, refused{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 200; ++i)
        clients.emplace_back([&] {
            testhttp::KeptConnection connection(port);
            for (int request = 0; request < 3; ++request)
                ++(connection.post("/v1/document/detect", photo).result_int() == 200 ? answered : refused);
        });
    for (auto& client : clients)
        client.join();
    EXPECT_EQ(answered.load(), 600);
    EXPECT_EQ(refused.load(), 0);
}

// Photos reserve their route's peak from the memory budget before they are decoded: a
// second large photo waits for none while a first takes the budget, and one beyond the
// whole budget is refused for good.
TEST_F(ServerProgram, TheMemoryBudgetRefusesASecondLargePhotoWhileOneIsWorkedOn)
{
    ServerProcess server(directory, {"--port", "0", "--memory-budget", "500m"});
    const auto port = server.waitForPort();
    ASSERT_NE(port, 0) << server.standardError();
    const std::string photo = slowPhoto(); // 36 megapixels: about 330 MB to clean
    auto first = postLater(port, "/v1/document/clean", photo);
    ASSERT_TRUE(testhttp::eventually([&] { return requestsInFlight(port) >= 2; }));
    const auto second = testhttp::post(port, "/v1/document/clean", photo);
    EXPECT_EQ(second.result_int(), 503) << second.body();
    EXPECT_EQ(second[bhttp::field::retry_after], "1");
    EXPECT_NE(second.body().find("memory"), std::string::npos) << second.body();
    const auto huge = testhttp::post(port, "/v1/document/binarize",
                                     encodedPng(cv::Mat(10000, 10000, CV_8UC1, cv::Scalar(255))));
    EXPECT_EQ(huge.result_int(), 413) << huge.body();
    EXPECT_EQ(first.get().result_int(), 200);
    EXPECT_EQ(testhttp::post(port, "/v1/document/clean", photo).result_int(), 200) << "the budget is free again";
}
