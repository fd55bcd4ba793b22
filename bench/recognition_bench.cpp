// run_request on a 12-megapixel JPEG photograph, in both body forms, beside
// cv::imdecode alone on the same bytes.

#include "base64.h"
#include "http/logger.h"
#include "photo.h"
#include "recognition.h"

#include <benchmark/benchmark.h>
#include <boost/json.hpp>

namespace {

class NullLog : public tarvek::http::ILogHandler {
public:
    void log(std::string, tarvek::http::LogLevel) override {}
};

const std::string& photographJpeg()
{
    static const std::string bytes = syntheticPhotographJpeg(4000, 3000);
    return bytes;
}

void BM_imdecode(benchmark::State& state)
{
    const std::string& bytes = photographJpeg();
    const cv::Mat buffer(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<char*>(bytes.data()));
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imdecode(buffer, cv::IMREAD_COLOR));
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

void runRequest(benchmark::State& state, const std::string& body)
{
    NullLog quiet;
    tarvek::http::logger::setHandler(&quiet);
    tarvek::http::Request request;
    request.body() = body;
    for (auto _ : state) {
        auto response = tarvek::service::run_request(request, 0);
        benchmark::DoNotOptimize(boost::json::serialize(response));
    }
    tarvek::http::logger::setHandler(nullptr);
}

void BM_run_request_json(benchmark::State& state)
{
    runRequest(state, boost::json::serialize(boost::json::object{{"image", macaron::Base64::Encode(photographJpeg())}}));
}

void BM_run_request_raw(benchmark::State& state) { runRequest(state, photographJpeg()); }

} // namespace

BENCHMARK(BM_imdecode)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_run_request_json)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_run_request_raw)->Unit(benchmark::kMillisecond)->MinTime(3);
