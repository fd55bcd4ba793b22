#pragma once

// Loopback HTTP helpers for the service tests: a synchronous Beast client,
// a raw socket for hand-written requests, and an in-process server fixture.

#include "http/http_server.h"
#include "http/logger.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testhttp {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
using tcp = asio::ip::tcp;
using Reply = bhttp::response<bhttp::string_body>;

// Polls until the condition holds or the time is up; whether it held. Every wait
// of a test is bounded: a fault that keeps a condition false fails the test
// instead of hanging the suite.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline tcp::socket connectTo(asio::io_context& context, std::uint16_t port)
{
    tcp::socket socket(context);
    socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    return socket;
}

inline Reply readReply(tcp::socket& socket, beast::flat_buffer& buffer)
{
    bhttp::response_parser<bhttp::string_body> parser;
    parser.body_limit(1u << 30);
    bhttp::read(socket, buffer, parser);
    return parser.release();
}

using Headers = std::vector<std::pair<bhttp::field, std::string>>;

inline Reply request(std::uint16_t port, bhttp::verb method, const std::string& target, const std::string& body = {},
                     const Headers& headers = {})
{
    asio::io_context context;
    tcp::socket socket = connectTo(context, port);
    bhttp::request<bhttp::string_body> message(method, target, 11);
    message.set(bhttp::field::host, "127.0.0.1");
    for (const auto& [field, value] : headers)
        message.set(field, value);
    message.keep_alive(false);
    message.body() = body;
    message.prepare_payload();
    bhttp::write(socket, message);
    beast::flat_buffer buffer;
    return readReply(socket, buffer);
}

inline Reply post(std::uint16_t port, const std::string& target, const std::string& body)
{
    return request(port, bhttp::verb::post, target, body);
}

// Sends bytes as they are and reads whatever the server answers until it closes.
inline std::string rawExchange(std::uint16_t port, const std::string& bytes)
{
    asio::io_context context;
    tcp::socket socket = connectTo(context, port);
    asio::write(socket, asio::buffer(bytes));
    std::string answer;
    beast::error_code ec;
    asio::read(socket, asio::dynamic_buffer(answer), ec);
    return answer;
}

// GET requests on one connection kept open across them.
struct KeptConnection {
    explicit KeptConnection(std::uint16_t port) : socket(connectTo(context, port)) {}
    Reply get(const std::string& target)
    {
        bhttp::request<bhttp::empty_body> message(bhttp::verb::get, target, 11);
        message.set(bhttp::field::host, "127.0.0.1");
        bhttp::write(socket, message);
        return readReply(socket, buffer);
    }
    Reply post(const std::string& target, const std::string& body)
    {
        bhttp::request<bhttp::string_body> message(bhttp::verb::post, target, 11);
        message.set(bhttp::field::host, "127.0.0.1");
        message.body() = body;
        message.prepare_payload();
        bhttp::write(socket, message);
        return readReply(socket, buffer);
    }
    asio::io_context context;
    tcp::socket socket;
    beast::flat_buffer buffer;
};

// Keeps every log line, to look for the ones a request should have written.
class RecordingLog : public tarvek::http::ILogHandler {
public:
    void log(std::string message, tarvek::http::LogLevel level) override
    {
        std::lock_guard lock(mutex_);
        lines_.push_back({level, std::move(message)});
    }
    bool contains(tarvek::http::LogLevel level, const std::string& text)
    {
        std::lock_guard lock(mutex_);
        for (const auto& [lineLevel, line] : lines_)
            if (lineLevel == level && line.find(text) != std::string::npos)
                return true;
        return false;
    }
    // Every line, for a failure's message.
    std::string text()
    {
        std::lock_guard lock(mutex_);
        std::string all;
        for (const auto& entry : lines_)
            all += entry.second;
        return all;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<tarvek::http::LogLevel, std::string>> lines_;
};

// Counts the requests a server has begun to answer.
struct Arrivals : tarvek::http::RequestObserver {
    void started() override { count.fetch_add(1); }
    void finished(const std::string&, int, std::chrono::steady_clock::duration, std::size_t, std::size_t) override {}
    std::atomic<int> count{0};
};

// Runs an App with the given limits on an ephemeral loopback port.
class RunningServer {
public:
    explicit RunningServer(tarvek::http::App& app) : app_(app)
    {
        app_.bindaddr("127.0.0.1").port(0);
        thread_ = std::thread([this] { app_.run(); });
        port_ = app_.waitUntilListening();
    }
    ~RunningServer()
    {
        app_.stop();
        thread_.join();
    }
    std::uint16_t port() const { return port_; }

private:
    tarvek::http::App& app_;
    std::thread thread_;
    std::uint16_t port_ = 0;
};

} // namespace testhttp
