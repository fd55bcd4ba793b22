// Quadrangle validation and rectification of the document-area detector: the
// card checks, the tilt direction, the two height/width ratio estimators and
// the warp of the found area.
//
// Every threshold test below is written so that it rejects only on a
// comparison that is true: a ratio or angle that is not a number (coincident
// corners) never causes a rejection.
#include "documentarea_internal.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "utils.h"

namespace tarvek {
namespace documentarea {

namespace {

using tarvek::utils::calcDistance;
using tarvek::utils::calcDistance2;

// A corner angle strictly within 5 degrees of 90 is a right corner.
const float RIGHT_CORNER_MIN = 85.0f;
const float RIGHT_CORNER_MAX = 95.0f;

// A confirmed corner record further than this from the quadrangle's corner
// (percent of the reference side) has moved; further than the second bound
// (checkRectIdCard2 only) it replaces the corner in the comparison list.
const float MOVED_DEVIATION = 5.0f;
const float REPLACED_DEVIATION = 10.0f;

// ---------------------------------------------------------------------------
// Card-check thresholds, selected by mode and number of right corners
// ---------------------------------------------------------------------------

struct CardThresholds {
    bool acceptOutright;  // accept once the range, area and angle tests pass
    bool eachSide;        // side test on rV and rH separately, otherwise on their mean
    float side;           // rV, rH or their mean must reach this
    float diagonal;       // rD must reach this
    float ratio;          // the similarity to a reference ratio must reach this
};

// General mode, indexed by the number of right corners (0 to 4).
const std::array<CardThresholds, 5> GENERAL_THRESHOLDS = {{
    {false, true, 0.60f, 0.70f, 0.65f},   // n = 0
    {false, true, 0.60f, 0.70f, 0.65f},   // n = 1
    {false, false, 0.75f, 0.80f, 0.78f},  // n = 2
    {false, false, 0.79f, 0.92f, 0.82f},  // n = 3
    {false, false, 0.88f, 0.95f, 0.84f},  // n = 4
}};
// General mode when confirmed corners moved the quadrangle (checkRectIdCard2), whatever n is.
const CardThresholds GENERAL_MOVED_THRESHOLDS = {false, false, 0.87f, 0.90f, 0.90f};
// onlyRect mode: n <= 2 and n >= 3.
const CardThresholds ONLY_RECT_FEW_RIGHT_CORNERS = {true, false, 0.0f, 0.0f, 0.0f};
const CardThresholds ONLY_RECT_THRESHOLDS = {false, false, 0.90f, 0.93f, 0.90f};

const CardThresholds& selectThresholds(bool onlyRect, int rightCorners, bool moved)
{
    if (onlyRect)
        return rightCorners <= 2 ? ONLY_RECT_FEW_RIGHT_CORNERS : ONLY_RECT_THRESHOLDS;
    if (moved)
        return GENERAL_MOVED_THRESHOLDS;
    return GENERAL_THRESHOLDS[rightCorners];
}

// ---------------------------------------------------------------------------
// Small geometry helpers
// ---------------------------------------------------------------------------

std::vector<cv::Point2f> toFloat(const std::vector<cv::Point>& corners)
{
    return std::vector<cv::Point2f>(corners.begin(), corners.end());
}

// min / max of two lengths; 0 / 0 gives NaN.
float minOverMax(float a, float b)
{
    return std::min(a, b) / std::max(a, b);
}

// Similarity of two ratios: min / max rounded to two decimals.
float similarity(float a, float b)
{
    return roundToHundredths(minOverMax(a, b));
}

// A distance truncated to int; far beyond the int range it saturates.
int truncatedLength(double length)
{
    if (!(length < static_cast<double>(INT_MAX)))
        return INT_MAX;
    return static_cast<int>(length);
}

// Side and diagonal lengths of a quadrangle: top, right, bottom, left, then
// the diagonals p0 p2 and p1 p3.
struct Lengths {
    float top, right, bottom, left, diagonal02, diagonal13;

    // Mean of the two opposite-side balances, rounded to two decimals.
    float sideBalance() const { return roundToHundredths((minOverMax(left, right) + minOverMax(top, bottom)) / 2.0f); }
    // Diagonal balance, rounded to two decimals.
    float diagonalBalance() const { return similarity(diagonal02, diagonal13); }
};

// Lengths of the float corners by calcDistance2.
Lengths floatLengths(const std::vector<cv::Point2f>& q)
{
    return {(float)calcDistance2(q[0], q[1]), (float)calcDistance2(q[1], q[2]), (float)calcDistance2(q[2], q[3]),
            (float)calcDistance2(q[3], q[0]), (float)calcDistance2(q[0], q[2]), (float)calcDistance2(q[1], q[3])};
}

// Lengths of the integer corners by calcDistance.
Lengths intLengths(const std::vector<cv::Point>& q)
{
    return {(float)calcDistance(q[0], q[1]), (float)calcDistance(q[1], q[2]), (float)calcDistance(q[2], q[3]),
            (float)calcDistance(q[3], q[0]), (float)calcDistance(q[0], q[2]), (float)calcDistance(q[1], q[3])};
}

// ---------------------------------------------------------------------------
// Confirmed corner records
// ---------------------------------------------------------------------------

struct CornerRecord {
    cv::Point pt;
    double score;

    bool confirmed() const { return score != -1; }
};

std::array<CornerRecord, 4> cornerRecords(const vertLT& lt, const vertRT& rt, const vertRB& rb, const vertLB& lb)
{
    return {{{lt.pt, lt.score}, {rt.pt, rt.score}, {rb.pt, rb.score}, {lb.pt, lb.score}}};
}

// Deviation, in percent of the reference side (top for corners 0 and 1,
// bottom for 2 and 3), of a record's point from quadrangle corner k.
float deviation(const std::vector<cv::Point2f>& q, int k, const cv::Point& recordPt)
{
    const float side = k < 2 ? (float)calcDistance2(q[0], q[1]) : (float)calcDistance2(q[2], q[3]);
    const float distance = (float)calcDistance2(cv::Point2f(recordPt), q[k]);
    return 100.0f * distance / side;
}

// What the confirmed records of checkRectIdCard2 say about the quadrangle.
struct Confirmation {
    int movedCorners = 0;               // corners whose record deviates by more than 5 %
    bool replaced = false;              // a record deviates by more than 10 %
    std::vector<cv::Point> corrected;   // the quadrangle with such records' points in place
};

Confirmation confirmCorners(const std::vector<cv::Point>& corners, const std::array<CornerRecord, 4>& records)
{
    const std::vector<cv::Point2f> q = toFloat(corners);
    Confirmation c;
    c.corrected = corners;
    for (int k = 0; k < 4; ++k) {
        if (!records[k].confirmed())
            continue;
        const float d = deviation(q, k, records[k].pt);
        if (d > MOVED_DEVIATION)
            ++c.movedCorners;
        if (d > REPLACED_DEVIATION) {
            c.replaced = true;
            c.corrected[k] = records[k].pt;
        }
    }
    return c;
}

// Whether the corrected corners fit reference ratio r better than the
// quadrangle does: |r - wh| > |r - wh2|.
bool fitsBetter(float r, float wh, float wh2)
{
    return std::fabs(r - wh) > std::fabs(r - wh2);
}

// The reference height/width ratios, 0 meaning not given.
struct References {
    float portrait, landscape;

    bool any() const { return portrait != 0.0f || landscape != 0.0f; }

    // The verdict of rejects(ratio) over the given ratios: with both given, a
    // rejection needs both to reject; with one given, its verdict.
    template <typename Rejects>
    bool reject(Rejects rejects) const
    {
        if (portrait != 0.0f && landscape != 0.0f)
            return rejects(portrait) && rejects(landscape);
        return portrait != 0.0f ? rejects(portrait) : rejects(landscape);
    }
};

// Steps 2 to 8 of checkRectIdCard on four corners; confirmation carries the
// corner-record changes of checkRectIdCard2 (nothing moved for checkRectIdCard).
bool judgeCard(int W, int H, const std::vector<cv::Point>& corners, float portraitRatio, float landscapeRatio,
               bool onlyRect, const Confirmation& confirmation)
{
    std::vector<cv::Point2f> q = toFloat(corners);

    // 2. Inside the image.
    if (!checkPointRange(q, W, H, false))
        return false;

    // 3. At least an eighth of the photograph (W and H are at least 2 here).
    const long long area = std::llabs((long long)tarvek::utils::calcPolygonArea(q));
    if ((float)area / (float)((long long)W * H) < AREA_RATIO)
        return false;

    // 4. Corner angles within 40 degrees of square; count the right corners.
    int rightCorners = 0;
    for (int k = 0; k < 4; ++k) {
        const float a = cornerAngle(q, k);
        if (std::fabs(90.0f - a) > INCLUDED_ANGLE_TOLERANCE)
            return false;
        if (RIGHT_CORNER_MIN < a && a < RIGHT_CORNER_MAX)
            ++rightCorners;
    }

    const CardThresholds& t = selectThresholds(onlyRect, rightCorners, confirmation.movedCorners > 0);
    if (t.acceptOutright)
        return true;

    // 5. Opposite sides.
    const Lengths len = floatLengths(q);
    const float rV = minOverMax(len.left, len.right);
    const float rH = minOverMax(len.top, len.bottom);
    if (t.eachSide) {
        if (rV < t.side || rH < t.side)
            return false;
    } else if ((rV + rH) / 2.0f < t.side) {
        return false;
    }

    // 6. Diagonals, measured on the integer corners and truncated.
    const int d02 = truncatedLength(calcDistance(corners[0], corners[2]));
    const int d13 = truncatedLength(calcDistance(corners[1], corners[3]));
    if (minOverMax((float)d02, (float)d13) < t.diagonal)
        return false;

    // 8. Agreement with the reference ratios.
    const References references{portraitRatio, landscapeRatio};
    if (!references.any())
        return true;
    const float wh = getWHRatio(corners);

    // checkRectIdCard2: reject when the replacing records fit the references better.
    if (confirmation.replaced) {
        const float wh2 = getWHRatio(confirmation.corrected);
        if (references.reject([&](float r) { return fitsBetter(r, wh, wh2); }))
            return false;
    }

    return !references.reject([&](float r) { return similarity(wh, r) < t.ratio; });
}

// checkRectIdCard3 step 8 for one reference ratio r: whether the corrected
// corners fit r clearly better.
bool correctedFitsClearlyBetter(float r, float wh, float wh2)
{
    const float a = std::fabs(r - wh);
    const float b = std::fabs(r - wh2);
    return a > b && a > 0.1f * r;
}

// Whether a balance got better by more than 0.05.
bool clearlyBetter(float oldValue, float newValue)
{
    return newValue > oldValue && newValue - oldValue > 0.05;
}

}  // namespace

// ---------------------------------------------------------------------------
// Card checks
// ---------------------------------------------------------------------------

bool checkRectIdCard(int W, int H, const std::vector<cv::Point>& corners, float portraitRatio, float landscapeRatio,
                     bool onlyRect)
{
    if (corners.size() != 4)
        return false;
    return judgeCard(W, H, corners, portraitRatio, landscapeRatio, onlyRect, Confirmation());
}

bool checkRectIdCard2(int W, int H, const std::vector<cv::Point>& corners, const vertLT& lt, const vertRT& rt,
                      const vertRB& rb, const vertLB& lb, float portraitRatio, float landscapeRatio, bool onlyRect)
{
    if (corners.size() != 4)
        return false;
    const Confirmation confirmation = confirmCorners(corners, cornerRecords(lt, rt, rb, lb));
    if (confirmation.movedCorners >= 3)
        return false;
    return judgeCard(W, H, corners, portraitRatio, landscapeRatio, onlyRect, confirmation);
}

bool checkRectIdCard3(int /*W*/, int /*H*/, const std::vector<cv::Point>& corners, const vertLT& lt,
                      const vertRT& rt, const vertRB& rb, const vertLB& lb, float portraitRatio, float landscapeRatio,
                      bool /*onlyRect*/)
{
    if (corners.size() != 4)
        return false;

    const std::vector<cv::Point2f> q = toFloat(corners);
    const std::array<CornerRecord, 4> records = cornerRecords(lt, rt, rb, lb);
    std::vector<cv::Point> corrected = corners;
    int confirmed = 0;
    int moved = 0;
    for (int k = 0; k < 4; ++k) {
        if (!records[k].confirmed())
            continue;
        ++confirmed;
        if (deviation(q, k, records[k].pt) > MOVED_DEVIATION) {
            ++moved;
            corrected[k] = records[k].pt;
        }
    }
    if (moved == 0)
        return true;
    if (moved >= 3 || (moved == confirmed && moved >= 2))
        return false;

    const Lengths oldLengths = floatLengths(q);
    const Lengths newLengths = intLengths(corrected);
    if (clearlyBetter(oldLengths.sideBalance(), newLengths.sideBalance()))
        return false;
    if (clearlyBetter(oldLengths.diagonalBalance(), newLengths.diagonalBalance()))
        return false;

    const References references{portraitRatio, landscapeRatio};
    if (!references.any())
        return true;
    const float wh = getWHRatio(corners);
    const float wh2 = getWHRatio(corrected);
    // With both ratios given, reject only when both comparisons reject (as checkRectIdCard2 does).
    return !references.reject([&](float r) { return correctedFitsClearlyBetter(r, wh, wh2); });
}

// ---------------------------------------------------------------------------
// Tilt direction
// ---------------------------------------------------------------------------

int checkRectDirection(const std::vector<cv::Point>& corners)
{
    if (corners.size() != 4)
        return 2;
    const std::vector<cv::Point2f> q = toFloat(corners);
    float A[4];
    for (int k = 0; k < 4; ++k)
        A[k] = cornerAngle(q, k);
    const float left = (A[0] + A[3]) / 2.0f;
    const float right = (A[1] + A[2]) / 2.0f;
    const float top = (A[0] + A[1]) / 2.0f;
    const float bottom = (A[3] + A[2]) / 2.0f;
    const bool outOfRange = std::any_of(A, A + 4, [](float a) { return a < 80.0f || a > 100.0f; });

    // A pair of corners uniformly wider than the opposite pair: its code when the mean difference
    // exceeds 5 degrees, otherwise 11 when some angle is out of range.
    struct TiltRule {
        bool applies;
        float excess;
        int code;
    };
    const TiltRule rules[] = {
        {A[0] > A[3] && A[1] > A[2], top - bottom, 10},
        {A[3] > A[0] && A[2] > A[1], bottom - top, 8},
        {A[1] > A[0] && A[2] > A[3], right - left, 7},
        {A[0] > A[1] && A[3] > A[2], left - right, 9},
    };
    for (const TiltRule& rule : rules) {
        if (!rule.applies)
            continue;
        if (rule.excess > 5.0f)
            return rule.code;
        if (outOfRange)
            return 11;
    }
    if (outOfRange)
        return 11;
    // Reached only when no side pair is uniformly wider; with every angle in
    // 80 to 100 the differences below then stay within 10 degrees.
    const float vertical = std::fabs(top - bottom);
    const float horizontal = std::fabs(left - right);
    if (vertical > horizontal) {
        if (vertical > 10.0f)
            return bottom > top ? 8 : 10;
    } else if (horizontal > 10.0f) {
        return right > left ? 7 : 9;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Ratio estimators
// ---------------------------------------------------------------------------

float getWHRatio(const std::vector<cv::Point>& corners)
{
    if (corners.size() != 4)
        return 0.0f;
    const long long top = truncatedLength(calcDistance(corners[0], corners[1]));
    const long long right = truncatedLength(calcDistance(corners[1], corners[2]));
    const long long bottom = truncatedLength(calcDistance(corners[2], corners[3]));
    const long long left = truncatedLength(calcDistance(corners[3], corners[0]));
    return (float)(left + right) / (float)(top + bottom);
}

float getAspectRatio(const std::vector<cv::Point>& corners, int width, int height)
{
    if (corners.size() != 4)
        return 0.0f;

    const cv::Vec3f m1((float)corners[3].x, (float)corners[3].y, 1.0f);  // bottom-left
    const cv::Vec3f m2((float)corners[2].x, (float)corners[2].y, 1.0f);  // bottom-right
    const cv::Vec3f m3((float)corners[0].x, (float)corners[0].y, 1.0f);  // top-left
    const cv::Vec3f m4((float)corners[1].x, (float)corners[1].y, 1.0f);  // top-right
    const float u0 = (float)(width / 2);
    const float v0 = (float)(height / 2);
    const float s = 1.0f;

    auto dot = [](const cv::Vec3f& a, const cv::Vec3f& b) {
        return (double)a[0] * b[0] + (double)a[1] * b[1] + (double)a[2] * b[2];
    };
    const cv::Vec3f m1xm4 = m1.cross(m4);
    const float k2 = (float)(dot(m1xm4, m3) / dot(m2.cross(m4), m3));
    const float k3 = (float)(dot(m1xm4, m2) / dot(m3.cross(m4), m2));

    // A pair of sides without perspective: the focal length is undetermined.
    if (k2 == 1.0f || k3 == 1.0f)
        return getWHRatio(corners);

    const cv::Vec3f n2 = k2 * m2 - m1;
    const cv::Vec3f n3 = k3 * m3 - m1;
    const float n2x = n2[0], n2y = n2[1], n2z = n2[2];
    const float n3x = n3[0], n3y = n3[1], n3z = n3[2];
    const float f2 = -(1.0f / (n2z * n3z * s * s)) *
                     ((n2x * n3x - (n2x * n3z + n2z * n3x) * u0 + n2z * n3z * u0 * u0) * s * s +
                      (n2y * n3y - (n2y * n3z + n2z * n3y) * v0 + n2z * n3z * v0 * v0));
    const float f = std::sqrt(std::fabs(f2));

    const cv::Matx33f A(f, 0.0f, u0, 0.0f, f, v0, 0.0f, 0.0f, 1.0f);
    const cv::Matx33f Ainv = A.inv();
    const cv::Matx33f B = Ainv.t() * Ainv;
    const float r = n2.dot(B * n2) / n3.dot(B * n3);
    return 1.0f / std::sqrt(r);
}

// ---------------------------------------------------------------------------
// Rectification
// ---------------------------------------------------------------------------

namespace {

// Whether p0 p1 p2 p3 is a strictly convex quadrangle (either orientation):
// the turns at all four corners are non-zero and of one sign. Rejects
// coincident and collinear corners, zero area, crossing sides and
// re-entrant corners.
bool isStrictlyConvex(const std::vector<cv::Point>& p)
{
    int positive = 0;
    int negative = 0;
    for (int k = 0; k < 4; ++k) {
        const cv::Point& a = p[k];
        const cv::Point& b = p[(k + 1) % 4];
        const cv::Point& c = p[(k + 2) % 4];
        const double turn = ((double)b.x - a.x) * ((double)c.y - b.y) - ((double)b.y - a.y) * ((double)c.x - b.x);
        if (turn > 0)
            ++positive;
        else if (turn < 0)
            ++negative;
    }
    return positive == 4 || negative == 4;
}

}  // namespace

void getPerspectiveImage(cv::Mat& src, cv::Mat& dst, const std::vector<cv::Point>& corners, int width, int height)
{
    if (src.empty() || width <= 0 || height <= 0 || corners.size() != 4 || !isStrictlyConvex(corners)) {
        dst.release();
        return;
    }
    const cv::Point2f source[] = {cv::Point2f(corners[0]), cv::Point2f(corners[1]), cv::Point2f(corners[3]),
                                  cv::Point2f(corners[2])};
    const cv::Point2f target[] = {cv::Point2f(0.0f, 0.0f), cv::Point2f((float)width, 0.0f),
                                  cv::Point2f(0.0f, (float)height), cv::Point2f((float)width, (float)height)};
    try {
        const cv::Mat transform = cv::getPerspectiveTransform(source, target);
        if (!cv::checkRange(transform)) {
            dst.release();
            return;
        }
        cv::warpPerspective(src, dst, transform, cv::Size(width, height), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                            cv::Scalar::all(0));
    } catch (const std::exception&) {
        // An image type the warp does not take, or a size it cannot allocate.
        dst.release();
    }
}

}  // namespace documentarea
}  // namespace tarvek
