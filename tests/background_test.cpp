#include "imageprocessing.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "binarization.h"
#include "utils.h"

using namespace tarvek::imageprocessing;

namespace {

bool sameImage(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0);
}

// A photographed page: tinted paper with grey blotches of about a hundred pixels, lines of dark
// text and a red stamp.
cv::Mat photographedPage(int width, int height)
{
    cv::Mat page(height, width, CV_8UC3, cv::Scalar(200, 215, 225)), stains(height / 50, width / 50, CV_8UC1);
    cv::RNG(7).fill(stains, cv::RNG::UNIFORM, 0, 40);
    cv::resize(stains, stains, page.size(), 0, 0, cv::INTER_CUBIC);
    cv::cvtColor(stains, stains, cv::COLOR_GRAY2BGR);
    page -= stains;
    for (int line = 0; 80 + line * 60 < height * 2 / 3; ++line)
        cv::putText(page, "TOTAL 42,000 item " + std::to_string(line), cv::Point(width / 12, 80 + line * 60),
                    cv::FONT_HERSHEY_SIMPLEX, 1.2, cv::Scalar(40, 30, 30), 3);
    cv::circle(page, cv::Point(width * 3 / 4, height * 5 / 6), 45, cv::Scalar(60, 40, 150), cv::FILLED);
    return page;
}

// Pixels that both Sauvola binarizations of the paper search, with the given coarse window, see as
// paper and that are not pure white in result.
int paperPixelsNotWhite(cv::Mat& page, const cv::Mat& result, int coarseWindow)
{
    cv::Mat grey, fine, coarse;
    cv::cvtColor(page, grey, cv::COLOR_BGR2GRAY);
    tarvek::binarization::multiScaleSauvola(grey, fine, 16, 0.075, 128, 7, false, 16);
    tarvek::binarization::multiScaleSauvola(grey, coarse, coarseWindow, 0.075, 128, 7, false, 32);
    cv::Mat white;
    cv::inRange(result, cv::Scalar::all(255), cv::Scalar::all(255), white);
    return cv::countNonZero(~(~fine + ~coarse) & ~white);
}

}  // namespace

// Every paper pixel is painted white. The stains make the paper depend on the coarse window: a
// twelfth of the longer side (133) and not of the shorter one (100), in either orientation.
// Every paper pixel is painted white and the stamp stays dark. The blotches make the paper
// depend on the coarse window: a twelfth of the longer side (133) and not of the shorter one
// (100), in either orientation.
TEST(RemoveBgColor, PaperOfTheCoarseWindowOfATwelfthOfTheLongerSideIsWhite)
{
    for (const cv::Size size : {cv::Size(1200, 1600), cv::Size(1600, 1200)}) {
        cv::Mat page = photographedPage(size.width, size.height), result;
        ASSERT_TRUE(removeBgColor(page, result));
        EXPECT_EQ(paperPixelsNotWhite(page, result, 133), 0) << size;
        EXPECT_GT(paperPixelsNotWhite(page, result, 100), 0) << size;
        EXPECT_LT(result.at<cv::Vec3b>(size.height * 5 / 6, size.width * 3 / 4)[1], 128) << size;
    }
}

// removeBgColor works in one image and sets the paper's luma on the way back to BGR; it gives
// what its steps give one after another, each into an image of its own.
TEST(RemoveBgColor, EqualsItsStepsOneAfterAnother)
{
    cv::Mat page = photographedPage(900, 700), result, grey, fine, coarse, otsu, yuv, equalized, stretched;
    ASSERT_TRUE(removeBgColor(page, result));
    cv::cvtColor(page, grey, cv::COLOR_BGR2GRAY);
    tarvek::binarization::multiScaleSauvola(grey, fine, 16, 0.075, 128, 7, false, 16);
    tarvek::binarization::multiScaleSauvola(grey, coarse, 900 / 12, 0.075, 128, 7, false, 32);
    cv::Mat paper = ~(~fine + ~coarse), expected;
    cv::threshold(grey, otsu, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    cv::cvtColor(page, yuv, cv::COLOR_BGR2YUV);
    backgroundEqualizationYUV(yuv, paper, otsu);
    cv::cvtColor(yuv, equalized, cv::COLOR_YUV2BGR);
    contrastStretchingImage(equalized, stretched, 0.015f, 0.015f, 0.015f);
    whiteBalancingAll(stretched, expected, 0.25f, 0.9f, paper);
    EXPECT_TRUE(sameImage(result, expected));
}

// Sources each operation refuses, leaving dst as it was.
TEST(BackgroundCorrections, RefusedSourcesLeaveTheDestination)
{
    using Operation = std::function<void(cv::Mat&, cv::Mat&)>;
    const Operation colourRemoval = [](cv::Mat& s, cv::Mat& d) { EXPECT_FALSE(removeBgColor(s, d)); };
    const Operation greyRemoval = [](cv::Mat& s, cv::Mat& d) { removeBG(s, d); };
    const Operation balancing = [](cv::Mat& s, cv::Mat& d) {
        cv::Mat none = cv::Mat::zeros(s.size(), CV_8UC1);
        whiteBalancingAll(s, d, 0.25f, 0.9f, none);
    };
    const std::vector<std::pair<cv::Mat, std::vector<Operation>>> refusals = {
        {cv::Mat(), {colourRemoval, greyRemoval, balancing}},
        {cv::Mat(50, 50, CV_16UC3, cv::Scalar::all(200)), {colourRemoval, greyRemoval, balancing}},
        {cv::Mat(50, 50, CV_8UC2, cv::Scalar::all(200)), {colourRemoval, greyRemoval, balancing}},
        {cv::Mat(6, 40, CV_8UC3, cv::Scalar::all(200)), {colourRemoval, greyRemoval}},  // a side below 7
        {cv::Mat(11, 11, CV_8UC1, cv::Scalar(200)), {colourRemoval}},  // a coarse window of 0
        {~photographedPage(600, 800), {colourRemoval}}};                 // light on dark
    for (auto [source, operations] : refusals)
        for (const Operation& operation : operations) {
            cv::Mat result(2, 2, CV_8UC1, cv::Scalar(9)), before = result.clone();
            operation(source, result);
            EXPECT_TRUE(sameImage(result, before)) << source.size << " " << source.type();
        }
}

// Masked Y values 100, 190 and 210 (Otsu splits at 100); the bright paper's mean is 200.
TEST(BackgroundEqualization, MaskedLumaBecomesTheMeanOfTheBrightPaper)
{
    cv::Mat yuv(4, 3, CV_8UC3, cv::Scalar(100, 60, 70)), mask(4, 3, CV_8UC1, cv::Scalar(255));
    cv::Mat otsu = mask.clone();
    yuv.row(1).setTo(cv::Scalar(190, 61, 71));
    yuv.row(2).setTo(cv::Scalar(210, 62, 72));
    mask.row(3).setTo(0);
    cv::Mat expected = yuv.clone();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            expected.at<cv::Vec3b>(r, c)[0] = 200;
    cv::Mat before = yuv.clone();
    backgroundEqualizationYUV(yuv, mask, otsu);
    EXPECT_TRUE(sameImage(yuv, expected));

    // No bright paper in the Otsu mask, no masked pixel, or masks of another size: Y stays.
    cv::Mat none = cv::Mat::zeros(4, 3, CV_8UC1), small(3, 3, CV_8UC1, cv::Scalar(255));
    for (auto [paper, otsuMask] : std::vector<std::pair<cv::Mat, cv::Mat>>{{mask, none}, {none, otsu}, {small, small}}) {
        cv::Mat image = before.clone();
        backgroundEqualizationYUV(image, paper, otsuMask);
        EXPECT_TRUE(sameImage(image, before));
    }
}

TEST(WhiteBalancing, WhiteLevelAndCurve)
{
    // A quarter of the pixels are grey 200, the rest 100: the white level is 200. With gamma 1,
    // half the white level sits in the middle of the curve.
    cv::Mat image(4, 4, CV_8UC3, cv::Scalar::all(100)), none = cv::Mat::zeros(4, 4, CV_8UC1), result;
    image.row(0).setTo(cv::Scalar::all(200));
    image.at<cv::Vec3b>(1, 0) = cv::Vec3b(250, 0, 100);
    whiteBalancingAll(image, result, 0.25f, 1.0f, none);
    EXPECT_EQ(result.at<cv::Vec3b>(0, 0), cv::Vec3b::all(255));
    EXPECT_EQ(result.at<cv::Vec3b>(1, 0), cv::Vec3b(255, 0, 127));
    EXPECT_EQ(result.at<cv::Vec3b>(3, 3), cv::Vec3b::all(127));

    cv::Mat all(4, 4, CV_8UC1, cv::Scalar(255));
    whiteBalancingAll(image, result, 0.25f, 0.9f, all);
    EXPECT_TRUE(sameImage(result, cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(255))));
}

// The corrections that can work in place: with dst = src the result replaces src's pixels;
// a dst that shares another image's pixels is given new ones, and that image keeps its own.
// Large enough for several threads.
TEST(InPlaceCorrections, InPlaceOrIntoNewPixels)
{
    const cv::Mat page = photographedPage(300, 400);
    cv::Mat mask = cv::Mat::zeros(page.size(), CV_8UC1);
    mask(cv::Rect(10, 20, 100, 50)).setTo(255);
    struct Case {
        const char* name;
        cv::Mat image;
        std::function<void(cv::Mat&, cv::Mat&)> correct;
    };
    for (const Case& c : std::vector<Case>{
             {"whiteBalancingAll", page,
              [&](cv::Mat& src, cv::Mat& dst) { whiteBalancingAll(src, dst, 0.25f, 0.9f, mask); }},
             {"contrastStretchingImage", page / 2 + cv::Scalar(20, 60, 100),
              [](cv::Mat& src, cv::Mat& dst) { contrastStretchingImage(src, dst, 0.015f, 0.015f, 0.03f); }}}) {
        cv::Mat source = c.image.clone(), expected, inPlace = c.image.clone(), other = c.image.clone(),
                sharing = other;
        c.correct(source, expected);
        c.correct(inPlace, inPlace);
        c.correct(source, sharing);
        EXPECT_TRUE(sameImage(inPlace, expected)) << c.name;
        EXPECT_TRUE(sameImage(sharing, expected)) << c.name;
        EXPECT_TRUE(sameImage(other, c.image)) << c.name;
        EXPECT_FALSE(sameImage(expected, c.image)) << c.name;
    }
}

// Without a white level (a black image, or no share of pixels) masked pixels become white and
// the others are copied.
TEST(WhiteBalancing, NoWhiteLevelCopiesTheUnmaskedPixels)
{
    cv::Mat black = cv::Mat::zeros(3, 3, CV_8UC3), grey(3, 3, CV_8UC1, cv::Scalar(90)), mask = cv::Mat::zeros(3, 3, CV_8UC1);
    mask.at<uchar>(1, 1) = 255;
    for (auto [source, percent] : std::vector<std::pair<cv::Mat, float>>{{black, 0.25f}, {grey, 0.0f}, {grey, NAN}}) {
        cv::Mat result, expected;
        tarvek::utils::getColorImage(source, expected);
        expected = expected.clone();
        expected.at<cv::Vec3b>(1, 1) = cv::Vec3b::all(255);
        whiteBalancingAll(source, result, percent, 0.9f, mask);
        EXPECT_TRUE(sameImage(result, expected)) << percent;
    }
}

TEST(RemoveBG, UniformImagesBecomeWhite)
{
    for (cv::Mat source : {cv::Mat(70, 90, CV_8UC1, cv::Scalar(150)), cv::Mat(7, 7, CV_8UC3, cv::Scalar::all(30))}) {
        cv::Mat result;
        removeBG(source, result);
        EXPECT_TRUE(sameImage(result, cv::Mat(source.size(), CV_8UC1, cv::Scalar(255))));
    }
}
