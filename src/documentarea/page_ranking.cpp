// Ranking of the page search's candidates: how well edges back each side,
// how strong those edges are, and whether the shape can be the page's.
#include "documentarea/page_search.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include <opencv2/imgproc.hpp>

namespace tarvek::documentarea::pagesearch {
namespace {

// A side with less support than this is not a side of the page.
constexpr double minSideSupport = 0.3;

// A grey step of this many levels per pixel across the sides counts as a clear edge.
constexpr double clearContrast = 6;

double meanSupport(const SideFit& fit) { return std::accumulate(fit.support.begin(), fit.support.end(), 0.0) / 4; }

double weakestSupport(const SideFit& fit) { return *std::min_element(fit.support.begin(), fit.support.end()); }

// Median of the sides' contrasts, relative to a clear edge, at most 1.
double contrastShare(const SideFit& fit)
{
    std::array<double, 4> contrast = fit.contrast;
    std::sort(contrast.begin(), contrast.end());
    return std::min(1.0, (contrast[1] + contrast[2]) / 2 / clearContrast);
}

std::vector<cv::Point> rounded(const Quadrangle& q)
{
    std::vector<cv::Point> points;
    for (const cv::Point2f& p : q)
        points.emplace_back(cvRound(p.x), cvRound(p.y));
    return points;
}

}  // namespace

bool fitsTheRatioHint(const Quadrangle& q, cv::Size photo, const FindOptions& options)
{
    if (options.pageRatios.empty())
        return true;
    const std::vector<cv::Point> corners = rounded(q);
    float ratio = getAspectRatio(corners, photo.width, photo.height);
    if (!(ratio > 0 && std::isfinite(ratio)))
        ratio = getWHRatio(corners);
    // Corner errors and lens distortion make the estimate uncertain by some 15 %.
    constexpr float tolerance = 1.15f;
    return std::any_of(options.pageRatios.begin(), options.pageRatios.end(),
                       [&](float hint) { return ratio < hint * tolerance && ratio * tolerance > hint; });
}

double pageScore(const FittedQuadrangle& q, cv::Size photo, const FindOptions& options)
{
    const double weakest = weakestSupport(q.fit);
    if (weakest < minSideSupport || !plausibleShape(q.corners) || !fitsTheRatioHint(q.corners, photo, options))
        return 0;
    const std::vector<cv::Point2f> outline(q.corners.begin(), q.corners.end());
    const double share = std::min(1.0, cv::contourArea(outline) / photo.area());
    // Of two well-backed outlines the larger one is the page rather than a printed frame on it.
    return meanSupport(q.fit) * std::sqrt(weakest) * contrastShare(q.fit) * std::pow(share, 0.25);
}

double confidence(const FittedQuadrangle& q)
{
    return std::clamp((meanSupport(q.fit) + weakestSupport(q.fit)) / 2 * contrastShare(q.fit), 0.0, 1.0);
}

}  // namespace tarvek::documentarea::pagesearch
