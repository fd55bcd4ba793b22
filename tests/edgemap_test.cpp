// Edge map builders and their preparations of the document-area detector.
#include "documentarea_internal.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

namespace {

const std::vector<cv::Point> kPage = {{70, 40}, {250, 50}, {245, 200}, {65, 190}};

// A bright, slightly rotated page with text lines and a long inner rule, on a smooth textured
// background, with a long table edge below the page; 320 x 240 like the reduced search images.
cv::Mat documentPhoto()
{
    cv::Mat photo(240, 320, CV_8UC3);
    cv::RNG rng(1234);
    rng.fill(photo, cv::RNG::UNIFORM, cv::Scalar(50, 70, 90), cv::Scalar(100, 120, 140));
    cv::GaussianBlur(photo, photo, cv::Size(0, 0), 3);
    cv::fillConvexPoly(photo, kPage, cv::Scalar(225, 228, 230));
    for (int y = 80; y < 170; y += 14)
        for (int x = 100; x < 200; x += 22)
            cv::rectangle(photo, cv::Rect(x, y, 14, 6), cv::Scalar(40, 40, 40), cv::FILLED);
    cv::line(photo, cv::Point(95, 72), cv::Point(215, 74), cv::Scalar(30, 30, 30), 2);
    cv::line(photo, cv::Point(5, 225), cv::Point(315, 225), cv::Scalar(230, 230, 230), 3);
    return photo;
}

// Pixels within `width` of the page outline.
cv::Mat outlineBand(int width)
{
    cv::Mat band = cv::Mat::zeros(240, 320, CV_8UC1);
    cv::polylines(band, kPage, true, cv::Scalar(255), 2 * width + 1);
    return band;
}

// Pixels at least `margin` inside the page outline.
cv::Mat pageInterior(int margin)
{
    cv::Mat inside = cv::Mat::zeros(240, 320, CV_8UC1);
    cv::fillConvexPoly(inside, kPage, cv::Scalar(255));
    cv::erode(inside, inside, cv::Mat(), cv::Point(-1, -1), margin);
    return inside;
}

int edgesIn(const cv::Mat& edges, const cv::Mat& mask)
{
    return cv::countNonZero(edges & mask);
}

bool isBinary(const cv::Mat& edges)
{
    return edges.type() == CV_8UC1 && cv::countNonZero((edges != 0) & (edges != 255)) == 0;
}

// The outline of the page carries edges along most of its length; no edge is far inside it.
void expectOutlineWithoutContent(const cv::Mat& edges)
{
    ASSERT_TRUE(isBinary(edges));
    ASSERT_EQ(edges.size(), cv::Size(320, 240));
    cv::Mat nearOutline = outlineBand(2);
    // The perimeter is about 680 pixels; each side contributes at least one edge line.
    EXPECT_GT(edgesIn(edges, nearOutline), 500);
    EXPECT_EQ(edgesIn(edges, pageInterior(8)), 0);
}

}  // namespace

// --- equalizeHistForColor ---------------------------------------------------------------------

TEST(EqualizeHistForColor, StretchesLuminanceOfAColourImage)
{
    cv::Mat src(60, 80, CV_8UC3);
    for (int y = 0; y < src.rows; ++y)
        for (int x = 0; x < src.cols; ++x)
            src.at<cv::Vec3b>(y, x) = cv::Vec3b(100 + x / 4, 110 + x / 4, 120 + x / 4);
    const cv::Mat before = src.clone();
    cv::Mat dst;
    ASSERT_TRUE(equalizeHistForColor(src, dst));
    ASSERT_EQ(dst.type(), CV_8UC3);
    cv::Mat grey;
    cv::cvtColor(dst, grey, cv::COLOR_BGR2GRAY);
    double lo, hi;
    cv::minMaxLoc(grey, &lo, &hi);
    EXPECT_LT(lo, 30);
    EXPECT_GT(hi, 225);
    EXPECT_EQ(cv::norm(src, before, cv::NORM_INF), 0);
}

TEST(EqualizeHistForColor, ExpandsGreyAndRejectsTwoChannels)
{
    cv::Mat grey(10, 10, CV_8UC1, cv::Scalar(90));
    grey.colRange(5, 10).setTo(100);
    cv::Mat dst;
    ASSERT_TRUE(equalizeHistForColor(grey, dst));
    EXPECT_EQ(dst.type(), CV_8UC3);

    cv::Mat twoChannels(10, 10, CV_8UC2, cv::Scalar(1, 2));
    cv::Mat untouched;
    EXPECT_FALSE(equalizeHistForColor(twoChannels, untouched));
    EXPECT_TRUE(untouched.empty());
}

// --- removeCenterEdge -------------------------------------------------------------------------

TEST(RemoveCenterEdge, ZeroesTheCentralRectangleOnly)
{
    cv::Mat img(50, 100, CV_8UC3, cv::Scalar(255, 255, 255));
    ASSERT_TRUE(removeCenterEdge(img));
    cv::Mat expected(50, 100, CV_8UC3, cv::Scalar(255, 255, 255));
    expected(cv::Rect(30, 15, 40, 20)).setTo(cv::Scalar::all(0));
    EXPECT_EQ(cv::norm(img, expected, cv::NORM_INF), 0);

    cv::Mat empty;
    EXPECT_FALSE(removeCenterEdge(empty));
}

// --- filterSmallEdge --------------------------------------------------------------------------

TEST(FilterSmallEdge, NothingToKeepReturnsFalseAndLeavesDstAlone)
{
    cv::Mat src = cv::Mat::zeros(100, 200, CV_8UC1);
    cv::Mat dst(3, 3, CV_8UC1, cv::Scalar(7));
    const uchar* data = dst.data;
    EXPECT_FALSE(filterSmallEdge(src, dst, 10, false));
    EXPECT_EQ(dst.data, data);
    EXPECT_EQ(dst.at<uchar>(1, 1), 7);
}

TEST(FilterSmallEdge, DropsFragmentsSmallerThanTheDivisorInBothDirections)
{
    cv::Mat src = cv::Mat::zeros(100, 200, CV_8UC1);
    src(cv::Rect(10, 10, 19, 9)).setTo(255);   // 19 x 9: below 20 and 10, dropped
    src(cv::Rect(50, 50, 20, 1)).setTo(255);   // wide enough, kept
    src(cv::Rect(150, 20, 1, 10)).setTo(255);  // tall enough, kept
    cv::Mat dst;
    ASSERT_TRUE(filterSmallEdge(src, dst, 10, false));
    EXPECT_EQ(cv::countNonZero(dst), 30);
    EXPECT_EQ(cv::countNonZero(dst(cv::Rect(10, 10, 19, 9))), 0);
    EXPECT_EQ(dst.at<uchar>(50, 69), 255);
    EXPECT_EQ(dst.at<uchar>(29, 150), 255);

    src = cv::Mat::zeros(100, 200, CV_8UC1);
    src(cv::Rect(10, 10, 19, 9)).setTo(255);
    EXPECT_FALSE(filterSmallEdge(src, dst, 10, false));
}

TEST(FilterSmallEdge, KeepLargestOnlyPrefersTheFirstFoundOfEqualSize)
{
    cv::Mat src = cv::Mat::zeros(40, 40, CV_8UC1);
    src(cv::Rect(30, 5, 5, 2)).setTo(255);  // found first (row 5)
    src(cv::Rect(2, 20, 5, 2)).setTo(255);  // same pixel count, found later
    src(cv::Rect(2, 35, 3, 1)).setTo(255);
    cv::Mat dst;
    ASSERT_TRUE(filterSmallEdge(src, dst, 10, true));
    EXPECT_EQ(cv::countNonZero(dst), 10);
    EXPECT_EQ(cv::countNonZero(dst(cv::Rect(30, 5, 5, 2))), 10);
}

TEST(FilterSmallEdge, DiagonalNeighboursFormOneComponent)
{
    cv::Mat src = cv::Mat::zeros(40, 40, CV_8UC1);
    for (int i = 0; i < 12; ++i)
        src.at<uchar>(5 + i, 5 + i) = 255;  // 12 pixels touching only at corners
    src(cv::Rect(20, 30, 11, 1)).setTo(255);
    cv::Mat dst;
    ASSERT_TRUE(filterSmallEdge(src, dst, 10, true));
    EXPECT_EQ(cv::countNonZero(dst), 12);
    EXPECT_EQ(dst.at<uchar>(16, 16), 255);
}

TEST(FilterSmallEdge, ConvertsAColourSourceToGreyInPlace)
{
    cv::Mat src = cv::Mat::zeros(50, 50, CV_8UC3);
    cv::line(src, cv::Point(0, 25), cv::Point(49, 25), cv::Scalar(255, 255, 255));
    cv::Mat dst;
    ASSERT_TRUE(filterSmallEdge(src, dst, 5, false));
    EXPECT_EQ(src.channels(), 1);
    EXPECT_EQ(cv::countNonZero(dst), 50);
}

TEST(FilterSmallEdge, ZeroDivisorKeepsNothingAndANegativeOneKeepsEverything)
{
    cv::Mat src = cv::Mat::zeros(20, 20, CV_8UC1);
    src.row(3).setTo(255);
    src.at<uchar>(10, 10) = 255;
    cv::Mat dst;
    EXPECT_FALSE(filterSmallEdge(src, dst, 0, false));
    EXPECT_TRUE(dst.empty());
    // Bounds of 20 / -3 = -6 pixels: even the single pixel reaches them.
    ASSERT_TRUE(filterSmallEdge(src, dst, -3, false));
    EXPECT_EQ(cv::countNonZero(dst), 21);
}

// --- edge builders ------------------------------------------------------------------------------

TEST(DetectEdgeUsingCanny, KeepsThePageOutlineAndDropsWhatItEncloses)
{
    cv::Mat photo = documentPhoto();
    cv::Mat dst;
    ASSERT_TRUE(detectEdgeUsingCanny(photo, dst));
    expectOutlineWithoutContent(dst);
    // The table edge below the page reaches beyond the outline's box and is long: it stays.
    EXPECT_GT(cv::countNonZero(dst.rowRange(220, 231)), 250);
}

TEST(DetectEdgeUsingCanny, FrameOnlyImageKeepsTheFrame)
{
    cv::Mat frame = cv::Mat::zeros(120, 160, CV_8UC1);
    cv::rectangle(frame, cv::Rect(20, 15, 120, 90), cv::Scalar(255), 3);
    cv::Mat dst;
    ASSERT_TRUE(detectEdgeUsingCanny(frame, dst));
    EXPECT_GT(cv::countNonZero(dst.rowRange(10, 15)), 100);  // outer edge of the top side
}

TEST(DetectEdgeUsingCanny, BlankImageReleasesDstAndFails)
{
    cv::Mat blank(60, 80, CV_8UC1, cv::Scalar(128));
    cv::Mat dst(5, 5, CV_8UC1, cv::Scalar(1));
    EXPECT_FALSE(detectEdgeUsingCanny(blank, dst));
    EXPECT_TRUE(dst.empty());
}

TEST(DetectEdgeUsingWatershedAndCanny, FindsThePageBoundaryAndClearsTheFrame)
{
    cv::Mat photo = documentPhoto();
    cv::Mat dst;
    ASSERT_TRUE(detectEdgeUsingWatershedAndCanny(photo, dst));
    ASSERT_TRUE(isBinary(dst));
    EXPECT_GT(edgesIn(dst, outlineBand(2)), 500);
    // Text is small and the inner rule is shorter than the size bound only in height, so the
    // interior keeps at most that rule.
    cv::Mat interior = pageInterior(8);
    interior(cv::Rect(90, 68, 130, 10)).setTo(0);
    EXPECT_EQ(edgesIn(dst, interior), 0);
    EXPECT_EQ(cv::countNonZero(dst.row(0)), 0);
    EXPECT_EQ(cv::countNonZero(dst.col(0)), 0);
}

TEST(DetectEdgeUsingCannyInHSV, ExpandsGreySourceAndFindsTheOutline)
{
    cv::Mat grey, dst;
    cv::cvtColor(documentPhoto(), grey, cv::COLOR_BGR2GRAY);
    ASSERT_TRUE(detectEdgeUsingCannyInHSV(grey, dst));
    ASSERT_TRUE(isBinary(dst));
    EXPECT_EQ(grey.channels(), 3);
    EXPECT_GT(edgesIn(dst, outlineBand(3)), 500);
}

TEST(DetectEdgeUsingDOC, UniformImageGivesAnEmptyMap)
{
    cv::Mat uniform(60, 80, CV_8UC3, cv::Scalar(90, 90, 90));
    cv::Mat dst;
    ASSERT_TRUE(detectEdgeUsingDOC(uniform, dst));
    EXPECT_EQ(dst.size(), uniform.size());
    EXPECT_EQ(cv::countNonZero(dst), 0);
}

TEST(EdgeBuilders, EmptyOrUnconvertibleInputFailsQuietly)
{
    using Builder = bool (*)(cv::Mat&, cv::Mat&);
    for (Builder build : {detectEdgeUsingCanny, detectEdgeUsingWatershedAndCanny, detectEdgeUsingCannyInHSV,
                          detectEdgeUsingDOC}) {
        cv::Mat empty, dst;
        EXPECT_FALSE(build(empty, dst));
        cv::Mat twoChannels(20, 20, CV_8UC2, cv::Scalar(3, 4));
        EXPECT_FALSE(build(twoChannels, dst));
    }
}

TEST(EdgeBuilders, TinyImagesDoNotThrow)
{
    using Builder = bool (*)(cv::Mat&, cv::Mat&);
    for (Builder build : {detectEdgeUsingCanny, detectEdgeUsingWatershedAndCanny, detectEdgeUsingCannyInHSV,
                          detectEdgeUsingDOC}) {
        for (int side : {1, 2, 3}) {
            cv::Mat tiny(side, side, CV_8UC3, cv::Scalar(10, 200, 30));
            cv::Mat dst;
            EXPECT_NO_THROW(build(tiny, dst));
        }
    }
}

// --- a real photograph -------------------------------------------------------------------------

namespace {

// A SmartDoc 2015 frame reduced to 320 x 240 as the document search does, and its page corners.
struct RealPhoto {
    cv::Mat image;
    std::vector<cv::Point> page;
};

RealPhoto smartDocFrame()
{
    const cv::Mat frame =
        cv::imread(std::string(TARVEK_TEST_DATA) + "/smartdoc2015/background01_datasheet001_frame_0118.jpeg");
    RealPhoto photo;
    if (frame.empty())
        return photo;
    cv::resize(frame, photo.image, cv::Size(320, 240), 0, 0, cv::INTER_AREA);
    const double sx = 320.0 / frame.cols, sy = 240.0 / frame.rows;
    for (const cv::Point2d corner : {cv::Point2d(873.337, 187.504), cv::Point2d(1318.93, 157.786),
                                     cv::Point2d(1485.79, 778.216), cv::Point2d(973.83, 841.992)})
        photo.page.emplace_back(cvRound(corner.x * sx), cvRound(corner.y * sy));
    return photo;
}

// Share of the page outline's pixels that have an edge within `reach` pixels.
double outlineCoverage(const cv::Mat& edges, const std::vector<cv::Point>& page, int reach)
{
    cv::Mat outline = cv::Mat::zeros(edges.size(), CV_8UC1);
    cv::polylines(outline, page, true, cv::Scalar(255), 1);
    cv::Mat nearEdge;
    cv::dilate(edges, nearEdge, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * reach + 1, 2 * reach + 1)));
    return static_cast<double>(cv::countNonZero(outline & nearEdge)) / cv::countNonZero(outline);
}

int interiorEdges(const cv::Mat& edges, const std::vector<cv::Point>& page, int margin)
{
    cv::Mat inside = cv::Mat::zeros(edges.size(), CV_8UC1);
    cv::fillConvexPoly(inside, page, cv::Scalar(255));
    cv::erode(inside, inside, cv::Mat(), cv::Point(-1, -1), margin);
    return cv::countNonZero(edges & inside);
}

}  // namespace

TEST(EdgeBuildersOnAPhoto, EveryBuilderFollowsThePageOutline)
{
    const RealPhoto photo = smartDocFrame();
    ASSERT_FALSE(photo.image.empty());
    using Builder = bool (*)(cv::Mat&, cv::Mat&);
    // The blurred difference places its edges a few pixels off the outline.
    const struct {
        Builder build;
        int reach;
    } cases[] = {{detectEdgeUsingCanny, 3}, {detectEdgeUsingWatershedAndCanny, 3}, {detectEdgeUsingCannyInHSV, 3},
                 {detectEdgeUsingDOC, 9}};
    for (const auto& c : cases) {
        cv::Mat src = photo.image.clone(), dst;
        ASSERT_TRUE(c.build(src, dst));
        EXPECT_GT(outlineCoverage(dst, photo.page, c.reach), 0.9);
    }
}

TEST(EdgeBuildersOnAPhoto, CannyBuilderDropsThePrintedContent)
{
    RealPhoto photo = smartDocFrame();
    ASSERT_FALSE(photo.image.empty());
    cv::Mat dst;
    ASSERT_TRUE(detectEdgeUsingCanny(photo.image, dst));
    EXPECT_EQ(interiorEdges(dst, photo.page, 6), 0);
    // Without the component filter the page's print gives plenty of interior edges.
    cv::Mat grey, blurred, raw;
    cv::cvtColor(photo.image, grey, cv::COLOR_BGR2GRAY);
    cv::medianBlur(grey, blurred, 5);
    cv::Canny(blurred, raw, 30, 90);
    EXPECT_GT(interiorEdges(raw, photo.page, 6), 200);
}
