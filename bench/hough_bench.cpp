// optimization::HoughLines over the 100 border angles of the general document
// search against cv::HoughLines over all 180 one-degree angles, on the same
// edge maps.
#include <benchmark/benchmark.h>

#include <vector>

#include <opencv2/imgproc.hpp>

#include "documentarea_internal.h"
#include "hough.h"

namespace {

// A photographed page: a tilted bright sheet with rows of dark word blocks
// on a mottled desk, blurred and run through Canny like the document search
// does with its scaled photograph.
cv::Mat documentEdgeMap(int width, int height)
{
    cv::RNG rng(20261207);
    cv::Mat noise(height / 8, width / 8, CV_8UC1);
    rng.fill(noise, cv::RNG::UNIFORM, 60, 120);
    cv::Mat photo;
    cv::resize(noise, photo, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);

    const float sx = width / 320.0f;
    const float sy = height / 240.0f;
    std::vector<cv::Point> sheet = {cv::Point(cvRound(52 * sx), cvRound(30 * sy)),
                                    cv::Point(cvRound(262 * sx), cvRound(22 * sy)),
                                    cv::Point(cvRound(275 * sx), cvRound(214 * sy)),
                                    cv::Point(cvRound(45 * sx), cvRound(222 * sy))};
    cv::fillConvexPoly(photo, sheet, cv::Scalar(215));
    for (int line = 0; line < 22; line++) {
        int y = cvRound((46 + line * 7.5f) * sy);
        int x = cvRound(70 * sx);
        while (x < cvRound(240 * sx)) {
            int word = cvRound(rng.uniform(6, 22) * sx);
            cv::rectangle(photo, cv::Rect(x, y, word, std::max(2, cvRound(3 * sy))), cv::Scalar(40), cv::FILLED);
            x += word + cvRound(4 * sx);
        }
    }
    cv::GaussianBlur(photo, photo, cv::Size(5, 5), 0);
    cv::Mat edges;
    cv::Canny(photo, edges, 50, 150);
    return edges;
}

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
