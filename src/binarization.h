// Binarization of document images. Every function first makes the source
// grey (tarvek::utils::getGrayImage: 3 channels are read as BGR, 4 as RGBA,
// 1 channel is used as is) and only reads that grey image; sources that are
// empty or not 8-bit are refused like those with another channel count.
// Results are 8-bit, one channel, the source's size, 0 for ink and 255 for
// paper.
#pragma once

#include <opencv2/core.hpp>

namespace tarvek {
namespace binarization {

// ---------------------------------------------------------------------------
// Otsu-family and adaptive thresholds
// ---------------------------------------------------------------------------

// Global threshold: pixels above threshold become 255, the others 0.
// A refused source leaves dst unchanged.
void thresholdImage(cv::Mat& src, cv::Mat& dst, int threshold);

// Global threshold chosen by Otsu's method (cv::THRESH_OTSU); pixels above it
// become 255. Returns the threshold truncated to int, or -1 for a refused
// source, which leaves dst empty.
int otsu(cv::Mat& src, cv::Mat& dst);

// OpenCV's mean adaptive threshold: a pixel becomes 255 when it exceeds the
// mean of its block × block neighbourhood minus C. An even block is made odd
// by adding 1, and 1 becomes 3. A refused source, a negative block, or one
// larger than the image both across and down leaves dst unchanged.
void adaptiveThresholdImage(cv::Mat& src, cv::Mat& dst, int blockSize, int C);

// Block-wise Otsu binarization over a grid of s × s blocks (the last row and
// column of blocks may be partial). A block whose between-class variance
// exceeds 80 is thresholded with its own Otsu threshold, pixels equal to it
// becoming white, and carries it into the threshold-less neighbours to its
// left and above that its dark pixels touch. A block without a threshold
// borrows one from a neighbour to its left or in the row above whose dark
// pixels run into it, and otherwise stays white. Blocks are visited in raster order and
// later rectangles overwrite earlier ones. A block larger than the image is
// one block covering it. A refused source or s < 1 leaves dst unchanged.
void adaptiveOtsu(cv::Mat& src, cv::Mat& dst, int s);

}  // namespace binarization
}  // namespace tarvek
