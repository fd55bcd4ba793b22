#include "binarization.h"
#include "binarization_internal.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

using namespace tarvek::binarization;

namespace {

bool isBinary(const cv::Mat& img) {
    return img.type() == CV_8UC1 && cv::countNonZero((img != 0) & (img != 255)) == 0;
}

bool sameImage(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

}  // namespace

// A quarter of the pixels dark with noise, the rest of one light value: from
// 296 × 296 on, that one histogram bin counts more than 16 bits hold.
TEST(OtsuThreshold, AgreesWithOpenCvOnBimodalImages) {
    cv::RNG rng(3);
    for (int trial = 0; trial < 30; ++trial) {
        const int side = 20 + trial * 11;
        const int dark = rng.uniform(20, 90), light = rng.uniform(150, 230);
        cv::Mat grey(side, side, CV_8UC1), noise(side, side, CV_8UC1);
        rng.fill(grey, cv::RNG::UNIFORM, 0, 4);
        const cv::Mat lit = grey > 0;
        grey.setTo(dark);
        grey.setTo(light, lit);
        rng.fill(noise, cv::RNG::NORMAL, 0, 12);  // unsigned: the dark mode only shifts up
        cv::add(grey, noise, grey, ~lit);
        cv::Mat dst;
        int variance = 0;
        const int t = getOtsuThreshold(grey, 0, 0, side, &variance);
        EXPECT_EQ(t, otsu(grey, dst)) << "trial " << trial;
        EXPECT_GT(t, dark);
        EXPECT_LT(t, light);
        EXPECT_GT(variance, 80);
    }
}

TEST(AreaBinarization, TouchBandsAreTwoPixelsLeftAndTopButOneRightAndBottom) {
    struct Case {
        cv::Point dark;
        int value, touches;
    };
    const Case cases[] = {{{1, 3}, 10, TOUCHES_LEFT},  {{4, 3}, 10, 0},
                          {{5, 3}, 10, TOUCHES_RIGHT}, {{3, 1}, 10, TOUCHES_TOP},
                          {{3, 4}, 10, 0},             {{3, 5}, 10, TOUCHES_BOTTOM},
                          {{0, 0}, 10, TOUCHES_LEFT | TOUCHES_TOP},
                          {{0, 0}, 100, 0}};  // equal to the threshold: white
    for (const Case& c : cases)
        for (const cv::Rect& area : {cv::Rect(0, 0, 6, 6), cv::Rect(-3, -3, 20, 20)}) {
            cv::Mat grey(6, 6, CV_8UC1, cv::Scalar(200)), dst(6, 6, CV_8UC1, cv::Scalar(7));
            grey.at<uchar>(c.dark) = static_cast<uchar>(c.value);
            EXPECT_EQ(areaBinarization(grey, dst, area.x, area.y, area.br().x, area.br().y, 100),
                      c.touches);
            EXPECT_EQ(cv::countNonZero(dst == 0), c.value < 100 ? 1 : 0);
            EXPECT_TRUE(isBinary(dst));
        }
}

// Paper lit from dark (left) to bright (right) with ink dots 70 to 100 levels
// below it; 650 × 75 leaves a partial last column and row of blocks.
TEST(AdaptiveOtsu, FollowsUnevenIlluminationIntoPartialBlocks) {
    cv::Mat grey(75, 650, CV_8UC1), ink = cv::Mat::zeros(75, 650, CV_8UC1);
    cv::RNG rng(5);
    for (int y = 0; y < grey.rows; ++y)
        for (int x = 0; x < grey.cols; ++x) {
            const bool dot = x % 8 >= 2 && x % 8 < 5 && y % 8 >= 2 && y % 8 < 5;
            ink.at<uchar>(y, x) = dot ? 255 : 0;
            grey.at<uchar>(y, x) = static_cast<uchar>(110 + x * 140 / 650 - (dot ? rng.uniform(70, 100) : 0));
        }
    cv::Mat adaptive, global;
    adaptiveOtsu(grey, adaptive, 32);
    otsu(grey, global);
    ASSERT_TRUE(isBinary(adaptive));
    EXPECT_EQ(cv::countNonZero((adaptive == 0) & (ink == 0)), 0);  // all paper white
    const cv::Rect partial(0, 64, 650, 11), partialColumn(640, 0, 10, 75);
    for (const cv::Rect& area : {cv::Rect(0, 0, 650, 75), partial, partialColumn})
        EXPECT_GT(cv::countNonZero((adaptive(area) == 0) & ink(area)), 0.9 * cv::countNonZero(ink(area)));
    EXPECT_GT(cv::countNonZero((global == 0) & (ink == 0)), 0.2 * cv::countNonZero(ink == 0));
}

// An 8 × 16 image of two 8 × 8 blocks: a flat dark block (no threshold of its
// own) beside a block whose stroke (values 30 and 40, threshold 40) reaches
// it. The flat block's nearer half is binarized with the stroke block's
// threshold; the same holds down instead of across on the transposed image.
TEST(AdaptiveOtsu, ThresholdSpillsIntoTheFlatNeighbour) {
    struct Case {
        int flatX, strokeX;
        int strokeValues[4];
        cv::Rect spill;
    };
    const Case cases[] = {{8, 4, {40, 30, 40, 30}, cv::Rect(8, 0, 4, 8)},   // borrowed from the left
                          {0, 8, {30, 40, 30, 40}, cv::Rect(4, 0, 4, 8)}};  // lent to the left
    for (const Case& c : cases) {
        cv::Mat grey(8, 16, CV_8UC1, cv::Scalar(200)), expected(8, 16, CV_8UC1, cv::Scalar(255));
        grey(cv::Rect(c.flatX, 0, 8, 8)) = 30;
        expected(c.spill) = 0;
        for (int k = 0; k < 4; ++k) {
            const cv::Rect column(c.strokeX + k, 2, 1, 4);
            grey(column) = c.strokeValues[k];
            if (c.strokeValues[k] < 40)
                expected(column) = 0;
        }
        cv::Mat dst, transposed = grey.t(), dstTransposed;
        adaptiveOtsu(grey, dst, 8);
        adaptiveOtsu(transposed, dstTransposed, 8);
        EXPECT_TRUE(sameImage(dst, expected)) << "flat block at x = " << c.flatX;
        EXPECT_TRUE(sameImage(dstTransposed, expected.t())) << "flat block at y = " << c.flatX;
    }
}

TEST(Binarization, OnePixelThinUniformAndOversizedInputs) {
    cv::Mat one(1, 1, CV_8UC1, cv::Scalar(9)), thin(1, 20000, CV_8UC1);
    cv::Mat uniform(40, 50, CV_8UC3, cv::Scalar::all(90));
    cv::randu(thin, 0, 256);
    for (cv::Mat* src : {&one, &thin, &uniform}) {
        cv::Mat a, b, c;
        thresholdImage(*src, a, 100);
        EXPECT_GE(otsu(*src, b), 0);
        adaptiveOtsu(*src, c, 16);
        EXPECT_TRUE(isBinary(a) && isBinary(b) && isBinary(c) && c.size() == src->size());
        EXPECT_TRUE(src != &uniform || cv::countNonZero(c) == 40 * 50);  // no threshold: all white
    }
    cv::Mat whole, larger;  // a block larger than the image is one block covering it
    adaptiveOtsu(thin, whole, 20000);
    adaptiveOtsu(thin, larger, 1 << 30);
    EXPECT_TRUE(sameImage(whole, larger));
    for (int block : {0, 1, 4}) {  // even blocks are made odd, and 0 and 1 become 3
        cv::Mat dst, reference;
        adaptiveThresholdImage(thin, dst, block, 5);
        cv::adaptiveThreshold(thin, reference, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY,
                              block == 4 ? 5 : 3, 5);
        EXPECT_TRUE(sameImage(dst, reference)) << "block " << block;
    }
}

TEST(Binarization, RefusedInputsLeaveTheOutputAsItWas) {
    cv::Mat grey(4, 4, CV_8UC1, cv::Scalar(9)), kept(2, 2, CV_8UC1, cv::Scalar(7));
    const uchar* before = kept.data;
    for (cv::Mat src : {cv::Mat(), cv::Mat(4, 4, CV_16UC1, cv::Scalar(300)),
                        cv::Mat(4, 4, CV_32FC1, cv::Scalar(0.5)), cv::Mat(4, 4, CV_8UC2, cv::Scalar(9, 9))}) {
        thresholdImage(src, kept, 100);
        adaptiveThresholdImage(src, kept, 3, 0);
        adaptiveOtsu(src, kept, 2);
        cv::Mat emptied = kept.clone();
        EXPECT_EQ(otsu(src, emptied), -1);
        EXPECT_TRUE(emptied.empty());
    }
    adaptiveOtsu(grey, kept, 0);
    adaptiveOtsu(grey, kept, -5);
    adaptiveThresholdImage(grey, kept, -4, 0);
    adaptiveThresholdImage(grey, kept, 7, 0);  // larger than the image both ways
    EXPECT_EQ(kept.data, before);

    for (const cv::Vec3i& r : {cv::Vec3i(4, 0, 2), cv::Vec3i(0, 4, 2), cv::Vec3i(-1, 0, 2),
                               cv::Vec3i(0, -1, 2), cv::Vec3i(0, 0, 0)}) {
        int variance = -7;
        EXPECT_EQ(getOtsuThreshold(grey, r[0], r[1], r[2], &variance), -1);
        EXPECT_EQ(variance, -7);
    }
    EXPECT_EQ(getOtsuThreshold(grey, 1, 1, 9, nullptr), 0);  // one grey value
}
