// The document searches: reduce the photograph, build an edge map, extract
// border lines or segments, form the quadrangle and scale its corners back.
#include "documentarea_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "binarization.h"
#include "imageprocessing.h"
#include "utils.h"

namespace tarvek {
namespace documentarea {

namespace {

// Smallest side of a photograph that can show a document, and the most elongated shape: beyond it
// the 320-pixel copy would be less than MIN_SIDE pixels across.
const int MIN_SIDE = 16;
const int MAX_ELONGATION = 20;

}  // namespace

bool searchable(const cv::Mat& img)
{
    if (img.empty() || img.depth() != CV_8U || !(img.channels() == 1 || img.channels() == 3 || img.channels() == 4))
        return false;
    const int shortSide = std::min(img.cols, img.rows);
    return shortSide >= MIN_SIDE && std::max(img.cols, img.rows) / shortSide <= MAX_ELONGATION;
}

namespace {

const int FOUND = 1;
const int NOT_FOUND = 2;
const int REJECTED = 3;

// The photograph resized to size, or false when the size has no pixels.
bool reduced(const cv::Mat& img, cv::Size size, cv::Mat& small)
{
    if (size.width < 1 || size.height < 1)
        return false;
    cv::resize(img, small, size, 0, 0, cv::INTER_LINEAR);
    return true;
}

std::vector<cv::Vec2f> rhoTheta(const std::vector<cv::Vec3f>& scored)
{
    std::vector<cv::Vec2f> lines;
    lines.reserve(scored.size());
    for (const cv::Vec3f& line : scored)
        lines.emplace_back(line[0], line[1]);
    return lines;
}

struct Groups {
    std::vector<cv::Vec2f> left, right, top, bottom;

    bool anyEmpty() const { return left.empty() || right.empty() || top.empty() || bottom.empty(); }
};

// What the grey and the colour Hough-line searches do differently.
struct HoughSearch {
    bool colour;  // edges of the HSV planes of a colour copy instead of grey Canny edges
    int similarityTolerance;
    void (*group)(int, int, std::vector<cv::Vec2f>&, std::vector<cv::Vec2f>*, std::vector<cv::Vec2f>*,
                  std::vector<cv::Vec2f>*, std::vector<cv::Vec2f>*);
    bool keepCandidates;
};

const HoughSearch GREY_SEARCH = {false, 5, getGroupingLinesUsingDHS_FilteringRho, false};
const HoughSearch COLOUR_SEARCH = {true, SIMILAR_HOUGH_LINE_TOLERANCE, getGroupingLinesUsingDHS, true};

struct SearchOptions {
    float aspectRatio, portraitRatio, landscapeRatio;
    bool equalize, useDOC, onlyRect;
};

// The edge map of the reduced photograph, which is released; false when a builder finds nothing.
bool searchEdges(const HoughSearch& search, const SearchOptions& options, bool colourSource, cv::Mat& small,
                 cv::Mat& edges)
{
    if (options.equalize && !equalizeHistForColor(small, small))
        return false;
    cv::Mat work;
    if (!search.colour)
        work = small;
    else if (colourSource)
        work = small.clone();
    else if (!tarvek::utils::getColorImage(small, work))
        return false;
    small.release();
    const bool built = options.useDOC ? detectEdgeUsingDOC(work, edges)
                                      : (search.colour ? detectEdgeUsingCannyInHSV(work, edges)
                                                       : detectEdgeUsingCanny(work, edges));
    if (!built)
        return false;
    return !options.onlyRect || removeCenterEdge(edges);
}

// Border lines of the edge map, grouped by side; false when a side has none.
bool sideGroups(const HoughSearch& search, const SearchOptions& options, cv::Mat& edges, Groups& groups)
{
    std::vector<cv::Vec3f> scored;
    detectOptimalHoughLines(edges, &scored, options.useDOC ? 7 : 5, options.onlyRect);
    std::vector<cv::Vec2f> lines = rhoTheta(scored);
    if (lines.size() <= 3)
        return false;
    removeSimilarHoughLines(&lines, search.similarityTolerance);
    if (lines.size() <= 3)
        return false;
    search.group(edges.cols, edges.rows, lines, &groups.left, &groups.right, &groups.top, &groups.bottom);
    return !groups.anyEmpty();
}

std::vector<cv::Point> scaledBack(const std::vector<cv::Point2f>& corners, float scale)
{
    std::vector<cv::Point> scaled;
    for (const cv::Point2f& c : corners)
        scaled.emplace_back((int)(c.x / scale), (int)(c.y / scale));
    return scaled;
}

void appendCorners(std::vector<cv::Point>& out, const std::vector<cv::Point>& corners)
{
    out.insert(out.end(), corners.begin(), corners.end());
}

struct SearchResult {
    float accuracy = 0, whRatio = 0, maxAngleDiff = 0;
};

// The grey and colour searches: reduce to 320 pixels on the long side, edges, border lines by side,
// the best quadrangle, scaled back and judged by the card check. groups, when given, receive the
// side groups.
int findByHoughLines(const HoughSearch& search, cv::Mat& img, std::vector<cv::Point>& out,
                     const SearchOptions& options, SearchResult& result, Groups* groups)
{
    if (!searchable(img))
        return NOT_FOUND;
    result = SearchResult();
    const float scale = 320.0f / (img.cols < img.rows ? img.rows : img.cols);
    cv::Mat small, edges;
    if (!reduced(img, cv::Size((int)(img.cols * scale), (int)(img.rows * scale)), small))
        return NOT_FOUND;
    if (!searchEdges(search, options, img.channels() == 3, small, edges))
        return NOT_FOUND;
    Groups local;
    Groups& sides = groups ? *groups : local;
    if (!sideGroups(search, options, edges, sides))
        return NOT_FOUND;
    float accuracy = 0, angleDiff = 0;
    const std::vector<cv::Point2f> corners =
        getQuadrangleFormation_usingQUAD(edges, sides.left, sides.right, sides.top, sides.bottom, accuracy,
                                         angleDiff, options.aspectRatio, options.useDOC, search.keepCandidates,
                                         options.onlyRect);
    if (corners.size() != 4)
        return NOT_FOUND;
    const std::vector<cv::Point> found = scaledBack(corners, scale);
    appendCorners(out, found);
    result.accuracy = accuracy;
    result.maxAngleDiff = angleDiff;
    result.whRatio = getWHRatio(found);
    return checkRectIdCard(img.cols, img.rows, found, options.portraitRatio, options.landscapeRatio,
                           options.onlyRect)
               ? FOUND
               : REJECTED;
}

int findWithOutputs(const HoughSearch& search, cv::Mat& img, std::vector<cv::Point>& out,
                    const SearchOptions& options, float& accuracy, float& whRatio, float& maxAngleDiff,
                    Groups* groups)
{
    SearchResult result;
    const int code = findByHoughLines(search, img, out, options, result, groups);
    if (searchable(img)) {
        accuracy = result.accuracy;
        whRatio = result.whRatio;
        maxAngleDiff = result.maxAngleDiff;
    }
    return code;
}

}  // namespace

int find_using_gray_canny(cv::Mat& img, std::vector<cv::Point>& out, float aspectRatio, float portraitRatio,
                          float landscapeRatio, float& accuracy, float& whRatio, float& maxAngleDiff, bool equalize,
                          bool useDOC, bool onlyRect)
{
    const SearchOptions options{aspectRatio, portraitRatio, landscapeRatio, equalize, useDOC, onlyRect};
    return findWithOutputs(GREY_SEARCH, img, out, options, accuracy, whRatio, maxAngleDiff, nullptr);
}

int find_using_hsv_canny(cv::Mat& img, std::vector<cv::Point>& out, float aspectRatio, float portraitRatio,
                         float landscapeRatio, float& accuracy, float& whRatio, float& maxAngleDiff, bool equalize,
                         bool useDOC, bool onlyRect)
{
    const SearchOptions options{aspectRatio, portraitRatio, landscapeRatio, equalize, useDOC, onlyRect};
    return findWithOutputs(COLOUR_SEARCH, img, out, options, accuracy, whRatio, maxAngleDiff, nullptr);
}

int find_using_hsv_canny2(cv::Mat& img, std::vector<cv::Point>& out, float aspectRatio, float portraitRatio,
                          float landscapeRatio, float& accuracy, float& whRatio, float& maxAngleDiff, bool equalize,
                          bool useDOC, bool onlyRect, std::vector<cv::Vec2f>* left, std::vector<cv::Vec2f>* right,
                          std::vector<cv::Vec2f>* top, std::vector<cv::Vec2f>* bottom)
{
    const SearchOptions options{aspectRatio, portraitRatio, landscapeRatio, equalize, useDOC, onlyRect};
    Groups groups;
    const int code = findWithOutputs(COLOUR_SEARCH, img, out, options, accuracy, whRatio, maxAngleDiff, &groups);
    const std::pair<const std::vector<cv::Vec2f>*, std::vector<cv::Vec2f>*> sides[] = {
        {&groups.left, left}, {&groups.right, right}, {&groups.top, top}, {&groups.bottom, bottom}};
    for (const auto& [from, to] : sides) {
        if (to)
            to->insert(to->end(), from->begin(), from->end());
    }
    return code;
}

bool find_using_watershed_canny(cv::Mat& img, std::vector<cv::Point>& out, float& accuracy, float& whRatio,
                                float& maxAngleDiff)
{
    if (!searchable(img))
        return false;
    accuracy = whRatio = maxAngleDiff = 0;
    // Stretched, not scaled: the watershed seeds assume a 4:3 frame.
    const bool portrait = img.cols < img.rows;
    const float sx = img.cols / (portrait ? 240.0f : 320.0f);
    const float sy = img.rows / (portrait ? 320.0f : 240.0f);
    cv::Mat small, edges;
    if (!reduced(img, portrait ? cv::Size(240, 320) : cv::Size(320, 240), small))
        return false;
    if (!detectEdgeUsingWatershedAndCanny(small, edges))
        return false;
    small.release();

    std::vector<cv::Vec2f> lines;
    detectHoughLines(edges, &lines);
    if (lines.size() <= 3)
        return false;
    if (lines.size() > 4)
        removeSimilarHoughLines(&lines, 5);
    if (lines.size() <= 3)
        return false;
    Groups groups;
    getGroupingLinesUsingDHS_FilteringRho(edges.cols, edges.rows, lines, &groups.left, &groups.right, &groups.top,
                                          &groups.bottom);
    float acc = 0, angle = 0;
    const std::vector<cv::Point2f> corners = getQuadrangleFormation_usingQUAD(
        edges, groups.left, groups.right, groups.top, groups.bottom, acc, angle, 0, false, false, false);
    if (corners.size() < 4)
        return false;
    std::vector<cv::Point> found;
    for (const cv::Point2f& c : corners)
        found.emplace_back((int)(c.x * sx), (int)(c.y * sy));
    appendCorners(out, found);
    whRatio = getWHRatio(found);
    accuracy = acc;
    maxAngleDiff = angle;
    return true;
}

// ---------------------------------------------------------------------------
// Comparing searches
// ---------------------------------------------------------------------------

namespace {

struct Outcome {
    int code;
    std::vector<cv::Point> corners;
    SearchResult result;
    float aspectDiff;  // |expected − found| height/width ratio, 0 without an expected one
};

const float ACCURACY_TOLERANCE = 0.15f;
const float ASPECT_TOLERANCE = 0.05f;
const float ANGLE_TOLERANCE = 5.0f;

// Whether the grey result is preferred when both searches passed the card check: close accuracies
// are decided by squareness or by agreement with the expected ratio, distant ones by accuracy
// unless the squareness differs clearly.
bool preferGrey(const Outcome& g, const Outcome& h, float aspectRatio)
{
    const float accDiff = std::fabs(g.result.accuracy - h.result.accuracy);
    const float whDiff = std::fabs(g.result.whRatio - h.result.whRatio);
    const float angleDiff = std::fabs(g.result.maxAngleDiff - h.result.maxAngleDiff);
    const bool closeAccuracy = accDiff < ACCURACY_TOLERANCE;
    if (aspectRatio == 0) {
        return closeAccuracy ? selectAngleDiffSmaller(g.result.maxAngleDiff, h.result.maxAngleDiff)
                             : selectAccuracyBigger(g.result.accuracy, h.result.accuracy);
    }
    if (!closeAccuracy) {
        return angleDiff < ANGLE_TOLERANCE ? selectAccuracyBigger(g.result.accuracy, h.result.accuracy)
                                           : selectAngleDiffSmaller(g.result.maxAngleDiff, h.result.maxAngleDiff);
    }
    if (whDiff < ASPECT_TOLERANCE / 2) {
        return angleDiff < 1.0f ? selectAccuracyBigger(g.result.accuracy, h.result.accuracy)
                                : selectAngleDiffSmaller(g.result.maxAngleDiff, h.result.maxAngleDiff);
    }
    if (g.aspectDiff < ASPECT_TOLERANCE && h.aspectDiff < ASPECT_TOLERANCE) {
        return angleDiff < ANGLE_TOLERANCE / 2 ? selectAspectRatioDiffSmaller(g.aspectDiff, h.aspectDiff)
                                               : selectAngleDiffSmaller(g.result.maxAngleDiff, h.result.maxAngleDiff);
    }
    return selectAspectRatioDiffSmaller(g.aspectDiff, h.aspectDiff);
}

// Runs one search into a corner list of its own.
Outcome searchOutcome(const HoughSearch& search, cv::Mat& img, const SearchOptions& options, Groups* groups)
{
    Outcome o;
    o.code = findByHoughLines(search, img, o.corners, options, o.result, groups);
    o.aspectDiff = options.aspectRatio == 0 ? 0 : std::fabs(options.aspectRatio - o.result.whRatio);
    return o;
}

int compareGreyAndColour(cv::Mat& img, std::vector<cv::Point>& out, const SearchOptions& options, Groups* groups)
{
    const Outcome g = searchOutcome(GREY_SEARCH, img, options, nullptr);
    const Outcome h = searchOutcome(COLOUR_SEARCH, img, options, groups);
    if (g.code == FOUND && h.code == FOUND) {
        appendCorners(out, preferGrey(g, h, options.aspectRatio) ? g.corners : h.corners);
        return FOUND;
    }
    if (g.code == FOUND || h.code == FOUND) {
        appendCorners(out, g.code == FOUND ? g.corners : h.corners);
        return FOUND;
    }
    if (g.code == REJECTED && h.code == REJECTED) {
        appendCorners(out, g.result.accuracy < h.result.accuracy ? h.corners : g.corners);
        return REJECTED;
    }
    if (g.code == REJECTED || h.code == REJECTED) {
        appendCorners(out, g.code == REJECTED ? g.corners : h.corners);
        return REJECTED;
    }
    return NOT_FOUND;
}

}  // namespace

int find_compare_grayCanny_hsvCanny(cv::Mat& img, std::vector<cv::Point>& out, float aspectRatio,
                                    float portraitRatio, float landscapeRatio, bool equalize, bool useDOC,
                                    bool onlyRect)
{
    const SearchOptions options{aspectRatio, portraitRatio, landscapeRatio, equalize, useDOC, onlyRect};
    return compareGreyAndColour(img, out, options, nullptr);
}

int find_compare_grayCanny_hsvCanny_IDCardVertices(cv::Mat& img, std::vector<cv::Point>& out, float aspectRatio,
                                                   float portraitRatio, float landscapeRatio, bool equalize,
                                                   bool useDOC, bool onlyRect)
{
    const SearchOptions options{aspectRatio, portraitRatio, landscapeRatio, equalize, useDOC, onlyRect};
    Groups discarded;
    return compareGreyAndColour(img, out, options, &discarded);
}

// ---------------------------------------------------------------------------
// Watershed and band search
// ---------------------------------------------------------------------------

namespace {

const int WORK_WIDTH = 320;
const int WORK_HEIGHT = 240;

// Inner watershed seed and the bands in which each side's segment is sought (left, right, top,
// bottom) in the 320 x 240 working image.
struct BandLayout {
    cv::Point seedFrom, seedTo;
    std::vector<cv::Rect> bands;
};

bool bandLayout(int mode, BandLayout& layout)
{
    const std::vector<cv::Rect> sideBands = {{0, 0, 80, 240}, {240, 0, 80, 240}, {0, 0, 320, 60}, {0, 180, 320, 60}};
    switch (mode) {
    case 0:
    case 2:
        layout = {{80, 60}, {240, 180}, sideBands};
        return true;
    case 1:
        layout = {{120, 60}, {200, 180}, {{0, 0, 120, 240}, {200, 0, 120, 240}, {0, 0, 320, 60}, {0, 180, 320, 60}}};
        return true;
    case 3:
        layout = {{80, 110}, {240, 130}, {{0, 0, 80, 240}, {240, 0, 80, 240}, {0, 0, 320, 110}, {0, 130, 320, 110}}};
        return true;
    default:
        return false;
    }
}

// Watershed boundaries between the frame seed and the inner seed, the frame itself cleared.
cv::Mat seededBoundaries(cv::Mat& gradient, const BandLayout& layout)
{
    cv::Mat markers = cv::Mat::zeros(gradient.size(), CV_32SC1);
    cv::rectangle(markers, cv::Point(1, 1), cv::Point(318, 238), cv::Scalar(1), 1, 8);
    cv::rectangle(markers, layout.seedFrom, layout.seedTo, cv::Scalar(2), 2, 8);
    cv::Mat boundaries;
    tarvek::imageprocessing::watershed(gradient, boundaries, markers);
    cv::rectangle(boundaries, cv::Point(0, 0), cv::Point(319, 239), cv::Scalar(0), 2);
    return boundaries;
}

// The box of the last region flooded when every region still 0 is filled in raster order.
cv::Rect lastFloodedRegion(const cv::Mat& boundaries)
{
    cv::Mat regions;
    boundaries.convertTo(regions, CV_32S);
    cv::Rect last;
    for (int y = 0; y < regions.rows; ++y) {
        const int* row = regions.ptr<int>(y);
        for (int x = 0; x < regions.cols; ++x) {
            if (row[x] == 0)
                cv::floodFill(regions, cv::Point(x, y), cv::Scalar(1), &last, cv::Scalar(0), cv::Scalar(0), 4);
        }
    }
    return last;
}

// Mode 2: the corners of the last flooded region's box, those strictly inside the photograph.
bool regionBoxCorners(const cv::Mat& boundaries, float sx, float sy, cv::Size photo, std::vector<cv::Point>& out)
{
    const cv::Rect r = lastFloodedRegion(boundaries);
    std::vector<cv::Point> corners;
    for (const cv::Point& c : {r.tl(), cv::Point(r.x + r.width, r.y), r.br(), cv::Point(r.x, r.y + r.height)}) {
        const cv::Point scaled((int)(c.x * sx), (int)(c.y * sy));
        if (scaled.x > 0 && scaled.x < photo.width && scaled.y > 0 && scaled.y < photo.height)
            corners.push_back(scaled);
    }
    if (corners.size() != 4)
        return false;
    appendCorners(out, corners);
    return true;
}

// Corners where the four side segments cross, each strictly inside the working image, in corner
// order.
bool segmentCorners(std::vector<cv::Vec4i>& segments, std::vector<cv::Point2f>& corners)
{
    if (segments.size() != 4)
        return false;
    std::vector<cv::Vec3f> crossings;
    get_boundary_vertices2(segments, crossings);
    if (crossings.size() != 4)
        return false;
    for (const cv::Vec3f& c : crossings) {
        const cv::Point2f p((float)(int)c[0], (float)(int)c[1]);
        if (p.x > 0 && p.x < WORK_WIDTH && p.y > 0 && p.y < WORK_HEIGHT)
            corners.push_back(p);
    }
    return corners.size() == 4 && orderPoints(corners);
}

// A working-image coordinate scaled to the photograph's extent; one that falls less than 10 pixels
// outside is pulled onto the first or last pixel, one further out is lost.
bool scaledIntoExtent(float v, float scale, int extent, float& scaled)
{
    int s = (int)(v * scale);
    if (s <= 0) {
        if (std::abs(s) >= 10)
            return false;
        s = 1;
    }
    if (s >= extent) {
        if (std::abs(s) - extent >= 10)
            return false;
        s = extent - 1;
    }
    scaled = (float)s;
    return true;
}

}  // namespace

bool find(cv::Mat& img, int mode, std::vector<cv::Point>& out)
{
    BandLayout layout;
    if (!searchable(img) || !bandLayout(mode, layout))
        return false;
    const float sx = img.cols / (float)WORK_WIDTH;
    const float sy = img.rows / (float)WORK_HEIGHT;
    cv::Mat small, gradient;
    reduced(img, cv::Size(WORK_WIDTH, WORK_HEIGHT), small);
    cv::GaussianBlur(small, small, cv::Size(3, 3), 1.6, 0, cv::BORDER_DEFAULT);
    tarvek::imageprocessing::getGradientImage(small, gradient);
    small.release();

    cv::Mat boundaries = seededBoundaries(gradient, layout);
    std::vector<cv::Vec4i> segments;
    tarvek::utils::detectLineUsingRANSAC4(boundaries, layout.bands, &segments);
    if (mode == 2)
        return segments.size() >= 4 && regionBoxCorners(boundaries, sx, sy, img.size(), out);

    std::vector<cv::Point2f> corners;
    if (!segmentCorners(segments, corners))
        return false;
    if (mode == 0)
        expand_vertices(gradient, corners);
    gradient.release();
    boundaries.release();

    std::vector<cv::Point2f> scaled;
    for (const cv::Point2f& c : corners) {
        cv::Point2f p;
        if (scaledIntoExtent(c.x, sx, img.cols, p.x) && scaledIntoExtent(c.y, sy, img.rows, p.y))
            scaled.push_back(p);
    }
    if (scaled.size() < 4)
        return false;
    for (const cv::Point2f& c : scaled)
        out.emplace_back((int)c.x, (int)c.y);
    return checkRect(img.cols, img.rows, scaled);
}

// ---------------------------------------------------------------------------
// Anchor marks
// ---------------------------------------------------------------------------

namespace {

const int ANCHOR_SHORT_SIDE = 1024;
// A photograph whose long side would pass this after scaling is too elongated to hold four marks.
const std::int64_t ANCHOR_LONG_SIDE_LIMIT = 16 * ANCHOR_SHORT_SIDE;

// Size with the shorter side 1024 (the other in proportion), or an empty size when too elongated.
cv::Size anchorSearchSize(const cv::Mat& img)
{
    const std::int64_t longSide = (std::int64_t)std::max(img.cols, img.rows) * ANCHOR_SHORT_SIDE /
                                  std::min(img.cols, img.rows);
    if (longSide > ANCHOR_LONG_SIDE_LIMIT)
        return cv::Size();
    return img.cols > img.rows ? cv::Size((int)longSide, ANCHOR_SHORT_SIDE)
                               : cv::Size(ANCHOR_SHORT_SIDE, (int)longSide);
}

bool markShaped(const cv::Rect& r)
{
    return r.width > 8 && r.width <= 50 && r.height > 8 && r.height <= 50 &&
           (float)r.width / r.height >= 0.5f && (float)r.width / r.height <= 2.0f;
}

// Whether the outline of the box three times the mark's size around it is clear: at most 19 dark
// pixels, counted along its top and bottom rows, then its left and right columns.
bool clearSurrounding(const cv::Mat& bin, const cv::Rect& r)
{
    const int top = std::max(r.y - r.height, 0);
    const int bottom = std::min(r.y + 2 * r.height, bin.rows - 1);
    const int left = std::max(r.x - r.width, 0);
    const int right = std::min(r.x + 2 * r.width, bin.cols - 1);
    const uchar* topRow = bin.ptr<uchar>(top);
    const uchar* bottomRow = bin.ptr<uchar>(bottom);
    int dark = 0;
    for (int x = left; dark <= 19 && x < right; ++x)
        dark += (topRow[x] == 0) + (bottomRow[x] == 0);
    for (int y = top; dark <= 19 && y < bottom; ++y) {
        const uchar* row = bin.ptr<uchar>(y);
        dark += (row[left] == 0) + (row[right] == 0);
    }
    return dark <= 19;
}

cv::Point boxCentre(const cv::Rect& r)
{
    return cv::Point(r.x + r.width / 2, r.y + r.height / 2);
}

// Whether the mark is solid: its centre is dark and the dark region around it fills more than 75 %
// of its box. The region is filled with grey so that it is not found again.
bool solidMark(cv::Mat& bin, const cv::Rect& r)
{
    const cv::Point c = boxCentre(r);
    if (bin.ptr<uchar>(c.y)[c.x] != 0)
        return false;
    const int filled = cv::floodFill(bin, c, cv::Scalar(128), nullptr, cv::Scalar(0), cv::Scalar(0), 4);
    return filled / (float)(r.width * r.height) > 0.75f;
}

// The four points as top-left, top-right, bottom-right, bottom-left around their mean; a position
// no point falls into stays (0, 0), and of two points in one position the later is kept.
void orderAroundMean(std::vector<cv::Point>::iterator points)
{
    cv::Point sum;
    for (int k = 0; k < 4; ++k)
        sum += points[k];
    const cv::Point mean(sum.x / 4, sum.y / 4);
    cv::Point ordered[4];
    for (int k = 0; k < 4; ++k) {
        const cv::Point& p = points[k];
        const bool upper = p.y < mean.y;
        const bool leftHalf = p.x < mean.x;
        ordered[upper ? (leftHalf ? 0 : 1) : (leftHalf ? 3 : 2)] = p;
    }
    std::copy(ordered, ordered + 4, points);
}

}  // namespace

void findUsingAnchorPoint(cv::Mat& img, std::vector<cv::Point>& out)
{
    cv::Mat grey;
    if (!searchable(img) || !tarvek::utils::getGrayImage(img, grey))
        return;
    const cv::Size size = anchorSearchSize(img);
    if (size.empty())
        return;
    const float sx = img.cols / (float)size.width;
    const float sy = img.rows / (float)size.height;
    cv::Mat small, bin, edges;
    cv::resize(grey, small, size, 0, 0, cv::INTER_LINEAR);
    grey.release();
    if (tarvek::binarization::otsu(small, bin) < 0)
        return;
    small.release();
    cv::Canny(bin, edges, 30, 150, 3, false);

    std::vector<tarvek::ConnectedComponent> marks;
    for (const tarvek::ConnectedComponent& c : tarvek::utils::getConnectedComponents(edges, true, true)) {
        if (markShaped(c.rect) && clearSurrounding(bin, c.rect) && solidMark(bin, c.rect))
            marks.push_back(c);
    }
    if (marks.size() < 4)
        return;
    std::stable_sort(marks.begin(), marks.end(), ccCompare);
    for (int k = 0; k < 4; ++k) {
        const cv::Point c = boxCentre(marks[k].rect);
        out.emplace_back((int)(c.x * sx), (int)(c.y * sy));
    }
    orderAroundMean(out.end() - 4);
}

void getBasicAspectRatio(int kind, float& aspectRatio, float& portraitRatio, float& landscapeRatio)
{
    struct Format {
        float portrait, landscape;
    };
    static const Format formats[] = {{1.574f, 0.635f}, {1.78f, 0.562f}, {1.414f, 0.707f}};
    const int family = kind & 0xFF;
    if (family > 2)
        return;
    const Format& f = formats[family];
    switch (kind & 0xF00) {
    case 0x100:
        portraitRatio = aspectRatio = f.portrait;
        break;
    case 0x200:
        landscapeRatio = aspectRatio = f.landscape;
        break;
    case 0x300:
        portraitRatio = f.portrait;
        landscapeRatio = f.landscape;
        break;
    default:
        break;
    }
}

bool ccCompare(tarvek::ConnectedComponent a, tarvek::ConnectedComponent b)
{
    return a.rect.width > b.rect.width;
}

}  // namespace documentarea
}  // namespace tarvek
