// optimization::HoughLines over the 100 border angles of the general document
// search against cv::HoughLines over all 180 one-degree angles, on the same
// edge maps.
#include <benchmark/benchmark.h>

#include <vector>

#include <opencv2/imgproc.hpp>

#include "documentarea_internal.h"
#include "edge_map.h"
#include "hough.h"

namespace {

const cv::Mat& edgeMap(int64_t width)
{
    static const cv::Mat small = documentEdgeMap(320, 240);
    static const cv::Mat large = documentEdgeMap(1280, 960);
    return width == 320 ? small : large;
}

int houghThreshold(const cv::Mat& edges)
{
    return std::min(edges.rows, edges.cols) / 4;
}

void BM_OptimizationHoughLines(benchmark::State& state)
{
    const cv::Mat& edges = edgeMap(state.range(0));
    const std::vector<int> angles = borderLineAngles(false);
    cv::Mat lines;
    for (auto _ : state) {
        optimization::HoughLines(edges, lines, 1.0f, 180, houghThreshold(edges), angles);
        benchmark::DoNotOptimize(lines.data);
    }
    state.counters["lines"] = lines.cols;
}

void BM_CvHoughLines(benchmark::State& state)
{
    const cv::Mat& edges = edgeMap(state.range(0));
    std::vector<cv::Vec2f> lines;
    for (auto _ : state) {
        cv::HoughLines(edges, lines, 1, CV_PI / 180, houghThreshold(edges), 0, 0, 0, CV_PI);
        benchmark::DoNotOptimize(lines.data());
    }
    state.counters["lines"] = (double)lines.size();
}

}  // namespace

BENCHMARK(BM_OptimizationHoughLines)->Arg(320)->Arg(1280)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_CvHoughLines)->Arg(320)->Arg(1280)->Unit(benchmark::kMicrosecond)->UseRealTime();
