// The tarvek-server program as a process: command line, start-up, shutdown
// and the files it leaves.

#include "http_client.h"
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
        static const std::regex startLine(R"(tarvek server is running at 0\.0\.0\.0:(\d+) using \d+ threads)");
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

// OpenCV reads its pixel limit when it is loaded, before main: the server restarts itself
// with the limit in its environment unless a lower one is there, also when the huge-page
// tunable is set already and that restart does not happen.
TEST_F(ServerProgram, AddsTheDecoderPixelLimitToItsEnvironment)
{
    struct Case {
        const char* given; // nullptr: unset
        const char* tunables;
        std::string expected;
    };
    for (const Case& c : std::vector<Case>{{nullptr, "", "=268435456"},
                                           {nullptr, "glibc.malloc.hugetlb=1", "=268435456"},
                                           {"1000", "glibc.malloc.hugetlb=1", "=1000"},
                                           {"4294967296", "", "=268435456"}}) {
        if (c.given)
            setenv("OPENCV_IO_MAX_IMAGE_PIXELS", c.given, 1);
        else
            unsetenv("OPENCV_IO_MAX_IMAGE_PIXELS");
        setenv("GLIBC_TUNABLES", c.tunables, 1);
        ServerProcess server(directory, {"0"});
        ASSERT_NE(server.waitForPort(), 0) << server.standardError();
        const std::string environment = '\0' + readFile("/proc/" + std::to_string(server.pid()) + "/environ");
        EXPECT_NE(environment.find('\0' + std::string("OPENCV_IO_MAX_IMAGE_PIXELS") + c.expected + '\0'),
                  std::string::npos)
            << (c.given ? c.given : "unset");
    }
    unsetenv("OPENCV_IO_MAX_IMAGE_PIXELS");
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
        {{"--help", "8080"}, "Usage: tarvek-server [PORT]\n"},
        {{"-h"}, "Usage: tarvek-server [PORT]\n"},
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
    while (inFlight() < 3)
        std::this_thread::sleep_for(1ms);

    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/v1/health").result_int(), 200);
    // A bound for a loaded machine; an I/O thread held by a clean would take seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    for (auto& clean : cleans)
        EXPECT_EQ(clean.wait_for(0s), std::future_status::timeout) << "a clean finished before health answered";
    for (auto& clean : cleans)
        EXPECT_EQ(clean.get().result_int(), 200);
}
