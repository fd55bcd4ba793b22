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
constexpr double minConfidence = 0.55;

// A page found in the lightness with this confidence, covering this share of the reduced photo, is
// not looked for in the tints; a smaller one may be something printed on a page or card whose own
// outline stands out in tint only.
constexpr double clearConfidence = 0.8;
constexpr double clearShare = 0.15;

// Band, in pixels of the reduced copy, in which its candidates' sides are fitted.
constexpr double reducedBand = 4;

// Band, in pixels of the full photo, of the last fit.
constexpr double finalBand = 2.5;

struct Ranked {
    FittedQuadrangle quadrangle;
    double score;
    Tone tone;  // the tone it was found and fitted in
};

// The photo reduced by a whole factor: averaging whole blocks of pixels is several times faster
// than any other reduction that keeps thin edges.
cv::Mat reduced(const cv::Mat& photo, int factor)
{
    if (factor == 1)
        return photo;
    cv::Mat small;
    cv::resize(photo, small, cv::Size(photo.cols / factor, photo.rows / factor), 0, 0, cv::INTER_AREA);
    return small;
}

// The lightness of the photo reduced by the factor; made grey first, the reduction has a third of
// the values to average.
cv::Mat reducedLightness(const cv::Mat& photo, int factor)
{
    if (photo.channels() == 1)
        return reduced(photo, factor);
    cv::Mat grey;
    cv::cvtColor(photo, grey, photo.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    return reduced(grey, factor);
}

// A tint of the photo reduced by the factor.
cv::Mat reducedTint(const cv::Mat& photo, int factor, const Tone& tone)
{
    cv::Mat small = reduced(photo, factor), values;
    if (small.channels() == 4)
        cv::cvtColor(small, small, cv::COLOR_BGRA2BGR);
    cv::transform(small, values, cv::Matx14f(tone.blue, tone.green, tone.red, tone.offset));
    return values;
}

double area(const Quadrangle& q) { return cv::contourArea(std::vector<cv::Point2f>(q.begin(), q.end())); }

bool sameQuadrangle(const Quadrangle& a, const Quadrangle& b, double tolerance)
{
    for (int k = 0; k < 4; ++k)
        if (cv::norm(a[k] - b[k]) > tolerance)
            return false;
    return true;
}

// The candidates in a tone of the reduced copy, fitted there, without zero scores; repeated
// candidates (several thresholds find the same outline) are fitted once.
void addRankedCandidates(const cv::Mat& values, const Tone& tone, const FindOptions& options,
                         std::vector<Ranked>& ranked)
{
    std::vector<Quadrangle> tried;
    for (const Quadrangle& candidate : candidateQuadrangles(values)) {
        if (std::any_of(tried.begin(), tried.end(), [&](const Quadrangle& q) { return sameQuadrangle(q, candidate, 1); }))
            continue;
        tried.push_back(candidate);
        const FittedQuadrangle fitted = fittedToEdges(values, candidate, reducedBand);
        const double score = pageScore(fitted, values.size(), options);
        if (score > 0)
            ranked.push_back({fitted, score, tone});
    }
}

std::optional<Ranked> best(const std::vector<Ranked>& ranked)
{
    const auto found =
        std::max_element(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) { return a.score < b.score; });
    return found == ranked.end() ? std::nullopt : std::optional<Ranked>(*found);
}

bool encloses(const Quadrangle& outer, const Quadrangle& inner)
{
    const std::vector<cv::Point2f> outline(outer.begin(), outer.end());
    return std::all_of(inner.begin(), inner.end(),
                       [&](const cv::Point2f& p) { return cv::pointPolygonTest(outline, p, false) >= 0; });
}

// The best candidate in the lightness of the reduced photo or, where that finds no clear page or a
// small one, the best in its tints. The lightness places sides more precisely: it keeps the page
// that both find, and after a clear result only a tint candidate that encloses its quadrangle with
// a third more area replaces it.
std::optional<Ranked> bestCandidate(const cv::Mat& photo, int factor, const FindOptions& options)
{
    std::vector<Ranked> ranked;
    const cv::Mat values = reducedLightness(photo, factor);
    addRankedCandidates(values, lightness, options, ranked);
    const std::optional<Ranked> inLightness = best(ranked);
    const bool clear = inLightness && confidence(inLightness->quadrangle) >= clearConfidence;
    if (photo.channels() == 1 || (clear && area(inLightness->quadrangle.corners) >= clearShare * values.size().area()))
        return inLightness;
    ranked.clear();
    for (const Tone& tone : {blueYellow, redGreen})
        addRankedCandidates(reducedTint(photo, factor, tone), tone, options, ranked);
    const std::optional<Ranked> inTints = best(ranked);
    if (!inTints || !inLightness)
        return inLightness ? inLightness : inTints;
    const Quadrangle& tint = inTints->quadrangle.corners;
    const Quadrangle& light = inLightness->quadrangle.corners;
    if (sameQuadrangle(tint, light, reducedBand))
        return inLightness;
    const bool larger = encloses(tint, light) && area(tint) > 1.33 * area(light);
    if (clear)
        return larger && confidence(inTints->quadrangle) >= clearConfidence ? inTints : inLightness;
    return larger || inTints->score > inLightness->score ? inTints : inLightness;
}

// Corners of the reduced copy in the photo: pixel centres of the copy lie at block centres.
Quadrangle inThePhoto(const Quadrangle& q, int factor)
{
    Quadrangle out;
    for (int k = 0; k < 4; ++k)
        out[k] = (q[k] + cv::Point2f(0.5f, 0.5f)) * static_cast<float>(factor) - cv::Point2f(0.5f, 0.5f);
    return out;
}

// The best candidate of the reduced copy fitted on the full photo: first in a band as wide as the
// copy's pixels are large, then in a narrow one around that fit. Where the full photo does not back
// a side as well (a curled edge, heavy blur) the reduced copy's corners stand.
Quadrangle fittedOnThePhoto(const cv::Mat& photo, const Ranked& candidate, int factor)
{
    const Quadrangle coarse = inThePhoto(candidate.quadrangle.corners, factor);
    if (factor == 1)
        return coarse;
    const FittedQuadrangle wide = fittedToEdges(photo, coarse, 1.5 * factor + 1, candidate.tone);
    const FittedQuadrangle narrow = fittedToEdges(photo, wide.corners, finalBand, candidate.tone);
    const bool closeToCoarse = sameQuadrangle(narrow.corners, coarse, 2.0 * factor);
    return plausibleShape(narrow.corners) && closeToCoarse ? narrow.corners : coarse;
}

}  // namespace

std::optional<FoundDocument> findDocument(const cv::Mat& photo, const FindOptions& options)
{
    if (!searchable(photo) || options.workingSide < 16)
        return std::nullopt;
    const int longSide = std::max(photo.cols, photo.rows);
    const int factor = (longSide + options.workingSide - 1) / options.workingSide;
    const std::optional<Ranked> best = bestCandidate(photo, factor, options);
    if (!best)
        return std::nullopt;
    const double certainty = confidence(best->quadrangle);
    if (certainty < minConfidence)
        return std::nullopt;
    return FoundDocument{inCornerOrder(fittedOnThePhoto(photo, *best, factor)), certainty};
}

}  // namespace tarvek::documentarea
