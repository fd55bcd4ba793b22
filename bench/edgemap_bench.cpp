// The four edge map builders of the document search on a photograph reduced to 320 x 240, the size
// the search works on. The photograph is the SmartDoc frame of the test data.
#include <benchmark/benchmark.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>

#include "documentarea_internal.h"

namespace {

const cv::Mat& reducedPhoto()
{
    static const cv::Mat photo = [] {
        const std::string source = __FILE__;
        const std::string root = source.substr(0, source.rfind("/bench/"));
        const cv::Mat frame =
            cv::imread(root + "/tests/data/smartdoc2015/background01_datasheet001_frame_0118.jpeg");
        cv::Mat reduced;
        if (!frame.empty())
            cv::resize(frame, reduced, cv::Size(320, 240), 0, 0, cv::INTER_AREA);
        return reduced;
    }();
    return photo;
}

void runBuilder(benchmark::State& state, bool (*build)(cv::Mat&, cv::Mat&))
{
    if (reducedPhoto().empty()) {
        state.SkipWithError("test photograph not found");
        return;
    }
    cv::Mat dst;
    for (auto _ : state) {
        // The HSV builder converts its source in place; every run starts from the photograph.
        cv::Mat src = reducedPhoto().clone();
        benchmark::DoNotOptimize(build(src, dst));
    }
}

void canny(benchmark::State& state)
{
    runBuilder(state, detectEdgeUsingCanny);
}

void watershedAndCanny(benchmark::State& state)
{
    runBuilder(state, detectEdgeUsingWatershedAndCanny);
}

void cannyInHSV(benchmark::State& state)
{
    runBuilder(state, detectEdgeUsingCannyInHSV);
}

void differenceOfBlurs(benchmark::State& state)
{
    runBuilder(state, detectEdgeUsingDOC);
}

}  // namespace

BENCHMARK(canny)->Unit(benchmark::kMicrosecond);
BENCHMARK(watershedAndCanny)->Unit(benchmark::kMicrosecond);
BENCHMARK(cannyInHSV)->Unit(benchmark::kMicrosecond);
BENCHMARK(differenceOfBlurs)->Unit(benchmark::kMicrosecond);
