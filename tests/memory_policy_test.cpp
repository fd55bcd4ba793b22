// Returning free memory once the server is quiet, over real loopback requests.

#include "http_client.h"
#include "memory_policy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;
using tarvek::http::Method;
using tarvek::http::Request;
using tarvek::http::Response;
using tarvek::service::IdleTrim;

// Waits up to two seconds for the count to reach the value.
bool reaches(const std::atomic<int>& count, int value)
{
    for (int i = 0; i < 200 && count.load() < value; ++i)
        std::this_thread::sleep_for(10ms);
    return count.load() == value;
}

} // namespace

TEST(IdleTrim, TrimsOnceAfterEachBurstAndNeverWhileARequestIsUnderWay)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    tarvek::http::App app;
    app.route(Method::get, "/quick", [](const Request&) { return Response(200); });
    app.route(Method::get, "/slow", [released](const Request&) {
        released.wait();
        return Response(200);
    });
    // Two observers, to show that each one hears of every request.
    std::atomic<int> trims{0}, otherTrims{0};
    app.observe(std::make_shared<IdleTrim>(30ms, [&] { ++trims; }));
    app.observe(std::make_shared<IdleTrim>(30ms, [&] { ++otherTrims; }));
    app.concurrency(2);
    testhttp::RunningServer server(app);

    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(trims.load(), 0) << "nothing to return before the first request";

    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(testhttp::request(server.port(), testhttp::bhttp::verb::get, "/quick").result_int(), 200);
    EXPECT_TRUE(reaches(trims, 1));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(trims.load(), 1) << "one trim for the burst";

    auto slow = std::async(std::launch::async, [&] {
        return testhttp::request(server.port(), testhttp::bhttp::verb::get, "/slow").result_int();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(testhttp::request(server.port(), testhttp::bhttp::verb::get, "/quick").result_int(), 200);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(trims.load(), 1) << "a request under way keeps the server busy";
    release.set_value();
    EXPECT_EQ(slow.get(), 200);
    EXPECT_TRUE(reaches(trims, 2));
    EXPECT_TRUE(reaches(otherTrims, 2));
}
