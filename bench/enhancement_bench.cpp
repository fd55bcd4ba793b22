// removeBgColor on a decoded 12-megapixel page photograph, beside cv::imdecode of the same JPEG.
// Wall time, with OpenCV's thread pool as it is and limited to one thread.

#include "imageprocessing.h"
#include "photo.h"

#include <benchmark/benchmark.h>

namespace {

const std::string& photographJpeg()
{
    static const std::string bytes = syntheticPhotographJpeg(4000, 3000);
    return bytes;
}

cv::Mat jpegBuffer()
{
    const std::string& bytes = photographJpeg();
    return cv::Mat(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<char*>(bytes.data()));
}

void BM_imdecode(benchmark::State& state)
{
    const cv::Mat buffer = jpegBuffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imdecode(buffer, cv::IMREAD_COLOR));
}

// The argument is the number of threads OpenCV's pool may use, 0 for its default. On one thread
// the wall time is the CPU time the removal takes in all.
void BM_removeBgColor(benchmark::State& state)
{
    const int defaultThreads = cv::getNumThreads();
    if (state.range(0) > 0)
        cv::setNumThreads(static_cast<int>(state.range(0)));
    cv::Mat photograph = cv::imdecode(jpegBuffer(), cv::IMREAD_COLOR);
    cv::Mat result;
    for (auto _ : state) {
        if (!tarvek::imageprocessing::removeBgColor(photograph, result))
            state.SkipWithError("the photograph was refused");
        benchmark::DoNotOptimize(result.data);
    }
    cv::setNumThreads(defaultThreads);
}

}  // namespace

BENCHMARK(BM_imdecode)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_removeBgColor)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
