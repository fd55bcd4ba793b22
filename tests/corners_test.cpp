// Corners from border segments, outward expansion of the sides and the rectangle check.
#include "documentarea_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using Corners = std::vector<cv::Point2f>;
using Segments = std::vector<cv::Vec4i>;
using Points = std::vector<cv::Vec3f>;

const float NaN = std::numeric_limits<float>::quiet_NaN();
const Corners QUAD = {{60, 60}, {260, 60}, {260, 180}, {60, 180}};

}  // namespace

TEST(SegmentCorners, AppendsTheFourCrossingsOnlyWhenAllSegmentsMeet)
{
    const Segments frame = {{40, 20, 40, 220}, {280, 20, 280, 220}, {20, 30, 300, 30}, {20, 200, 300, 200}};
    Segments three(frame.begin(), frame.begin() + 3), shortTop = frame, farOff = frame;
    shortTop[2][0] = 60;                   // stops short of the left segment
    farOff[1][3] = 100000;                 // far-off end points cross all the same
    const Points before = {{-1, -1, -1}};  // appended to, not replaced
    const Points corners = {{-1, -1, -1}, {40, 30, 0}, {40, 200, 0}, {280, 30, 0}, {280, 200, 0}};
    for (Segments segs : {frame, three, shortTop, farOff}) {
        Points out = before;
        get_boundary_vertices2(segs, out);
        EXPECT_EQ(out, segs == frame || segs == farOff ? corners : before);
    }
}

TEST(LineCorners, AppendsTheCornersAsACycleWithFirstAndThirdOpposite)
{
    const std::vector<Corners> quads = {
        {{40, 30}, {280, 30}, {280, 200}, {40, 200}},   // rectangle: both side pairs parallel
        {{60, 40}, {260, 80}, {236, 200}, {36, 160}},   // tilted rectangle
        {{100, 40}, {220, 40}, {290, 200}, {30, 200}},  // trapezoid
        {{50, 40}, {270, 30}, {290, 200}, {30, 210}},   // no side parallel
    };
    for (const Corners& q : quads) {
        Segments segs;  // left, right, top, bottom
        for (auto [i, j] : {std::pair{3, 0}, {1, 2}, {0, 1}, {3, 2}})
            segs.emplace_back((int)q[i].x, (int)q[i].y, (int)q[j].x, (int)q[j].y);
        Points out;
        get_boundary_vertices(segs, out);
        ASSERT_EQ(out.size(), 4u);
        int at[4];  // index of each appended point among q's corners
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(out[i][2], 1.0f);
            auto near = [&](cv::Point2f c) { return cv::norm(c - cv::Point2f(out[i][0], out[i][1])) < 0.01; };
            at[i] = (int)(std::find_if(q.begin(), q.end(), near) - q.begin());
        }
        EXPECT_TRUE(at[0] < 4 && at[1] < 4 && at[2] == (at[0] + 2) % 4 && at[3] == (at[1] + 2) % 4) << cv::Mat(out);
        segs.pop_back();
        get_boundary_vertices(segs, out);  // three segments: nothing more
        EXPECT_EQ(out.size(), 4u);
    }
}

TEST(RectangleCheck, AcceptsOnlyLargeSquareishQuadrangles)
{
    struct Case {
        int W, H;
        Corners c;
        bool accepted;
    } const cases[] = {
        {320, 240, {{60, 45}, {260, 45}, {260, 195}, {60, 195}}, true},     // 200 x 150
        {320, 240, {{60, 45}, {160, 45}, {160, 145}, {60, 145}}, false},    // area ratio 0.13
        {160, 160, {{100, 50}, {165, 100}, {100, 150}, {35, 100}}, true},   // diagonals 100 and 130
        {160, 160, {{100, 50}, {168, 100}, {100, 150}, {33, 100}}, false},  // diagonals 100 and 135
        {320, 240, {{105, 40}, {215, 40}, {300, 200}, {20, 200}}, true},    // base angles 62 degrees
        {320, 240, {{120, 40}, {200, 40}, {300, 200}, {20, 200}}, false},   // base angles 58 degrees
        {320, 240, {{130, 20}, {190, 20}, {300, 220}, {20, 220}}, true},    // shortest side 60
        {320, 240, {{130, 20}, {170, 20}, {280, 220}, {20, 220}}, false},   // shortest side 40 <= 48
        {320, 240, {{60, 45}, {260, 45}, {260, 195}}, false},
        {320, 240, {{NaN, 60}, {260, 60}, {260, 180}, {60, 180}}, false},
        {320, 240, {{6e9f, 60}, {260, 60}, {260, 180}, {60, 180}}, false},
        {0, 240, QUAD, false},
    };
    for (Case t : cases)
        EXPECT_EQ(checkRect(t.W, t.H, t.c), t.accepted) << cv::Mat(t.c).t();
}

TEST(BorderExpansion, MovesASideOutToAParallelStructureBeyondIt)
{
    const Corners lowTop = {{60, 15}, {260, 15}, {260, 180}, {60, 180}};
    const Corners lowerTop = {{60, 16}, {260, 16}, {260, 180}, {60, 180}};
    struct Case {
        cv::Rect white;
        Corners corners, expected;
    } const cases[] = {
        {{60, 30, 201, 1}, QUAD, {{60, 30}, {260, 30}, {260, 180}, {60, 180}}},   // rule above
        {{290, 60, 1, 121}, QUAD, {{60, 60}, {290, 60}, {290, 180}, {60, 180}}},  // rule on the right
        {{0, 30, 320, 1}, QUAD, QUAD},                                            // rule crossing the outer samples
        {{60, 0, 201, 51}, QUAD, QUAD},                                           // edge fewer than 11 pixels out
        {{}, QUAD, QUAD},                                                         // nothing beyond
        {{60, 2, 201, 1}, lowTop, lowTop},                                        // strip of 10 rows
        {{60, 2, 201, 1}, lowerTop, {{60, 2}, {260, 2}, {260, 180}, {60, 180}}},  // strip of 11 rows
    };
    for (Case t : cases) {
        cv::Mat img(240, 320, CV_8UC3, cv::Scalar::all(40));
        img(t.white).setTo(cv::Scalar::all(200));
        expand_vertices(img, t.corners);
        EXPECT_EQ(t.corners, t.expected) << t.white;
    }
}

TEST(BorderExpansion, LeavesABinaryGreyImageOrWithoutFourCornersAGreyOne)
{
    for (int count : {4, 3}) {
        cv::Mat img(240, 320, CV_8UC3, cv::Scalar(0, 0, 200));  // grey 60
        Corners c(QUAD.begin(), QUAD.begin() + count);
        expand_vertices(img, c);
        EXPECT_EQ(cv::norm(img, cv::Mat(240, 320, CV_8UC1, cv::Scalar(count == 4 ? 0 : 60)), cv::NORM_INF), 0.0);
    }
}

TEST(BorderExpansion, CornersOffTheImageOrNotNumbersAndBadWalksAreSafe)
{
    cv::Mat rules(240, 320, CV_8UC1, cv::Scalar(0));  // parallel structure in every strip
    for (int v = 3; v < 240; v += 25) {
        rules.row(v).setTo(255);
        rules.col(v).setTo(255);
    }
    const std::vector<Corners> cases = {
        {{-50, -40}, {400, -40}, {400, 300}, {-50, 300}}, {{2, 2}, {318, 2}, {318, 238}, {2, 238}},
        {{60, 300}, {260, 300}, {260, 400}, {60, 400}},   {{6e9f, 60}, {260, 60}, {260, 180}, {60, 180}},
        {{NaN, 60}, {260, 60}, {260, 180}, {60, NaN}},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        for (const cv::Mat& image : {rules, cv::Mat(), cv::Mat(1, 1, CV_8UC1, cv::Scalar(255))}) {
            cv::Mat img = image.clone();
            Corners c = cases[i];
            expand_vertices(img, c);
            // Corners that are no pixel positions stay as given.
            EXPECT_TRUE(i < 3 || std::memcmp(c.data(), cases[i].data(), 4 * sizeof(cv::Point2f)) == 0);
        }
    cv::Point2f a = QUAD[0], b = QUAD[1];  // a step of 0 or three side lines leave the side alone
    expandVerticalPoint(rules, Segments(4), a, b, 0);
    expandHorizontalPoint(rules, Segments(3), a, b, -1);
    EXPECT_TRUE(a == QUAD[0] && b == QUAD[1]);
}
