// Quadrangle validation and rectification: the card checks,
// the tilt direction, the two ratio estimators and the warp.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/affine.hpp>

#include "documentarea.h"

namespace {

using namespace tarvek::documentarea;
using Corners = std::vector<cv::Point>;

const float NaN = std::numeric_limits<float>::quiet_NaN();

// 400 x 250, axis-parallel: getWHRatio 0.625, an eighth of a 1000 x 800 photograph.
const Corners CARD = {{50, 75}, {450, 75}, {450, 325}, {50, 325}};
const Corners FAR = {{INT_MIN, INT_MIN}, {INT_MAX, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MAX}};
// Top 300, bottom 500, sides 412: rH = 0.6 exactly, no right corner.
const Corners TRAPEZIUM = {{350, 200}, {650, 200}, {750, 600}, {250, 600}};
// Right corners at the top only; rV 0.585, rH 0.92, avg 0.7484.
const Corners TWO_RIGHT = {{100, 100}, {500, 100}, {500, 514}, {100, 340}};

struct Records { vertLT lt; vertRT rt; vertRB rb; vertLB lb; };

// Records at p (top-left, top-right, bottom-right, bottom-left); bit k of
// `confirmed` confirms record k (score 0), the others have the score -1.
Records recs(const Corners& p, unsigned confirmed = 0xF)
{
    auto score = [&](int k) { return (confirmed >> k & 1u) ? 0.0 : -1.0; };
    return {{p[0], p[0], p[0], score(0)}, {p[1], p[1], p[1], score(1)}, {p[2], p[2], p[2], score(2)},
            {p[3], p[3], p[3], score(3)}};
}

// c with corner k moved to p.
Corners with(Corners c, int k, cv::Point p)
{
    c[k] = p;
    return c;
}

// --- checkRectIdCard: one pair of quadrangles either side of each bound -----

struct ThresholdCase {
    const char* name;
    Corners corners;  // in a 1000 x 1000 photograph, every other bound passed with a margin
    bool onlyRect, accepted;
    float ratio = -1.0f;  // the least similarity to a reference ratio that passes (0: any; -1: not checked)
};

// n: right corners; rV, rH: opposite-side balances, avg their mean, rD the diagonal balance.
const std::vector<ThresholdCase> THRESHOLD_CASES = {
    // General, n = 0 or 1: rV and rH >= 0.6 each (not their mean), rD >= 0.7, ratio 0.65.
    {"n0 rH = 0.6 exactly", TRAPEZIUM, false, true, 0.65f},
    {"n0 rH 0.596 (avg 0.80)", {{351, 200}, {649, 200}, {750, 600}, {250, 600}}, false, false},
    {"n0 rD 0.7098", {{100, 300}, {500, 300}, {640, 700}, {240, 700}}, false, true},
    {"n0 rD 0.6926", {{100, 300}, {500, 300}, {650, 700}, {250, 700}}, false, false},
    {"n1 rH 0.6053", {{200, 200}, {565, 200}, {800, 740}, {200, 800}}, false, true, 0.65f},
    // General, n = 2: avg >= 0.75, rD >= 0.80, ratio 0.78.
    {"n2 avg 0.7528 with rV 0.585", {{100, 100}, {500, 100}, {500, 510}, {100, 340}}, false, true, 0.78f},
    {"n2 avg 0.7484", TWO_RIGHT, false, false},
    {"n2 rD = 0.80 exactly (464 / 580)", {{100, 100}, {417, 100}, {570, 440}, {100, 440}}, false, true},
    {"n2 rD 0.7983 (463 / 580)", {{100, 100}, {415, 100}, {570, 440}, {100, 440}}, false, false},
    // General, n = 3: avg >= 0.79, rD >= 0.92, ratio 0.82.
    {"n3 avg 0.7914", {{120, 418}, {950, 360}, {905, 690}, {120, 630}}, false, true, 0.82f},
    {"n3 avg 0.7883", {{120, 420}, {950, 360}, {905, 690}, {120, 630}}, false, false},
    {"n3 rD 0.9208", {{280, 324}, {790, 285}, {890, 965}, {280, 920}}, false, true},
    {"n3 rD 0.9177", {{280, 320}, {790, 285}, {890, 965}, {280, 920}}, false, false},
    // General, n = 4: avg >= 0.88, rD >= 0.95, ratio 0.84.
    {"n4 avg 0.8810", {{492, 100}, {885, 100}, {850, 980}, {550, 980}}, false, true, 0.84f},
    {"n4 avg 0.8790", {{490, 100}, {885, 100}, {850, 980}, {550, 980}}, false, false},
    {"n4 rD 0.9508", {{130, 306}, {600, 330}, {600, 970}, {125, 940}}, false, true},
    {"n4 rD 0.9450", {{130, 300}, {600, 330}, {600, 970}, {125, 940}}, false, false},
    // onlyRect, n <= 2: accepted once range, area and angles pass.
    {"onlyRect n2 avg 0.7484", TWO_RIGHT, true, true, 0.0f},
    // onlyRect, n >= 3: avg >= 0.90, rD >= 0.93, ratio 0.90.
    {"onlyRect n3 avg 0.9013", {{148, 190}, {405, 180}, {455, 990}, {150, 970}}, true, true, 0.90f},
    {"onlyRect n3 avg 0.8980", {{150, 190}, {405, 180}, {455, 990}, {150, 970}}, true, false},
    {"onlyRect n3 rD 0.9306", {{360, 466}, {720, 470}, {720, 950}, {320, 980}}, true, true},
    {"onlyRect n3 rD 0.9259", {{360, 470}, {720, 470}, {720, 950}, {320, 980}}, true, false},
    // Every corner within 40 degrees of square: a 45 / 135 degree parallelogram is not.
    {"parallelogram 45 degrees", {{100, 200}, {500, 200}, {900, 600}, {500, 600}}, true, false},
};

TEST(CardCheck, ThresholdRows)
{
    for (const ThresholdCase& c : THRESHOLD_CASES) {
        SCOPED_TRACE(c.name);
        auto check = [&](float p, float l) { return checkRectIdCard(1000, 1000, c.corners, p, l, c.onlyRect); };
        EXPECT_EQ(check(0.0f, 0.0f), c.accepted);
        // Without moved records (none confirmed, or all at the corners) checkRectIdCard2 is checkRectIdCard.
        for (const Records& r : {recs(c.corners, 0), recs(c.corners)})
            EXPECT_EQ(checkRectIdCard2(1000, 1000, c.corners, r.lt, r.rt, r.rb, r.lb, 0.0f, 0.0f, c.onlyRect),
                      c.accepted);
        if (c.ratio < 0.0f)
            continue;
        // A reference whose similarity (min / max, to two decimals) to getWHRatio rounds to the row's
        // threshold passes; one a hundredth lower fails, above or below getWHRatio.
        const float wh = getWHRatio(c.corners);
        const bool any = c.ratio == 0.0f;
        const float pass = any ? wh * 3.0f : wh / (c.ratio + 0.002f);
        const float failAbove = any ? wh * 5.0f : wh / (c.ratio - 0.008f);
        const float failBelow = any ? wh / 4.0f : wh * (c.ratio - 0.008f);
        // Each alone, then both given: one similarity reaching the threshold is enough.
        for (const auto& [portrait, landscape, accepted] :
             {std::tuple{0.0f, pass, true}, {pass, 0.0f, true}, {0.0f, failAbove, any}, {failBelow, 0.0f, any},
              {failAbove, pass, true}, {pass, failBelow, true}, {failAbove, failBelow, any}})
            EXPECT_EQ(check(portrait, landscape), accepted) << portrait << " / " << landscape;
    }
}

// --- checkRectIdCard: worked examples and bad input -------------------------

TEST(CardCheck, ExamplesAndBadInput)
{
    const Corners triangle = {{500, 100}, {500, 100}, {900, 793}, {100, 793}};  // 60 degrees and two NaN angles
    struct Case {
        const char* name;
        int W, H;
        Corners corners;
        float portrait, landscape;
        bool onlyRect, accepted;
    };
    const std::vector<Case> cases = {
        {"landscape 0.635: similarity 0.98", 500, 400, CARD, 0.0f, 0.635f, false, true},
        {"landscape 0.5: similarity 0.80 < 0.84", 500, 400, CARD, 0.0f, 0.5f, false, false},
        {"portrait 1.574 (0.40) fails, landscape 0.635 passes", 500, 400, CARD, 1.574f, 0.635f, false, true},
        {"area exactly an eighth", 800, 1000, CARD, 0.0f, 0.0f, false, true},
        {"area a tenth", 1000, 1000, CARD, 0.0f, 0.0f, true, false},
        {"onlyRect n2 ignores a far-off ratio", 1000, 1000, TWO_RIGHT, 3.0f, 0.1f, true, true},
        {"one pixel inside every edge", 500, 400, {{1, 1}, {499, 1}, {499, 399}, {1, 399}}, 0.0f, 0.0f, false, true},
        {"corner on x = 0", 500, 400, {{0, 1}, {499, 1}, {499, 399}, {1, 399}}, 0.0f, 0.0f, false, false},
        {"corner on x = W", 500, 400, {{1, 1}, {500, 1}, {499, 399}, {1, 399}}, 0.0f, 0.0f, false, false},
        {"corner on y = H", 500, 400, {{1, 1}, {499, 1}, {499, 400}, {1, 399}}, 0.0f, 0.0f, false, false},
        {"empty photograph", 0, 0, CARD, 0.0f, 0.0f, true, false},
        {"reference not a number never rejects", 500, 400, CARD, NaN, 0.0f, false, true},
        {"coincident corners: NaN angles never reject", 1000, 1000, triangle, 0.0f, 0.0f, true, true},
        {"one point: no area", 1000, 1000, {{5, 5}, {5, 5}, {5, 5}, {5, 5}}, 0.0f, 0.0f, true, false},
        {"corners at the int limits", INT_MAX, INT_MAX, FAR, 0.7f, 1.4f, true, false},
        {"W * H beyond the int range", 60000, 60000, {{15000, 15000}, {45000, 15000}, {45000, 45000}, {15000, 45000}},
         0.0f, 1.0f, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(checkRectIdCard(c.W, c.H, c.corners, c.portrait, c.landscape, c.onlyRect), c.accepted);
    }
    const Records none = recs(CARD, 0);
    const Corners three = {{50, 75}, {450, 75}, {450, 325}};
    const Corners five = {{50, 75}, {450, 75}, {450, 325}, {50, 325}, {9, 9}};
    for (const Corners& c : {Corners{}, three, five}) {
        SCOPED_TRACE(c.size());
        EXPECT_FALSE(checkRectIdCard(1000, 800, c, 0.0f, 0.0f, true));
        EXPECT_FALSE(checkRectIdCard2(1000, 800, c, none.lt, none.rt, none.rb, none.lb, 0.0f, 0.0f, true));
        EXPECT_FALSE(checkRectIdCard3(1000, 800, c, none.lt, none.rt, none.rb, none.lb, 0.0f, 0.0f, true));
    }
}

// --- checkRectIdCard2 and checkRectIdCard3: confirmed corner records --------

TEST(CardCheck, CornerRecords)
{
    // Top and bottom of CARD are 400: 21 pixels is 5.25 %, 20 pixels exactly 5 %.
    const Corners three = {{29, 75}, {471, 75}, {471, 325}, {50, 325}};
    // A top-left record `down` pixels below the corner, all four confirmed.
    auto moved = [](const Corners& c, int down) { return recs(with(c, 0, c[0] + cv::Point(0, down))); };
    // Top-left records 10.6 % away giving wh2 = 0.639 (closer), 11.25 % away giving 0.680 (farther).
    const Records closer = recs(with(CARD, 0, {20, 45}), 1), farther = recs(with(CARD, 0, {50, 30}), 1);
    // Top 300, bottom 500: 20 pixels are 6.7 % at the top and 4 % at the bottom.
    const Corners topMoved = {{350, 180}, {650, 180}, {770, 600}, {250, 600}};
    const Corners diagonal = {{100, 300}, {500, 300}, {640, 700}, {240, 700}};       // rD 0.71
    const Corners isosceles = {{300, 200}, {700, 200}, {800, 600}, {200, 600}};      // sides 0.83, diagonals 1
    const Corners parallelogram = {{100, 100}, {600, 100}, {700, 500}, {200, 500}};  // sides 1, diagonals 0.78
    const Records farRecord = recs(with(CARD, 0, {INT_MIN, INT_MAX}));
    struct Case {
        const char* name;
        int version;  // 2 or 3; the photograph is 1000 x 800
        Corners corners;
        Records records;
        float portrait, landscape;
        bool onlyRect, accepted;
    };
    const std::vector<Case> cases = {
        {"three records 5.25 % away", 2, CARD, recs(three), 0.0f, 0.0f, false, false},
        {"third record exactly 5 %", 2, CARD, recs(with(three, 2, {470, 325})), 0.0f, 0.0f, false, true},
        {"third record unconfirmed", 2, CARD, recs(three, 0b1011), 0.0f, 0.0f, false, true},
        // A record moved by 6 % (moved, not replaced) sets general bounds avg 0.87, rD 0.90, ratio 0.90.
        {"moved: n0 avg 0.80", 2, TRAPEZIUM, moved(TRAPEZIUM, 18), 0.0f, 0.0f, false, false},
        {"moved: n0 rD 0.71", 2, diagonal, moved(diagonal, 24), 0.0f, 0.0f, false, false},
        {"moved: n4 similarity 0.86", 2, CARD, moved(CARD, 24), 0.0f, 0.625f / 0.86f, false, false},
        {"moved: n4 similarity 0.90", 2, CARD, moved(CARD, 24), 0.0f, 0.625f / 0.9f, false, true},
        {"moved: onlyRect n0 still accepts", 2, TRAPEZIUM, moved(TRAPEZIUM, 18), 0.0f, 0.0f, true, true},
        // A replacing record (> 10 %) that fits the reference better rejects.
        {"replacing record fits landscape better", 2, CARD, closer, 0.0f, 0.635f, false, false},
        {"replacing record fits landscape worse", 2, CARD, farther, 0.0f, 0.635f, false, true},
        {"replacing record fits only landscape better", 2, CARD, closer, 0.5f, 0.635f, false, true},
        {"replacing record fits both better", 2, CARD, closer, 0.64f, 0.635f, false, false},
        {"record 9.5 % away fits better but does not replace", 2, CARD, moved(CARD, -38), 0.0f, 0.68f, false, true},
        {"record at the int limits", 2, CARD, farRecord, 0.0f, 0.635f, false, true},
        {"no confirmed record", 3, {{0, 0}, {10, 900}, {-50, 3}, {7, 7}}, recs(CARD, 0), 1.5f, 0.7f, false, true},
        {"records exactly 5 % away", 3, CARD, recs({{30, 75}, {450, 75}, {450, 345}, {50, 325}}), 0, 0, false, true},
        {"three of four moved", 3, CARD, recs(three), 0.0f, 0.0f, false, false},
        {"two of four moved, no better shape", 3, CARD, recs(with(three, 2, CARD[2])), 0.0f, 0.0f, false, true},
        {"both confirmed records moved", 3, CARD, recs(three, 0b0011), 0.0f, 0.0f, false, false},
        {"the only confirmed record moved", 3, CARD, recs(three, 0b0001), 0.0f, 0.0f, false, true},
        // Top-right and bottom-left confirmed; the bottom one measured against the bottom side.
        {"6.7 % and 4 %: one moved", 3, TRAPEZIUM, recs(with(topMoved, 3, {230, 600}), 0b1010), 0, 0, false, true},
        {"6.7 % and 6 %: both moved", 3, TRAPEZIUM, recs(with(topMoved, 3, {220, 600}), 0b1010), 0, 0, false, false},
        {"record evens the sides (0.90)", 3, isosceles, recs(with(isosceles, 0, {200, 200}), 1), 0, 0, false, false},
        {"record evens the diagonals (0.88)", 3, parallelogram, recs(with(parallelogram, 2, {600, 500}), 0b0100),
         0.0f, 0.0f, false, false},
        {"record evens the diagonals too little (0.81)", 3, parallelogram,
         recs(with(parallelogram, 2, {670, 500}), 0b0100), 0.0f, 0.0f, false, true},
        // wh 0.625, wh2 0.639: rejected when |r - wh| > |r - wh2| and |r - wh| > 0.1 r.
        {"landscape 0.635: difference within 0.1 r", 3, CARD, closer, 0.0f, 0.635f, false, true},
        {"landscape 0.70: record fits clearly better", 3, CARD, closer, 0.0f, 0.70f, false, false},
        {"landscape 0.60: record fits worse", 3, CARD, closer, 0.0f, 0.60f, false, true},
        {"portrait 0.70: record fits clearly better", 3, CARD, closer, 0.70f, 0.0f, false, false},
        {"only one of two references rejects", 3, CARD, closer, 0.70f, 0.635f, false, true},
        {"both references reject", 3, CARD, closer, 0.70f, 0.71f, false, false},
        {"reference not a number never rejects", 3, CARD, closer, NaN, 0.70f, false, true},
        {"corners at the int limits: four moved", 3, FAR, farRecord, 0.0f, 0.635f, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Records& r = c.records;
        auto check = c.version == 2 ? checkRectIdCard2 : checkRectIdCard3;
        EXPECT_EQ(check(1000, 800, c.corners, r.lt, r.rt, r.rb, r.lb, c.portrait, c.landscape, c.onlyRect),
                  c.accepted);
    }
}

// --- checkRectDirection ------------------------------------------------------

TEST(Direction, TiltCodes)
{
    struct Case { const char* name; Corners corners; int code; };
    const std::vector<Case> cases = {
        {"top corners 100, bottom 80", {{153, 100}, {447, 100}, {500, 400}, {100, 400}}, 10},
        {"top corners 93, bottom 87", {{116, 100}, {484, 100}, {500, 400}, {100, 400}}, 10},
        {"top corners 92, bottom 88", {{110, 100}, {490, 100}, {500, 400}, {100, 400}}, 1},
        {"bottom corners 100, top 80", {{100, 100}, {500, 100}, {447, 400}, {153, 400}}, 8},
        {"right corners 100, left 80", {{100, 100}, {400, 153}, {400, 447}, {100, 500}}, 7},
        {"left corners 100, right 80", {{100, 153}, {400, 100}, {400, 500}, {100, 447}}, 9},
        {"square", {{100, 100}, {400, 100}, {400, 400}, {100, 400}}, 1},
        {"top barely wider, angles 109/73/70/108", {{105, 270}, {600, 120}, {600, 580}, {100, 400}}, 11},
        {"bottom barely wider, angles 107/70/70/113", {{95, 305}, {600, 120}, {600, 580}, {100, 400}}, 11},
        {"one angle 76, the others 92 to 97", {{64, 135}, {387, 132}, {418, 381}, {139, 425}}, 11},
        {"one angle 104.6, the others 81 to 89", {{85, 124}, {412, 122}, {405, 413}, {104, 360}}, 11},
        {"three points", {{100, 100}, {400, 100}, {400, 400}}, 2},
        {"five points", {{100, 100}, {400, 100}, {400, 400}, {100, 400}, {50, 250}}, 2},
        {"one point four times (angles not numbers)", {{7, 7}, {7, 7}, {7, 7}, {7, 7}}, 1},
        {"corners at the int limits", FAR, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(checkRectDirection(c.corners), c.code);
    }
}

// --- getWHRatio and getAspectRatio -------------------------------------------

TEST(Ratio, SideRatioAndAxisParallelFallback)
{
    const Corners c = {{100, 100}, {400, 100}, {400, 300}, {100, 300}};
    EXPECT_NEAR(getWHRatio(c), 0.6667f, 1e-4f);
    // Sides truncated to whole pixels: top and bottom sqrt(101) = 10.05 count 10, so 6 / 20.
    EXPECT_FLOAT_EQ(getWHRatio({{0, 0}, {10, 1}, {10, 4}, {0, 3}}), 0.3f);
    EXPECT_EQ(getWHRatio({{0, 0}, {10, 1}, {10, 4}}), 0.0f);
    // Sides without perspective leave the focal length open: the side ratio is returned.
    EXPECT_EQ(getAspectRatio(c, 500, 400), getWHRatio(c));
    const Corners t = {{153, 100}, {447, 100}, {500, 400}, {100, 400}};
    EXPECT_EQ(getAspectRatio(t, 600, 500), getWHRatio(t));
    EXPECT_EQ(getAspectRatio({{1, 1}, {2, 2}, {3, 3}}, 500, 400), 0.0f);
    // Degenerate corners must not crash (checked under the sanitizers).
    for (const Corners& d : {Corners(4, {5, 5}), Corners{{0, 0}, {100, 100}, {100, 0}, {0, 100}}, FAR})
        (void)(getWHRatio(d) + getAspectRatio(d, 640, 480) + getAspectRatio(d, 0, 0));
}

// The corners of a width x height rectangle turned by a rotation vector (degrees)
// at distance z, photographed by a 4000 x 3000 pinhole camera with a focal
// length of 3200 pixels and the principal point at the centre.
Corners photographRectangle(double width, double height, cv::Vec3d rotation, double z)
{
    const cv::Affine3d pose(rotation * (CV_PI / 180), cv::Vec3d(0, 0, z));
    Corners out;
    for (const cv::Vec3d& p : {cv::Vec3d(-width / 2, -height / 2, 0), cv::Vec3d(width / 2, -height / 2, 0),
                               cv::Vec3d(width / 2, height / 2, 0), cv::Vec3d(-width / 2, height / 2, 0)}) {
        const cv::Vec3d q = pose * p;
        out.push_back({cvRound(3200 * q[0] / q[2] + 2000), cvRound(3200 * q[1] / q[2] + 1500)});
    }
    return out;
}

TEST(Ratio, AspectRatioRecoversThePhotographedRectangle)
{
    struct View { double width, height; cv::Vec3d rotation; };
    for (const View& v : {View{210, 297, {30, -20, 4}}, View{210, 297, {-25, 15, -3}}, View{297, 210, {20, 25, 0}},
                          View{85.6, 54, {-30, -30, 8}}}) {
        const double truth = v.height / v.width;
        const Corners c = photographRectangle(v.width, v.height, v.rotation, 1.6 * v.height);
        SCOPED_TRACE(::testing::Message() << "ratio " << truth << " corners " << c[0] << c[1] << c[2] << c[3]);
        EXPECT_NEAR(getAspectRatio(c, 4000, 3000), truth, 0.005 * truth);
        // The plain side ratio is visibly off for these views.
        EXPECT_GT(std::fabs(getWHRatio(c) - truth), 0.03 * truth);
    }
}

// --- getPerspectiveImage -----------------------------------------------------

TEST(PerspectiveImage, SizeTypeContentAndBlackSurround)
{
    // The quadrangle reaches 50 pixels beyond the photograph left and right and
    // 25 above and below: the warp is a shift by (50, 25) inside a black frame.
    cv::Mat src(200, 300, CV_8UC3);
    cv::randu(src, 1, 256);
    cv::Mat dst;
    getPerspectiveImage(src, dst, {{-50, -25}, {350, -25}, {350, 225}, {-50, 225}}, 400, 250);
    ASSERT_EQ(dst.size(), cv::Size(400, 250));
    EXPECT_EQ(dst.type(), CV_8UC3);
    for (const cv::Rect& frame : {cv::Rect(0, 0, 400, 24), cv::Rect(0, 226, 400, 24), cv::Rect(0, 0, 49, 250),
                                  cv::Rect(351, 0, 49, 250)})
        EXPECT_EQ(cv::norm(dst(frame), cv::NORM_INF), 0.0);
    EXPECT_LE(cv::norm(dst(cv::Rect(51, 26, 298, 198)), src(cv::Rect(1, 1, 298, 198)), cv::NORM_INF), 1.0);
}

TEST(PerspectiveImage, DegenerateInputGivesAnEmptyImage)
{
    cv::Mat src(200, 300, CV_8UC3, cv::Scalar::all(128)), empty;
    const Corners good = {{10, 10}, {290, 10}, {290, 190}, {10, 190}};
    struct Case {
        const char* name;
        cv::Mat* src;
        Corners corners;
        int width, height;
    };
    const std::vector<Case> cases = {
        {"empty source", &empty, good, 100, 100},
        {"three corners", &src, {{10, 10}, {290, 10}, {290, 190}}, 100, 100},
        {"two coincident corners", &src, {{10, 10}, {10, 10}, {290, 190}, {10, 190}}, 100, 100},
        {"three on a line", &src, {{10, 10}, {150, 10}, {290, 10}, {150, 190}}, 100, 100},
        {"crossing sides", &src, {{10, 10}, {290, 190}, {290, 10}, {10, 190}}, 100, 100},
        {"re-entrant corner", &src, {{10, 10}, {150, 100}, {290, 10}, {150, 190}}, 100, 100},
        {"zero width", &src, good, 0, 100},
        {"negative height", &src, good, 100, -100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cv::Mat dst(5, 5, CV_8UC1, cv::Scalar(9));
        getPerspectiveImage(*c.src, dst, c.corners, c.width, c.height);
        EXPECT_TRUE(dst.empty());
    }
    // Corners at the int limits still give an image of the asked size; the destination may be the source.
    cv::Mat dst;
    getPerspectiveImage(src, dst, FAR, 10, 10);
    EXPECT_EQ(dst.size(), cv::Size(10, 10));
    getPerspectiveImage(src, src, good, 50, 40);
    ASSERT_EQ(src.size(), cv::Size(50, 40));
    EXPECT_EQ(cv::countNonZero(src.reshape(1) != 128), 0);
}

}  // namespace
