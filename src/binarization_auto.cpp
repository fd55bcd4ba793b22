#include "binarization_auto.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "binarization_internal.h"

namespace tarvek::binarization {
namespace {

// Longest side of the reduced copy that the background is estimated on.
constexpr int WORKING_SIDE = 1024;
// Side of the closing on that copy: wider than strokes, narrower than stains.
constexpr int CLOSING_SIDE = 15;
// Pixels of the reduced copy at least this share of its closing count as paper.
constexpr float PAPER_SHARE = 0.85f;
// Below this share of paper around a pixel the closing stands in for the mean.
constexpr float LEAST_PAPER = 0.05f;
// Longest ink run counted as a stroke.
constexpr int LONGEST_STROKE = 128;
// Least contrast of a stroke edge in normalised grey levels: paper grain and
// compression noise stay below it.
constexpr int LEAST_EDGE_CONTRAST = 20;
// Away from edges a pixel must be at least this much darker than paper to be ink,
// so that a blank page's grain never is.
constexpr int LEAST_INK_DEPTH = 40;
// Components smaller than this share of the text height squared are speckle.
constexpr double SPECKLE_SHARE = 0.1;

int reductionFactor(cv::Size size)
{
    return std::max(1, (std::max(size.width, size.height) + WORKING_SIDE - 1) / WORKING_SIDE);
}

// The mean of the paper pixels around each pixel of small, where paper is what
// reaches PAPER_SHARE of the closing; the closing itself where paper is scarce.
cv::Mat meanOfPaper(const cv::Mat& small, const cv::Mat& closed)
{
    cv::Mat values(small.size(), CV_32F), weights(small.size(), CV_32F);
    for (int y = 0; y < small.rows; ++y) {
        const uchar* s = small.ptr<uchar>(y);
        const uchar* c = closed.ptr<uchar>(y);
        float* v = values.ptr<float>(y);
        float* w = weights.ptr<float>(y);
        for (int x = 0; x < small.cols; ++x) {
            w[x] = s[x] >= PAPER_SHARE * c[x] ? 1.f : 0.f;
            v[x] = w[x] * s[x];
        }
    }
    // Two box passes: nearly Gaussian weights at the cost of boxes.
    const cv::Size box(2 * CLOSING_SIDE + 1, 2 * CLOSING_SIDE + 1);
    for (int pass = 0; pass < 2; ++pass) {
        cv::blur(values, values, box);
        cv::blur(weights, weights, box);
    }
    cv::Mat mean(small.size(), CV_8U);
    for (int y = 0; y < small.rows; ++y) {
        const uchar* c = closed.ptr<uchar>(y);
        const float* v = values.ptr<float>(y);
        const float* w = weights.ptr<float>(y);
        uchar* m = mean.ptr<uchar>(y);
        for (int x = 0; x < small.cols; ++x)
            m[x] = w[x] < LEAST_PAPER ? c[x] : cv::saturate_cast<uchar>(v[x] / w[x]);
    }
    return mean;
}

// Edge statistics of the normalised page over square windows: how many edge
// pixels, the sum of their grey values and of their squares.
struct EdgeWindows {
    cv::Mat count, sum, squares;
};

EdgeWindows edgeWindows(const cv::Mat& page, const cv::Mat& edges, int side)
{
    cv::Mat ones, values;
    cv::threshold(edges, ones, 0, 1, cv::THRESH_BINARY);
    cv::bitwise_and(page, edges, values);
    const cv::Size window(side, side);
    EdgeWindows windows;
    cv::boxFilter(ones, windows.count, CV_32F, window, cv::Point(-1, -1), false);
    cv::boxFilter(values, windows.sum, CV_32F, window, cv::Point(-1, -1), false);
    cv::sqrBoxFilter(values, windows.squares, CV_32F, window, cv::Point(-1, -1), false);
    return windows;
}

struct InkRule {
    float k;          // weight of the edge pixels' standard deviation
    float leastEdges; // fewer edge pixels in the window: the global rule decides
    int global;       // the global rule: darker than this is ink
};

// 255 for ink, 0 for paper.
cv::Mat inkByEdges(const cv::Mat& page, const EdgeWindows& windows, InkRule rule)
{
    cv::Mat ink(page.size(), CV_8U);
    cv::parallel_for_(cv::Range(0, page.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const uchar* p = page.ptr<uchar>(y);
            const float* n = windows.count.ptr<float>(y);
            const float* s = windows.sum.ptr<float>(y);
            const float* q = windows.squares.ptr<float>(y);
            uchar* d = ink.ptr<uchar>(y);
            for (int x = 0; x < page.cols; ++x) {
                bool dark = p[x] < rule.global;
                if (n[x] >= rule.leastEdges) {
                    const float mean = s[x] / n[x];
                    const float deviation = std::sqrt(std::max(0.f, q[x] / n[x] - mean * mean));
                    dark = p[x] <= mean + rule.k * deviation;
                }
                d[x] = dark ? 255 : 0;
            }
        }
    });
    return ink;
}

// The median height of the components taller than strokeWidth (stats as
// cv::connectedComponentsWithStats gives them, row 0 the background).
int medianHeight(const cv::Mat& stats, int strokeWidth)
{
    std::vector<int> heights;
    for (int label = 1; label < stats.rows; ++label) {
        const int height = stats.at<int>(label, cv::CC_STAT_HEIGHT);
        if (height > strokeWidth)
            heights.push_back(height);
    }
    if (heights.empty())
        return 0;
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    return heights[heights.size() / 2];
}

// dst: 0 for the ink components of at least leastArea pixels, 255 elsewhere.
void keepComponents(const cv::Mat& labels, const cv::Mat& stats, int leastArea, cv::Mat& dst)
{
    std::vector<uchar> tone(stats.rows, 255);
    for (int label = 1; label < stats.rows; ++label)
        tone[label] = stats.at<int>(label, cv::CC_STAT_AREA) >= leastArea ? 0 : 255;
    dst.create(labels.size(), CV_8U);
    cv::parallel_for_(cv::Range(0, labels.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const int* l = labels.ptr<int>(y);
            uchar* d = dst.ptr<uchar>(y);
            for (int x = 0; x < labels.cols; ++x)
                d[x] = tone[l[x]];
        }
    });
}

}  // namespace

cv::Mat paperBackground(const cv::Mat& grey)
{
    const int f = reductionFactor(grey.size());
    cv::Mat small, closed;
    cv::resize(grey, small, cv::Size((grey.cols + f - 1) / f, (grey.rows + f - 1) / f), 0, 0, cv::INTER_AREA);
    cv::morphologyEx(small, closed, cv::MORPH_CLOSE,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(CLOSING_SIDE, CLOSING_SIDE)));
    cv::Mat background;
    cv::resize(meanOfPaper(small, closed), background, grey.size(), 0, 0, cv::INTER_LINEAR);
    return background;
}

cv::Mat normalisedPage(const cv::Mat& grey, const cv::Mat& background)
{
    cv::Mat divisor = cv::max(background, 1), page;
    cv::divide(grey, divisor, page, 255.0);
    return page;
}

int strokeWidth(const cv::Mat& ink)
{
    std::vector<int> histogram(LONGEST_STROKE + 1, 0);
    // Runs are counted when paper closes them; -1 marks a run open at the image's edge.
    const auto close = [&](int& run) {
        if (run > 0 && run <= LONGEST_STROKE)
            ++histogram[run];
        run = 0;
    };
    std::vector<int> down(ink.cols, -1);
    for (int y = 0; y < ink.rows; ++y) {
        const uchar* row = ink.ptr<uchar>(y);
        int across = -1;
        for (int x = 0; x < ink.cols; ++x) {
            if (row[x] == 0) {
                close(across);
                close(down[x]);
                continue;
            }
            if (across >= 0)
                ++across;
            if (down[x] >= 0)
                ++down[x];
        }
    }
    const auto mode = std::max_element(histogram.begin() + 1, histogram.end());
    return *mode == 0 ? 0 : static_cast<int>(mode - histogram.begin());
}

void autoBinarize(cv::Mat& src, cv::Mat& dst, double k)
{
    cv::Mat grey;
    const bool isGrey = getGray8U(src, grey);
    dst.release();
    if (!isGrey || grey.cols < AUTO_MIN_SIDE || grey.rows < AUTO_MIN_SIDE || !(k >= 0 && k <= 1))
        return;
    const cv::Mat page = normalisedPage(grey, paperBackground(grey));

    cv::Mat rough, contrast, edges;
    const int global = static_cast<int>(cv::threshold(page, rough, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU));
    const int width = std::max(1, strokeWidth(rough));
    cv::morphologyEx(page, contrast, cv::MORPH_GRADIENT, cv::Mat());
    const double least = std::max<double>(LEAST_EDGE_CONTRAST, cv::threshold(contrast, edges, 0, 255, cv::THRESH_OTSU));
    cv::threshold(contrast, edges, least - 1, 255, cv::THRESH_BINARY);

    const int side = std::max(5, 2 * width + 1);
    const InkRule rule{static_cast<float>(k), static_cast<float>(side), std::min(global, 255 - LEAST_INK_DEPTH)};
    const cv::Mat ink = inkByEdges(page, edgeWindows(page, edges, side), rule);

    cv::Mat labels, stats, centroids;
    cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_32S);
    const double speckle = SPECKLE_SHARE * medianHeight(stats, width);
    keepComponents(labels, stats, static_cast<int>(std::ceil(speckle * speckle)), dst);
}

}  // namespace tarvek::binarization
