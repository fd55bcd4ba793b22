// Line and point geometry of the document-area detector: degree conversion,
// slopes, homogeneous lines, intersections, distances, corner ordering and
// range tests.
#include "documentarea_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

float thetaToDegree(float theta)
{
    return (float)((double)(180.0f * theta) / CV_PI);
}

bool selectAspectRatioDiffSmaller(float a, float b)
{
    return a < b;
}

// Written as a negation so that a NaN accuracy never sorts behind a number.
bool selectAccuracyBigger(float a, float b)
{
    return !(b > a);
}

bool selectAngleDiffSmaller(float a, float b)
{
    return a < b;
}

bool lineAccCompare(cv::Vec3f a, cv::Vec3f b)
{
    return a[2] > b[2];
}

float getYIntercept(float x, float y, float slope)
{
    return y - slope * x;
}

namespace {

// Slope dy/dx rounded to two decimals; axis-parallel pairs count as 0.
float roundedSlope(float x1, float y1, float x2, float y2)
{
    if (x1 == x2 || y1 == y2)
        return 0.0f;
    float s = (y2 - y1) / (x2 - x1);
    return roundToHundredths(s);
}

}  // namespace

float roundToHundredths(double v)
{
    return (float)(std::floor(v * 100.0 + 0.5) / 100.0);
}

float cornerAngle(const std::vector<cv::Point2f>& q, int k)
{
    const cv::Point2f& at = q[k];
    const cv::Point2f& previous = q[(k + 3) % 4];
    const cv::Point2f& next = q[(k + 1) % 4];
    const Vector2D<double> toPrevious((double)previous.x - at.x, (double)previous.y - at.y);
    const Vector2D<double> toNext((double)next.x - at.x, (double)next.y - at.y);
    return thetaToDegree((float)Vector2D<double>::angle(toPrevious, toNext));
}

float getSlope(cv::Point2f a, cv::Point2f b)
{
    return roundedSlope(a.x, a.y, b.x, b.y);
}

float getSlope2(cv::Vec4f seg)
{
    return roundedSlope(seg[0], seg[1], seg[2], seg[3]);
}

bool checkSlope(float ref, float s)
{
    float a = std::fabs(ref);
    float b = std::fabs(s);
    if (a == 0.0f)
        return b <= 0.03;
    return a - 0.03 <= b && b <= a + 0.03;
}

cv::Vec3f cross(cv::Vec3f a, cv::Vec3f b, bool normalize)
{
    cv::Vec3f c(a[1] * b[2] - b[1] * a[2], a[2] * b[0] - b[2] * a[0], a[0] * b[1] - b[0] * a[1]);
    if (normalize) {
        c[0] /= c[2];
        c[1] /= c[2];
        c[2] = 1.0f;
    }
    return c;
}

cv::Vec3f gethomoline(cv::Vec4i seg)
{
    return cross(cv::Vec3f((float)seg[0], (float)seg[1], 1.0f), cv::Vec3f((float)seg[2], (float)seg[3], 1.0f), false);
}

namespace {

bool inClosedRange(float v, float end1, float end2)
{
    return std::min(end1, end2) <= v && v <= std::max(end1, end2);
}

}  // namespace

bool isbetween(cv::Vec3f p, cv::Vec3f a, cv::Vec3f b)
{
    return inClosedRange(p[0], a[0], b[0]) && inClosedRange(p[1], a[1], b[1]);
}

// Segments sharing an end point intersect there (ua or ub is 0 or 1).
// Coincident segments have den == 0 and are rejected as parallel. The
// products are formed in 64 bits: probe segments of far-off lines have
// coordinates whose products leave the int range.
bool getIntersectPoint(const cv::Point& p1, const cv::Point& p2, const cv::Point& p3, const cv::Point& p4,
                       cv::Point* out)
{
    const std::int64_t dx12 = std::int64_t{p2.x} - p1.x, dy12 = std::int64_t{p2.y} - p1.y;
    const std::int64_t dx34 = std::int64_t{p4.x} - p3.x, dy34 = std::int64_t{p4.y} - p3.y;
    const std::int64_t dx31 = std::int64_t{p1.x} - p3.x, dy31 = std::int64_t{p1.y} - p3.y;
    const std::int64_t den = dy34 * dx12 - dx34 * dy12;
    if (den == 0)
        return false;
    const std::int64_t na = dx34 * dy31 - dy34 * dx31;
    const std::int64_t nb = dx12 * dy31 - dy12 * dx31;
    const double ua = (double)na / den;
    const double ub = (double)nb / den;
    if (ua < 0 || ua > 1 || ub < 0 || ub > 1)
        return false;
    out->x = (int)(p1.x + ua * dx12);
    out->y = (int)(p1.y + ua * dy12);
    return true;
}

double minDistLineAndPoint(int px, int py, int x1, int y1, int x2, int y2)
{
    int dx = x2 - x1;
    int dy = y2 - y1;
    int nearX = x1;
    int nearY = y1;
    if (dx != 0 || dy != 0) {
        double t = (double)((px - x1) * dx + (py - y1) * dy) / (dx * dx + dy * dy);
        if (t > 1) {
            nearX = x2;
            nearY = y2;
        } else if (t >= 0) {
            nearX = (int)(x1 + t * dx);
            nearY = (int)(y1 + t * dy);
        }
    }
    int ex = px - nearX;
    int ey = py - nearY;
    return std::sqrt((double)(ex * ex + ey * ey));
}

cv::Vec2f pointsToRhoTheta(double x1, double x2, double y1, double y2)
{
    double m = 99999;  // stands in for the slope of a vertical segment
    if (x2 - x1 != 0)
        m = (y2 - y1) / (x2 - x1);
    double b0 = y1 - m * x1;
    // The line passes through the origin: the foot of the normal is the origin
    // itself and says nothing about the direction, so take the normal (-m, 1).
    if (b0 == 0)
        return cv::Vec2f(0.0f, (float)std::atan2(1.0, -m));
    double fy = b0 / (1 + m * m);
    double fx = -b0 / (1 / m + m);
    double angle = std::atan2(fy, fx);
    double dist = std::sqrt(fx * fx + fy * fy);
    if (angle < 0)
        return cv::Vec2f((float)-dist, (float)(CV_PI + angle));
    return cv::Vec2f((float)dist, (float)angle);
}

bool checkLineDegree(cv::Vec2f line, bool vertical, bool onlyRect)
{
    float d = thetaToDegree(line[1]);
    if (vertical) {
        int tol = onlyRect ? VERTICAL_LINE_DEGREE_TOLERANCE__ONLY_RECT : VERTICAL_LINE_DEGREE_TOLERANCE;
        return !(DEGREE_0 + tol < d && d < DEGREE_180 - tol);
    }
    int tol = onlyRect ? HORIZONTAL_LINE_DEGREE_TOLERANCE__ONLY_RECT : HORIZONTAL_LINE_DEGREE_TOLERANCE;
    bool belowBand = DEGREE_0 < d && d < DEGREE_90 - tol;
    bool aboveBand = DEGREE_90 + tol < d && d < DEGREE_180;
    return !(belowBand || aboveBand);
}

namespace {

// Centre of four points, or false when a coordinate sum is not positive.
bool pointsCentre(const std::vector<cv::Point2f>& pts, cv::Point2f& centre)
{
    float sumX = 0.0f;
    float sumY = 0.0f;
    for (const cv::Point2f& p : pts) {
        sumX += p.x;
        sumY += p.y;
    }
    if (sumX <= 0.0f || sumY <= 0.0f)
        return false;
    centre = cv::Point2f(sumX * 0.25f, sumY * 0.25f);
    return true;
}

// Splits four points by one coordinate (x when byColumn, else y) against the
// centre, then orders each half by the other coordinate; ties keep the
// earlier point first. The result is top-left, top-right, bottom-right,
// bottom-left; false, with pts untouched, unless both halves hold two points.
bool orderPointsBySplit(std::vector<cv::Point2f>& pts, bool byColumn)
{
    if (pts.size() != 4)
        return false;
    cv::Point2f centre;
    if (!pointsCentre(pts, centre))
        return false;
    auto major = [byColumn](const cv::Point2f& p) { return byColumn ? p.x : p.y; };
    auto minor = [byColumn](const cv::Point2f& p) { return byColumn ? p.y : p.x; };
    // Fixed halves rather than vectors: quadrangle formation orders every candidate it screens.
    cv::Point2f low[4], high[4];
    int lows = 0, highs = 0;
    for (const cv::Point2f& p : pts) {
        if (major(p) < major(centre))
            low[lows++] = p;
        else
            high[highs++] = p;
    }
    if (lows != 2 || highs != 2)
        return false;
    if (minor(low[1]) < minor(low[0]))
        std::swap(low[0], low[1]);
    if (minor(high[1]) < minor(high[0]))
        std::swap(high[0], high[1]);
    // low/high are top/bottom rows (first point left) or left/right columns
    // (first point upper).
    if (byColumn)
        pts = {low[0], high[0], high[1], low[1]};
    else
        pts = {low[0], low[1], high[1], high[0]};
    return true;
}

// Truncates toward zero; false when v has no int value (NaN, infinite, huge).
bool truncateToInt(float v, int& out)
{
    if (!(v > -2147483648.0f && v < 2147483648.0f))
        return false;
    out = (int)v;
    return true;
}

bool withinExtent(int v, int extent, int margin)
{
    if (v <= 0 && std::abs(v) >= margin)
        return false;
    if (v >= extent && std::abs(v) - extent >= margin)
        return false;
    return true;
}

}  // namespace

bool orderPoints(std::vector<cv::Point2f>& pts)
{
    return orderPointsBySplit(pts, false);
}

bool orderPoints2(std::vector<cv::Point2f>& pts)
{
    return orderPointsBySplit(pts, true);
}

bool pointInRange(cv::Point2f p, int width, int height, bool margin)
{
    int ix, iy;
    if (!truncateToInt(p.x, ix) || !truncateToInt(p.y, iy))
        return false;
    return withinExtent(ix, width, margin ? width / 20 : 0) && withinExtent(iy, height, margin ? height / 20 : 0);
}

bool checkPointRange(std::vector<cv::Point2f>& pts, int width, int height, bool margin)
{
    return std::all_of(pts.begin(), pts.end(),
                       [&](const cv::Point2f& p) { return pointInRange(p, width, height, margin); });
}
