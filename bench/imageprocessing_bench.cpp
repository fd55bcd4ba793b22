// getGradientImage on grey and colour photographs against the plain OpenCV gradient magnitude
// pipeline (Sobel x, Sobel y, cv::magnitude) on the same grey image.
#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include "imageprocessing.h"

namespace {

// A photographed page: smooth mottled background, a bright tilted sheet with word blocks, noise.
cv::Mat pagePhoto(int width, int height)
{
    cv::RNG rng(4242);
    cv::Mat coarse(height / 16 + 1, width / 16 + 1, CV_8UC3);
    rng.fill(coarse, cv::RNG::UNIFORM, cv::Scalar(40, 60, 80), cv::Scalar(110, 130, 150));
    cv::Mat photo;
    cv::resize(coarse, photo, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
    const std::vector<cv::Point> sheet = {{width / 6, height / 8}, {width * 5 / 6, height / 10},
                                          {width * 6 / 7, height * 7 / 8}, {width / 7, height * 9 / 10}};
    cv::fillConvexPoly(photo, sheet, cv::Scalar(215, 220, 225));
    const int wordHeight = std::max(2, height / 80);
    for (int y = height / 5; y < height * 4 / 5; y += 3 * wordHeight) {
        for (int x = width / 4; x < width * 3 / 4; x += 5 * wordHeight)
            cv::rectangle(photo, cv::Rect(x, y, 4 * wordHeight, wordHeight), cv::Scalar(35, 35, 40), cv::FILLED);
    }
    cv::Mat noise(photo.size(), CV_8UC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, 4);
    photo += noise;
    return photo;
}

cv::Mat greyPhoto(int width, int height)
{
    cv::Mat grey;
    cv::cvtColor(pagePhoto(width, height), grey, cv::COLOR_BGR2GRAY);
    return grey;
}

void runGradient(benchmark::State& state, cv::Mat src)
{
    cv::Mat dst;
    for (auto _ : state) {
        tarvek::imageprocessing::getGradientImage(src, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}

void gradientGrey(benchmark::State& state)
{
    runGradient(state, greyPhoto(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
}

void gradientColour(benchmark::State& state)
{
    runGradient(state, pagePhoto(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
}

// The baseline: float derivatives in x and y and their magnitude.
void sobelMagnitudeGrey(benchmark::State& state)
{
    cv::Mat src = greyPhoto(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    cv::Mat gx, gy, magnitude;
    for (auto _ : state) {
        cv::Sobel(src, gx, CV_32F, 1, 0, 3);
        cv::Sobel(src, gy, CV_32F, 0, 1, 3);
        cv::magnitude(gx, gy, magnitude);
        benchmark::DoNotOptimize(magnitude.data);
    }
}

}  // namespace

// 12 megapixels (4000 x 3000) and the 320 x 240 size the document search works on.
BENCHMARK(sobelMagnitudeGrey)->Args({4000, 3000})->Args({320, 240})->Unit(benchmark::kMillisecond);
BENCHMARK(gradientGrey)->Args({4000, 3000})->Args({320, 240})->Unit(benchmark::kMillisecond);
BENCHMARK(gradientColour)->Args({4000, 3000})->Args({320, 240})->Unit(benchmark::kMillisecond);
