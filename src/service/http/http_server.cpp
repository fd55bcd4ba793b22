#include "http_server.h"

#include "json_text.h"
#include "logger.h"
#include "printable.h"
#include "response_head.h"
#include "work_pool.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <deque>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <unordered_map>

#include <sys/socket.h>

namespace tarvek::http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
using tcp = asio::ip::tcp;
// A connection lives on one worker's loop. Its socket, stream and timers name
// that loop's executor type, where the default type-erased executor would be
// copied and dispatched through a table on every operation.
using Executor = asio::io_context::executor_type;
using Socket = asio::basic_stream_socket<tcp, Executor>;
using Stream = beast::basic_stream<tcp, Executor, beast::unlimited_rate_policy>;
using Timer = asio::basic_waitable_timer<Clock, asio::wait_traits<Clock>, Executor>;

namespace {

constexpr const char* serverName = "tarvek";
// How long a rejected upload is drained, so that the client gets to read the
// answer instead of a connection reset.
constexpr std::chrono::milliseconds drainTime{2000};
constexpr std::size_t minimumWriteRate = 32u << 10; // bytes per second
constexpr std::chrono::milliseconds acceptRetryDelay{100};
// While the server drains, how long a connection waits for its next request:
// a client that sent one just before the drain began is still answered.
constexpr std::chrono::milliseconds drainIdleTime{1000};
// How often a drain looks whether the last connection has closed.
constexpr std::chrono::milliseconds drainPoll{20};
// When the server gives up the work under way, how long it waits for the
// connections to answer it 503, and then for the work to reach a check.
constexpr std::chrono::milliseconds abandonPatience{200};
// Room for the body bytes taken from the socket in one read. A read takes no
// more than the buffer's free room, and the room a header needs would make a
// large body arrive in reads of a few hundred bytes, each with its system call
// and timer.
constexpr std::size_t bodyReadSize = 64u << 10;

void logError(const std::string& message)
{
    if (logger::enabled(LogLevel::Error))
        logger::write(LogLevel::Error, message);
}

// How much of a client's method and target an access-log line shows: enough to
// tell requests apart, where a crafted target could fill the log.
constexpr std::size_t loggedMethodLength = 32;
constexpr std::size_t loggedTargetLength = 256;

// A client's text for one access-log line: cut, with control characters and
// bytes that are not UTF-8 escaped, "-" when there is none.
std::string loggable(std::string_view text, std::size_t length)
{
    if (text.empty())
        return "-";
    if (text.size() <= length)
        return escapedForTerminal(text);
    return escapedForTerminal(text.substr(0, length)) + "...";
}

// What the client asked for, as far as it is known.
struct Asked {
    std::string_view method;
    std::string_view target;
};

// The first two words of a request line that did not parse: the method and
// target a client meant to send.
Asked askedInRawLine(std::string_view bytes)
{
    bytes = bytes.substr(0, bytes.find('\n'));
    if (!bytes.empty() && bytes.back() == '\r')
        bytes.remove_suffix(1);
    const auto methodEnd = std::min(bytes.find(' '), bytes.size());
    const auto rest = bytes.substr(std::min(methodEnd + 1, bytes.size()));
    return {bytes.substr(0, methodEnd), rest.substr(0, rest.find(' '))};
}

// The request id a client or a proxy in front gives, to follow one request
// through the logs of both.
constexpr const char* requestIdField = "X-Request-Id";
constexpr std::size_t loggedIdLength = 64;

// "Request: ADDRESS METHOD TARGET STATUS", " id=ID" when the request carries
// one, and " (reason)" when one is given. Answers that are not successes are
// warnings: the client's mistake or a busy server.
void logAnswer(const std::string& address, Asked asked, int status, std::string_view reason,
               std::string_view id = {})
{
    const LogLevel level = status >= 400 ? LogLevel::Warning : LogLevel::Info;
    if (!logger::enabled(level))
        return;
    std::string line = fmt::format("Request: {} {} {} {}", address, loggable(asked.method, loggedMethodLength),
                                   loggable(asked.target, loggedTargetLength), status);
    if (!id.empty())
        line.append(" id=").append(loggable(id, loggedIdLength));
    if (!reason.empty())
        line.append(" (").append(reason).append(")");
    logger::write(level, line);
}

// Parser errors other than the peer closing, between requests or in the
// middle of one: a client that stops sending has left, and is not answered.
bool isMalformedRequest(beast::error_code ec)
{
    return ec.category() == beast::error_code(bhttp::error::end_of_stream).category() &&
           ec != bhttp::error::end_of_stream && ec != bhttp::error::partial_message;
}

std::string_view viewOf(beast::string_view text) { return {text.data(), text.size()}; }

// A running work pool, how long its refused clients are asked to wait, and
// what its work is called in the answer.
struct Pool {
    explicit Pool(const PoolLimits& limits)
        : work(limits.threads, limits.queue), retryAfter(limits.retryAfterSeconds), name(limits.name)
    {
    }
    WorkPool work;
    int retryAfter;
    std::string name;
};
using Pools = std::deque<Pool>; // in PoolId order; a deque, as a pool cannot move

Response withRetryAfter(Response response, int seconds)
{
    response.fields.emplace_back(bhttp::field::retry_after, std::to_string(seconds));
    return response;
}

Response errorAnswer(int status, std::string_view code, const std::string& message)
{
    return Response(status, fmt::format(R"({{"error":{{"code":"{}","message":"{}"}}}})", code, message),
                    "application/json");
}

// The answer when a work pool takes no more: the client may try again in a moment.
Response busyResponse(const Pool& pool)
{
    return withRetryAfter(
        errorAnswer(503, "busy", "the server is busy with " + pool.name + "; try again shortly"), pool.retryAfter);
}

Response deadlineResponse(const Pool& pool)
{
    return withRetryAfter(errorAnswer(503, "deadline_passed",
                                      "the request's deadline passed while it waited for " + pool.name),
                          pool.retryAfter);
}

Response stoppingResponse()
{
    return errorAnswer(503, "stopping", "the server stopped before the work was done");
}

// The status nginx logs for a request whose client closed the connection
// before the answer; no client ever sees it.
constexpr int clientLeftStatus = 499;

beast::string_view pathOf(beast::string_view target) { return target.substr(0, target.find('?')); }

void logInfo(const std::string& message)
{
    if (logger::enabled(LogLevel::Info))
        logger::write(LogLevel::Info, message);
}

class Session;

// The open connections of a running server, so that a drain can close the
// idle ones and wait until the others have answered.
class Connections {
public:
    void add(const std::shared_ptr<Session>& session)
    {
        std::lock_guard lock(mutex_);
        open_.emplace(session.get(), session);
    }
    void remove(Session* session)
    {
        std::lock_guard lock(mutex_);
        open_.erase(session);
    }
    std::size_t count() const
    {
        std::lock_guard lock(mutex_);
        return open_.size();
    }
    bool draining() const { return draining_.load(std::memory_order_relaxed); }
    // From here on answers close their connections, and connections without
    // a whole request are closed.
    void startDraining();
    // Answers 503 every request under way and closes its connection, on the
    // connections' own threads; the number of requests so answered. Waits for
    // the connections' threads at most the time given.
    std::size_t abandonWork(std::chrono::milliseconds patience);

private:
    std::vector<std::shared_ptr<Session>> sessions() const;

    mutable std::mutex mutex_;
    std::unordered_map<Session*, std::weak_ptr<Session>> open_;
    std::atomic<bool> draining_{false};
};

// One connection: reads requests one after another (keep-alive), answers each
// through App::dispatch, and closes on errors, timeouts or "Connection: close".
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(Socket socket, const App& app, const ServerLimits& limits, Pools& pools, Connections& connections)
        : stream_(std::move(socket)), deadline_(stream_.get_executor()), app_(app), limits_(limits), pools_(pools),
          connections_(connections)
    {
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() { connections_.remove(this); }

    void start()
    {
        address_ = remoteAddress();
        connections_.add(shared_from_this());
        readHeader();
    }

    // On the session's own thread once a drain begins: a connection without a
    // whole request is closed; one sent before the drain was not read yet.
    void onDrain()
    {
        if (phase_ == Phase::reading)
            close();
    }

    // On the session's own thread when the server gives up the work under
    // way: the request is answered 503, and the connection closed. Whether
    // there was such a request.
    bool abandonWork()
    {
        if (phase_ != Phase::working || !work_)
            return false;
        endWork();
        respond(*pending_, stoppingResponse(), "the server stopped before the work was done");
        return true;
    }

    Stream::executor_type executor() { return stream_.get_executor(); }

private:
    // Reading a request (or waiting for one), waiting for its work, writing its answer.
    enum class Phase { reading, working, writing };

    void readHeader()
    {
        phase_ = Phase::reading;
        parser_.emplace();
        parser_->body_limit(limits_.bodyLimit);
        parser_->header_limit(static_cast<std::uint32_t>(limits_.headerLimit));
        // Connections accepted as the drain began may still send the request they were opened for.
        stream_.expires_after(connections_.draining() ? std::min(drainIdleTime, limits_.headerTimeout)
                                                      : limits_.headerTimeout);
        bhttp::async_read_header(stream_, buffer_, *parser_,
                                 [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                     self->onHeader(ec);
                                 });
    }

    void onHeader(beast::error_code ec)
    {
        if (ec)
            return onReadError(ec);
        received_ = Clock::now();
        const auto& header = parser_->get();
        if (beast::iequals(header[bhttp::field::expect], "100-continue") && !parser_->is_done()) {
            auto interim = std::make_shared<bhttp::response<bhttp::empty_body>>(bhttp::status::continue_, 11);
            bhttp::async_write(stream_, *interim,
                               [self = shared_from_this(), interim](beast::error_code ec, std::size_t) {
                                   if (!ec)
                                       self->readBody();
                               });
            return;
        }
        readBody();
    }

    void readBody()
    {
        if (parser_->is_done())
            return answer();
        if (!bodyIsBuffered())
            buffer_.reserve(bodyReadSize);
        stream_.expires_after(limits_.bodyIdleTimeout);
        bhttp::async_read_some(stream_, buffer_, *parser_,
                               [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                   if (ec)
                                       return self->onReadError(ec);
                                   self->readBody();
                               });
    }

    // Whether the rest of a body of declared length has arrived with its header,
    // as a small one does: it needs no read room of its own.
    bool bodyIsBuffered() const
    {
        const auto remaining = parser_->content_length_remaining();
        return remaining && *remaining <= buffer_.size();
    }

    void onReadError(beast::error_code ec)
    {
        if (ec == bhttp::error::body_limit)
            return reject(bhttp::status::payload_too_large,
                          "the body exceeds the limit of " + std::to_string(limits_.bodyLimit) + " bytes");
        if (ec == bhttp::error::header_limit)
            return reject(bhttp::status::request_header_fields_too_large,
                          "the header exceeds the limit of " + std::to_string(limits_.headerLimit) + " bytes");
        if (isMalformedRequest(ec))
            return reject(bhttp::status::bad_request, "malformed request: " + ec.message());
        // End of stream, timeout, reset, a drain: the client is gone or too slow, or the server stops.
        close();
    }

    void answer()
    {
        // The room taken for a body is not kept while the connection waits:
        // an idle connection's block would pin freed memory around it.
        if (buffer_.capacity() >= bodyReadSize)
            buffer_.shrink_to_fit();
        Request request = parser_->release();
        for (const auto& observer : app_.observers())
            observer->started();
        if (auto refused = app_.refusal(request))
            return respond(request, std::move(refused->response), refused->reason);
        if (const auto pool = app_.poolFor(request))
            return answerOnPool(std::move(request), pools_[*pool]);
        respond(request, app_.dispatch(request));
    }

    // Dispatches on the work pool; the answer is written back on this
    // connection's own thread. Nothing is read meanwhile: the next request of
    // the connection waits for this answer. While the work waits or runs, the
    // connection watches for the client leaving, and for the deadline.
    void answerOnPool(Request request, Pool& pool)
    {
        pending_ = std::make_shared<Request>(std::move(request));
        const auto deadline = app_.deadlineOf(*pending_);
        work_ = std::make_shared<Work>(received_, deadline ? std::optional(received_ + *deadline) : std::nullopt);
        auto refused = pool.work.trySubmit(
            work_, pending_->body().size(), [self = shared_from_this(), held = pending_, work = work_] {
                Response result = self->app_.dispatch(*held);
                asio::post(self->stream_.get_executor(), [self, work, result = std::move(result)]() mutable {
                    self->onWorkDone(*work, std::move(result));
                });
            });
        if (refused) {
            work_.reset();
            return respond(*pending_, busyResponse(pool), *refused);
        }
        phase_ = Phase::working;
        watchClient();
        if (deadline)
            awaitDeadline(pool);
    }

    void onWorkDone(const Work& work, Response result)
    {
        // Answered already: the client left, the deadline passed or the server gave up.
        if (work_.get() != &work)
            return;
        endWork();
        respond(*pending_, std::move(result));
    }

    // The work is no longer this connection's to wait for: if it waits, it never starts.
    void endWork()
    {
        work_->withdraw();
        work_->abandon();
        work_.reset();
        deadline_.cancel();
        stopWatching();
    }

    // Readable while an answer is awaited: the client has closed or reset
    // the connection, or sent its next request early.
    void watchClient()
    {
        watching_ = true;
        stream_.socket().async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code ec) {
            self->onClientActivity(ec);
        });
    }

    void stopWatching()
    {
        if (!watching_)
            return;
        watching_ = false;
        beast::error_code ignored;
        stream_.socket().cancel(ignored);
    }

    void onClientActivity(beast::error_code ec)
    {
        if (ec || !watching_ || !work_)
            return;
        char byte;
        const ssize_t got = ::recv(stream_.socket().native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (got > 0) { // a pipelined request: the client is there
            watching_ = false;
            return;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return watchClient();
        watching_ = false;
        clientLeft();
    }

    // Like nginx, a client that closes its side before the answer has left:
    // its work is given up, and its line says so.
    void clientLeft()
    {
        endWork();
        logAnswer(address_, asked(*pending_), clientLeftStatus, "the client closed the connection before the answer",
                  viewOf((*pending_)[requestIdField]));
        report(app_.routeOf(*pending_), clientLeftStatus, pending_->body().size(), 0);
        pending_.reset();
        close();
    }

    void awaitDeadline(Pool& pool)
    {
        deadline_.expires_at(*work_->deadline());
        deadline_.async_wait([self = shared_from_this(), &pool](beast::error_code ec) {
            if (!ec)
                self->onDeadline(pool);
        });
    }

    // Still waiting for a thread: answered now. Running: its own deadline ends it.
    void onDeadline(Pool& pool)
    {
        if (!work_ || !work_->withdraw())
            return;
        endWork();
        respond(*pending_, deadlineResponse(pool), "the deadline passed while it waited");
    }

    void respond(const Request& request, Response result, std::string_view reason = {})
    {
        phase_ = Phase::writing;
        logAnswer(address_, asked(request), result.code, reason, viewOf(request[requestIdField]));
        auto response = std::make_shared<bhttp::response<bhttp::string_body>>(
            static_cast<bhttp::status>(result.code), request.version());
        response->set(bhttp::field::server, serverName);
        if (!result.contentType.empty())
            response->set(bhttp::field::content_type, result.contentType);
        for (auto& [field, value] : result.fields)
            response->set(field, std::move(value));
        // A draining server closes each connection once it has answered on it.
        const bool keepAlive = request.keep_alive() && !connections_.draining();
        response->keep_alive(keepAlive);
        response->body() = std::move(result.body);
        // A HEAD answer has the GET answer's header, Content-Length included, and no body.
        response->prepare_payload();
        const bool withBody = request.method() != bhttp::verb::head;
        send(response, !keepAlive, {&app_.routeOf(request), request.body().size()}, withBody);
    }

    static Asked asked(const Request& request)
    {
        return {viewOf(request.method_string()), viewOf(request.target())};
    }

    // Answers an unreadable request and closes the connection, draining what
    // the client still sends for a moment without keeping it.
    void reject(bhttp::status status, const std::string& reason)
    {
        if (!parser_->is_header_done())
            received_ = std::chrono::steady_clock::now();
        for (const auto& observer : app_.observers())
            observer->started();
        logAnswer(address_, asked(), static_cast<int>(status), reason);
        // A body declared over the limit is refused before the header counts as
        // read, but the request line, and so the route, is known.
        report(app_.routeOf(parser_->get()), static_cast<int>(status), 0, 0);
        auto response = std::make_shared<bhttp::response<bhttp::string_body>>(status, 11);
        response->set(bhttp::field::server, serverName);
        response->keep_alive(false);
        response->prepare_payload();
        stream_.expires_after(limits_.headerTimeout);
        bhttp::async_write(stream_, *response, [self = shared_from_this(), response](beast::error_code ec, std::size_t) {
            if (ec)
                return self->close();
            beast::error_code ignored;
            self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
            self->drain();
        });
    }

    // The method and target of the request being read: the parser's once it
    // has read the request line (it takes the line before the fields), else
    // the words of the line it refused, still in the read buffer.
    Asked asked() const
    {
        const auto& header = parser_->get();
        if (!header.target().empty())
            return {viewOf(header.method_string()), viewOf(header.target())};
        const auto bytes = buffer_.data();
        return askedInRawLine({static_cast<const char*>(bytes.data()), bytes.size()});
    }

    void drain()
    {
        stream_.expires_after(drainTime);
        stream_.async_read_some(asio::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec)
                return self->close();
            self->drain();
        });
    }

    // What the observers are told about a request once its answer is written.
    struct Served {
        const std::string* route; // in the route table, which outlives every session
        std::size_t bytesIn;
    };

    void send(const std::shared_ptr<bhttp::response<bhttp::string_body>>& response, bool closeAfter, Served served,
              bool withBody)
    {
        formatResponseHead(response->base(), head_);
        const std::size_t bodySize = withBody ? response->body().size() : 0;
        const std::array<asio::const_buffer, 2> message{asio::buffer(head_), asio::buffer(response->body().data(), bodySize)};
        stream_.expires_after(writeTimeout(bodySize));
        asio::async_write(stream_, message,
                          [self = shared_from_this(), response, closeAfter, served, bodySize](beast::error_code ec,
                                                                                              std::size_t) {
                              self->report(*served.route, response->result_int(), served.bytesIn, ec ? 0 : bodySize);
                              // A drain that began while the answer was written closes the
                              // connection too: it would otherwise wait for another request.
                              if (ec || closeAfter || self->connections_.draining())
                                  return self->close();
                              self->readHeader();
                          });
    }

    void report(const std::string& route, int status, std::size_t bytesIn, std::size_t bytesOut)
    {
        for (const auto& observer : app_.observers())
            observer->finished(route, status, std::chrono::steady_clock::now() - received_, bytesIn, bytesOut);
    }

    // A large answer gets time in proportion to its size: a client slower
    // than minimumWriteRate is dropped.
    std::chrono::milliseconds writeTimeout(std::size_t bytes) const
    {
        return limits_.headerTimeout + std::chrono::milliseconds(bytes * 1000 / minimumWriteRate);
    }

    void close()
    {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

    // "ADDRESS:PORT" of the client, "unknown" once it is gone. An IPv4
    // address is written here: the system's formatter goes through printf.
    std::string remoteAddress() const
    {
        beast::error_code ec;
        const auto endpoint = stream_.socket().remote_endpoint(ec);
        if (ec)
            return "unknown";
        const auto address = endpoint.address();
        if (!address.is_v4())
            return address.to_string() + ":" + std::to_string(endpoint.port());
        const auto bytes = address.to_v4().to_bytes();
        return fmt::format("{}.{}.{}.{}:{}", bytes[0], bytes[1], bytes[2], bytes[3], endpoint.port());
    }

    Stream stream_;
    Timer deadline_; // of the request waiting for a thread
    beast::flat_buffer buffer_;
    std::string head_; // of the answer being written
    std::optional<bhttp::request_parser<bhttp::string_body>> parser_;
    char scratch_[4096];
    Clock::time_point received_; // when the current request's header was read
    std::string address_;        // of the client, as it connected
    std::shared_ptr<Request> pending_; // the request whose work is awaited
    std::shared_ptr<Work> work_;       // that work, until it is answered or given up
    Phase phase_ = Phase::reading;
    bool watching_ = false; // for the client leaving
    const App& app_;
    const ServerLimits& limits_;
    Pools& pools_;
    Connections& connections_;
};

std::vector<std::shared_ptr<Session>> Connections::sessions() const
{
    std::vector<std::shared_ptr<Session>> held;
    std::lock_guard lock(mutex_);
    for (const auto& [address, session] : open_)
        if (auto alive = session.lock())
            held.push_back(std::move(alive));
    return held;
}

void Connections::startDraining()
{
    draining_ = true;
    for (const auto& session : sessions())
        asio::post(session->executor(), [session] { session->onDrain(); });
}

std::size_t Connections::abandonWork(std::chrono::milliseconds patience)
{
    struct Tally {
        std::mutex mutex;
        std::condition_variable done;
        std::size_t waiting = 0, abandoned = 0;
    };
    auto tally = std::make_shared<Tally>();
    const auto open = sessions();
    tally->waiting = open.size();
    for (const auto& session : open)
        asio::post(session->executor(), [session, tally] {
            const bool had = session->abandonWork();
            std::lock_guard lock(tally->mutex);
            tally->abandoned += had ? 1 : 0;
            if (--tally->waiting == 0)
                tally->done.notify_all();
        });
    std::unique_lock lock(tally->mutex);
    tally->done.wait_for(lock, patience, [&tally] { return tally->waiting == 0; });
    return tally->abandoned;
}

// Accepts on its own event loop and hands each connection to the next worker.
class Acceptor {
public:
    Acceptor(asio::io_context& context, const tcp::endpoint& endpoint, std::deque<asio::io_context>& workers,
             const App& app, const ServerLimits& limits, Pools& pools, Connections& connections)
        : acceptor_(context), retry_(context), workers_(workers), app_(app), limits_(limits), pools_(pools),
          connections_(connections)
    {
        acceptor_.open(endpoint.protocol());
        acceptor_.set_option(asio::socket_base::reuse_address(true));
        acceptor_.bind(endpoint);
        acceptor_.listen(asio::socket_base::max_listen_connections);
    }

    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

    void accept()
    {
        if (!acceptor_.is_open())
            return;
        asio::io_context& worker = nextWorker();
        acceptor_.async_accept(worker, [this, &worker](beast::error_code ec, Socket socket) {
            if (ec == asio::error::operation_aborted)
                return;
            if (ec)
                return pauseAfter(ec);
            serve(std::move(socket), worker);
            accept();
        });
    }

    // Closes the listening socket. The connections the system has completed
    // by then are taken and served first: closing would reset them.
    void stopAccepting()
    {
        beast::error_code ec;
        retry_.cancel();
        acceptor_.cancel(ec);
        acceptor_.non_blocking(true, ec);
        while (!ec) {
            asio::io_context& worker = nextWorker();
            Socket socket = acceptor_.accept(worker, ec);
            if (!ec)
                serve(std::move(socket), worker);
        }
        acceptor_.close(ec);
    }

private:
    asio::io_context& nextWorker()
    {
        asio::io_context& worker = workers_[next_];
        next_ = (next_ + 1) % workers_.size();
        return worker;
    }

    void serve(Socket socket, asio::io_context& worker)
    {
        auto session = std::make_shared<Session>(std::move(socket), app_, limits_, pools_, connections_);
        asio::post(worker, [session] { session->start(); });
    }

    // Accepting fails while the process is out of file descriptors; retrying
    // at once would spin, so the acceptor waits a moment for connections to close.
    void pauseAfter(beast::error_code ec)
    {
        logError("accepting a connection failed: " + ec.message());
        retry_.expires_after(acceptRetryDelay);
        retry_.async_wait([this](beast::error_code waitError) {
            if (!waitError)
                accept();
        });
    }

    tcp::acceptor acceptor_;
    asio::steady_timer retry_;
    std::deque<asio::io_context>& workers_;
    std::size_t next_ = 0;
    const App& app_;
    const ServerLimits& limits_;
    Pools& pools_;
    Connections& connections_;
};

// SIGINT and SIGTERM drain the server, a second one stops it at once; SIGHUP
// runs the reload, when there is one, on the reloads' thread.
void awaitSignals(asio::signal_set& signals, App& app, asio::thread_pool& reloads, const std::function<void()>& reload)
{
    signals.async_wait([&signals, &app, &reloads, &reload](beast::error_code ec, int number) {
        if (ec)
            return;
        if (number == SIGHUP)
            asio::post(reloads, reload);
        else if (app.state() == ServerState::draining)
            app.stop();
        else
            app.drain();
        awaitSignals(signals, app, reloads, reload);
    });
}

} // namespace

Response::Response(int code, std::string body, std::string contentType)
    : code(code), body(std::move(body)), contentType(std::move(contentType))
{
}

Response::Response(const boost::json::value& json)
    : code(200), body(jsonText(json)), contentType("application/json")
{
}

App& App::route(Method method, std::string path, Handler handler)
{
    routes_.push_back({method, std::move(path), std::move(handler), {}, sharedPool, {}});
    return *this;
}

App& App::pooledRoute(Method method, std::string path, Handler handler, NeedsPool needsPool, PoolId pool,
                      DeadlineOf deadline)
{
    if (pool > ownPools_.size())
        throw std::invalid_argument("no work pool " + std::to_string(pool) + " for " + path);
    if (!needsPool)
        needsPool = [](const Request&) { return true; };
    routes_.push_back({method, std::move(path), std::move(handler), std::move(needsPool), pool, std::move(deadline)});
    return *this;
}

PoolId App::workPool(const PoolLimits& limits)
{
    ownPools_.push_back(limits);
    return ownPools_.size();
}

App& App::port(std::uint16_t port)
{
    port_ = port;
    return *this;
}

App& App::bindaddr(std::string address)
{
    address_ = std::move(address);
    return *this;
}

App& App::concurrency(unsigned threads)
{
    concurrency_ = threads == 0 ? 1 : threads;
    return *this;
}

App& App::multithreaded() { return concurrency(std::thread::hardware_concurrency()); }

App& App::limits(const ServerLimits& limits)
{
    limits_ = limits;
    return *this;
}

App& App::observe(std::shared_ptr<RequestObserver> observer)
{
    observers_.push_back(std::move(observer));
    return *this;
}

App& App::gate(Gate gate)
{
    gate_ = std::move(gate);
    return *this;
}

App& App::onHangup(std::function<void()> reload)
{
    hangup_ = std::move(reload);
    return *this;
}

App& App::onWorkLeftRunning(std::function<void()> exit)
{
    workLeftRunning_ = std::move(exit);
    return *this;
}

std::optional<Refusal> App::refusal(const Request& request) const
{
    if (!gate_)
        return std::nullopt;
    return gate_(request);
}

const std::string& App::routeOf(const Request& request) const
{
    static const std::string none;
    const auto path = pathOf(request.target());
    for (const Route& route : routes_)
        if (route.path == path)
            return route.path;
    return none;
}

const Route* App::routeFor(const Request& request) const
{
    const auto path = pathOf(request.target());
    const bool head = request.method() == Method::head;
    for (const Route& route : routes_)
        if (route.path == path && (route.method == request.method() || (head && route.method == Method::get)))
            return &route;
    return nullptr;
}

std::string App::allowedMethods(const Request& request) const
{
    const auto path = pathOf(request.target());
    std::string methods;
    for (const Route& route : routes_) {
        if (route.path != path)
            continue;
        methods += (methods.empty() ? "" : ", ") + std::string(viewOf(bhttp::to_string(route.method)));
        if (route.method == Method::get)
            methods += ", HEAD";
    }
    return methods;
}

std::optional<PoolId> App::poolFor(const Request& request) const
{
    const Route* route = routeFor(request);
    if (route && route->pooled && route->pooled(request))
        return route->pool;
    return std::nullopt;
}

std::optional<std::chrono::milliseconds> App::deadlineOf(const Request& request) const
{
    const Route* route = routeFor(request);
    if (route && route->deadline)
        return route->deadline(request);
    return std::nullopt;
}

Response App::dispatch(const Request& request) const
{
    const Route* route = routeFor(request);
    if (!route) {
        std::string allowed = allowedMethods(request);
        if (allowed.empty())
            return Response(404);
        Response notAllowed(405);
        notAllowed.fields.emplace_back(bhttp::field::allow, std::move(allowed));
        return notAllowed;
    }
    try {
        return route->handler(request);
    } catch (const Abandoned&) {
        // Nobody waits for this answer; its connection has answered or closed already.
        return Response(503);
    } catch (const std::exception& e) {
        logError(std::string("An uncaught exception occurred: ") + e.what());
    } catch (...) {
        logError("An uncaught exception occurred. The type was unknown so no information was available.");
    }
    return Response(500);
}

void App::run()
{
    // Declared so that the acceptor and its loop go before the workers' loops,
    // and those before the register of the connections living on them.
    // Each worker loop is run by one thread, which the hint lets it rely on.
    Connections connections;
    std::deque<asio::io_context> workers;
    for (unsigned i = 0; i < concurrency_; ++i)
        workers.emplace_back(1);
    // Their threads are joined before the worker loops go, which their jobs post their answers to.
    Pools pools;
    PoolLimits shared = limits_.work;
    if (shared.threads == 0)
        shared.threads = concurrency_;
    pools.emplace_back(shared);
    for (const PoolLimits& own : ownPools_)
        pools.emplace_back(own);
    asio::io_context acceptorContext(1);
    std::optional<Acceptor> acceptor;
    try {
        acceptor.emplace(acceptorContext, tcp::endpoint(asio::ip::make_address(address_), port_), workers, *this,
                         limits_, pools, connections);
    } catch (...) {
        std::lock_guard lock(mutex_);
        started_ = true;
        changed_.notify_all();
        throw;
    }
    acceptor->accept();
    asio::thread_pool reloads(1);
    asio::signal_set signals(acceptorContext, SIGINT, SIGTERM);
    if (hangup_)
        signals.add(SIGHUP);
    awaitSignals(signals, *this, reloads, hangup_);

    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> guards;
    std::vector<std::thread> threads;
    for (auto& worker : workers) {
        guards.push_back(asio::make_work_guard(worker));
        threads.emplace_back([&worker] { worker.run(); });
    }
    threads.emplace_back([&acceptorContext] { acceptorContext.run(); });
    announce(acceptor->port());

    waitForTheEnd(
        [&] {
            asio::post(acceptorContext, [&acceptor] { acceptor->stopAccepting(); });
            connections.startDraining();
        },
        [&connections] { return connections.count(); });
    for (Pool& pool : pools)
        pool.work.close();
    if (const std::size_t left = connections.abandonWork(abandonPatience))
        logError("the server stops: " + std::to_string(left) + " requests under way are answered 503 unfinished");
    acceptorContext.stop();
    for (auto& worker : workers)
        worker.stop();
    for (auto& thread : threads)
        thread.join();
    leaveOrAwaitWork([&pools](Clock::time_point until) {
        return std::all_of(pools.begin(), pools.end(), [until](Pool& pool) { return pool.work.waitUntilIdle(until); });
    });

    std::lock_guard lock(mutex_);
    stopRequested_ = false;
    drainRequested_ = false;
    started_ = false;
    boundPort_ = 0;
    state_ = ServerState::starting;
}

void App::waitForTheEnd(const std::function<void()>& startDraining, const std::function<std::size_t()>& open)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopRequested_ || drainRequested_; });
    if (stopRequested_)
        return;
    logInfo("draining: no new connections; answering the requests under way");
    startDraining();
    // Polled: the last connection closes on a worker thread that knows nothing of this lock.
    const auto deadline = std::chrono::steady_clock::now() + limits_.grace;
    while (!stopRequested_ && open() > 0 && std::chrono::steady_clock::now() < deadline)
        changed_.wait_for(lock, drainPoll);
    if (!stopRequested_ && open() > 0)
        logError("the grace period is over");
}

void App::leaveOrAwaitWork(const std::function<bool(Clock::time_point)>& idleBy)
{
    if (idleBy(Clock::now() + abandonPatience) || !workLeftRunning_)
        return;
    logError("work abandoned by the server is still running; it is left behind");
    workLeftRunning_();
}

void App::announce(std::uint16_t boundPort)
{
    if (logger::enabled(LogLevel::Info))
        logger::write(LogLevel::Info, std::string(serverName) + " server is running at " + address_ + ":" +
                                          std::to_string(boundPort) + " using " + std::to_string(concurrency_) +
                                          " threads");
    std::lock_guard lock(mutex_);
    started_ = true;
    boundPort_ = boundPort;
    if (!drainRequested_)
        state_ = ServerState::serving;
    changed_.notify_all();
}

void App::stop()
{
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
    changed_.notify_all();
}

void App::drain()
{
    std::lock_guard lock(mutex_);
    drainRequested_ = true;
    state_ = ServerState::draining;
    changed_.notify_all();
}

std::uint16_t App::waitUntilListening()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return started_; });
    return boundPort_;
}

} // namespace tarvek::http
