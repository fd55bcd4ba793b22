#include "imageprocessing.h"
#include "imageprocessing/levels.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <functional>
#include <vector>

using namespace tarvek::imageprocessing;

namespace {

// All 256 levels, in every channel.
cv::Mat levelRamp(int channels = 1)
{
    cv::Mat ramp(1, 256, CV_8UC1);
    for (int v = 0; v < 256; ++v)
        ramp.at<uchar>(v) = static_cast<uchar>(v);
    cv::merge(std::vector<cv::Mat>(static_cast<size_t>(channels), ramp), ramp);
    return ramp;
}

cv::Mat randomImage(int rows, int cols, int type, uint64 seed)
{
    cv::Mat image(rows, cols, type);
    cv::RNG(seed).fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

bool sameImage(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0);
}

// A 10 x 10 image with the given number of pixels at each level.
cv::Mat imageOfCounts(const std::vector<std::pair<int, int>>& levelCounts)
{
    std::vector<uchar> pixels;
    for (const auto& [level, count] : levelCounts)
        pixels.insert(pixels.end(), static_cast<size_t>(count), static_cast<uchar>(level));
    return cv::Mat(pixels, true).reshape(1, 10);
}

}  // namespace

TEST(ContrastBrightness, ClampsAndKnownTables)
{
    cv::Mat ramp = levelRamp(3), clamped, limit, neutral, steep;
    contrastBrightness(ramp, clamped, 150, -150);
    contrastBrightness(ramp, limit, 100, -100);
    EXPECT_TRUE(sameImage(clamped, limit));
    contrastBrightness(ramp, neutral, 0, 0);
    contrastBrightness(ramp, steep, 100, 0);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(neutral.at<cv::Vec3b>(0, v), cv::Vec3b::all(std::min(cvRound(v * 256 / 255.0), 255))) << v;
        EXPECT_EQ(steep.at<cv::Vec3b>(0, v), cv::Vec3b::all(v < 128 ? 0 : 255)) << v;
    }
}

// The tables give what OpenCV's saturating addition gives, at every level and shift.
TEST(Brightness, TableEqualsSaturatingAdditionWithTheShiftClamped)
{
    cv::Mat ramp = levelRamp(4), shifted;
    for (int b = -200; b <= 200; b += 7) {
        brightness(ramp, shifted, b);
        cv::Mat expected = ramp + cv::Scalar::all(std::clamp(b, -128, 128));
        EXPECT_TRUE(sameImage(shifted, expected)) << b;
    }
}

// The table path equals the loop body run over every pixel, in a region that is not continuous.
TEST(Contrast, TableEqualsTheLoopBodyOnEveryPixel)
{
    cv::Mat image = randomImage(67, 301, CV_8UC1, 3)(cv::Rect(5, 2, 256, 64)), flat = image.clone();
    for (int c : {-300, -128, -40, -1, 0, 1, 57, 128, 300}) {
        cv::Mat table, perPixel(flat.size(), CV_8UC1);
        contrast(image, table, c);
        const Parallel_for_contrast body(flat.ptr<uchar>(), perPixel.ptr<uchar>(), std::clamp(c, -128, 128));
        cv::parallel_for_(cv::Range(0, static_cast<int>(flat.total())), body, -1.0);
        EXPECT_TRUE(sameImage(table, perPixel)) << c;
    }
    cv::Mat ramp = levelRamp(), result;
    contrast(ramp, result, -128);
    EXPECT_TRUE(sameImage(result, cv::Mat(ramp.size(), CV_8UC1, cv::Scalar(128))));
}

TEST(Soften, LevelZeroCopiesAndLevelsAboveTenBlurWithSigma21)
{
    cv::Mat image = randomImage(40, 50, CV_8UC3, 5), copy, blurred, expected;
    soften(image, copy, 0);
    EXPECT_TRUE(sameImage(copy, image));
    EXPECT_NE(copy.data, image.data);
    soften(image, blurred, 11);
    cv::GaussianBlur(image, expected, cv::Size(0, 0), 21, 21);
    EXPECT_TRUE(sameImage(blurred, expected));
}

TEST(Sharpen, FlatImagesStayAndEdgesOvershoot)
{
    cv::Mat flat(30, 30, CV_8UC1, cv::Scalar(90)), edge = flat.clone(), result;
    for (int amount : {-1, 0, 1, 10, 99}) {
        sharpen(flat, result, amount);
        EXPECT_TRUE(sameImage(result, flat)) << amount;
    }
    edge.colRange(15, 30).setTo(160);
    sharpen(edge, result, 3);
    EXPECT_LT(result.at<uchar>(0, 14), 90);
    EXPECT_GT(result.at<uchar>(0, 15), 160);
}

// Blue: mostly 0 and 20 with 1 % at 200, so its upper clip level 20 is raised to 35. Green: no
// brighter than 70, left alone. Red: a single level, which maps to 255.
TEST(ContrastStretching, RaisedUpperClipDarkChannelAndSingleLevel)
{
    std::vector<cv::Mat> planes = {imageOfCounts({{0, 60}, {20, 39}, {200, 1}}),
                                   imageOfCounts({{0, 50}, {30, 30}, {70, 20}}), imageOfCounts({{100, 100}})};
    cv::Mat image, stretched, preset;
    cv::merge(planes, image);
    contrastStretchingImage(image, stretched, 0.015f, 0.015f, 0.015f);
    getContrastStretchingImage(image, preset);
    EXPECT_TRUE(sameImage(preset, stretched));
    for (const auto& [pixel, expected] : std::vector<std::pair<int, cv::Vec3b>>{
             {0, {0, 0, 255}}, {60, {20 * 255 / 35, 30, 255}}, {99, {255, 70, 255}}})
        EXPECT_EQ(stretched.at<cv::Vec3b>(pixel / 10, pixel % 10), expected) << pixel;
}

// Levels 10 and 50 hold the 10 % point (lo = 50), 200 is the peak and 210 the 99 % point, mirrored
// to 190; 120 stretches above 59.
TEST(HistogramStretch, ThreeLevelsAroundTheMirroredPeak)
{
    cv::Mat image = imageOfCounts({{10, 5}, {50, 10}, {120, 5}, {200, 60}, {210, 19}, {250, 1}}), result;
    histogramStretch(image, result);
    for (const auto& [pixel, expected] : std::vector<std::pair<int, int>>{{0, 0}, {5, 128}, {15, 255}, {99, 255}})
        EXPECT_EQ(result.at<uchar>(pixel / 10, pixel % 10), expected) << pixel;
    histogramStretch(image, image);  // in place
    EXPECT_TRUE(sameImage(image, result));
}

// Counted per channel, in a region that is not continuous, with and without a mask.
TEST(LevelHistogram, EqualsCalcHist)
{
    const cv::Mat image = randomImage(50, 61, CV_8UC3, 9)(cv::Rect(3, 4, 57, 41));
    const cv::Mat mask = randomImage(41, 57, CV_8UC1, 10) > 128;
    const int bins = 256;
    const float range[] = {0, 256};
    const float* ranges[] = {range};
    for (int channel = 0; channel < 3; ++channel) {
        cv::Mat all, masked;
        cv::calcHist(&image, 1, &channel, cv::Mat(), all, 1, &bins, ranges);
        cv::calcHist(&image, 1, &channel, mask, masked, 1, &bins, ranges);
        const LevelCounts counts = levelCounts(image, channel, mask);
        EXPECT_TRUE(sameImage(levelHistogram(image, channel), all)) << channel;
        EXPECT_TRUE(std::equal(counts.begin(), counts.end(), masked.begin<float>())) << channel;
    }
    // All three channels at once, on an image large enough to be counted by several threads.
    const cv::Mat large = randomImage(1003, 517, CV_8UC3, 11)(cv::Rect(1, 2, 515, 1000));
    const ChannelCounts channels = channelLevelCounts(large);
    for (int channel = 0; channel < 3; ++channel)
        EXPECT_TRUE(std::equal(channels[channel].begin(), channels[channel].end(),
                               levelHistogram(large, channel).begin<float>()))
            << channel;
}

// Sources outside the contracts: an unchanged copy, or dst left as it was where an operation has
// no result of its own.
TEST(ToneCorrections, UnsupportedSourcesGiveACopyOrLeaveTheDestination)
{
    using Operation = std::function<void(cv::Mat&, cv::Mat&)>;
    const Operation lut = [](cv::Mat& s, cv::Mat& d) { contrastBrightness(s, d, 30, 10); };
    const Operation shift = [](cv::Mat& s, cv::Mat& d) { brightness(s, d, 30); };
    const Operation curve = [](cv::Mat& s, cv::Mat& d) { contrast(s, d, 30); };
    const Operation blur = [](cv::Mat& s, cv::Mat& d) { soften(s, d, 3); };
    const Operation unsharp = [](cv::Mat& s, cv::Mat& d) { sharpen(s, d, 3); };
    const Operation threeLevels = [](cv::Mat& s, cv::Mat& d) { histogramStretch(s, d); };
    const Operation stretch = [](cv::Mat& s, cv::Mat& d) { getContrastStretchingImage(s, d); };
    const cv::Mat nothing, signedBytes(8, 8, CV_8SC1, cv::Scalar(-3)), words(8, 8, CV_32SC3, cv::Scalar::all(7)),
        shorts(8, 8, CV_16UC1, cv::Scalar(300)), floats(8, 8, CV_32FC1, cv::Scalar(0.5)),
        colour(8, 8, CV_8UC3, cv::Scalar(1, 2, 3)), twoChannels(8, 8, CV_8UC2, cv::Scalar(1, 2));
    const std::vector<std::pair<std::vector<cv::Mat>, std::vector<Operation>>> copies = {
        {{nothing, signedBytes, words}, {lut, shift, curve, blur, unsharp}},
        {{shorts, floats}, {lut, shift, curve, unsharp}},
        {{colour}, {curve, unsharp}}};
    for (const auto& [sources, operations] : copies)
        for (cv::Mat source : sources)
            for (const Operation& operation : operations) {
                cv::Mat result;
                operation(source, result);
                EXPECT_TRUE(sameImage(result, source)) << source.type();
            }
    const std::vector<std::pair<std::vector<cv::Mat>, std::vector<Operation>>> untouched = {
        {{nothing, signedBytes, words, shorts, floats, twoChannels}, {threeLevels, stretch}}, {{colour}, {threeLevels}}};
    for (const auto& [sources, operations] : untouched)
        for (cv::Mat source : sources)
            for (const Operation& operation : operations) {
                cv::Mat result(3, 3, CV_8UC1, cv::Scalar(7)), before = result.clone();
                operation(source, result);
                EXPECT_TRUE(sameImage(result, before)) << source.type();
            }
}

TEST(ToneCorrections, OnePixelImages)
{
    cv::Mat grey(1, 1, CV_8UC1, cv::Scalar(77)), colour(1, 1, CV_8UC3, cv::Scalar(10, 100, 200)), a, b, c, d;
    soften(grey, a, 10);
    sharpen(grey, b, 10);
    histogramStretch(grey, c);
    getContrastStretchingImage(colour, d);
    EXPECT_EQ(std::vector<int>({a.at<uchar>(0), b.at<uchar>(0), c.at<uchar>(0)}), std::vector<int>({77, 77, 255}));
    EXPECT_EQ(d.at<cv::Vec3b>(0), cv::Vec3b(10, 255, 255));
}
