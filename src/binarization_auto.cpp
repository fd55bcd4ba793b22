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
// Least side of the closing on that copy: wider than most strokes, narrower than stains.
constexpr int CLOSING_SIDE = 15;
// Pixels of the reduced copy at least this share of its closing count as paper.
constexpr float PAPER_SHARE = 0.85f;
// Below this share of paper around a pixel the closing stands in for the mean.
constexpr float LEAST_PAPER = 0.05f;
// Longest ink run counted as a stroke.
constexpr int LONGEST_STROKE = 128;
// Largest side of the window of edge statistics (its sums stay within an int).
constexpr int LARGEST_WINDOW = 181;
// Least contrast of a stroke edge in normalised grey levels: paper grain and
// compression noise stay below it.
constexpr int LEAST_EDGE_CONTRAST = 20;
// Edges reach at least this many times the paper grain's median contrast.
constexpr int GRAIN_MARGIN = 2;
// Away from edges a pixel must be at least this much darker than paper to be ink,
// so that a blank page's grain never is.
constexpr int LEAST_INK_DEPTH = 40;
// A component whose darkest depth below paper is less than this share of the
// deepest ink near it is show-through; near is within NEAR_CELLS cells of two
// text heights.
constexpr double FAINT_SHARE = 0.5;
constexpr int NEAR_CELLS = 2;
// Components smaller than this share of the text height squared are speckle.
constexpr double SPECKLE_SHARE = 0.1;

int reductionFactor(cv::Size size)
{
    return std::max(1, (std::max(size.width, size.height) + WORKING_SIDE - 1) / WORKING_SIDE);
}

// Side of the closing on the reduced copy: wide enough to erase strokes of strokeWidth.
int closingSide(cv::Size size, int strokeWidth)
{
    return std::max(CLOSING_SIDE, 2 * strokeWidth / reductionFactor(size) + 1);
}

// The mean of the paper pixels around each pixel of small, where paper is what
// reaches PAPER_SHARE of the closing; the closing itself where paper is scarce.
cv::Mat meanOfPaper(const cv::Mat& small, const cv::Mat& closed, int closing)
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
    const cv::Size box(2 * closing + 1, 2 * closing + 1);
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

struct InkRule {
    int side;          // of the window around each pixel, odd
    int leastContrast; // of an edge pixel
    int leastEdges;    // fewer edge pixels in the window: the global rule decides
    int global;        // the global rule: darker than this is ink
    double k;          // weight of the edge pixels' standard deviation
    double leastDeviation;  // of the edge pixels' values: less is grain, the global rule decides
    int lightest;           // no ink is lighter
};

// Sums over the window's rows, per column, of the edge pixels: how many, their
// grey values and the squares of these. A window of at most 181 pixels a side
// keeps every sum within an int.
struct ColumnSums {
    std::vector<int> count, sum, squares;

    explicit ColumnSums(int cols) : count(cols, 0), sum(cols, 0), squares(cols, 0) {}

    void add(const uchar* page, const uchar* contrast, int leastContrast, int sign)
    {
        for (size_t x = 0; x < count.size(); ++x) {
            if (contrast[x] < leastContrast)
                continue;
            const int v = page[x];
            count[x] += sign;
            sum[x] += sign * v;
            squares[x] += sign * v * v;
        }
    }
};

// A pixel of value v whose window holds n edge pixels of sum s and squares q is
// ink when v <= mean + k · deviation, that is n·v − s <= k·sqrt(n·q − s²).
// Edges of ink on paper spread their values from the ink's to the paper's; a
// window whose edge values spread less holds only grain, and there the global
// rule decides.
bool darkAmongEdges(int v, int n, int s, int q, const InkRule& rule)
{
    const double spread = static_cast<double>(n) * q - static_cast<double>(s) * s;
    const double leastSpread = n * rule.leastDeviation;
    if (spread < leastSpread * leastSpread)
        return v < rule.global;
    if (v > rule.lightest)
        return false;
    const double above = static_cast<double>(n) * v - s;
    return above <= 0 || above * above <= rule.k * rule.k * spread;
}

// Median of the 8-bit image's values, from its histogram.
int medianValue(const cv::Mat& image)
{
    std::vector<int> histogram(256, 0);
    for (int y = 0; y < image.rows; ++y) {
        const uchar* row = image.ptr<uchar>(y);
        for (int x = 0; x < image.cols; ++x)
            ++histogram[row[x]];
    }
    const size_t half = image.total() / 2;
    size_t below = 0;
    for (int v = 0; v < 256; ++v) {
        below += histogram[v];
        if (below > half)
            return v;
    }
    return 255;
}

// Rows top to bottom − 1 of ink: 255 for ink, 0 for paper. The window slides
// down the rows and along each row, so a pixel costs the same for any side.
void inkRows(const cv::Mat& page, const cv::Mat& contrast, const InkRule& rule, int top, int bottom, cv::Mat& ink)
{
    const int r = rule.side / 2, cols = page.cols;
    ColumnSums columns(cols);
    const auto addRow = [&](int y, int sign) {
        if (y >= 0 && y < page.rows)
            columns.add(page.ptr<uchar>(y), contrast.ptr<uchar>(y), rule.leastContrast, sign);
    };
    for (int y = top - r; y < top + r; ++y)
        addRow(y, 1);
    for (int y = top; y < bottom; ++y) {
        addRow(y + r, 1);
        addRow(y - r - 1, -1);
        const uchar* p = page.ptr<uchar>(y);
        uchar* d = ink.ptr<uchar>(y);
        int n = 0, s = 0, q = 0;
        for (int x = 0; x < std::min(r, cols); ++x) {
            n += columns.count[x];
            s += columns.sum[x];
            q += columns.squares[x];
        }
        for (int x = 0; x < cols; ++x) {
            if (x + r < cols) {
                n += columns.count[x + r];
                s += columns.sum[x + r];
                q += columns.squares[x + r];
            }
            if (x - r - 1 >= 0) {
                n -= columns.count[x - r - 1];
                s -= columns.sum[x - r - 1];
                q -= columns.squares[x - r - 1];
            }
            const bool dark = n >= rule.leastEdges ? darkAmongEdges(p[x], n, s, q, rule) : p[x] < rule.global;
            d[x] = dark ? 255 : 0;
        }
    }
}

cv::Mat inkByEdges(const cv::Mat& page, const cv::Mat& contrast, const InkRule& rule)
{
    cv::Mat ink(page.size(), CV_8U);
    // Stripes of rows, each starting its window sums afresh: long enough that
    // the start costs little beside the rows.
    const int stripe = std::max(64, 4 * rule.side);
    const int stripes = (page.rows + stripe - 1) / stripe;
    cv::parallel_for_(cv::Range(0, stripes), [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i)
            inkRows(page, contrast, rule, i * stripe, std::min(page.rows, (i + 1) * stripe), ink);
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

// rough: 255 where the page is at or below its Otsu threshold, which is returned.
int roughInk(const cv::Mat& page, cv::Mat& rough)
{
    return static_cast<int>(cv::threshold(page, rough, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU));
}

// The darkest value of the page in each component.
std::vector<int> darkestOf(const cv::Mat& labels, const cv::Mat& page, int count)
{
    std::vector<int> darkest(count, 255);
    for (int y = 0; y < labels.rows; ++y) {
        const int* l = labels.ptr<int>(y);
        const uchar* p = page.ptr<uchar>(y);
        for (int x = 0; x < labels.cols; ++x)
            darkest[l[x]] = std::min<int>(darkest[l[x]], p[x]);
    }
    return darkest;
}

// Whether each component is kept: at least leastArea pixels, and a darkest
// depth below paper of at least FAINT_SHARE of the deepest component's whose
// centre lies within NEAR_CELLS cells of a side of cell pixels: strokes of a
// back page showing through are fainter than the ink beside them.
std::vector<bool> keptComponents(const cv::Mat& stats, const cv::Mat& centroids, const std::vector<int>& darkest,
                                 int leastArea, int cell, cv::Size size)
{
    const cv::Size grid((size.width + cell - 1) / cell, (size.height + cell - 1) / cell);
    const auto cellOf = [&](int label) {
        return cv::Point(std::clamp(static_cast<int>(centroids.at<double>(label, 0)) / cell, 0, grid.width - 1),
                         std::clamp(static_cast<int>(centroids.at<double>(label, 1)) / cell, 0, grid.height - 1));
    };
    std::vector<bool> kept(stats.rows, false);
    cv::Mat deepest(grid, CV_8U, cv::Scalar(0));
    for (int label = 1; label < stats.rows; ++label) {
        kept[label] = stats.at<int>(label, cv::CC_STAT_AREA) >= leastArea;
        if (kept[label]) {
            uchar& d = deepest.at<uchar>(cellOf(label));
            d = std::max<uchar>(d, static_cast<uchar>(255 - darkest[label]));
        }
    }
    cv::dilate(deepest, deepest, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * NEAR_CELLS + 1, 2 * NEAR_CELLS + 1)));
    for (int label = 1; label < stats.rows; ++label)
        if (kept[label])
            kept[label] = 255 - darkest[label] >= FAINT_SHARE * deepest.at<uchar>(cellOf(label));
    return kept;
}

// dst: 0 for the kept ink components, 255 elsewhere.
void keepComponents(const cv::Mat& labels, const std::vector<bool>& kept, cv::Mat& dst)
{
    std::vector<uchar> tone(kept.size(), 255);
    for (size_t label = 1; label < kept.size(); ++label)
        tone[label] = kept[label] ? 0 : 255;
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

cv::Mat paperBackground(const cv::Mat& grey, int strokeWidth)
{
    const int f = reductionFactor(grey.size()), closing = closingSide(grey.size(), strokeWidth);
    cv::Mat small, closed;
    cv::resize(grey, small, cv::Size((grey.cols + f - 1) / f, (grey.rows + f - 1) / f), 0, 0, cv::INTER_AREA);
    cv::morphologyEx(small, closed, cv::MORPH_CLOSE,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(closing, closing)));
    cv::Mat background;
    cv::resize(meanOfPaper(small, closed, closing), background, grey.size(), 0, 0, cv::INTER_LINEAR);
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
    cv::Mat page = normalisedPage(grey, paperBackground(grey, 0)), rough;
    int global = roughInk(page, rough);
    const int width = std::max(1, strokeWidth(rough));
    // Strokes too wide for the usual closing: estimated again with a wider one.
    if (closingSide(grey.size(), width) > CLOSING_SIDE) {
        page = normalisedPage(grey, paperBackground(grey, width));
        global = roughInk(page, rough);
    }

    cv::Mat contrast, edges;
    cv::morphologyEx(page, contrast, cv::MORPH_GRADIENT, cv::Mat());
    // Most pixels are paper, so the median contrast is the grain's; edges stand well above it.
    const int grain = GRAIN_MARGIN * medianValue(contrast);
    const int otsuContrast = static_cast<int>(cv::threshold(contrast, edges, 0, 255, cv::THRESH_OTSU)) + 1;
    const int least = std::max({LEAST_EDGE_CONTRAST, grain, otsuContrast});

    const int side = std::clamp(2 * width + 1, 5, LARGEST_WINDOW);
    const InkRule rule{side, least, side, std::min(global, 255 - LEAST_INK_DEPTH), k, least / 2.0, 255 - least};
    const cv::Mat ink = inkByEdges(page, contrast, rule);

    cv::Mat labels, stats, centroids;
    cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_32S);
    const int height = medianHeight(stats, width);
    const double speckle = SPECKLE_SHARE * height;
    const std::vector<bool> kept = keptComponents(stats, centroids, darkestOf(labels, page, stats.rows),
                                                  static_cast<int>(std::ceil(speckle * speckle)),
                                                  std::max(2 * height, 8), page.size());
    keepComponents(labels, kept, dst);
}

}  // namespace tarvek::binarization
