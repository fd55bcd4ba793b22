// Binarization of degraded pages (stains, show-through, faded ink, uneven
// light): the paper background is estimated and divided out, ink is found by
// its local contrast within windows sized by the text's own stroke width, and
// speckle is cleared by its size against the text height. The stages are
// declared for their tests; autoBinarize runs them in order.
#pragma once

#include <opencv2/core.hpp>

namespace tarvek::binarization {

// Sources narrower or lower than this are refused.
constexpr int AUTO_MIN_SIDE = 16;

// The paper's own brightness under the ink, 8-bit, grey's size: on a copy
// reduced to at most 1024 pixels a side, a closing erases dark marks and the
// mean of the pixels that the closing shows to be paper, taken over a
// neighbourhood, fills in what lay under the marks. The closing is 15 pixels
// of the copy, or twice strokeWidth (of grey, 0 when not known) if wider, so
// the estimate follows lighting, stains and shading that change over more than
// about 1.5 % of the longer side. grey must be 8-bit, one channel, at least
// AUTO_MIN_SIDE a side.
cv::Mat paperBackground(const cv::Mat& grey, int strokeWidth);

// grey divided by its background, scaled so that paper is 255 (saturated):
// the page as if lit evenly on clean paper.
cv::Mat normalisedPage(const cv::Mat& grey, const cv::Mat& background);

// The usual width in pixels of the strokes of ink (8-bit, non-zero = ink): the
// most frequent length of the ink runs along rows and columns that paper closes
// on both sides. 0 when there is no such run.
int strokeWidth(const cv::Mat& ink);

// Black ink on white paper (0 and 255, src's size) for a degraded page. A pixel
// of the normalised page near enough stroke edges is ink when darker than the
// mean of the edge pixels around it plus k of their standard deviation; one
// away from edges when darker than the global threshold of the page. k in
// 0 … 1 (0.2 by default) makes strokes thicker as it grows. A refused source
// (empty, not 8-bit, not 1, 3 or 4 channels, smaller than AUTO_MIN_SIDE) or a k
// outside 0 … 1 leaves dst empty.
void autoBinarize(cv::Mat& src, cv::Mat& dst, double k);

}  // namespace tarvek::binarization
