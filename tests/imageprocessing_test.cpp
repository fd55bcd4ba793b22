#include "imageprocessing.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

using namespace tarvek::imageprocessing;

namespace {

cv::Mat randomImage(int rows, int cols, int type, uint64 seed)
{
    cv::RNG rng(seed);
    cv::Mat image(rows, cols, type);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

// Straightforward per-pixel evaluation of the colour structure-tensor gradient magnitude, in
// double, before rounding.
cv::Mat referenceMagnitude(const cv::Mat& src)
{
    const int cn = src.channels();
    const int used = cn == 1 ? 1 : 3;
    cv::Mat out = cv::Mat::zeros(src.size(), CV_64F);
    auto at = [&](int y, int x, int c) { return static_cast<int>(src.ptr<uchar>(y)[x * cn + c]); };
    auto twice = [](int v) { return std::min(2 * v, 255); };
    for (int i = 1; i < src.rows - 1; ++i)
        for (int j = 1; j < src.cols - 1; ++j) {
            double gxx = 0, gyy = 0, gxy = 0;
            for (int c = 0; c < used; ++c) {
                const int r = at(i - 1, j + 1, c) + twice(at(i, j + 1, c)) + at(i + 1, j + 1, c);
                const int l = at(i - 1, j - 1, c) + twice(at(i, j - 1, c)) + at(i + 1, j - 1, c);
                const int t = at(i - 1, j - 1, c) + twice(at(i - 1, j, c)) + at(i - 1, j + 1, c);
                const int b = at(i + 1, j - 1, c) + twice(at(i + 1, j, c)) + at(i + 1, j + 1, c);
                const double gx = r - l, gy = t - b;
                gxx += gx * gx;
                gyy += gy * gy;
                gxy += gx * gy;
            }
            const double lambda =
                (gxx + gyy + std::sqrt(std::fabs(gxx * gxx - 2 * gxx * gyy + gyy * gyy + 4.0 * gxy * gxy))) / 2.0;
            out.at<double>(i, j) = std::sqrt(lambda);
        }
    return out;
}

cv::Mat referenceGradient(const cv::Mat& src)
{
    cv::Mat result;
    referenceMagnitude(src).convertTo(result, CV_8U, 1.0, 0.0);
    return result;
}

// Pixels whose exact magnitude lies within `margin` of a rounding boundary k + 0.5 below 255.
int countNearRoundingBoundary(const cv::Mat& magnitude, double margin)
{
    int count = 0;
    for (int i = 0; i < magnitude.rows; ++i) {
        const double* row = magnitude.ptr<double>(i);
        for (int j = 0; j < magnitude.cols; ++j) {
            const double fraction = row[j] - std::floor(row[j]);
            if (row[j] < 255.0 && std::fabs(fraction - 0.5) < margin)
                ++count;
        }
    }
    return count;
}

bool sameImage(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

}  // namespace

// --- getGradientImage ------------------------------------------------------------------------

TEST(GradientImage, GreyStepEdgeSaturatesAlongTheEdgeAndIsZeroOnFlatAreas)
{
    cv::Mat src = cv::Mat::zeros(9, 12, CV_8UC1);
    src.colRange(6, 12).setTo(200);
    cv::Mat dst;
    getGradientImage(src, dst);
    ASSERT_EQ(dst.type(), CV_8UC1);
    ASSERT_EQ(dst.size(), src.size());
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(dst.at<uchar>(i, 5), 255);
        EXPECT_EQ(dst.at<uchar>(i, 6), 255);
        EXPECT_EQ(dst.at<uchar>(i, 2), 0);
        EXPECT_EQ(dst.at<uchar>(i, 9), 0);
    }
}

TEST(GradientImage, DoubledNeighboursSaturateAt255InGreyAndColour)
{
    // Right neighbour 130 doubles to 255 (not 260), left neighbour 120 to 240: gx = 15, not 20.
    cv::Mat grey = cv::Mat::zeros(3, 3, CV_8UC1);
    grey.at<uchar>(1, 2) = 130;
    grey.at<uchar>(1, 0) = 120;
    cv::Mat dst;
    getGradientImage(grey, dst);
    EXPECT_EQ(dst.at<uchar>(1, 1), 15);

    cv::Mat colour;
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    getGradientImage(colour, dst);
    // Three equal channels: sqrt(3 * 15²) = 25.98.
    EXPECT_EQ(dst.at<uchar>(1, 1), 26);
}

TEST(GradientImage, GreyMatchesSobelMagnitudeWhereNothingSaturates)
{
    cv::Mat src = randomImage(40, 50, CV_8UC1, 11);
    src.convertTo(src, CV_8U, 0.49);  // values <= 125, so no doubled term reaches 255
    cv::Mat gx, gy, magnitude, expected, dst;
    cv::Sobel(src, gx, CV_64F, 1, 0, 3);
    cv::Sobel(src, gy, CV_64F, 0, 1, 3);
    cv::magnitude(gx, gy, magnitude);
    magnitude.convertTo(expected, CV_8U);
    getGradientImage(src, dst);
    const cv::Rect inner(1, 1, src.cols - 2, src.rows - 2);
    EXPECT_TRUE(sameImage(dst(inner), expected(inner)));
}

TEST(GradientImage, MatchesDirectEvaluationOnRandomImages)
{
    // Low amplitudes keep most magnitudes below the 255 clamp, where every rounding shows.
    for (int type : {CV_8UC1, CV_8UC3, CV_8UC4})
        for (double amplitude : {1.0, 0.25, 0.08, 0.02}) {
            cv::Mat src = randomImage(97, 131, type, 3 + type);
            src.convertTo(src, CV_8U, amplitude);
            cv::Mat dst;
            getGradientImage(src, dst);
            EXPECT_TRUE(sameImage(dst, referenceGradient(src))) << "type " << type << " amplitude " << amplitude;
        }
}

TEST(GradientImage, ColourMatchesDirectEvaluationNearRoundingBoundaries)
{
    // Faint colour noise gives many distinct small tensors; among a quarter million pixels a few
    // hundred magnitudes fall within 1e-3 of k + 0.5, where a float evaluation alone could round
    // the wrong way.
    int nearBoundary = 0;
    for (int type : {CV_8UC3, CV_8UC4})
        for (double amplitude : {0.5, 0.12, 0.05}) {
            cv::Mat src = randomImage(301, 419, type, 17 + type);
            src.convertTo(src, CV_8U, amplitude);
            cv::Mat dst;
            getGradientImage(src, dst);
            const cv::Mat magnitude = referenceMagnitude(src);
            nearBoundary += countNearRoundingBoundary(magnitude, 1e-3);
            cv::Mat expected;
            magnitude.convertTo(expected, CV_8U, 1.0, 0.0);
            EXPECT_TRUE(sameImage(dst, expected)) << "type " << type << " amplitude " << amplitude;
        }
    EXPECT_GT(nearBoundary, 200);
}

TEST(GradientImage, ColourMatchesDirectEvaluationAtEveryNarrowWidth)
{
    // Widths below, at and just above whole blocks of pixels, where a row ends in a partial block.
    for (int cols = 3; cols <= 40; ++cols) {
        cv::Mat src = randomImage(5, cols, CV_8UC3, 100 + cols);
        src.convertTo(src, CV_8U, 0.3);
        cv::Mat dst;
        getGradientImage(src, dst);
        EXPECT_TRUE(sameImage(dst, referenceGradient(src))) << "cols " << cols;
    }
}

TEST(GradientImage, FourthChannelIsIgnored)
{
    cv::Mat bgra = randomImage(25, 25, CV_8UC4, 5);
    cv::Mat bgr;
    cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
    cv::Mat fromFour, fromThree;
    getGradientImage(bgra, fromFour);
    getGradientImage(bgr, fromThree);
    EXPECT_TRUE(sameImage(fromFour, fromThree));
}

TEST(GradientImage, TinyOrUnsupportedSourcesGiveAZeroImage)
{
    cv::Mat dst;
    cv::Mat twoRows = randomImage(2, 10, CV_8UC1, 1);
    getGradientImage(twoRows, dst);
    EXPECT_EQ(dst.size(), twoRows.size());
    EXPECT_EQ(cv::countNonZero(dst), 0);

    cv::Mat twoChannels = randomImage(10, 10, CV_8UC2, 2);
    getGradientImage(twoChannels, dst);
    EXPECT_EQ(dst.size(), twoChannels.size());
    EXPECT_EQ(cv::countNonZero(dst), 0);
}

TEST(GradientImage, SourceAndDestinationMayBeTheSameMatrix)
{
    cv::Mat src = randomImage(16, 16, CV_8UC3, 9);
    const cv::Mat expected = referenceGradient(src);
    getGradientImage(src, src);
    EXPECT_TRUE(sameImage(src, expected));
}

// --- watershed ---------------------------------------------------------------------------------

namespace {

cv::Mat frameAndCentreMarkers(cv::Size size)
{
    cv::Mat markers = cv::Mat::zeros(size, CV_32SC1);
    cv::rectangle(markers, cv::Point(1, 1), cv::Point(size.width - 2, size.height - 2), cv::Scalar(1), 1);
    cv::rectangle(markers, cv::Point(size.width / 2 - 3, size.height / 2 - 3),
                  cv::Point(size.width / 2 + 3, size.height / 2 + 3), cv::Scalar(2), 2);
    return markers;
}

void expectBoundaryMatchesOpenCv(cv::Mat& src)
{
    cv::Mat markers = frameAndCentreMarkers(src.size());
    cv::Mat expectedMarkers = markers.clone();
    cv::Mat colour;
    if (src.channels() == 1)
        cv::cvtColor(src, colour, cv::COLOR_GRAY2BGR);
    else
        colour = src.clone();
    cv::watershed(colour, expectedMarkers);

    const cv::Mat before = src.clone();
    cv::Mat dst;
    EXPECT_TRUE(watershed(src, dst, markers));
    ASSERT_EQ(dst.type(), CV_8UC1);
    EXPECT_TRUE(sameImage(dst, (expectedMarkers == -1)));
    EXPECT_TRUE(sameImage(markers, expectedMarkers));
    EXPECT_TRUE(sameImage(src, before));
    // cv::watershed marks the outer frame as boundary.
    EXPECT_EQ(cv::countNonZero(dst.row(0)), dst.cols);
}

}  // namespace

TEST(Watershed, GreyGradientBoundaryIsWhereOpenCvMarksMinusOne)
{
    cv::Mat page = cv::Mat::zeros(60, 80, CV_8UC1);
    cv::rectangle(page, cv::Rect(20, 15, 40, 30), cv::Scalar(200), cv::FILLED);
    cv::Mat gradient;
    getGradientImage(page, gradient);
    expectBoundaryMatchesOpenCv(gradient);
}

TEST(Watershed, ColourSourceIsFloodedAsIs)
{
    cv::Mat page(60, 80, CV_8UC3, cv::Scalar(10, 60, 20));
    cv::rectangle(page, cv::Rect(25, 10, 30, 40), cv::Scalar(230, 220, 210), cv::FILLED);
    expectBoundaryMatchesOpenCv(page);
}

// --- getPredictionImage / predictionParallel --------------------------------------------------------

TEST(PredictionImage, FlatBackgroundBecomesWhiteAndDarkerContentKeepsItsRatio)
{
    cv::Mat sample(4, 40, CV_8UC1, cv::Scalar(100));
    cv::Mat src(4, 40, CV_8UC1, cv::Scalar(100));
    src.row(3).setTo(50);
    cv::Mat dst(4, 40, CV_8UC1, cv::Scalar(1));
    getPredictionImage(src, sample, dst, 4, 2);
    EXPECT_EQ(cv::countNonZero(dst.rowRange(0, 3) != 255), 0);
    EXPECT_EQ(cv::countNonZero(dst.row(3) != 140), 0);  // 50 / 100 * 280
}

TEST(PredictionImage, FollowsAQuadraticBackgroundAcrossTheRow)
{
    const int cols = 64;
    cv::Mat sample(2, cols, CV_8UC1), src(2, cols, CV_8UC1), dst(2, cols, CV_8UC1);
    for (int x = 0; x < cols; ++x) {
        const int background = 40 + x + (x * x) / 64;  // not exactly quadratic after truncation
        sample.at<uchar>(0, x) = sample.at<uchar>(1, x) = static_cast<uchar>(std::min(background, 254));
        src.at<uchar>(0, x) = src.at<uchar>(1, x) = static_cast<uchar>(std::min(background, 254) / 2);
    }
    getPredictionImage(src, sample, dst, 1, 2);
    for (int x = 0; x < cols; ++x)
        EXPECT_NEAR(dst.at<uchar>(0, x), 140, 4) << "column " << x;
}

TEST(PredictionImage, OnlyTheFirstRowOfEachBandIsSampledAndWhiteIsExcluded)
{
    cv::Mat sample(4, 40, CV_8UC1, cv::Scalar(100));
    sample.row(1).setTo(10);   // ignored: second row of the first band
    sample.row(2).setTo(255);  // the second band has no samples at all
    cv::Mat src(4, 40, CV_8UC1, cv::Scalar(100));
    cv::Mat dst(4, 40, CV_8UC1, cv::Scalar(1));
    getPredictionImage(src, sample, dst, 4, 2);
    EXPECT_EQ(cv::countNonZero(dst.rowRange(0, 2) != 255), 0);
    EXPECT_EQ(cv::countNonZero(dst.rowRange(2, 4)), 0);  // zero coefficients give 0
}

TEST(PredictionImage, NonPositiveStepAndBandAreTreatedAsOne)
{
    cv::Mat sample(3, 10, CV_8UC1, cv::Scalar(80));
    cv::Mat src = sample.clone();
    cv::Mat dst(3, 10, CV_8UC1, cv::Scalar(0));
    getPredictionImage(src, sample, dst, 0, -2);
    EXPECT_EQ(cv::countNonZero(dst != 255), 0);
}

TEST(PredictionImage, MismatchedSizesLeaveDestinationUntouched)
{
    cv::Mat sample(3, 10, CV_8UC1, cv::Scalar(80));
    cv::Mat src(4, 10, CV_8UC1, cv::Scalar(80));
    cv::Mat dst(3, 10, CV_8UC1, cv::Scalar(7));
    getPredictionImage(src, sample, dst, 4, 2);
    EXPECT_EQ(cv::countNonZero(dst != 7), 0);
}

TEST(PredictionParallel, TilesOf333LeaveTheLastRowAndColumnUntouched)
{
    cv::Mat src = randomImage(1000, 1000, CV_8UC1, 21);
    cv::Mat sample = randomImage(1000, 1000, CV_8UC1, 22);
    cv::Mat dst(1000, 1000, CV_8UC1, cv::Scalar(7));
    predictionParallel(src, sample, dst);

    EXPECT_EQ(cv::countNonZero(dst.row(999) != 7), 0);
    EXPECT_EQ(cv::countNonZero(dst.col(999) != 7), 0);

    // Each of the 3 x 3 tiles is its own fit.
    for (int ty = 0; ty < 3; ++ty)
        for (int tx = 0; tx < 3; ++tx) {
            const cv::Rect tile(333 * tx, 333 * ty, 333, 333);
            cv::Mat srcTile = src(tile), sampleTile = sample(tile);
            cv::Mat expected(333, 333, CV_8UC1, cv::Scalar(7));
            getPredictionImage(srcTile, sampleTile, expected, 4, 2);
            EXPECT_TRUE(sameImage(dst(tile), expected)) << "tile " << tx << "," << ty;
        }
}

