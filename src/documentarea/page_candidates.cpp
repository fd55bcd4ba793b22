// Candidates of the page search: outlines of edge chains and of regions in a
// tone of the reduced photo, each reduced to a quadrangle, and quadrangles of
// long straight lines.
#include "documentarea/page_search.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include <opencv2/imgproc.hpp>

namespace tarvek::documentarea::pagesearch {
namespace {

using Polygon = std::vector<cv::Point>;

// Smallest share of the reduced photo that a candidate outline covers: half the least a page
// photographed on purpose covers, so that notes, cards and buttons beside it do not count.
constexpr double minAreaShare = 0.04;

// Whether the segment a–b runs along one border of a photo of that size.
bool alongTheBorder(cv::Point a, cv::Point b, cv::Size size)
{
    constexpr int margin = 2;
    const int right = size.width - 1 - margin, bottom = size.height - 1 - margin;
    return (a.x <= margin && b.x <= margin) || (a.y <= margin && b.y <= margin) ||
           (a.x >= right && b.x >= right) || (a.y >= bottom && b.y >= bottom);
}

// Where the line through a1, a2 meets the line through b1, b2; nothing for (nearly) parallel lines.
std::optional<cv::Point2f> crossing(cv::Point2f a1, cv::Point2f a2, cv::Point2f b1, cv::Point2f b2)
{
    const cv::Point2f da = a2 - a1, db = b2 - b1;
    const double denominator = static_cast<double>(da.x) * db.y - static_cast<double>(da.y) * db.x;
    if (std::abs(denominator) < 1e-6 * cv::norm(da) * cv::norm(db))
        return std::nullopt;
    const cv::Point2f d = b1 - a1;
    const double t = (static_cast<double>(d.x) * db.y - static_cast<double>(d.y) * db.x) / denominator;
    return cv::Point2f(static_cast<float>(a1.x + t * da.x), static_cast<float>(a1.y + t * da.y));
}

// A side of a polygon: from its point `from` to the next, and its length.
struct PolygonSide {
    size_t from;
    double length;
};

// The quadrangle of four sides of the polygon, taken in their order around it, with corners
// where they meet: cut corners and the parts beyond the photo's border are restored.
std::optional<Quadrangle> quadrangleOfSides(const Polygon& polygon, std::vector<PolygonSide> sides)
{
    std::sort(sides.begin(), sides.end(), [](const PolygonSide& a, const PolygonSide& b) { return a.from < b.from; });
    const size_t n = polygon.size();
    Quadrangle q;
    for (size_t k = 0; k < 4; ++k) {
        const PolygonSide& s = sides[k];
        const PolygonSide& t = sides[(k + 1) % 4];
        const auto corner = crossing(polygon[s.from], polygon[(s.from + 1) % n], polygon[t.from],
                                     polygon[(t.from + 1) % n]);
        if (!corner)
            return std::nullopt;
        q[k] = *corner;
    }
    return inCornerOrder(q);
}

// Quadrangles of a convex polygon: its four longest sides that do not run along the photo's
// border, and, for a page with one side beyond the border, its three longest such sides with the
// longest one along the border.
void addLongestSides(const Polygon& polygon, cv::Size size, std::vector<Quadrangle>& out)
{
    std::vector<PolygonSide> sides, border;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const cv::Point a = polygon[i], b = polygon[(i + 1) % polygon.size()];
        (alongTheBorder(a, b, size) ? border : sides).push_back({i, cv::norm(b - a)});
    }
    const auto longer = [](const PolygonSide& a, const PolygonSide& b) { return a.length > b.length; };
    std::sort(sides.begin(), sides.end(), longer);
    std::vector<std::vector<PolygonSide>> choices;
    if (sides.size() >= 4)
        choices.emplace_back(sides.begin(), sides.begin() + 4);
    if (sides.size() >= 3 && !border.empty()) {
        choices.emplace_back(sides.begin(), sides.begin() + 3);
        choices.back().push_back(*std::min_element(border.begin(), border.end(), longer));
    }
    for (const auto& choice : choices) {
        const auto q = quadrangleOfSides(polygon, choice);
        if (q && plausibleShape(*q))
            out.push_back(*q);
    }
}

// Quadrangles of the convex outline of a contour at three simplification tolerances.
void addOutlineCandidates(const Polygon& contour, cv::Size size, std::vector<Quadrangle>& out)
{
    const double minArea = minAreaShare * size.area();
    if (cv::boundingRect(contour).area() < minArea)
        return;
    Polygon hull;
    cv::convexHull(contour, hull);
    if (cv::contourArea(hull) < minArea)
        return;
    const double perimeter = cv::arcLength(hull, true);
    for (const double tolerance : {0.01, 0.02, 0.04}) {
        Polygon simplified;
        cv::approxPolyDP(hull, simplified, tolerance * perimeter, true);
        addLongestSides(simplified, size, out);
    }
}

void addContourCandidates(const cv::Mat& binary, int mode, std::vector<Quadrangle>& out)
{
    std::vector<Polygon> contours;
    cv::findContours(binary, contours, mode, cv::CHAIN_APPROX_SIMPLE);
    for (const Polygon& contour : contours)
        addOutlineCandidates(contour, binary.size(), out);
}

// Closed chains of Canny edges; the dilation bridges the gaps that blur and noise leave.
void addEdgeCandidates(const cv::Mat& blurred, std::vector<Quadrangle>& out)
{
    const cv::Mat bridge = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
    for (const double high : {30.0, 90.0}) {
        cv::Mat edges;
        cv::Canny(blurred, edges, high / 3, high);
        cv::dilate(edges, edges, bridge);
        addContourCandidates(edges, cv::RETR_LIST, out);
    }
}

// Mean grey of the histogram's bins from..to-1; fallback when they hold nothing.
double meanGrey(const cv::Mat& histogram, int from, int to, double fallback)
{
    double count = 0, sum = 0;
    for (int g = from; g < to; ++g) {
        const float n = histogram.at<float>(g);
        count += n;
        sum += n * g;
    }
    return count > 0 ? sum / count : fallback;
}

// Regions brighter and darker than Otsu's threshold and than thresholds halfway to the mean of
// either class; the opening cuts thin bridges (cables, pens, shadows' tails) between regions.
void addRegionCandidates(const cv::Mat& blurred, std::vector<Quadrangle>& out)
{
    cv::Mat ignored;
    const double otsu = cv::threshold(blurred, ignored, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    cv::Mat histogram;
    const int channels[] = {0}, bins[] = {256};
    const float range[] = {0, 256};
    const float* ranges[] = {range};
    cv::calcHist(&blurred, 1, channels, cv::Mat(), histogram, 1, bins, ranges);
    const int split = static_cast<int>(otsu) + 1;
    const double darkMean = meanGrey(histogram, 0, split, otsu), brightMean = meanGrey(histogram, split, 256, otsu);
    const cv::Mat opening = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(5, 5));
    for (const double level : {otsu, (otsu + darkMean) / 2, (otsu + brightMean) / 2}) {
        for (const int polarity : {cv::THRESH_BINARY, cv::THRESH_BINARY_INV}) {
            cv::Mat region;
            cv::threshold(blurred, region, level, 255, polarity);
            cv::morphologyEx(region, region, cv::MORPH_OPEN, opening);
            addContourCandidates(region, cv::RETR_EXTERNAL, out);
        }
    }
}

// A straight line gathered from collinear line segments.
struct GatheredLine {
    cv::Point2f point, direction;          // direction of unit length
    std::vector<std::pair<float, float>> spans;  // the segments, as positions along the direction
    double length = 0;                     // their total length

    float position(cv::Point2f p) const { return (p - point).dot(direction); }
    double distance(cv::Point2f p) const { return std::abs((p - point).cross(direction)); }

    // Share of the stretch from a to b that the segments cover.
    double coverage(cv::Point2f a, cv::Point2f b) const
    {
        const float from = std::min(position(a), position(b)), to = std::max(position(a), position(b));
        double covered = 0;
        for (const auto& [start, end] : spans)
            covered += std::max(0.0f, std::min(end, to) - std::max(start, from));
        return covered / std::max(to - from, 1.0f);
    }
};

// Line segments of the photo (OpenCV's line segment detector, on a copy it halves itself: the
// page's sides are long, and half the pixels cost half the time) gathered into lines: a segment
// joins a line when it runs within 2 degrees of it and both its ends lie within 1.5 pixels of
// it. The longest lines.
std::vector<GatheredLine> gatheredLines(const cv::Mat& blurred)
{
    constexpr size_t kept = 30;
    const float minSegment = 0.03f * std::min(blurred.cols, blurred.rows);
    std::vector<cv::Vec4f> segments;
    cv::createLineSegmentDetector(cv::LSD_REFINE_NONE, 0.5)->detect(blurred, segments);
    const auto length = [](const cv::Vec4f& s) { return std::hypot(s[2] - s[0], s[3] - s[1]); };
    std::sort(segments.begin(), segments.end(),
              [&](const cv::Vec4f& a, const cv::Vec4f& b) { return length(a) > length(b); });
    const double maxTurn = std::sin(2 * CV_PI / 180);
    std::vector<GatheredLine> lines;
    for (const cv::Vec4f& s : segments) {
        const float l = length(s);
        if (l < minSegment)
            break;
        const cv::Point2f a(s[0], s[1]), b(s[2], s[3]), direction = (b - a) / l;
        auto line = std::find_if(lines.begin(), lines.end(), [&](const GatheredLine& g) {
            return std::abs(g.direction.cross(direction)) < maxTurn && g.distance(a) < 1.5 && g.distance(b) < 1.5;
        });
        if (line == lines.end()) {
            lines.push_back({(a + b) * 0.5f, direction, {}, 0});
            line = lines.end() - 1;
        }
        const float p = line->position(a), q = line->position(b);
        line->spans.emplace_back(std::min(p, q), std::max(p, q));
        line->length += l;
    }
    std::sort(lines.begin(), lines.end(), [](const GatheredLine& a, const GatheredLine& b) { return a.length > b.length; });
    if (lines.size() > kept)
        lines.resize(kept);
    return lines;
}

double cross(cv::Point2f a, cv::Point2f b) { return static_cast<double>(a.x) * b.y - static_cast<double>(a.y) * b.x; }

double angleDegrees(cv::Point2f a, cv::Point2f b)
{
    return std::atan2(std::abs(cross(a, b)), static_cast<double>(a.dot(b))) * 180 / CV_PI;
}

// Quadrangles of two pairs of gathered lines, each pair nearly parallel (as opposite sides in
// perspective are) and crossing the other pair steeply, whose segments cover every side well: the
// outline even where clutter crosses it and no contour closes around the page.
void addLineCandidates(const cv::Mat& blurred, std::vector<Quadrangle>& out)
{
    constexpr size_t kept = 12;
    const std::vector<GatheredLine> lines = gatheredLines(blurred);
    const double minGap = 0.1 * std::min(blurred.cols, blurred.rows);
    const double maxOpposite = std::sin(40 * CV_PI / 180), minCrossing = std::sin(30 * CV_PI / 180);
    std::vector<std::pair<size_t, size_t>> opposite;
    for (size_t i = 0; i < lines.size(); ++i)
        for (size_t j = i + 1; j < lines.size(); ++j)
            if (std::abs(lines[i].direction.cross(lines[j].direction)) < maxOpposite &&
                lines[i].distance(lines[j].point) > minGap)
                opposite.emplace_back(i, j);
    const auto steep = [&](size_t i, size_t j) {
        return std::abs(lines[i].direction.cross(lines[j].direction)) > minCrossing;
    };
    std::vector<std::pair<double, Quadrangle>> scored;
    for (size_t p = 0; p < opposite.size(); ++p)
        for (size_t q = p + 1; q < opposite.size(); ++q) {
            const auto [a, c] = opposite[p];
            const auto [b, d] = opposite[q];
            if (!steep(a, b) || !steep(a, d) || !steep(c, b) || !steep(c, d))
                continue;
            const std::array<size_t, 4> cycle = {a, b, c, d};
            Quadrangle corners;
            bool crossed = true;
            for (size_t k = 0; k < 4 && crossed; ++k) {
                const GatheredLine& s = lines[cycle[k]];
                const GatheredLine& t = lines[cycle[(k + 1) % 4]];
                const auto corner = crossing(s.point, s.point + s.direction, t.point, t.point + t.direction);
                crossed = corner.has_value();
                if (corner)
                    corners[k] = *corner;
            }
            if (!crossed || !plausibleShape(corners))
                continue;
            double weakest = 1, total = 0;
            for (size_t k = 0; k < 4; ++k) {
                const double covered = lines[cycle[k]].coverage(corners[(k + 3) % 4], corners[k]);
                weakest = std::min(weakest, covered);
                total += covered;
            }
            if (weakest > 0.25)
                scored.emplace_back(total * weakest, inCornerOrder(corners));
        }
    const size_t count = std::min(kept, scored.size());
    std::partial_sort(scored.begin(), scored.begin() + count, scored.end(),
                      [](const auto& x, const auto& y) { return x.first > y.first; });
    for (size_t k = 0; k < count; ++k)
        if (cv::contourArea(std::vector<cv::Point2f>(scored[k].second.begin(), scored[k].second.end())) >=
            minAreaShare * blurred.size().area())
            out.push_back(scored[k].second);
}

}  // namespace

Quadrangle inCornerOrder(Quadrangle corners)
{
    const cv::Point2f centre = (corners[0] + corners[1] + corners[2] + corners[3]) * 0.25f;
    const auto angle = [&](const cv::Point2f& p) { return std::atan2(p.y - centre.y, p.x - centre.x); };
    std::sort(corners.begin(), corners.end(),
              [&](const cv::Point2f& a, const cv::Point2f& b) { return angle(a) < angle(b); });
    const auto topLeft = std::min_element(corners.begin(), corners.end(), [](const cv::Point2f& a, const cv::Point2f& b) {
        return std::make_pair(a.x + a.y, a.y) < std::make_pair(b.x + b.y, b.y);
    });
    std::rotate(corners.begin(), topLeft, corners.end());
    return corners;
}

bool plausibleShape(const Quadrangle& q)
{
    int turns = 0;
    for (int k = 0; k < 4; ++k) {
        const cv::Point2f in = q[k] - q[(k + 3) % 4], out = q[(k + 1) % 4] - q[k];
        const double angle = angleDegrees(-in, out);
        if (!(angle > 25 && angle < 155))
            return false;
        turns += cross(in, out) > 0 ? 1 : -1;
    }
    if (std::abs(turns) != 4)
        return false;
    for (int k = 0; k < 2; ++k) {
        const double a = cv::norm(q[k + 1] - q[k]), b = cv::norm(q[(k + 3) % 4] - q[k + 2]);
        if (std::max(a, b) > 4 * std::min(a, b))
            return false;
    }
    return true;
}

std::vector<Quadrangle> candidateQuadrangles(const cv::Mat& values)
{
    cv::Mat blurred;
    cv::GaussianBlur(values, blurred, cv::Size(5, 5), 0);
    std::vector<Quadrangle> candidates;
    addEdgeCandidates(blurred, candidates);
    addRegionCandidates(blurred, candidates);
    addLineCandidates(blurred, candidates);
    return candidates;
}

}  // namespace tarvek::documentarea::pagesearch
