#pragma once

// The document searches, document kinds and page sizes by the names that the
// HTTP routes, the command line and the Python package share.

#include "imageio.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvek::documentsearch {

// Preset document shapes of getBasicAspectRatio: the family in the low byte,
// the orientation (portrait 0x100, landscape 0x200, either 0x300) above it;
// "any" is no preset at all.
struct DocumentKind {
    const char* name;
    int kind;
};

extern const std::vector<DocumentKind> documentKinds;

struct Ratios {
    float aspect = 0, portrait = 0, landscape = 0; // 0: not given
};

// The height/width ratios getBasicAspectRatio presets for the kind.
Ratios ratiosOfKind(int kind);

// What a search found in a photo.
struct Detection {
    // Top-left, top-right, bottom-right, bottom-left in the photo's pixels: sub-pixel where the
    // search refines them, and outside the photo where the page is cut by its edge.
    std::vector<cv::Point2f> corners;
    std::optional<double> confidence; // the page search's, in [0, 1]; none from the other searches
};

// Corners rounded to whole pixels.
std::vector<cv::Point> wholePixels(const std::vector<cv::Point2f>& corners);

struct Strategy {
    const char* name;
    // Four corners, or nothing when the search finds none.
    std::function<std::optional<Detection>(cv::Mat&, const Ratios&)> find;
    // Whether the search finds the page as well on a photo reduced to about
    // a thousand pixels on its longer side (and its corners then scale up).
    bool takesReducedPhotos = false;
};

// Every search with its general bounds, no equalisation and Canny edges, and
// the page search "auto", which every interface uses unless told otherwise.
extern const std::vector<Strategy> strategies;
constexpr const char* defaultStrategy = "auto";

// The entry of a table above by name; null when no entry has it.
const Strategy* strategyNamed(const std::string& name);
const DocumentKind* kindNamed(const std::string& name);

// A search that takes reduced photos gets a large JPEG decoded at 1/2, 1/4 or
// 1/8 of its size, no smaller than this on its longer side: a fraction of a
// full decode, and its sides are still refined to well under a pixel of it.
constexpr int reducedSearchSide = 960;

// The longer side a photo is decoded at for the strategy (decodeReduced's
// minSide): reducedSearchSide when it takes reduced photos, all of it otherwise.
int searchSide(const Strategy& strategy);

// A point of a photo decoded at 1/scale of its size, in the full photo's
// pixels: a decoded pixel spans scale x scale of them, centre to centre.
cv::Point2f inFullPixels(cv::Point2f point, double scale);

// What the strategy finds in a photo decoded for it (imageio::decodeReduced
// with searchSide(strategy)), in the full photo's pixels. The detect route and
// the command line search files this way and so answer the same corners.
std::optional<Detection> detectedIn(imageio::ReducedImage& photo, const Strategy& strategy, const Ratios& ratios);

// Pages larger than this are not made.
constexpr std::uint64_t maxPagePixels = std::uint64_t{1} << 28;

// The size of the page that four corners (top-left, top-right, bottom-right,
// bottom-left) of a width x height photo flatten to: as wide as the longer of
// the top and bottom sides, so that the page keeps the photo's resolution, and
// as high as the page's height/width ratio makes it (the preset ratio closest
// to the measured one, or the measured one when no preset is given). An empty
// size when the corners give no usable page.
cv::Size pageSize(const std::vector<cv::Point>& corners, cv::Size photo, const Ratios& presets);

// Four points in any order as corners: top-left (the smallest x + y, the
// upper one of a tie), then clockwise on the image. Points given
// counter-clockwise or crosswise would otherwise flatten to a mirrored or
// folded page. Other than four points are handed back as they are.
std::vector<cv::Point> inCornerOrder(std::vector<cv::Point> points);
std::vector<cv::Point2f> inCornerOrder(std::vector<cv::Point2f> points);

// The warp addresses photo pixels with 16-bit coordinates: the region that
// holds the corners must be narrower and lower than this.
constexpr int warpRegionLimit = 32767;

// Whether the region of a photo of that size that holds the corners fits the warp.
bool fitsTheWarp(const std::vector<cv::Point>& corners, cv::Size photo);

// The quadrangle of the photo inside the corners (in corner order), warped to
// a page of the given size. A photo that the warp cannot take whole is cut to
// the corners' region first. Empty when the corners form no convex
// quadrangle or do not fit the warp.
cv::Mat flattenedPage(const cv::Mat& photo, const std::vector<cv::Point>& corners, cv::Size page);

} // namespace tarvek::documentsearch
