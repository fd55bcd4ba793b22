#include "binarization.h"
#include "binarization_internal.h"

#include <cmath>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

using namespace tarvek::binarization;

namespace {

// Sauvola's threshold from the sum and squared sum of a w × w window.
double thresholdOfWindow(double sum, double squares, int w, double k, int R) {
    const double area = static_cast<double>(w) * w, mean = sum / area;
    const double sd = std::sqrt(std::max(0.0, squares / area - mean * mean));
    return ((sd / R - 1.0) * k + 1.0) * mean;
}

// Sauvola's threshold of pixel (y, x) summed pixel by pixel over the image
// part of its window, which starts w / 2 + 1 pixels above and left of it.
double referenceThreshold(const cv::Mat& grey, int y, int x, int w, double k, int R) {
    const int b = w / 2 + 1;
    double sum = 0, squares = 0;
    for (int r = std::max(0, y - b); r < std::min(grey.rows, y - b + w); ++r)
        for (int c = std::max(0, x - b); c < std::min(grey.cols, x - b + w); ++c) {
            const double v = grey.at<uchar>(r, c);
            sum += v;
            squares += v * v;
        }
    return thresholdOfWindow(sum, squares, w, k, R);
}

// Every threshold the direct way, for larger images: integral images of a
// copy padded with w / 2 + 1 black pixels, four lookups per window.
cv::Mat paddedIntegralThresholds(const cv::Mat& grey, int w, double k, int R) {
    const int b = w / 2 + 1;
    cv::Mat padded, sums, squares;
    cv::copyMakeBorder(grey, padded, b, b, b, b, cv::BORDER_CONSTANT, 0);
    cv::integral(padded, sums, squares, CV_64F, CV_64F);
    cv::Mat thresholds(grey.size(), CV_64FC1);
    for (int y = 0; y < grey.rows; ++y)
        for (int x = 0; x < grey.cols; ++x) {
            const auto window = [&](const cv::Mat& s) {
                return s.at<double>(y + w, x + w) - s.at<double>(y + w, x) - s.at<double>(y, x + w) +
                       s.at<double>(y, x);
            };
            thresholds.at<double>(y, x) = thresholdOfWindow(window(sums), window(squares), w, k, R);
        }
    return thresholds;
}

// A grey page: smooth shading with dark strokes and noise, or pure noise.
cv::Mat randomPage(cv::Size size, cv::RNG& rng, bool noise) {
    cv::Mat grey(size, CV_8UC1);
    rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
    if (noise)
        return grey;
    cv::GaussianBlur(grey, grey, cv::Size(0, 0), 3.0);
    cv::normalize(grey, grey, 150, 240, cv::NORM_MINMAX);
    for (int i = 0; i < 40; ++i) {
        const cv::Point p(rng.uniform(0, size.width), rng.uniform(0, size.height));
        cv::line(grey, p, p + cv::Point(rng.uniform(-60, 60), rng.uniform(-9, 9)),
                 cv::Scalar(rng.uniform(10, 120)), rng.uniform(1, 6));
    }
    return grey;
}

}  // namespace

// Every pixel and threshold-map entry on random images, windows from one
// pixel to far beyond the image, even and odd, images one pixel high to
// several integral stripes; inverse is the complement.
TEST(Sauvola, MatchesPixelByPixelWindowStatistics) {
    cv::RNG rng(11);
    const cv::Size sizes[] = {{1, 1}, {9, 1}, {5, 7}, {23, 17}, {40, 33}, {21, 200}};
    const int windows[] = {1, 2, 3, 4, 15, 16, 101, 1000000};
    const int Rs[] = {128, 64, 1, -128};
    for (const cv::Size& size : sizes)
        for (int w : windows) {
            cv::Mat grey(size, CV_8UC1), dst, inverse, map;
            rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
            const double k = rng.uniform(-0.6, 0.6);
            const int R = Rs[rng.uniform(0, 4)];
            sauvola2(grey, dst, w, k, R, &map, false);
            sauvola(grey, inverse, w, k, R, true);
            ASSERT_EQ(dst.size(), size);
            EXPECT_EQ(cv::countNonZero(dst != ~inverse), 0) << size << " w " << w;
            for (int y = 0; y < size.height; ++y)
                for (int x = 0; x < size.width; ++x) {
                    const double t = referenceThreshold(grey, y, x, w, k, R);
                    ASSERT_EQ(dst.at<uchar>(y, x), t > grey.at<uchar>(y, x) ? 0 : 255);
                    ASSERT_EQ(map.at<uchar>(y, x), static_cast<uchar>(static_cast<int>(t)));
                }
        }
}

// Pages hundreds of pixels wide and high, so that the rows are split
// between threads; windows from one pixel to beyond the page, areas that are
// and are not powers of two. Binarization and map agree with the direct
// computation everywhere.
TEST(Sauvola, MatchesPaddedIntegralImagesOnLargerPages) {
    cv::RNG rng(5);
    const cv::Size sizes[] = {{517, 301}, {97, 640}};
    const int windows[] = {1, 15, 16, 64, 333, 2000};
    const double ks[] = {0.075, 0.5, -0.3};
    const int Rs[] = {128, 100, -64};
    for (const cv::Size& size : sizes)
        for (bool noise : {false, true})
            for (int w : windows) {
                const cv::Mat grey = randomPage(size, rng, noise);
                const double k = ks[rng.uniform(0, 3)];
                const int R = Rs[rng.uniform(0, 3)];
                cv::Mat src = grey, dst, map;
                sauvola2(src, dst, w, k, R, &map, false);
                const cv::Mat t = paddedIntegralThresholds(grey, w, k, R);
                cv::Mat grey64, expectedMap(grey.size(), CV_8UC1);
                grey.convertTo(grey64, CV_64F);
                const cv::Mat ink = t > grey64;
                for (int y = 0; y < grey.rows; ++y)
                    for (int x = 0; x < grey.cols; ++x)
                        expectedMap.at<uchar>(y, x) =
                            static_cast<uchar>(static_cast<int>(t.at<double>(y, x)));
                EXPECT_EQ(cv::countNonZero(dst != ~ink), 0) << size << " w " << w << " k " << k;
                EXPECT_EQ(cv::countNonZero(map != expectedMap), 0) << size << " w " << w;
            }
}

// A uniform page at w = 15: the window (rows y − 8 … y + 6) sees no padding
// from row and column 8 to the sixth-last, where the map holds T truncated
// and kept as its low 8 bits. Nearer the border T falls, yet paper stays.
TEST(Sauvola, UniformPageThresholdMap) {
    const double cases[][3] = {{200, 0.075, 185},   // T = 185
                               {201, 0.075, 185},   // T = 185.925
                               {200, -1.0, 144},    // T = 400: ink
                               {200, 2.0, 56}};     // T = −200
    const cv::Rect inside(8, 8, 40 - 14, 30 - 14);
    for (const auto& c : cases) {
        cv::Mat grey(30, 40, CV_8UC1, cv::Scalar(c[0])), dst, map;
        sauvola2(grey, dst, 15, c[1], 128, &map, false);
        EXPECT_EQ(cv::countNonZero(map(inside) != c[2]), 0) << c[0] << " k " << c[1];
        EXPECT_EQ(cv::countNonZero(dst(inside)), c[1] < 0 ? 0 : inside.area());
        if (c[1] != 0.075)
            continue;
        map(inside).setTo(0);
        EXPECT_EQ(cv::countNonZero(map >= 185), 0);
        EXPECT_EQ(cv::countNonZero(dst), grey.total());
    }
}

// Coarse components of 1 and 5 pixels are dropped at w = 16 (at least
// 5.04), one of 6 pixels is kept: its 7 × 7 blocks, clipped to the mask, get
// the value 7. Every visited pixel is marked 1.
TEST(LabelingAndFilter, KeepsComponentsBetweenTheAreaLimits) {
    cv::Mat bin(4, 8, CV_8UC1, cv::Scalar(255));
    bin(cv::Rect(0, 0, 5, 1)).setTo(0);  // 5 pixels
    bin.at<uchar>(3, 0) = 0;              // 1 pixel
    bin(cv::Rect(5, 2, 3, 2)).setTo(0);  // 6 pixels, in the last coarse column
    cv::Mat mask = cv::Mat::zeros(4 * 7 + 3, 8 * 7 - 4, CV_8UC1);
    labelingAndFilter(bin, 8 * 7 + 6, 4 * 7 + 3, 16 * 16 * 0.7 * 0.9 / 32, 16 * 16 * 44.8, mask, 7);
    EXPECT_EQ(cv::countNonZero(bin == 1), 12);
    EXPECT_EQ(cv::countNonZero(bin == 0), 0);
    const cv::Rect kept(35, 14, 3 * 7 - 4, 2 * 7);
    EXPECT_EQ(cv::countNonZero(mask(kept) == 7), kept.area());
    EXPECT_EQ(cv::countNonZero(mask), kept.area());
}

// 2902 × 2902 white pixels sum to more than the int range: the window
// covering them all still has the true mean.
TEST(Sauvola, WindowSumBeyondTheIntRange) {
    cv::Mat grey(2902, 2902, CV_8UC1, cv::Scalar(255)), dst, map;
    sauvola2(grey, dst, 10000, 0.075, 128, &map, false);
    const double t = referenceThreshold(grey, 0, 0, 10000, 0.075, 128);
    EXPECT_NEAR(t, 20.76, 0.01);
    EXPECT_EQ(cv::countNonZero(map != static_cast<int>(t)), 0);
}

// Bad arguments leave dst as it was (sauvola2: empty); none throws.
TEST(Sauvola, RefusesBadArguments) {
    struct Case {
        cv::Mat src;
        int w, R;
    };
    const cv::Mat grey(20, 20, CV_8UC1, cv::Scalar(90)), kept(2, 2, CV_8UC1, cv::Scalar(3));
    const Case cases[] = {{cv::Mat(), 15, 128}, {cv::Mat(20, 20, CV_16UC1), 15, 128},
                          {cv::Mat(20, 20, CV_32FC1), 15, 128}, {cv::Mat(20, 20, CV_8UC2), 15, 128},
                          {grey, 0, 128}, {grey, -3, 128}, {grey, 15, 0}};
    for (Case c : cases) {
        cv::Mat dst = kept.clone(), multi = kept.clone(), dst2 = kept.clone();
        sauvola(c.src, dst, c.w, 0.075, c.R, false);
        multiScaleSauvola(c.src, multi, c.w, 0.075, c.R, 7, false, 16);
        sauvola2(c.src, dst2, c.w, 0.075, c.R, nullptr, false);
        EXPECT_EQ(cv::countNonZero(dst != kept) + cv::countNonZero(multi != kept), 0) << c.w;
        EXPECT_TRUE(dst2.empty());
    }
    // Scale factors outside 1 … 255 or beyond the image; a coarse window 15 / 16 = 0.
    const cv::Vec2i scales[] = {{0, 16}, {-1, 16}, {256, 16}, {21, 16}, {8, 0}};
    for (const cv::Vec2i& scale : scales) {
        cv::Mat src = grey, multi = kept.clone();
        multiScaleSauvola(src, multi, 15, 0.075, 128, scale[0], false, scale[1]);
        EXPECT_EQ(cv::countNonZero(multi != kept), 0) << scale[0];
    }
}

// A page 7·30 + 3 by 7·20 + 5 with two flat dark squares, the second running
// into the last columns and rows. At full resolution their insides read as
// paper; the coarse pass (window 16) sees them whole and turns them to ink,
// except where no coarse pixel stands for the full ones.
TEST(MultiScaleSauvola, FillsLargeObjectsButNotTheLastColumnsAndRows) {
    cv::Mat grey(7 * 20 + 5, 7 * 30 + 3, CV_8UC1, cv::Scalar(200)), full, multi;
    const cv::Rect square(70, 42, 56, 56), corner(168, 105, 45, 40);
    grey(square).setTo(40);
    grey(corner).setTo(40);
    sauvola(grey, full, 16, 0.075, 128, false);
    multiScaleSauvola(grey, multi, 16, 0.075, 128, 7, false, 16);
    EXPECT_GT(cv::countNonZero(full(square)), 0);
    EXPECT_EQ(cv::countNonZero(multi(square)) + cv::countNonZero(multi(cv::Rect(168, 105, 42, 35))), 0);
    for (const cv::Rect& strip : {cv::Rect(210, 0, 3, grey.rows), cv::Rect(0, 140, grey.cols, 5)}) {
        EXPECT_GT(cv::countNonZero(full(corner & strip)), 0);
        EXPECT_EQ(cv::countNonZero(multi(strip) != full(strip)), 0);
    }
}

// multiScaleSauvola as its steps, with a full-size object mask: the full
// resolution result, and each pixel the labelling marks with s thresholded
// with its coarse pixel's threshold.
TEST(MultiScaleSauvola, EqualsItsStepsWithAFullSizeMask) {
    cv::RNG rng(8);
    const cv::Vec3i cases[] = {{16, 7, 16}, {64, 5, 8}, {333, 7, 32}, {41, 3, 1}};  // w, s, least w2
    int marked = 0;
    for (const cv::Vec3i& c : cases)
        for (bool inverse : {false, true}) {
            const int w = c[0], s = c[1];
            cv::Mat grey = randomPage({643, 488}, rng, false), multi, expected, reduced, coarse, map;
            multiScaleSauvola(grey, multi, w, 0.075, 128, s, inverse, c[2]);
            sauvola(grey, expected, w, 0.075, 128, inverse);
            cv::resize(grey, reduced, cv::Size(grey.cols / s, grey.rows / s), 0, 0, cv::INTER_LINEAR);
            sauvola2(reduced, coarse, std::max(c[2], w / (2 * s)), 0.075, 128, &map, inverse);
            cv::Mat mask = cv::Mat::zeros(grey.size(), CV_8UC1);
            labelingAndFilter(coarse, grey.cols, grey.rows, w * w * 0.7 * 0.9 / 32, w * w * 0.7 * 64,
                              mask, s);
            for (int y = 0; y < grey.rows; ++y)
                for (int x = 0; x < grey.cols; ++x)
                    if (mask.at<uchar>(y, x) == s)
                        expected.at<uchar>(y, x) =
                            (grey.at<uchar>(y, x) < map.at<uchar>(y / s, x / s)) == inverse ? 255 : 0;
            marked += cv::countNonZero(mask);
            EXPECT_EQ(cv::countNonZero(multi != expected), 0) << "w " << w << " inverse " << inverse;
        }
    EXPECT_GT(marked, 0);
}
