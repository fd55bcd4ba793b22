// Corners from four border segments (by segment crossings or by the lines'
// pairwise crossings), outward expansion of a found quadrangle's sides to a
// parallel structure beyond them, and the rectangle check of the result.
#include "documentarea_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <opencv2/imgproc.hpp>

#include "utils.h"

// ---------------------------------------------------------------------------
// Corners from segments
// ---------------------------------------------------------------------------

namespace {

bool segmentsCross(const cv::Vec4i& s, const cv::Vec4i& t, cv::Point& at)
{
    return getIntersectPoint(cv::Point(s[0], s[1]), cv::Point(s[2], s[3]), cv::Point(t[0], t[1]),
                             cv::Point(t[2], t[3]), &at);
}

}  // namespace

void get_boundary_vertices2(std::vector<cv::Vec4i>& segs, std::vector<cv::Vec3f>& out)
{
    if (segs.size() != 4)
        return;
    // left ∩ top, left ∩ bottom, right ∩ top, right ∩ bottom
    const int pairs[4][2] = {{0, 2}, {0, 3}, {1, 2}, {1, 3}};
    cv::Point corners[4];
    for (int i = 0; i < 4; ++i)
        if (!segmentsCross(segs[pairs[i][0]], segs[pairs[i][1]], corners[i]))
            return;
    for (const cv::Point& p : corners)
        out.emplace_back((float)p.x, (float)p.y, 0.0f);
}

namespace {

// Where two of the four lines meet: a normalised point, or, for parallel lines, the direction of
// their common point at infinity.
struct Crossing {
    cv::Vec3f point;
    bool atInfinity;
};

Crossing crossLines(const cv::Vec3f& g, const cv::Vec3f& h)
{
    const cv::Vec3f meet = cross(g, h, false);
    if (meet[2] == 0.0f)
        return {meet, true};
    return {cross(g, h, true), false};
}

// Whether p lies on the ray from `from` towards the point at infinity in `direction`.
bool onRay(const cv::Vec3f& p, const cv::Vec3f& from, const cv::Vec3f& direction)
{
    if (direction[0] == 0.0f && direction[1] == 0.0f)
        return false;
    return (p[0] - from[0]) * direction[0] + (p[1] - from[1]) * direction[1] >= 0.0f;
}

// Whether p lies between a and b on their common line. A point at infinity bounds the ray from the
// other end in its direction; either sign of that direction picks the same corner on both parallel
// sides, so the corners still form a cycle.
bool liesBetween(const Crossing& p, const Crossing& a, const Crossing& b)
{
    if (p.atInfinity || (a.atInfinity && b.atInfinity))
        return false;
    if (a.atInfinity)
        return onRay(p.point, b.point, a.point);
    if (b.atInfinity)
        return onRay(p.point, a.point, b.point);
    return isbetween(p.point, a.point, b.point);
}

// Stores v in the first of the two slots not yet filled, if any.
void fillFirstFree(const cv::Vec3f& v, cv::Vec3f& first, bool& firstFilled, cv::Vec3f& second, bool& secondFilled)
{
    if (!firstFilled) {
        first = v;
        firstFilled = true;
    } else if (!secondFilled) {
        second = v;
        secondFilled = true;
    }
}

double squaredDistance(const cv::Vec3f& p, const cv::Vec3f& q)
{
    return std::pow(p[0] - q[0], 2) + std::pow(p[1] - q[1], 2);
}

}  // namespace

void get_boundary_vertices(std::vector<cv::Vec4i>& segs, std::vector<cv::Vec3f>& out)
{
    if (segs.size() != 4)
        return;
    cv::Vec3f lines[4];
    for (int i = 0; i < 4; ++i)
        lines[i] = gethomoline(segs[i]);
    const int pairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
    Crossing x[6];
    for (int p = 0; p < 6; ++p)
        x[p] = crossLines(lines[pairs[p][0]], lines[pairs[p][1]]);

    // For crossing p: the other two crossings on its first line (A), on its second line (B), and the
    // crossing of the two remaining lines (opposite).
    const int a1[6] = {1, 0, 0, 0, 0, 1}, a2[6] = {2, 2, 1, 4, 3, 3};
    const int b1[6] = {3, 3, 4, 1, 2, 2}, b2[6] = {4, 5, 5, 5, 5, 4};
    const int opposite[6] = {5, 4, 3, 2, 1, 0};

    // A corner lies between the other crossings on both its lines (cb), on one of them (cc, ce), or,
    // opposite cb, on neither (cd).
    cv::Vec3f cb(0, 0, 0), cc(0, 0, 0), cd(0, 0, 0), ce(0, 0, 0);
    bool haveC = false, haveE = false;
    for (int p = 0; p < 6; ++p) {
        const bool inA = liesBetween(x[p], x[a1[p]], x[a2[p]]);
        const bool inB = liesBetween(x[p], x[b1[p]], x[b2[p]]);
        if (inA && inB) {
            cb = x[p].point;
            cd = x[opposite[p]].point;
        } else if (inA) {
            fillFirstFree(x[p].point, ce, haveE, cc, haveC);
        } else if (inB) {
            fillFirstFree(x[p].point, cc, haveC, ce, haveE);
        }
    }
    // Of the two cycles through cb and cd, take the one whose sides cb-cc and cd-ce are the longer pair.
    if (squaredDistance(cb, ce) + squaredDistance(cc, cd) > squaredDistance(cb, cc) + squaredDistance(cd, ce))
        std::swap(cc, ce);
    out.push_back(cb);
    out.push_back(cc);
    out.push_back(cd);
    out.push_back(ce);
}

// ---------------------------------------------------------------------------
// Border expansion
// ---------------------------------------------------------------------------

namespace {

// Which coordinate a walk steps: y moves a top or bottom side, x a left or right one.
enum class Along { Y, X };

// Coordinates that can be truncated to int with room for pixel arithmetic: differences and distances
// of such points stay in the int range. NaN fails.
bool hasPixelCoordinates(const cv::Point2f& p)
{
    const float limit = 5e8f;
    return p.x > -limit && p.x < limit && p.y > -limit && p.y < limit;
}

bool insideExtent(float v, int extent)
{
    return 0.0f < v && v < (float)extent;
}

// One step of a walk: the walked coordinate moves by step and the other follows the line
// y = m·x + k (it stays where the line is axis-parallel, m = 0).
void advance(cv::Point2f& q, Along along, int step, float m, float k)
{
    if (along == Along::Y) {
        q.y += step;
        if (m != 0)
            q.x = (q.y - k) / m;
    } else {
        q.x += step;
        if (m != 0)
            q.y = q.x * m + k;
    }
}

// The pixel at q moved across the walk to the coordinate `across`, all truncated.
int sampleAcross(const cv::Mat& bin, Along along, const cv::Point2f& q, float across)
{
    if (along == Along::Y)
        return bin.ptr<uchar>((int)q.y)[(int)across];
    return bin.ptr<uchar>((int)across)[(int)q.x];
}

// One corner's walk along the side line seg, one pixel per step, away from the quadrangle. Samples
// 7 pixels to either side across the walk; `outward` (-1 or +1) says which of them lies outside the
// paper. Succeeds, leaving p at the step, where at least 11 steps out the inner sample flips between
// black and white while the outer one does not flip at the same step; fails on leaving the image.
bool walkToFlip(const cv::Mat& bin, const cv::Vec4i& seg, Along along, int step, int outward, cv::Point2f& p)
{
    const int offset = 7;
    const int minSteps = 11;
    const float m = getSlope2(cv::Vec4f(seg));
    const float k = getYIntercept((float)seg[0], (float)seg[1], m);
    const int acrossExtent = along == Along::Y ? bin.cols : bin.rows;
    cv::Point2f q = p;
    int previousOuter = 0, previousInner = 0;
    for (int n = 1;; ++n) {
        advance(q, along, step, m, k);
        const float across = along == Along::Y ? q.x : q.y;
        const float outerAt = across + (float)(outward * offset);
        const float innerAt = across - (float)(outward * offset);
        if (!insideExtent(q.x, bin.cols) || !insideExtent(q.y, bin.rows) || !insideExtent(outerAt, acrossExtent) ||
            !insideExtent(innerAt, acrossExtent))
            return false;
        const int outer = sampleAcross(bin, along, q, outerAt);
        const int inner = sampleAcross(bin, along, q, innerAt);
        const int outerChange = n == 1 ? 0 : std::abs(outer - previousOuter);
        const int innerChange = n == 1 ? 0 : std::abs(inner - previousInner);
        previousOuter = outer;
        previousInner = inner;
        if (n >= minSteps && innerChange == 255) {
            if (outerChange == 255)
                return false;
            p = q;
            return true;
        }
    }
}

// Moves side a-b: a walks along the left (segs[3]) or top (segs[0]) side line, b along the right
// (segs[1]) or bottom (segs[2]) one. Both points move or neither does.
void moveSide(const cv::Mat& bin, const std::vector<cv::Vec4i>& segs, Along along, cv::Point2f& a, cv::Point2f& b,
              int step)
{
    if (segs.size() != 4 || step == 0 || bin.empty() || bin.type() != CV_8UC1)
        return;
    const cv::Vec4i& lineA = along == Along::Y ? segs[3] : segs[0];
    const cv::Vec4i& lineB = along == Along::Y ? segs[1] : segs[2];
    cv::Point2f movedA = a, movedB = b;
    if (walkToFlip(bin, lineA, along, step, -1, movedA) && walkToFlip(bin, lineB, along, step, +1, movedB)) {
        a = movedA;
        b = movedB;
    }
}

// Grey in place (BGR or BGRA read as BGR); false for an image that cannot be made 8-bit grey.
bool toGrey(cv::Mat& img)
{
    if (img.empty() || img.depth() != CV_8U)
        return false;
    if (img.channels() == 3 || img.channels() == 4)
        cv::cvtColor(img, img, cv::COLOR_BGR2GRAY);
    return img.channels() == 1;
}

// The segments top (C0-C1), right (C1-C2), bottom (C2-C3) and left (C3-C0), truncated to int.
std::vector<cv::Vec4i> sideSegments(const std::vector<cv::Point2f>& c)
{
    std::vector<cv::Vec4i> segs;
    for (int i = 0; i < 4; ++i) {
        const cv::Point2f& from = c[i];
        const cv::Point2f& to = c[(i + 1) % 4];
        segs.emplace_back((int)from.x, (int)from.y, (int)to.x, (int)to.y);
    }
    return segs;
}

// One side of the quadrangle: its corners, the corner whose coordinate bounds the strip beyond it when
// the 5-pixel margin leaves the image, the walk axis and the outward step.
struct Side {
    int a;
    int b;
    int fallback;
    Along along;
    int step;
};

// Treated in this order: top, bottom, left, right.
const Side SIDES[4] = {
    {0, 1, 0, Along::Y, -1},
    {3, 2, 3, Along::Y, +1},
    {0, 3, 0, Along::X, -1},
    {1, 2, 2, Along::X, +1},
};

// The part of the image beyond the side: from the image border to 5 pixels past the side's outermost
// corner (or to the fallback corner when that is not in 1..extent).
cv::Rect stripBeyond(const Side& side, const std::vector<cv::Point2f>& c, cv::Size size)
{
    const float margin = 5.0f;
    auto coordinate = [&](int i) { return side.along == Along::Y ? c[i].y : c[i].x; };
    const int extent = side.along == Along::Y ? size.height : size.width;
    const float pa = coordinate(side.a), pb = coordinate(side.b);
    int edge = (int)(side.step < 0 ? std::min(pa, pb) - margin : std::max(pa, pb) + margin);
    if (edge < 1 || edge > extent)
        edge = (int)coordinate(side.fallback);
    const int from = side.step < 0 ? 0 : edge;
    const int to = side.step < 0 ? edge : extent;
    if (side.along == Along::Y)
        return cv::Rect(cv::Point(0, from), cv::Point(size.width, to));
    return cv::Rect(cv::Point(from, 0), cv::Point(to, size.height));
}

// Whether the strip, wider and taller than 10 pixels and inside the image, holds a Hough segment with
// the side's slope. A strip reaching outside the image holds none.
bool hasParallelStructure(const cv::Mat& bin, const cv::Rect& strip, float sideSlope)
{
    if (strip.width <= 10 || strip.height <= 10 || (strip & cv::Rect(0, 0, bin.cols, bin.rows)) != strip)
        return false;
    std::vector<cv::Vec4i> segments;
    cv::HoughLinesP(bin(strip), segments, 1, CV_PI / 180, 100, 100, 0);
    return std::any_of(segments.begin(), segments.end(),
                       [sideSlope](const cv::Vec4i& s) { return checkSlope(sideSlope, getSlope2(cv::Vec4f(s))); });
}

}  // namespace

void expandVerticalPoint(cv::Mat& bin, std::vector<cv::Vec4i> segs, cv::Point2f& a, cv::Point2f& b, int step)
{
    moveSide(bin, segs, Along::Y, a, b, step);
}

void expandHorizontalPoint(cv::Mat& bin, std::vector<cv::Vec4i> segs, cv::Point2f& a, cv::Point2f& b, int step)
{
    moveSide(bin, segs, Along::X, a, b, step);
}

void expand_vertices(cv::Mat& img, std::vector<cv::Point2f>& corners)
{
    if (!toGrey(img) || corners.size() != 4)
        return;
    cv::threshold(img, img, 100, 255, cv::THRESH_BINARY);
    if (!std::all_of(corners.begin(), corners.end(), hasPixelCoordinates))
        return;
    // Strips and side lines come from the corners as given; later sides see earlier sides' moves.
    const std::vector<cv::Vec4i> segs = sideSegments(corners);
    cv::Rect strips[4];
    for (int i = 0; i < 4; ++i)
        strips[i] = stripBeyond(SIDES[i], corners, img.size());
    for (int i = 0; i < 4; ++i) {
        cv::Point2f& a = corners[SIDES[i].a];
        cv::Point2f& b = corners[SIDES[i].b];
        const float slope = getSlope(a, b);
        if (!hasParallelStructure(img, strips[i], slope))
            continue;
        cv::Point2f movedA = a, movedB = b;
        moveSide(img, segs, SIDES[i].along, movedA, movedB, SIDES[i].step);
        if (checkSlope(slope, getSlope(movedA, movedB))) {
            a = movedA;
            b = movedB;
        }
    }
}

// ---------------------------------------------------------------------------
// Rectangle check
// ---------------------------------------------------------------------------

namespace {

// The corner truncated to whole pixels.
cv::Point pixelOf(const cv::Point2f& p)
{
    return cv::Point((int)p.x, (int)p.y);
}

int truncatedDistance(const cv::Point2f& p, const cv::Point2f& q)
{
    return (int)tarvek::utils::calcDistance(pixelOf(p), pixelOf(q));
}

}  // namespace

bool checkRect(int W, int H, std::vector<cv::Point2f>& corners)
{
    if (W <= 0 || H <= 0 || corners.size() != 4 || !std::all_of(corners.begin(), corners.end(), hasPixelCoordinates))
        return false;
    const float areaRatio = (float)std::abs(tarvek::utils::calcPolygonArea(corners)) / ((float)W * (float)H);
    if (areaRatio < 0.25f)
        return false;
    int shortestSide = 100000;
    for (int k : {1, 2, 3, 0}) {
        if (!(cornerAngle(corners, k) >= 60.0f))
            return false;
        shortestSide = std::min(shortestSide, truncatedDistance(corners[(k + 3) % 4], corners[k]));
    }
    if (shortestSide <= 0.2 * std::min(W, H))
        return false;
    const int d02 = truncatedDistance(corners[0], corners[2]);
    const int d13 = truncatedDistance(corners[1], corners[3]);
    const float ratio = (float)d02 / (float)d13;
    // Rounded and compared in double: a float 1.2 would lie above the bound.
    const double rounded = std::floor(ratio * 10.0 + 0.5) / 10.0;
    return 0.8 <= rounded && rounded <= 1.2;
}
