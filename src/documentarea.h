// Document-area detection: validation of a found quadrangle and rectification
// of the document inside it.
//
// Corners are four points in the order top-left, top-right, bottom-right,
// bottom-left, in the photograph's pixels.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

// Corners the caller already knows, one record type per corner. pt and
// verticalPt define the corner's vertical edge, pt and horizontalPt its
// horizontal edge; score -1 means the corner was not found.
struct vertLT {
    cv::Point pt;
    cv::Point verticalPt;
    cv::Point horizontalPt;
    double score;
};

struct vertRT {
    cv::Point pt;
    cv::Point verticalPt;
    cv::Point horizontalPt;
    double score;
};

struct vertRB {
    cv::Point pt;
    cv::Point verticalPt;
    cv::Point horizontalPt;
    double score;
};

struct vertLB {
    cv::Point pt;
    cv::Point verticalPt;
    cv::Point horizontalPt;
    double score;
};

namespace tarvek {
namespace documentarea {

// ---------------------------------------------------------------------------
// Validation. W and H are the photograph's width and height; portraitRatio
// and landscapeRatio are reference height/width ratios, 0 meaning not given.
// ---------------------------------------------------------------------------

// Whether the quadrangle is a plausible photographed card or document:
// inside the image, at least an eighth of it, corner angles within 40 degrees
// of square, and side, diagonal and ratio tests that grow stricter with the
// number of corners within 5 degrees of square.
bool checkRectIdCard(int W, int H, const std::vector<cv::Point>& corners, float portraitRatio,
                     float landscapeRatio, bool onlyRect);

// checkRectIdCard with the confirmed corner records (score not -1) taken into
// account: a quadrangle far from them is held to stricter bounds or rejected.
bool checkRectIdCard2(int W, int H, const std::vector<cv::Point>& corners, const vertLT& lt, const vertRT& rt,
                      const vertRB& rb, const vertLB& lb, float portraitRatio, float landscapeRatio,
                      bool onlyRect);

// False when the confirmed corner records describe a clearly better rectangle
// than the quadrangle.
bool checkRectIdCard3(int W, int H, const std::vector<cv::Point>& corners, const vertLT& lt, const vertRT& rt,
                      const vertRB& rb, const vertLB& lb, float portraitRatio, float landscapeRatio,
                      bool onlyRect);

// Direction of the camera's tilt: 1 none, 2 not four corners, 7 right corners
// wider than the left ones, 8 bottom wider than top, 9 left wider than right,
// 10 top wider than bottom, 11 a corner angle outside 80 to 100 degrees.
int checkRectDirection(const std::vector<cv::Point>& corners);

// (left + right side) / (top + bottom side) of the quadrangle, the sides
// truncated to whole pixels; 0 unless there are four corners.
float getWHRatio(const std::vector<cv::Point>& corners);

// Height/width ratio of the real rectangle whose perspective image the
// corners are, for a camera centred on the width x height photograph;
// getWHRatio where two sides show no perspective, 0 unless four corners.
float getAspectRatio(const std::vector<cv::Point>& corners, int width, int height);

// ---------------------------------------------------------------------------
// Rectification
// ---------------------------------------------------------------------------

// dst becomes the quadrangle of src warped to a width x height image, black
// outside the source quadrangle. A degenerate quadrangle (fewer than four
// corners, zero area, crossing sides) or a non-positive size leaves dst empty.
void getPerspectiveImage(cv::Mat& src, cv::Mat& dst, const std::vector<cv::Point>& corners, int width,
                         int height);

}  // namespace documentarea
}  // namespace tarvek
