#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include "documentarea_internal.h"
#include "hough.h"

namespace {

const float kDegree = (float)(CV_PI / 180);

std::vector<int> allAngles(int numAngle)
{
    std::vector<int> angles(numAngle);
    for (int n = 0; n < numAngle; n++)
        angles[n] = n;
    return angles;
}

std::vector<cv::Vec3f> houghLines(const cv::Mat& image, float rho, int numAngle, int threshold,
                                  const std::vector<int>& angles)
{
    std::vector<cv::Vec3f> lines;
    optimization::HoughLines(image, lines, rho, numAngle, threshold, angles);
    return lines;
}

void expectLine(const cv::Vec3f& line, float rho, float theta, float votes)
{
    EXPECT_FLOAT_EQ(line[0], rho);
    EXPECT_FLOAT_EQ(line[1], theta);
    EXPECT_EQ(line[2], votes);
}

// ---------------------------------------------------------------------------
// Peaks of small synthetic images
// ---------------------------------------------------------------------------

TEST(HoughPeaks, HorizontalRowAtListedAngle)
{
    cv::Mat image = cv::Mat::zeros(40, 60, CV_8UC1);
    image.row(10).colRange(5, 30).setTo(255);  // 25 pixels

    std::vector<cv::Vec3f> lines = houghLines(image, 1.0f, 180, 24, {90});
    ASSERT_EQ(lines.size(), 1u);
    expectLine(lines[0], 10.0f, 90 * kDegree, 25.0f);

    // The count must exceed the threshold strictly.
    EXPECT_TRUE(houghLines(image, 1.0f, 180, 25, {90}).empty());
    // Listing the index twice doubles its votes.
    lines = houghLines(image, 1.0f, 180, 25, {90, 90});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0][2], 50.0f);
}

TEST(HoughPeaks, EmptyInputsGiveNoLines)
{
    cv::Mat image = cv::Mat::zeros(40, 60, CV_8UC1);
    cv::Mat lines(1, 3, CV_32FC3, cv::Scalar::all(1));
    optimization::HoughLines(image, lines, 1.0f, 180, 1, allAngles(180));
    EXPECT_TRUE(lines.empty());

    image.row(10).setTo(255);
    lines.create(1, 3, CV_32FC3);
    optimization::HoughLines(image, lines, 1.0f, 180, 1, {});
    EXPECT_TRUE(lines.empty());
}

TEST(HoughPeaks, OutputOrderedByRhoThenAngle)
{
    cv::Mat image = cv::Mat::zeros(50, 60, CV_8UC1);
    image.row(5).colRange(20, 50).setTo(255);
    image.row(20).colRange(20, 50).setTo(255);
    image.col(12).rowRange(0, 40).setTo(255);

    // At 90 degrees the column adds one vote to distances 0..39, so each row
    // scores 31; at 0 degrees the column scores 40.
    std::vector<cv::Vec3f> lines = houghLines(image, 1.0f, 180, 10, {90, 0});
    ASSERT_EQ(lines.size(), 3u);
    expectLine(lines[0], 5.0f, 90 * kDegree, 31.0f);
    expectLine(lines[1], 12.0f, 0.0f, 40.0f);
    expectLine(lines[2], 20.0f, 90 * kDegree, 31.0f);
}

TEST(HoughPeaks, OnlyListedAnglesVote)
{
    cv::Mat image = cv::Mat::zeros(50, 60, CV_8UC1);
    image.col(12).rowRange(0, 40).setTo(255);
    EXPECT_TRUE(houghLines(image, 1.0f, 180, 10, {90}).empty());

    // Neighbouring angles listed as well: the column's peak at 0 degrees
    // beats its neighbour at 1 degree, which spreads its votes over rho.
    std::vector<cv::Vec3f> lines = houghLines(image, 1.0f, 180, 10, {0, 1});
    ASSERT_EQ(lines.size(), 1u);
    expectLine(lines[0], 12.0f, 0.0f, 40.0f);
}

TEST(HoughPeaks, EqualNeighboursAlongRhoReportTheLowerDistance)
{
    cv::Mat image = cv::Mat::zeros(40, 60, CV_8UC1);
    image.row(10).colRange(5, 30).setTo(255);
    image.row(11).colRange(5, 30).setTo(255);
    std::vector<cv::Vec3f> lines = houghLines(image, 1.0f, 180, 20, {90});
    ASSERT_EQ(lines.size(), 1u);
    expectLine(lines[0], 10.0f, 90 * kDegree, 25.0f);
}

TEST(HoughPeaks, EvenDistanceCountReportsHalfAStepLower)
{
    // cols + rows = 100 with rho 2: numrho = cvRound(201 / 2) = 100 (even).
    // Row 10 votes at distance cell 5 + 49 and is reported at
    // (54 - 49.5) * 2 = 9.
    cv::Mat image = cv::Mat::zeros(40, 60, CV_8UC1);
    image.row(10).colRange(5, 30).setTo(255);
    std::vector<cv::Vec3f> lines = houghLines(image, 2.0f, 180, 20, {90});
    ASSERT_EQ(lines.size(), 1u);
    expectLine(lines[0], 9.0f, 90 * kDegree, 25.0f);
}

TEST(HoughPeaks, CoarseAngleSteps)
{
    // num_angle 4: index 1 is 45 degrees, normal (cos, sin) = (0.707, 0.707).
    cv::Mat image = cv::Mat::zeros(60, 60, CV_8UC1);
    for (int i = 0; i < 50; i++)
        image.at<uchar>(i, 50 - i) = 255;  // x + y = 50
    std::vector<cv::Vec3f> lines = houghLines(image, 1.0f, 4, 40, {1});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_FLOAT_EQ(lines[0][0], 35.0f);  // cvRound(50 / sqrt 2)
    EXPECT_FLOAT_EQ(lines[0][1], (float)(CV_PI / 4));
    EXPECT_EQ(lines[0][2], 50.0f);
}

// ---------------------------------------------------------------------------
// Serial and parallel voting against the voting rule
// ---------------------------------------------------------------------------

// Peaks computed directly from the voting rule: accumulator with a zero
// ring, distance-major scan.
std::vector<cv::Vec3f> referenceLines(const cv::Mat& image, float rho, int numAngle, int threshold,
                                      const std::vector<int>& angles)
{
    const float theta = (float)(CV_PI / numAngle);
    const int numrho = cvRound(((image.cols + image.rows) * 2 + 1) / rho);
    const float irho = 1 / rho;
    std::vector<float> tabSin(numAngle), tabCos(numAngle);
    float ang = 0;
    for (int n = 0; n < numAngle; n++, ang += theta) {
        tabSin[n] = (float)(irho * std::sin((double)ang));
        tabCos[n] = (float)(irho * std::cos((double)ang));
    }
    cv::Mat accum = cv::Mat::zeros(numAngle + 2, numrho + 2, CV_32SC1);
    for (int i = 0; i < image.rows; i++) {
        for (int j = 0; j < image.cols; j++) {
            if (!image.at<uchar>(i, j))
                continue;
            for (int n : angles) {
                int r = cvRound(i * tabSin[n] + j * tabCos[n]) + (numrho - 1) / 2;
                accum.at<int>(n + 1, r + 1)++;
            }
        }
    }
    std::vector<cv::Vec3f> lines;
    for (int r = 0; r < numrho; r++) {
        for (int n = 0; n < numAngle; n++) {
            int c = accum.at<int>(n + 1, r + 1);
            if (c > threshold && c > accum.at<int>(n + 1, r) && c >= accum.at<int>(n + 1, r + 2) &&
                c > accum.at<int>(n, r + 1) && c >= accum.at<int>(n + 2, r + 1))
                lines.emplace_back((r - (numrho - 1) * 0.5f) * rho, n * theta, (float)c);
        }
    }
    return lines;
}

cv::Mat sparseEdges(int rows, int cols, uint64 seed)
{
    cv::RNG rng(seed);
    cv::Mat noise(rows, cols, CV_8UC1);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 100);
    cv::Mat edges = noise < 4;
    edges.row(rows / 3).setTo(255);
    edges.col(cols / 2).setTo(255);
    return edges;
}

TEST(HoughVoting, SerialPathMatchesVotingRule)
{
    cv::Mat edges = sparseEdges(100, 130, 7);
    std::vector<cv::Vec3f> expected = referenceLines(edges, 1.0f, 180, 12, borderLineAngles(false));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(houghLines(edges, 1.0f, 180, 12, borderLineAngles(false)), expected);
}

TEST(HoughVoting, ParallelPathMatchesVotingRule)
{
    for (int rows : {101, 203, 240}) {
        cv::Mat edges = sparseEdges(rows, 170, rows);
        std::vector<cv::Vec3f> expected = referenceLines(edges, 1.0f, 180, 15, borderLineAngles(false));
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(houghLines(edges, 1.0f, 180, 15, borderLineAngles(false)), expected) << rows << " rows";
    }
}

// ---------------------------------------------------------------------------
// Destinations and argument checks
// ---------------------------------------------------------------------------

cv::Mat twoLineImage()
{
    cv::Mat image = cv::Mat::zeros(40, 60, CV_8UC1);
    image.row(10).colRange(5, 30).setTo(255);
    image.row(30).colRange(5, 30).setTo(255);
    return image;
}

TEST(HoughDestinations, MatrixRowAndColumn)
{
    cv::Mat image = twoLineImage();
    float data[10 * 3] = {};
    CvMat row = cvMat(1, 10, CV_32FC3, data);
    EXPECT_EQ(optimization::cvHoughLines2(image, &row, 1.0f, 180, 20, {90}), nullptr);
    EXPECT_EQ(row.cols, 2);
    EXPECT_EQ(row.rows, 1);
    EXPECT_FLOAT_EQ(data[0], 10.0f);
    EXPECT_FLOAT_EQ(data[3], 30.0f);
    EXPECT_EQ(data[5], 25.0f);

    float columnData[10 * 3] = {};
    CvMat column = cvMat(10, 1, CV_32FC3, columnData);
    EXPECT_EQ(optimization::cvHoughLines2(image, &column, 1.0f, 180, 20, {90}), nullptr);
    EXPECT_EQ(column.rows, 2);
    EXPECT_EQ(column.cols, 1);
    EXPECT_FLOAT_EQ(columnData[3], 30.0f);
}

TEST(HoughDestinations, MatrixTooShortRaises)
{
    cv::Mat image = twoLineImage();
    float data[3] = {};
    CvMat one = cvMat(1, 1, CV_32FC3, data);
    EXPECT_THROW(optimization::cvHoughLines2(image, &one, 1.0f, 180, 20, {90}), cv::Exception);
}

TEST(HoughDestinations, MemoryStorageAndColumnOutput)
{
    cv::Mat image = twoLineImage();
    CvMemStorage* storage = cvCreateMemStorage(optimization::STORAGE_SIZE);
    CvSeq* seq = optimization::cvHoughLines2(image, storage, 1.0f, 180, 20, {90});
    ASSERT_NE(seq, nullptr);
    EXPECT_EQ(seq->total, 2);
    EXPECT_EQ(seq->elem_size, 12);
    cv::Mat lines;
    optimization::seqToMat(seq, lines);
    EXPECT_EQ(lines.type(), CV_32FC3);
    EXPECT_EQ(lines.size(), cv::Size(2, 1));
    cvReleaseMemStorage(&storage);

    // A column of the right length is filled in place.
    cv::Mat column(2, 1, CV_32FC3, cv::Scalar::all(0));
    const uchar* before = column.data;
    optimization::HoughLines(image, column, 1.0f, 180, 20, {90});
    EXPECT_EQ(column.data, before);
    EXPECT_EQ(column.at<cv::Vec3f>(1, 0)[0], 30.0f);
}

void expectHoughError(const std::function<void()>& call, int code, const std::string& text)
{
    try {
        call();
        ADD_FAILURE() << "no error raised, expected: " << text;
    } catch (const cv::Exception& e) {
        EXPECT_EQ(e.code, code);
        EXPECT_EQ(e.err, text);
        EXPECT_EQ(e.func, "cvHoughLines2");
    }
}

TEST(HoughArguments, ErrorsInCheckingOrder)
{
    cv::Mat grey = twoLineImage();
    cv::Mat colour(40, 60, CV_8UC3, cv::Scalar::all(0));
    CvMemStorage* storage = cvCreateMemStorage(optimization::STORAGE_SIZE);
    float data[30] = {};

    expectHoughError([&] { optimization::cvHoughLines2(colour, nullptr, 0.0f, 0, 0, {500}); }, -5,
                     "The source image must be 8-bit, single-channel");
    expectHoughError([&] { optimization::cvHoughLines2(grey, nullptr, 0.0f, 0, 0, {500}); }, -27,
                     "NULL destination");
    const std::string notPositive = "rho, num_angle and threshold must be positive";
    expectHoughError([&] { optimization::cvHoughLines2(grey, storage, 0.0f, 180, 5, {500}); }, -211, notPositive);
    expectHoughError([&] { optimization::cvHoughLines2(grey, storage, NAN, 180, 5, {}); }, -211, notPositive);
    expectHoughError([&] { optimization::cvHoughLines2(grey, storage, 1.0f, 0, 5, {}); }, -211, notPositive);
    expectHoughError([&] { optimization::cvHoughLines2(grey, storage, 1.0f, 180, 0, {}); }, -211, notPositive);
    const std::string angleRange = "want_line_angles elements must be lower num_angle";
    expectHoughError([&] { optimization::cvHoughLines2(grey, storage, 1.0f, 180, 5, {0, 180}); }, -211,
                     angleRange);
    expectHoughError([&] { optimization::cvHoughLines2(grey, storage, 1.0f, 180, 5, {-1}); }, -211, angleRange);

    const std::string shape = "The destination matrix should be continuous and have a single row or a single column";
    CvMat square = cvMat(2, 2, CV_32FC3, data);
    expectHoughError([&] { optimization::cvHoughLines2(grey, &square, 1.0f, 180, 5, {90}); }, -5, shape);
    CvMat gapped = cvMat(1, 5, CV_32FC3, data);
    gapped.type &= ~CV_MAT_CONT_FLAG;
    expectHoughError([&] { optimization::cvHoughLines2(grey, &gapped, 1.0f, 180, 5, {90}); }, -5, shape);
    CvMat wrongType = cvMat(1, 5, CV_32FC2, data);
    expectHoughError([&] { optimization::cvHoughLines2(grey, &wrongType, 1.0f, 180, 5, {90}); }, -5,
                     "The destination matrix data type is inappropriate, see the manual");
    int notAnArray[16] = {};
    expectHoughError([&] { optimization::cvHoughLines2(grey, notAnArray, 1.0f, 180, 5, {90}); }, -5,
                     "Destination is not CvMemStorage* nor CvMat*");

    // The public entry point reports the same errors and releases its storage.
    expectHoughError([&] {
        std::vector<cv::Vec3f> lines;
        optimization::HoughLines(grey, lines, 1.0f, 180, 5, {180});
    }, -211, angleRange);
    cvReleaseMemStorage(&storage);
}

}  // namespace
