#include "documentarea_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <opencv2/imgproc.hpp>

#include "hough.h"
#include "imageprocessing.h"
#include "utils.h"

float thetaToDegree(float theta)
{
    return (float)((double)(180.0f * theta) / CV_PI);
}

bool selectAspectRatioDiffSmaller(float a, float b)
{
    return a < b;
}

// Written as a negation so that a NaN accuracy never sorts behind a number.
bool selectAccuracyBigger(float a, float b)
{
    return !(b > a);
}

bool selectAngleDiffSmaller(float a, float b)
{
    return a < b;
}

bool lineAccCompare(cv::Vec3f a, cv::Vec3f b)
{
    return a[2] > b[2];
}

float getYIntercept(float x, float y, float slope)
{
    return y - slope * x;
}

namespace {

// Slope dy/dx rounded to two decimals; axis-parallel pairs count as 0.
float roundedSlope(float x1, float y1, float x2, float y2)
{
    if (x1 == x2 || y1 == y2)
        return 0.0f;
    float s = (y2 - y1) / (x2 - x1);
    return (float)(std::floor(s * 100.0 + 0.5) / 100.0);
}

}  // namespace

float getSlope(cv::Point2f a, cv::Point2f b)
{
    return roundedSlope(a.x, a.y, b.x, b.y);
}

float getSlope2(cv::Vec4f seg)
{
    return roundedSlope(seg[0], seg[1], seg[2], seg[3]);
}

bool checkSlope(float ref, float s)
{
    float a = std::fabs(ref);
    float b = std::fabs(s);
    if (a == 0.0f)
        return b <= 0.03;
    return a - 0.03 <= b && b <= a + 0.03;
}

cv::Vec3f cross(cv::Vec3f a, cv::Vec3f b, bool normalize)
{
    cv::Vec3f c(a[1] * b[2] - b[1] * a[2], a[2] * b[0] - b[2] * a[0], a[0] * b[1] - b[0] * a[1]);
    if (normalize) {
        c[0] /= c[2];
        c[1] /= c[2];
        c[2] = 1.0f;
    }
    return c;
}

cv::Vec3f gethomoline(cv::Vec4i seg)
{
    return cross(cv::Vec3f((float)seg[0], (float)seg[1], 1.0f), cv::Vec3f((float)seg[2], (float)seg[3], 1.0f), false);
}

namespace {

bool inClosedRange(float v, float end1, float end2)
{
    return std::min(end1, end2) <= v && v <= std::max(end1, end2);
}

}  // namespace

bool isbetween(cv::Vec3f p, cv::Vec3f a, cv::Vec3f b)
{
    return inClosedRange(p[0], a[0], b[0]) && inClosedRange(p[1], a[1], b[1]);
}

// Segments sharing an end point intersect there (ua or ub is 0 or 1).
// Coincident segments have den == 0 and are rejected as parallel.
bool getIntersectPoint(const cv::Point& p1, const cv::Point& p2, const cv::Point& p3, const cv::Point& p4,
                       cv::Point* out)
{
    int den = (p4.y - p3.y) * (p2.x - p1.x) - (p4.x - p3.x) * (p2.y - p1.y);
    if (den == 0)
        return false;
    int na = (p4.x - p3.x) * (p1.y - p3.y) - (p4.y - p3.y) * (p1.x - p3.x);
    int nb = (p2.x - p1.x) * (p1.y - p3.y) - (p2.y - p1.y) * (p1.x - p3.x);
    double ua = (double)na / den;
    double ub = (double)nb / den;
    if (ua < 0 || ua > 1 || ub < 0 || ub > 1)
        return false;
    out->x = (int)(p1.x + ua * (p2.x - p1.x));
    out->y = (int)(p1.y + ua * (p2.y - p1.y));
    return true;
}

double minDistLineAndPoint(int px, int py, int x1, int y1, int x2, int y2)
{
    int dx = x2 - x1;
    int dy = y2 - y1;
    int nearX = x1;
    int nearY = y1;
    if (dx != 0 || dy != 0) {
        double t = (double)((px - x1) * dx + (py - y1) * dy) / (dx * dx + dy * dy);
        if (t > 1) {
            nearX = x2;
            nearY = y2;
        } else if (t >= 0) {
            nearX = (int)(x1 + t * dx);
            nearY = (int)(y1 + t * dy);
        }
    }
    int ex = px - nearX;
    int ey = py - nearY;
    return std::sqrt((double)(ex * ex + ey * ey));
}

cv::Vec2f pointsToRhoTheta(double x1, double x2, double y1, double y2)
{
    double m = 99999;  // stands in for the slope of a vertical segment
    if (x2 - x1 != 0)
        m = (y2 - y1) / (x2 - x1);
    double b0 = y1 - m * x1;
    // The line passes through the origin: the foot of the normal is the origin
    // itself and says nothing about the direction, so take the normal (-m, 1).
    if (b0 == 0)
        return cv::Vec2f(0.0f, (float)std::atan2(1.0, -m));
    double fy = b0 / (1 + m * m);
    double fx = -b0 / (1 / m + m);
    double angle = std::atan2(fy, fx);
    double dist = std::sqrt(fx * fx + fy * fy);
    if (angle < 0)
        return cv::Vec2f((float)-dist, (float)(CV_PI + angle));
    return cv::Vec2f((float)dist, (float)angle);
}

bool checkLineDegree(cv::Vec2f line, bool vertical, bool onlyRect)
{
    float d = thetaToDegree(line[1]);
    if (vertical) {
        int tol = onlyRect ? VERTICAL_LINE_DEGREE_TOLERANCE__ONLY_RECT : VERTICAL_LINE_DEGREE_TOLERANCE;
        return !(DEGREE_0 + tol < d && d < DEGREE_180 - tol);
    }
    int tol = onlyRect ? HORIZONTAL_LINE_DEGREE_TOLERANCE__ONLY_RECT : HORIZONTAL_LINE_DEGREE_TOLERANCE;
    bool belowBand = DEGREE_0 < d && d < DEGREE_90 - tol;
    bool aboveBand = DEGREE_90 + tol < d && d < DEGREE_180;
    return !(belowBand || aboveBand);
}

namespace {

// Centre of four points, or false when a coordinate sum is not positive.
bool pointsCentre(const std::vector<cv::Point2f>& pts, cv::Point2f& centre)
{
    float sumX = 0.0f;
    float sumY = 0.0f;
    for (const cv::Point2f& p : pts) {
        sumX += p.x;
        sumY += p.y;
    }
    if (sumX <= 0.0f || sumY <= 0.0f)
        return false;
    centre = cv::Point2f(sumX * 0.25f, sumY * 0.25f);
    return true;
}

// Splits four points by one coordinate (x when byColumn, else y) against the
// centre, then orders each half by the other coordinate; ties keep the
// earlier point first. The result is top-left, top-right, bottom-right,
// bottom-left; false, with pts untouched, unless both halves hold two points.
bool orderPointsBySplit(std::vector<cv::Point2f>& pts, bool byColumn)
{
    if (pts.size() != 4)
        return false;
    cv::Point2f centre;
    if (!pointsCentre(pts, centre))
        return false;
    auto major = [byColumn](const cv::Point2f& p) { return byColumn ? p.x : p.y; };
    auto minor = [byColumn](const cv::Point2f& p) { return byColumn ? p.y : p.x; };
    std::vector<cv::Point2f> low, high;
    for (const cv::Point2f& p : pts)
        (major(p) < major(centre) ? low : high).push_back(p);
    if (low.size() != 2 || high.size() != 2)
        return false;
    if (minor(low[1]) < minor(low[0]))
        std::swap(low[0], low[1]);
    if (minor(high[1]) < minor(high[0]))
        std::swap(high[0], high[1]);
    // low/high are top/bottom rows (first point left) or left/right columns
    // (first point upper).
    if (byColumn)
        pts = {low[0], high[0], high[1], low[1]};
    else
        pts = {low[0], low[1], high[1], high[0]};
    return true;
}

// Truncates toward zero; false when v has no int value (NaN, infinite, huge).
bool truncateToInt(float v, int& out)
{
    if (!(v > -2147483648.0f && v < 2147483648.0f))
        return false;
    out = (int)v;
    return true;
}

bool withinExtent(int v, int extent, int margin)
{
    if (v <= 0 && std::abs(v) >= margin)
        return false;
    if (v >= extent && std::abs(v) - extent >= margin)
        return false;
    return true;
}

}  // namespace

bool orderPoints(std::vector<cv::Point2f>& pts)
{
    return orderPointsBySplit(pts, false);
}

bool orderPoints2(std::vector<cv::Point2f>& pts)
{
    return orderPointsBySplit(pts, true);
}

bool checkPointRange(std::vector<cv::Point2f>& pts, int width, int height, bool margin)
{
    int mx = margin ? width / 20 : 0;
    int my = margin ? height / 20 : 0;
    for (const cv::Point2f& p : pts) {
        int ix, iy;
        if (!truncateToInt(p.x, ix) || !truncateToInt(p.y, iy))
            return false;
        if (!withinExtent(ix, width, mx) || !withinExtent(iy, height, my))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Edge map builders
// ---------------------------------------------------------------------------

namespace {

// The 8-connected components of the non-zero pixels of an edge map: bounding rectangles and pixel
// lists, indexed alike, in the order of a row-major scan.
struct EdgeComponents {
    std::vector<cv::Rect> rects;
    std::vector<std::vector<cv::Point>> pixels;

    bool empty() const { return rects.empty(); }
    int size() const { return static_cast<int>(rects.size()); }
    void erase(int i)
    {
        rects.erase(rects.begin() + i);
        pixels.erase(pixels.begin() + i);
    }
};

// Labels by flood fill on an int image where 1 is background and 0 an unlabelled edge pixel; labels
// start at 2 so that they never collide with either.
EdgeComponents labelEdgeComponents(const cv::Mat& edges)
{
    cv::Mat bin, labels;
    cv::threshold(edges, bin, 0, 1, cv::THRESH_BINARY_INV);
    bin.convertTo(labels, CV_32S, 1, 0);

    EdgeComponents components;
    int label = 2;
    for (int y = 0; y < labels.rows; ++y) {
        const int* row = labels.ptr<int>(y);
        for (int x = 0; x < labels.cols; ++x) {
            if (row[x] != 0)
                continue;
            cv::Rect r;
            cv::floodFill(labels, cv::Point(x, y), cv::Scalar(label), &r, cv::Scalar(0), cv::Scalar(0), 8);
            std::vector<cv::Point> members;
            for (int cy = r.y; cy < r.y + r.height; ++cy) {
                const int* inside = labels.ptr<int>(cy);
                for (int cx = r.x; cx < r.x + r.width; ++cx) {
                    if (inside[cx] == label)
                        members.emplace_back(cx, cy);
                }
            }
            components.rects.push_back(r);
            components.pixels.push_back(std::move(members));
            ++label;
        }
    }
    return components;
}

// Walks from the last component to the first and erases those for which drop(index) holds.
template <typename Drop>
void dropComponents(EdgeComponents& components, Drop drop)
{
    for (int i = components.size() - 1; i >= 0; --i) {
        if (drop(i))
            components.erase(i);
    }
}

// Drops the components whose box is both narrower than minW and lower than minH.
void dropSmallComponents(EdgeComponents& components, int minW, int minH)
{
    dropComponents(components, [&](int i) {
        const cv::Rect& r = components.rects[i];
        return r.width < minW && r.height < minH;
    });
}

// An 8-bit edge map of `size` with the pixels of every component set to 255.
cv::Mat paintEdgeComponents(const EdgeComponents& components, cv::Size size)
{
    cv::Mat painted = cv::Mat::zeros(size, CV_8UC1);
    for (const std::vector<cv::Point>& members : components.pixels) {
        for (const cv::Point& p : members)
            painted.ptr<uchar>(p.y)[p.x] = 255;
    }
    return painted;
}

// Paints the remaining components into dst; false, with dst unwritten, when none remains.
bool paintRemainingComponents(const EdgeComponents& components, cv::Size size, cv::Mat& dst)
{
    if (components.empty())
        return false;
    paintEdgeComponents(components, size).copyTo(dst);
    return true;
}

// Grey copy of a non-empty source: a clone of a one-channel source, otherwise the converted image.
bool greyCopy(cv::Mat& src, cv::Mat& grey)
{
    if (src.empty())
        return false;
    if (src.channels() == 1) {
        grey = src.clone();
        return true;
    }
    return tarvek::utils::getGrayImage(src, grey);
}

// Index of the component with the largest bounding-box area; the first of equals wins.
int largestBoxComponent(const EdgeComponents& components)
{
    int largest = 0;
    for (int i = 1; i < components.size(); ++i) {
        if (components.rects[i].area() > components.rects[largest].area())
            largest = i;
    }
    return largest;
}

// Canny edges of a plane after a 7-pixel median, with the fragments below a tenth of the image
// dropped (all edges when nothing would remain).
cv::Mat filteredPlaneEdges(const cv::Mat& plane)
{
    cv::Mat blurred, edges, filtered;
    cv::medianBlur(plane, blurred, 7);
    cv::Canny(blurred, edges, 20, 90, 3, false);
    if (!filterSmallEdge(edges, filtered, 10, false))
        filtered = edges.clone();
    return filtered;
}

// First grey level at which the running histogram count reaches 95 % of the changed pixels. Bin 0
// is counted although unchanged pixels are not part of the 95 %, which lowers the level on images
// with large flat areas.
int differenceThreshold(const cv::Mat& diff)
{
    cv::Mat hist;
    const int channels[] = {0};
    const int bins[] = {256};
    const float range[] = {0, 256};
    const float* ranges[] = {range};
    cv::calcHist(&diff, 1, channels, cv::Mat(), hist, 1, bins, ranges, true, false);
    const double target = cv::countNonZero(diff) * 0.95;
    int sum = 0;
    for (int t = 0; t < 256; ++t) {
        sum = static_cast<int>(static_cast<float>(sum) + hist.at<float>(t));
        if (sum >= target)
            return t;
    }
    return 0;
}

}  // namespace

bool equalizeHistForColor(cv::Mat& src, cv::Mat& dst)
{
    cv::Mat work;
    if (src.empty())
        return false;
    if (src.channels() == 3)
        work = src.clone();
    else if (!tarvek::utils::getColorImage(src, work))
        return false;
    cv::cvtColor(work, dst, cv::COLOR_BGR2YCrCb);
    std::vector<cv::Mat> planes;
    cv::split(dst, planes);
    cv::equalizeHist(planes[0], planes[0]);
    cv::merge(planes, dst);
    cv::cvtColor(dst, dst, cv::COLOR_YCrCb2BGR);
    return true;
}

bool removeCenterEdge(cv::Mat& img)
{
    if (img.empty())
        return false;
    const int x0 = static_cast<int>(img.cols * 0.3f);
    const int y0 = static_cast<int>(img.rows * 0.3f);
    img(cv::Rect(x0, y0, img.cols - 2 * x0, img.rows - 2 * y0)).setTo(cv::Scalar::all(0));
    return true;
}

bool filterSmallEdge(cv::Mat& src, cv::Mat& dst, int divisor, bool keepLargestOnly)
{
    if (src.empty() || !tarvek::utils::getGrayImage(src, src))
        return false;
    EdgeComponents components = labelEdgeComponents(src);
    if (components.empty())
        return false;
    if (keepLargestOnly) {
        int largest = 0;
        for (int i = 1; i < components.size(); ++i) {
            if (components.pixels[i].size() > components.pixels[largest].size())
                largest = i;
        }
        dropComponents(components, [&](int i) { return i != largest; });
    } else {
        // A zero divisor stands for an unbounded size, which no component reaches. A negative one
        // gives bounds of zero or less, which every component reaches.
        if (divisor == 0)
            return false;
        dropSmallComponents(components, src.cols / divisor, src.rows / divisor);
    }
    return paintRemainingComponents(components, src.size(), dst);
}

bool detectEdgeUsingCanny(cv::Mat& src, cv::Mat& dst)
{
    if (!dst.empty())
        dst.release();
    cv::Mat grey, blurred, edges;
    if (!greyCopy(src, grey))
        return false;
    cv::medianBlur(grey, blurred, 5);
    cv::Canny(blurred, edges, 30, 90, 3, false);

    EdgeComponents components = labelEdgeComponents(edges);
    if (components.empty())
        return false;
    // Content inside the outermost outline (text, pictures) is not a border candidate.
    const int largest = largestBoxComponent(components);
    const cv::Rect outline = components.rects[largest];
    dropComponents(components, [&](int i) {
        const cv::Rect& r = components.rects[i];
        return i != largest && outline.contains(r.tl()) && outline.contains(r.br());
    });
    if (components.empty())
        return false;
    dropSmallComponents(components, edges.cols / 5, edges.rows / 5);
    return paintRemainingComponents(components, edges.size(), dst);
}

bool detectEdgeUsingWatershedAndCanny(cv::Mat& src, cv::Mat& dst)
{
    if (!dst.empty())
        dst.release();
    cv::Mat grey, blurred, gradient;
    if (src.empty() || !tarvek::utils::getGrayImage(src, grey))
        return false;
    cv::GaussianBlur(grey, blurred, cv::Size(3, 3), 1.6, 0, cv::BORDER_DEFAULT);
    tarvek::imageprocessing::getGradientImage(blurred, gradient);

    // Background seed along the border, document seed around the centre.
    const int cols = gradient.cols;
    const int rows = gradient.rows;
    cv::Mat markers = cv::Mat::zeros(rows, cols, CV_32SC1);
    cv::rectangle(markers, cv::Point(1, 1), cv::Point(cols - 2, rows - 2), cv::Scalar(1), 1, 8, 0);
    cv::rectangle(markers, cv::Point(cols / 10 * 4, rows / 10 * 4), cv::Point(cols / 10 * 6, rows / 10 * 6),
                  cv::Scalar(2), 2, 8, 0);
    cv::Mat region;
    tarvek::imageprocessing::watershed(gradient, region, markers);
    // cv::watershed marks the image frame as boundary; it is no document border.
    cv::rectangle(region, cv::Point(0, 0), cv::Point(cols - 1, rows - 1), cv::Scalar(0), 2, 8, 0);

    cv::Mat edges;
    cv::Canny(grey, edges, 20, 90, 3, false);
    EdgeComponents components = labelEdgeComponents(edges);
    if (components.empty())
        return false;
    dropSmallComponents(components, edges.cols / 10, edges.rows / 10);
    if (components.empty())
        return false;
    cv::addWeighted(region, 1, paintEdgeComponents(components, edges.size()), 1, 0, dst);
    return true;
}

bool detectEdgeUsingCannyInHSV(cv::Mat& src, cv::Mat& dst)
{
    if (src.empty() || !tarvek::utils::getColorImage(src, src))
        return false;
    cv::Mat hsv;
    cv::cvtColor(src, hsv, cv::COLOR_BGR2HSV);
    std::vector<cv::Mat> planes;
    cv::split(hsv, planes);
    const cv::Mat hue = filteredPlaneEdges(planes[0]);
    const cv::Mat saturation = filteredPlaneEdges(planes[1]);
    const cv::Mat value = filteredPlaneEdges(planes[2]);

    cv::Mat combined = (saturation | value) | hue;
    cv::Mat filtered;
    if (!filterSmallEdge(combined, filtered, 5, false))
        filtered = combined.clone();
    dst = filtered.clone();
    return true;
}

bool detectEdgeUsingDOC(cv::Mat& src, cv::Mat& dst)
{
    if (!dst.empty())
        dst.release();
    cv::Mat grey;
    if (!greyCopy(src, grey))
        return false;
    cv::Mat small, large, diff;
    cv::GaussianBlur(grey, small, cv::Size(7, 7), 0, 0, cv::BORDER_DEFAULT);
    cv::GaussianBlur(grey, large, cv::Size(19, 19), 0, 0, cv::BORDER_DEFAULT);
    cv::absdiff(large, small, diff);

    cv::Mat bin, edges;
    cv::threshold(diff, bin, differenceThreshold(diff), 255, cv::THRESH_BINARY);
    cv::medianBlur(bin, bin, 7);
    cv::Canny(bin, edges, 20, 90, 3, false);
    dst = edges;
    return true;
}

// ---------------------------------------------------------------------------
// Hough line extraction, duplicate removal and side grouping
// ---------------------------------------------------------------------------

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

// Distance from an anchor point to the 2000-pixel segment of the line centred on the foot of its
// normal.
float anchorDistance(const cv::Vec2f& line, cv::Point anchor)
{
    const float rho = line[0];
    const float c = std::cos(line[1]);
    const float s = std::sin(line[1]);
    const int x1 = cvRound(rho * c - 1000 * s);
    const int y1 = cvRound(rho * s + 1000 * c);
    const int x2 = cvRound(rho * c + 1000 * s);
    const int y2 = cvRound(rho * s - 1000 * c);
    return static_cast<float>(minDistLineAndPoint(anchor.x, anchor.y, x1, y1, x2, y2));
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
