// The page search (strategy auto) on a 12-megapixel photo and on a 1920 x 1080
// frame, each beside cv::imdecode of the same JPEG: the search should cost at
// most half a decode.
#include <benchmark/benchmark.h>

#include <opencv2/imgcodecs.hpp>

#include <string>
#include <vector>

#include "documentarea.h"
#include "photo.h"

namespace {

struct Photo {
    std::vector<uchar> jpeg;
    cv::Mat decoded;
};

const Photo& photoOfSize(int width, int height)
{
    static std::vector<std::pair<cv::Size, Photo>> photos;
    for (const auto& [size, photo] : photos)
        if (size == cv::Size(width, height))
            return photo;
    const std::string jpeg = syntheticPhotographJpeg(width, height);
    Photo photo{std::vector<uchar>(jpeg.begin(), jpeg.end()), {}};
    photo.decoded = cv::imdecode(photo.jpeg, cv::IMREAD_COLOR);
    photos.emplace_back(cv::Size(width, height), photo);
    return photos.back().second;
}

void BM_Imdecode(benchmark::State& state)
{
    const Photo& photo = photoOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        cv::Mat decoded = cv::imdecode(photo.jpeg, cv::IMREAD_COLOR);
        benchmark::DoNotOptimize(decoded.data);
    }
}

// The counter tells whether the page was found.
void BM_FindDocument(benchmark::State& state)
{
    const Photo& photo = photoOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    bool found = false;
    for (auto _ : state) {
        const auto document = tarvek::documentarea::findDocument(photo.decoded);
        found = document.has_value();
        benchmark::DoNotOptimize(document);
    }
    state.counters["found"] = found;
}

}  // namespace

BENCHMARK(BM_Imdecode)->Args({4000, 3000})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FindDocument)->Args({4000, 3000})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();
