// The document searches on a decoded 12-megapixel photograph, against decoding
// the photograph's JPEG; block-wise adaptive Otsu against OpenCV's global Otsu
// threshold on the same photograph in grey.
#include <benchmark/benchmark.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

#include "binarization.h"
#include "documentarea.h"
#include "photo.h"

namespace da = tarvek::documentarea;

namespace {

const std::string& photoJpeg()
{
    static const std::string jpeg = syntheticPhotographJpeg(4000, 3000);
    return jpeg;
}

const cv::Mat& decodedPhoto()
{
    static const cv::Mat photo =
        cv::imdecode(std::vector<uchar>(photoJpeg().begin(), photoJpeg().end()), cv::IMREAD_COLOR);
    return photo;
}

const cv::Mat& greyPhoto()
{
    static const cv::Mat grey = [] {
        cv::Mat g;
        cv::cvtColor(decodedPhoto(), g, cv::COLOR_BGR2GRAY);
        return g;
    }();
    return grey;
}

void BM_Imdecode(benchmark::State& state)
{
    const std::vector<uchar> bytes(photoJpeg().begin(), photoJpeg().end());
    for (auto _ : state) {
        cv::Mat photo = cv::imdecode(bytes, cv::IMREAD_COLOR);
        benchmark::DoNotOptimize(photo.data);
    }
}

// Runs a search with default parameters; the counter tells whether it found four corners.
template <typename Search>
void runSearch(benchmark::State& state, Search search)
{
    cv::Mat photo = decodedPhoto();
    std::vector<cv::Point> corners;
    for (auto _ : state) {
        corners.clear();
        search(photo, corners);
        benchmark::DoNotOptimize(corners.data());
    }
    state.counters["found"] = corners.size() == 4;
}

void BM_GreySearch(benchmark::State& state)
{
    runSearch(state, [](cv::Mat& img, std::vector<cv::Point>& out) {
        float accuracy, whRatio, angleDiff;
        da::find_using_gray_canny(img, out, 0, 0, 0, accuracy, whRatio, angleDiff, false, false, false);
    });
}

void BM_ColourSearch(benchmark::State& state)
{
    runSearch(state, [](cv::Mat& img, std::vector<cv::Point>& out) {
        float accuracy, whRatio, angleDiff;
        da::find_using_hsv_canny(img, out, 0, 0, 0, accuracy, whRatio, angleDiff, false, false, false);
    });
}

void BM_WatershedSearch(benchmark::State& state)
{
    runSearch(state, [](cv::Mat& img, std::vector<cv::Point>& out) {
        float accuracy, whRatio, angleDiff;
        da::find_using_watershed_canny(img, out, accuracy, whRatio, angleDiff);
    });
}

void BM_FindMode0(benchmark::State& state)
{
    runSearch(state, [](cv::Mat& img, std::vector<cv::Point>& out) { da::find(img, 0, out); });
}

void BM_ComparingSearch(benchmark::State& state)
{
    runSearch(state, [](cv::Mat& img, std::vector<cv::Point>& out) {
        da::find_compare_grayCanny_hsvCanny(img, out, 0, 0, 0, false, false, false);
    });
}

void BM_AdaptiveOtsu64(benchmark::State& state)
{
    cv::Mat page = greyPhoto();
    cv::Mat binary;
    for (auto _ : state) {
        tarvek::binarization::adaptiveOtsu(page, binary, 64);
        benchmark::DoNotOptimize(binary.data);
    }
}

void BM_OtsuThreshold(benchmark::State& state)
{
    cv::Mat binary;
    for (auto _ : state) {
        cv::threshold(greyPhoto(), binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
        benchmark::DoNotOptimize(binary.data);
    }
}

}  // namespace

BENCHMARK(BM_Imdecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GreySearch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ColourSearch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WatershedSearch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FindMode0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ComparingSearch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AdaptiveOtsu64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OtsuThreshold)->Unit(benchmark::kMillisecond)->UseRealTime();
