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

// ---------------------------------------------------------------------------
// Sauvola-family thresholds
// ---------------------------------------------------------------------------

// Sauvola's local threshold T = m·(1 + k·(sd/R − 1)) from the mean m and
// standard deviation sd of a w × w window: a pixel darker than T is ink (0),
// the others paper (255); inverse swaps the two. The window of pixel (y, x)
// starts b = w / 2 + 1 pixels above and left of it (for odd w one pixel up
// and left of the centred window); pixels outside the image count as 0 and
// the divisor is always w·w, so the mean falls near the border. Sums come
// from integral images, so the cost per pixel does not grow with w. A refused
// source, w < 1 or R = 0 leaves dst unchanged.
void sauvola(cv::Mat& src, cv::Mat& dst, int w, double k, int R, bool inverse);

// Sauvola at full resolution, then on a copy reduced by the integer factor s
// with window max(minWindow, w / (2·s)). Coarse ink components (value 0,
// paper ones when inverse is set) of 0.0196875·w² to 44.8·w² coarse pixels
// are kept, and the full-resolution pixels of their s × s blocks are
// thresholded again with the coarse threshold, truncated to its low 8 bits:
// below it is ink. The last cols % s columns and rows % s rows keep the
// full-resolution result. A refused source, w < 1, R = 0, a coarse window
// below 1, s outside 1 … 255 or s larger than the image leaves dst unchanged.
void multiScaleSauvola(cv::Mat& src, cv::Mat& dst, int w, double k, int R, int s, bool inverse,
                       int minWindow);

}  // namespace binarization
}  // namespace tarvek
