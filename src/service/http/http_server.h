#pragma once

// A small HTTP/1.1 server on Boost.Beast: a route table of (method, exact
// path) -> handler, one acceptor thread and N worker event loops, keep-alive,
// "Expect: 100-continue", chunked bodies, a body limit and read timeouts.
// Routes of slow work run on a pool of threads of their own, with a bounded
// queue, so that the event loops only read, answer small routes and write.
// While such work waits or runs, its connection watches for the client
// leaving, and for the request's deadline while it waits: either abandons it.
// On SIGTERM or SIGINT the server drains: it stops accepting, closes the
// connections without a whole request, answers the requests under way for up
// to a grace period, answers those left 503 and then run() returns.

#include "work_pool.h"

#include <boost/beast/http.hpp>
#include <boost/json/value.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvek::http {

using Request = boost::beast::http::request<boost::beast::http::string_body>;
using Method = boost::beast::http::verb;

// What a route handler answers. A JSON value becomes 200 application/json.
struct Response {
    int code = 200;
    std::string body;
    std::string contentType; // no Content-Type header when empty
    std::vector<std::pair<boost::beast::http::field, std::string>> fields; // further header fields

    Response() = default;
    explicit Response(int code, std::string body = {}, std::string contentType = {});
    Response(const boost::json::value& json); // NOLINT: implicit on purpose, handlers return JSON
};

using Handler = std::function<Response(const Request&)>;
// Whether a request to a route of slow work needs the work pool; one it says
// no to (a request without a photo, say) is answered on its connection's thread.
using NeedsPool = std::function<bool(const Request&)>;

// How long a request of a pooled route may take from its arrival, when the
// request says; a request still waiting for a thread then is answered 503.
using DeadlineOf = std::function<std::optional<std::chrono::milliseconds>(const Request&)>;

// Which work pool a route's requests run on: sharedPool, or one that
// App::workPool added for a kind of work of its own.
using PoolId = std::size_t;
constexpr PoolId sharedPool = 0;

struct Route {
    Method method;
    std::string path;
    Handler handler;
    NeedsPool pooled; // empty for small routes, answered on the connection's thread
    PoolId pool = sharedPool;
    DeadlineOf deadline;
};

// A work pool's size and queue, the seconds its 503 answer asks a client to
// wait, and what its work is called in that answer.
struct PoolLimits {
    unsigned threads = 1;
    QueueBounds queue;
    int retryAfterSeconds = 1;
    std::string name = "photo work";
};

// Told about every answered request, for metrics. Called from the worker
// threads at the same time, so implementations synchronise themselves.
class RequestObserver {
public:
    virtual ~RequestObserver() = default;
    virtual void started() = 0;
    // route is the path of the route table the request went to, "" when none.
    virtual void finished(const std::string& route, int status, std::chrono::steady_clock::duration elapsed,
                          std::size_t bytesIn, std::size_t bytesOut) = 0;
};

struct ServerLimits {
    std::size_t bodyLimit = 64u << 20;                 // larger bodies are answered 413
    std::size_t headerLimit = 16u << 10;               // larger headers are answered 431
    std::chrono::milliseconds headerTimeout{30000};    // whole header, also the keep-alive idle time
    std::chrono::milliseconds bodyIdleTimeout{30000};  // longest pause between body bytes
    PoolLimits work{0, {}, 1, "photo work"};           // the shared pool; 0 threads: as many as workers
    std::chrono::milliseconds grace{20000};            // how long a drain waits for requests under way
};

// An answer given instead of the route's, and why, for the access log.
struct Refusal {
    Response response;
    std::string reason;
};
// Looks at every request before its route does; a refusal answers it.
using Gate = std::function<std::optional<Refusal>(const Request&)>;

enum class ServerState { starting, serving, draining };

class App {
public:
    // A GET route also answers HEAD.
    App& route(Method method, std::string path, Handler handler);
    // A route of slow work: its handler runs on the work pool whenever
    // needsPool says so (always when it is not given). A pool that workPool
    // has not given is std::invalid_argument.
    // A deadline, when given, bounds the wait of the route's requests for a thread.
    App& pooledRoute(Method method, std::string path, Handler handler, NeedsPool needsPool = {},
                     PoolId pool = sharedPool, DeadlineOf deadline = {});
    // A pool of its own for routes whose work takes seconds a request: while
    // they fill it, the routes of the shared pool keep their threads.
    PoolId workPool(const PoolLimits& limits);
    App& port(std::uint16_t port);
    App& bindaddr(std::string address);
    App& concurrency(unsigned threads);
    // One worker per hardware thread (at least one).
    App& multithreaded();
    App& limits(const ServerLimits& limits);
    // Adds an observer; every one is told about every request. Shared so that a
    // route handler may hold the observer too (it reports what it saw).
    App& observe(std::shared_ptr<RequestObserver> observer);
    App& gate(Gate gate);
    // Called on SIGHUP, on a thread of its own: a reload that takes its time
    // holds up no connection. Reloads run one after another.
    App& onHangup(std::function<void()> reload);
    // Called when run() has given up work that is still running on the work
    // pools (the grace period over, or stop()), and would otherwise wait for
    // it: a program may exit here at once. Its connections are answered and
    // closed by then. Without it, run() waits for that work to reach a check.
    App& onWorkLeftRunning(std::function<void()> exit);

    const std::vector<Route>& routes() const { return routes_; }
    const std::vector<std::shared_ptr<RequestObserver>>& observers() const { return observers_; }
    // The route path a request target goes to, "" when no route has its path.
    const std::string& routeOf(const Request& request) const;

    // Binds, listens and serves until stop(), or until a drain (drain(),
    // SIGINT, SIGTERM) has answered every request under way or run out of
    // its grace period. A bind failure is thrown as boost::system::system_error.
    void run();
    // Both are safe from any thread and from a signal-driven callback. stop()
    // ends at once, abandoning requests under way; a second signal does too.
    void stop();
    void drain();
    // Starting until run() listens, serving, draining from a drain on.
    ServerState state() const { return state_.load(); }

    // Blocks until run() listens (returns the bound port) or has failed (returns 0).
    std::uint16_t waitUntilListening();

    // The answer for a parsed request: route lookup, 404/405 (with Allow),
    // handler errors as 500.
    Response dispatch(const Request& request) const;
    // The pool that dispatching the request belongs on; nothing when it is
    // answered on its connection's thread.
    std::optional<PoolId> poolFor(const Request& request) const;
    // The request's own deadline, counted from its arrival, when its route has one.
    std::optional<std::chrono::milliseconds> deadlineOf(const Request& request) const;
    // The gate's refusal of the request, if any.
    std::optional<Refusal> refusal(const Request& request) const;

private:
    // The route that answers the request, nullptr when none does.
    const Route* routeFor(const Request& request) const;
    // "GET, HEAD" or "POST": the methods of the routes of the request's path.
    std::string allowedMethods(const Request& request) const;
    void announce(std::uint16_t boundPort);
    // Waits for stop(), or for a drain and then its end or the grace period.
    void waitForTheEnd(const std::function<void()>& startDraining, const std::function<std::size_t()>& open);
    // After the end: the work still running on the pools is waited for
    // briefly, then left to onWorkLeftRunning.
    void leaveOrAwaitWork(const std::function<bool(Clock::time_point)>& idleBy);

    std::vector<Route> routes_;
    std::string address_ = "0.0.0.0";
    std::uint16_t port_ = 80;
    unsigned concurrency_ = 1;
    ServerLimits limits_;
    std::vector<PoolLimits> ownPools_; // the pools after the shared one, in id order
    std::vector<std::shared_ptr<RequestObserver>> observers_;
    Gate gate_;
    std::function<void()> hangup_;
    std::function<void()> workLeftRunning_;
    std::atomic<ServerState> state_{ServerState::starting};

    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopRequested_ = false;
    bool drainRequested_ = false;
    bool started_ = false;
    std::uint16_t boundPort_ = 0;
};

} // namespace tarvek::http
