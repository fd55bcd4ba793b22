#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/core.hpp>

#include "documentarea_internal.h"

namespace {

// ---------------------------------------------------------------------------
// Geometry primitives
// ---------------------------------------------------------------------------

TEST(Geometry, ThetaToDegreeAndComparators)
{
    EXPECT_FLOAT_EQ(thetaToDegree((float)CV_PI / 2), 90.0f);
    EXPECT_FLOAT_EQ(thetaToDegree(0.0f), 0.0f);

    EXPECT_TRUE(selectAccuracyBigger(0.5f, 0.5f));
    EXPECT_TRUE(selectAccuracyBigger(0.6f, 0.5f));
    EXPECT_FALSE(selectAccuracyBigger(0.4f, 0.5f));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(selectAccuracyBigger(nan, 0.5f));
    EXPECT_TRUE(selectAccuracyBigger(0.5f, nan));

    EXPECT_FALSE(selectAspectRatioDiffSmaller(0.5f, 0.5f));
    EXPECT_TRUE(selectAspectRatioDiffSmaller(0.4f, 0.5f));
    EXPECT_FALSE(selectAngleDiffSmaller(3.0f, 3.0f));
    EXPECT_TRUE(lineAccCompare(cv::Vec3f(0, 0, 12), cv::Vec3f(5, 1, 11)));
    EXPECT_FALSE(lineAccCompare(cv::Vec3f(0, 0, 11), cv::Vec3f(5, 1, 11)));

    EXPECT_TRUE(isnan<float>(nan, nan));
    EXPECT_FALSE(isnan<float>(1.5f, 1.5f));
}

TEST(Geometry, SlopesRoundToTwoDecimals)
{
    EXPECT_FLOAT_EQ(getSlope(cv::Point2f(0, 0), cv::Point2f(3, 1)), 0.33f);
    EXPECT_FLOAT_EQ(getSlope(cv::Point2f(0, 0), cv::Point2f(3, 2)), 0.67f);
    EXPECT_FLOAT_EQ(getSlope(cv::Point2f(0, 0), cv::Point2f(-3, 1)), -0.33f);
    EXPECT_EQ(getSlope(cv::Point2f(4, 0), cv::Point2f(4, 9)), 0.0f);
    EXPECT_EQ(getSlope(cv::Point2f(0, 7), cv::Point2f(4, 7)), 0.0f);
    EXPECT_FLOAT_EQ(getSlope2(cv::Vec4f(0, 0, 3, 1)), 0.33f);
    EXPECT_EQ(getSlope2(cv::Vec4f(2, 0, 2, 5)), 0.0f);
    EXPECT_FLOAT_EQ(getYIntercept(2.0f, 5.0f, 1.5f), 2.0f);
}

TEST(Geometry, CheckSlopeComparesAbsoluteValues)
{
    EXPECT_TRUE(checkSlope(0.0f, 0.03f));
    EXPECT_FALSE(checkSlope(0.0f, 0.031f));
    EXPECT_TRUE(checkSlope(-0.5f, 0.52f));
    EXPECT_TRUE(checkSlope(0.5f, -0.48f));
    EXPECT_FALSE(checkSlope(0.5f, 0.54f));
}

TEST(Geometry, HomogeneousLines)
{
    cv::Vec3f c = cross(cv::Vec3f(1, 2, 3), cv::Vec3f(4, 5, 6), false);
    EXPECT_EQ(c, cv::Vec3f(-3, 6, -3));
    EXPECT_EQ(cross(cv::Vec3f(1, 2, 3), cv::Vec3f(4, 5, 6), true), cv::Vec3f(1, -2, 1));

    // y = x through (0,0) and (4,4), and y = 4 - x: they cross at (2, 2).
    cv::Vec3f l1 = gethomoline(cv::Vec4i(0, 0, 4, 4));
    cv::Vec3f l2 = gethomoline(cv::Vec4i(0, 4, 4, 0));
    cv::Vec3f p = cross(l1, l2, true);
    EXPECT_FLOAT_EQ(p[0], 2.0f);
    EXPECT_FLOAT_EQ(p[1], 2.0f);

    EXPECT_TRUE(isbetween(p, cv::Vec3f(4, 0, 1), cv::Vec3f(0, 4, 1)));
    EXPECT_TRUE(isbetween(cv::Vec3f(4, 0, 1), cv::Vec3f(4, 0, 1), cv::Vec3f(0, 4, 1)));
    EXPECT_FALSE(isbetween(cv::Vec3f(5, 2, 1), cv::Vec3f(4, 0, 1), cv::Vec3f(0, 4, 1)));
}

TEST(Geometry, SegmentIntersection)
{
    cv::Point out(-1, -1);
    ASSERT_TRUE(getIntersectPoint({0, 0}, {10, 10}, {0, 10}, {10, 0}, &out));
    EXPECT_EQ(out, cv::Point(5, 5));

    // Truncation toward zero: the crossing is at (2.5, 2.5).
    ASSERT_TRUE(getIntersectPoint({0, 0}, {5, 5}, {0, 5}, {5, 0}, &out));
    EXPECT_EQ(out, cv::Point(2, 2));

    // Meeting at an end point counts.
    ASSERT_TRUE(getIntersectPoint({0, 0}, {10, 0}, {10, 0}, {10, 10}, &out));
    EXPECT_EQ(out, cv::Point(10, 0));
    ASSERT_TRUE(getIntersectPoint({3, 4}, {10, 4}, {3, 4}, {3, 20}, &out));
    EXPECT_EQ(out, cv::Point(3, 4));

    out = cv::Point(-7, -7);
    EXPECT_FALSE(getIntersectPoint({0, 0}, {10, 0}, {0, 5}, {10, 5}, &out));
    EXPECT_EQ(out, cv::Point(-7, -7));
    EXPECT_FALSE(getIntersectPoint({0, 0}, {10, 0}, {2, 0}, {8, 0}, &out));
    EXPECT_FALSE(getIntersectPoint({0, 0}, {4, 4}, {0, 10}, {10, 9}, &out));
    EXPECT_EQ(out, cv::Point(-7, -7));

    // Far-off segments, whose products leave the int range, still cross where they do.
    ASSERT_TRUE(getIntersectPoint({-2000000, 7}, {2000000, 7}, {0, -2000000}, {0, 2000000}, &out));
    EXPECT_EQ(out, cv::Point(0, 7));
}

TEST(Geometry, PointToSegmentDistance)
{
    EXPECT_DOUBLE_EQ(minDistLineAndPoint(3, 4, 0, 0, 0, 0), 5.0);
    EXPECT_DOUBLE_EQ(minDistLineAndPoint(-3, 4, 0, 0, 10, 0), 5.0);   // before (x1, y1)
    EXPECT_DOUBLE_EQ(minDistLineAndPoint(13, -4, 0, 0, 10, 0), 5.0);  // beyond (x2, y2)
    EXPECT_DOUBLE_EQ(minDistLineAndPoint(5, 7, 0, 0, 10, 0), 7.0);
    // Foot (2.5, 2.5) truncated to (2, 2).
    EXPECT_DOUBLE_EQ(minDistLineAndPoint(0, 5, 0, 0, 5, 5), std::sqrt(13.0));
}

TEST(Geometry, PointsToRhoTheta)
{
    cv::Vec2f h = pointsToRhoTheta(0, 10, 5, 5);
    EXPECT_FLOAT_EQ(h[0], 5.0f);
    EXPECT_FLOAT_EQ(h[1], (float)(CV_PI / 2));

    // y = x - 10 has its foot at (5, -5): theta is folded into [0, pi) and
    // rho turns negative.
    cv::Vec2f d = pointsToRhoTheta(10, 20, 0, 10);
    EXPECT_NEAR(d[0], -std::sqrt(50.0), 1e-4);
    EXPECT_NEAR(d[1], 3 * CV_PI / 4, 1e-6);

    // A vertical segment uses the stand-in slope: nearly theta pi, rho -30.
    cv::Vec2f v = pointsToRhoTheta(30, 30, 0, 50);
    EXPECT_NEAR(v[0], -30.0, 1e-2);
    EXPECT_NEAR(v[1], CV_PI, 1e-4);

    // Lines through the origin keep their direction.
    cv::Vec2f o = pointsToRhoTheta(0, 100, 0, 0);
    EXPECT_EQ(o[0], 0.0f);
    EXPECT_FLOAT_EQ(o[1], (float)(CV_PI / 2));
    cv::Vec2f diag = pointsToRhoTheta(0, 10, 0, 10);
    EXPECT_EQ(diag[0], 0.0f);
    EXPECT_FLOAT_EQ(diag[1], (float)(3 * CV_PI / 4));
}

float degrees(float deg)
{
    return (float)(deg * CV_PI / 180.0);
}

TEST(Geometry, CheckLineDegree)
{
    for (bool onlyRect : {false, true}) {
        EXPECT_TRUE(checkLineDegree(cv::Vec2f(10, 0), true, onlyRect));
        EXPECT_TRUE(checkLineDegree(cv::Vec2f(10, 0), false, onlyRect));
        EXPECT_FALSE(checkLineDegree(cv::Vec2f(10, degrees(45)), true, onlyRect));
        EXPECT_FALSE(checkLineDegree(cv::Vec2f(10, degrees(45)), false, onlyRect));
        EXPECT_TRUE(checkLineDegree(cv::Vec2f(10, degrees(90)), false, onlyRect));
        EXPECT_TRUE(checkLineDegree(cv::Vec2f(10, degrees(175)), true, onlyRect));
    }
    EXPECT_TRUE(checkLineDegree(cv::Vec2f(0, degrees(25)), true, false));
    EXPECT_FALSE(checkLineDegree(cv::Vec2f(0, degrees(25)), true, true));
    EXPECT_TRUE(checkLineDegree(cv::Vec2f(0, degrees(75)), false, false));
    EXPECT_FALSE(checkLineDegree(cv::Vec2f(0, degrees(75)), false, true));
    EXPECT_FALSE(checkLineDegree(cv::Vec2f(0, degrees(65)), false, false));
    EXPECT_FALSE(checkLineDegree(cv::Vec2f(0, degrees(115)), false, false));
}

TEST(Geometry, IncludedAngle)
{
    Vector2D<double> a(3, 0);
    Vector2D<double> b(0, 2);
    EXPECT_DOUBLE_EQ(Vector2D<double>::angle(a, b), CV_PI / 2);
    EXPECT_DOUBLE_EQ(a * b, 0.0);
    Vector2D<double> diff = Vector2D<double>(4, 6) - Vector2D<double>(1, 2);
    EXPECT_DOUBLE_EQ(diff.norm(), 5.0);
    EXPECT_TRUE(std::isnan(Vector2D<double>::angle(a, Vector2D<double>(0, 0))));

    // Corner angles of a quadrangle: square corners of a rectangle, and any convex quadrangle's
    // angles add up to 360 degrees whichever way round its corners run.
    const std::vector<cv::Point2f> rect = {{10, 10}, {90, 10}, {90, 60}, {10, 60}};
    const std::vector<cv::Point2f> trapezium = {{20, 10}, {80, 10}, {100, 60}, {0, 60}};
    for (int k = 0; k < 4; ++k)
        EXPECT_FLOAT_EQ(cornerAngle(rect, k), 90.0f);
    EXPECT_NEAR(cornerAngle(trapezium, 0) + cornerAngle(trapezium, 1) + cornerAngle(trapezium, 2) +
                    cornerAngle(trapezium, 3),
                360.0f, 1e-3);
    EXPECT_GT(cornerAngle(trapezium, 0), 90.0f);
    EXPECT_LT(cornerAngle(trapezium, 3), 90.0f);
}

// ---------------------------------------------------------------------------
// Corner ordering and range test
// ---------------------------------------------------------------------------

const std::vector<cv::Point2f> kCorners = {{10, 10}, {90, 12}, {88, 80}, {12, 78}};

TEST(Corners, OrderPointsFromAnyInputOrder)
{
    std::vector<int> idx = {0, 1, 2, 3};
    do {
        std::vector<cv::Point2f> pts;
        for (int i : idx)
            pts.push_back(kCorners[i]);
        ASSERT_TRUE(orderPoints(pts));
        EXPECT_EQ(pts, kCorners);
        pts.clear();
        for (int i : idx)
            pts.push_back(kCorners[i]);
        ASSERT_TRUE(orderPoints2(pts));
        EXPECT_EQ(pts, kCorners);
    } while (std::next_permutation(idx.begin(), idx.end()));
}

TEST(Corners, OrderPointsFailuresLeaveInputUnchanged)
{
    // One point above the centre line, three below.
    std::vector<cv::Point2f> skewed = {{50, 0}, {0, 60}, {100, 62}, {50, 70}};
    std::vector<cv::Point2f> copy = skewed;
    EXPECT_FALSE(orderPoints(skewed));
    EXPECT_EQ(skewed, copy);

    std::vector<cv::Point2f> three = {{10, 10}, {90, 12}, {88, 80}};
    copy = three;
    EXPECT_FALSE(orderPoints(three));
    EXPECT_FALSE(orderPoints2(three));
    EXPECT_EQ(three, copy);

    std::vector<cv::Point2f> negative = {{-10, 10}, {-90, 12}, {-88, 80}, {-12, 78}};
    copy = negative;
    EXPECT_FALSE(orderPoints(negative));
    EXPECT_FALSE(orderPoints2(negative));
    EXPECT_EQ(negative, copy);
}

TEST(Corners, OrderPoints2SplitsByColumns)
{
    // A tilted quadrangle with one corner above the centre row: the row split
    // fails, the column split orders it.
    std::vector<cv::Point2f> tilted = {{60, 100}, {0, 70}, {100, 60}, {50, 0}};
    std::vector<cv::Point2f> copy = tilted;
    EXPECT_FALSE(orderPoints(tilted));
    EXPECT_EQ(tilted, copy);
    ASSERT_TRUE(orderPoints2(tilted));
    EXPECT_EQ(tilted, (std::vector<cv::Point2f>{{50, 0}, {100, 60}, {60, 100}, {0, 70}}));

    // A diamond puts a single corner on each side of both centre lines.
    std::vector<cv::Point2f> diamond = {{50, 10}, {90, 50}, {50, 90}, {10, 50}};
    copy = diamond;
    EXPECT_FALSE(orderPoints(diamond));
    EXPECT_FALSE(orderPoints2(diamond));
    EXPECT_EQ(diamond, copy);
}

TEST(Corners, CheckPointRange)
{
    std::vector<cv::Point2f> inside = {{1, 1}, {199, 99}};
    EXPECT_TRUE(checkPointRange(inside, 200, 100, false));
    std::vector<cv::Point2f> atZero = {{0, 50}};
    EXPECT_FALSE(checkPointRange(atZero, 200, 100, false));
    std::vector<cv::Point2f> atWidth = {{200, 50}};
    EXPECT_FALSE(checkPointRange(atWidth, 200, 100, false));

    std::vector<cv::Point2f> slightlyLeft = {{-9.5f, 50}};
    EXPECT_TRUE(checkPointRange(slightlyLeft, 200, 100, true));
    std::vector<cv::Point2f> tooFarLeft = {{-10, 50}};
    EXPECT_FALSE(checkPointRange(tooFarLeft, 200, 100, true));
    std::vector<cv::Point2f> slightlyBelow = {{100, 104}};
    EXPECT_TRUE(checkPointRange(slightlyBelow, 200, 100, true));
    std::vector<cv::Point2f> tooFarBelow = {{100, 105}};
    EXPECT_FALSE(checkPointRange(tooFarBelow, 200, 100, true));

    std::vector<cv::Point2f> notANumber = {{std::numeric_limits<float>::quiet_NaN(), 50}};
    EXPECT_FALSE(checkPointRange(notANumber, 200, 100, true));
    std::vector<cv::Point2f> huge = {{50, 1e20f}};
    EXPECT_FALSE(checkPointRange(huge, 200, 100, true));
}

}  // namespace
