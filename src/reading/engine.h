// Tesseract engines, one per thread and language set, and what they read from
// a prepared (grey or binary, upright) page image.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "reading.h"

namespace tarvek::reading::engine {

// Installed model names (without the orientation model), sorted.
std::vector<std::string> installedModels();

// The lines of an 8-bit, one-channel page in its own pixels, in reading order.
// cutShort is set when the deadline stopped recognition. An engine that
// cannot start (unknown language set) reads nothing.
struct Reading {
    std::vector<Line> lines;
    bool cutShort = false;
};
Reading recognise(const cv::Mat& page, const std::string& languages, int deadlineMs);

// Orientation of the text on an 8-bit, one-channel page: the clockwise turn in
// degrees that makes it upright, 0 when the detection is not confident.
int orientation(const cv::Mat& page);

} // namespace tarvek::reading::engine
