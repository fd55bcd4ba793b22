// Tables and histograms over the 256 levels of 8-bit images, shared by the tone and background
// corrections.
#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <cstddef>
#include <mutex>

// A 1 x 256 8-bit table for cv::LUT whose entry v is level(v).
template <typename Level>
cv::Mat levelTable(Level level)
{
    cv::Mat table(1, 256, CV_8UC1);
    uchar* entry = table.ptr<uchar>();
    for (int v = 0; v < 256; ++v)
        entry[v] = level(v);
    return table;
}

// The image that an operation mapping the pixels of src (8-bit) through a table writes: src's own
// pixels when dst shares them, so that dst = src works in place, and otherwise a new image, so
// that whatever shared dst's old pixels keeps them.
cv::Mat tableOutput(const cv::Mat& src, const cv::Mat& dst);

// Number of pixels at each level in one channel of an 8-bit image. With a mask (8-bit, one
// channel, the image's size) only the pixels where it is not 0 count.
using LevelCounts = std::array<int, 256>;
LevelCounts levelCounts(const cv::Mat& image, int channel, const cv::Mat& mask = cv::Mat());

// The counts of each channel of an 8-bit three-channel image, in one pass.
using ChannelCounts = std::array<LevelCounts, 3>;
ChannelCounts channelLevelCounts(const cv::Mat& image);

// The same counts as a 256 x 1 float matrix, the histogram cv::calcHist gives.
cv::Mat levelHistogram(const cv::Mat& image, int channel);

// Counts as the floats of such a histogram.
using FloatCounts = std::array<float, 256>;
FloatCounts floatCounts(const LevelCounts& counts);

// Level counts of one channel gathered row by row.
class LevelCounter {
public:
    // Counts every cn-th byte of `level` (cols of them); with a mask, only where it is not 0.
    void countRow(const uchar* level, int cn, int cols);
    void countMaskedRow(const uchar* level, const uchar* mask, int cn, int cols);

    // Adds what has been counted to counts.
    void addTo(LevelCounts& counts) const;

private:
    // Four partial histograms take turns so that runs of equal levels do not wait on one
    // counter; bin 256 takes the pixels that the mask leaves out, which spares a branch per pixel.
    std::array<std::array<int, 257>, 4> partial{};
};

void addCounts(LevelCounts& total, const LevelCounts& part);

template <std::size_t n>
void addCounts(std::array<LevelCounts, n>& total, const std::array<LevelCounts, n>& part)
{
    for (std::size_t i = 0; i < n; ++i)
        addCounts(total[i], part[i]);
}

// Counts over `rows` rows gathered in parallel: countRows(range, counts) adds the counts of the
// rows in range to counts, which starts at 0 in every stripe; the stripes' counts are summed.
template <typename Counts, typename CountRows>
Counts countInParallel(int rows, CountRows countRows)
{
    Counts total{};
    std::mutex totalLock;
    cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& range) {
        Counts part{};
        countRows(range, part);
        const std::lock_guard<std::mutex> guard(totalLock);
        addCounts(total, part);
    });
    return total;
}
