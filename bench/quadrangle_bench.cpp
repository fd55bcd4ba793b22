// Quadrangle formation with ten lines in each side group against the
// angle-restricted line extraction that feeds it, on the same 320 x 240 edge
// map.
#include <benchmark/benchmark.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "documentarea_internal.h"
#include "edge_map.h"

namespace {

const cv::Mat& edgeMap()
{
    static const cv::Mat edges = documentEdgeMap(320, 240);
    return edges;
}

struct SideGroups {
    std::vector<cv::Vec2f> left, right, top, bottom;
};

// The ten strongest distinct lines of each side: vertical lines by the half of the image they lie
// in, horizontal ones likewise.
SideGroups tenLinesPerSide(cv::Mat& edges)
{
    std::vector<cv::Vec3f> scored;
    detectOptimalHoughLines(edges, &scored, 5, false);
    std::vector<cv::Vec2f> lines;
    for (const cv::Vec3f& line : scored)
        lines.emplace_back(line[0], line[1]);
    removeSimilarHoughLines(&lines, 5);
    SideGroups groups;
    for (const cv::Vec2f& line : lines) {
        const float degrees = thetaToDegree(line[1]);
        const bool vertical = degrees < 45 || degrees > 135;
        const float offset = std::fabs(line[0]);
        std::vector<cv::Vec2f>& side = vertical ? (offset < edges.cols / 2 ? groups.left : groups.right)
                                                : (offset < edges.rows / 2 ? groups.top : groups.bottom);
        if (side.size() < 10)
            side.push_back(line);
    }
    for (const std::vector<cv::Vec2f>* side : {&groups.left, &groups.right, &groups.top, &groups.bottom}) {
        if (side->size() < 10)
            throw std::runtime_error("fewer than ten lines on a side");
    }
    return groups;
}

void BM_LineExtraction(benchmark::State& state)
{
    cv::Mat edges = edgeMap().clone();
    std::vector<cv::Vec3f> lines;
    for (auto _ : state) {
        detectOptimalHoughLines(edges, &lines, 5, false);
        benchmark::DoNotOptimize(lines.data());
    }
    state.counters["lines"] = (double)lines.size();
}

// Argument: whether candidates are kept for the second ranking pass.
void BM_QuadrangleFormation(benchmark::State& state)
{
    cv::Mat edges = edgeMap().clone();
    SideGroups groups = tenLinesPerSide(edges);
    float accuracy = 0, angleDiff = 0;
    std::vector<cv::Point2f> corners;
    for (auto _ : state) {
        corners = getQuadrangleFormation_usingQUAD(edges, groups.left, groups.right, groups.top, groups.bottom,
                                                   accuracy, angleDiff, 0, false, state.range(0) != 0, false);
        benchmark::DoNotOptimize(corners.data());
    }
    state.counters["found"] = (double)corners.size();
    state.counters["accuracy"] = accuracy;
}

}  // namespace

BENCHMARK(BM_LineExtraction)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_QuadrangleFormation)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();
