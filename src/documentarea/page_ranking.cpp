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

// Supports of the sides in the photo.
std::vector<double> seenSupport(const SideFit& fit)
{
    std::vector<double> support;
    for (int k = 0; k < 4; ++k)
        if (fit.seen[k])
            support.push_back(fit.support[k]);
    return support;
}

double mean(const std::vector<double>& values)
{
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

double weakest(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

// Median of the seen sides' contrasts, relative to a clear edge, at most 1.
double contrastShare(const SideFit& fit)
{
    std::vector<double> contrast;
    for (int k = 0; k < 4; ++k)
        if (fit.seen[k])
            contrast.push_back(fit.contrast[k]);
    std::sort(contrast.begin(), contrast.end());
    const size_t n = contrast.size();
    const double median = n % 2 ? contrast[n / 2] : (contrast[n / 2 - 1] + contrast[n / 2]) / 2;
    return std::min(1.0, median / clearContrast);
}

// Whether the side from a to b lies along the border of a photo of that size, or beyond it: the
// edge of the picture, not of a page.
bool alongTheFrame(cv::Point2f a, cv::Point2f b, cv::Size photo)
{
    const float margin = std::max(3.0f, 0.01f * std::min(photo.width, photo.height));
    const float right = static_cast<float>(photo.width - 1) - margin, bottom = static_cast<float>(photo.height - 1) - margin;
    return (a.x < margin && b.x < margin) || (a.y < margin && b.y < margin) || (a.x > right && b.x > right) ||
           (a.y > bottom && b.y > bottom);
}

// Whether a side in the photo runs along its border.
bool seenAlongTheFrame(const FittedQuadrangle& q, cv::Size photo)
{
    for (int k = 0; k < 4; ++k)
        if (q.fit.seen[k] && alongTheFrame(q.corners[k], q.corners[(k + 1) % 4], photo))
            return true;
    return false;
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
    // Lens distortion and the unknown focal length make the estimate uncertain by a few per cent;
    // closer presets (an ID card's 0.635 and A4's 0.707) are 11 % apart.
    constexpr float tolerance = 1.07f;
    return std::any_of(options.pageRatios.begin(), options.pageRatios.end(),
                       [&](float hint) { return ratio < hint * tolerance && ratio * tolerance > hint; });
}

double pageScore(const FittedQuadrangle& q, cv::Size photo, const FindOptions& options)
{
    const std::vector<double> support = seenSupport(q.fit);
    if (support.size() < 3 || weakest(support) < minSideSupport || !plausibleShape(q.corners) ||
        seenAlongTheFrame(q, photo) || !fitsTheRatioHint(q.corners, photo, options))
        return 0;
    const std::vector<cv::Point2f> outline(q.corners.begin(), q.corners.end());
    const double share = std::min(1.0, cv::contourArea(outline) / photo.area());
    // Of two well-backed outlines the larger one is the page rather than a printed frame on it.
    return mean(support) * std::sqrt(weakest(support)) * contrastShare(q.fit) * std::sqrt(share);
}

double confidence(const FittedQuadrangle& q)
{
    const std::vector<double> support = seenSupport(q.fit);
    if (support.size() < 3)
        return 0;
    return std::clamp((mean(support) + weakest(support)) / 2 * contrastShare(q.fit), 0.0, 1.0);
}

}  // namespace tarvek::documentarea::pagesearch
