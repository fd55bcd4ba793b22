// Sauvola binarization of a 12-megapixel grey page photograph: tarvek's sauvola beside OpenCV
// contrib's Sauvola (cv::ximgproc::niBlackThreshold) with the same window, k and R, and the
// two-scale multiScaleSauvola as the background removal calls it first, and the auto
// binarization with its defaults on the same page.
#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc.hpp>

#include "binarization.h"
#include "binarization_auto.h"
#include "photo.h"

namespace {

// The k and R the library's callers use.
const double K = 0.075;
const int R = 128;

const cv::Mat& greyPage()
{
    static const cv::Mat grey = [] {
        const std::string jpeg = syntheticPhotographJpeg(4000, 3000);
        cv::Mat colour = cv::imdecode(std::vector<uchar>(jpeg.begin(), jpeg.end()), cv::IMREAD_COLOR);
        cv::Mat result;
        cv::cvtColor(colour, result, cv::COLOR_BGR2GRAY);
        return result;
    }();
    return grey;
}

void tarvekSauvola(benchmark::State& state)
{
    cv::Mat src = greyPage(), dst;
    for (auto _ : state) {
        tarvek::binarization::sauvola(src, dst, 15, K, R, false);
        benchmark::DoNotOptimize(dst.data);
    }
}

void contribSauvola(benchmark::State& state)
{
    cv::Mat src = greyPage(), dst;
    for (auto _ : state) {
        cv::ximgproc::niBlackThreshold(src, dst, 255, cv::THRESH_BINARY, 15, K,
                                       cv::ximgproc::BINARIZATION_SAUVOLA, R);
        benchmark::DoNotOptimize(dst.data);
    }
}

void tarvekMultiScaleSauvola(benchmark::State& state)
{
    cv::Mat src = greyPage(), dst;
    for (auto _ : state) {
        tarvek::binarization::multiScaleSauvola(src, dst, 16, K, R, 7, false, 16);
        benchmark::DoNotOptimize(dst.data);
    }
}

void tarvekAuto(benchmark::State& state)
{
    cv::Mat src = greyPage(), dst;
    for (auto _ : state) {
        tarvek::binarization::autoBinarize(src, dst, 0.2);
        benchmark::DoNotOptimize(dst.data);
    }
}

}  // namespace

// Wall time: tarvek's binarizations spread their rows over OpenCV's thread pool.
BENCHMARK(contribSauvola)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(tarvekSauvola)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(tarvekMultiScaleSauvola)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(tarvekAuto)->Unit(benchmark::kMillisecond)->UseRealTime();
