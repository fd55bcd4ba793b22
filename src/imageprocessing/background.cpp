// Background and colour corrections of photographed pages: the colour background removal with
// its luma equalisation and white balancing, and the grey background removal.
#include "imageprocessing.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>

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

// Mean, truncated, of the luma values above threshold whose pixels are 255 in both masks; -1
// when there are none. The loop has no branch, so that it vectorises.
int brightPaperLuma(const cv::Mat& luma, const cv::Mat& mask, const cv::Mat& otsuMask, int threshold)
{
    std::int64_t sum = 0;
    std::int64_t count = 0;
    for (int y = 0; y < luma.rows; ++y) {
        const uchar* l = luma.ptr<uchar>(y);
        const uchar* m = mask.ptr<uchar>(y);
        const uchar* o = otsuMask.ptr<uchar>(y);
        int rowSum = 0;  // at most 255 times the row length
        int rowCount = 0;
        for (int x = 0; x < luma.cols; ++x) {
            const int taken = (l[x] > threshold) & (m[x] == 255) & (o[x] == 255);
            rowSum += taken * l[x];
            rowCount += taken;
        }
        sum += rowSum;
        count += rowCount;
    }
    return count == 0 ? -1 : static_cast<int>(sum / count);
}

void setMaskedLevels(cv::Mat& plane, const cv::Mat& mask, uchar level)
{
    for (int y = 0; y < plane.rows; ++y) {
        uchar* p = plane.ptr<uchar>(y);
        const uchar* m = mask.ptr<uchar>(y);
        for (int x = 0; x < plane.cols; ++x)
            p[x] = m[x] == 255 ? level : p[x];
    }
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
// binarization runs on one thread, so the two run side by side on the thread pool; `alongside`
// follows the fine one, the quicker of the two.
cv::Mat paperMask(cv::Mat& grey, int coarseWindow, const std::function<void()>& alongside)
{
    cv::Mat fine, coarse, paper;
    cv::parallel_for_(cv::Range(0, 2), [&](const cv::Range& tasks) {
        for (int task = tasks.start; task < tasks.end; ++task) {
            if (task == 0) {
                tarvek::binarization::multiScaleSauvola(grey, coarse, coarseWindow, PAPER_SAUVOLA_K, PAPER_SAUVOLA_R,
                                                        PAPER_REDUCTION, false, 32);
            } else {
                tarvek::binarization::multiScaleSauvola(grey, fine, FINE_PAPER_WINDOW, PAPER_SAUVOLA_K,
                                                        PAPER_SAUVOLA_R, PAPER_REDUCTION, false, 16);
                alongside();
            }
        }
    });
    // Both are binary, so the saturating ~(~fine + ~coarse) is their AND.
    cv::bitwise_and(fine, coarse, paper);
    return paper;
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

    cv::Mat otsuMask, yuv, equalized, stretched;
    cv::Mat paper = paperMask(grey, coarseWindow, [&] {
        cv::threshold(grey, otsuMask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
        cv::cvtColor(colour, yuv, cv::COLOR_BGR2YUV);
    });
    backgroundEqualizationYUV(yuv, paper, otsuMask);
    cv::cvtColor(yuv, equalized, cv::COLOR_YUV2BGR);
    contrastStretchingImage(equalized, stretched, 0.015f, 0.015f, 0.015f);
    whiteBalancingAll(stretched, dst, 0.25f, 0.9f, paper);
    return true;
}

void backgroundEqualizationYUV(cv::Mat& yuv, cv::Mat& mask, cv::Mat& otsuMask)
{
    if (yuv.type() != CV_8UC3 || mask.type() != CV_8UC1 || otsuMask.type() != CV_8UC1 ||
        mask.size() != yuv.size() || otsuMask.size() != yuv.size())
        return;
    // The luma is handled as a plane of its own, so that the loops over it run on contiguous
    // bytes.
    cv::Mat luma;
    cv::extractChannel(yuv, luma, 0);
    const LevelCounts counts = levelCounts(luma, 0, mask == 255);
    LumaHistogram histogram;
    std::copy(counts.begin(), counts.end(), histogram.begin());
    double n = 0;
    for (const double count : histogram)
        n += count;
    if (n == 0)
        return;
    const int mean = brightPaperLuma(luma, mask, otsuMask, otsuThreshold(histogram, n));
    if (mean < 0)
        return;
    setMaskedLevels(luma, mask, static_cast<uchar>(mean));
    cv::insertChannel(luma, yuv, 0);
}

void whiteBalancingAll(cv::Mat& src, cv::Mat& dst, float percent, float gamma, cv::Mat& mask)
{
    cv::Mat colour;
    if (src.empty() || src.depth() != CV_8U || !utils::getColorImage(src, colour) || mask.type() != CV_8UC1 ||
        mask.size() != colour.size())
        return;
    cv::Mat yuv;
    cv::cvtColor(colour, yuv, cv::COLOR_BGR2YUV);
    const cv::Mat histogram = levelHistogram(yuv, 0);
    const int target = static_cast<int>(static_cast<float>(colour.cols * colour.rows) * pixelShare(percent));
    const float white = whiteLevel(histogram.ptr<float>(), target);

    // The same curve serves every channel; without a white level the pixels are copied.
    const cv::Mat table = white > 0.0f ? levelTable([&](int v) { return whiteBalancedLevel(v, white, gamma); })
                                       : levelTable([](int v) { return static_cast<uchar>(v); });
    cv::Mat balanced;
    cv::LUT(colour, table, balanced);
    balanced.setTo(cv::Scalar::all(255), mask == 255);
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
