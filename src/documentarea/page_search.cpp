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

// A page found with this confidence is clear: a candidate in another tone must do more to replace it.
constexpr double clearConfidence = 0.8;

// A clear page in the lightness covering this share of the photo is taken without searching the
// tints: what could enclose it (a card around its printed photograph box) is smaller in the frame.
constexpr double largeShare = 0.3;

// Band, in pixels of the reduced copy, in which its candidates' sides are fitted.
constexpr double reducedBand = 4;

// Band, in pixels of the full photo, of the last fit.
constexpr double finalBand = 2.5;

struct Ranked {
    FittedQuadrangle quadrangle;
    double score;
    Tone tone;       // the tone it was found and fitted in
    cv::Mat values;  // that tone of the reduced photo
};

cv::Size reducedSize(const cv::Mat& photo, int factor) { return {photo.cols / factor, photo.rows / factor}; }

// The photo reduced by a whole factor: averaging whole blocks of pixels is several times faster
// than any other reduction that keeps thin edges.
cv::Mat reduced(const cv::Mat& photo, int factor)
{
    if (factor == 1)
        return photo;
    cv::Mat small;
    cv::resize(photo, small, reducedSize(photo, factor), 0, 0, cv::INTER_AREA);
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

// A tint of the reduced colour photo.
cv::Mat tintOf(const cv::Mat& small, const Tone& tone)
{
    cv::Mat values;
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
            ranked.push_back({fitted, score, tone, values});
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
                       [&](const cv::Point2f& p) { return cv::pointPolygonTest(outline, p, true) >= -reducedBand; });
}

// Whether the sides in the photo are backed by steps of like strength, as a sheet's are all round; a
// quadrangle that borrows two sides from a sheet and two from the grain or pattern of a desk is not.
bool evenContrast(const SideFit& fit)
{
    double weakest = HUGE_VAL, strongest = 0;
    for (int k = 0; k < 4; ++k)
        if (fit.seen[k]) {
            weakest = std::min(weakest, fit.contrast[k]);
            strongest = std::max(strongest, fit.contrast[k]);
        }
    return weakest >= 0.4 * strongest;
}

cv::Point2f unitVector(cv::Point2f v) { return v / static_cast<float>(std::max(cv::norm(v), 1e-9)); }

// Whether the side from p to q lies on the line of the side from a to b: nearly parallel, both
// ends within twice the fit's band of it.
bool onTheSide(cv::Point2f p, cv::Point2f q, cv::Point2f a, cv::Point2f b)
{
    const double maxTurn = std::sin(3 * CV_PI / 180);
    const cv::Point2f side = unitVector(b - a);
    return std::abs(side.cross(unitVector(q - p))) < maxTurn && std::abs((p - a).cross(side)) < 2 * reducedBand &&
           std::abs((q - a).cross(side)) < 2 * reducedBand;
}

// How many sides of b lie on a side of a.
int sharedSides(const Quadrangle& a, const Quadrangle& b)
{
    int shared = 0;
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 4; ++j)
            if (onTheSide(b[k], b[(k + 1) % 4], a[j], a[(j + 1) % 4])) {
                ++shared;
                break;
            }
    return shared;
}

// The best candidate in the lightness of the reduced photo or in its tints, which are searched
// unless the lightness gives a clear page of a large share. The lightness places sides more
// precisely: it keeps the page that both find. After a clear result in the lightness only
// a tint candidate that encloses it with a third more area, backed evenly all round, replaces it:
// one clear in its own right, or one that shares two or more sides with it and scores higher (the
// lightness found a part of the sheet, bounded by a printed rule or a fold, on a desk of its tone).
std::optional<Ranked> bestCandidate(const cv::Mat& photo, int factor, const FindOptions& options)
{
    std::vector<Ranked> ranked;
    const cv::Mat values = reducedLightness(photo, factor);
    addRankedCandidates(values, lightness, options, ranked);
    const std::optional<Ranked> inLightness = best(ranked);
    const bool clear = inLightness && confidence(inLightness->quadrangle, values.size()) >= clearConfidence;
    if (photo.channels() == 1 || (clear && area(inLightness->quadrangle.corners) > largeShare * values.total()))
        return inLightness;
    ranked.clear();
    cv::Mat small = reduced(photo, factor);
    if (small.channels() == 4)
        cv::cvtColor(small, small, cv::COLOR_BGRA2BGR);
    for (const Tone& tone : {blueYellow, redGreen})
        addRankedCandidates(tintOf(small, tone), tone, options, ranked);
    const std::optional<Ranked> inTints = best(ranked);
    if (!inTints || !inLightness)
        return inLightness ? inLightness : inTints;
    const Quadrangle& tint = inTints->quadrangle.corners;
    const Quadrangle& light = inLightness->quadrangle.corners;
    if (sameQuadrangle(tint, light, reducedBand))
        return inLightness;
    const bool larger = encloses(tint, light) && area(tint) > 1.33 * area(light);
    if (clear)
        return larger && evenContrast(inTints->quadrangle.fit) &&
                       (confidence(inTints->quadrangle, values.size()) >= clearConfidence ||
                        (sharedSides(tint, light) >= 2 && inTints->score >= inLightness->score))
                   ? inTints
                   : inLightness;
    return larger || inTints->score > inLightness->score ? inTints : inLightness;
}

// The candidate grown along its sides where they go on beyond it, fitted again; the candidate
// itself where the grown quadrangle is not a page's shape.
Ranked wholePage(const Ranked& candidate, const FindOptions& options)
{
    const Quadrangle grown = extendedAlongItsSides(candidate.values, candidate.quadrangle.corners, candidate.tone);
    if (sameQuadrangle(grown, candidate.quadrangle.corners, 0.5))
        return candidate;
    Ranked whole = candidate;
    whole.quadrangle = fittedToEdges(candidate.values, grown, reducedBand, candidate.tone);
    const bool page = plausibleShape(whole.quadrangle.corners) &&
                      fitsTheRatioHint(whole.quadrangle.corners, candidate.values.size(), options);
    return page ? whole : candidate;
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
    const double certainty = confidence(best->quadrangle, reducedSize(photo, factor));
    if (certainty < minConfidence)
        return std::nullopt;
    return FoundDocument{inCornerOrder(fittedOnThePhoto(photo, wholePage(*best, options), factor)), certainty};
}

}  // namespace tarvek::documentarea
