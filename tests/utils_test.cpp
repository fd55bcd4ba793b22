#include "utils.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

using namespace tarvek::utils;

namespace {

double segmentLength(const cv::Vec4i& s) {
    return std::hypot(static_cast<double>(s[2] - s[0]), static_cast<double>(s[3] - s[1]));
}

void expectCoefficients(const cv::Mat& out, std::initializer_list<double> expected) {
    ASSERT_EQ(out.type(), CV_64F);
    ASSERT_EQ(out.rows, static_cast<int>(expected.size()));
    ASSERT_EQ(out.cols, 1);
    int i = 0;
    for (double e : expected)
        EXPECT_NEAR(out.at<double>(i++), e, 1e-9) << "coefficient " << i - 1;
}

// A page of dark "text" strokes on light paper.
cv::Mat textPage() {
    cv::Mat page(600, 800, CV_8UC1, cv::Scalar(235));
    for (int line = 0; line < 12; ++line)
        cv::putText(page, "The quick brown fox jumps 0123", cv::Point(60, 80 + line * 40),
                    cv::FONT_HERSHEY_SIMPLEX, 0.9, cv::Scalar(20), 2);
    return page;
}

}  // namespace

// --- Grey and colour conversion ---------------------------------------------

TEST(GrayImage, OneChannelIsSharedNotCopied) {
    cv::Mat src(4, 5, CV_8UC1, cv::Scalar(7));
    cv::Mat dst;
    ASSERT_TRUE(getGrayImage(src, dst));
    EXPECT_EQ(dst.data, src.data);
}

TEST(GrayImage, FourChannelsAreReadAsRgba) {
    cv::Mat rgba(2, 2, CV_8UC4, cv::Scalar(255, 0, 0, 0));
    cv::Mat dst;
    ASSERT_TRUE(getGrayImage(rgba, dst));
    ASSERT_EQ(dst.type(), CV_8UC1);
    EXPECT_EQ(dst.at<uchar>(0, 0), 76);  // red weight, not blue

    cv::Mat bgr(2, 2, CV_8UC3, cv::Scalar(255, 0, 0));
    ASSERT_TRUE(getGrayImage(bgr, dst));
    EXPECT_EQ(dst.at<uchar>(1, 1), 29);  // blue weight
}

TEST(GrayImage, OtherChannelCountsFailAndLeaveDstAlone) {
    cv::Mat src(3, 3, CV_8UC2, cv::Scalar(1, 2));
    cv::Mat dst(1, 1, CV_8UC1, cv::Scalar(9));
    uchar* before = dst.data;
    EXPECT_FALSE(getGrayImage(src, dst));
    EXPECT_EQ(dst.data, before);
    EXPECT_FALSE(getColorImage(src, dst));
    EXPECT_EQ(dst.data, before);
    EXPECT_EQ(dst.at<uchar>(0, 0), 9);
}

TEST(ColorImage, ConversionsByChannelCount) {
    cv::Mat bgr(2, 3, CV_8UC3, cv::Scalar(1, 2, 3));
    cv::Mat dst;
    ASSERT_TRUE(getColorImage(bgr, dst));
    EXPECT_EQ(dst.data, bgr.data);

    cv::Mat rgba(2, 3, CV_8UC4, cv::Scalar(10, 20, 30, 40));
    ASSERT_TRUE(getColorImage(rgba, dst));
    ASSERT_EQ(dst.type(), CV_8UC3);
    EXPECT_EQ(dst.at<cv::Vec3b>(1, 2), cv::Vec3b(30, 20, 10));

    cv::Mat gray(2, 3, CV_8UC1, cv::Scalar(77));
    ASSERT_TRUE(getColorImage(gray, dst));
    ASSERT_EQ(dst.type(), CV_8UC3);
    EXPECT_EQ(dst.at<cv::Vec3b>(0, 0), cv::Vec3b(77, 77, 77));
}

// --- Distances and areas ----------------------------------------------------

TEST(Distance, IntegerAndFloatPoints) {
    EXPECT_DOUBLE_EQ(calcDistance(cv::Point(0, 0), cv::Point(3, 4)), 5.0);
    EXPECT_DOUBLE_EQ(calcDistance(cv::Point(3, 4), cv::Point(0, 0)), 5.0);
    EXPECT_DOUBLE_EQ(calcDistance2(cv::Point2f(0, 0), cv::Point2f(3, 4)), 5.0);
}

TEST(Distance, FarApartIntegerPointsDoNotOverflow) {
    // 50000² + 50000² exceeds the int range.
    EXPECT_DOUBLE_EQ(calcDistance(cv::Point(-25000, 0), cv::Point(25000, 50000)),
                     50000.0 * std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(calcDistance(cv::Point(INT_MIN, 0), cv::Point(INT_MAX, 0)), 4294967295.0);
}

TEST(Distance, FloatVersionSumsInSinglePrecision) {
    const cv::Point2f a(0.1f, 0.7f), b(1234.567f, 89.123f);
    const float dx = b.x - a.x, dy = b.y - a.y;
    const double single = std::sqrt(static_cast<double>(dx * dx + dy * dy));
    const double twice = std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
    ASSERT_NE(single, twice);
    EXPECT_EQ(calcDistance2(a, b), single);
}

TEST(PolygonArea, SignFollowsOrientation) {
    std::vector<cv::Point2f> square{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    EXPECT_EQ(calcPolygonArea(square), -100);
    std::vector<cv::Point2f> reversed(square.rbegin(), square.rend());
    EXPECT_EQ(calcPolygonArea(reversed), 100);
    std::vector<cv::Point2f> none;
    EXPECT_EQ(calcPolygonArea(none), 0);
}

TEST(PolygonArea, EveryPartialSumIsTruncated) {
    // Each shoelace term is -3.5; the int accumulator runs -3, -6, -9, -12
    // instead of reaching -14, so the diamond of area 7 reports 6.
    std::vector<cv::Point2f> diamond{{0, 0}, {7, 0.5f}, {0, 1}, {-7, 0.5f}};
    EXPECT_EQ(calcPolygonArea(diamond), -6);
}

TEST(PolygonArea, HugeOrInvalidCoordinatesStayDefined) {
    // Partial sums beyond the int range clamp instead of wrapping.
    std::vector<cv::Point2f> huge{{0, 0}, {1e6f, 0}, {1e6f, 1e6f}, {0, 1e6f}};
    EXPECT_EQ(calcPolygonArea(huge), INT_MIN / 2);
    std::vector<cv::Point2f> nan{{0, 0}, {std::nanf(""), 0}, {10, 10}};
    EXPECT_EQ(calcPolygonArea(nan), 0);
}

// --- Reverse-page test ------------------------------------------------------

TEST(IsReverse, DarkTextOnLightPaperIsNotReversed) {
    cv::Mat page = textPage();
    EXPECT_FALSE(isReverse(page));
}

TEST(IsReverse, NegativePageIsReversed) {
    cv::Mat negative = 255 - textPage();
    EXPECT_TRUE(isReverse(negative));
    cv::Mat portrait = negative.t();  // the taller-than-wide resize path
    EXPECT_TRUE(isReverse(portrait));
}

TEST(IsReverse, UniformImageIsNotReversed) {
    cv::Mat uniform(300, 200, CV_8UC1, cv::Scalar(128));
    EXPECT_FALSE(isReverse(uniform));
}

TEST(IsReverse, EmptyImageIsNotReversed) {
    cv::Mat empty;
    EXPECT_FALSE(isReverse(empty));
}

TEST(IsReverse, VeryFlatImageStillWorks) {
    // 1000×2 scales to 640×1, which is raised to the minimum height of 2.
    cv::Mat flat(2, 1000, CV_8UC1, cv::Scalar(200));
    EXPECT_FALSE(isReverse(flat));
}

// --- Packed pixels ----------------------------------------------------------

TEST(PackedPixels, GreyIsPlainMeanOfColourBytes) {
    int pixels[] = {static_cast<int>(0xFF0A141Eu), static_cast<int>(0x00FFFFFEu)};
    cv::Mat dst;
    intToMat8U(pixels, dst, 2, 1);
    ASSERT_EQ(dst.type(), CV_8UC1);
    ASSERT_EQ(dst.size(), cv::Size(2, 1));
    EXPECT_EQ(dst.at<uchar>(0, 0), 20);
    EXPECT_EQ(dst.at<uchar>(0, 1), 254);  // (255 + 255 + 254) / 3, truncated
}

TEST(PackedPixels, ChannelOrderAndForcedAlpha) {
    cv::Mat src(1, 1, CV_8UC3, cv::Scalar(1, 2, 3));
    int packed = 0;
    matToInt(src, &packed);
    EXPECT_EQ(static_cast<std::uint32_t>(packed), 0xFF010203u);

    int pixels[] = {static_cast<int>(0x12A0B0C0u)};
    cv::Mat dst;
    intToMat(pixels, dst, 1, 1);
    EXPECT_EQ(dst.at<cv::Vec3b>(0, 0), cv::Vec3b(0xA0, 0xB0, 0xC0));
}

TEST(PackedPixels, RoundTripIsExactWithOpaqueAlpha) {
    const int width = 5, height = 3;
    std::vector<int> pixels(width * height);
    for (int i = 0; i < width * height; ++i)
        pixels[i] = static_cast<int>(0xFF000000u | static_cast<std::uint32_t>(i * 997 + 13));
    cv::Mat image;
    intToMat(pixels.data(), image, width, height);
    ASSERT_EQ(image.size(), cv::Size(width, height));
    std::vector<int> back(width * height);
    matToInt(image, back.data());
    EXPECT_EQ(back, pixels);
}

TEST(PackedPixels, MatToIntReadsRegionsOfInterestRowByRow) {
    cv::Mat big(4, 4, CV_8UC3, cv::Scalar(0, 0, 0));
    big.at<cv::Vec3b>(2, 1) = cv::Vec3b(9, 8, 7);
    cv::Mat roi = big(cv::Rect(1, 1, 2, 2));
    int packed[4] = {};
    matToInt(roi, packed);
    EXPECT_EQ(static_cast<std::uint32_t>(packed[2]), 0xFF090807u);
    EXPECT_EQ(static_cast<std::uint32_t>(packed[3]), 0xFF000000u);
}

TEST(PackedPixels, ResultIsANewMatrix) {
    cv::Mat other(1, 1, CV_8UC1, cv::Scalar(5));
    cv::Mat dst = other;
    int pixels[] = {static_cast<int>(0xFF636363u)};
    intToMat8U(pixels, dst, 1, 1);
    EXPECT_EQ(dst.at<uchar>(0, 0), 0x63);
    EXPECT_EQ(other.at<uchar>(0, 0), 5);
}

// --- Least squares ----------------------------------------------------------

TEST(LeastSquares, StraightLine) {
    std::vector<cv::Point> pts{{0, 1}, {1, 3}, {2, 5}};
    cv::Mat out;
    doLSM2D_1(pts, out);
    expectCoefficients(out, {2, 1});
}

TEST(LeastSquares, SingularSystemsGiveZeros) {
    cv::Mat out;
    std::vector<cv::Point> one{{3, 5}};
    doLSM2D_1(one, out);
    expectCoefficients(out, {0, 0});

    // Two distinct columns cannot fix a parabola.
    std::vector<cv::Point> twoColumns{{1, 2}, {1, 4}, {5, 7}, {5, 9}};
    doLSM2D_2(twoColumns, out);
    expectCoefficients(out, {0, 0, 0});

    // Collinear points cannot fix a plane.
    std::vector<cv::Point> collinear{{0, 0}, {1, 1}, {2, 2}, {3, 3}};
    std::vector<int> z{1, 2, 3, 4};
    doLSM3D_1(collinear, z, out);
    expectCoefficients(out, {0, 0, 0});

    std::vector<cv::Point> none;
    doLSM2D_1(none, out);
    expectCoefficients(out, {0, 0});
}

TEST(LeastSquares, Parabola) {
    std::vector<cv::Point> pts;
    for (int x = -3; x <= 4; ++x)
        pts.emplace_back(x, 2 * x * x - 3 * x + 1);
    cv::Mat out;
    doLSM2D_2(pts, out);
    expectCoefficients(out, {2, -3, 1});
}

TEST(LeastSquares, NoisyLineIsFittedInTheLeastSquaresSense) {
    // Residuals +1, -1, -1, +1 around y = x cancel in both normal equations.
    std::vector<cv::Point> pts{{0, 1}, {1, 0}, {2, 1}, {3, 4}};
    cv::Mat out;
    doLSM2D_1(pts, out);
    const double a = out.at<double>(0), b = out.at<double>(1);
    double sr = 0, sxr = 0;
    for (const cv::Point& p : pts) {
        const double r = p.y - (a * p.x + b);
        sr += r;
        sxr += p.x * r;
    }
    EXPECT_NEAR(sr, 0, 1e-9);
    EXPECT_NEAR(sxr, 0, 1e-9);
}

TEST(LeastSquares, Plane) {
    std::vector<cv::Point> pts;
    std::vector<int> z;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            pts.emplace_back(x, y);
            z.push_back(2 * x - y + 5);
        }
    cv::Mat out;
    doLSM3D_1(pts, z, out);
    expectCoefficients(out, {2, -1, 5});
}

// --- RANSAC building blocks -------------------------------------------------

TEST(RansacBlocks, IterationCounts) {
    EXPECT_EQ(ransacIterationCount(0.99, 0.5, 2) * 3, 51);
    const int expected[] = {3, 5, 7, 9, 12};
    for (int s = 1; s <= 5; ++s)
        EXPECT_EQ(ransacIterationCount(0.99, 0.8, s), expected[s - 1]) << "sample size " << s;
}

TEST(RansacBlocks, GetDataTakesExactly255RowByRow) {
    cv::Mat img(3, 4, CV_8UC1, cv::Scalar(0));
    img.at<uchar>(2, 0) = 255;
    img.at<uchar>(0, 3) = 255;
    img.at<uchar>(1, 1) = 254;
    img.at<uchar>(1, 2) = 255;
    const std::vector<cv::Point> expected{{3, 0}, {2, 1}, {0, 2}};
    EXPECT_EQ(getData(img), expected);
}

TEST(RansacBlocks, DuplicateTest) {
    std::vector<cv::Point> pts{{1, 2}, {3, 4}};
    EXPECT_TRUE(isDuplicateData(pts, cv::Point(3, 4)));
    EXPECT_FALSE(isDuplicateData(pts, cv::Point(4, 3)));
    std::vector<cv::Point> none;
    EXPECT_FALSE(isDuplicateData(none, cv::Point(0, 0)));
}

TEST(RansacBlocks, RandomSamplesAreDistinctAndSkipDrawnPoints) {
    std::vector<cv::Point> data{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {1, 0}};
    for (int round = 0; round < 50; ++round) {
        std::vector<cv::Point> drawn;
        std::vector<cv::Point> samples(3);
        getRandomSample(data, drawn, samples, 3);
        ASSERT_EQ(drawn.size(), 3u);
        EXPECT_NE(samples[0], samples[1]);
        EXPECT_NE(samples[0], samples[2]);
        EXPECT_NE(samples[1], samples[2]);
        for (const cv::Point& s : samples)
            EXPECT_TRUE(isDuplicateData(data, s));
    }
    // With every point but two already drawn, the sample is those two.
    std::vector<cv::Point> drawn{{0, 0}, {2, 0}, {4, 0}};
    std::vector<cv::Point> samples;  // grown to the sample size
    getRandomSample(data, drawn, samples, 2);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_TRUE((samples[0] == cv::Point(1, 0) && samples[1] == cv::Point(3, 0)) ||
                (samples[0] == cv::Point(3, 0) && samples[1] == cv::Point(1, 0)));
    EXPECT_EQ(drawn.size(), 5u);
}

TEST(RansacBlocks, ModelIsPrincipalAxisThroughCentroid) {
    cv::Vec4f model;
    std::vector<cv::Point> horizontal{{0, 5}, {4, 5}, {8, 5}};
    computeModelParameter(horizontal, 3, model);
    EXPECT_FLOAT_EQ(model[0], 1);
    EXPECT_FLOAT_EQ(model[1], 0);
    EXPECT_FLOAT_EQ(model[2], 4);
    EXPECT_FLOAT_EQ(model[3], 5);

    std::vector<cv::Point> vertical{{2, 0}, {2, 10}};
    computeModelParameter(vertical, 2, model);
    EXPECT_NEAR(model[0], 0, 1e-6);
    EXPECT_FLOAT_EQ(model[1], 1);
    EXPECT_FLOAT_EQ(model[3], 5);

    // Only the first count points count: the far point is ignored.
    std::vector<cv::Point> diagonal{{0, 0}, {2, 2}, {100, -7}};
    computeModelParameter(diagonal, 2, model);
    EXPECT_FLOAT_EQ(model[0], static_cast<float>(std::sqrt(0.5)));
    EXPECT_FLOAT_EQ(model[1], static_cast<float>(std::sqrt(0.5)));
    EXPECT_FLOAT_EQ(model[2], 1);
    EXPECT_FLOAT_EQ(model[3], 1);

    const cv::Vec4f before = model;
    computeModelParameter(diagonal, 0, model);
    EXPECT_EQ(model, before);
}

TEST(RansacBlocks, DistanceToDirectionPointModel) {
    cv::Vec4f model(1, 0, 0, 0);
    cv::Point p(3, 4);
    EXPECT_FLOAT_EQ(computeDistance(model, p), 4);
    cv::Vec4f unnormalised(2, 0, 10, 1);
    EXPECT_FLOAT_EQ(computeDistance(unnormalised, p), 3);
}

TEST(RansacBlocks, VerificationCountsStrictlyCloserPoints) {
    cv::Vec4f model(1, 0, 0, 0);  // the x axis
    std::vector<cv::Point> data{{0, 0}, {5, 1}, {7, -1}, {9, 0}, {1, 3}, {2, 0}};
    std::vector<cv::Point> inliers(data.size());
    int count = -1;
    double cost = modelVerification(&inliers, &count, model, data, 6, 1.5);
    EXPECT_EQ(count, 5);
    EXPECT_DOUBLE_EQ(cost, 2.0);
    const std::vector<cv::Point> expected{{0, 0}, {5, 1}, {7, -1}, {9, 0}, {2, 0}};
    EXPECT_EQ(std::vector<cv::Point>(inliers.begin(), inliers.begin() + 5), expected);

    // Distance exactly at the threshold is out; only the first n points count.
    cost = modelVerification(&inliers, &count, model, data, 3, 1.0);
    EXPECT_EQ(count, 1);
    EXPECT_DOUBLE_EQ(cost, 0.0);

    // A model without direction gives NaN or infinite distances: no inliers.
    cv::Vec4f none(0, 0, 0, 0);
    cost = modelVerification(&inliers, &count, none, data, 6, 1.5);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(cost, 0.0);

    // A too small inlier buffer is not overrun; the count stays complete.
    std::vector<cv::Point> small(2);
    modelVerification(&small, &count, model, data, 6, 1.5);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(small.size(), 2u);
}

TEST(RansacBlocks, CrossPointTruncatesXBeforeY) {
    EXPECT_EQ(getCrossPoint(1, 0, -1, 3), cv::Point(1, 1));
    // x = -1.5 truncates toward zero to -1, and y follows from the truncated x.
    EXPECT_EQ(getCrossPoint(1, 0, -1, -3), cv::Point(-1, -1));
    // x = 8/3 becomes 2, so y is 2·2 + 1 = 5, not (int)(2·8/3 + 1) = 6.
    EXPECT_EQ(getCrossPoint(2, 1, -1, 9), cv::Point(2, 5));
    // Parallel lines give some point without undefined arithmetic.
    getCrossPoint(2, 1, 2, 5);
    getCrossPoint(2, 1, 2, 1);
}

TEST(RansacBlocks, DistanceToImplicitLine) {
    EXPECT_DOUBLE_EQ(calcDistanceToLine(3, 4, -5, cv::Point(0, 0)), 1.0);
    EXPECT_DOUBLE_EQ(calcDistanceToLine(0, 2, -4, cv::Point(7, 5)), 3.0);
}

// --- selectLine ---------------------------------------------------------------

TEST(SelectLine, NoLines) {
    std::vector<cv::Point> pts{{1, 1}};
    std::vector<cv::Vec2f> lines;
    cv::Vec4i out(1, 2, 3, 4);
    EXPECT_EQ(selectLine(pts, lines, cv::Point(5, 5), out), INT_MIN);
    EXPECT_EQ(out, cv::Vec4i(0, 0, 0, 0));
}

TEST(SelectLine, SmallestSumWinsAndSegmentIsShifted) {
    std::vector<cv::Point> pts{{3, 0}, {3, 5}, {4, 9}};
    std::vector<cv::Vec2f> lines{cv::Vec2f(0, 0), cv::Vec2f(3, 0), cv::Vec2f(3, CV_PI / 2)};
    cv::Vec4i out;
    // x = 3 is off by 0 + 0 + 1; the sum is returned truncated.
    EXPECT_EQ(selectLine(pts, lines, cv::Point(10, 20), out), 1);
    EXPECT_EQ(out, cv::Vec4i(13, 1020, 13, -980));

    std::vector<cv::Point> near{{3, 0}, {3, 1}, {5, 2}, {3, 3}};  // 0 + 0 + 2 + 0
    std::vector<cv::Vec2f> tilted{cv::Vec2f(3, 0), cv::Vec2f(3.7f, 0)};
    // x = 3: sum 2; x = 3.7: sum 0.7 * 3 + 1.3 = 3.4.
    EXPECT_EQ(selectLine(near, tilted, cv::Point(0, 0), out), 2);
    EXPECT_EQ(out, cv::Vec4i(3, 1000, 3, -1000));
}

TEST(SelectLine, EqualScoresKeepTheFirstLine) {
    std::vector<cv::Point> pts{{0, 0}, {10, 0}};
    std::vector<cv::Vec2f> lines{cv::Vec2f(0, 0), cv::Vec2f(10, 0)};  // x = 0 and x = 10
    cv::Vec4i out;
    EXPECT_EQ(selectLine(pts, lines, cv::Point(0, 0), out), 10);
    EXPECT_EQ(out, cv::Vec4i(0, 1000, 0, -1000));
    std::swap(lines[0], lines[1]);
    EXPECT_EQ(selectLine(pts, lines, cv::Point(0, 0), out), 10);
    EXPECT_EQ(out, cv::Vec4i(10, 1000, 10, -1000));
}

// --- Band-wise RANSAC detectors ------------------------------------------------

namespace {

void expectSegmentAlongVertical(const cv::Vec4i& s, int x, double cy) {
    EXPECT_EQ(s[0], x);
    EXPECT_EQ(s[2], x);
    EXPECT_NEAR((s[1] + s[3]) / 2.0, cy, 1.0);
    EXPECT_NEAR(segmentLength(s), 1000.0, 2.0);
}

void expectSegmentAlongHorizontal(const cv::Vec4i& s, int y, double cx) {
    EXPECT_EQ(s[1], y);
    EXPECT_EQ(s[3], y);
    EXPECT_NEAR((s[0] + s[2]) / 2.0, cx, 1.0);
    EXPECT_NEAR(segmentLength(s), 1000.0, 2.0);
}

}  // namespace

TEST(RansacBands, StraightEdgeGivesThousandPixelSegmentThroughCentroid) {
    cv::Mat edges(240, 320, CV_8UC1, cv::Scalar(0));
    cv::line(edges, cv::Point(20, 10), cv::Point(20, 200), cv::Scalar(255));
    std::vector<cv::Vec4i> lines;
    detectLineUsingRANSAC(edges, &lines);
    // The edge crosses the left, top and bottom bands; each sees its own part.
    ASSERT_EQ(lines.size(), 3u);
    expectSegmentAlongVertical(lines[0], 20, 105);   // rows 10..200
    expectSegmentAlongVertical(lines[1], 20, 34);    // rows 10..58
    expectSegmentAlongVertical(lines[2], 20, 190);   // rows 180..200
}

TEST(RansacBands, FourSidesWithBandOffsets) {
    cv::Mat edges(240, 320, CV_8UC1, cv::Scalar(0));
    cv::line(edges, cv::Point(30, 70), cv::Point(30, 170), cv::Scalar(255));    // left
    cv::line(edges, cv::Point(300, 70), cv::Point(300, 170), cv::Scalar(255));  // right
    cv::line(edges, cv::Point(100, 20), cv::Point(220, 20), cv::Scalar(255));   // top
    cv::line(edges, cv::Point(100, 200), cv::Point(220, 200), cv::Scalar(255)); // bottom
    std::vector<cv::Vec4i> lines{cv::Vec4i(1, 2, 3, 4)};
    detectLineUsingRANSAC(edges, &lines);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], cv::Vec4i(1, 2, 3, 4));  // appended, not cleared
    expectSegmentAlongVertical(lines[1], 30, 120);
    expectSegmentAlongVertical(lines[2], 300, 120);
    expectSegmentAlongHorizontal(lines[3], 20, 160);
    expectSegmentAlongHorizontal(lines[4], 200, 160);
}

TEST(RansacBands, BandHeightsStopShortOfTheLastRow) {
    // Row 239 lies below the left, right and bottom bands (height 239), row 59
    // below the top band (height 59); the centre belongs to no band.
    cv::Mat edges(240, 320, CV_8UC1, cv::Scalar(0));
    edges.row(239).setTo(255);
    edges.row(59).colRange(80, 240).setTo(255);
    edges.rowRange(60, 180).colRange(80, 240).setTo(255);
    std::vector<cv::Vec4i> lines;
    detectLineUsingRANSAC(edges, &lines);
    EXPECT_TRUE(lines.empty());
}

TEST(RansacBands, TiltedEdgeWithAnOutlierIsFoundForAnySeed) {
    cv::Mat edges(240, 320, CV_8UC1, cv::Scalar(0));
    for (int x = 0; x < 50; ++x)
        edges.at<uchar>(x + 5, x + 10) = 255;  // y = x - 5
    edges.at<uchar>(200, 70) = 255;
    for (unsigned seed : {1u, 7u, 12345u}) {
        std::srand(seed);
        std::vector<cv::Vec4i> lines;
        detectLineUsingRANSAC3(edges, {cv::Rect(0, 0, 80, 239)}, &lines);
        EXPECT_TRUE(lines.empty());  // not four bands
        detectLineUsingRANSAC3(edges,
                               {cv::Rect(0, 0, 80, 239), cv::Rect(240, 0, 80, 239),
                                cv::Rect(0, 100, 320, 50), cv::Rect(0, 180, 320, 59)},
                               &lines);
        ASSERT_EQ(lines.size(), 1u) << "seed " << seed;
        const cv::Vec4i& s = lines[0];
        // Both ends lie on y = x - 5 within truncation; the outlier did not tilt it.
        EXPECT_NEAR(s[1], s[0] - 5, 2) << "seed " << seed;
        EXPECT_NEAR(s[3], s[2] - 5, 2) << "seed " << seed;
        EXPECT_NEAR(segmentLength(s), 1000.0, 2.0);
    }
}

TEST(RansacBands, BandsWithFewerThanTwoEdgePixelsAddNothing) {
    cv::Mat edges(240, 320, CV_8UC1, cv::Scalar(0));
    std::vector<cv::Vec4i> lines;
    detectLineUsingRANSAC(edges, &lines);
    EXPECT_TRUE(lines.empty());

    edges.at<uchar>(100, 40) = 255;  // a single pixel cannot give a sample of two
    detectLineUsingRANSAC(edges, &lines);
    EXPECT_TRUE(lines.empty());

    detectLineUsingRANSAC(edges, nullptr);  // no output: nothing happens
}

// --- Gradient and Hough band detector -----------------------------------------

namespace {

const std::vector<cv::Rect> kBands{cv::Rect(0, 0, 80, 240), cv::Rect(240, 0, 80, 240),
                                   cv::Rect(0, 0, 320, 60), cv::Rect(0, 180, 320, 60)};

cv::Mat boundaryImage(std::initializer_list<int> rows, std::initializer_list<int> cols) {
    cv::Mat ws(240, 320, CV_8UC1, cv::Scalar(0));
    for (int y : rows)
        ws.row(y).setTo(255);
    for (int x : cols)
        ws.col(x).setTo(255);
    return ws;
}

}  // namespace

TEST(HoughBands, FourSidesInTopBottomLeftRightOrder) {
    cv::Mat ws = boundaryImage({30, 210}, {40, 280});
    std::vector<cv::Vec4i> lines;
    detectLineUsingRANSAC4(ws, kBands, &lines);
    ASSERT_EQ(lines.size(), 4u);
    // The rising edge one row/column before each boundary saturates the gradient.
    EXPECT_EQ(lines[0], cv::Vec4i(-1000, 29, 1000, 29));
    EXPECT_EQ(lines[1], cv::Vec4i(-1000, 209, 1000, 209));
    EXPECT_EQ(lines[2], cv::Vec4i(39, 1000, 39, -1000));
    EXPECT_EQ(lines[3], cv::Vec4i(279, 1000, 279, -1000));
}

TEST(HoughBands, StopsAtTheFirstRejectedBand) {
    std::vector<cv::Vec4i> lines;
    // No top line: nothing at all, even though left and right have lines.
    cv::Mat noTop = boundaryImage({210}, {40, 280});
    detectLineUsingRANSAC4(noTop, kBands, &lines);
    EXPECT_TRUE(lines.empty());

    // Top accepted, bottom missing: exactly the top segment.
    cv::Mat noBottom = boundaryImage({30}, {40, 280});
    detectLineUsingRANSAC4(noBottom, kBands, &lines);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], cv::Vec4i(-1000, 29, 1000, 29));
}

TEST(HoughBands, TwoLinesInOneBandScoreTooHigh) {
    // Rows 9 and 49 of the top band are 40 apart: the better line still
    // scores 320 * 40 > 6499 and is rejected.
    cv::Mat ws = boundaryImage({10, 50, 210}, {40, 280});
    std::vector<cv::Vec4i> lines;
    detectLineUsingRANSAC4(ws, kBands, &lines);
    EXPECT_TRUE(lines.empty());
}

TEST(HoughBands, NeedsExactlyFourBands) {
    cv::Mat ws = boundaryImage({30, 210}, {40, 280});
    std::vector<cv::Vec4i> lines;
    detectLineUsingRANSAC4(ws, {kBands[2]}, &lines);
    EXPECT_TRUE(lines.empty());
}

// --- RANSAC fit of y = a·x + b ---------------------------------------------------

TEST(RansacLine, ExactLineIsRecoveredForAnySeed) {
    std::vector<cv::Point> pts;
    for (int x = 0; x < 20; ++x)
        pts.emplace_back(x, 2 * x + 1);
    for (unsigned seed : {1u, 99u, 2024u}) {
        std::srand(seed);
        for (int sampleSize = 2; sampleSize <= 4; ++sampleSize) {
            double a = 0, b = 0;
            detectLineUsingRANSAC2(pts, a, b, sampleSize, 1);
            EXPECT_NEAR(a, 2, 1e-9);
            EXPECT_NEAR(b, 1, 1e-9);
        }
    }
}

TEST(RansacLine, SinglePointSamplesGiveTheZeroModel) {
    // A one-point sample makes a singular system, so every model is y = 0 and
    // the inliers are the points with |y| below the threshold, whatever is drawn.
    std::vector<cv::Point> pts{{0, 0}, {2, 1}, {1, 50}, {4, 2}, {3, 60}, {6, 3}};
    double a = 9, b = 9;
    detectLineUsingRANSAC2(pts, a, b, 1, 10);
    EXPECT_NEAR(a, 0.5, 1e-9);
    EXPECT_NEAR(b, 0, 1e-9);
}

TEST(RansacLine, DuplicatesAreFineWhileEnoughDistinctPointsRemain) {
    std::vector<cv::Point> pts{{0, 1}, {0, 1}, {1, 3}, {1, 3}, {2, 5}};
    double a = 0, b = 0;
    detectLineUsingRANSAC2(pts, a, b, 3, 1);
    EXPECT_NEAR(a, 2, 1e-9);
    EXPECT_NEAR(b, 1, 1e-9);
}

TEST(RansacLine, DegenerateInputLeavesTheResultUnchanged) {
    double a = 7, b = -3;
    std::vector<cv::Point> same{{4, 4}, {4, 4}, {4, 4}};
    detectLineUsingRANSAC2(same, a, b, 2, 5);  // one distinct point, samples of two
    std::vector<cv::Point> none;
    detectLineUsingRANSAC2(none, a, b, 1, 5);
    std::vector<cv::Point> pts{{0, 1}, {1, 3}, {2, 5}};
    detectLineUsingRANSAC2(pts, a, b, 0, 5);   // no sample size
    detectLineUsingRANSAC2(pts, a, b, 2, 0);   // nothing lies under a zero threshold
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, -3);
}
