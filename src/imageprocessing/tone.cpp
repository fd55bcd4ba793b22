// Tone and contrast corrections: the three-level histogram stretch, contrast and brightness
// tables, per-channel contrast stretching, the contrast curve, soften and sharpen.
#include "imageprocessing.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

#include "levels.h"
#include "utils.h"

namespace {

// Whether src holds 8-bit pixels (with `channels` channels, when that is not 0); otherwise dst
// becomes an unchanged copy of src, which is also what an empty src gives.
bool acceptedOrCopied(cv::Mat& src, cv::Mat& dst, int channels = 0)
{
    if (!src.empty() && src.depth() == CV_8U && (channels == 0 || src.channels() == channels))
        return true;
    dst = src.clone();
    return false;
}

// Bins of a histogram after which the running count first exceeds lowCount and highCount.
struct HistogramPoints {
    int lo = -1;
    int hi = -1;
};

HistogramPoints histogramPoints(const float* count, int lowCount, int highCount)
{
    HistogramPoints points;
    double sum = 0;
    for (int i = 0; i < 256; ++i) {
        sum += count[i];
        if (points.lo < 0 && sum > lowCount)
            points.lo = i;
        if (points.hi < 0 && sum > highCount)
            points.hi = i;
    }
    return points;
}

// Three-level value of v: black below lo, white from top up, and between them grey or white as
// the stretched level is at most 59 or above it.
uchar threeLevel(int v, int lo, int top, float scale)
{
    if (v < lo)
        return 0;
    if (v >= top)
        return 255;
    const uchar stretched = cv::saturate_cast<uchar>(static_cast<float>(v - lo) * scale + 5.0);
    return stretched <= 59 ? 128 : 255;
}

// Gain and offset of the contrast and brightness table.
struct LinearMap {
    double gain;
    double offset;
};

LinearMap contrastBrightnessMap(int c, int b)
{
    if (c > 0) {
        const double delta = c * 127.0 / 100.0;
        const double gain = 255.0 / (255.0 - 2 * delta);
        return {gain, (b - delta) * gain};
    }
    const double delta = c * -128.0 / 100.0;
    const double gain = (256.0 - 2 * delta) / 255.0;
    return {gain, b * gain + delta};
}

// Levels of one channel at which the given fraction of its pixels lies at or below (lo) and at
// or above (hi).
struct ClipLevels {
    int lo = 0;
    int hi = 255;
};

ClipLevels clipLevels(const float* count, float fraction, float total)
{
    const float lowCut = fraction * total;
    const float highCut = (1.0f - fraction) * total;
    float cumLow = 0;
    float cumHigh = total;
    bool loFixed = false;
    bool hiFixed = false;
    ClipLevels levels;
    for (int i = 0; i < 256 && !(loFixed && hiFixed); ++i) {
        cumLow += count[i];
        cumHigh -= i == 0 ? 0.0f : count[256 - i];  // level 256 holds no pixels
        if (!loFixed && cumLow >= lowCut) {
            levels.lo = i;
            loFixed = true;
        }
        if (!hiFixed && cumHigh <= highCut) {
            levels.hi = 256 - i;
            hiFixed = true;
        }
    }
    return levels;
}

int brightestLevel(const float* count)
{
    int level = 255;
    while (level > 0 && count[level] == 0)
        --level;
    return level;
}

// A channel no brighter than this is left as it is; in the others the upper clip level is at
// least half of it.
constexpr int DARK_CHANNEL_MAXIMUM = 70;
constexpr int LOWEST_UPPER_CLIP = DARK_CHANNEL_MAXIMUM / 2;

// Output of level j in a stretched channel. Equal clip levels come from a channel of a single
// level; that level becomes white.
uchar stretchedLevel(int j, ClipLevels clip)
{
    if (j < clip.lo)
        return 0;
    if (j > clip.hi || clip.hi == clip.lo)
        return 255;
    return static_cast<uchar>((j - clip.lo) * 255 / (clip.hi - clip.lo));
}

// Writes the stretch of one channel into every third entry of `entries`, the channel's column of
// a three-channel table.
void channelStretchTable(const float* count, float fraction, float total, uchar* entries)
{
    ClipLevels clip = clipLevels(count, fraction, total);
    const bool stretch = brightestLevel(count) > DARK_CHANNEL_MAXIMUM;
    clip.hi = std::max(clip.hi, LOWEST_UPPER_CLIP);
    for (int j = 0; j < 256; ++j)
        entries[3 * j] = stretch ? stretchedLevel(j, clip) : static_cast<uchar>(j);
}

// Depths that cv::GaussianBlur filters.
bool blurrable(const cv::Mat& image)
{
    const int depth = image.depth();
    return depth == CV_8U || depth == CV_16U || depth == CV_16S || depth == CV_32F || depth == CV_64F;
}

}  // namespace

namespace tarvek {
namespace imageprocessing {

void histogramStretch(cv::Mat& src, cv::Mat& dst)
{
    if (src.empty() || src.type() != CV_8UC1)
        return;
    const int n = src.cols * src.rows;
    const cv::Mat histogram = levelHistogram(src, 0);
    cv::Point peakAt;
    cv::minMaxLoc(histogram, nullptr, nullptr, nullptr, &peakAt);
    const int peak = peakAt.y;
    const HistogramPoints points =
        histogramPoints(histogram.ptr<float>(), static_cast<int>(n * 0.1f), static_cast<int>(n * 0.99f));

    // The 99 % point mirrored about the peak; the stretch is only used below it, from lo.
    const int d = points.hi - peak;
    const int top = peak - d;
    const float scale = top > points.lo ? static_cast<float>(250 - d) / static_cast<float>(top - points.lo) : 0.0f;
    dst.create(src.size(), CV_8UC1);
    cv::LUT(src, levelTable([&](int v) { return threeLevel(v, points.lo, top, scale); }), dst);
}

void contrastBrightness(cv::Mat& src, cv::Mat& dst, int contrast, int brightness)
{
    if (!acceptedOrCopied(src, dst))
        return;
    const LinearMap map = contrastBrightnessMap(std::clamp(contrast, -100, 100), std::clamp(brightness, -100, 100));
    const cv::Mat table =
        levelTable([&](int i) { return cv::saturate_cast<uchar>(cvRound(i * map.gain + map.offset)); });
    cv::LUT(src, table, dst);
}

void contrastStretchingImage(cv::Mat& src, cv::Mat& dst, float p0, float p1, float p2)
{
    cv::Mat colour;
    if (src.empty() || src.depth() != CV_8U || !utils::getColorImage(src, colour))
        return;
    const float fractions[3] = {p0, p1, p2};
    const float total = static_cast<float>(colour.rows * colour.cols);
    // Entry (level * 3 + channel) of a three-channel table is that level's output in that channel.
    cv::Mat table(1, 256, CV_8UC3);
    const ChannelCounts counts = channelLevelCounts(colour);
    for (int channel = 0; channel < 3; ++channel)
        channelStretchTable(floatCounts(counts[channel]).data(), fractions[channel], total,
                            table.ptr<uchar>() + channel);
    cv::Mat stretched = tableOutput(colour, dst);
    cv::LUT(colour, table, stretched);
    dst = stretched;
}

void getContrastStretchingImage(cv::Mat& src, cv::Mat& dst)
{
    contrastStretchingImage(src, dst, 0.015f, 0.015f, 0.03f);
}

void brightness(cv::Mat& src, cv::Mat& dst, int shift)
{
    if (!acceptedOrCopied(src, dst))
        return;
    const int b = std::clamp(shift, -128, 128);
    cv::LUT(src, levelTable([b](int v) { return cv::saturate_cast<uchar>(v + b); }), dst);
}

void contrast(cv::Mat& src, cv::Mat& dst, int contrast)
{
    if (!acceptedOrCopied(src, dst, 1))
        return;
    // The curve depends on the level alone: the loop body evaluates it once for each of the 256
    // levels, and the pixels are mapped through that table (cv::LUT spreads large images over
    // the thread pool).
    const cv::Mat levels = levelTable([](int v) { return static_cast<uchar>(v); });
    cv::Mat table(1, 256, CV_8UC1);
    const Parallel_for_contrast curve(levels.ptr<uchar>(), table.ptr<uchar>(), std::clamp(contrast, -128, 128));
    curve(cv::Range(0, 256));
    cv::LUT(src, table, dst);
}

Parallel_for_contrast::Parallel_for_contrast(const uchar* src, uchar* dst, int contrast)
    : source(src), destination(dst)
{
    const double scale = (contrast + 128) / 128.0;
    factor = static_cast<float>(scale * scale);
}

Parallel_for_contrast::~Parallel_for_contrast() = default;

void Parallel_for_contrast::operator()(cv::Range const& range) const
{
    for (int i = range.start; i < range.end; ++i)
        destination[i] = cv::saturate_cast<uchar>((factor * (source[i] / 255.0 - 0.5) + 0.5) * 255.0);
}

void soften(cv::Mat& src, cv::Mat& dst, int level)
{
    level = std::clamp(level, 0, 10);
    if (level == 0 || src.empty() || !blurrable(src)) {
        dst = src.clone();
        return;
    }
    const double sigma = 2 * level + 1;
    cv::GaussianBlur(src, dst, cv::Size(0, 0), sigma, sigma, cv::BORDER_DEFAULT);
}

void sharpen(cv::Mat& src, cv::Mat& dst, int amount)
{
    if (!acceptedOrCopied(src, dst, 1))
        return;
    amount = std::clamp(amount, 0, 10);
    cv::Mat blurred;
    soften(src, blurred, amount == 0 ? 0 : 1);
    // The saturated differences src - blurred and blurred - src are never both non-zero, so
    // their difference is the plain src - blurred.
    cv::Mat result(src.size(), CV_8UC1);
    for (int y = 0; y < src.rows; ++y) {
        const uchar* s = src.ptr<uchar>(y);
        const uchar* b = blurred.ptr<uchar>(y);
        uchar* out = result.ptr<uchar>(y);
        for (int x = 0; x < src.cols; ++x)
            out[x] = cv::saturate_cast<uchar>((s[x] - b[x]) * amount + s[x]);
    }
    dst = result;
}

}  // namespace imageprocessing
}  // namespace tarvek
