#include "binarization_auto.h"
#include "binarization_methods.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

using namespace tarvek::binarization;

namespace {

// Lines of words, 255 where the ink is (no anti-aliasing, so the mask is exact).
cv::Mat textMask(cv::Size size, double scale, int thickness, int font = cv::FONT_HERSHEY_SIMPLEX)
{
    cv::Mat mask(size, CV_8U, cv::Scalar(0));
    const int line = static_cast<int>(45 * scale);
    for (int y = line, i = 0; y < size.height - line / 2; y += line, ++i)
        cv::putText(mask, "Quartz glyph vex " + std::to_string(1000 + 37 * i) + " jumps dwarf", cv::Point(10, y),
                    font, scale, cv::Scalar(255), thickness, cv::LINE_8);
    return mask;
}

// Lighting that grows from 110 on the left to 240 on the right and dims towards the bottom.
cv::Mat gradientLight(cv::Size size)
{
    cv::Mat light(size, CV_32F);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            light.at<float>(y, x) = 110.f + 130.f * x / size.width - 30.f * y / size.height;
    return light;
}

// The page under light: paper at the light's level, ink at depth of it.
cv::Mat litPage(const cv::Mat& ink, const cv::Mat& light, double depth)
{
    cv::Mat inkShare, page;
    ink.convertTo(inkShare, CV_32F, depth / 255.0);
    cv::Mat(light.mul(1.0 - inkShare)).convertTo(page, CV_8U);
    return page;
}

double fMeasure(const cv::Mat& result, const cv::Mat& ink)
{
    const cv::Mat found = result == 0;
    const double hits = cv::countNonZero(found & ink);
    return 2 * hits / (cv::countNonZero(found) + cv::countNonZero(ink));
}

cv::Mat autoResult(cv::Mat src, double k = 0.2)
{
    cv::Mat dst;
    autoBinarize(src, dst, k);
    return dst;
}

}  // namespace

// The estimate follows the light under the text on small pages and on pages
// large enough to be reduced, within a few grey levels.
TEST(PaperBackground, FollowsAKnownLightingGradientUnderText)
{
    for (const cv::Size size : {cv::Size(400, 300), cv::Size(1500, 1100), cv::Size(2600, 1900)}) {
        const cv::Mat light = gradientLight(size);
        const double scale = size.width / 700.0;
        const cv::Mat page = litPage(textMask(size, scale, std::max(1, static_cast<int>(2 * scale))), light, 0.8);
        cv::Mat background = paperBackground(page, 0), error;
        ASSERT_EQ(background.size(), size);
        ASSERT_EQ(background.type(), CV_8UC1);
        background.convertTo(background, CV_32F);
        cv::absdiff(background, light, error);
        // Inside a margin, where the window runs over the edge of the page and sees less of its slope.
        const int margin = size.width / 20;
        const cv::Rect inner(margin, margin, size.width - 2 * margin, size.height - 2 * margin);
        double worst;
        cv::minMaxLoc(error(inner), nullptr, &worst);
        EXPECT_LT(worst, 8) << size;
        EXPECT_LT(cv::mean(error(inner))[0], 3) << size;
    }
}

// Rendered text of each thickness within a pixel, bars of each width exactly, and nothing
// where no run of ink is closed on both ends.
TEST(StrokeWidth, MeasuresTextAndBarsOfKnownWidth)
{
    struct Case {
        cv::Mat ink;
        int width;
        int tolerance;
    };
    std::vector<Case> cases = {{cv::Mat(50, 50, CV_8U, cv::Scalar(0)), 0, 0},
                               {cv::Mat(50, 50, CV_8U, cv::Scalar(255)), 0, 0}}; // every run touches the edge
    // Glyphs grow with the stroke, so that counters and gaps stay open; a Hershey stroke of
    // thickness t is drawn with round pens of diameter t + 1.
    for (int thickness = 2; thickness <= 12; ++thickness)
        cases.push_back({textMask(cv::Size(2200, 500), 0.5 + 0.45 * thickness, thickness), thickness + 1, 1});
    for (int width = 1; width <= 40; width += 3) {
        cv::Mat bars(300, 600, CV_8U, cv::Scalar(0));
        for (int x = 10; x + width < 590; x += width + 7)
            bars(cv::Rect(x, 20, width, 260)) = 255;
        cases.push_back({bars, width, 0});
    }
    for (const Case& c : cases)
        EXPECT_NEAR(strokeWidth(c.ink), c.width, c.tolerance) << "width " << c.width;
}

// Pages with one degradation each against the ink as drawn: the text stays
// whole and the degradation stays paper.
TEST(AutoBinarize, RecoversTheInkOfDegradedPages)
{
    const cv::Size size(900, 700);
    const cv::Mat ink = textMask(size, 1.1, 3);
    cv::Mat backInk, sharpBackInk;
    cv::flip(textMask(size, 1.3, 4), backInk, 1);
    cv::GaussianBlur(backInk, sharpBackInk, cv::Size(0, 0), 0.7);
    cv::GaussianBlur(backInk, backInk, cv::Size(0, 0), 2);

    const cv::Mat flat(size, CV_32F, cv::Scalar(220));
    cv::Mat stained = flat.clone();
    cv::circle(stained, {300, 300}, 160, cv::Scalar(120), cv::FILLED, cv::LINE_AA);
    cv::circle(stained, {700, 500}, 90, cv::Scalar(150), 14, cv::LINE_AA);
    cv::GaussianBlur(stained, stained, cv::Size(0, 0), 6);
    cv::Mat showThrough;
    backInk.convertTo(showThrough, CV_32F, -0.3 / 255, 1);
    showThrough = flat.mul(showThrough);
    cv::Mat sharpShowThrough;
    sharpBackInk.convertTo(sharpShowThrough, CV_32F, -0.45 / 255, 1);
    sharpShowThrough = flat.mul(sharpShowThrough);
    cv::Mat grain(size, CV_32F);
    cv::RNG(5).fill(grain, cv::RNG::NORMAL, 0, 8);

    struct Case {
        const char* name;
        cv::Mat light;
        double depth;
        double leastF;
    };
    for (const Case& c : std::vector<Case>{{"even light", flat, 0.8, 0.97},
                                           {"lighting gradient", gradientLight(size), 0.8, 0.96},
                                           {"stains", stained, 0.8, 0.95},
                                           {"show-through", showThrough, 0.8, 0.95},
                                           {"sharp, dark show-through", sharpShowThrough, 0.9, 0.85},
                                           {"faded ink", flat, 0.35, 0.95},
                                           {"grain", flat + grain, 0.7, 0.93}}) {
        cv::Mat page = litPage(ink, c.light, c.depth);
        cv::GaussianBlur(page, page, cv::Size(0, 0), 0.7);
        const cv::Mat result = autoResult(page);
        ASSERT_EQ(result.size(), size) << c.name;
        EXPECT_GT(fMeasure(result, ink), c.leastF) << c.name;
        cv::Mat otsu;
        cv::threshold(page, otsu, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
        EXPECT_GE(fMeasure(result, ink), fMeasure(otsu, ink) - 0.01) << c.name;
    }
}

// Strokes wider than the background's usual closing, under uneven light, on
// pages small enough to be worked on at full size and large enough to be reduced.
TEST(AutoBinarize, KeepsBoldStrokesWhole)
{
    for (const cv::Size size : {cv::Size(900, 700), cv::Size(2400, 1800)}) {
        const double scale = size.width / 900.0;
        const cv::Mat ink = textMask(size, 4 * scale, static_cast<int>(32 * scale));
        const cv::Mat page = litPage(ink, gradientLight(size), 0.8);
        EXPECT_GT(fMeasure(autoResult(page), ink), 0.97) << size;
    }
}

TEST(AutoBinarize, ColourAndGreyOfOnePageAgreeAndKThickensStrokes)
{
    const cv::Mat ink = textMask(cv::Size(600, 400), 0.9, 2);
    cv::Mat grey = litPage(ink, cv::Mat(ink.size(), CV_32F, cv::Scalar(210)), 0.7), colour, rgba;
    cv::GaussianBlur(grey, grey, cv::Size(0, 0), 1.2);
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    cv::cvtColor(grey, rgba, cv::COLOR_GRAY2RGBA);
    const cv::Mat expected = autoResult(grey);
    EXPECT_EQ(cv::norm(autoResult(colour), expected, cv::NORM_INF), 0);
    EXPECT_EQ(cv::norm(autoResult(rgba), expected, cv::NORM_INF), 0);
    int previous = 0;
    for (double k = 0; k <= 1; k += 0.25) {
        const int inkPixels = cv::countNonZero(autoResult(grey, k) == 0);
        EXPECT_GE(inkPixels, previous) << "k " << k;
        previous = inkPixels;
    }
}

// Any 8-bit image of 1, 3 or 4 channels gives a binary image of its size.
TEST(AutoBinarize, BlankNoisyAndRandomPagesGiveBinaryImages)
{
    cv::RNG rng(11);
    for (int trial = 0; trial < 24; ++trial) {
        const cv::Size size(rng.uniform(AUTO_MIN_SIDE, 300), rng.uniform(AUTO_MIN_SIDE, 300));
        cv::Mat page(size, CV_8UC(1 + 2 * (trial % 2)));
        if (trial < 6)
            page = cv::Scalar::all(trial * 51);  // uniform: no ink anywhere
        else
            rng.fill(page, cv::RNG::UNIFORM, 0, 256);
        const cv::Mat result = autoResult(page);
        ASSERT_EQ(result.size(), size);
        ASSERT_EQ(result.type(), CV_8UC1);
        EXPECT_EQ(cv::countNonZero(result == 0) + cv::countNonZero(result == 255), static_cast<int>(result.total()));
        if (trial < 6) {
            EXPECT_EQ(cv::countNonZero(result == 0), 0) << "uniform " << trial * 51;
        }
    }
    // Paper grain alone is not ink.
    cv::Mat grain(400, 400, CV_8U);
    rng.fill(grain, cv::RNG::NORMAL, 200, 6);
    EXPECT_LT(cv::countNonZero(autoResult(grain) == 0), 20);
}

TEST(AutoBinarize, RefusedSourcesAndOptionsGiveAnEmptyResult)
{
    const cv::Mat page = litPage(textMask(cv::Size(300, 200), 0.6, 1), cv::Mat(200, 300, CV_32F, cv::Scalar(200)), 0.8);
    cv::Mat wide16, float32, twoChannels;
    page.convertTo(wide16, CV_16U, 256);
    page.convertTo(float32, CV_32F);
    cv::merge(std::vector<cv::Mat>{page, page}, twoChannels);
    struct Case {
        const char* name;
        cv::Mat src;
        double k;
    };
    for (const Case& c : std::vector<Case>{{"empty", cv::Mat(), 0.2},
                                           {"16-bit", wide16, 0.2},
                                           {"float", float32, 0.2},
                                           {"two channels", twoChannels, 0.2},
                                           {"too narrow", page.colRange(0, AUTO_MIN_SIDE - 1), 0.2},
                                           {"too low", page.rowRange(0, AUTO_MIN_SIDE - 1), 0.2},
                                           {"one pixel", page(cv::Rect(0, 0, 1, 1)), 0.2},
                                           {"negative k", page, -0.1},
                                           {"k above 1", page, 1.5},
                                           {"NaN k", page, std::nan("")}}) {
        cv::Mat dst(4, 4, CV_8U, cv::Scalar(7));
        cv::Mat src = c.src;
        autoBinarize(src, dst, c.k);
        EXPECT_TRUE(dst.empty()) << c.name;
    }
    EXPECT_FALSE(autoResult(page.colRange(0, AUTO_MIN_SIDE).rowRange(0, AUTO_MIN_SIDE)).empty());
}

TEST(AutoBinarize, IsTheFirstMethodOfTheTableAndBinarizesByName)
{
    ASSERT_EQ(std::string(methods.front().name), "auto");
    const Method& method = *methodNamed("auto");
    EXPECT_EQ(optionsProblem(method, method.defaults), "");
    MethodOptions options = method.defaults;
    options.k = 1.2;
    EXPECT_NE(optionsProblem(method, options), "");
    cv::Mat page = litPage(textMask(cv::Size(500, 300), 0.8, 2), gradientLight(cv::Size(500, 300)), 0.75), dst;
    binarizeNamed(method, page, dst, method.defaults);
    EXPECT_EQ(cv::norm(dst, autoResult(page, method.defaults.k), cv::NORM_INF), 0);
}
