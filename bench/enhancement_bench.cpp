// removeBgColor on a decoded 12-megapixel page photograph, beside cv::imdecode of the same JPEG.
// Wall time: both spread work over OpenCV's thread pool.

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

void BM_removeBgColor(benchmark::State& state)
{
    cv::Mat photograph = cv::imdecode(jpegBuffer(), cv::IMREAD_COLOR);
    cv::Mat result;
    for (auto _ : state) {
        if (!tarvek::imageprocessing::removeBgColor(photograph, result))
            state.SkipWithError("the photograph was refused");
        benchmark::DoNotOptimize(result.data);
    }
}

}  // namespace

BENCHMARK(BM_imdecode)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_removeBgColor)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
