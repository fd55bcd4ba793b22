// The stages of findDocument (src/documentarea/page_*.cpp), shared by them and
// their tests: quadrangle candidates from a reduced copy of the photo, their
// ranking by edge support, and the sub-pixel fit of each side.
#pragma once

#include <array>
#include <vector>

#include <opencv2/core.hpp>

#include "documentarea.h"

namespace tarvek::documentarea::pagesearch {

// Four corners: top-left, top-right, bottom-right, bottom-left.
using Quadrangle = std::array<cv::Point2f, 4>;

// A tone of a colour photo in which a page may stand out from what it lies on: a weighted sum
// of the blue, green and red values plus an offset, saturated to 0..255. A photo of one channel
// has its grey value only.
struct Tone {
    float blue, green, red, offset;
};

// Lightness (weighted as cv::cvtColor weights grey), and the blue-yellow and red-green opposites
// at twice the scale: a white sheet on a white desk differs in tint more than in lightness.
constexpr Tone lightness{0.114f, 0.587f, 0.299f, 0};
constexpr Tone blueYellow{2, -1, -1, 128};
constexpr Tone redGreen{0, -2, 2, 128};

// ---------------------------------------------------------------------------
// Candidates (page_candidates.cpp)
// ---------------------------------------------------------------------------

// Quadrangles that may outline the page in a tone of the reduced photo: the
// convex outlines of Canny edge chains at two sensitivities and of regions at
// three thresholds, each reduced to its four longest sides, and quadrangles of
// long straight lines gathered from line segments. A side that runs along the
// photo's border is not a page side; the corners beyond it are where the
// neighbouring sides meet, outside the photo.
std::vector<Quadrangle> candidateQuadrangles(const cv::Mat& values);

// The four points in corner order: clockwise around their centre, starting
// at the smallest x + y.
Quadrangle inCornerOrder(Quadrangle corners);

// Whether the quadrangle can be a rectangle seen in perspective: convex,
// every corner angle between 25 and 155 degrees, opposite sides no more than
// four times longer than each other.
bool plausibleShape(const Quadrangle& q);

// ---------------------------------------------------------------------------
// Edge fit (page_refinement.cpp)
// ---------------------------------------------------------------------------

// How well each side of a quadrangle is backed by an edge in the photo.
struct SideFit {
    std::array<double, 4> support{};  // share of the side's samples in the photo on its edge, 0 to 1
    std::array<double, 4> contrast{}; // median step of the tone across the side at those samples
    std::array<bool, 4> seen{};       // false for a side (nearly) wholly outside the photo
};

// A fitted quadrangle: the sides' lines re-fitted to the strongest grey step
// across each of them within band pixels, and the corners where they meet.
struct FittedQuadrangle {
    Quadrangle corners;
    SideFit fit;
};

// Fits each side of q to the steps of the tone of the 8-bit photo (one,
// three or four channels; the tone computed where sampled) within band pixels
// across it, with sub-pixel precision; a side without enough edge points
// keeps its line.
FittedQuadrangle fittedToEdges(const cv::Mat& photo, const Quadrangle& q, double band, const Tone& tone = lightness);

// Moves each side of q outward for as long as both sides next to it go on as
// edges of the tone beyond it: a part of the page, cut off by a printed rule,
// a fold or a shadow's edge, grows to the whole page.
Quadrangle extendedAlongItsSides(const cv::Mat& values, const Quadrangle& q, const Tone& tone);

// ---------------------------------------------------------------------------
// Ranking (page_ranking.cpp)
// ---------------------------------------------------------------------------

// Score of a fitted quadrangle in a photo of that size, 0 when it cannot be
// the page: edge support of its weakest and its average side, contrast, and
// its share of the photo. Sides outside the photo or along its border do not
// count; three must be in it, or two opposite ones that are backed well.
double pageScore(const FittedQuadrangle& q, cv::Size photo, const FindOptions& options);

// The confidence findDocument reports for a fitted quadrangle in a photo of
// that size, 0 to 1.
double confidence(const FittedQuadrangle& q, cv::Size photo);

// Whether the rectangle that q shows in perspective in a photo of that size
// has one of the options' height/width ratios (any ratio when none is given).
bool fitsTheRatioHint(const Quadrangle& q, cv::Size photo, const FindOptions& options);

}  // namespace tarvek::documentarea::pagesearch
