// Sub-pixel fit of the page's sides: along each side, the strongest steps of a tone
// across it within a band, then a robust line through those steps; the
// corners are where neighbouring lines meet.
#include "documentarea/page_search.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include <opencv2/imgproc.hpp>

namespace tarvek::documentarea::pagesearch {
namespace {

// Bilinear values of a tone of an 8-bit photo of one, three or four channels (BGR order); only the
// sampled pixels are read, no copy of the photo is made.
class ToneSampler {
public:
    ToneSampler(const cv::Mat& photo, const Tone& tone)
        : photo_(photo), channels_(photo.channels()), tone_(photo.channels() == 1 ? Tone{1, 0, 0, 0} : tone)
    {
    }

    // Whether p can be interpolated: its four neighbours lie in the photo.
    bool covers(cv::Point2f p) const
    {
        return p.x >= 0 && p.y >= 0 && p.x < photo_.cols - 1 && p.y < photo_.rows - 1;
    }

    float operator()(cv::Point2f p) const
    {
        const int x = static_cast<int>(p.x), y = static_cast<int>(p.y);
        const float fx = p.x - x, fy = p.y - y;
        const uchar* upper = photo_.ptr<uchar>(y);
        const uchar* lower = photo_.ptr<uchar>(y + 1);
        const float top = value(upper, x) * (1 - fx) + value(upper, x + 1) * fx;
        const float bottom = value(lower, x) * (1 - fx) + value(lower, x + 1) * fx;
        return top * (1 - fy) + bottom * fy;
    }

private:
    // The tone unsaturated: only differences between values matter here.
    float value(const uchar* row, int x) const
    {
        const uchar* pixel = row + x * channels_;
        if (channels_ == 1)
            return pixel[0];
        return tone_.blue * pixel[0] + tone_.green * pixel[1] + tone_.red * pixel[2];
    }

    const cv::Mat& photo_;
    int channels_;
    Tone tone_;
};

// A step across a side: where the profile across it changes fastest locally.
struct Step {
    cv::Point2f position;
    float slope;  // change of the tone per pixel along the outward normal
    int sample;   // the place along the side whose profile holds it
};

// Samples taken along a side: at most this many, about one every two pixels.
constexpr int maxSamples = 120;
constexpr int minSamples = 8;

// Steps kept per profile: the page's edge need not be the strongest one (print near the border,
// a shadow beside it), but it is among the strongest few.
constexpr size_t stepsPerProfile = 3;

// Steps weaker than this (levels per pixel) are noise, not an edge.
constexpr float minSlope = 1.5f;

// Whether the step at i of the profile (cumulative sums in sums, sums[0] = 0) separates two
// regions: the mean beyond it differs from the mean before it, in the step's direction, by at least
// half the rise across it. Not so for the stripes of a weave, wood grain or print, which rise and
// fall again.
bool separatesRegions(const std::vector<float>& profile, const std::vector<float>& sums, int i)
{
    const int n = static_cast<int>(profile.size());
    const float before = sums[i - 1] / static_cast<float>(i - 1);
    const float beyond = (sums[n] - sums[i + 2]) / static_cast<float>(n - i - 2);
    const float rise = profile[i + 1] - profile[i - 1];
    return (beyond - before) * rise >= 0.5f * rise * rise;
}

// The strongest local steps between regions of the profile through p along the normal, band
// pixels either way, each placed between samples by a parabola.
void addProfileSteps(const ToneSampler& tone, cv::Point2f p, cv::Point2f normal, int band, int sample,
                     std::vector<float>& profile, std::vector<float>& sums, std::vector<Step>& steps)
{
    const cv::Point2f first = p - normal * static_cast<float>(band);
    const int n = 2 * band + 1;
    profile.resize(n);
    sums.resize(n + 1);
    sums[0] = 0;
    for (int i = 0; i < n; ++i) {
        profile[i] = tone(first + normal * static_cast<float>(i));
        sums[i + 1] = sums[i] + profile[i];
    }
    const auto slope = [&](int i) { return 0.5f * (profile[i + 1] - profile[i - 1]); };
    const size_t before = steps.size();
    for (int i = 2; i + 2 < n; ++i) {
        const float here = std::abs(slope(i));
        const float previous = std::abs(slope(i - 1)), next = std::abs(slope(i + 1));
        if (here < minSlope || here < previous || here <= next || !separatesRegions(profile, sums, i))
            continue;
        const float curvature = previous - 2 * here + next;
        const float offset = curvature < 0 ? 0.5f * (previous - next) / curvature : 0;
        steps.push_back({first + normal * (i + offset), slope(i), sample});
    }
    const auto stronger = [](const Step& a, const Step& b) { return std::abs(a.slope) > std::abs(b.slope); };
    if (steps.size() - before > stepsPerProfile) {
        std::partial_sort(steps.begin() + before, steps.begin() + before + stepsPerProfile, steps.end(), stronger);
        steps.resize(before + stepsPerProfile);
    }
}

struct Line {
    cv::Point2f point, direction;  // direction of unit length

    double distance(cv::Point2f p) const { return std::abs((p - point).cross(direction)); }
};

std::optional<cv::Point2f> crossing(const Line& a, const Line& b)
{
    const double denominator = a.direction.cross(b.direction);
    if (std::abs(denominator) < 1e-6)
        return std::nullopt;
    const double t = (b.point - a.point).cross(b.direction) / denominator;
    return a.point + a.direction * static_cast<float>(t);
}

// The fit of one side: its line, the share of its samples on that line and their median slope.
struct Side {
    Line line;
    double support = 0;
    double contrast = 0;
    bool seen = false;  // enough of its samples lie in the photo
};

// The steps across the side from a to b; samples counts the places whose profile lies in the photo.
std::vector<Step> sideSteps(const ToneSampler& tone, cv::Point2f a, cv::Point2f b, cv::Point2f outward, int band,
                            int& samples)
{
    const double length = cv::norm(b - a);
    const int count = std::clamp(static_cast<int>(length / 2), minSamples, maxSamples);
    // Near the corners the band would reach the neighbouring sides.
    const double margin = std::min(0.25, std::max(0.05, 1.5 * band / std::max(length, 1.0)));
    std::vector<Step> steps;
    std::vector<float> profile, sums;
    samples = 0;
    for (int i = 0; i < count; ++i) {
        const cv::Point2f p = a + (b - a) * static_cast<float>(margin + (1 - 2 * margin) * (i + 0.5) / count);
        if (!tone.covers(p - outward * static_cast<float>(band)) || !tone.covers(p + outward * static_cast<float>(band)))
            continue;
        addProfileSteps(tone, p, outward, band, samples++, profile, sums, steps);
    }
    return steps;
}

// The steps on the line, at most one per profile (the nearest) and of the line's own sign.
std::vector<const Step*> stepsOnLine(const std::vector<Step>& steps, const Line& line, bool positive,
                                     double tolerance)
{
    std::vector<const Step*> on;
    for (const Step& step : steps) {
        if ((step.slope > 0) != positive || line.distance(step.position) > tolerance)
            continue;
        if (!on.empty() && on.back()->sample == step.sample) {
            if (line.distance(step.position) < line.distance(on.back()->position))
                on.back() = &step;
        } else {
            on.push_back(&step);
        }
    }
    return on;
}

// The line of one step sign that the most steps lie near, found by voting: each step votes, for
// each of a few tilts against the side from a (direction along), for the offset across the side
// its line would have; tilts stay within the band over the side's length. Bins are half the
// tolerance wide and a line takes the votes of three neighbouring bins.
std::optional<std::pair<Line, bool>> bestSupportedLine(const std::vector<Step>& steps, cv::Point2f a,
                                                       cv::Point2f along, double length, int band,
                                                       double tolerance)
{
    const cv::Point2f across(-along.y, along.x);
    const double maxTilt = (2 * band + 2 * tolerance) / std::max(length, 1.0);
    const int tilts = std::clamp(static_cast<int>(std::ceil(maxTilt * length / tolerance)), 1, 8);
    const double binWidth = tolerance / 2, reach = band + maxTilt * length + tolerance;
    const int bins = static_cast<int>(std::ceil(2 * reach / binWidth)) + 3;
    std::vector<int> votes(bins * 2);
    int bestVotes = 0;
    std::optional<std::pair<Line, bool>> best;
    for (int t = -tilts; t <= tilts; ++t) {
        const double tilt = maxTilt * t / tilts;
        std::fill(votes.begin(), votes.end(), 0);
        for (const Step& step : steps) {
            const cv::Point2f p = step.position - a;
            const double offset = p.dot(across) - tilt * p.dot(along);
            const int bin = static_cast<int>((offset + reach) / binWidth) + 1;
            if (bin >= 1 && bin + 1 < bins)
                ++votes[(step.slope > 0 ? bins : 0) + bin];
        }
        for (int sign = 0; sign < 2; ++sign)
            for (int bin = 1; bin + 1 < bins; ++bin) {
                const int* v = &votes[sign * bins + bin];
                const int count = v[-1] + v[0] + v[1];
                if (count <= bestVotes)
                    continue;
                bestVotes = count;
                const double offset = (bin - 1 + 0.5) * binWidth - reach;
                const cv::Point2f direction = along + across * static_cast<float>(tilt);
                best = std::make_pair(Line{a + across * static_cast<float>(offset),
                                           direction / static_cast<float>(cv::norm(direction))},
                                      sign == 1);
            }
    }
    return best;
}

Line leastSquaresLine(const std::vector<const Step*>& steps)
{
    std::vector<cv::Point2f> points;
    for (const Step* step : steps)
        points.push_back(step->position);
    cv::Vec4f fit;
    cv::fitLine(points, fit, cv::DIST_L2, 0, 0.01, 0.01);
    return {{fit[2], fit[3]}, {fit[0], fit[1]}};
}

Side fittedSide(const ToneSampler& tone, cv::Point2f a, cv::Point2f b, cv::Point2f outward, double band)
{
    const cv::Point2f along = (b - a) / static_cast<float>(std::max(cv::norm(b - a), 1e-9));
    Side side{{a, along}};
    int samples = 0;
    const int profileBand = std::max(2, static_cast<int>(std::ceil(band)));
    const std::vector<Step> steps = sideSteps(tone, a, b, outward, profileBand, samples);
    side.seen = samples >= minSamples / 2;
    // A sheet's edge is seldom quite straight: the tolerance grows with the side.
    const double tolerance = 1 + 0.003 * cv::norm(b - a);
    const auto seed = steps.size() >= 2 ? bestSupportedLine(steps, a, along, cv::norm(b - a), profileBand, tolerance)
                                        : std::nullopt;
    if (!seed)
        return side;
    std::vector<const Step*> on = stepsOnLine(steps, seed->first, seed->second, tolerance);
    if (static_cast<int>(on.size()) < minSamples / 2)
        return side;
    // The least-squares line through the backing steps, and the steps that back it in turn.
    side.line = leastSquaresLine(on);
    on = stepsOnLine(steps, side.line, seed->second, tolerance);
    if (static_cast<int>(on.size()) < minSamples / 2)
        return side;
    side.line = leastSquaresLine(on);
    side.support = static_cast<double>(on.size()) / samples;
    std::vector<float> slopes;
    for (const Step* step : on)
        slopes.push_back(std::abs(step->slope));
    std::nth_element(slopes.begin(), slopes.begin() + slopes.size() / 2, slopes.end());
    side.contrast = slopes[slopes.size() / 2];
    return side;
}

cv::Point2f unit(cv::Point2f v) { return v / static_cast<float>(std::max(cv::norm(v), 1e-9)); }

// The edge a side follows: the sign of its steps along the outward normal, and the least slope of
// a step that continues it.
struct Edge {
    bool positive;
    float minSlope;
};

// The steps of a side from a to b that lie within a pixel of it, of one sign.
std::vector<const Step*> stepsOnSegment(const std::vector<Step>& steps, cv::Point2f a, cv::Point2f b, bool positive)
{
    return stepsOnLine(steps, Line{a, unit(b - a)}, positive, 1.0);
}

// The edge along the side from a to b: the sign most of its steps have, and half their median
// slope; nothing where too few steps back it.
std::optional<Edge> edgeAlong(const ToneSampler& tone, cv::Point2f a, cv::Point2f b, cv::Point2f outward, int band)
{
    int samples = 0;
    const std::vector<Step> steps = sideSteps(tone, a, b, outward, band, samples);
    std::vector<const Step*> rising = stepsOnSegment(steps, a, b, true), falling = stepsOnSegment(steps, a, b, false);
    const bool positive = rising.size() >= falling.size();
    std::vector<const Step*>& on = positive ? rising : falling;
    if (static_cast<int>(on.size()) < std::max(minSamples / 2, samples / 2))
        return std::nullopt;
    std::vector<float> slopes;
    for (const Step* step : on)
        slopes.push_back(std::abs(step->slope));
    std::nth_element(slopes.begin(), slopes.begin() + slopes.size() / 2, slopes.end());
    return Edge{positive, 0.5f * slopes[slopes.size() / 2]};
}

// Share of the places along the segment from a to b whose profile across it holds a step that
// continues the edge within a pixel of it.
double edgeShare(const ToneSampler& tone, cv::Point2f a, cv::Point2f b, cv::Point2f outward, int band, const Edge& edge)
{
    int samples = 0;
    const std::vector<Step> steps = sideSteps(tone, a, b, outward, band, samples);
    if (samples < minSamples / 2)
        return 0;
    const std::vector<const Step*> on = stepsOnSegment(steps, a, b, edge.positive);
    const auto strong = std::count_if(on.begin(), on.end(),
                                      [&](const Step* step) { return std::abs(step->slope) >= edge.minSlope; });
    return static_cast<double>(strong) / samples;
}

// The outward normal of the side from a to b of a quadrangle around centre.
cv::Point2f outwardNormal(cv::Point2f a, cv::Point2f b, cv::Point2f centre)
{
    const cv::Point2f along = unit(b - a);
    const cv::Point2f outward(along.y, -along.x);
    return outward.dot((a + b) * 0.5f - centre) < 0 ? -outward : outward;
}

// How far, as a share of their lengths, both sides next to side k of q continue as the same edges
// beyond it: chunk by chunk while each chunk of both is mostly backed by steps of the sign and
// about the strength of the side's own. A page whose side k is a printed rule, a fold or the edge
// of a shadow goes on beyond it; a page's own side ends both.
double continuation(const ToneSampler& tone, const Quadrangle& q, int k, int band)
{
    constexpr double chunk = 0.06, maxReach = 2.0, minChunkShare = 0.6;
    const cv::Point2f centre = (q[0] + q[1] + q[2] + q[3]) * 0.25f;
    const int before = (k + 3) % 4, after = (k + 1) % 4, beyond = (k + 2) % 4;
    // Side `before` runs from q[before] to q[k]; side `after` from q[after] to q[beyond].
    const cv::Point2f firstOut = outwardNormal(q[before], q[k], centre);
    const cv::Point2f secondOut = outwardNormal(q[after], q[beyond], centre);
    const std::optional<Edge> firstEdge = edgeAlong(tone, q[before], q[k], firstOut, band);
    const std::optional<Edge> secondEdge = edgeAlong(tone, q[beyond], q[after], secondOut, band);
    if (!firstEdge || !secondEdge)
        return 0;
    const cv::Point2f first = q[k] - q[before], second = q[after] - q[beyond];
    const auto backed = [&](double from, double to) {
        const auto f = static_cast<float>(from), t = static_cast<float>(to);
        return edgeShare(tone, q[k] + first * f, q[k] + first * t, firstOut, band, *firstEdge) >= minChunkShare &&
               edgeShare(tone, q[after] + second * f, q[after] + second * t, secondOut, band, *secondEdge) >=
                   minChunkShare;
    };
    // One chunk without backing is bridged when the next is backed: a finger, a pen or a fold across
    // a side interrupts it.
    double reach = 0;
    while (reach + chunk <= maxReach) {
        if (backed(reach, reach + chunk))
            reach += chunk;
        else if (reach + 2 * chunk <= maxReach && backed(reach + chunk, reach + 2 * chunk))
            reach += 2 * chunk;
        else
            break;
    }
    return reach;
}

}  // namespace

Quadrangle extendedAlongItsSides(const cv::Mat& values, const Quadrangle& q, const Tone& tone)
{
    const ToneSampler sampler(values, tone);
    Quadrangle extended = q;
    for (int k = 0; k < 4; ++k) {
        const double reach = continuation(sampler, extended, k, 3);
        if (reach == 0)
            continue;
        const int before = (k + 3) % 4, after = (k + 1) % 4, beyond = (k + 2) % 4;
        const auto r = static_cast<float>(reach);
        const cv::Point2f corner = extended[k] + (extended[k] - extended[before]) * r;
        extended[after] = extended[after] + (extended[after] - extended[beyond]) * r;
        extended[k] = corner;
    }
    return extended;
}

FittedQuadrangle fittedToEdges(const cv::Mat& photo, const Quadrangle& q, double band, const Tone& tone)
{
    const ToneSampler sampler(photo, tone);
    const cv::Point2f centre = (q[0] + q[1] + q[2] + q[3]) * 0.25f;
    std::array<Side, 4> sides;
    FittedQuadrangle fitted{q, {}};
    for (int k = 0; k < 4; ++k) {
        const cv::Point2f a = q[k], b = q[(k + 1) % 4];
        const cv::Point2f along = (b - a) / static_cast<float>(std::max(cv::norm(b - a), 1e-9));
        cv::Point2f outward(along.y, -along.x);
        if (outward.dot((a + b) * 0.5f - centre) < 0)
            outward = -outward;
        sides[k] = fittedSide(sampler, a, b, outward, band);
        fitted.fit.support[k] = sides[k].support;
        fitted.fit.seen[k] = sides[k].seen;
        fitted.fit.contrast[k] = sides[k].contrast;
    }
    Quadrangle corners;
    for (int k = 0; k < 4; ++k) {
        const auto corner = crossing(sides[(k + 3) % 4].line, sides[k].line);
        if (!corner)
            return {q, {}};
        corners[k] = *corner;
    }
    fitted.corners = corners;
    return fitted;
}

}  // namespace tarvek::documentarea::pagesearch
