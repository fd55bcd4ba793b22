// Tesseract engines, a few per thread, and what they read from a prepared (grey or
// binary, upright) page image.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "reading/deadline.h"
#include "reading/reading.h"

namespace tarvek::reading::engine {

// Installed model names (without the orientation model), sorted.
std::vector<std::string> installedModels();

// The lines of an 8-bit, one-channel page in its own pixels, in reading order.
// cutShort is set when the deadline or the cancel flag stopped recognition (the
// lines read by then are kept). An engine that cannot start (unknown language
// set) reads nothing.
struct Reading {
    std::vector<Line> lines;
    bool cutShort = false;
};
Reading recognise(const cv::Mat& page, const std::string& languages, const Deadline& deadline);

// Each thread keeps the reading engines it used last, at most this many; the
// orientation engine is kept besides them.
constexpr std::size_t MAX_ENGINES_PER_THREAD = 4;

// The language sets of the reading engines the calling thread holds, the most
// recently used first.
std::vector<std::string> heldEngines();

// Orientation of the text on an 8-bit, one-channel page: the clockwise turn in
// degrees that makes it upright, 0 when the detection is not confident.
int orientation(const cv::Mat& page);

} // namespace tarvek::reading::engine
