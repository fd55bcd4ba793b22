// Hough line extraction, duplicate removal and grouping of lines into the
// left, right, top and bottom sides.
#include "documentarea_internal.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "hough.h"

void probeSegment(const cv::Vec2f& line, cv::Point& first, cv::Point& second)
{
    const float rho = line[0];
    const float c = std::cos(line[1]);
    const float s = std::sin(line[1]);
    first = cv::Point(cvRound(rho * c - 1000 * s), cvRound(rho * s + 1000 * c));
    second = cv::Point(cvRound(rho * c + 1000 * s), cvRound(rho * s - 1000 * c));
}

void detectHoughLines(cv::Mat& edges, std::vector<cv::Vec2f>* lines)
{
    const int threshold = std::min(edges.rows, edges.cols) / 5;
    // cv::HoughLines would take every voted cell as a line below a threshold of one.
    if (threshold <= 0) {
        lines->clear();
        return;
    }
    cv::HoughLines(edges, *lines, 1, CV_PI / 180, threshold, 0, 0, 0, CV_PI);
}

namespace {

// Appends the whole degrees from `from` (truncated) while they stay below `to`, compared in float.
void appendDegrees(std::vector<int>& angles, float from, float to)
{
    for (int i = static_cast<int>(from); static_cast<float>(i) < to; ++i)
        angles.push_back(i);
}

}  // namespace

std::vector<int> borderLineAngles(bool onlyRect)
{
    const int vertical = onlyRect ? VERTICAL_LINE_DEGREE_TOLERANCE__ONLY_RECT : VERTICAL_LINE_DEGREE_TOLERANCE;
    const int horizontal =
        onlyRect ? HORIZONTAL_LINE_DEGREE_TOLERANCE__ONLY_RECT : HORIZONTAL_LINE_DEGREE_TOLERANCE;
    std::vector<int> angles;
    appendDegrees(angles, DEGREE_0, DEGREE_0 + vertical);
    appendDegrees(angles, DEGREE_180 - vertical, DEGREE_180);
    appendDegrees(angles, DEGREE_90 - horizontal, DEGREE_90 + horizontal);
    return angles;
}

void detectOptimalHoughLines(cv::Mat& edges, std::vector<cv::Vec3f>* lines, int divisor, bool onlyRect)
{
    // The transform rejects a threshold below one; such an image is too small to hold a border.
    const int threshold = divisor > 0 ? std::min(edges.rows, edges.cols) / divisor : 0;
    if (threshold <= 0) {
        lines->clear();
        return;
    }
    optimization::HoughLines(edges, *lines, 1.0f, 180, threshold, borderLineAngles(onlyRect));
    std::sort(lines->begin(), lines->end(), lineAccCompare);
}

namespace {

// Keeps the first line of every cluster of close lines: a line that was removed never serves as a
// reference for later ones, so the result depends on the input order.
template <typename Line, typename Close>
void removeCloseLines(std::vector<Line>& lines, Close close)
{
    const size_t n = lines.size();
    std::vector<bool> removed(n, false);
    for (size_t i = 0; i + 1 < n; ++i) {
        if (removed[i])
            continue;
        for (size_t j = i + 1; j < n; ++j) {
            if (!removed[j] && close(lines[i], lines[j]))
                removed[j] = true;
        }
    }
    for (size_t k = n; k-- > 0;) {
        if (removed[k])
            lines.erase(lines.begin() + k);
    }
}

// |a - b| for floats, formed as larger minus smaller.
float spread(float a, float b)
{
    return a > b ? a - b : b - a;
}

}  // namespace

void removeSimilarHoughLines(std::vector<cv::Vec2f>* lines, int tolerance)
{
    const float tol = static_cast<float>(tolerance);
    removeCloseLines(*lines, [tol](const cv::Vec2f& a, const cv::Vec2f& b) {
        return spread(std::fabs(a[0]), std::fabs(b[0])) <= tol &&
               spread(thetaToDegree(a[1]), thetaToDegree(b[1])) <= tol;
    });
}

void removeCloseHoughLinesUsingRho(std::vector<cv::Vec2f>* lines, int tolerance)
{
    const float tol = static_cast<float>(tolerance);
    removeCloseLines(*lines, [tol](const cv::Vec2f& a, const cv::Vec2f& b) {
        return spread(std::fabs(a[0]), std::fabs(b[0])) <= tol;
    });
}

void removeCloseHoughLinesUsingDHS(std::vector<cv::Vec3f>* lines, int tolerance)
{
    const float tol = static_cast<float>(tolerance);
    removeCloseLines(*lines, [tol](const cv::Vec3f& a, const cv::Vec3f& b) {
        return spread(std::fabs(a[2]), std::fabs(b[2])) <= tol;
    });
}

namespace {

// Splits lines into the vertical and the horizontal family by whether the normal is nearer to
// 0/180 degrees or to 90 degrees; a tie goes to the horizontal family.
void splitFamilies(const std::vector<cv::Vec2f>& lines, bool inDegrees, std::vector<cv::Vec2f>& vertical,
                   std::vector<cv::Vec2f>& horizontal)
{
    const float pi = static_cast<float>(CV_PI);
    for (const cv::Vec2f& line : lines) {
        float dv, dh;
        if (inDegrees) {
            const float t = thetaToDegree(line[1]);
            const float ref = std::fabs(180.0f - t) < std::fabs(t - 0.0f) ? 180.0f : 0.0f;
            dv = std::fabs(t - ref);
            dh = std::fabs(t - 90.0f);
        } else {
            const float theta = line[1];
            const float ref = std::fabs(pi - theta) < std::fabs(theta) ? pi : 0.0f;
            dv = std::fabs(theta - ref);
            dh = std::fabs(theta - static_cast<float>(CV_PI / 2));
        }
        (dv < dh ? vertical : horizontal).push_back(line);
    }
}

// Distance from an anchor point to the probe segment of the line.
float anchorDistance(const cv::Vec2f& line, cv::Point anchor)
{
    cv::Point first, second;
    probeSegment(line, first, second);
    return static_cast<float>(minDistLineAndPoint(anchor.x, anchor.y, first.x, first.y, second.x, second.y));
}

// Removes ever less similar lines, the tolerance growing by LINE_GAP_SIZE per pass from `tolerance`,
// until at most GROUP_LINE_MIN_SIZE lines remain or a pass removes nothing.
template <typename Line>
void thinSide(std::vector<Line>* side, int tolerance, void (*remove)(std::vector<Line>*, int))
{
    int previous = 0;
    for (; static_cast<int>(side->size()) > GROUP_LINE_MIN_SIZE; tolerance += LINE_GAP_SIZE) {
        remove(side, tolerance);
        const int size = static_cast<int>(side->size());
        if (previous != 0 && size == previous)
            break;
        previous = size;
    }
}

// Rho thinning starts at tolerance 10, thinning by anchor distance at 5.
void thinByRho(std::vector<cv::Vec2f>* side)
{
    thinSide(side, 2 * LINE_GAP_SIZE, removeCloseHoughLinesUsingRho);
}

void thinByDistance(std::vector<cv::Vec3f>& side)
{
    thinSide(&side, LINE_GAP_SIZE, removeCloseHoughLinesUsingDHS);
}

// Side anchors: the midpoints of the left, right, top and bottom image edges.
struct SideAnchors {
    cv::Point left, right, top, bottom;
    SideAnchors(int W, int H) : left(0, H / 2), right(W - 1, H / 2), top(W / 2, 0), bottom(W / 2, H - 1) {}
};

// Appends every line of a family to `first` where toFirst(line) holds and to `second` otherwise,
// then rho-thins `first` and, unless it became empty, `second`. False when either is empty.
template <typename ToFirst>
bool splitSideThinnedByRho(const std::vector<cv::Vec2f>& family, ToFirst toFirst, std::vector<cv::Vec2f>* first,
                           std::vector<cv::Vec2f>* second)
{
    for (const cv::Vec2f& line : family)
        (toFirst(line) ? first : second)->push_back(line);
    thinByRho(first);
    if (first->empty())
        return false;
    thinByRho(second);
    return !second->empty();
}

}  // namespace

void getGroupingLinesUsingRho(int W, int H, std::vector<cv::Vec2f>& lines, std::vector<cv::Vec2f>* left,
                              std::vector<cv::Vec2f>* right, std::vector<cv::Vec2f>* top,
                              std::vector<cv::Vec2f>* bottom)
{
    std::vector<cv::Vec2f> vertical, horizontal;
    splitFamilies(lines, false, vertical, horizontal);
    if (vertical.size() <= 1 && horizontal.size() <= 1)
        return;
    // Nearer by |rho| to the first image edge than to the last row or column.
    auto nearerToStart = [](int extent) {
        return [extent](const cv::Vec2f& line) {
            const float a = std::fabs(line[0]);
            return a < std::fabs(a - (extent - 1));
        };
    };
    if (!splitSideThinnedByRho(vertical, nearerToStart(W), left, right))
        return;
    splitSideThinnedByRho(horizontal, nearerToStart(H), top, bottom);
}

void getGroupingLinesUsingDHS_FilteringRho(int W, int H, std::vector<cv::Vec2f>& lines,
                                           std::vector<cv::Vec2f>* left, std::vector<cv::Vec2f>* right,
                                           std::vector<cv::Vec2f>* top, std::vector<cv::Vec2f>* bottom)
{
    std::vector<cv::Vec2f> vertical, horizontal;
    splitFamilies(lines, true, vertical, horizontal);
    if (vertical.size() < 2 || horizontal.size() < 2)
        return;
    const SideAnchors anchors(W, H);
    // Strictly nearer to the first anchor; ties go to the second side.
    auto nearerTo = [](cv::Point firstAnchor, cv::Point secondAnchor) {
        return [firstAnchor, secondAnchor](const cv::Vec2f& line) {
            return anchorDistance(line, secondAnchor) > anchorDistance(line, firstAnchor);
        };
    };
    if (!splitSideThinnedByRho(vertical, nearerTo(anchors.left, anchors.right), left, right))
        return;
    splitSideThinnedByRho(horizontal, nearerTo(anchors.top, anchors.bottom), top, bottom);
}

namespace {

// Sorts a family between two opposite sides by anchor distance, keeping the nearer distance as the
// line's third value, and thins both sides. False when either side ends up empty.
bool collectNearerSide(const std::vector<cv::Vec2f>& family, cv::Point firstAnchor, cv::Point secondAnchor,
                       std::vector<cv::Vec3f>& first, std::vector<cv::Vec3f>& second)
{
    for (const cv::Vec2f& line : family) {
        const float d0 = anchorDistance(line, firstAnchor);
        const float d1 = anchorDistance(line, secondAnchor);
        if (d1 > d0)
            first.emplace_back(line[0], line[1], d0);
        else
            second.emplace_back(line[0], line[1], d1);
    }
    thinByDistance(first);
    if (first.empty())
        return false;
    thinByDistance(second);
    return !second.empty();
}

void appendRhoTheta(const std::vector<cv::Vec3f>& scored, std::vector<cv::Vec2f>* side)
{
    for (const cv::Vec3f& line : scored)
        side->emplace_back(line[0], line[1]);
}

}  // namespace

void getGroupingLinesUsingDHS(int W, int H, std::vector<cv::Vec2f>& lines, std::vector<cv::Vec2f>* left,
                              std::vector<cv::Vec2f>* right, std::vector<cv::Vec2f>* top,
                              std::vector<cv::Vec2f>* bottom)
{
    std::vector<cv::Vec2f> vertical, horizontal;
    splitFamilies(lines, true, vertical, horizontal);
    if (vertical.size() < 2 || horizontal.size() < 2)
        return;
    const SideAnchors anchors(W, H);

    std::vector<cv::Vec3f> leftLines, rightLines, topLines, bottomLines;
    if (!collectNearerSide(vertical, anchors.left, anchors.right, leftLines, rightLines))
        return;
    if (!collectNearerSide(horizontal, anchors.top, anchors.bottom, topLines, bottomLines))
        return;
    appendRhoTheta(leftLines, left);
    appendRhoTheta(rightLines, right);
    appendRhoTheta(topLines, top);
    appendRhoTheta(bottomLines, bottom);
}
