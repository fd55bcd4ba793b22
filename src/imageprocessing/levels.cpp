// Histograms over the 256 levels of 8-bit images.
#include "levels.h"

#include <algorithm>

namespace {

// Four partial histograms take turns so that runs of equal levels do not wait on one counter;
// bin 256 takes the pixels that the mask leaves out, which spares a branch per pixel.
using PartialHistograms = std::array<std::array<int, 257>, 4>;

void countRow(const uchar* level, int cn, int cols, PartialHistograms& partial)
{
    for (int x = 0; x < cols; ++x)
        ++partial[x & 3][level[x * cn]];
}

void countMaskedRow(const uchar* level, const uchar* mask, int cn, int cols, PartialHistograms& partial)
{
    for (int x = 0; x < cols; ++x) {
        const int kept = -(mask[x] != 0);  // all bits set for a pixel that counts
        ++partial[x & 3][(level[x * cn] & kept) | (256 & ~kept)];
    }
}

}  // namespace

LevelCounts levelCounts(const cv::Mat& image, int channel, const cv::Mat& mask)
{
    const int cn = image.channels();
    PartialHistograms partial{};
    for (int y = 0; y < image.rows; ++y) {
        const uchar* level = image.ptr<uchar>(y) + channel;
        if (mask.empty())
            countRow(level, cn, image.cols, partial);
        else
            countMaskedRow(level, mask.ptr<uchar>(y), cn, image.cols, partial);
    }
    LevelCounts counts;
    for (int v = 0; v < 256; ++v)
        counts[v] = partial[0][v] + partial[1][v] + partial[2][v] + partial[3][v];
    return counts;
}

cv::Mat levelHistogram(const cv::Mat& image, int channel)
{
    const LevelCounts counts = levelCounts(image, channel);
    cv::Mat histogram(256, 1, CV_32FC1);
    std::copy(counts.begin(), counts.end(), histogram.ptr<float>());
    return histogram;
}
