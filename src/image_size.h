#pragma once

// The largest images the library takes. OpenCV holds a matrix's sides in int and walks the values of
// a row (width x channels) with int counters; the library counts an image's pixels in int (the
// shares of the histogram stretch, the contrast stretch and the white balance). Callers that wrap
// a buffer of their own in a cv::Mat, such as the Python module, check its shape here first.

#include <cstdint>

namespace tarvek {

// Whether rows x cols pixels of the given channel count keep both counts within int: cols x channels
// and rows x cols at most 2^31 - 1. Negative sides or fewer than one channel do not fit.
bool fitsIntCounts(std::int64_t rows, std::int64_t cols, int channels);

}  // namespace tarvek
