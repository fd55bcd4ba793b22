// Histograms over the 256 levels of 8-bit images.
#include "levels.h"

#include <algorithm>

cv::Mat tableOutput(const cv::Mat& src, const cv::Mat& dst)
{
    if (dst.data == src.data && dst.size() == src.size() && dst.type() == src.type() && dst.step == src.step)
        return dst;
    return cv::Mat(src.size(), src.type());
}

// Both loops take four pixels a step, one for each partial histogram, so that the increments of a
// step are independent of each other.
void LevelCounter::countRow(const uchar* level, int cn, int cols)
{
    int x = 0;
    for (; x + 4 <= cols; x += 4)
        for (int i = 0; i < 4; ++i)
            ++partial[i][level[(x + i) * cn]];
    for (; x < cols; ++x)
        ++partial[0][level[x * cn]];
}

void LevelCounter::countMaskedRow(const uchar* level, const uchar* mask, int cn, int cols)
{
    const auto bin = [&](int x) {
        const int kept = -(mask[x] != 0);  // all bits set for a pixel that counts
        return (level[x * cn] & kept) | (256 & ~kept);
    };
    int x = 0;
    for (; x + 4 <= cols; x += 4)
        for (int i = 0; i < 4; ++i)
            ++partial[i][bin(x + i)];
    for (; x < cols; ++x)
        ++partial[0][bin(x)];
}

void LevelCounter::addTo(LevelCounts& counts) const
{
    for (int v = 0; v < 256; ++v)
        counts[v] += partial[0][v] + partial[1][v] + partial[2][v] + partial[3][v];
}

void addCounts(LevelCounts& total, const LevelCounts& part)
{
    for (int v = 0; v < 256; ++v)
        total[v] += part[v];
}

LevelCounts levelCounts(const cv::Mat& image, int channel, const cv::Mat& mask)
{
    const int cn = image.channels();
    return countInParallel<LevelCounts>(image.rows, [&](const cv::Range& rows, LevelCounts& counts) {
        LevelCounter counter;
        for (int y = rows.start; y < rows.end; ++y) {
            const uchar* level = image.ptr<uchar>(y) + channel;
            if (mask.empty())
                counter.countRow(level, cn, image.cols);
            else
                counter.countMaskedRow(level, mask.ptr<uchar>(y), cn, image.cols);
        }
        counter.addTo(counts);
    });
}

ChannelCounts channelLevelCounts(const cv::Mat& image)
{
    return countInParallel<ChannelCounts>(image.rows, [&](const cv::Range& rows, ChannelCounts& counts) {
        LevelCounter counters[3];
        for (int y = rows.start; y < rows.end; ++y)
            for (int channel = 0; channel < 3; ++channel)
                counters[channel].countRow(image.ptr<uchar>(y) + channel, 3, image.cols);
        for (int channel = 0; channel < 3; ++channel)
            counters[channel].addTo(counts[channel]);
    });
}

FloatCounts floatCounts(const LevelCounts& counts)
{
    FloatCounts result;
    std::copy(counts.begin(), counts.end(), result.begin());
    return result;
}

cv::Mat levelHistogram(const cv::Mat& image, int channel)
{
    const LevelCounts counts = levelCounts(image, channel);
    cv::Mat histogram(256, 1, CV_32FC1);
    std::copy(counts.begin(), counts.end(), histogram.ptr<float>());
    return histogram;
}
