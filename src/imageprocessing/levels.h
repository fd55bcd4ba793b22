// Tables and histograms over the 256 levels of 8-bit images, shared by the tone and background
// corrections.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

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

// Histogram of one channel of an 8-bit image: 256 contiguous float counts, one per level.
inline cv::Mat levelHistogram(const cv::Mat& image, int channel)
{
    const int bins = 256;
    const float range[] = {0, 256};
    const float* ranges[] = {range};
    cv::Mat histogram;
    cv::calcHist(&image, 1, &channel, cv::Mat(), histogram, 1, &bins, ranges);
    return histogram;
}
