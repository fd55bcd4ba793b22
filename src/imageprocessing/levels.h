// Tables and histograms over the 256 levels of 8-bit images, shared by the tone and background
// corrections.
#pragma once

#include <opencv2/core.hpp>

#include <array>

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

// Number of pixels at each level in one channel of an 8-bit image. With a mask (8-bit, one
// channel, the image's size) only the pixels where it is not 0 count.
using LevelCounts = std::array<int, 256>;
LevelCounts levelCounts(const cv::Mat& image, int channel, const cv::Mat& mask = cv::Mat());

// The same counts as a 256 x 1 float matrix, the histogram cv::calcHist gives.
cv::Mat levelHistogram(const cv::Mat& image, int channel);
