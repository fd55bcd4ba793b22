// The page search: candidates on a reduced grey copy, fitted and ranked there,
// the best one fitted again on the full photo in narrow bands around its sides.
#include "documentarea/page_search.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "documentarea_internal.h"

namespace tarvek::documentarea {
namespace {

using namespace pagesearch;

// Below this confidence a quadrangle is not reported as the page.
constexpr double minConfidence = 0.5;

// Band, in pixels of the reduced copy, in which its candidates' sides are fitted.
constexpr double reducedBand = 3;

// Band, in pixels of the full photo, of the last fit.
constexpr double finalBand = 2.5;

struct Ranked {
    FittedQuadrangle quadrangle;
    double score;
};

cv::Mat reducedGrey(const cv::Mat& photo, double scale)
{
    cv::Mat small;
    if (scale < 1)
        cv::resize(photo, small, cv::Size(), scale, scale, cv::INTER_AREA);
    else
        small = photo;
    if (small.channels() == 1)
        return small;
    cv::Mat grey;
    cv::cvtColor(small, grey, small.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    return grey;
}

bool sameQuadrangle(const Quadrangle& a, const Quadrangle& b, double tolerance)
{
    for (int k = 0; k < 4; ++k)
        if (cv::norm(a[k] - b[k]) > tolerance)
            return false;
    return true;
}

// The candidates fitted on the reduced copy, best first, without zero scores and repeats.
std::vector<Ranked> rankedCandidates(const cv::Mat& grey, const FindOptions& options)
{
    std::vector<Ranked> ranked;
    for (const Quadrangle& candidate : candidateQuadrangles(grey)) {
        const FittedQuadrangle fitted = fittedToEdges(grey, candidate, reducedBand);
        const double score = pageScore(fitted, grey.size(), options);
        if (score > 0)
            ranked.push_back({fitted, score});
    }
    std::sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) { return a.score > b.score; });
    std::vector<Ranked> distinct;
    for (const Ranked& r : ranked)
        if (std::none_of(distinct.begin(), distinct.end(), [&](const Ranked& d) {
                return sameQuadrangle(d.quadrangle.corners, r.quadrangle.corners, 1.5);
            }))
            distinct.push_back(r);
    return distinct;
}

Quadrangle scaled(const Quadrangle& q, double factor)
{
    Quadrangle out;
    for (int k = 0; k < 4; ++k)
        out[k] = q[k] * static_cast<float>(factor);
    return out;
}

// The best candidate of the reduced copy fitted on the full photo: first in a band as wide as the
// copy's pixels are large, then in a narrow one around that fit. Where the full photo does not back
// a side as well (a curled edge, heavy blur) the reduced copy's corners stand.
Quadrangle fittedOnThePhoto(const cv::Mat& photo, const FittedQuadrangle& candidate, double scale)
{
    const Quadrangle coarse = scaled(candidate.corners, 1 / scale);
    const FittedQuadrangle wide = fittedToEdges(photo, coarse, 1.5 / scale + 1);
    const FittedQuadrangle narrow = fittedToEdges(photo, wide.corners, finalBand);
    const bool closeToCoarse = sameQuadrangle(narrow.corners, coarse, 2 / scale);
    return plausibleShape(narrow.corners) && closeToCoarse ? narrow.corners : coarse;
}

}  // namespace

std::optional<FoundDocument> findDocument(const cv::Mat& photo, const FindOptions& options)
{
    if (!searchable(photo) || options.workingSide < 16)
        return std::nullopt;
    const double scale = std::min(1.0, static_cast<double>(options.workingSide) / std::max(photo.cols, photo.rows));
    const cv::Mat grey = reducedGrey(photo, scale);
    const std::vector<Ranked> ranked = rankedCandidates(grey, options);
    if (ranked.empty())
        return std::nullopt;
    const double certainty = confidence(ranked.front().quadrangle);
    if (certainty < minConfidence)
        return std::nullopt;
    return FoundDocument{inCornerOrder(fittedOnThePhoto(photo, ranked.front().quadrangle, scale)), certainty};
}

}  // namespace tarvek::documentarea
