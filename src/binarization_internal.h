// Global-scope helpers of the binarization unit, shared by it and its tests.
#pragma once

#include <opencv2/core.hpp>

// ---------------------------------------------------------------------------
// Block-wise Otsu
// ---------------------------------------------------------------------------

// Bits of a block's flags in adaptiveOtsu; areaBinarization returns the
// TOUCHES_* bits of the rectangle it thresholds.
const int OWN_THRESHOLD = 0x01;
const int TOUCHES_LEFT = 0x02;    // dark pixel in the first two columns
const int TOUCHES_TOP = 0x04;     // dark pixel in the first two rows
const int TOUCHES_BOTTOM = 0x08;  // dark pixel in the last row
const int TOUCHES_RIGHT = 0x10;   // dark pixel in the last column

// Otsu's threshold of the size × size rectangle at (x, y) of the 8-bit grey
// image, clipped to it: the last grey level of the dark class, the lowest of
// equal maxima of the between-class variance, which is written truncated to
// *variance. A rectangle of one grey value gives threshold and variance 0.
// Returns -1, writing no variance, when the rectangle starts outside the
// image, size < 1 or grey is not 8-bit one-channel.
int getOtsuThreshold(cv::Mat& grey, int x, int y, int size, int* variance);

// Thresholds columns left to right - 1 and rows top to bottom - 1 of grey,
// clipped to it, into dst (8-bit, grey's size): pixels at or above threshold
// become 255, the others 0. Returns the TOUCHES_* bits of the dark pixels,
// measured on the clipped rectangle. Mismatched images give 0 and no change.
int areaBinarization(cv::Mat& grey, cv::Mat& dst, int left, int top, int right, int bottom,
                     int threshold);
