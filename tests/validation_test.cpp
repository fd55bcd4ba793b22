// Quadrangle validation and rectification: the card checks,
// the tilt direction, the two ratio estimators and the warp.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/core.hpp>

#include "documentarea.h"

namespace {

using tarvek::documentarea::checkRectDirection;
using tarvek::documentarea::checkRectIdCard;
using tarvek::documentarea::checkRectIdCard2;
using tarvek::documentarea::checkRectIdCard3;
using tarvek::documentarea::getAspectRatio;
using tarvek::documentarea::getPerspectiveImage;
using tarvek::documentarea::getWHRatio;

using Corners = std::vector<cv::Point>;

const float NaN = std::numeric_limits<float>::quiet_NaN();

// ---------------------------------------------------------------------------
// Corner records
// ---------------------------------------------------------------------------

template <typename Record>
Record record(cv::Point pt, double score)
{
    return Record{pt, pt, pt, score};
}

const double UNCONFIRMED = -1.0;
const double CONFIRMED = 0.8;

struct Records {
    vertLT lt;
    vertRT rt;
    vertRB rb;
    vertLB lb;
};

// No record confirmed.
Records noRecords()
{
    return {record<vertLT>({0, 0}, UNCONFIRMED), record<vertRT>({0, 0}, UNCONFIRMED),
            record<vertRB>({0, 0}, UNCONFIRMED), record<vertLB>({0, 0}, UNCONFIRMED)};
}

// Every record confirmed exactly at the quadrangle's corners.
Records recordsAt(const Corners& c)
{
    return {record<vertLT>(c[0], CONFIRMED), record<vertRT>(c[1], CONFIRMED), record<vertRB>(c[2], CONFIRMED),
            record<vertLB>(c[3], CONFIRMED)};
}

bool card2(int W, int H, const Corners& c, const Records& r, float portrait, float landscape, bool onlyRect)
{
    return checkRectIdCard2(W, H, c, r.lt, r.rt, r.rb, r.lb, portrait, landscape, onlyRect);
}

bool card3(const Corners& c, const Records& r, float portrait, float landscape)
{
    return checkRectIdCard3(1000, 1000, c, r.lt, r.rt, r.rb, r.lb, portrait, landscape, false);
}

// ---------------------------------------------------------------------------
// checkRectIdCard: the threshold table
// ---------------------------------------------------------------------------

struct CardCase {
    const char* name;
    Corners corners;  // in a 1000 x 1000 photograph
    bool onlyRect;
    bool accepted;
};

// Pairs of quadrangles on either side of one bound of a row, every other
// bound passed with a margin; no reference ratio. n is the number of right
// corners, rV, rH, avg and rD: the opposite-side balances, their mean and the diagonal balance.
const std::vector<CardCase> THRESHOLD_CASES = {
    // General, n = 0 or 1: rV >= 0.6 and rH >= 0.6 each, rD >= 0.7.
    {"n0 isosceles trapezium rH = 0.6 exactly", {{350, 200}, {650, 200}, {750, 600}, {250, 600}}, false, true},
    {"n0 isosceles trapezium rH 0.596 (avg 0.80)", {{351, 200}, {649, 200}, {750, 600}, {250, 600}}, false, false},
    {"n0 trapezium on its side rV = 0.6 exactly", {{200, 350}, {600, 250}, {600, 750}, {200, 650}}, false, true},
    {"n0 trapezium on its side rV 0.596", {{200, 351}, {600, 250}, {600, 750}, {200, 649}}, false, false},
    {"n0 parallelogram rD 0.7098", {{100, 300}, {500, 300}, {640, 700}, {240, 700}}, false, true},
    {"n0 parallelogram rD 0.6926", {{100, 300}, {500, 300}, {650, 700}, {250, 700}}, false, false},
    {"n1 rH 0.6053", {{200, 200}, {565, 200}, {800, 740}, {200, 800}}, false, true},
    {"n1 rH 0.5970 (avg 0.79)", {{200, 200}, {560, 200}, {800, 740}, {200, 800}}, false, false},
    // General, n = 2: avg >= 0.75, rD >= 0.80.
    {"n2 avg 0.7528 with rV 0.585", {{100, 100}, {500, 100}, {500, 510}, {100, 340}}, false, true},
    {"n2 avg 0.7484", {{100, 100}, {500, 100}, {500, 514}, {100, 340}}, false, false},
    {"n2 rD 0.8021", {{100, 100}, {370, 100}, {540, 480}, {100, 480}}, false, true},
    {"n2 rD 0.7986", {{100, 100}, {368, 100}, {540, 480}, {100, 480}}, false, false},
    // General, n = 3: avg >= 0.79, rD >= 0.92.
    {"n3 avg 0.7914", {{120, 418}, {950, 360}, {905, 690}, {120, 630}}, false, true},
    {"n3 avg 0.7883", {{120, 420}, {950, 360}, {905, 690}, {120, 630}}, false, false},
    {"n3 rD 0.9208", {{280, 324}, {790, 285}, {890, 965}, {280, 920}}, false, true},
    {"n3 rD 0.9177", {{280, 320}, {790, 285}, {890, 965}, {280, 920}}, false, false},
    // General, n = 4: avg >= 0.88, rD >= 0.95.
    {"n4 avg 0.8810", {{492, 100}, {885, 100}, {850, 980}, {550, 980}}, false, true},
    {"n4 avg 0.8790", {{490, 100}, {885, 100}, {850, 980}, {550, 980}}, false, false},
    {"n4 rD 0.9508", {{130, 306}, {600, 330}, {600, 970}, {125, 940}}, false, true},
    {"n4 rD 0.9450", {{130, 300}, {600, 330}, {600, 970}, {125, 940}}, false, false},
    // onlyRect, n <= 2: accepted once range, area and angles pass.
    {"onlyRect n0 rH 0.596", {{351, 200}, {649, 200}, {750, 600}, {250, 600}}, true, true},
    {"onlyRect n0 rD 0.6926", {{100, 300}, {500, 300}, {650, 700}, {250, 700}}, true, true},
    {"onlyRect n2 avg 0.7484", {{100, 100}, {500, 100}, {500, 514}, {100, 340}}, true, true},
    // onlyRect, n >= 3: avg >= 0.90, rD >= 0.93.
    {"onlyRect n3 avg 0.9013", {{148, 190}, {405, 180}, {455, 990}, {150, 970}}, true, true},
    {"onlyRect n3 avg 0.8980", {{150, 190}, {405, 180}, {455, 990}, {150, 970}}, true, false},
    {"onlyRect n3 rD 0.9306", {{360, 466}, {720, 470}, {720, 950}, {320, 980}}, true, true},
    {"onlyRect n3 rD 0.9259 (accepted in general mode)", {{360, 470}, {720, 470}, {720, 950}, {320, 980}}, true,
     false},
    {"general n3 rD 0.9259", {{360, 470}, {720, 470}, {720, 950}, {320, 980}}, false, true},
    {"onlyRect n4 avg 0.8810 (accepted in general mode)", {{492, 100}, {885, 100}, {850, 980}, {550, 980}}, true,
     false},
    // Angles: within 40 degrees of square (a parallelogram of 45 and 135 degrees is not).
    {"parallelogram 45 degrees", {{100, 200}, {500, 200}, {900, 600}, {500, 600}}, true, false},
};

TEST(CardCheck, ThresholdRows)
{
    for (const CardCase& c : THRESHOLD_CASES) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(checkRectIdCard(1000, 1000, c.corners, 0.0f, 0.0f, c.onlyRect), c.accepted);
    }
}

// The ratio column: a reference ratio whose similarity to getWHRatio is the
// row's threshold passes, one a hundredth below fails.
struct RatioRow {
    const char* name;
    Corners corners;  // in a 1000 x 1000 photograph, passing the side and diagonal tests
    bool onlyRect;
    float threshold;  // 0: every ratio accepted
};

const std::vector<RatioRow> RATIO_ROWS = {
    {"general n0", {{350, 200}, {650, 200}, {750, 600}, {250, 600}}, false, 0.65f},
    {"general n1", {{200, 200}, {565, 200}, {800, 740}, {200, 800}}, false, 0.65f},
    {"general n2", {{100, 100}, {500, 100}, {500, 510}, {100, 340}}, false, 0.78f},
    {"general n3", {{120, 418}, {950, 360}, {905, 690}, {120, 630}}, false, 0.82f},
    {"general n4", {{100, 100}, {900, 100}, {900, 600}, {100, 600}}, false, 0.84f},
    {"onlyRect n3", {{148, 190}, {405, 180}, {455, 990}, {150, 970}}, true, 0.90f},
    {"onlyRect n4", {{100, 100}, {900, 100}, {900, 600}, {100, 600}}, true, 0.90f},
    {"onlyRect n0", {{351, 200}, {649, 200}, {750, 600}, {250, 600}}, true, 0.0f},
    {"onlyRect n2", {{100, 100}, {500, 100}, {500, 514}, {100, 340}}, true, 0.0f},
};

TEST(CardCheck, RatioThresholdRows)
{
    for (const RatioRow& row : RATIO_ROWS) {
        SCOPED_TRACE(row.name);
        const float wh = getWHRatio(row.corners);
        const bool always = row.threshold == 0.0f;
        // Similarity min/max: a reference above wh gives wh / reference.
        const float passing = always ? wh * 3.0f : wh / (row.threshold + 0.002f);
        const float failing = always ? wh * 5.0f : wh / (row.threshold - 0.008f);
        const float below = always ? wh / 4.0f : wh * (row.threshold - 0.008f);  // similarity from the other side

        EXPECT_TRUE(checkRectIdCard(1000, 1000, row.corners, 0.0f, 0.0f, row.onlyRect));
        EXPECT_TRUE(checkRectIdCard(1000, 1000, row.corners, 0.0f, passing, row.onlyRect));
        EXPECT_TRUE(checkRectIdCard(1000, 1000, row.corners, passing, 0.0f, row.onlyRect));
        EXPECT_EQ(checkRectIdCard(1000, 1000, row.corners, 0.0f, failing, row.onlyRect), always);
        EXPECT_EQ(checkRectIdCard(1000, 1000, row.corners, failing, 0.0f, row.onlyRect), always);
        EXPECT_EQ(checkRectIdCard(1000, 1000, row.corners, below, 0.0f, row.onlyRect), always);
        // Both given: one similarity reaching the threshold is enough.
        EXPECT_TRUE(checkRectIdCard(1000, 1000, row.corners, failing, passing, row.onlyRect));
        EXPECT_TRUE(checkRectIdCard(1000, 1000, row.corners, passing, failing, row.onlyRect));
        EXPECT_EQ(checkRectIdCard(1000, 1000, row.corners, failing, below, row.onlyRect), always);
    }
}

// ---------------------------------------------------------------------------
// checkRectIdCard: worked examples and bad input
// ---------------------------------------------------------------------------

// 400 x 250, axis-parallel, in a 500 x 400 photograph.
const Corners CARD = {{50, 75}, {450, 75}, {450, 325}, {50, 325}};

TEST(CardCheck, RectangleAgainstLandscapeRatio)
{
    EXPECT_FLOAT_EQ(getWHRatio(CARD), 0.625f);
    EXPECT_TRUE(checkRectIdCard(500, 400, CARD, 0.0f, 0.635f, false));   // similarity 0.98
    EXPECT_FALSE(checkRectIdCard(500, 400, CARD, 0.0f, 0.5f, false));    // similarity 0.80 < 0.84
    EXPECT_TRUE(checkRectIdCard(500, 400, CARD, 0.0f, 0.0f, false));
    EXPECT_TRUE(checkRectIdCard(500, 400, CARD, 0.0f, 0.635f, true));
    EXPECT_FALSE(checkRectIdCard(500, 400, CARD, 0.0f, 0.5f, true));     // 0.80 < 0.90
    // Portrait 1.574 (similarity 0.40) and landscape 0.635 (0.98): one is enough.
    EXPECT_TRUE(checkRectIdCard(500, 400, CARD, 1.574f, 0.635f, false));
    EXPECT_FALSE(checkRectIdCard(500, 400, CARD, 1.574f, 0.5f, false));
}

TEST(CardCheck, AreaOfAnEighth)
{
    // 100 000 square pixels: exactly an eighth of 800 x 1000 passes, a tenth of 1000 x 1000 does not.
    EXPECT_TRUE(checkRectIdCard(800, 1000, CARD, 0.0f, 0.0f, false));
    EXPECT_FALSE(checkRectIdCard(1000, 1000, CARD, 0.0f, 0.0f, false));
    EXPECT_FALSE(checkRectIdCard(1000, 1000, CARD, 0.0f, 0.0f, true));
    // A tenth with corners that would fail the angle test too.
    EXPECT_FALSE(checkRectIdCard(1000, 1000, {{50, 75}, {450, 75}, {650, 325}, {250, 325}}, 0.0f, 0.0f, true));
}

TEST(CardCheck, OnlyRectWithTwoRightCornersNeedsOnlyRangeAreaAndAngles)
{
    // Right corners at the top; rV 0.58, rH 0.92, and a reference ratio far off.
    const Corners c = {{100, 100}, {500, 100}, {500, 514}, {100, 340}};
    EXPECT_TRUE(checkRectIdCard(1000, 1000, c, 0.0f, 0.0f, true));
    EXPECT_TRUE(checkRectIdCard(1000, 1000, c, 3.0f, 0.1f, true));
    EXPECT_FALSE(checkRectIdCard(1000, 1000, c, 3.0f, 0.1f, false));
    EXPECT_FALSE(checkRectIdCard(2000, 1000, c, 0.0f, 0.0f, true));  // area 0.066
}

TEST(CardCheck, CornersMustLieInsideTheImage)
{
    EXPECT_TRUE(checkRectIdCard(500, 400, {{1, 1}, {499, 1}, {499, 399}, {1, 399}}, 0.0f, 0.0f, false));
    EXPECT_FALSE(checkRectIdCard(500, 400, {{0, 1}, {499, 1}, {499, 399}, {1, 399}}, 0.0f, 0.0f, false));
    EXPECT_FALSE(checkRectIdCard(500, 400, {{1, 1}, {500, 1}, {499, 399}, {1, 399}}, 0.0f, 0.0f, false));
    EXPECT_FALSE(checkRectIdCard(500, 400, {{1, 1}, {499, 1}, {499, 400}, {1, 399}}, 0.0f, 0.0f, false));
    EXPECT_FALSE(checkRectIdCard(500, 400, {{1, -5}, {499, 1}, {499, 399}, {1, 399}}, 0.0f, 0.0f, true));
    EXPECT_FALSE(checkRectIdCard(0, 0, CARD, 0.0f, 0.0f, true));
    EXPECT_FALSE(checkRectIdCard(-500, -400, CARD, 0.0f, 0.0f, true));
}

TEST(CardCheck, WrongCornerCountsAreRejected)
{
    const Records none = noRecords();
    for (const Corners& c : {Corners{}, Corners{{50, 75}, {450, 75}, {450, 325}},
                             Corners{{50, 75}, {450, 75}, {450, 325}, {50, 325}, {50, 200}}}) {
        EXPECT_FALSE(checkRectIdCard(500, 400, c, 0.0f, 0.0f, true));
        EXPECT_FALSE(card2(500, 400, c, none, 0.0f, 0.0f, true));
        EXPECT_FALSE(card3(c, none, 0.0f, 0.0f));
    }
}

TEST(CardCheck, NotANumberNeverRejects)
{
    // A reference ratio that is not a number gives a similarity that is not one.
    EXPECT_TRUE(checkRectIdCard(500, 400, CARD, NaN, 0.0f, false));
    EXPECT_TRUE(checkRectIdCard(500, 400, CARD, 0.0f, NaN, false));
    EXPECT_TRUE(checkRectIdCard(500, 400, CARD, NaN, NaN, true));
    // Two coincident corners: their angles are not numbers (the other two are 60 degrees).
    const Corners triangle = {{500, 100}, {500, 100}, {900, 793}, {100, 793}};
    EXPECT_TRUE(checkRectIdCard(1000, 1000, triangle, 0.0f, 0.0f, true));
    EXPECT_FALSE(checkRectIdCard(1000, 1000, triangle, 0.0f, 0.0f, false));  // rH = 0
    const Corners point = {{500, 500}, {500, 500}, {500, 500}, {500, 500}};
    EXPECT_FALSE(checkRectIdCard(1000, 1000, point, 0.0f, 0.0f, true));  // no area
}

TEST(CardCheck, ExtremeCoordinatesDoNotCrash)
{
    const Corners far = {{INT_MIN, INT_MIN}, {INT_MAX, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MAX}};
    EXPECT_FALSE(checkRectIdCard(1000, 1000, far, 0.7f, 1.4f, false));
    EXPECT_FALSE(checkRectIdCard(INT_MAX, INT_MAX, far, 0.7f, 1.4f, true));
    // W * H beyond the int range.
    EXPECT_TRUE(checkRectIdCard(60000, 60000, {{15000, 15000}, {45000, 15000}, {45000, 45000}, {15000, 45000}}, 0.0f,
                                1.0f, false));
    Records r = recordsAt(CARD);
    r.lt.pt = {INT_MIN, INT_MAX};
    EXPECT_FALSE(card2(500, 400, far, r, 0.0f, 0.0f, false));
    EXPECT_TRUE(card2(500, 400, CARD, r, 0.0f, 0.635f, false));  // replaced, but fits far worse
    EXPECT_TRUE(card3(CARD, r, 0.0f, 0.635f));
    EXPECT_FALSE(card3(far, r, 0.0f, 0.635f));  // four records moved
    EXPECT_EQ(checkRectDirection(far), 1);
    (void)getWHRatio(far);
    (void)getAspectRatio(far, 1000, 1000);
}

// ---------------------------------------------------------------------------
// checkRectIdCard2
// ---------------------------------------------------------------------------

TEST(CardCheck2, WithoutMovedRecordsItIsCheckRectIdCard)
{
    for (const CardCase& c : THRESHOLD_CASES) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(card2(1000, 1000, c.corners, noRecords(), 0.0f, 0.0f, c.onlyRect), c.accepted);
        EXPECT_EQ(card2(1000, 1000, c.corners, recordsAt(c.corners), 0.0f, 0.0f, c.onlyRect), c.accepted);
    }
    EXPECT_TRUE(card2(500, 400, CARD, noRecords(), 0.0f, 0.635f, false));
    EXPECT_FALSE(card2(500, 400, CARD, recordsAt(CARD), 0.0f, 0.5f, false));
}

TEST(CardCheck2, ThreeRecordsMoreThanFivePercentAwayReject)
{
    // Top and bottom are 400: 21 pixels is 5.25 %, 20 pixels exactly 5 %.
    Records r = recordsAt(CARD);
    r.lt.pt = {29, 75};
    r.rt.pt = {471, 75};
    r.rb.pt = {471, 325};
    EXPECT_FALSE(card2(500, 400, CARD, r, 0.0f, 0.0f, false));
    EXPECT_FALSE(card2(500, 400, CARD, r, 0.0f, 0.0f, true));
    r.rb.pt = {470, 325};
    EXPECT_TRUE(card2(500, 400, CARD, r, 0.0f, 0.0f, false));
    r.rb.pt = {471, 325};
    r.rb.score = UNCONFIRMED;
    EXPECT_TRUE(card2(500, 400, CARD, r, 0.0f, 0.0f, false));
}

TEST(CardCheck2, MovedQuadrangleMeetsStricterGeneralBounds)
{
    // Moves the top-left record by 6 % of the top side (5 < 6 <= 10: moved, not replaced).
    auto moved = [](const Corners& c) {
        Records r = recordsAt(c);
        const double top = std::hypot(c[1].x - c[0].x, c[1].y - c[0].y);
        r.lt.pt = c[0] + cv::Point(0, (int)std::ceil(0.06 * top));
        return r;
    };
    // n0 trapezium, avg 0.80 (< 0.87): accepted unmoved, rejected moved.
    const Corners trapezium = {{350, 200}, {650, 200}, {750, 600}, {250, 600}};
    EXPECT_TRUE(card2(1000, 1000, trapezium, noRecords(), 0.0f, 0.0f, false));
    EXPECT_FALSE(card2(1000, 1000, trapezium, moved(trapezium), 0.0f, 0.0f, false));
    // n0 parallelogram, rD 0.71 (< 0.90).
    const Corners parallelogram = {{100, 300}, {500, 300}, {640, 700}, {240, 700}};
    EXPECT_TRUE(card2(1000, 1000, parallelogram, noRecords(), 0.0f, 0.0f, false));
    EXPECT_FALSE(card2(1000, 1000, parallelogram, moved(parallelogram), 0.0f, 0.0f, false));
    // n4 rectangle, similarity 0.86 (>= 0.84, < 0.90).
    const Corners rectangle = {{100, 100}, {900, 100}, {900, 600}, {100, 600}};
    const float landscape = getWHRatio(rectangle) / 0.86f;
    EXPECT_TRUE(card2(1000, 1000, rectangle, noRecords(), 0.0f, landscape, false));
    EXPECT_FALSE(card2(1000, 1000, rectangle, moved(rectangle), 0.0f, landscape, false));
    EXPECT_TRUE(card2(1000, 1000, rectangle, moved(rectangle), 0.0f, getWHRatio(rectangle) / 0.90f, false));
    // onlyRect keeps its table: n <= 2 accepts, n >= 3 uses 0.90 / 0.93 / 0.90 anyway.
    EXPECT_TRUE(card2(1000, 1000, trapezium, moved(trapezium), 0.0f, 0.0f, true));
    EXPECT_FALSE(card2(1000, 1000, rectangle, moved(rectangle), 0.0f, landscape, true));
    const Corners n4 = {{130, 306}, {600, 330}, {600, 970}, {125, 940}};  // avg 0.99, rD 0.9508
    EXPECT_TRUE(card2(1000, 1000, n4, moved(n4), 0.0f, 0.0f, true));
    EXPECT_TRUE(card2(1000, 1000, n4, moved(n4), 0.0f, 0.0f, false));
}

TEST(CardCheck2, ReplacingRecordThatFitsTheReferenceBetterRejects)
{
    // CARD has wh 0.625. A top-left record at (20, 45) is 10.6 % of the top side away and makes
    // wh2 = (281 + 250) / (431 + 400) = 0.639; one at (50, 30) is 11.25 % away, wh2 = 0.680.
    Records closer = noRecords();
    closer.lt = record<vertLT>({20, 45}, CONFIRMED);
    Records farther = noRecords();
    farther.lt = record<vertLT>({50, 30}, CONFIRMED);

    EXPECT_FALSE(card2(500, 400, CARD, closer, 0.0f, 0.635f, false));
    EXPECT_TRUE(card2(500, 400, CARD, farther, 0.0f, 0.635f, false));
    EXPECT_FALSE(card2(500, 400, CARD, closer, 0.635f, 0.0f, false));
    EXPECT_TRUE(card2(500, 400, CARD, farther, 0.635f, 0.0f, false));
    // Both given: both must fit better. Portrait 0.5 is fitted worse by wh2.
    EXPECT_TRUE(card2(500, 400, CARD, closer, 0.5f, 0.635f, false));
    EXPECT_FALSE(card2(500, 400, CARD, closer, 0.64f, 0.635f, false));
    // Without reference ratios there is nothing to compare.
    EXPECT_TRUE(card2(500, 400, CARD, closer, 0.0f, 0.0f, false));
}

// ---------------------------------------------------------------------------
// checkRectIdCard3
// ---------------------------------------------------------------------------

TEST(CardCheck, DeviationIsMeasuredAgainstTopForTopCornersAndBottomForBottomCorners)
{
    // Top 300, bottom 500: 20 pixels are 6.7 % at the top and 4 % at the bottom.
    const Corners trapezium = {{350, 200}, {650, 200}, {750, 600}, {250, 600}};
    Records r = recordsAt(trapezium);
    r.lt.pt = {350, 180};
    r.rt.pt = {650, 180};
    r.rb.pt = {770, 600};
    EXPECT_TRUE(card2(1000, 1000, trapezium, r, 0.0f, 0.0f, true));  // two moved
    r.rt.score = UNCONFIRMED;
    r.rb.score = UNCONFIRMED;
    r.lb.pt = {230, 600};                          // 4 %
    EXPECT_TRUE(card3(trapezium, r, 0.0f, 0.0f));  // one of two moved, no better shape
    r.lb.pt = {220, 600};                          // 6 %
    EXPECT_FALSE(card3(trapezium, r, 0.0f, 0.0f));  // both confirmed corners moved
}

TEST(CardCheck3, NoConfirmedOrNoMovedRecordAccepts)
{
    const Corners awful = {{0, 0}, {10, 900}, {-50, 3}, {7, 7}};
    EXPECT_TRUE(card3(awful, noRecords(), 0.0f, 0.0f));
    EXPECT_TRUE(card3(awful, noRecords(), 1.5f, 0.7f));
    EXPECT_TRUE(card3(CARD, recordsAt(CARD), 1.5f, 0.7f));
    Records r = recordsAt(CARD);
    r.lt.pt = {30, 75};  // exactly 5 %
    r.rb.pt = {450, 345};
    EXPECT_TRUE(card3(CARD, r, 0.0f, 0.0f));
}

TEST(CardCheck3, TooManyMovedRecordsReject)
{
    Records r = recordsAt(CARD);
    r.lt.pt = {29, 75};
    r.rt.pt = {471, 75};
    r.rb.pt = {471, 325};
    EXPECT_FALSE(card3(CARD, r, 0.0f, 0.0f));  // three moved
    r.rb.pt = CARD[2];
    EXPECT_TRUE(card3(CARD, r, 0.0f, 0.0f));   // two of four moved, no better shape
    r.rb.score = UNCONFIRMED;
    r.lb.score = UNCONFIRMED;
    EXPECT_FALSE(card3(CARD, r, 0.0f, 0.0f));  // both confirmed corners moved
    r.rt.score = UNCONFIRMED;
    EXPECT_TRUE(card3(CARD, r, 0.0f, 0.0f));   // the only confirmed corner moved
}

TEST(CardCheck3, RecordsMakingAClearlyBetterRectangleReject)
{
    // Parallelism: bottom-right dragged 60 pixels out (sides 0.93 rounded); the record squares it.
    const Corners dragged = {{100, 100}, {500, 100}, {560, 400}, {100, 400}};
    Records r = noRecords();
    r.rb = record<vertRB>({500, 400}, CONFIRMED);
    EXPECT_FALSE(card3(dragged, r, 0.0f, 0.0f));

    // Diagonals: a parallelogram (diagonals 0.78, sides 1); the record at (600, 500) gives
    // diagonals 0.88 and sides 0.89, one at (670, 500) diagonals 0.81.
    const Corners parallelogram = {{100, 100}, {600, 100}, {700, 500}, {200, 500}};
    r.rb.pt = {600, 500};
    EXPECT_FALSE(card3(parallelogram, r, 0.0f, 0.0f));
    r.rb.pt = {670, 500};
    EXPECT_TRUE(card3(parallelogram, r, 0.0f, 0.0f));
}

TEST(CardCheck3, ReferenceRatioComparison)
{
    // wh = 0.625; the top-left record (20, 45) is 10.6 % away and gives wh2 = 0.639.
    Records r = noRecords();
    r.lt = record<vertLT>({20, 45}, CONFIRMED);
    EXPECT_TRUE(card3(CARD, r, 0.0f, 0.0f));
    EXPECT_TRUE(card3(CARD, r, 0.0f, 0.635f));   // a = 0.010 > b = 0.004 but a <= 0.0635
    EXPECT_FALSE(card3(CARD, r, 0.0f, 0.70f));   // a = 0.075 > b = 0.061 and a > 0.070
    EXPECT_TRUE(card3(CARD, r, 0.0f, 0.60f));    // the record fits worse
    EXPECT_TRUE(card3(CARD, r, 0.635f, 0.0f));
    EXPECT_FALSE(card3(CARD, r, 0.70f, 0.0f));
    // Both given: rejected only when both comparisons reject.
    EXPECT_TRUE(card3(CARD, r, 0.70f, 0.635f));
    EXPECT_TRUE(card3(CARD, r, 0.635f, 0.70f));
    EXPECT_FALSE(card3(CARD, r, 0.70f, 0.71f));
    // A reference that is not a number never rejects.
    EXPECT_TRUE(card3(CARD, r, NaN, 0.70f));
    EXPECT_TRUE(card3(CARD, r, NaN, 0.0f));
}

// ---------------------------------------------------------------------------
// checkRectDirection
// ---------------------------------------------------------------------------

TEST(Direction, TiltCodes)
{
    struct Case {
        const char* name;
        Corners corners;
        int code;
    };
    const std::vector<Case> cases = {
        {"top corners 100, bottom 80", {{153, 100}, {447, 100}, {500, 400}, {100, 400}}, 10},
        {"bottom corners 100, top 80", {{100, 100}, {500, 100}, {447, 400}, {153, 400}}, 8},
        {"right corners 100, left 80", {{100, 100}, {400, 153}, {400, 447}, {100, 500}}, 7},
        {"left corners 100, right 80", {{100, 153}, {400, 100}, {400, 500}, {100, 447}}, 9},
        {"square", {{100, 100}, {400, 100}, {400, 400}, {100, 400}}, 1},
        {"top corners 92, bottom 88", {{110, 100}, {490, 100}, {500, 400}, {100, 400}}, 1},
        {"top barely wider, angles 109/73/70/108", {{105, 270}, {600, 120}, {600, 580}, {100, 400}}, 11},
        {"bottom barely wider, angles 107/70/70/113", {{95, 305}, {600, 120}, {600, 580}, {100, 400}}, 11},
        {"parallelogram 72/108", {{100, 100}, {500, 100}, {600, 400}, {200, 400}}, 11},
        {"three points", {{100, 100}, {400, 100}, {400, 400}}, 2},
        {"five points", {{100, 100}, {400, 100}, {400, 400}, {100, 400}, {50, 250}}, 2},
        {"no points", {}, 2},
        {"one point four times (angles not numbers)", {{7, 7}, {7, 7}, {7, 7}, {7, 7}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(checkRectDirection(c.corners), c.code);
    }
}

// ---------------------------------------------------------------------------
// getWHRatio and getAspectRatio
// ---------------------------------------------------------------------------

TEST(WHRatio, SidesTruncatedToWholePixels)
{
    EXPECT_NEAR(getWHRatio({{100, 100}, {400, 100}, {400, 300}, {100, 300}}), 0.6667f, 1e-4f);
    EXPECT_FLOAT_EQ(getWHRatio({{100, 100}, {300, 100}, {300, 400}, {100, 400}}), 1.5f);
    // Top and bottom are sqrt(101) = 10.05, truncated to 10: 6 / 20.
    EXPECT_FLOAT_EQ(getWHRatio({{0, 0}, {10, 1}, {10, 4}, {0, 3}}), 0.3f);
    EXPECT_EQ(getWHRatio({{0, 0}, {10, 1}, {10, 4}}), 0.0f);
    EXPECT_EQ(getWHRatio({}), 0.0f);
    EXPECT_TRUE(std::isnan(getWHRatio({{5, 5}, {5, 5}, {5, 5}, {5, 5}})));
}

// The image of a width x height rectangle seen by a pinhole camera (focal
// length f pixels, principal point at the centre of the photograph), turned
// by the given angles (degrees) about the x, y and z axes at distance z.
Corners photographRectangle(double width, double height, cv::Size photo, double f, double ax, double ay, double az,
                            double z)
{
    const double rx = ax * CV_PI / 180, ry = ay * CV_PI / 180, rz = az * CV_PI / 180;
    const cv::Matx33d Rx(1, 0, 0, 0, std::cos(rx), -std::sin(rx), 0, std::sin(rx), std::cos(rx));
    const cv::Matx33d Ry(std::cos(ry), 0, std::sin(ry), 0, 1, 0, -std::sin(ry), 0, std::cos(ry));
    const cv::Matx33d Rz(std::cos(rz), -std::sin(rz), 0, std::sin(rz), std::cos(rz), 0, 0, 0, 1);
    const cv::Matx33d R = Rz * Ry * Rx;
    const double cx = photo.width / 2, cy = photo.height / 2;
    Corners out;
    for (const cv::Vec3d& p : {cv::Vec3d(-width / 2, -height / 2, 0), cv::Vec3d(width / 2, -height / 2, 0),
                               cv::Vec3d(width / 2, height / 2, 0), cv::Vec3d(-width / 2, height / 2, 0)}) {
        const cv::Vec3d q = R * p + cv::Vec3d(0, 0, z);
        out.push_back({cvRound(f * q[0] / q[2] + cx), cvRound(f * q[1] / q[2] + cy)});
    }
    return out;
}

TEST(AspectRatio, AxisParallelRectangleFallsBackToWHRatio)
{
    const Corners c = {{100, 100}, {400, 100}, {400, 300}, {100, 300}};
    EXPECT_EQ(getAspectRatio(c, 500, 400), getWHRatio(c));
    EXPECT_NEAR(getAspectRatio(c, 500, 400), 0.6667f, 1e-4f);
    // A trapezium has one pair of sides without perspective too.
    const Corners t = {{153, 100}, {447, 100}, {500, 400}, {100, 400}};
    EXPECT_EQ(getAspectRatio(t, 600, 500), getWHRatio(t));
    EXPECT_EQ(getAspectRatio({{1, 1}, {2, 2}, {3, 3}}, 500, 400), 0.0f);
    EXPECT_EQ(getAspectRatio({}, 500, 400), 0.0f);
}

TEST(AspectRatio, RecoversTheRatioOfAPhotographedRectangle)
{
    struct View {
        double width, height, ax, ay, az;
    };
    const cv::Size photo(4000, 3000);
    const double f = 3200;
    for (const View& v : {View{210, 297, 30, -20, 4}, View{210, 297, -25, 15, -3}, View{297, 210, 20, 25, 0},
                          View{85.6, 54, -30, -30, 8}}) {
        const double truth = v.height / v.width;
        const Corners c = photographRectangle(v.width, v.height, photo, f, v.ax, v.ay, v.az, 1.6 * v.height);
        SCOPED_TRACE(::testing::Message() << "ratio " << truth << " corners " << c[0] << c[1] << c[2] << c[3]);
        const float estimate = getAspectRatio(c, photo.width, photo.height);
        EXPECT_NEAR(estimate, truth, 0.005 * truth);
        // The plain side ratio is visibly off for these views.
        EXPECT_GT(std::fabs(getWHRatio(c) - truth), 0.03 * truth);
    }
}

TEST(AspectRatio, DegenerateCornersDoNotCrash)
{
    for (const Corners& c : {Corners{{5, 5}, {5, 5}, {5, 5}, {5, 5}}, Corners{{0, 0}, {100, 0}, {200, 0}, {300, 0}},
                             Corners{{0, 0}, {100, 100}, {100, 0}, {0, 100}}}) {
        (void)getAspectRatio(c, 640, 480);
        (void)getAspectRatio(c, 0, 0);
    }
}

// ---------------------------------------------------------------------------
// getPerspectiveImage
// ---------------------------------------------------------------------------

TEST(PerspectiveImage, SizeTypeAndBlackSurround)
{
    // A white 300 x 200 photograph; the quadrangle reaches 50 pixels beyond it left and right
    // and 25 above and below, so the warp is a shift by (50, 25) with a black frame.
    cv::Mat src(200, 300, CV_8UC3, cv::Scalar::all(255));
    cv::Mat dst;
    getPerspectiveImage(src, dst, {{-50, -25}, {350, -25}, {350, 225}, {-50, 225}}, 400, 250);
    ASSERT_EQ(dst.size(), cv::Size(400, 250));
    EXPECT_EQ(dst.type(), CV_8UC3);
    EXPECT_EQ(cv::norm(dst(cv::Rect(0, 0, 400, 24)), cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(dst(cv::Rect(0, 226, 400, 24)), cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(dst(cv::Rect(0, 0, 49, 250)), cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(dst(cv::Rect(351, 0, 49, 250)), cv::NORM_INF), 0.0);
    cv::Mat inside = dst(cv::Rect(51, 26, 298, 198));
    EXPECT_EQ(cv::countNonZero(inside.reshape(1) != 255), 0);
}

TEST(PerspectiveImage, AxisParallelRectangleIsACrop)
{
    cv::Mat src(400, 500, CV_8UC1);
    cv::randu(src, 0, 256);
    cv::Mat dst;
    getPerspectiveImage(src, dst, CARD, 400, 250);
    ASSERT_EQ(dst.size(), cv::Size(400, 250));
    EXPECT_LE(cv::norm(dst, src(cv::Rect(50, 75, 400, 250)), cv::NORM_INF), 1.0);
}

TEST(PerspectiveImage, CornerOrderDecidesTheOrientation)
{
    // Quarters: top-left red, top-right green, bottom-right blue, bottom-left white.
    cv::Mat src(400, 400, CV_8UC3);
    const cv::Vec3b red(0, 0, 255), green(0, 255, 0), blue(255, 0, 0), white(255, 255, 255);
    src(cv::Rect(0, 0, 200, 200)).setTo(cv::Scalar(red));
    src(cv::Rect(200, 0, 200, 200)).setTo(cv::Scalar(green));
    src(cv::Rect(200, 200, 200, 200)).setTo(cv::Scalar(blue));
    src(cv::Rect(0, 200, 200, 200)).setTo(cv::Scalar(white));
    struct Case {
        const char* name;
        Corners corners;
        cv::Vec3b topLeft, topRight, bottomRight, bottomLeft;
    };
    const std::vector<Case> cases = {
        {"upright", {{20, 20}, {380, 20}, {380, 380}, {20, 380}}, red, green, blue, white},
        {"turned a quarter", {{380, 20}, {380, 380}, {20, 380}, {20, 20}}, green, blue, white, red},
        {"mirrored (counter-clockwise)", {{20, 20}, {20, 380}, {380, 380}, {380, 20}}, red, white, blue, green},
        {"tilted", {{60, 10}, {390, 50}, {350, 390}, {10, 330}}, red, green, blue, white},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cv::Mat dst;
        getPerspectiveImage(src, dst, c.corners, 120, 160);
        ASSERT_EQ(dst.size(), cv::Size(120, 160));
        EXPECT_EQ(dst.at<cv::Vec3b>(20, 20), c.topLeft);
        EXPECT_EQ(dst.at<cv::Vec3b>(20, 100), c.topRight);
        EXPECT_EQ(dst.at<cv::Vec3b>(140, 100), c.bottomRight);
        EXPECT_EQ(dst.at<cv::Vec3b>(140, 20), c.bottomLeft);
    }
}

TEST(PerspectiveImage, DegenerateInputGivesAnEmptyImage)
{
    cv::Mat src(200, 300, CV_8UC3, cv::Scalar::all(128));
    const Corners good = {{10, 10}, {290, 10}, {290, 190}, {10, 190}};
    struct Case {
        const char* name;
        Corners corners;
        int width, height;
    };
    const std::vector<Case> cases = {
        {"no corners", {}, 100, 100},
        {"three corners", {{10, 10}, {290, 10}, {290, 190}}, 100, 100},
        {"five corners", {{10, 10}, {290, 10}, {290, 190}, {10, 190}, {5, 100}}, 100, 100},
        {"one point", {{50, 50}, {50, 50}, {50, 50}, {50, 50}}, 100, 100},
        {"two coincident corners", {{10, 10}, {10, 10}, {290, 190}, {10, 190}}, 100, 100},
        {"all on a line", {{0, 0}, {100, 0}, {200, 0}, {300, 0}}, 100, 100},
        {"three on a line", {{10, 10}, {150, 10}, {290, 10}, {150, 190}}, 100, 100},
        {"crossing sides", {{10, 10}, {290, 190}, {290, 10}, {10, 190}}, 100, 100},
        {"re-entrant corner", {{10, 10}, {150, 100}, {290, 10}, {150, 190}}, 100, 100},
        {"zero width", good, 0, 100},
        {"zero height", good, 100, 0},
        {"negative size", good, -100, -100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cv::Mat dst(5, 5, CV_8UC1, cv::Scalar(9));
        getPerspectiveImage(src, dst, c.corners, c.width, c.height);
        EXPECT_TRUE(dst.empty());
    }
    cv::Mat empty;
    cv::Mat dst(5, 5, CV_8UC1, cv::Scalar(9));
    getPerspectiveImage(empty, dst, good, 100, 100);
    EXPECT_TRUE(dst.empty());
}

TEST(PerspectiveImage, FarCornersAndOtherTypes)
{
    cv::Mat src(200, 300, CV_32FC1, cv::Scalar(0.5));
    cv::Mat dst;
    getPerspectiveImage(src, dst, {{-2000000000, -2000000000}, {2000000000, -2000000000}, {2000000000, 2000000000},
                                   {-2000000000, 2000000000}},
                        10, 10);
    EXPECT_EQ(dst.size(), cv::Size(10, 10));
    EXPECT_EQ(dst.type(), CV_32FC1);
    getPerspectiveImage(src, dst, {{INT_MIN, INT_MIN}, {INT_MAX, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MAX}},
                        10, 10);
    EXPECT_EQ(dst.size(), cv::Size(10, 10));
    // The destination may be the source.
    cv::Mat same(200, 300, CV_8UC1, cv::Scalar(200));
    getPerspectiveImage(same, same, {{10, 10}, {290, 10}, {290, 190}, {10, 190}}, 50, 40);
    ASSERT_EQ(same.size(), cv::Size(50, 40));
    EXPECT_EQ(cv::countNonZero(same != 200), 0);
}

}  // namespace
