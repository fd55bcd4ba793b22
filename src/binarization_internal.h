// Global-scope helpers of the binarization unit, shared by it and its tests.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

// 8-bit grey view of src (src itself when it has one channel), or false for
// an empty source or one that is not 8-bit with 1, 3 or 4 channels.
bool getGray8U(cv::Mat& src, cv::Mat& grey);

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

// ---------------------------------------------------------------------------
// Sauvola-family thresholds
// ---------------------------------------------------------------------------

// tarvek::binarization::sauvola, except that dst is released first, so that a
// refused call leaves it empty, and that map, when not null, receives every
// pixel's threshold truncated toward zero to an int (saturated at the int
// range, NaN as 0) and stored as its low 8 bits. map is (re)allocated 8-bit
// and the grey image's size when it is not so already.
void sauvola2(cv::Mat& src, cv::Mat& dst, int w, double k, int R, cv::Mat* map, bool inverse);

// Labels the 4-connected components of the 0 pixels of the coarse binary
// image bin (8-bit, (W / s) × (H / s), overwritten: visited pixels become
// 1), scanning rows top to bottom, and marks in mask the s × s blocks of
// every component of minArea to maxArea pixels with the value s. A bin of
// another size or type, or s < 1, changes nothing.
void labelingAndFilter(cv::Mat& bin, int W, int H, double minArea, double maxArea, cv::Mat& mask,
                       int s);

// 4-connected flood fill of the pixels equal to label from (x, y):
// tarvek::utils::getLabelRect with four neighbours (marks visited pixels 1,
// visits right, left, below, above from a last-in first-out stack, appends
// the popped pixels to points when not null). Returns their bounding
// rectangle; label 1, a seed outside img or another type than 8-bit
// one-channel fill nothing and return an empty rectangle.
cv::Rect getLabelRect(cv::Mat& img, int x, int y, int label, std::vector<cv::Point>* points);

// Sets the s × s block of mask that coarse pixel p stands for, rows s·p.y …
// s·p.y + s − 1 and columns s·p.x … s·p.x + s − 1 clipped to mask, to s.
// A mask that is not 8-bit one-channel is left alone.
void mergeSelectedObject(cv::Point& p, int s, cv::Mat& mask);
