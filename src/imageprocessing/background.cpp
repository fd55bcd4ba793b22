// Background and colour corrections of photographed pages: the colour background removal with
// its luma equalisation and white balancing, and the grey background removal.
#include "imageprocessing.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "binarization.h"
#include "levels.h"
#include "utils.h"

namespace {

using LumaHistogram = std::array<double, 256>;

// Divisor of a class mean: an empty or one-pixel class is divided by the single-precision
// values of 1e-5 and 0.99999 instead of its count.
double classDivisor(double count)
{
    if (count == 0)
        return 9.999999747378752e-06;
    if (count == 1)
        return 0.9999899864196777;
    return count;
}

// Luma counts of the pixels whose mask value is 255 (entry 0) and of those among them that the
// Otsu mask also marks 255 (entry 1), from channel 0 of a YUV image.
using PaperLumaCounts = std::array<LevelCounts, 2>;

PaperLumaCounts paperLumaCounts(const cv::Mat& yuv, const cv::Mat& mask, const cv::Mat& otsuMask)
{
    return countInParallel<PaperLumaCounts>(yuv.rows, [&](const cv::Range& rows, PaperLumaCounts& counts) {
        LevelCounter paper, bright;
        std::vector<uchar> isPaper(yuv.cols), isBright(yuv.cols);
        for (int y = rows.start; y < rows.end; ++y) {
            const uchar* m = mask.ptr<uchar>(y);
            const uchar* o = otsuMask.ptr<uchar>(y);
            for (int x = 0; x < yuv.cols; ++x) {
                isPaper[x] = m[x] == 255;
                isBright[x] = (m[x] == 255) & (o[x] == 255);
            }
            paper.countMaskedRow(yuv.ptr<uchar>(y), isPaper.data(), 3, yuv.cols);
            bright.countMaskedRow(yuv.ptr<uchar>(y), isBright.data(), 3, yuv.cols);
        }
        paper.addTo(counts[0]);
        bright.addTo(counts[1]);
    });
}

// Mean, truncated, of the counted levels above threshold; -1 when there are none.
int meanAbove(const LevelCounts& counts, int threshold)
{
    std::int64_t sum = 0;
    std::int64_t count = 0;
    for (int v = threshold + 1; v < 256; ++v) {
        sum += std::int64_t{v} * counts[v];
        count += counts[v];
    }
    return count == 0 ? -1 : static_cast<int>(sum / count);
}

// Otsu threshold of a histogram of n pixels: the first level with the largest between-class
// criterion. Counts and level sums are whole numbers far below 2^53, so the upper class is
// exactly the total less the lower one.
int otsuThreshold(const LumaHistogram& histogram, double n)
{
    double sum = 0;
    for (int p = 0; p < 256; ++p)
        sum += p * histogram[p];
    double w0 = 0;
    double s0 = 0;
    double best = 0;
    int threshold = 0;
    for (int k = 0; k < 256; ++k) {
        w0 += histogram[k];
        s0 += k * histogram[k];
        const double w1 = n - w0;
        const double difference = s0 / classDivisor(w0) - (sum - s0) / classDivisor(w1);
        const double criterion = difference * (w0 / n * (w1 / n) * difference);
        if (k == 0 || criterion > best) {
            best = criterion;
            threshold = k;
        }
    }
    return threshold;
}

// The luma the paper gets: the mean of the masked pixels of channel 0 of yuv that lie above the
// Otsu threshold of the masked luma and are 255 in the Otsu mask too; -1 when there are none.
int paperLuma(const cv::Mat& yuv, const cv::Mat& mask, const cv::Mat& otsuMask)
{
    const PaperLumaCounts counts = paperLumaCounts(yuv, mask, otsuMask);
    LumaHistogram histogram;
    std::copy(counts[0].begin(), counts[0].end(), histogram.begin());
    double n = 0;
    for (const double count : histogram)
        n += count;
    return n == 0 ? -1 : meanAbove(counts[1], otsuThreshold(histogram, n));
}

// Sets channel 0 of the pixels of rows whose mask value is 255 to level.
void setMaskedLevels(cv::Mat& image, const cv::Mat& mask, uchar level, const cv::Range& rows)
{
    const int cn = image.channels();
    for (int y = rows.start; y < rows.end; ++y) {
        uchar* p = image.ptr<uchar>(y);
        const uchar* m = mask.ptr<uchar>(y);
        for (int x = 0; x < image.cols; ++x)
            p[x * cn] = m[x] == 255 ? level : p[x * cn];
    }
}

// Colour conversions of a few rows at a time, whose results stay in the cache.
constexpr int CONVERSION_ROWS = 8;

// Luma counts of a BGR image.
LevelCounts lumaCounts(const cv::Mat& colour)
{
    return countInParallel<LevelCounts>(colour.rows, [&](const cv::Range& rows, LevelCounts& counts) {
        LevelCounter counter;
        cv::Mat yuv;
        for (int y = rows.start; y < rows.end; y += CONVERSION_ROWS) {
            cv::cvtColor(colour.rowRange(y, std::min(y + CONVERSION_ROWS, rows.end)), yuv, cv::COLOR_BGR2YUV);
            for (int r = 0; r < yuv.rows; ++r)
                counter.countRow(yuv.ptr<uchar>(r), 3, yuv.cols);
        }
        counter.addTo(counts);
    });
}

// Converts a YUV image to BGR in its own pixels, first giving the pixels whose mask value is 255
// the luma `paper` when that is not negative.
void equalizedToBgr(cv::Mat& image, const cv::Mat& mask, int paper)
{
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& rows) {
        cv::Mat bgr;
        for (int y = rows.start; y < rows.end; y += CONVERSION_ROWS) {
            const cv::Range chunk(y, std::min(y + CONVERSION_ROWS, rows.end));
            if (paper >= 0)
                setMaskedLevels(image, mask, static_cast<uchar>(paper), chunk);
            cv::Mat part = image.rowRange(chunk);
            cv::cvtColor(part, bgr, cv::COLOR_YUV2BGR);
            bgr.copyTo(part);
        }
    });
}

// Every channel of colour through table into balanced (which may be colour), and white where the
// mask is 255.
void balanceColours(const cv::Mat& colour, const cv::Mat& table, const cv::Mat& mask, cv::Mat& balanced)
{
    const uchar* t = table.ptr<uchar>();
    cv::parallel_for_(cv::Range(0, colour.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const uchar* c = colour.ptr<uchar>(y);
            const uchar* m = mask.ptr<uchar>(y);
            uchar* b = balanced.ptr<uchar>(y);
            for (int x = 0; x < colour.cols; ++x) {
                const uchar white = m[x] == 255 ? 255 : 0;  // or-ed in: 255 either way, or the entry
                for (int channel = 0; channel < 3; ++channel)
                    b[3 * x + channel] = t[c[3 * x + channel]] | white;
            }
        }
    });
}

// White level: the mean level of the `target` brightest pixels of the histogram, the last level
// reached taken only in part. 0 when no pixel is asked for.
float whiteLevel(const float* count, int target)
{
    if (target <= 0)
        return 0.0f;
    double sum = 0;
    float level = 0;
    for (int i = 255; i >= 0; --i) {
        if (count[i] + sum > target)
            return static_cast<float>(level + i * (target - sum) / target);
        sum += count[i];
        level += static_cast<float>(i) * count[i] / static_cast<float>(target);
    }
    return level;
}

// S-curve of a level relative to the white level: levels at or above it become 255.
uchar whiteBalancedLevel(int v, float white, float gamma)
{
    const float x = std::min(static_cast<float>(v) / white, 1.0f);
    const double y = (0.5 - 0.5 * std::cos(3.1415927f * std::pow(x, gamma))) * 255.0;
    // Written so that a NaN (level 0 with a negative gamma) becomes 0.
    return static_cast<uchar>(y > 0.0 ? std::min(y, 255.0) : 0.0);
}

// Share of the pixels that sets the white level, kept within 0 .. 1 (NaN counts as 0).
float pixelShare(float percent)
{
    return percent > 0.0f ? std::min(percent, 1.0f) : 0.0f;
}

// removeBG estimates the background on a copy reduced by this factor.
constexpr int BACKGROUND_REDUCTION = 7;

// Sauvola binarizations of the paper search: a fine window and a coarse one of a twelfth of the
// longer side, each also applied on a copy reduced by PAPER_REDUCTION.
constexpr int FINE_PAPER_WINDOW = 16;
constexpr int COARSE_PAPER_WINDOW_DIVISOR = 12;
constexpr int PAPER_REDUCTION = 7;
constexpr double PAPER_SAUVOLA_K = 0.075;
constexpr int PAPER_SAUVOLA_R = 128;

// 255 where both binarizations of the grey page see paper, 0 where either sees ink. Each
// binarization spreads its rows over the thread pool.
cv::Mat paperMask(cv::Mat& grey, int coarseWindow)
{
    cv::Mat fine, coarse;
    tarvek::binarization::multiScaleSauvola(grey, fine, FINE_PAPER_WINDOW, PAPER_SAUVOLA_K, PAPER_SAUVOLA_R,
                                            PAPER_REDUCTION, false, 16);
    tarvek::binarization::multiScaleSauvola(grey, coarse, coarseWindow, PAPER_SAUVOLA_K, PAPER_SAUVOLA_R,
                                            PAPER_REDUCTION, false, 32);
    // Both are binary, so the saturating ~(~fine + ~coarse) is their AND.
    cv::bitwise_and(fine, coarse, fine);
    return fine;
}

}  // namespace

namespace tarvek {
namespace imageprocessing {

bool removeBgColor(cv::Mat& src, cv::Mat& dst)
{
    cv::Mat colour;
    if (src.empty() || src.depth() != CV_8U || !utils::getColorImage(src, colour))
        return false;
    const int coarseWindow = std::max(colour.cols, colour.rows) / COARSE_PAPER_WINDOW_DIVISOR;
    if (std::min(colour.cols, colour.rows) < PAPER_REDUCTION || coarseWindow < 1)
        return false;
    cv::Mat grey;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    if (utils::isReverse(grey))
        return false;

    cv::Mat paper = paperMask(grey, coarseWindow), otsuMask, result;
    cv::threshold(grey, otsuMask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    // The steps after the conversion work in place in one image, which spares allocating (and
    // the system zeroing) a new one for each.
    cv::cvtColor(colour, result, cv::COLOR_BGR2YUV);
    // backgroundEqualizationYUV, with the paper's new luma set just before each rows' way back
    equalizedToBgr(result, paper, paperLuma(result, paper, otsuMask));
    contrastStretchingImage(result, result, 0.015f, 0.015f, 0.015f);
    whiteBalancingAll(result, result, 0.25f, 0.9f, paper);
    dst = result;
    return true;
}

void backgroundEqualizationYUV(cv::Mat& yuv, cv::Mat& mask, cv::Mat& otsuMask)
{
    if (yuv.type() != CV_8UC3 || mask.type() != CV_8UC1 || otsuMask.type() != CV_8UC1 ||
        mask.size() != yuv.size() || otsuMask.size() != yuv.size())
        return;
    const int luma = paperLuma(yuv, mask, otsuMask);
    if (luma < 0)
        return;
    cv::parallel_for_(cv::Range(0, yuv.rows),
                      [&](const cv::Range& rows) { setMaskedLevels(yuv, mask, static_cast<uchar>(luma), rows); });
}

void whiteBalancingAll(cv::Mat& src, cv::Mat& dst, float percent, float gamma, cv::Mat& mask)
{
    cv::Mat colour;
    if (src.empty() || src.depth() != CV_8U || !utils::getColorImage(src, colour) || mask.type() != CV_8UC1 ||
        mask.size() != colour.size())
        return;
    const int target = static_cast<int>(static_cast<float>(colour.cols * colour.rows) * pixelShare(percent));
    const float white = whiteLevel(floatCounts(lumaCounts(colour)).data(), target);

    // The same curve serves every channel; without a white level the pixels are copied.
    const cv::Mat table = white > 0.0f ? levelTable([&](int v) { return whiteBalancedLevel(v, white, gamma); })
                                       : levelTable([](int v) { return static_cast<uchar>(v); });
    cv::Mat balanced = tableOutput(colour, dst);
    balanceColours(colour, table, mask, balanced);
    dst = balanced;
}

void removeBG(cv::Mat& src, cv::Mat& dst)
{
    cv::Mat grey;
    if (src.depth() != CV_8U || src.cols < BACKGROUND_REDUCTION || src.rows < BACKGROUND_REDUCTION ||
        !utils::getGrayImage(src, grey))
        return;
    cv::Mat background;
    cv::resize(grey, background, cv::Size(grey.cols / BACKGROUND_REDUCTION, grey.rows / BACKGROUND_REDUCTION), 0, 0,
               cv::INTER_LINEAR);
    cv::GaussianBlur(background, background, cv::Size(35, 35), 35.0, 35.0, cv::BORDER_DEFAULT);
    cv::resize(background, background, grey.size(), 0, 0, cv::INTER_LINEAR);

    // How much darker each pixel is than its background, inverted: paper near 255, ink lower.
    cv::Mat levels;
    cv::subtract(background, grey, levels);
    cv::bitwise_not(levels, levels);
    histogramStretch(levels, levels);
    dst = levels;
}

}  // namespace imageprocessing
}  // namespace tarvek
