// The HTTP layer over real loopback connections.

#include "http/logger.h"
#include "http_client.h"
#include "plain_json.h"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using tarvek::http::App;
using tarvek::http::LogLevel;
using tarvek::http::Method;
using tarvek::http::Request;
using tarvek::http::Response;
namespace bhttp = testhttp::bhttp;

class HttpServer : public ::testing::Test {
protected:
    HttpServer()
    {
        tarvek::http::logger::setHandler(&errors);
        app.route(Method::post, "/echo", [](const Request& request) { return Response(200, request.body(), "text/plain"); });
        app.route(Method::get, "/json", [](const Request&) { return boost::json::value{{"a", 1}}; });
        app.route(Method::get, "/throws", [](const Request&) -> Response { throw std::runtime_error("boom"); });
        app.route(Method::get, "/throws-int", [](const Request&) -> Response { throw 42; });
        tarvek::http::ServerLimits limits;
        limits.bodyLimit = 4096;
        limits.headerTimeout = 1000ms;
        limits.bodyIdleTimeout = 1000ms;
        app.limits(limits).concurrency(2);
    }
    ~HttpServer() override { tarvek::http::logger::setHandler(nullptr); }

    std::uint16_t start()
    {
        server.emplace(app);
        return server->port();
    }

    testhttp::RecordingLog errors;
    App app;
    std::optional<testhttp::RunningServer> server;
};

std::string curl(const std::string& arguments)
{
    std::string output;
    FILE* pipe = popen(("curl -s " + arguments + " 2>&1").c_str(), "r");
    char chunk[4096];
    while (std::size_t n = fread(chunk, 1, sizeof chunk, pipe))
        output.append(chunk, n);
    pclose(pipe);
    return output;
}

} // namespace

TEST_F(HttpServer, RoutesByExactPathThenMethod)
{
    const auto port = start();
    EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/nowhere").result_int(), 404);
    EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/echo").result_int(), 405);
    EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/json/").result_int(), 404);

    const auto reply = testhttp::request(port, bhttp::verb::get, "/json?x=1");
    EXPECT_EQ(reply.result_int(), 200);
    EXPECT_EQ(reply[bhttp::field::content_type], "application/json");
    EXPECT_EQ(reply.body(), R"({"a":1})");
}

TEST_F(HttpServer, HandlerExceptionsAnswer500AndAreLogged)
{
    const auto port = start();
    for (const char* target : {"/throws", "/throws-int"}) {
        const auto reply = testhttp::request(port, bhttp::verb::get, target);
        EXPECT_EQ(reply.result_int(), 500);
        EXPECT_TRUE(reply.body().empty());
    }
    EXPECT_TRUE(errors.contains(LogLevel::Error, "An uncaught exception occurred: boom"));
    EXPECT_TRUE(errors.contains(
        LogLevel::Error, "An uncaught exception occurred. The type was unknown so no information was available."));
    EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/json").result_int(), 200);
}

TEST_F(HttpServer, KeepsConnectionsAliveAcrossRequests)
{
    const auto port = start();
    testhttp::asio::io_context context;
    auto socket = testhttp::connectTo(context, port);
    testhttp::beast::flat_buffer buffer;
    for (int i = 0; i < 3; ++i) {
        bhttp::request<bhttp::string_body> message(bhttp::verb::post, "/echo", 11);
        message.body() = "round " + std::to_string(i);
        message.prepare_payload();
        bhttp::write(socket, message);
        EXPECT_EQ(testhttp::readReply(socket, buffer).body(), "round " + std::to_string(i));
    }
}

TEST_F(HttpServer, ReadsChunkedBodies)
{
    const auto answer = testhttp::rawExchange(start(), "POST /echo HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                                                       "Transfer-Encoding: chunked\r\n\r\n"
                                                       "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(answer.substr(answer.size() - 11), "hello world");
}

TEST_F(HttpServer, AnswersExpectContinue)
{
    const auto port = start();
    const std::string body(3000, 'x');
    const auto output = curl("-v -H 'Expect: 100-continue' --data-binary " + std::string(3000, 'x') +
                             " http://127.0.0.1:" + std::to_string(port) + "/echo");
    EXPECT_NE(output.find("HTTP/1.1 100 Continue"), std::string::npos) << output;
    EXPECT_NE(output.find(body), std::string::npos);
}

TEST_F(HttpServer, RefusesBodiesOverTheLimitAndKeepsServing)
{
    const auto port = start();
    const auto declared = testhttp::rawExchange(port, "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n" +
                                                          std::string(5000, 'x'));
    EXPECT_EQ(declared.substr(0, 12), "HTTP/1.1 413");
    std::string chunked = "POST /echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 5; ++i)
        chunked += "400\r\n" + std::string(1024, 'y') + "\r\n";
    EXPECT_EQ(testhttp::rawExchange(port, chunked + "0\r\n\r\n").substr(0, 12), "HTTP/1.1 413");
    EXPECT_TRUE(errors.contains(LogLevel::Warning, "POST /echo 413 (the body exceeds the limit of 4096 bytes)"));

    EXPECT_EQ(testhttp::post(port, "/echo", "still here").body(), "still here");
}

TEST_F(HttpServer, AnswersMalformedRequests400)
{
    const auto port = start();
    EXPECT_EQ(testhttp::rawExchange(port, "NOT HTTP AT ALL\r\n\r\n").substr(0, 12), "HTTP/1.1 400");
    EXPECT_EQ(testhttp::rawExchange(port, "POST /echo HTTP/1.1\r\nContent-Length: abc\r\n\r\n").substr(0, 12),
              "HTTP/1.1 400");
}

TEST_F(HttpServer, DropsSlowClientsWithoutHoldingUpOthers)
{
    const auto port = start();
    testhttp::asio::io_context context;
    auto silent = testhttp::connectTo(context, port);
    auto slowBody = testhttp::connectTo(context, port);
    testhttp::asio::write(slowBody, testhttp::asio::buffer(std::string(
                                        "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\nabc")));

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(testhttp::post(port, "/echo", "served").body(), "served");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 800ms);

    for (auto* socket : {&silent, &slowBody}) {
        char byte;
        testhttp::beast::error_code ec;
        socket->read_some(testhttp::asio::buffer(&byte, 1), ec);
        EXPECT_EQ(ec, testhttp::asio::error::eof);
    }
}

TEST_F(HttpServer, ReadsBodiesOfChangingSizeOnOneConnection)
{
    tarvek::http::ServerLimits limits;
    limits.bodyLimit = 1u << 20;
    app.limits(limits);
    const auto port = start();
    testhttp::asio::io_context context;
    auto socket = testhttp::connectTo(context, port);
    testhttp::beast::flat_buffer buffer;
    // Each body follows its header in a write of its own, so that it is read
    // after the header; a pattern that repeats at no power of two shows bytes
    // out of place.
    for (const std::size_t size : {7u, 300001u, 5u, 131075u, 1u}) {
        std::string body(size, ' ');
        for (std::size_t i = 0; i < size; ++i)
            body[i] = static_cast<char>('a' + i * 7 % 23);
        const std::string head = "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
        testhttp::asio::write(socket, testhttp::asio::buffer(head));
        std::this_thread::sleep_for(20ms);
        testhttp::asio::write(socket, testhttp::asio::buffer(body));
        EXPECT_EQ(testhttp::readReply(socket, buffer).body(), body) << size;
    }
}

TEST_F(HttpServer, JsonAnswersAreTheSameTextAtEverySize)
{
    // Small values take the library's path (those with fractions the plain one); large ones are written into a
    // body sized from an estimate, which escapes outgrow.
    const std::vector<boost::json::value> answers = {
        {{"status", -1}},
        {{"status", 0}, {"image", std::string(5000, 'Q')}, {"fields", {"1577-5448", "0"}}},
        {{"text", std::string(3000, '"') + std::string(3000, '\n')}, {"tail", "\x01"}},
        boost::json::array(2000, boost::json::value(-1234567.891)),
        {{"nested", {{"a", {true, nullptr, std::string(4500, 'x')}}}}},
        // One byte to escape at either end of a long text; bytes above 0x7E need none.
        {{"image", std::string(4999, 'Q') + "\\"}},
        {{"image", "\x1f" + std::string(4999, 'Q')}},
        {{"image", std::string(4000, 'Q') + "\x7f의"}},
    };
    for (std::size_t i = 0; i < answers.size(); ++i)
        app.route(Method::get, "/answer" + std::to_string(i), [answer = answers[i]](const Request&) { return answer; });
    const auto port = start();
    for (std::size_t i = 0; i < answers.size(); ++i)
        EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/answer" + std::to_string(i)).body(),
                  tarvek::plainJson(answers[i]))
            << i;
}

// Sends bytes on a connection of its own and reads until the server closes it;
// answers the connection's "127.0.0.1:PORT" as the server sees it.
std::string exchangeFrom(std::uint16_t port, const std::string& bytes)
{
    testhttp::asio::io_context context;
    auto socket = testhttp::connectTo(context, port);
    const std::string address = "127.0.0.1:" + std::to_string(socket.local_endpoint().port());
    testhttp::beast::error_code ec;
    testhttp::asio::write(socket, testhttp::asio::buffer(bytes), ec);
    std::string answer;
    testhttp::asio::read(socket, testhttp::asio::dynamic_buffer(answer), ec);
    return address;
}

// Every answer, the layer's own refusals included, leaves one line with the
// client's address, the method and target it sent (cut and escaped) and the status.
TEST_F(HttpServer, LogsEveryAnswerWithTheClientsAddressMethodTargetAndStatus)
{
    const auto port = start();
    const std::string close = "Host: x\r\nConnection: close\r\n";
    const std::string longTarget = "/json?" + std::string(1000, 'a');
    struct Case {
        std::string bytes;
        std::string logged; // after the address
        LogLevel level;
    };
    const std::vector<Case> cases = {
        {"GET /json?x=1 HTTP/1.1\r\n" + close + "\r\n", " GET /json?x=1 200\n", LogLevel::Info},
        {"GET /nowhere HTTP/1.1\r\n" + close + "\r\n", " GET /nowhere 404\n", LogLevel::Warning},
        {"GET " + longTarget + " HTTP/1.1\r\n" + close + "\r\n", " GET " + longTarget.substr(0, 256) + "... 200\n",
         LogLevel::Info},
        {"NOT HTTP AT ALL\r\n\r\n", " NOT HTTP 400 (malformed request: ", LogLevel::Warning},
        {"POST /echo HTTP/1.1\r\nContent-Length: abc\r\n\r\n", " POST /echo 400 (malformed request: ",
         LogLevel::Warning},
        {"GET /\x1b[2J\x01 HTTP/1.1\r\n\r\n", " GET /\\x1b[2J\\x01 400 (malformed request: ", LogLevel::Warning},
        {"\r\n\x7f\r\n\r\n", " - - 400 (malformed request: ", LogLevel::Warning},
        {"GET /json HTTP/1.1\r\nX-Filler: " + std::string(20000, 'h') + "\r\n\r\n",
         " GET /json 431 (the header exceeds the limit of 16384 bytes)\n", LogLevel::Warning},
        {"POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'x'),
         " POST /echo 413 (the body exceeds the limit of 4096 bytes)\n", LogLevel::Warning},
    };
    for (const Case& c : cases) {
        const std::string address = exchangeFrom(port, c.bytes);
        EXPECT_TRUE(errors.contains(c.level, "] Request: " + address + c.logged)) << c.logged << errors.text();
    }
}

// A client that stops sending in the middle of a request has left: no answer, no line.
TEST_F(HttpServer, AClientLeavingMidRequestGetsNoAnswerAndNoLine)
{
    const auto port = start();
    const std::vector<std::string> parts = {"POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nhalf",
                                            "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab",
                                            "GET /json HTTP/1.1\r\nHost: x\r\n"};
    for (const std::string& part : parts) {
        testhttp::asio::io_context context;
        auto socket = testhttp::connectTo(context, port);
        const std::string address = "127.0.0.1:" + std::to_string(socket.local_endpoint().port());
        testhttp::asio::write(socket, testhttp::asio::buffer(part));
        socket.shutdown(testhttp::tcp::socket::shutdown_send);
        std::string answer;
        testhttp::beast::error_code ec;
        testhttp::asio::read(socket, testhttp::asio::dynamic_buffer(answer), ec);
        EXPECT_EQ(answer, "") << part;
        EXPECT_FALSE(errors.contains(LogLevel::Warning, address)) << part << errors.text();
    }
}

TEST_F(HttpServer, HeadAnswersTheGetHeaderWithoutABodyAnd405SaysWhatIsAllowed)
{
    const auto port = start();
    // The client reads no body after a HEAD answer; what the server sent would
    // be left in the connection and taken for the next answer.
    const std::string head = testhttp::rawExchange(port, "HEAD /json HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(head.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_NE(head.find("Content-Length: 7\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n") << head;

    const auto getOnly = testhttp::request(port, bhttp::verb::post, "/json");
    EXPECT_EQ(getOnly.result_int(), 405);
    EXPECT_EQ(getOnly[bhttp::field::allow], "GET, HEAD");
    const auto postOnly = testhttp::request(port, bhttp::verb::head, "/echo");
    EXPECT_EQ(postOnly.result_int(), 405);
    EXPECT_EQ(postOnly[bhttp::field::allow], "POST");
}

// Counts the requests whose header has been read.
// A pooled route whose requests wait until the test lets them go.
class PooledWork : public HttpServer {
protected:
    PooledWork()
    {
        app.observe(arrivals);
        app.pooledRoute(Method::post, "/slow", [this](const Request& request) {
            started.fetch_add(1);
            released.wait_for(30s); // a test that never lets it go fails instead of hanging
            return Response(200, "slow " + request.body(), "text/plain");
        });
        // Bodies that say "quick" need no pool.
        app.pooledRoute(
            Method::post, "/maybe", [](const Request&) { return Response(200, "answered", "text/plain"); },
            [](const Request& request) { return request.body() != "quick"; });
    }
    ~PooledWork() override { release.set_value(); }

    void waitUntilStarted(int count)
    {
        ASSERT_TRUE(testhttp::eventually([&] { return started.load() >= count; })) << count;
    }
    void waitForArrivals(int count)
    {
        ASSERT_TRUE(testhttp::eventually([&] { return arrivals->count.load() >= count; })) << count;
    }

    // A pool of one thread with one place in its queue, and one event loop:
    // once the loop has told the observers of a request, that request is
    // queued before the loop reads any other.
    std::uint16_t startWithOneThreadAndOnePlace()
    {
        tarvek::http::ServerLimits limits;
        limits.work.threads = 1;
        limits.work.queue.count = 1;
        app.limits(limits).concurrency(1);
        return start();
    }

    // The pool's thread busy with one request, another in its queue.
    std::pair<std::future<testhttp::Reply>, std::future<testhttp::Reply>> runOneAndQueueOne(std::uint16_t port)
    {
        auto running = std::async(std::launch::async, [port] { return testhttp::post(port, "/slow", "running"); });
        waitUntilStarted(1);
        auto waiting = std::async(std::launch::async, [port] { return testhttp::post(port, "/slow?queued", "waiting"); });
        waitForArrivals(2);
        return {std::move(running), std::move(waiting)};
    }

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> started{0};
    std::shared_ptr<testhttp::Arrivals> arrivals = std::make_shared<testhttp::Arrivals>();
};

TEST_F(PooledWork, SlowWorkHoldsUpNeitherSmallRoutesNorOtherConnections)
{
    tarvek::http::ServerLimits limits;
    limits.work.threads = 2;
    app.limits(limits).concurrency(1); // one event loop: every connection shares it
    const auto port = start();
    std::vector<std::future<testhttp::Reply>> slow;
    for (const char* body : {"a", "b"})
        slow.push_back(std::async(std::launch::async, [port, body] { return testhttp::post(port, "/slow", body); }));
    waitUntilStarted(2);

    EXPECT_EQ(testhttp::request(port, bhttp::verb::get, "/json").result_int(), 200);
    EXPECT_EQ(testhttp::post(port, "/maybe", "quick").body(), "answered");
    for (auto& reply : slow)
        EXPECT_EQ(reply.wait_for(0s), std::future_status::timeout);

    release.set_value();
    release = {};
    EXPECT_EQ(slow[0].get().body(), "slow a");
    EXPECT_EQ(slow[1].get().body(), "slow b");
}

TEST_F(PooledWork, AFullQueueAnswers503WithRetryAfterAndTheServerGoesOn)
{
    const auto port = startWithOneThreadAndOnePlace();
    auto [running, waiting] = runOneAndQueueOne(port);

    const auto refused = testhttp::post(port, "/maybe", "needs the pool");
    EXPECT_EQ(refused.result_int(), 503);
    EXPECT_EQ(refused[bhttp::field::retry_after], "1");
    EXPECT_EQ(boost::json::parse(refused.body()).at("error").at("code"), "busy");
    EXPECT_TRUE(errors.contains(LogLevel::Warning, "POST /maybe 503 (the work queue is full)"));
    EXPECT_EQ(testhttp::post(port, "/maybe", "quick").body(), "answered");

    release.set_value();
    release = {};
    EXPECT_EQ(running.get().body(), "slow running");
    EXPECT_EQ(waiting.get().body(), "slow waiting");
}

TEST_F(PooledWork, ARouteOnAPoolOfItsOwnLeavesTheSharedPoolFree)
{
    const auto own = app.workPool({1, {0}, 3, "own work"});
    app.pooledRoute(
        Method::post, "/own",
        [this](const Request&) {
            started.fetch_add(1);
            released.wait_for(30s); // a test that never lets it go fails instead of hanging
            return Response(200, "own", "text/plain");
        },
        {}, own);
    const auto port = startWithOneThreadAndOnePlace();
    auto running = std::async(std::launch::async, [port] { return testhttp::post(port, "/own", "running"); });
    waitUntilStarted(1);

    const auto refused = testhttp::post(port, "/own", "no place");
    EXPECT_EQ(refused.result_int(), 503);
    EXPECT_EQ(refused[bhttp::field::retry_after], "3");
    EXPECT_EQ(testhttp::post(port, "/maybe", "needs the shared pool").body(), "answered");

    release.set_value();
    release = {};
    EXPECT_EQ(running.get().body(), "own");
    EXPECT_THROW(app.pooledRoute(Method::post, "/nowhere", {}, {}, own + 1), std::invalid_argument);
}

// stop() answers the running and the waiting request 503 at once; without a
// program to exit, run() still waits for the running handler, and the waiting
// one never starts.
TEST_F(PooledWork, StoppingAnswersWorkUnderWay503AndStartsNoMore)
{
    auto [running, waiting] = runOneAndQueueOne(startWithOneThreadAndOnePlace());

    auto stopped = std::async(std::launch::async, [this] { server.reset(); });
    for (auto* reply : {&running, &waiting}) {
        ASSERT_EQ(reply->wait_for(10s), std::future_status::ready);
        const auto answer = reply->get();
        EXPECT_EQ(answer.result_int(), 503);
        EXPECT_EQ(boost::json::parse(answer.body()).at("error").at("code"), "stopping");
    }
    EXPECT_EQ(stopped.wait_for(50ms), std::future_status::timeout);
    release.set_value();
    release = {};
    ASSERT_EQ(stopped.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(started.load(), 1);
}

// A client that leaves while its request waits or runs is logged 499 with the
// address it came from; a waiting request never starts, and the connection's
// place in the queue is free again.
TEST_F(PooledWork, AClientLeavingAbandonsItsWorkAndIsLogged499)
{
    const auto port = startWithOneThreadAndOnePlace();
    auto running = std::async(std::launch::async, [port] { return testhttp::post(port, "/slow", "running"); });
    waitUntilStarted(1);
    std::string address;
    {
        testhttp::asio::io_context context;
        auto socket = testhttp::connectTo(context, port);
        address = "127.0.0.1:" + std::to_string(socket.local_endpoint().port());
        testhttp::asio::write(socket, testhttp::asio::buffer(
                                          std::string("POST /slow HTTP/1.1\r\nContent-Length: 4\r\n\r\ngone")));
        waitForArrivals(2);
    } // closed while it waits
    ASSERT_TRUE(testhttp::eventually([&] { return errors.contains(LogLevel::Warning, address + " POST /slow 499"); }))
        << errors.text();
    // Its place is free: another request waits instead of being refused.
    auto next = std::async(std::launch::async, [port] { return testhttp::post(port, "/slow", "next"); });
    waitForArrivals(3);
    release.set_value();
    release = {};
    EXPECT_EQ(running.get().body(), "slow running");
    EXPECT_EQ(next.get().body(), "slow next");
    EXPECT_EQ(started.load(), 2) << "the abandoned request never started";
}

TEST_F(HttpServer, StopEndsRunAndTheServerCanRunAgain)
{
    start();
    server.reset();
    EXPECT_EQ(testhttp::request(start(), bhttp::verb::get, "/json").result_int(), 200);
}

TEST(Logger, FormatsLinesWithEightCharacterPrefixes)
{
    using tarvek::http::logger::formatLine;
    EXPECT_EQ(formatLine("2019-04-25 14:30:23", LogLevel::Info, "hello"), "(2019-04-25 14:30:23) [INFO    ] hello\n");
    EXPECT_EQ(formatLine("t", LogLevel::Debug, "m"), "(t) [DEBUG   ] m\n");
    EXPECT_EQ(formatLine("t", LogLevel::Warning, "m"), "(t) [WARNING ] m\n");
    EXPECT_EQ(formatLine("t", LogLevel::Error, "m"), "(t) [ERROR   ] m\n");
    EXPECT_EQ(formatLine("t", LogLevel::Critical, "m"), "(t) [CRITICAL] m\n");
}

TEST(Logger, TestsTheLevelBeforeFormingALine)
{
    using namespace tarvek::http;
    EXPECT_EQ(logger::level(), LogLevel::Info);
    EXPECT_FALSE(logger::enabled(LogLevel::Debug));
    EXPECT_TRUE(logger::enabled(LogLevel::Info));
    logger::setLevel(LogLevel::Error);
    EXPECT_FALSE(logger::enabled(LogLevel::Warning));
    EXPECT_TRUE(logger::enabled(LogLevel::Critical));
    logger::setLevel(LogLevel::Info);
}

namespace {

// Whether a new connection to the port is refused.
bool refusesConnections(std::uint16_t port)
{
    try {
        testhttp::asio::io_context context;
        testhttp::connectTo(context, port);
        return false;
    } catch (const boost::system::system_error&) {
        return true;
    }
}

} // namespace

// A drain answers every request it has accepted, the running one and the
// queued ones, closes at once the connections without a whole request (idle,
// half a header, half a body), and then run() returns by itself.
TEST_F(PooledWork, DrainingAnswersEveryAcceptedRequestAndClosesTheRest)
{
    tarvek::http::ServerLimits limits;
    limits.work.threads = 1;
    limits.work.queue.count = 4;
    limits.headerTimeout = limits.bodyIdleTimeout = 30s;
    app.limits(limits).concurrency(2);
    app.bindaddr("127.0.0.1").port(0);
    std::thread runner([this] { app.run(); });
    const auto port = app.waitUntilListening();
    EXPECT_EQ(app.state(), tarvek::http::ServerState::serving);

    testhttp::KeptConnection idle(port);
    EXPECT_TRUE(idle.get("/json").keep_alive());
    std::vector<std::unique_ptr<testhttp::KeptConnection>> halves;
    for (const char* half : {"GET /json HTTP/1.1\r\nHost: x\r\n", "POST /echo HTTP/1.1\r\nContent-Length: 9\r\n\r\nhalf"}) {
        halves.push_back(std::make_unique<testhttp::KeptConnection>(port));
        testhttp::asio::write(halves.back()->socket, testhttp::asio::buffer(std::string(half)));
    }
    std::vector<std::future<testhttp::Reply>> slow;
    for (const char* body : {"1", "2", "3"})
        slow.push_back(std::async(std::launch::async, [port, body] { return testhttp::post(port, "/slow", body); }));
    waitForArrivals(4); // the kept connection's request and the three slow ones

    const auto began = std::chrono::steady_clock::now();
    app.drain();
    EXPECT_EQ(app.state(), tarvek::http::ServerState::draining);
    EXPECT_TRUE(testhttp::eventually([&] { return refusesConnections(port); }, 2s));
    for (auto* connection : {&idle, halves[0].get(), halves[1].get()}) {
        char byte;
        boost::system::error_code ec;
        connection->socket.read_some(testhttp::asio::buffer(&byte, 1), ec);
        EXPECT_TRUE(ec) << "closed without an answer";
    }
    EXPECT_LT(std::chrono::steady_clock::now() - began, 3s);

    release.set_value();
    release = {};
    for (std::size_t i = 0; i < slow.size(); ++i) {
        const auto reply = slow[i].get();
        EXPECT_EQ(reply.body(), "slow " + std::to_string(i + 1));
        EXPECT_FALSE(reply.keep_alive()) << "a draining server closes the connections it answers on";
    }
    runner.join();
    EXPECT_EQ(app.state(), tarvek::http::ServerState::starting);
    EXPECT_TRUE(errors.contains(LogLevel::Info, "draining: no new connections"));
}

// Requests that outlast the grace period are answered 503 when it ends; work
// still running then is left to the program, which may exit at once.
TEST_F(PooledWork, AGracePeriodOverAnswersTheRest503AndLeavesTheWork)
{
    tarvek::http::ServerLimits limits;
    limits.grace = 100ms;
    std::atomic<bool> left{false};
    app.limits(limits).bindaddr("127.0.0.1").port(0);
    app.onWorkLeftRunning([&left] { left = true; });
    std::thread runner([this] { app.run(); });
    const auto port = app.waitUntilListening();
    auto stuck = std::async(std::launch::async, [port] { return testhttp::post(port, "/slow", "stuck"); });
    waitUntilStarted(1);
    const auto began = std::chrono::steady_clock::now();
    app.drain();
    ASSERT_EQ(stuck.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(stuck.get().result_int(), 503);
    EXPECT_TRUE(testhttp::eventually([&] { return left.load(); }, 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - began, 2s);
    EXPECT_TRUE(errors.contains(LogLevel::Error, "the grace period is over")) << errors.text();
    EXPECT_TRUE(errors.contains(LogLevel::Error, "1 requests under way are answered 503 unfinished"));
    EXPECT_TRUE(errors.contains(LogLevel::Warning, "POST /slow 503 (the server stopped before the work was done)"));
    release.set_value();
    release = {};
    runner.join();
}

namespace {

using tarvek::http::QueueBounds;
using tarvek::http::Work;
using tarvek::http::WorkPool;

struct QueueCase {
    QueueBounds bounds;
    std::vector<std::size_t> bodies; // queued one after another behind a busy thread
    std::chrono::milliseconds pause; // before the last one
    std::vector<bool> taken;
};

} // namespace

// The queue is bounded by what it holds: a count, the bytes of the bodies
// waiting (one larger body may wait alone) and the wait of the oldest; work
// withdrawn while it waits frees its place.
TEST(WorkQueue, TakesWhatItsBoundsAllow)
{
    const std::vector<QueueCase> cases = {
        {{2, 1000, 10s}, {100, 100, 100}, 0ms, {true, true, false}},
        {{100, 1000, 10s}, {600, 300, 200}, 0ms, {true, true, false}},
        {{100, 1000, 10s}, {5000}, 0ms, {true}},
        {{100, 1000, 10s}, {5000, 1}, 0ms, {true, false}},
        {{1000, 1u << 20, 10s}, std::vector<std::size_t>(500, 1000), 0ms, std::vector<bool>(500, true)},
        {{100, 1u << 20, 30ms}, {1, 1}, 80ms, {true, false}},
        {{0, 1u << 20, 10s}, {1}, 0ms, {false}},
    };
    for (const QueueCase& c : cases) {
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        WorkPool pool(1, c.bounds);
        std::atomic<bool> busy{false};
        ASSERT_FALSE(pool.trySubmit(std::make_shared<Work>(tarvek::http::Clock::now()), 0, [&] {
            busy = true;
            released.wait_for(30s); // a test that never lets it go fails instead of hanging
        }));
        ASSERT_TRUE(testhttp::eventually([&] { return busy.load(); }));
        for (std::size_t i = 0; i < c.bodies.size(); ++i) {
            if (i + 1 == c.bodies.size())
                std::this_thread::sleep_for(c.pause);
            const auto refused = pool.trySubmit(std::make_shared<Work>(tarvek::http::Clock::now()), c.bodies[i], [] {});
            EXPECT_EQ(!refused, c.taken[i]) << c.bounds.count << " " << c.bounds.bytes << " #" << i;
        }
        release.set_value();
    }
}

TEST(WorkQueue, WithdrawnWorkNeverRunsAndFreesItsPlace)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    WorkPool pool(1, {1, 1u << 20, 10s});
    std::atomic<int> ran{0};
    std::atomic<bool> busy{false};
    EXPECT_FALSE(pool.trySubmit(std::make_shared<Work>(tarvek::http::Clock::now()), 0, [&] {
        busy = true;
        released.wait_for(30s);
    }));
    ASSERT_TRUE(testhttp::eventually([&] { return busy.load(); }));
    auto withdrawn = std::make_shared<Work>(tarvek::http::Clock::now());
    EXPECT_FALSE(pool.trySubmit(withdrawn, 10, [&] { ran += 10; }));
    EXPECT_TRUE(pool.trySubmit(std::make_shared<Work>(tarvek::http::Clock::now()), 10, [] {}));
    EXPECT_TRUE(withdrawn->withdraw());
    EXPECT_FALSE(pool.trySubmit(std::make_shared<Work>(tarvek::http::Clock::now()), 10, [&] { ran += 1; }));
    release.set_value();
    EXPECT_TRUE(pool.waitUntilIdle(tarvek::http::Clock::now() + 10s));
    EXPECT_TRUE(testhttp::eventually([&] { return ran.load() == 1; }));
    EXPECT_FALSE(withdrawn->start()) << "withdrawn work cannot start";
}
