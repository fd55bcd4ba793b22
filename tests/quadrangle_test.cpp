#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "documentarea_internal.h"
#include "utils.h"

namespace {

using Lines = std::vector<cv::Vec2f>;
using Corners = std::vector<cv::Point2f>;

const float HALF_PI = (float)(CV_PI / 2);

cv::Vec2f column(float x) { return {x, 0.0f}; }
cv::Vec2f row(float y) { return {y, HALF_PI}; }
cv::Vec2f through(cv::Point2f a, cv::Point2f b) { return pointsToRhoTheta(a.x, b.x, a.y, b.y); }

// An edge map with the closed outline of each quadrangle drawn in.
cv::Mat outlines(cv::Size size, const std::vector<Corners>& quads)
{
    cv::Mat edges = cv::Mat::zeros(size, CV_8UC1);
    for (const Corners& q : quads) {
        for (int k = 0; k < 4; ++k)
            cv::line(edges, q[k], q[(k + 1) % 4], cv::Scalar(255));
    }
    return edges;
}

Corners rect(float x0, float y0, float x1, float y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }

// Groups and the outputs of the main variant.
struct Formation {
    Lines left, right, top, bottom;
    float accuracy = -1, angleDiff = -1;

    Corners run(cv::Mat& edges, float aspectRatio = 0, bool relaxed = false, bool keep = false,
                bool onlyRect = false)
    {
        return getQuadrangleFormation_usingQUAD(edges, left, right, top, bottom, accuracy, angleDiff, aspectRatio,
                                                relaxed, keep, onlyRect);
    }
};

// The four side lines of a quadrangle, one per group.
Formation sidesOf(const Corners& q)
{
    return {{through(q[3], q[0])}, {through(q[1], q[2])}, {through(q[0], q[1])}, {through(q[2], q[3])}};
}

TEST(QuadrangleFormation, PerfectRectangleHasAccuracyOneAndNoAngleDifference)
{
    // 288 x 214 in 320 x 240: 80 % of the image.
    cv::Mat edges = outlines({320, 240}, {rect(16, 13, 303, 226)});
    Formation f{{column(16)}, {column(303)}, {row(13)}, {row(226)}};
    EXPECT_EQ(f.run(edges), rect(16, 13, 303, 226));
    EXPECT_FLOAT_EQ(f.accuracy, 1.0f);
    EXPECT_FLOAT_EQ(f.angleDiff, 0.0f);

    Corners corners;
    get_boundary_vertices3({column(16), column(303), row(13), row(226)}, corners);
    EXPECT_EQ(corners, Corners({{16, 13}, {16, 226}, {303, 13}, {303, 226}}));  // LT, LB, RT, RB
    get_boundary_vertices3({column(16), column(303), row(13)}, corners);
    EXPECT_EQ(corners.size(), 4u);
}

struct ScreenCase {
    const char* what;
    cv::Size image;
    Corners quad;
    float aspectRatio;
    bool onlyRect;
    bool found;
};

class Screens : public testing::TestWithParam<ScreenCase> {};

TEST_P(Screens, DecideWhetherAFullyDrawnQuadrangleIsReturned)
{
    const ScreenCase& c = GetParam();
    cv::Mat edges = outlines(c.image, {c.quad});
    Formation f = sidesOf(c.quad);
    const Corners result = f.run(edges, c.aspectRatio, false, false, c.onlyRect);
    EXPECT_EQ(!result.empty(), c.found) << c.what;
    if (result.empty()) {
        EXPECT_EQ(f.accuracy, 0.0f);
        EXPECT_EQ(f.angleDiff, 0.0f);
    }
}

// A trapezium with corner angles of about 74 and 106 degrees.
const Corners kTrapezium = {{60, 20}, {260, 20}, {317, 220}, {3, 220}};

INSTANTIATE_TEST_SUITE_P(
    QuadrangleFormation, Screens,
    testing::Values(ScreenCase{"10 % of the image", {320, 240}, rect(60, 60, 156, 140), 0, false, false},
                    ScreenCase{"80 %, only-rect", {320, 240}, rect(16, 13, 303, 226), 0, true, true},
                    ScreenCase{"74-degree corners", {320, 240}, kTrapezium, 0, false, true},
                    ScreenCase{"74-degree corners, only-rect", {320, 240}, kTrapezium, 0, true, false},
                    // Shorter vertical side 25 % of the height: allowed on portrait photographs only.
                    ScreenCase{"low band, landscape", {320, 240}, rect(30, 90, 280, 150), 0, false, false},
                    ScreenCase{"low band, portrait", {240, 320}, rect(20, 120, 220, 200), 0, false, true},
                    // 200 x 150: height/width 0.75 against an expected ratio.
                    ScreenCase{"aspect 0.66", {320, 240}, rect(60, 45, 260, 195), 0.75f / 0.66f, false, true},
                    ScreenCase{"aspect 0.64", {320, 240}, rect(60, 45, 260, 195), 0.75f / 0.64f, false, false},
                    ScreenCase{"aspect 0.86, only-rect", {320, 240}, rect(60, 45, 260, 195), 0.75f / 0.86f, true,
                               true},
                    ScreenCase{"aspect 0.84, only-rect", {320, 240}, rect(60, 45, 260, 195), 0.75f / 0.84f, true,
                               false}));

TEST(QuadrangleFormation, RelaxedFloorAcceptsWeakerSupport)
{
    // Each side drawn over 55 % of its length.
    cv::Mat edges = outlines({320, 240}, {rect(20, 20, 300, 220)});
    edges.colRange(20 + 154, 300).rowRange(18, 23).setTo(0);
    edges.colRange(20 + 154, 300).rowRange(218, 223).setTo(0);
    edges.rowRange(20 + 110, 220).colRange(18, 23).setTo(0);
    edges.rowRange(20 + 110, 220).colRange(298, 303).setTo(0);
    Formation f{{column(20)}, {column(300)}, {row(20)}, {row(220)}};
    EXPECT_TRUE(f.run(edges).empty());
    EXPECT_EQ(f.run(edges, 0, true), rect(20, 20, 300, 220));
    EXPECT_FLOAT_EQ(f.accuracy, 0.55f);
}

TEST(QuadrangleFormation, OfEquallyAccurateCandidatesTheLargerThenTheLaterWins)
{
    // Two drawn rectangles of equal size; every mixed combination misses part of a side.
    const Corners a = rect(20, 20, 280, 200), b = rect(40, 40, 300, 220);
    cv::Mat edges = outlines({320, 240}, {a, b});
    Formation aFirst{{column(20), column(40)}, {column(280), column(300)}, {row(20), row(40)}, {row(200), row(220)}};
    EXPECT_EQ(aFirst.run(edges), b);
    Formation bFirst{{column(40), column(20)}, {column(300), column(280)}, {row(40), row(20)}, {row(220), row(200)}};
    EXPECT_EQ(bFirst.run(edges), a);

    // Of two fully drawn rectangles the larger wins in either order.
    edges = outlines({320, 240}, {rect(20, 20, 300, 220), rect(20, 50, 300, 220)});
    for (const Lines& tops : {Lines{row(20), row(50)}, Lines{row(50), row(20)}}) {
        Formation f{{column(20)}, {column(300)}, tops, {row(220)}};
        EXPECT_EQ(f.run(edges), rect(20, 20, 300, 220));
    }
}

TEST(QuadrangleFormation, SecondPassPrefersALargerNearBestCandidate)
{
    // The inner rectangle is fully drawn; the outer one has gaps of 5 % on every side.
    cv::Mat edges = outlines({320, 240}, {rect(60, 50, 260, 190), rect(10, 10, 310, 230)});
    edges.colRange(150, 165).rowRange(8, 13).setTo(0);
    edges.colRange(150, 165).rowRange(228, 233).setTo(0);
    edges.rowRange(110, 121).colRange(8, 13).setTo(0);
    edges.rowRange(110, 121).colRange(308, 313).setTo(0);
    Formation f{{column(10), column(60)}, {column(310), column(260)}, {row(10), row(50)}, {row(230), row(190)}};
    EXPECT_EQ(f.run(edges), rect(60, 50, 260, 190));
    EXPECT_FLOAT_EQ(f.accuracy, 1.0f);
    EXPECT_EQ(f.run(edges, 0, false, true), rect(10, 10, 310, 230));
    EXPECT_FLOAT_EQ(f.accuracy, 0.95f);
}

TEST(QuadrangleFormation, BadInputGivesNothing)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    cv::Mat good = outlines({320, 240}, {rect(16, 13, 303, 226)});
    cv::Mat wide;
    good.convertTo(wide, CV_16U);
    cv::Mat empty;
    cv::Mat tiny = cv::Mat::zeros(1, 1, CV_8UC1);
    for (cv::Mat* edges : {&empty, &wide, &tiny}) {
        Formation f{{column(16)}, {column(303)}, {row(13)}, {row(226)}};
        EXPECT_TRUE(f.run(*edges).empty());
        EXPECT_EQ(f.accuracy, 0.0f);
        EXPECT_TRUE(getQuadrangleFormation_includeCroppedImage(*edges, f.left, f.right, f.top, f.bottom, nullptr)
                        .empty());
    }
    const std::vector<Formation> groups = {
        {{}, {column(303)}, {row(13)}, {row(226)}},
        {{cv::Vec2f(nan, 0)}, {column(303)}, {row(13)}, {row(226)}},
        {{cv::Vec2f(1e30f, 0)}, {column(303)}, {row(13)}, {row(226)}},
        {{column(16)}, {column(303)}, {cv::Vec2f(13, nan)}, {row(226)}},
        {{column(16)}, {column(16)}, {row(13)}, {row(13)}},  // zero area
    };
    for (Formation f : groups)
        EXPECT_TRUE(f.run(good).empty());
    EXPECT_TRUE(std::isfinite(getLineAccuracy(good, cv::Vec2f(nan, nan), true)));
    EXPECT_EQ(calcEdgeCount(good, {nan, 0}, {10, 10}, 2), 0);
}

TEST(EdgeCount, TotalCountsOnlyCentresInsideTheImage)
{
    cv::Mat edges = outlines({100, 80}, {rect(10, 10, 90, 70)});
    int total = -1, count = -1;
    // A horizontal side from x = -20 to 50 on the drawn top row: 51 columns lie inside.
    calcEdgeCount2(edges, {-20, 10}, {50, 10}, 2, &total, &count);
    EXPECT_EQ(total, 51);
    EXPECT_EQ(count, 41);  // x = 10 … 50
    // A side running just below the image: no centre inside, edge pixels within the band.
    calcEdgeCount2(edges, {0, 81}, {99, 81}, 2, &total, &count);
    EXPECT_EQ(total, 0);
    EXPECT_EQ(calcEdgeCount(edges, {0, 81}, {99, 81}, 12), 81);  // columns 10 … 90 reach row 70
    EXPECT_FLOAT_EQ(getLineAccuracy(edges, row(10), false), 81.0f / 100.0f);
    EXPECT_FLOAT_EQ(getLineAccuracy(edges, column(90), true), 61.0f / 80.0f);
}

TEST(BorderBorrowing, PageRunningOffTheLeftEdgeBorrowsTheBorder)
{
    cv::Mat edges = cv::Mat::zeros(240, 320, CV_8UC1);
    cv::line(edges, {0, 30}, {250, 30}, cv::Scalar(255));
    cv::line(edges, {250, 30}, {250, 210}, cv::Scalar(255));
    cv::line(edges, {250, 210}, {0, 210}, cv::Scalar(255));
    Lines left, right = {column(250)}, top = {row(30)}, bottom = {row(210)}, chosen;
    const Corners result = getQuadrangleFormation_includeCroppedImage(edges, left, right, top, bottom, &chosen);
    EXPECT_EQ(result, rect(0, 30, 250, 210));
    ASSERT_EQ(chosen.size(), 4u);
    EXPECT_EQ(chosen[0], cv::Vec2f(0, (float)CV_PI));
    EXPECT_EQ(left.size(), 1u);  // the borders stay in the caller's groups
    EXPECT_EQ(bottom.back(), row(240));

    // Borrowing three sides is never allowed.
    Lines none, chosenToo;
    Lines onlyRight = {column(250)};
    Lines noTop, noBottom;
    EXPECT_TRUE(
        getQuadrangleFormation_includeCroppedImage(edges, none, onlyRight, noTop, noBottom, &chosenToo).empty());
    EXPECT_TRUE(chosenToo.empty());
}

TEST(CornerGuided, KnownCornersChooseTheirRectangle)
{
    const int W = 320, H = 240;
    auto record = [](cv::Point pt, cv::Point v, cv::Point h, double score) { return vertLT{pt, v, h, score}; };
    const vertLT lt = record({40, 30}, {40, 100}, {100, 30}, 1);
    const vertRB rbMissing{{}, {}, {}, -1};
    const vertRT rtMissing{{}, {}, {}, -1};
    const vertLB lbMissing{{}, {}, {}, -1};
    const vertLT ltMissing{{}, {}, {}, -1};

    // Two perfect rectangles; the confirmed top-left corner at half scale picks the second one.
    Lines left = {column(10)}, right = {column(300)}, top = {row(10)}, bottom = {row(220)};
    Corners result = getQuadrangleFormation_usingVertices(W, H, 2.0f, lt, rtMissing, rbMissing, lbMissing, left,
                                                          right, top, bottom, 0, false);
    // The corner's vertical edge becomes a nearly vertical line, so its crossings may be a pixel off.
    ASSERT_EQ(result.size(), 4u);
    EXPECT_LE(cv::norm(result[0] - cv::Point2f(80, 60)), 1.5);
    EXPECT_LE(cv::norm(result[2] - cv::Point2f(300, 220)), 1.5);
    EXPECT_EQ(left.size(), 2u);
    EXPECT_EQ(top.back(), row(60));

    // Without confirmed corners no line is added and the first acceptable candidate stays.
    Lines l2 = {column(10), column(80)}, r2 = {column(300)}, t2 = {row(10), row(60)}, b2 = {row(220)};
    result = getQuadrangleFormation_usingVertices(W, H, 1.0f, ltMissing, rtMissing, rbMissing, lbMissing, l2, r2,
                                                  t2, b2, 0, false);
    EXPECT_EQ(result, rect(10, 10, 300, 220));
    EXPECT_EQ(l2.size(), 2u);
}

}  // namespace
