#include "document_search.h"

#include "documentarea.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvek::documentsearch {
namespace {

namespace area = tarvek::documentarea;
using Corners = std::vector<cv::Point>;

// The Hough-line searches answer 2 when nothing was found.
bool houghFound(int code) { return code != 2; }

// The page search with the kind's ratios as its hint.
std::optional<Detection> pageFound(const cv::Mat& photo, const Ratios& ratios)
{
    area::FindOptions options;
    for (const float ratio : {ratios.aspect, ratios.portrait, ratios.landscape})
        if (ratio > 0)
            options.pageRatios.push_back(ratio);
    const auto found = area::findDocument(photo, options);
    if (!found)
        return std::nullopt;
    return Detection{{found->corners.begin(), found->corners.end()}, found->confidence};
}

// A search that appends whole-pixel corners and says by its result whether it found any.
using WholePixelSearch = std::function<bool(cv::Mat&, Corners&, const Ratios&)>;

std::function<std::optional<Detection>(cv::Mat&, const Ratios&)> ofWholePixels(WholePixelSearch search)
{
    return [search = std::move(search)](cv::Mat& photo, const Ratios& ratios) -> std::optional<Detection> {
        Corners corners;
        if (!search(photo, corners, ratios) || corners.size() != 4)
            return std::nullopt;
        return Detection{{corners.begin(), corners.end()}, std::nullopt};
    };
}

} // namespace

const std::vector<DocumentKind> documentKinds = {
    {"any", 0},
    {"card", 0x300}, {"card-portrait", 0x100}, {"card-landscape", 0x200},
    {"wide", 0x301}, {"wide-portrait", 0x101}, {"wide-landscape", 0x201},
    {"a4", 0x302},   {"a4-portrait", 0x102},   {"a4-landscape", 0x202},
};

Ratios ratiosOfKind(int kind)
{
    Ratios ratios;
    area::getBasicAspectRatio(kind, ratios.aspect, ratios.portrait, ratios.landscape);
    return ratios;
}

std::vector<cv::Point> wholePixels(const std::vector<cv::Point2f>& corners)
{
    Corners whole;
    for (const cv::Point2f& corner : corners)
        whole.emplace_back(cvRound(corner.x), cvRound(corner.y));
    return whole;
}

const std::vector<Strategy> strategies = {
    {"compare", ofWholePixels([](cv::Mat& photo, Corners& out, const Ratios& r) {
         return houghFound(area::find_compare_grayCanny_hsvCanny(photo, out, r.aspect, r.portrait, r.landscape, false,
                                                                  false, false));
     })},
    {"compare-groups", ofWholePixels([](cv::Mat& photo, Corners& out, const Ratios& r) {
         return houghFound(area::find_compare_grayCanny_hsvCanny_IDCardVertices(photo, out, r.aspect, r.portrait,
                                                                                 r.landscape, false, false, false));
     })},
    {"gray", ofWholePixels([](cv::Mat& photo, Corners& out, const Ratios& r) {
         float accuracy, whRatio, angleDiff;
         return houghFound(area::find_using_gray_canny(photo, out, r.aspect, r.portrait, r.landscape, accuracy, whRatio,
                                                       angleDiff, false, false, false));
     })},
    {"hsv", ofWholePixels([](cv::Mat& photo, Corners& out, const Ratios& r) {
         float accuracy, whRatio, angleDiff;
         return houghFound(area::find_using_hsv_canny(photo, out, r.aspect, r.portrait, r.landscape, accuracy, whRatio,
                                                      angleDiff, false, false, false));
     })},
    {"watershed", ofWholePixels([](cv::Mat& photo, Corners& out, const Ratios&) {
         float accuracy, whRatio, angleDiff;
         return area::find_using_watershed_canny(photo, out, accuracy, whRatio, angleDiff);
     })},
    {"bands-0", ofWholePixels([](cv::Mat& photo, Corners& out, const Ratios&) { return area::find(photo, 0, out); })},
    {"bands-1", ofWholePixels([](cv::Mat& photo, Corners& out, const Ratios&) { return area::find(photo, 1, out); })},
    {"bands-2", ofWholePixels([](cv::Mat& photo, Corners& out, const Ratios&) { return area::find(photo, 2, out); })},
    {"bands-3", ofWholePixels([](cv::Mat& photo, Corners& out, const Ratios&) { return area::find(photo, 3, out); })},
    {"anchors", ofWholePixels([](cv::Mat& photo, Corners& out, const Ratios&) {
         area::findUsingAnchorPoint(photo, out);
         return out.size() == 4;
     })},
    {"auto", pageFound, true},
};

const Strategy* strategyNamed(const std::string& name)
{
    for (const Strategy& strategy : strategies)
        if (name == strategy.name)
            return &strategy;
    return nullptr;
}

const DocumentKind* kindNamed(const std::string& name)
{
    for (const DocumentKind& kind : documentKinds)
        if (name == kind.name)
            return &kind;
    return nullptr;
}

int searchSide(const Strategy& strategy)
{
    return strategy.takesReducedPhotos ? reducedSearchSide : std::numeric_limits<int>::max();
}

cv::Point2f inFullPixels(cv::Point2f point, double scale)
{
    const cv::Point2f half(0.5f, 0.5f);
    return (point + half) * static_cast<float>(scale) - half;
}

std::optional<Detection> detectedIn(imageio::ReducedImage& photo, const Strategy& strategy, const Ratios& ratios)
{
    auto found = strategy.find(photo.image, ratios);
    if (found && photo.scale != 1)
        for (cv::Point2f& corner : found->corners)
            corner = inFullPixels(corner, photo.scale);
    return found;
}

namespace {

// The preset ratio of the kind closest to the measured one, or the measured one without a kind.
float pageRatio(const Corners& corners, cv::Size photo, const Ratios& presets)
{
    float measured = area::getAspectRatio(corners, photo.width, photo.height);
    if (!(measured > 0 && std::isfinite(measured)))
        measured = area::getWHRatio(corners);
    float best = 0;
    for (const float preset : {presets.aspect, presets.portrait, presets.landscape})
        if (preset > 0 && (best == 0 || std::abs(preset - measured) < std::abs(best - measured)))
            best = preset;
    return best > 0 ? best : measured;
}

} // namespace

cv::Size pageSize(const Corners& corners, cv::Size photo, const Ratios& presets)
{
    if (corners.size() != 4)
        return {};
    const double width = std::max(cv::norm(corners[1] - corners[0]), cv::norm(corners[2] - corners[3]));
    const double height = width * pageRatio(corners, photo, presets);
    if (!(height >= 1 && width >= 1 && width * height <= maxPagePixels))
        return {};
    return {static_cast<int>(std::lround(width)), static_cast<int>(std::lround(height))};
}


namespace {

template <typename Point>
std::vector<Point> cornersInOrder(std::vector<Point> points)
{
    if (points.size() != 4)
        return points;
    // Around their centre by angle; with y pointing down, increasing angles go clockwise.
    const cv::Point2d centre = (cv::Point2d(points[0]) + cv::Point2d(points[1]) + cv::Point2d(points[2]) +
                                cv::Point2d(points[3])) * 0.25;
    const auto angle = [&](const Point& p) { return std::atan2(p.y - centre.y, p.x - centre.x); };
    std::sort(points.begin(), points.end(), [&](const Point& a, const Point& b) { return angle(a) < angle(b); });
    const auto topLeft = std::min_element(points.begin(), points.end(), [](const Point& a, const Point& b) {
        return std::make_pair(a.x + a.y, a.y) < std::make_pair(b.x + b.y, b.y);
    });
    std::rotate(points.begin(), topLeft, points.end());
    return points;
}

} // namespace

std::vector<cv::Point> inCornerOrder(std::vector<cv::Point> points) { return cornersInOrder(std::move(points)); }

std::vector<cv::Point2f> inCornerOrder(std::vector<cv::Point2f> points) { return cornersInOrder(std::move(points)); }

namespace {

// The corners' bounding box with a margin for the warp's interpolation, within the photo.
cv::Rect warpRegion(const Corners& corners, cv::Size photo)
{
    constexpr int margin = 2;
    const cv::Rect box = cv::boundingRect(corners);
    const cv::Rect widened(box.x - margin, box.y - margin, box.width + 2 * margin, box.height + 2 * margin);
    return widened & cv::Rect(cv::Point(), photo);
}

bool warpTakes(cv::Size size) { return size.width < warpRegionLimit && size.height < warpRegionLimit; }

} // namespace

bool fitsTheWarp(const Corners& corners, cv::Size photo)
{
    return warpTakes(photo) || (corners.size() == 4 && warpTakes(warpRegion(corners, photo).size()));
}

cv::Mat flattenedPage(const cv::Mat& photo, const Corners& corners, cv::Size page)
{
    cv::Mat region = photo;
    Corners inRegion = corners;
    // Cut only when needed: a photo that the warp takes whole gives the very pixels it always has.
    if (!warpTakes(photo.size()) && corners.size() == 4) {
        const cv::Rect box = warpRegion(corners, photo.size());
        region = photo(box);
        for (cv::Point& corner : inRegion)
            corner -= box.tl();
    }
    cv::Mat flat;
    area::getPerspectiveImage(region, flat, inRegion, page.width, page.height);
    return flat;
}

} // namespace tarvek::documentsearch
