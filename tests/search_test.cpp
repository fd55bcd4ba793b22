#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "documentarea.h"
#include "test_images.h"

namespace {

using namespace tarvek::documentarea;
using Corners = std::vector<cv::Point>;

const cv::Size kSize(1600, 1200);
const Corners kPage = {{360, 100}, {1216, 168}, {1296, 1116}, {280, 1056}};

using Search = std::function<bool(cv::Mat&, Corners&)>;

struct Strategy {
    const char* name;
    Search run;
    double tolerance = 0.03;  // of the photograph's diagonal
};

int code;
float accuracy, whRatio, angleDiff;

const std::vector<Strategy> kStrategies = {
    {"grey", [](cv::Mat& img, Corners& out) {
         code = find_using_gray_canny(img, out, 0, 0, 0, accuracy, whRatio, angleDiff, false, false, false);
         return code != 2;
     }},
    {"grey, DOC, equalized", [](cv::Mat& img, Corners& out) {
         code = find_using_gray_canny(img, out, 0, 0, 0, accuracy, whRatio, angleDiff, true, true, false);
         return code != 2;
     },
     0.04},  // the band between two blurs lies a little outside the page
    {"colour", [](cv::Mat& img, Corners& out) {
         code = find_using_hsv_canny(img, out, 0, 0, 0, accuracy, whRatio, angleDiff, false, false, false);
         return code != 2;
     }},
    {"colour with groups", [](cv::Mat& img, Corners& out) {
         std::vector<cv::Vec2f> l, r, t, b;
         code = find_using_hsv_canny2(img, out, 0, 0, 0, accuracy, whRatio, angleDiff, false, false, false, &l, &r,
                                      &t, &b);
         return code != 2 && !l.empty() && !r.empty() && !t.empty() && !b.empty();
     }},
    {"watershed", [](cv::Mat& img, Corners& out) {
         return find_using_watershed_canny(img, out, accuracy, whRatio, angleDiff);
     }},
    {"comparing", [](cv::Mat& img, Corners& out) {
         return find_compare_grayCanny_hsvCanny(img, out, 0, 0, 0, false, false, false) != 2;
     }},
    {"comparing with groups", [](cv::Mat& img, Corners& out) {
         return find_compare_grayCanny_hsvCanny_IDCardVertices(img, out, 1.0f, 0, 0, false, false, false) != 2;
     }},
    {"bands 0", [](cv::Mat& img, Corners& out) { return find(img, 0, out); }},
    {"bands 1", [](cv::Mat& img, Corners& out) { return find(img, 1, out); }},
    {"bands 3", [](cv::Mat& img, Corners& out) { return find(img, 3, out); }},
};

TEST(Search, EveryStrategyFindsThePhotographedPage)
{
    const std::vector<std::pair<cv::Size, Corners>> photos = {
        {kSize, kPage}, {{1200, 1600}, {{150, 180}, {1010, 110}, {1080, 1480}, {90, 1420}}}};
    for (const auto& [size, page] : photos) {
        cv::Mat photo = photographedPage(size, page);
        const cv::Mat original = photo.clone();
        for (const Strategy& s : kStrategies) {
            const double tolerance = s.tolerance * std::hypot(size.width, size.height);
            Corners out = {{-1, -1}};  // appended to, never cleared
            ASSERT_TRUE(s.run(photo, out)) << s.name << " " << size;
            ASSERT_EQ(out.size(), 5u) << s.name;
            for (int k = 0; k < 4; ++k)
                EXPECT_LE(cv::norm(out[k + 1] - page[k]), tolerance) << s.name << " " << size << " corner " << k;
            EXPECT_EQ(cv::norm(photo, original, cv::NORM_INF), 0) << s.name;
        }
    }
}

TEST(Search, CornersAreScaledBackToTheFullPhotograph)
{
    // 2000 x 1000 is searched at 320 x 160.
    const Corners page = {{500, 150}, {1500, 150}, {1500, 850}, {500, 850}};
    cv::Mat photo = photographedPage({2000, 1000}, page);
    Corners out;
    ASSERT_EQ(find_using_gray_canny(photo, out, 0, 0, 0, accuracy, whRatio, angleDiff, false, false, false), 1);
    for (int k = 0; k < 4; ++k)
        EXPECT_LE(cv::norm(out[k] - page[k]), 2000 / 320 * 2) << k;
    EXPECT_NEAR(whRatio, 0.7f, 0.02f);
    EXPECT_GE(accuracy, 0.9f);
}

TEST(Search, UnsearchablePhotographsGiveNothing)
{
    std::vector<cv::Mat> photos = {cv::Mat(),
                                   cv::Mat(1, 1, CV_8UC3, cv::Scalar::all(200)),
                                   cv::Mat(480, 640, CV_16UC3, cv::Scalar::all(30000)),
                                   cv::Mat(480, 640, CV_32FC1, cv::Scalar(0.5)),
                                   cv::Mat(480, 640, CV_8UC2, cv::Scalar::all(100)),
                                   cv::Mat(1, 20000, CV_8UC3, cv::Scalar::all(100)),
                                   cv::Mat(20000, 1, CV_8UC1, cv::Scalar(100))};
    cv::RNG rng(3);
    for (cv::Mat& photo : photos) {
        if (!photo.empty())
            rng.fill(photo, cv::RNG::UNIFORM, 0, 255);
        const cv::Mat original = photo.clone();
        for (const Strategy& s : kStrategies) {
            Corners out;
            EXPECT_FALSE(s.run(photo, out)) << s.name << " on " << photo.size() << " type " << photo.type();
            EXPECT_TRUE(out.empty()) << s.name;
        }
        Corners out;
        findUsingAnchorPoint(photo, out);
        EXPECT_TRUE(out.empty());
        EXPECT_TRUE(photo.empty() || cv::norm(photo, original, cv::NORM_INF) == 0);
    }
    cv::Mat photo = photographedPage(kSize, kPage);
    Corners out;
    EXPECT_FALSE(find(photo, 4, out));
    EXPECT_FALSE(find(photo, -1, out));
}

TEST(AnchorPoints, TheFourWidestSolidMarksInCornerOrder)
{
    // Shorter side 1024: searched at the photograph's own size.
    cv::Mat page(1365, 1024, CV_8UC1, cv::Scalar(255));
    auto mark = [&](cv::Point centre, int side) {
        cv::rectangle(page, cv::Rect(centre.x - side / 2, centre.y - side / 2, side, side), cv::Scalar(0), cv::FILLED);
    };
    mark({900, 1200}, 30);
    mark({100, 100}, 30);
    mark({100, 1200}, 30);
    Corners out;
    findUsingAnchorPoint(page, out);
    EXPECT_TRUE(out.empty());

    mark({500, 600}, 16);  // the narrowest of five
    mark({900, 100}, 36);
    findUsingAnchorPoint(page, out);
    const Corners expected = {{100, 100}, {900, 100}, {900, 1200}, {100, 1200}};
    ASSERT_EQ(out.size(), 4u);
    for (int k = 0; k < 4; ++k)
        EXPECT_LE(cv::norm(out[k] - expected[k]), 2) << k;
}

TEST(BasicAspectRatio, PresetsByFamilyAndOrientation)
{
    struct Case {
        int kind;
        float aspect, portrait, landscape;  // -1: left alone
    };
    for (const Case& c : {Case{0x100, 1.574f, 1.574f, -1}, Case{0x200, 0.635f, -1, 0.635f},
                          Case{0x201, 0.562f, -1, 0.562f}, Case{0x302, -1, 1.414f, 0.707f}, Case{0x003, -1, -1, -1},
                          Case{0x400, -1, -1, -1}}) {
        float aspect = -1, portrait = -1, landscape = -1;
        getBasicAspectRatio(c.kind, aspect, portrait, landscape);
        EXPECT_EQ(aspect, c.aspect) << std::hex << c.kind;
        EXPECT_EQ(portrait, c.portrait) << std::hex << c.kind;
        EXPECT_EQ(landscape, c.landscape) << std::hex << c.kind;
    }
}

}  // namespace
