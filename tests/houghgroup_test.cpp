// Border-line candidates: Hough extraction, duplicate removal and grouping into sides.
#include "documentarea_internal.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

namespace {

using Lines = std::vector<cv::Vec2f>;

float radians(float degrees)
{
    return static_cast<float>(degrees * CV_PI / 180.0);
}

cv::Vec2f line(float rho, float degrees)
{
    return cv::Vec2f(rho, radians(degrees));
}

std::vector<int> range(int from, int to)
{
    std::vector<int> values;
    for (int i = from; i < to; ++i)
        values.push_back(i);
    return values;
}

std::vector<int> concat(std::vector<int> a, const std::vector<int>& b, const std::vector<int>& c)
{
    a.insert(a.end(), b.begin(), b.end());
    a.insert(a.end(), c.begin(), c.end());
    return a;
}

// Four sides pre-filled with a marker line, to see that grouping appends and what it leaves alone.
struct Sides {
    const cv::Vec2f marker{-1.0f, -1.0f};
    Lines left{marker}, right{marker}, top{marker}, bottom{marker};
    bool untouched() const
    {
        return left.size() == 1 && right.size() == 1 && top.size() == 1 && bottom.size() == 1;
    }
};

}  // namespace

// --- extraction -----------------------------------------------------------------------------------

TEST(BorderLineAngles, OnlyRectListsFiftyAnglesInOrder)
{
    EXPECT_EQ(borderLineAngles(true), concat(range(0, 15), range(165, 180), range(80, 100)));
}

TEST(BorderLineAngles, GeneralListsOneHundredAnglesInOrder)
{
    EXPECT_EQ(borderLineAngles(false), concat(range(0, 30), range(150, 180), range(70, 110)));
}

TEST(DetectHoughLines, FindsAxisParallelLines)
{
    cv::Mat edges = cv::Mat::zeros(100, 200, CV_8UC1);
    edges.col(50).setTo(255);
    edges.row(30).setTo(255);
    Lines lines;
    detectHoughLines(edges, &lines);
    bool vertical = false, horizontal = false;
    for (const cv::Vec2f& l : lines) {
        vertical |= std::fabs(l[0] - 50) < 1 && std::fabs(l[1]) < 0.01f;
        horizontal |= std::fabs(l[0] - 30) < 1 && std::fabs(l[1] - CV_PI / 2) < 0.01f;
    }
    EXPECT_TRUE(vertical);
    EXPECT_TRUE(horizontal);
}

TEST(DetectHoughLines, TooSmallForAPositiveThresholdGivesNoLines)
{
    cv::Mat edges(4, 40, CV_8UC1, cv::Scalar(255));
    Lines lines{cv::Vec2f(1, 1)};
    detectHoughLines(edges, &lines);
    EXPECT_TRUE(lines.empty());
}

TEST(DetectOptimalHoughLines, SortsByVotesAndSkipsUnlistedAngles)
{
    cv::Mat edges = cv::Mat::zeros(200, 200, CV_8UC1);
    cv::line(edges, cv::Point(20, 10), cv::Point(20, 190), cv::Scalar(255));    // 181 pixels, 0 degrees
    cv::line(edges, cv::Point(30, 150), cv::Point(170, 150), cv::Scalar(255));  // 141 pixels, 90 degrees
    cv::line(edges, cv::Point(40, 40), cv::Point(140, 140), cv::Scalar(255));   // 45 degrees: not listed
    std::vector<cv::Vec3f> lines;
    detectOptimalHoughLines(edges, &lines, 2, false);  // threshold 100
    ASSERT_GE(lines.size(), 2u);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_GE(lines[i - 1][2], lines[i][2]);
    EXPECT_NEAR(lines[0][1], 0.0, 1e-6);
    EXPECT_NEAR(lines[0][2], 181, 0.5);
    const std::vector<int> listed = borderLineAngles(false);
    for (const cv::Vec3f& l : lines) {
        const int degree = cvRound(l[1] * 180 / CV_PI);
        EXPECT_NE(std::find(listed.begin(), listed.end(), degree), listed.end()) << degree;
    }
}

TEST(DetectOptimalHoughLines, NoPositiveThresholdGivesNoLines)
{
    cv::Mat edges(30, 30, CV_8UC1, cv::Scalar(255));
    std::vector<cv::Vec3f> lines{cv::Vec3f(1, 1, 1)};
    detectOptimalHoughLines(edges, &lines, 40, true);
    EXPECT_TRUE(lines.empty());
    lines.assign(1, cv::Vec3f(1, 1, 1));
    detectOptimalHoughLines(edges, &lines, 0, true);
    EXPECT_TRUE(lines.empty());
}

// --- duplicate removal ------------------------------------------------------------------------------

TEST(RemoveSimilarHoughLines, RemovedLinesNoLongerServeAsReference)
{
    Lines lines{line(100, 0), line(104, 3), line(108, 6)};
    removeSimilarHoughLines(&lines, 5);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], line(100, 0));
    EXPECT_EQ(lines[1], line(108, 6));
}

TEST(RemoveSimilarHoughLines, ComparesAbsoluteRhoButNotWrappedAngles)
{
    Lines lines{line(-50, 10), line(52, 12), line(50, 0), line(50, 179)};
    removeSimilarHoughLines(&lines, 3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], line(50, 0));
    EXPECT_EQ(lines[2], line(50, 179));

    Lines empty;
    removeSimilarHoughLines(&empty, 5);
    EXPECT_TRUE(empty.empty());
}

TEST(RemoveCloseHoughLinesUsingRho, AbsoluteRhoWithinToleranceIsClose)
{
    Lines lines{line(-50, 0), line(20, 90), line(52, 170), line(53, 10), line(22, 0)};
    removeCloseHoughLinesUsingRho(&lines, 2);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], line(-50, 0));
    EXPECT_EQ(lines[1], line(20, 90));
    EXPECT_EQ(lines[2], line(53, 10));  // 3 from -50, and 52 is gone
}

TEST(RemoveCloseHoughLinesUsingDHS, ComparesTheAbsoluteThirdValue)
{
    std::vector<cv::Vec3f> lines{{1, 0, 10}, {500, 1, -14}, {2, 0, 16}, {3, 0, 30}};
    removeCloseHoughLinesUsingDHS(&lines, 5);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], cv::Vec3f(1, 0, 10));
    EXPECT_EQ(lines[1], cv::Vec3f(2, 0, 16));
    EXPECT_EQ(lines[2], cv::Vec3f(3, 0, 30));
}

// --- grouping --------------------------------------------------------------------------------------

TEST(GroupingByRho, SortsByDistanceOfAbsoluteRhoToTheImageEdges)
{
    Lines lines{line(30, 2), line(290, 178), line(-300, 175), line(20, 90), line(220, 88)};
    Sides s;
    getGroupingLinesUsingRho(320, 240, lines, &s.left, &s.right, &s.top, &s.bottom);
    EXPECT_EQ(s.left, (Lines{s.marker, line(30, 2)}));
    EXPECT_EQ(s.right, (Lines{s.marker, line(290, 178), line(-300, 175)}));
    EXPECT_EQ(s.top, (Lines{s.marker, line(20, 90)}));
    EXPECT_EQ(s.bottom, (Lines{s.marker, line(220, 88)}));
}

TEST(GroupingByRho, ProceedsWithOneVerticalLineAndStopsAtTheEmptySide)
{
    Lines lines{line(30, 0), line(20, 90), line(220, 90)};
    Lines left, right, top, bottom;
    getGroupingLinesUsingRho(320, 240, lines, &left, &right, &top, &bottom);
    EXPECT_EQ(left, (Lines{line(30, 0)}));
    EXPECT_TRUE(right.empty());
    EXPECT_TRUE(top.empty());
    EXPECT_TRUE(bottom.empty());

    Lines single{line(30, 0), line(20, 90)};
    Sides s;
    getGroupingLinesUsingRho(320, 240, single, &s.left, &s.right, &s.top, &s.bottom);
    EXPECT_TRUE(s.untouched());
}

namespace {

// The left side that grouping by rho keeps from `count` vertical lines at
// rho first, first + spacing, ..., with one frame line on each other side of
// a 1000 x 1000 image.
Lines groupedLeftSide(int count, float first, float spacing)
{
    Lines lines;
    for (int k = 0; k < count; ++k)
        lines.push_back(line(first + spacing * k, 0));
    lines.push_back(line(990, 0));
    lines.push_back(line(10, 90));
    lines.push_back(line(990, 90));
    Lines left, right, top, bottom;
    getGroupingLinesUsingRho(1000, 1000, lines, &left, &right, &top, &bottom);
    return left;
}

} // namespace

TEST(GroupingByRho, ElevenLinesTwentyApartAreNotThinnedAndTenAreNeverThinned)
{
    EXPECT_EQ(groupedLeftSide(11, 10, 20).size(), 11u);
    EXPECT_EQ(groupedLeftSide(10, 10, 1).size(), 10u);
}

TEST(GroupingByRho, TwelveLinesEightApartKeepEveryOtherOne)
{
    // Tolerance 10: each survivor removes its successor 8 away; 16 away stays.
    const Lines left = groupedLeftSide(12, 10, 8);
    ASSERT_EQ(left.size(), 6u);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(left[k][0], 10.0f + 16 * k);
}

TEST(GroupingByAnchorsFilteringRho, NeedsTwoLinesInEachFamily)
{
    Lines lines{line(30, 0), line(20, 90), line(220, 90)};
    Sides s;
    getGroupingLinesUsingDHS_FilteringRho(320, 240, lines, &s.left, &s.right, &s.top, &s.bottom);
    EXPECT_TRUE(s.untouched());
}

TEST(GroupingByAnchorsFilteringRho, A45DegreeLineJoinsTheHorizontalFamily)
{
    // As a vertical line it would leave only one horizontal line, and nothing would be grouped.
    Lines lines{line(30, 0), line(290, 0), line(20, 90), line(100, 45)};
    Lines left, right, top, bottom;
    getGroupingLinesUsingDHS_FilteringRho(320, 240, lines, &left, &right, &top, &bottom);
    EXPECT_EQ(left, (Lines{line(30, 0)}));
    EXPECT_EQ(right, (Lines{line(290, 0)}));
    EXPECT_EQ(top.size() + bottom.size(), 2u);
}

TEST(GroupingByAnchorsFilteringRho, SidesByNearerAnchor)
{
    // A vertical line through x = 160 of a 321-wide image is as near to both anchors: right.
    Lines lines{line(100, 0), line(160, 0), line(40, 90), line(200, 90)};
    Lines left, right, top, bottom;
    getGroupingLinesUsingDHS_FilteringRho(321, 240, lines, &left, &right, &top, &bottom);
    EXPECT_EQ(left, (Lines{line(100, 0)}));
    EXPECT_EQ(right, (Lines{line(160, 0)}));
    EXPECT_EQ(top, (Lines{line(40, 90)}));
    EXPECT_EQ(bottom, (Lines{line(200, 90)}));
}

TEST(GroupingByAnchors, FillsAllFourSidesOrNone)
{
    Lines lines{line(30, 0), line(290, 0), line(20, 90), line(40, 90)};  // no bottom line
    Sides s;
    getGroupingLinesUsingDHS(320, 240, lines, &s.left, &s.right, &s.top, &s.bottom);
    EXPECT_TRUE(s.untouched());

    lines.push_back(line(230, 92));
    getGroupingLinesUsingDHS(320, 240, lines, &s.left, &s.right, &s.top, &s.bottom);
    EXPECT_EQ(s.left, (Lines{s.marker, line(30, 0)}));
    EXPECT_EQ(s.right, (Lines{s.marker, line(290, 0)}));
    EXPECT_EQ(s.top, (Lines{s.marker, line(20, 90), line(40, 90)}));
    EXPECT_EQ(s.bottom, (Lines{s.marker, line(230, 92)}));
}

TEST(GroupingByAnchors, ThinsBySideDistance)
{
    // Twelve vertical lines 3 pixels apart near the left edge: tolerance 5 keeps every other one.
    Lines lines;
    for (int k = 0; k < 12; ++k)
        lines.push_back(line(3.0f * k, 0));
    lines.push_back(line(300, 0));
    lines.push_back(line(10, 90));
    lines.push_back(line(230, 90));
    Lines left, right, top, bottom;
    getGroupingLinesUsingDHS(320, 240, lines, &left, &right, &top, &bottom);
    ASSERT_EQ(left.size(), 6u);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(left[k], line(6.0f * k, 0));
    EXPECT_EQ(right, (Lines{line(300, 0)}));
}
