// getPerspectiveImage of a 12-megapixel colour photograph to an A4 page at
// 300 dpi (2480 x 3508), beside cv::warpPerspective alone with the same
// transform, size, interpolation and border.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "documentarea.h"
#include "photo.h"

namespace {

const int PHOTO_WIDTH = 4000;
const int PHOTO_HEIGHT = 3000;
const int PAGE_WIDTH = 2480;
const int PAGE_HEIGHT = 3508;

// The decoded photograph of photo.h.
const cv::Mat& photograph()
{
    static const cv::Mat image = [] {
        const std::string bytes = syntheticPhotographJpeg(PHOTO_WIDTH, PHOTO_HEIGHT);
        const cv::Mat buffer(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<char*>(bytes.data()));
        return cv::imdecode(buffer, cv::IMREAD_COLOR);
    }();
    return image;
}

// The page's corners where photo.h puts them: top-left, top-right,
// bottom-right, bottom-left.
std::vector<cv::Point> pageCorners()
{
    const float w = PHOTO_WIDTH, h = PHOTO_HEIGHT;
    return {cv::Point(cvRound(0.225f * w), cvRound(0.083f * h)), cv::Point(cvRound(0.76f * w), cvRound(0.14f * h)),
            cv::Point(cvRound(0.81f * w), cvRound(0.93f * h)), cv::Point(cvRound(0.175f * w), cvRound(0.88f * h))};
}

void BM_GetPerspectiveImage(benchmark::State& state)
{
    cv::Mat src = photograph();
    const std::vector<cv::Point> corners = pageCorners();
    cv::Mat dst;
    for (auto _ : state) {
        tarvek::documentarea::getPerspectiveImage(src, dst, corners, PAGE_WIDTH, PAGE_HEIGHT);
        benchmark::DoNotOptimize(dst.data);
    }
    state.counters["pixels"] = static_cast<double>(dst.total());
}

void BM_CvWarpPerspective(benchmark::State& state)
{
    const cv::Mat& src = photograph();
    const std::vector<cv::Point> c = pageCorners();
    const cv::Point2f source[] = {c[0], c[1], c[3], c[2]};
    const cv::Point2f target[] = {{0.0f, 0.0f}, {(float)PAGE_WIDTH, 0.0f}, {0.0f, (float)PAGE_HEIGHT},
                                  {(float)PAGE_WIDTH, (float)PAGE_HEIGHT}};
    const cv::Mat transform = cv::getPerspectiveTransform(source, target);
    cv::Mat dst;
    for (auto _ : state) {
        cv::warpPerspective(src, dst, transform, cv::Size(PAGE_WIDTH, PAGE_HEIGHT), cv::INTER_LINEAR,
                            cv::BORDER_CONSTANT, cv::Scalar::all(0));
        benchmark::DoNotOptimize(dst.data);
    }
    state.counters["pixels"] = static_cast<double>(dst.total());
}

// With repetitions, the fastest one as well: on a shared machine it is the
// least disturbed.
double fastest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

}  // namespace

BENCHMARK(BM_GetPerspectiveImage)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_CvWarpPerspective)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2)
    ->ComputeStatistics("min", fastest);
