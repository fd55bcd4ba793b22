// Quadrangle formation: every combination of one line per side group is
// intersected into four corners, screened by geometry, scored by edge support
// (or by agreement with known corners) and the best one kept.
#include "documentarea_internal.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "utils.h"

using tarvek::utils::calcDistance2;
using tarvek::utils::calcPolygonArea;

// ---------------------------------------------------------------------------
// Corners of a line quadruple
// ---------------------------------------------------------------------------

namespace {

struct Probe {
    cv::Point first, second;
};

Probe probeOf(const cv::Vec2f& line)
{
    Probe p;
    probeSegment(line, p.first, p.second);
    return p;
}

bool crossing(const Probe& a, const Probe& b, cv::Point& at)
{
    return getIntersectPoint(a.first, a.second, b.first, b.second, &at);
}

// The crossings of every line of one group with every line of another, computed once per call so
// that the enumeration of combinations only looks them up. A crossing that usable() refuses counts
// as none.
class CrossingTable {
public:
    template <typename Usable>
    CrossingTable(const std::vector<Probe>& rows, const std::vector<Probe>& cols, Usable usable)
        : cols_(cols.size()), points_(rows.size() * cols.size()), found_(rows.size() * cols.size())
    {
        for (size_t i = 0; i < rows.size(); ++i) {
            for (size_t j = 0; j < cols.size(); ++j) {
                cv::Point& at = points_[i * cols_ + j];
                found_[i * cols_ + j] = crossing(rows[i], cols[j], at) && usable(cv::Point2f((float)at.x, (float)at.y));
            }
        }
    }

    // False when the two lines' probe segments do not cross (or the crossing is not usable).
    bool get(size_t row, size_t col, cv::Point2f& at) const
    {
        const size_t k = row * cols_ + col;
        at = cv::Point2f((float)points_[k].x, (float)points_[k].y);
        return found_[k] != 0;
    }

private:
    size_t cols_;
    std::vector<cv::Point> points_;
    std::vector<char> found_;
};

std::vector<Probe> probesOf(const std::vector<cv::Vec2f>& group)
{
    std::vector<Probe> probes;
    probes.reserve(group.size());
    for (const cv::Vec2f& line : group)
        probes.push_back(probeOf(line));
    return probes;
}

// The four side groups with the crossings of left and right with top and bottom.
struct SideGroups {
    const std::vector<cv::Vec2f>& left;
    const std::vector<cv::Vec2f>& right;
    const std::vector<cv::Vec2f>& top;
    const std::vector<cv::Vec2f>& bottom;
};

// One line from each group, by index, and the crossings they form.
struct Combination {
    size_t l, r, t, b;
    cv::Point2f lt, lb, rt, rb;
};

// Calls visit(combination, corners) for every combination, left outermost and bottom innermost,
// whose four crossings exist, are usable and can be put in corner order. The corners are
// whole-pixel crossings, so they are always finite. One corner vector serves every combination.
template <typename Usable, typename Visit>
void forEachQuadrangle(const SideGroups& groups, Usable usable, Visit visit)
{
    const std::vector<Probe> left = probesOf(groups.left), right = probesOf(groups.right);
    const std::vector<Probe> top = probesOf(groups.top), bottom = probesOf(groups.bottom);
    const CrossingTable leftTop(left, top, usable), leftBottom(left, bottom, usable);
    const CrossingTable rightTop(right, top, usable), rightBottom(right, bottom, usable);

    std::vector<cv::Point2f> corners(4);
    Combination c;
    for (c.l = 0; c.l < left.size(); ++c.l) {
        for (c.r = 0; c.r < right.size(); ++c.r) {
            for (c.t = 0; c.t < top.size(); ++c.t) {
                if (!leftTop.get(c.l, c.t, c.lt) || !rightTop.get(c.r, c.t, c.rt))
                    continue;
                for (c.b = 0; c.b < bottom.size(); ++c.b) {
                    if (!leftBottom.get(c.l, c.b, c.lb) || !rightBottom.get(c.r, c.b, c.rb))
                        continue;
                    corners.assign({c.lt, c.lb, c.rt, c.rb});
                    if (!orderPoints(corners) && !orderPoints2(corners))
                        continue;
                    visit(c, corners);
                }
            }
        }
    }
}

}  // namespace

void get_boundary_vertices3(std::vector<cv::Vec2f> lines, std::vector<cv::Point2f>& out)
{
    if (lines.size() != 4)
        return;
    const Probe left = probeOf(lines[0]), right = probeOf(lines[1]);
    const Probe top = probeOf(lines[2]), bottom = probeOf(lines[3]);
    cv::Point p[4];
    if (!crossing(left, top, p[0]) || !crossing(left, bottom, p[1]) || !crossing(right, top, p[2]) ||
        !crossing(right, bottom, p[3]))
        return;
    for (const cv::Point& corner : p)
        out.emplace_back((float)corner.x, (float)corner.y);
}

// ---------------------------------------------------------------------------
// Edge support of a side
// ---------------------------------------------------------------------------

namespace {

bool usableEdgeMap(const cv::Mat& edges)
{
    return !edges.empty() && edges.type() == CV_8UC1;
}

bool isFinite(cv::Point2f p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}

// The walk's end index: v truncated toward zero and clamped into [0, extent - 1]. Clamping first
// gives the same index and keeps far-off coordinates away from an out-of-range conversion.
int clampedIndex(float v, int extent)
{
    return (int)std::min(std::max(v, 0.0f), (float)(extent - 1));
}

// Whether a centre position can be converted to int; beyond this the whole band is off the image.
bool inIntRange(float v)
{
    return v > -1e9f && v < 1e9f;
}

struct EdgeTally {
    int total = 0;  // steps whose centre lies in the image
    int count = 0;  // steps with an edge pixel within the band
};

// The edge map with every pixel replaced by the maximum of its band along rows and along columns:
// 255 exactly where an edge pixel lies within the band, so that a centre inside the image needs one
// read instead of a search across the band.
struct BandMaps {
    cv::Mat alongRows, alongCols;

    BandMaps(const cv::Mat& edges, int band)
    {
        // Outside the image the dilation sees nothing, as the search across the band does.
        cv::dilate(edges, alongRows, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * band + 1, 1)));
        cv::dilate(edges, alongCols, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(1, 2 * band + 1)));
    }
};

// Whether an edge pixel lies at positions ctr - band … ctr + band across a steep side's row or a
// shallow side's column `step`.
bool edgeInBand(const cv::Mat& edges, bool steep, int step, int ctr, int band, int acrossExtent)
{
    const int from = (int)std::max<long long>((long long)ctr - band, 0);
    const int to = (int)std::min<long long>((long long)ctr + band, acrossExtent - 1);
    for (int pos = from; pos <= to; ++pos) {
        const uchar pixel = steep ? edges.ptr<uchar>(step)[pos] : edges.ptr<uchar>(pos)[step];
        if (pixel == 255)
            return true;
    }
    return false;
}

// Walks the side a–b one row (steep side) or one column (shallow side) at a time, from the larger
// coordinate down, and looks across the side for an edge pixel within ±band of the centre. maps, when
// given, are the band maps of edges for this band.
EdgeTally walkSide(const cv::Mat& edges, cv::Point2f a, cv::Point2f b, int band, const BandMaps* maps = nullptr)
{
    EdgeTally tally;
    if (!usableEdgeMap(edges) || !isFinite(a) || !isFinite(b))
        return tally;
    const float d = a.x == b.x ? INFINITY : (a.y - b.y) / (a.x - b.x);
    const bool steep = d < -1 || d > 1;
    // Steps run along y for a steep side, along x otherwise; positions across it the other way.
    const int stepExtent = steep ? edges.rows : edges.cols;
    const int acrossExtent = steep ? edges.cols : edges.rows;
    const int hi = clampedIndex(steep ? std::max(a.y, b.y) : std::max(a.x, b.x), stepExtent);
    const int lo = clampedIndex(steep ? std::min(a.y, b.y) : std::min(a.x, b.x), stepExtent);
    for (int step = hi; step >= lo; --step) {
        const float centre = steep ? (step - b.y) / d + b.x : (step - b.x) * d + b.y;
        if (!inIntRange(centre))
            continue;
        const int ctr = (int)centre;
        const bool inside = ctr >= 0 && ctr < acrossExtent;
        if (inside)
            ++tally.total;
        bool backed;
        if (maps && inside)
            backed = (steep ? maps->alongRows.ptr<uchar>(step)[ctr] : maps->alongCols.ptr<uchar>(ctr)[step]) == 255;
        else
            backed = edgeInBand(edges, steep, step, ctr, band, acrossExtent);
        tally.count += backed;
    }
    return tally;
}

}  // namespace

int calcEdgeCount(cv::Mat& edges, cv::Point2f a, cv::Point2f b, int band)
{
    return walkSide(edges, a, b, band).count;
}

void calcEdgeCount2(cv::Mat& edges, cv::Point2f a, cv::Point2f b, int band, int* total, int* count)
{
    const EdgeTally tally = walkSide(edges, a, b, band);
    *total = tally.total;
    *count = tally.count;
}

float getLineAccuracy(cv::Mat edges, cv::Vec2f line, bool vertical)
{
    if (!usableEdgeMap(edges))
        return 0.0f;
    const float rho = line[0];
    const float theta = line[1];
    const float m = -std::cos(theta) / std::sin(theta);
    const float b = rho / std::sin(theta);
    const float W = (float)edges.cols;
    const float H = (float)edges.rows;
    cv::Point2f first, second;
    if (!vertical) {
        first = cv::Point2f(0, b);
        second = cv::Point2f(W, W * m + b);
    } else if (theta == 0.0f) {
        first = cv::Point2f(std::fabs(rho), 0);
        second = cv::Point2f(std::fabs(rho), H);
    } else {
        first = cv::Point2f((0 - b) / m, 0);
        second = cv::Point2f((H - b) / m, H);
    }
    const int band = 3;
    // A line along the row just below the image has no in-image centre; it is measured against
    // its length instead.
    if (first.y == H && second.y == H)
        return (float)(calcEdgeCount(edges, first, second, band) / calcDistance2(first, second));
    const EdgeTally tally = walkSide(edges, first, second, band);
    // No sampled position inside the image: the line has no support (rather than 0 / 0).
    if (tally.total == 0)
        return 0.0f;
    return (float)tally.count / (float)tally.total;
}

namespace {

// Sampled and edge-backed positions of side k (Q_k to Q_{k+1}). A side lying on the row just below
// the image has no in-image centre and counts its length as the number of positions.
EdgeTally sideTally(cv::Mat& edges, const std::vector<cv::Point2f>& q, int k, int band,
                    const BandMaps* maps = nullptr)
{
    const cv::Point2f& a = q[k];
    const cv::Point2f& b = q[(k + 1) % 4];
    const float H = (float)edges.rows;
    if (a.y == H && b.y == H) {
        EdgeTally tally;
        tally.total = (int)calcDistance2(a, b);
        tally.count = walkSide(edges, a, b, band, maps).count;
        return tally;
    }
    return walkSide(edges, a, b, band, maps);
}

// Sides in the order top, right, bottom, left.
enum Side { TOP = 0, RIGHT = 1, BOTTOM = 2, LEFT = 3 };

// Edge tallies of candidate sides, each measured once per formation: a side joins two crossings
// and is shared by every combination that differs only in the line opposite to it. A side that
// corner ordering did not leave in its usual place (top from the left-top to the right-top
// crossing, right from right-top to right-bottom, and so on) is measured directly.
class SideTallies {
public:
    SideTallies(cv::Mat& edges, int band, const SideGroups& groups)
        : edges_(edges), band_(band), maps_(edges, band), nr_(groups.right.size()), nt_(groups.top.size()),
          nb_(groups.bottom.size())
    {
        const size_t nl = groups.left.size();
        const size_t sizes[4] = {nl * nr_ * nt_, nr_ * nt_ * nb_, nl * nr_ * nb_, nl * nt_ * nb_};
        // Groups far beyond the usual ten lines would make the tables larger than the work they save.
        const size_t limit = 1 << 20;
        if (*std::max_element(sizes, sizes + 4) <= limit) {
            for (int k = TOP; k <= LEFT; ++k)
                slots_[k].resize(sizes[k]);
        }
    }

    EdgeTally get(const Combination& c, const std::vector<cv::Point2f>& q, int k)
    {
        cv::Point2f from, to;
        size_t index;
        switch (k) {
        case TOP:
            from = c.lt, to = c.rt, index = (c.l * nr_ + c.r) * nt_ + c.t;
            break;
        case RIGHT:
            from = c.rt, to = c.rb, index = (c.r * nt_ + c.t) * nb_ + c.b;
            break;
        case BOTTOM:
            from = c.rb, to = c.lb, index = (c.l * nr_ + c.r) * nb_ + c.b;
            break;
        default:
            from = c.lb, to = c.lt, index = (c.l * nt_ + c.t) * nb_ + c.b;
        }
        if (slots_[k].empty() || q[k] != from || q[(k + 1) % 4] != to)
            return sideTally(edges_, q, k, band_, &maps_);
        Slot& slot = slots_[k][index];
        if (!slot.known) {
            slot.tally = sideTally(edges_, q, k, band_, &maps_);
            slot.known = true;
        }
        return slot.tally;
    }

private:
    struct Slot {
        bool known = false;
        EdgeTally tally;
    };

    cv::Mat& edges_;
    int band_;
    BandMaps maps_;
    size_t nr_, nt_, nb_;
    std::vector<Slot> slots_[4];
};

struct Support {
    double total = 0;
    int count = 0;

    // sumCount / sumTotal, NaN when nothing was sampled (which no floor accepts).
    float ratio() const { return (float)(count / total); }
};

// Edge support summed over the sides whose bit is set in sideMask (bit k for side k).
Support edgeSupport(SideTallies& tallies, const Combination& c, const std::vector<cv::Point2f>& q,
                    bool capAtTotal, unsigned sideMask)
{
    Support support;
    for (int k = TOP; k <= LEFT; ++k) {
        if (!(sideMask & (1u << k)))
            continue;
        EdgeTally tally = tallies.get(c, q, k);
        if (capAtTotal)
            tally.count = std::min(tally.count, tally.total);
        support.total += tally.total;
        support.count += tally.count;
    }
    return support;
}

// ---------------------------------------------------------------------------
// Geometric screens
// ---------------------------------------------------------------------------

float minOverMax(float a, float b)
{
    return std::min(a, b) / std::max(a, b);
}

// Lower bounds of the screens, for the general or the only-rect constant set.
struct ScreenBounds {
    float area;
    float angleLow, angleHigh;
    float aspect;
    float parallelHorizontal, parallelVertical;
    float horizontalCoverage, verticalCoverage;
    float diagonal;
};

ScreenBounds screenBounds(bool onlyRect, float verticalCoverage)
{
    if (onlyRect)
        return {AREA_RATIO__ONLY_RECT,
                90.0f - INCLUDED_ANGLE_TOLERANCE__ONLY_RECT,
                90.0f + INCLUDED_ANGLE_TOLERANCE__ONLY_RECT,
                ASPECT_RATIO_PERCENT__ONLY_RECT,
                PARALLEL_HORIZONTAL_LINE_RATIO__ONLY_RECT,
                PARALLEL_VERTICAL_LINE_RATIO__ONLY_RECT,
                HORIZONTAL_LINE_RATIO__ONLY_RECT,
                verticalCoverage,
                DIAGONAL_LINE_RATIO__ONLY_RECT};
    return {AREA_RATIO,
            90.0f - INCLUDED_ANGLE_TOLERANCE,
            90.0f + INCLUDED_ANGLE_TOLERANCE,
            ASPECT_RATIO_PERCENT,
            PARALLEL_HORIZONTAL_LINE_RATIO,
            PARALLEL_VERTICAL_LINE_RATIO,
            HORIZONTAL_LINE_RATIO,
            verticalCoverage,
            DIAGONAL_LINE_RATIO};
}

// What the screens measured of a candidate that passed them.
struct Shape {
    int area;
    float maxAngleDiff;
    float aspectAgreement;  // min/max of the expected and the candidate's ratio; 0 when none expected
};

bool inClosedRange(float v, float low, float high)
{
    return v >= low && v <= high;  // false for NaN
}

// The image with a margin of a twentieth of its size, within which every corner must lie. It is
// tested on each crossing once, before the combinations are enumerated.
struct InsideWithMargin {
    int W, H;

    bool operator()(cv::Point2f p) const { return pointInRange(p, W, H, true); }
};

// The cheap tests before any edge sampling, in order: area, corner angles, aspect ratio, parallel
// sides, side coverage of the image, diagonals.
bool passesScreens(std::vector<cv::Point2f>& q, int W, int H, float aspectRatio, const ScreenBounds& bound,
                   Shape& shape)
{
    shape.area = std::abs(calcPolygonArea(q));
    if ((float)(W * H) * bound.area > shape.area)
        return false;

    float angle[4];
    for (int k : {1, 2, 3, 0}) {
        angle[k] = cornerAngle(q, k);
        if (!inClosedRange(angle[k], bound.angleLow, bound.angleHigh))
            return false;
    }
    shape.maxAngleDiff = std::max(std::fabs(angle[0] - angle[1]), std::fabs(angle[2] - angle[3]));

    const float top = (float)calcDistance2(q[0], q[1]);
    const float right = (float)calcDistance2(q[1], q[2]);
    const float bottom = (float)calcDistance2(q[2], q[3]);
    const float left = (float)calcDistance2(q[3], q[0]);
    shape.aspectAgreement = 0.0f;
    if (aspectRatio != 0) {
        shape.aspectAgreement = minOverMax(aspectRatio, (left + right) / (top + bottom));
        if (shape.aspectAgreement < bound.aspect)
            return false;
    }
    if (minOverMax(top, bottom) < bound.parallelHorizontal || minOverMax(left, right) < bound.parallelVertical)
        return false;
    if (std::min(top, bottom) / W < bound.horizontalCoverage || std::min(left, right) / H < bound.verticalCoverage)
        return false;
    const float d02 = (float)calcDistance2(q[0], q[2]);
    const float d13 = (float)calcDistance2(q[1], q[3]);
    return !(minOverMax(d02, d13) < bound.diagonal);
}

}  // namespace

// ---------------------------------------------------------------------------
// Main variant: edge support
// ---------------------------------------------------------------------------

namespace {

// The best candidate so far, and the kept candidates for the second pass.
struct Ranking {
    std::vector<cv::Point2f> result = std::vector<cv::Point2f>(4);
    float accuracy = 0;
    int area = 0;
    float angleDiff = 180;
    std::vector<Quad> kept;
};

// The first pass: a candidate at least as accurate as the best wins, except that of equally
// accurate candidates a smaller one does not displace a larger one. True when it won.
bool rankByAccuracy(Ranking& ranking, const Quad& candidate)
{
    if (!(candidate.accuracy >= ranking.accuracy))
        return false;
    if (candidate.accuracy == ranking.accuracy && candidate.area < ranking.area)
        return false;
    ranking.angleDiff = candidate.maxAngleDiff;
    ranking.accuracy = candidate.accuracy;
    ranking.area = candidate.area;
    ranking.result = candidate.vertices;
    return true;
}

// The second pass: among the kept candidates close to the best in accuracy, size and squareness,
// the one with the largest area times accuracy.
void rerankBySize(Ranking& ranking)
{
    float bestScore = ranking.area * ranking.accuracy;
    for (const Quad& q : ranking.kept) {
        if (std::fabs(ranking.accuracy - q.accuracy) > 0.1f)
            continue;
        if (ranking.area * 0.7f > q.area)
            continue;
        if (q.maxAngleDiff > ranking.angleDiff && std::fabs(ranking.angleDiff - q.maxAngleDiff) > 3)
            continue;
        const float score = q.area * q.accuracy;
        if (score > bestScore) {
            ranking.result = q.vertices;
            bestScore = score;
            ranking.angleDiff = q.maxAngleDiff;
            ranking.accuracy = q.accuracy;
        }
    }
}

const unsigned ALL_SIDES = 0xF;

}  // namespace

std::vector<cv::Point2f> getQuadrangleFormation_usingQUAD(cv::Mat& edges, std::vector<cv::Vec2f>& left,
                                                          std::vector<cv::Vec2f>& right,
                                                          std::vector<cv::Vec2f>& top,
                                                          std::vector<cv::Vec2f>& bottom, float& accuracyOut,
                                                          float& angleDiffOut, float aspectRatio, bool relaxed,
                                                          bool keepCandidates, bool onlyRect)
{
    Ranking ranking;
    if (usableEdgeMap(edges)) {
        const int W = edges.cols;
        const int H = edges.rows;
        // A portrait photograph shows less of a document's height in proportion to its own.
        const float verticalCoverage =
            onlyRect ? VERTICAL_LINE_RATIO_ONLY_RECT : (H > W ? 0.23f : VERTICAL_LINE_RATIO);
        const ScreenBounds bound = screenBounds(onlyRect, verticalCoverage);
        const SideGroups groups{left, right, top, bottom};
        SideTallies tallies(edges, 2, groups);
        Quad candidate;
        forEachQuadrangle(groups, InsideWithMargin{W, H}, [&](const Combination& c, std::vector<cv::Point2f>& q) {
            Shape shape;
            if (!passesScreens(q, W, H, aspectRatio, bound, shape))
                return;
            candidate.maxAngleDiff = shape.maxAngleDiff;
            candidate.accuracy = roundToHundredths(edgeSupport(tallies, c, q, true, ALL_SIDES).ratio());
            candidate.area = shape.area;
            candidate.vertices = q;
            if (keepCandidates)
                ranking.kept.push_back(candidate);
            rankByAccuracy(ranking, candidate);
        });
        if (keepCandidates)
            rerankBySize(ranking);
    }
    if (ranking.accuracy < (relaxed ? MIN_EDGE_ACCURACY2 : MIN_EDGE_ACCURACY)) {
        ranking.result.clear();
        ranking.accuracy = 0;
        ranking.angleDiff = 0;
    }
    accuracyOut = ranking.accuracy;
    angleDiffOut = ranking.angleDiff;
    return ranking.result;
}

// ---------------------------------------------------------------------------
// Corner-guided variant
// ---------------------------------------------------------------------------

namespace {

// A caller's corner record reduced to what formation uses, scaled to the edge map.
struct KnownCorner {
    bool confirmed;
    cv::Point2f pt, verticalPt, horizontalPt;
};

template <typename Record>
KnownCorner knownCorner(const Record& record, float scale)
{
    auto scaled = [scale](cv::Point p) { return cv::Point2f(p.x * scale, p.y * scale); };
    return {record.score != -1, scaled(record.pt), scaled(record.verticalPt), scaled(record.horizontalPt)};
}

cv::Vec2f lineThrough(cv::Point2f a, cv::Point2f b)
{
    return pointsToRhoTheta(a.x, b.x, a.y, b.y);
}

// Adds the confirmed corner's vertical edge to its left or right group and its horizontal edge to
// its top or bottom group, each only when its orientation fits the side.
void addCornerLines(const KnownCorner& corner, std::vector<cv::Vec2f>& verticalGroup,
                    std::vector<cv::Vec2f>& horizontalGroup, bool onlyRect)
{
    if (!corner.confirmed)
        return;
    const cv::Vec2f vertical = lineThrough(corner.pt, corner.verticalPt);
    if (checkLineDegree(vertical, true, onlyRect))
        verticalGroup.push_back(vertical);
    const cv::Vec2f horizontal = lineThrough(corner.pt, corner.horizontalPt);
    if (checkLineDegree(horizontal, false, onlyRect))
        horizontalGroup.push_back(horizontal);
}

// Mean distance of the candidate's corners to the confirmed known corners, 0 without any.
float meanKnownCornerDistance(const std::vector<cv::Point2f>& q, const KnownCorner (&known)[4])
{
    float sum = 0;
    int n = 0;
    for (int k = 0; k < 4; ++k) {
        if (!known[k].confirmed)
            continue;
        sum += (float)calcDistance2(q[k], known[k].pt);
        ++n;
    }
    return n == 0 ? 0.0f : sum / n;
}

struct GuidedBest {
    float score = 0;
    float angleDiff = 180;
    float dist = 10000;
};

// Whether a candidate with this score, corner-angle difference and mean distance to the known
// corners displaces the best one. A candidate must be closer to the known corners; a lower score
// is forgiven only above 85 and when the distance gain makes up for it.
bool displacesGuidedBest(const GuidedBest& best, float score, float angleDiff, float dist)
{
    if (!(score > best.score || score > 85))
        return false;
    if (best.score > score) {
        if ((std::fabs(score - best.score) < 5 || std::fabs(dist - best.dist) < 5) && dist > best.dist)
            return false;
        if (best.score - best.dist > score - dist)
            return false;
    }
    if (std::fabs(score - best.score) < 3 && std::fabs(dist - best.dist) < 3) {
        if (angleDiff > best.angleDiff && std::fabs(best.angleDiff - angleDiff) > 5)
            return false;
    }
    return dist < best.dist;
}

}  // namespace

std::vector<cv::Point2f> getQuadrangleFormation_usingVertices(int W, int H, float scale, vertLT lt, vertRT rt,
                                                              vertRB rb, vertLB lb,
                                                              std::vector<cv::Vec2f>& left,
                                                              std::vector<cv::Vec2f>& right,
                                                              std::vector<cv::Vec2f>& top,
                                                              std::vector<cv::Vec2f>& bottom, float aspectRatio,
                                                              bool onlyRect)
{
    const KnownCorner known[4] = {knownCorner(lt, scale), knownCorner(rt, scale), knownCorner(rb, scale),
                                  knownCorner(lb, scale)};
    addCornerLines(known[0], left, top, onlyRect);
    addCornerLines(known[1], right, top, onlyRect);
    addCornerLines(known[2], right, bottom, onlyRect);
    addCornerLines(known[3], left, bottom, onlyRect);

    std::vector<cv::Point2f> result(4);
    GuidedBest best;
    if (W > 0 && H > 0) {
        // One coverage bound for both directions here: no allowance for portrait photographs.
        const ScreenBounds bound =
            screenBounds(onlyRect, onlyRect ? VERTICAL_LINE_RATIO_ONLY_RECT : VERTICAL_LINE_RATIO);
        forEachQuadrangle({left, right, top, bottom}, InsideWithMargin{W, H},
                          [&](const Combination&, std::vector<cv::Point2f>& q) {
            Shape shape;
            if (!passesScreens(q, W, H, aspectRatio, bound, shape))
                return;
            const float dist = meanKnownCornerDistance(q, known);
            const float angleScore = 100 - 100 * shape.maxAngleDiff / 180;
            const float score = aspectRatio != 0 ? shape.aspectAgreement * angleScore : angleScore;
            if (!displacesGuidedBest(best, score, shape.maxAngleDiff, dist))
                return;
            best = {score, shape.maxAngleDiff, dist};
            result = q;
        });
    }
    if (best.score < 80)
        result.clear();
    return result;
}

// ---------------------------------------------------------------------------
// Border-borrowing variant
// ---------------------------------------------------------------------------

namespace {

// Which sides of a combination are the image border (the last line of their group).
struct Borrowed {
    bool left, right, top, bottom;

    int count() const { return left + right + top + bottom; }

    // Sides to sample, bit k for side k (top, right, bottom, left): the ones not borrowed.
    unsigned sampledSides() const
    {
        return (top ? 0u : 1u << TOP) | (right ? 0u : 1u << RIGHT) | (bottom ? 0u : 1u << BOTTOM) |
               (left ? 0u : 1u << LEFT);
    }

    // A corner on a borrowed side is where the document leaves the photograph; its angle says
    // nothing about the document.
    bool exempts(int corner) const
    {
        switch (corner) {
        case 0:
            return left || top;
        case 1:
            return right || top;
        case 2:
            return right || bottom;
        default:
            return left || bottom;
        }
    }
};

bool anyTwoEqual(const cv::Vec2f (&lines)[4])
{
    for (int i = 0; i < 4; ++i) {
        for (int j = i + 1; j < 4; ++j) {
            if (lines[i][0] == lines[j][0] && lines[i][1] == lines[j][1])
                return true;
        }
    }
    return false;
}

bool cornerAnglesNearSquare(const std::vector<cv::Point2f>& q, const Borrowed& borrowed)
{
    for (int k = 0; k < 4; ++k) {
        if (!borrowed.exempts(k) && !inClosedRange(cornerAngle(q, k), 60, 120))
            return false;
    }
    return true;
}

// Whether each line of q lies within 10 degrees of the line of the same side of best.
bool similarlyOriented(const std::vector<cv::Vec2f>& q, const std::vector<cv::Vec2f>& best)
{
    for (int k = 0; k < 4; ++k) {
        if (!(std::fabs(thetaToDegree(q[k][1]) - thetaToDegree(best[k][1])) <= 10))
            return false;
    }
    return true;
}

void appendImageBorders(int W, int H, std::vector<cv::Vec2f>& left, std::vector<cv::Vec2f>& right,
                        std::vector<cv::Vec2f>& top, std::vector<cv::Vec2f>& bottom)
{
    const float pi = (float)CV_PI;
    left.emplace_back(0.0f, pi);
    right.emplace_back((float)-W, pi);
    top.emplace_back(0.0f, pi / 2);
    bottom.emplace_back((float)H, pi / 2);
}

}  // namespace

std::vector<cv::Point2f> getQuadrangleFormation_includeCroppedImage(cv::Mat& edges, std::vector<cv::Vec2f>& left,
                                                                    std::vector<cv::Vec2f>& right,
                                                                    std::vector<cv::Vec2f>& top,
                                                                    std::vector<cv::Vec2f>& bottom,
                                                                    std::vector<cv::Vec2f>* linesOut)
{
    if (!usableEdgeMap(edges))
        return {};
    const int W = edges.cols;
    const int H = edges.rows;
    appendImageBorders(W, H, left, right, top, bottom);

    Ranking ranking;
    std::vector<cv::Vec2f> bestLines(4);
    const SideGroups groups{left, right, top, bottom};
    SideTallies tallies(edges, 3, groups);
    auto anywhere = [](cv::Point2f) { return true; };
    forEachQuadrangle(groups, anywhere, [&](const Combination& c, std::vector<cv::Point2f>& q) {
        const Borrowed borrowed{c.l + 1 == left.size(), c.r + 1 == right.size(), c.t + 1 == top.size(),
                                c.b + 1 == bottom.size()};
        if (borrowed.count() >= 3)
            return;
        const cv::Vec2f lines[4] = {left[c.l], right[c.r], top[c.t], bottom[c.b]};
        if (anyTwoEqual(lines))
            return;
        const int area = std::abs(calcPolygonArea(q));
        if (area < W * H / 6 || !cornerAnglesNearSquare(q, borrowed))
            return;
        const Support support = edgeSupport(tallies, c, q, false, borrowed.sampledSides());
        if (support.total < (W + H) / 4)
            return;
        float accuracy = support.ratio();
        for (int k = 0; k < borrowed.count(); ++k)
            accuracy -= HANDICAP;

        ranking.kept.push_back(Quad{0, accuracy, area, std::vector<cv::Vec2f>(lines, lines + 4), q});
        if (rankByAccuracy(ranking, ranking.kept.back()))
            bestLines = ranking.kept.back().lines;
    });

    // A clearly larger candidate of similar accuracy and orientation wins, at 85 % of its score.
    float bestScore = ranking.area * ranking.accuracy;
    for (const Quad& q : ranking.kept) {
        if (!(q.accuracy > ranking.accuracy - 0.05f && q.area > ranking.area && similarlyOriented(q.lines, bestLines)))
            continue;
        const float score = q.area * q.accuracy * 0.85f;
        if (score > bestScore) {
            bestScore = score;
            bestLines = q.lines;
            ranking.result = q.vertices;
        }
    }

    if (ranking.accuracy < 0.5f) {
        ranking.result.clear();
        return ranking.result;
    }
    if (linesOut)
        linesOut->insert(linesOut->end(), bestLines.begin(), bestLines.end());
    return ranking.result;
}
