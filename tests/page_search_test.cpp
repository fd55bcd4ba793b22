#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "document_search.h"
#include "documentarea.h"
#include "documentarea/page_search.h"

namespace {

using namespace tarvek::documentarea;
using pagesearch::Quadrangle;

enum class Desk { Mottled, Striped, PaperTone, Dark };

// A photographed page: its corners, how it lies and how the photo was taken.
struct Scene {
    const char* name;
    Desk desk;
    Quadrangle page;        // top-left, top-right, bottom-right, bottom-left
    double blur = 0;        // sigma of the camera's blur
    bool finger = false;    // something across the page's right side
    bool shadow = false;    // a soft shadow over half the photo
    int jpegQuality = 90;
    bool printed = true;    // lines of text on the page
};

const cv::Size kPhoto(1600, 1200);

// The page's corners with eight bits of sub-pixel precision, as the drawing functions take them.
std::vector<cv::Point> subpixel(const Quadrangle& q)
{
    std::vector<cv::Point> points;
    for (const cv::Point2f& p : q)
        points.emplace_back(cvRound(p.x * 256), cvRound(p.y * 256));
    return points;
}

cv::Mat desk(Desk kind, cv::Size size)
{
    cv::RNG rng(11);
    cv::Mat coarse(size.height / 20, size.width / 20, CV_8UC3), photo;
    switch (kind) {
    case Desk::Mottled:
        rng.fill(coarse, cv::RNG::UNIFORM, cv::Scalar(40, 60, 90), cv::Scalar(80, 100, 140));
        break;
    case Desk::Striped:
        for (int x = 0; x < coarse.cols; ++x)
            coarse.col(x).setTo(x % 3 ? cv::Scalar(60, 90, 130) : cv::Scalar(35, 55, 85));
        break;
    case Desk::PaperTone:
        rng.fill(coarse, cv::RNG::UNIFORM, cv::Scalar(170, 180, 190), cv::Scalar(185, 195, 205));
        break;
    case Desk::Dark:
        rng.fill(coarse, cv::RNG::UNIFORM, cv::Scalar(10, 10, 10), cv::Scalar(40, 40, 40));
        break;
    }
    cv::resize(coarse, photo, size, 0, 0, cv::INTER_CUBIC);
    return photo;
}

// The page warped onto the desk: white paper with lines of text, then light, blur and JPEG.
cv::Mat photographed(const Scene& scene)
{
    cv::Mat sheet(1414, 1000, CV_8UC3, cv::Scalar(236, 240, 242));
    for (int y = 160; scene.printed && y < 1300; y += 40)
        cv::putText(sheet, "Invoice 2041  total 1,250.00  due 30 days", cv::Point(90, y), cv::FONT_HERSHEY_SIMPLEX,
                    0.9, cv::Scalar(40, 40, 40), 2, cv::LINE_AA);
    const cv::Point2f from[] = {{-0.5f, -0.5f}, {999.5f, -0.5f}, {999.5f, 1413.5f}, {-0.5f, 1413.5f}};
    cv::Mat photo = desk(scene.desk, kPhoto), warped, mask;
    const cv::Mat transform = cv::getPerspectiveTransform(from, scene.page.data());
    cv::warpPerspective(sheet, warped, transform, kPhoto, cv::INTER_AREA);
    mask = cv::Mat::zeros(kPhoto, CV_8U);
    cv::fillConvexPoly(mask, subpixel(scene.page), cv::Scalar(255), cv::LINE_AA, 8);
    warped.copyTo(photo, mask > 127);
    if (scene.finger) {
        const cv::Point2f on = (scene.page[1] + scene.page[2]) * 0.5f;
        cv::line(photo, on + cv::Point2f(120, 30), on - cv::Point2f(160, 40), cv::Scalar(120, 150, 210), 60,
                 cv::LINE_AA);
    }
    if (scene.shadow) {
        cv::Mat light(kPhoto, CV_32F, cv::Scalar(1));
        light(cv::Rect(0, 0, kPhoto.width / 2, kPhoto.height)).setTo(0.6);
        cv::GaussianBlur(light, light, cv::Size(0, 0), 60);
        cv::Mat channels[3];
        cv::split(photo, channels);
        for (cv::Mat& c : channels)
            cv::multiply(c, light, c, 1, CV_8U);
        cv::merge(channels, 3, photo);
    }
    if (scene.blur > 0)
        cv::GaussianBlur(photo, photo, cv::Size(0, 0), scene.blur);
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", photo, jpeg, {cv::IMWRITE_JPEG_QUALITY, scene.jpegQuality});
    return cv::imdecode(jpeg, cv::IMREAD_COLOR);
}

// A page of the given share of the photo, height/width ratio, turn (degrees) and perspective
// (the top side shorter by that share), centred at centre.
Quadrangle pageAt(double share, double ratio, double turn, double perspective, cv::Point2f centre)
{
    const double width = std::sqrt(share * kPhoto.area() / ratio), height = width * ratio;
    const double top = width * (1 - perspective) / 2, bottom = width / 2;
    const cv::Point2d corners[] = {{-top, -height / 2}, {top, -height / 2}, {bottom, height / 2}, {-bottom, height / 2}};
    const double c = std::cos(turn * CV_PI / 180), s = std::sin(turn * CV_PI / 180);
    Quadrangle q;
    for (int k = 0; k < 4; ++k)
        q[k] = centre + cv::Point2f(static_cast<float>(corners[k].x * c - corners[k].y * s),
                                    static_cast<float>(corners[k].x * s + corners[k].y * c));
    return pagesearch::inCornerOrder(q);
}

double diagonal() { return std::hypot(kPhoto.width, kPhoto.height); }

const cv::Point2f kCentre(800, 600);

TEST(PageSearch, FindsPhotographedPagesWithinAHundredthOfTheDiagonal)
{
    const Scene scenes[] = {
        {"small and turned", Desk::Mottled, pageAt(0.08, 1.414, 30, 0.1, {560, 420}), 1.0},
        {"turned 40 degrees", Desk::Striped, pageAt(0.25, 1.414, -40, 0.05, kCentre), 1.5},
        {"filling the photo", Desk::Dark, pageAt(0.9, 0.72, 2, 0.03, kCentre), 0.8},
        {"close in tone to the desk", Desk::PaperTone, pageAt(0.3, 1.414, 12, 0.15, kCentre), 1.0},
        {"a finger across a side", Desk::Mottled, pageAt(0.3, 1.414, -8, 0.1, kCentre), 1.0, true},
        {"in a shadow's edge", Desk::Striped, pageAt(0.35, 1.414, 20, 0.1, kCentre), 1.2, false, true},
        {"receipt, blurred, heavy JPEG", Desk::Mottled, pageAt(0.12, 3.0, -15, 0.05, kCentre), 2.5, false, false, 50},
        {"card in landscape", Desk::Dark, pageAt(0.2, 0.63, 25, 0.08, kCentre), 1.0},
    };
    for (const Scene& scene : scenes) {
        SCOPED_TRACE(scene.name);
        const auto found = findDocument(photographed(scene));
        ASSERT_TRUE(found.has_value());
        EXPECT_GT(found->confidence, 0.5);
        EXPECT_LE(found->confidence, 1.0);
        for (int k = 0; k < 4; ++k)
            EXPECT_LT(cv::norm(found->corners[k] - scene.page[k]), 0.01 * diagonal()) << "corner " << k;
    }
}

TEST(PageSearch, APageCutByThePhotosEdgeHasCornersOutsideIt)
{
    Scene scene{"cut at the bottom", Desk::Dark, pageAt(0.35, 1.414, 5, 0.05, {800, 900})};
    ASSERT_GT(scene.page[2].y, kPhoto.height);
    const auto found = findDocument(photographed(scene));
    ASSERT_TRUE(found.has_value());
    // The top corners are seen; the bottom side, beyond the photo, is taken at its edge.
    for (int k : {0, 1})
        EXPECT_LT(cv::norm(found->corners[k] - scene.page[k]), 0.01 * diagonal());
    for (int k : {2, 3}) {
        EXPECT_GT(found->corners[k].y, kPhoto.height - 3.0f);
        EXPECT_LT(std::abs(found->corners[k].x - scene.page[k].x), 0.02 * diagonal());
    }
}

TEST(PageSearch, APageFromEdgeToEdgeOfThePhotoIsFoundByItsTwoOtherSides)
{
    // A receipt as high as the photo: its top and bottom lie along the frame, where no step across
    // them can be measured.
    Scene scene{"receipt from edge to edge", Desk::Mottled, pageAt(0.232, 3.2, 0, 0.02, kCentre), 1.0};
    ASSERT_LT(scene.page[0].y, 4);
    ASSERT_GT(scene.page[2].y, kPhoto.height - 5);
    const auto found = findDocument(photographed(scene));
    ASSERT_TRUE(found.has_value());
    for (int k = 0; k < 4; ++k)
        EXPECT_LT(cv::norm(found->corners[k] - scene.page[k]), 0.01 * diagonal()) << "corner " << k;
}

TEST(PageSearch, SidesAreFittedToSubpixelPrecision)
{
    // A bright quadrangle with known fractional corners, drawn eight times larger and reduced by
    // averaging (pixel (x, y) of the photo covers x - 0.5 to x + 0.5 of the drawing's scale),
    // slightly blurred; the fit starts from corners three pixels off.
    constexpr int supersampling = 8;
    const Quadrangle truth = {cv::Point2f(150.3f, 110.7f), {640.6f, 95.2f}, {660.1f, 480.45f}, {130.85f, 500.9f}};
    Quadrangle drawn;
    for (int k = 0; k < 4; ++k)
        drawn[k] = (truth[k] + cv::Point2f(0.5f, 0.5f)) * supersampling - cv::Point2f(0.5f, 0.5f);
    cv::Mat large(600 * supersampling, 800 * supersampling, CV_8UC1, cv::Scalar(60)), photo;
    cv::fillConvexPoly(large, subpixel(drawn), cv::Scalar(200), cv::LINE_8, 8);
    cv::resize(large, photo, cv::Size(800, 600), 0, 0, cv::INTER_AREA);
    cv::GaussianBlur(photo, photo, cv::Size(0, 0), 1.0);
    Quadrangle rough = truth;
    for (cv::Point2f& p : rough)
        p += cv::Point2f(3, -2);
    const auto fitted = pagesearch::fittedToEdges(photo, pagesearch::fittedToEdges(photo, rough, 6).corners, 2.5);
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(fitted.corners[k].x, truth[k].x, 0.2) << "corner " << k;
        EXPECT_NEAR(fitted.corners[k].y, truth[k].y, 0.2) << "corner " << k;
        EXPECT_GT(fitted.fit.support[k], 0.95);
    }
}

TEST(PageSearch, APartOfThePageCutOffByARuleGrowsToTheWholePage)
{
    // A sheet on a dark desk with a dark rule across it: the part above the rule is a quadrangle
    // of its own, but its two sides go on as the sheet's edges beyond the rule; the sheet's own
    // sides end there. A shadow across the right edge does not stop the growth.
    cv::Mat photo(600, 800, CV_8UC3, cv::Scalar(50, 60, 70));
    const Quadrangle sheet = {cv::Point2f(200, 80), {560, 90}, {550, 540}, {190, 530}};
    cv::fillConvexPoly(photo, subpixel(sheet), cv::Scalar(225, 230, 232), cv::LINE_AA, 8);
    cv::line(photo, {150, 250}, {610, 258}, cv::Scalar(30, 30, 30), 6, cv::LINE_AA);
    cv::rectangle(photo, cv::Rect(500, 330, 120, 14), cv::Scalar(90, 100, 110), cv::FILLED);
    cv::GaussianBlur(photo, photo, cv::Size(0, 0), 1.0);
    const cv::Point2f leftOnRule(196.2f, 248), rightOnRule(556.4f, 254);
    const Quadrangle part = {sheet[0], sheet[1], rightOnRule, leftOnRule};
    const struct {
        const char* name;
        Quadrangle start;
    } cases[] = {{"the part above the rule", part}, {"the whole sheet", sheet}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Quadrangle grown = pagesearch::extendedAlongItsSides(photo, c.start, pagesearch::lightness);
        for (int k = 0; k < 4; ++k)
            EXPECT_LT(cv::norm(grown[k] - sheet[k]), 12) << "corner " << k;
    }
}

TEST(PageSearch, DesksWithoutAPageGiveNothing)
{
    cv::Mat cluttered = desk(Desk::Mottled, kPhoto);
    cv::rectangle(cluttered, cv::Rect(100, 100, 160, 110), cv::Scalar(40, 200, 240), cv::FILLED);  // a sticky note
    cv::circle(cluttered, {1200, 800}, 90, cv::Scalar(30, 30, 160), cv::FILLED, cv::LINE_AA);
    cv::line(cluttered, {0, 1000}, {1600, 700}, cv::Scalar(20, 20, 20), 8, cv::LINE_AA);  // a cable
    cv::Mat shadowed = desk(Desk::PaperTone, kPhoto);
    shadowed(cv::Rect(0, 0, 700, 1200)) *= 0.6;
    cv::GaussianBlur(shadowed, shadowed, cv::Size(0, 0), 25);
    cv::Mat noise(kPhoto, CV_8UC3);
    cv::randu(noise, cv::Scalar::all(0), cv::Scalar::all(255));
    for (const cv::Mat& photo : {desk(Desk::Striped, kPhoto), desk(Desk::Dark, kPhoto), cluttered, shadowed, noise})
        EXPECT_FALSE(findDocument(photo).has_value());
}

TEST(PageSearch, TheKindHintRejectsAnotherShape)
{
    // A plain card and a plain receipt on the desk, seen from straight above (a trapezoid without
    // the foreshortening of a real camera would show another ratio): each found without a hint and
    // with its own kind's ratios, neither as an A4 page.
    const auto ratiosOf = [](int kind) {
        const tarvek::documentsearch::Ratios r = tarvek::documentsearch::ratiosOfKind(kind);
        FindOptions options;
        options.pageRatios = {r.portrait, r.landscape};
        return options;
    };
    FindOptions receipt;
    receipt.pageRatios = {3.0f};
    const std::pair<Scene, FindOptions> cases[] = {
        {{"card", Desk::Dark, pageAt(0.2, 0.63, 10, 0, kCentre)}, ratiosOf(0x300)},
        {{"receipt", Desk::Mottled, pageAt(0.15, 3.0, -10, 0, kCentre)}, receipt},
    };
    for (auto [scene, own] : cases) {
        SCOPED_TRACE(scene.name);
        scene.printed = false;
        const cv::Mat photo = photographed(scene);
        EXPECT_TRUE(findDocument(photo).has_value());
        EXPECT_TRUE(findDocument(photo, own).has_value());
        EXPECT_FALSE(findDocument(photo, ratiosOf(0x302)).has_value());
    }
}

TEST(PageSearch, UnsearchablePhotosGiveNothingAndStayUntouched)
{
    const cv::Mat page = photographed({"page", Desk::Dark, pageAt(0.3, 1.414, 0, 0, kCentre)});
    cv::Mat deep, floating, twoChannels;
    page.convertTo(deep, CV_16UC3, 257);
    page.convertTo(floating, CV_32FC3, 1 / 255.0);
    cv::Mat grey;
    cv::cvtColor(page, grey, cv::COLOR_BGR2GRAY);
    cv::merge(std::vector<cv::Mat>{grey, grey}, twoChannels);
    const cv::Mat inputs[] = {cv::Mat(), deep, floating, twoChannels, cv::Mat(10, 10, CV_8UC3, cv::Scalar::all(200)),
                              cv::Mat(1, 20000, CV_8UC3, cv::Scalar::all(200)),
                              cv::Mat(20000, 1, CV_8UC1, cv::Scalar::all(200))};
    for (const cv::Mat& input : inputs) {
        const cv::Mat before = input.clone();
        EXPECT_FALSE(findDocument(input).has_value());
        EXPECT_EQ(cv::norm(input, before, cv::NORM_INF), 0);
    }
}

TEST(PageSearch, TheAutoStrategyAnswersTheSearchsCornersAndConfidence)
{
    const Scene scene{"page", Desk::Mottled, pageAt(0.3, 1.414, 10, 0.1, kCentre)};
    cv::Mat photo = photographed(scene);
    const tarvek::documentsearch::Strategy* strategy = tarvek::documentsearch::strategyNamed("auto");
    ASSERT_NE(strategy, nullptr);
    const auto detection = strategy->find(photo, {});
    const auto found = findDocument(photo);
    ASSERT_TRUE(detection && found);
    ASSERT_EQ(detection->corners.size(), 4u);
    EXPECT_EQ(detection->confidence, found->confidence);
    const auto whole = tarvek::documentsearch::wholePixels(detection->corners);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(detection->corners[k], found->corners[k]);
        EXPECT_EQ(whole[k], cv::Point(cvRound(found->corners[k].x), cvRound(found->corners[k].y)));
    }
}

}  // namespace
