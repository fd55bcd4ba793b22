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

// A page with two sides in view needs both backed this well, and is reported this much less
// certain than one with the same sides and more of them in view.
constexpr double minTwoSideSupport = 0.6;
constexpr double twoSideCertainty = 0.85;

using Sides = std::array<bool, 4>;

// A grey step of this many levels per pixel across the sides counts as a clear edge.
constexpr double clearContrast = 6;

double mean(const std::vector<double>& values)
{
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

double weakest(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

// Median of the evident sides' contrasts, relative to a clear edge, at most 1.
double contrastShare(const SideFit& fit, const Sides& evident)
{
    std::vector<double> contrast;
    for (int k = 0; k < 4; ++k)
        if (evident[k])
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

// The sides whose edge the photo shows: in it, and not along its border, where no step across
// them can be measured (a page that fills the frame) or the border itself is the step (the outline
// of a region cut by the frame).
Sides evidentSides(const FittedQuadrangle& q, cv::Size photo)
{
    Sides evident{};
    for (int k = 0; k < 4; ++k)
        evident[k] = q.fit.seen[k] && !alongTheFrame(q.corners[k], q.corners[(k + 1) % 4], photo);
    return evident;
}

std::vector<double> evidentSupport(const SideFit& fit, const Sides& evident)
{
    std::vector<double> support;
    for (int k = 0; k < 4; ++k)
        if (evident[k])
            support.push_back(fit.support[k]);
    return support;
}

// Whether the evident sides are enough to tell a page: three or four of them, or two opposite
// ones backed along most of their length (a page that reaches across the photo, the frame
// cutting off or hugging its other two sides).
bool enoughSides(const Sides& evident, const std::vector<double>& support)
{
    if (support.size() >= 3)
        return weakest(support) >= minSideSupport;
    return support.size() == 2 && evident[0] == evident[2] && weakest(support) >= minTwoSideSupport;
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
    const Sides evident = evidentSides(q, photo);
    const std::vector<double> support = evidentSupport(q.fit, evident);
    if (!enoughSides(evident, support) || !plausibleShape(q.corners) || !fitsTheRatioHint(q.corners, photo, options))
        return 0;
    const std::vector<cv::Point2f> outline(q.corners.begin(), q.corners.end());
    const double share = std::min(1.0, cv::contourArea(outline) / photo.area());
    // Of two well-backed outlines the larger one is the page rather than a printed frame on it.
    return mean(support) * std::sqrt(weakest(support)) * contrastShare(q.fit, evident) * std::sqrt(share);
}

double confidence(const FittedQuadrangle& q, cv::Size photo)
{
    const Sides evident = evidentSides(q, photo);
    const std::vector<double> support = evidentSupport(q.fit, evident);
    if (!enoughSides(evident, support))
        return 0;
    const double certainty = (mean(support) + weakest(support)) / 2 * contrastShare(q.fit, evident);
    return std::clamp(support.size() == 2 ? certainty * twoSideCertainty : certainty, 0.0, 1.0);
}

}  // namespace tarvek::documentarea::pagesearch
