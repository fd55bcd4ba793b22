#include "utils.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include <opencv2/imgproc.hpp>

namespace tarvek {
namespace utils {

namespace {

// Truncation toward zero that stays defined for any double: out-of-range
// values clamp to the int limits and a NaN becomes 0.
int truncateToInt(double v) {
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (v <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(v);
}

}  // namespace

// ---------------------------------------------------------------------------
// Image conversions and measurements
// ---------------------------------------------------------------------------

bool getGrayImage(cv::Mat& src, cv::Mat& dst) {
    switch (src.channels()) {
    case 3:
        cv::cvtColor(src, dst, cv::COLOR_BGR2GRAY);
        return true;
    case 4:
        // Four-channel images come from RGBA sources, so channel 0 is red.
        cv::cvtColor(src, dst, cv::COLOR_RGBA2GRAY);
        return true;
    case 1:
        dst = src;
        return true;
    default:
        return false;
    }
}

bool getColorImage(cv::Mat& src, cv::Mat& dst) {
    switch (src.channels()) {
    case 3:
        dst = src;
        return true;
    case 4:
        cv::cvtColor(src, dst, cv::COLOR_RGBA2BGR);
        return true;
    case 1:
        cv::cvtColor(src, dst, cv::COLOR_GRAY2BGR);
        return true;
    default:
        return false;
    }
}

double calcDistance(cv::Point a, cv::Point b) {
    // Differences in 64 bits and squares in double, so that far-apart points
    // (e.g. crossings of nearly parallel lines) cannot overflow; whenever the
    // sum fits an int it is formed exactly, as integer arithmetic would.
    const double dx = static_cast<double>(std::int64_t{b.x} - a.x);
    const double dy = static_cast<double>(std::int64_t{b.y} - a.y);
    return std::sqrt(dx * dx + dy * dy);
}

double calcDistance2(cv::Point2f a, cv::Point2f b) {
    const float dx = b.x - a.x;
    const float dy = b.y - a.y;
    const float sum = dx * dx + dy * dy;
    return std::sqrt(static_cast<double>(sum));
}

int calcPolygonArea(std::vector<cv::Point2f>& pts) {
    const int n = static_cast<int>(pts.size());
    int sum = 0;
    // The accumulator is an int on purpose: every partial sum drops its
    // fraction, which the callers' area thresholds were tuned with.
    for (int i = 0, j = n - 1; i < n; j = i++) {
        const float term = (pts[j].x + pts[i].x) * (pts[j].y - pts[i].y);
        sum = truncateToInt(static_cast<float>(sum) + term);
    }
    return sum / 2;
}

namespace {

// Size with the longer side scaled to 640; the other side keeps the aspect
// ratio (integer division) but never drops below 2.
cv::Size reverseTestSize(const cv::Mat& gray) {
    const int longSide = 640;
    if (gray.rows < gray.cols)
        return cv::Size(longSide, std::max(2, gray.rows * longSide / gray.cols));
    return cv::Size(std::max(2, gray.cols * longSide / gray.rows), longSide);
}

}  // namespace

bool isReverse(cv::Mat& gray) {
    if (gray.empty())
        return false;
    cv::Mat small;
    cv::resize(gray, small, reverseTestSize(gray), 0, 0, cv::INTER_CUBIC);

    const int mx = cvRound(small.cols * 0.1f);
    const int my = cvRound(small.rows * 0.1f);
    cv::Mat crop = small(cv::Rect(mx, my, small.cols - 2 * mx - 1, small.rows - 2 * my - 1));

    cv::Mat background;
    cv::medianBlur(crop, background, 81);

    long strong = 0;
    long dark = 0;
    for (int y = 0; y < crop.rows; ++y) {
        const uchar* c = crop.ptr<uchar>(y);
        const uchar* m = background.ptr<uchar>(y);
        for (int x = 0; x < crop.cols; ++x) {
            const float diff = static_cast<float>(c[x]) - static_cast<float>(m[x]);
            if (std::fabs(diff) > 30.0f) {
                ++strong;
                if (c[x] < m[x])
                    ++dark;
            }
        }
    }
    // No strong pixel gives 0/0, a NaN ratio, and so false.
    const float ratio = static_cast<float>(static_cast<double>(dark) / static_cast<double>(strong));
    return ratio < 0.23f;
}

namespace {

inline uchar byteAt(int packed, int shift) {
    return static_cast<uchar>((static_cast<std::uint32_t>(packed) >> shift) & 0xFFu);
}

}  // namespace

void intToMat8U(int* pixels, cv::Mat& dst, int width, int height) {
    dst = cv::Mat(height, width, CV_8UC1);
    const int* p = pixels;
    for (int y = 0; y < height; ++y) {
        uchar* row = dst.ptr<uchar>(y);
        for (int x = 0; x < width; ++x, ++p)
            row[x] = static_cast<uchar>((byteAt(*p, 16) + byteAt(*p, 8) + byteAt(*p, 0)) / 3);
    }
}

void intToMat(int* pixels, cv::Mat& dst, int width, int height) {
    dst = cv::Mat(height, width, CV_8UC3);
    const int* p = pixels;
    for (int y = 0; y < height; ++y) {
        uchar* row = dst.ptr<uchar>(y);
        for (int x = 0; x < width; ++x, ++p) {
            row[3 * x] = byteAt(*p, 16);
            row[3 * x + 1] = byteAt(*p, 8);
            row[3 * x + 2] = byteAt(*p, 0);
        }
    }
}

void matToInt(cv::Mat& src, int* pixels) {
    int* p = pixels;
    for (int y = 0; y < src.rows; ++y) {
        const uchar* row = src.ptr<uchar>(y);
        for (int x = 0; x < src.cols; ++x, ++p) {
            const std::uint32_t packed = 0xFF000000u | std::uint32_t{row[3 * x]} << 16 |
                                         std::uint32_t{row[3 * x + 1]} << 8 | row[3 * x + 2];
            *p = static_cast<int>(packed);
        }
    }
}

// ---------------------------------------------------------------------------
// Connected components
// ---------------------------------------------------------------------------

namespace {

// Neighbour offsets in the order a region visits them. The order decides
// which pixel leaves the stack next, and so the order of the point lists.
// Right, left, below, above.
const cv::Point FOUR_NEIGHBOURS[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
// The row above and the row below, each left to right, then left and right.
const cv::Point EIGHT_NEIGHBOURS[] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 1},
                                      {0, 1},   {1, 1},  {-1, 0}, {1, 0}};

const uchar VISITED = 1;  // mark of getLabelRect
const int UNLABELLED = 255;  // pixels getLabelRect2 and getConnectedComponents2 label

// Grows the region of T pixels equal to sought around seed with an explicit
// stack, since a region may cover the whole image. Each pixel is overwritten
// with mark when pushed, so it is pushed once. A mark equal to sought (the
// growing would never end), a seed outside img or another pixel type marks
// nothing: empty rectangle, count 0. stack is working memory, passed in so
// that a scan over many regions reuses one buffer.
template <typename T, std::size_t N>
cv::Rect growRegion(cv::Mat& img, cv::Point seed, int sought, T mark,
                    const cv::Point (&neighbours)[N], std::vector<cv::Point>& stack, int* count,
                    std::vector<cv::Point>* points) {
    const cv::Rect bounds(0, 0, img.cols, img.rows);
    if (img.type() != cv::DataType<T>::type || sought == mark || !bounds.contains(seed)) {
        if (count != nullptr)
            *count = 0;
        return cv::Rect();
    }
    int n = 0;
    cv::Point lo = seed, hi = seed;
    stack.clear();
    stack.push_back(seed);
    img.ptr<T>(seed.y)[seed.x] = mark;
    while (!stack.empty()) {
        const cv::Point p = stack.back();
        stack.pop_back();
        ++n;
        if (points != nullptr)
            points->push_back(p);
        for (const cv::Point& offset : neighbours) {
            const cv::Point q = p + offset;
            if (!bounds.contains(q))
                continue;
            T& pixel = img.ptr<T>(q.y)[q.x];
            if (pixel != sought)
                continue;
            pixel = mark;
            stack.push_back(q);
            lo = cv::Point(std::min(lo.x, q.x), std::min(lo.y, q.y));
            hi = cv::Point(std::max(hi.x, q.x), std::max(hi.y, q.y));
        }
    }
    if (count != nullptr)
        *count = n;
    return cv::Rect(lo, hi + cv::Point(1, 1));
}

cv::Rect markRegion(cv::Mat& img, cv::Point seed, int value, bool eightConnected,
                    std::vector<cv::Point>& stack, int* count, std::vector<cv::Point>* points) {
    if (eightConnected)
        return growRegion(img, seed, value, VISITED, EIGHT_NEIGHBOURS, stack, count, points);
    return growRegion(img, seed, value, VISITED, FOUR_NEIGHBOURS, stack, count, points);
}

cv::Rect labelRegion(cv::Mat& labels, cv::Point seed, ushort label, std::vector<cv::Point>& stack,
                     int* count) {
    return growRegion(labels, seed, UNLABELLED, label, FOUR_NEIGHBOURS, stack, count, nullptr);
}

// The label after `label`: 255 marks unlabelled pixels and 0 background, so
// both are skipped when the 16-bit labels count up or wrap around.
ushort nextLabel(ushort label) {
    do
        ++label;
    while (label == UNLABELLED || label == 0);
    return label;
}

// Scans img (pixel type T) row by row and grows a region from every pixel
// still equal to target; grow(seed, stack, &count) marks the region, so that
// the scan skips its other pixels, and returns its rectangle.
template <typename T, typename Grow>
std::vector<ConnectedComponent> collectRegions(cv::Mat& img, int target, Grow grow) {
    std::vector<ConnectedComponent> components;
    std::vector<cv::Point> stack;
    for (int y = 0; y < img.rows; ++y) {
        const T* row = img.ptr<T>(y);
        for (int x = 0; x < img.cols; ++x) {
            if (row[x] != target)
                continue;
            int count = 0;
            const cv::Rect rect = grow(cv::Point(x, y), stack, &count);
            components.emplace_back(cv::Point(x, y), rect, count);
        }
    }
    return components;
}

}  // namespace

cv::Rect getLabelRect(cv::Mat& img, int x, int y, int* count, bool eightConnected, int value,
                      std::vector<cv::Point>* points) {
    std::vector<cv::Point> stack;
    return markRegion(img, cv::Point(x, y), value, eightConnected, stack, count, points);
}

cv::Rect getLabelRect(cv::Mat& img, int x, int y, int* count, int value,
                      std::vector<cv::Point>* points) {
    return getLabelRect(img, x, y, count, false, value, points);
}

cv::Rect getLabelRect2(cv::Mat& labels, int x, int y, int* count, short label) {
    std::vector<cv::Point> stack;
    return labelRegion(labels, cv::Point(x, y), static_cast<ushort>(label), stack, count);
}

std::vector<ConnectedComponent> getConnectedComponents(cv::Mat& img, bool white,
                                                       bool eightConnected) {
    if (img.type() != CV_8UC1)
        return {};
    const int target = white ? 255 : 0;
    cv::Mat work = img.clone();
    return collectRegions<uchar>(
        work, target, [&](cv::Point seed, std::vector<cv::Point>& stack, int* count) {
            return markRegion(work, seed, target, eightConnected, stack, count, nullptr);
        });
}

std::vector<ConnectedComponent> getConnectedComponents2(cv::Mat& img, cv::Mat& labels) {
    // A header of its own keeps img's pixels when the caller passes one
    // matrix as both arguments.
    cv::Mat source = img;
    labels.release();
    if (source.type() != CV_8UC1)
        return {};
    source.convertTo(labels, CV_16U, 1.0, 0.0);
    ushort label = 0;
    return collectRegions<ushort>(
        labels, UNLABELLED, [&](cv::Point seed, std::vector<cv::Point>& stack, int* count) {
            label = nextLabel(label);
            return labelRegion(labels, seed, label, stack, count);
        });
}

// ---------------------------------------------------------------------------
// Line fitting
// ---------------------------------------------------------------------------

namespace {

// (AᵀA)⁻¹·(Aᵀy); LU inversion yields zeros for a singular AᵀA, and so does
// an empty design matrix.
void solveLeastSquares(const cv::Mat& A, const cv::Mat& y, cv::Mat& out) {
    if (A.rows == 0) {
        out = cv::Mat::zeros(A.cols, 1, CV_64F);
        return;
    }
    const cv::Mat At = A.t();
    out = (At * A).inv(cv::DECOMP_LU) * (At * y);
}

// Design matrix with rows (x, 1) and right side y of the line y = a·x + b.
void lineSystem(const std::vector<cv::Point>& pts, cv::Mat& A, cv::Mat& y) {
    const int n = static_cast<int>(pts.size());
    A.create(n, 2, CV_64F);
    y.create(n, 1, CV_64F);
    for (int i = 0; i < n; ++i) {
        double* row = A.ptr<double>(i);
        row[0] = pts[i].x;
        row[1] = 1.0;
        y.at<double>(i) = pts[i].y;
    }
}

}  // namespace

void doLSM2D_1(std::vector<cv::Point>& pts, cv::Mat& out) {
    cv::Mat A, y;
    lineSystem(pts, A, y);
    solveLeastSquares(A, y, out);
}

void doLSM2D_2(std::vector<cv::Point>& pts, cv::Mat& out) {
    const int n = static_cast<int>(pts.size());
    cv::Mat A(n, 3, CV_64F);
    cv::Mat y(n, 1, CV_64F);
    for (int i = 0; i < n; ++i) {
        const std::int64_t x = pts[i].x;
        double* row = A.ptr<double>(i);
        // Squared in 64 bits: a 32-bit square would overflow from |x| = 46341.
        row[0] = static_cast<double>(x * x);
        row[1] = static_cast<double>(x);
        row[2] = 1.0;
        y.at<double>(i) = pts[i].y;
    }
    solveLeastSquares(A, y, out);
}

void doLSM3D_1(std::vector<cv::Point>& pts, std::vector<int>& z, cv::Mat& out) {
    const int n = static_cast<int>(std::min(pts.size(), z.size()));
    cv::Mat A(n, 3, CV_64F);
    cv::Mat rhs(n, 1, CV_64F);
    for (int i = 0; i < n; ++i) {
        double* row = A.ptr<double>(i);
        row[0] = pts[i].x;
        row[1] = pts[i].y;
        row[2] = 1.0;
        rhs.at<double>(i) = z[i];
    }
    solveLeastSquares(A, rhs, out);
}

int ransacIterationCount(double confidence, double inlierRatio, int sampleSize) {
    return truncateToInt(std::log(1.0 - confidence) /
                             std::log(1.0 - std::pow(inlierRatio, sampleSize)) +
                         1.0);
}

std::vector<cv::Point> getData(cv::Mat& img) {
    std::vector<cv::Point> pts;
    for (int y = 0; y < img.rows; ++y) {
        const uchar* row = img.ptr<uchar>(y);
        for (int x = 0; x < img.cols; ++x)
            if (row[x] == 255)
                pts.emplace_back(x, y);
    }
    return pts;
}

bool isDuplicateData(std::vector<cv::Point>& pts, cv::Point p) {
    return std::find(pts.begin(), pts.end(), p) != pts.end();
}

void getRandomSample(std::vector<cv::Point>& data, std::vector<cv::Point>& drawn,
                     std::vector<cv::Point>& samples, int count) {
    if (data.empty())
        return;
    if (static_cast<int>(samples.size()) < count)
        samples.resize(count);
    int stored = 0;
    while (stored < count) {
        const cv::Point& p = data[static_cast<std::size_t>(std::rand()) % data.size()];
        if (isDuplicateData(drawn, p))
            continue;
        samples[stored++] = p;
        drawn.push_back(p);
    }
}

void computeModelParameter(std::vector<cv::Point>& pts, int count, cv::Vec4f& model) {
    const int n = std::min(count, static_cast<int>(pts.size()));
    if (n <= 0)
        return;
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (int i = 0; i < n; ++i) {
        const double x = pts[i].x;
        const double y = pts[i].y;
        sx += x;
        sy += y;
        sxx += x * x;
        syy += y * y;
        sxy += x * y;
    }
    const double vxx = (sxx - sx * sx / n) / n;
    const double vyy = (syy - sy * sy / n) / n;
    const double vxy = (sxy - sx * sy / n) / n;
    // Direction of the principal axis of the point cloud.
    const double phi = std::atan2(2.0 * vxy, vxx - vyy) / 2.0;
    model = cv::Vec4f(static_cast<float>(std::cos(phi)), static_cast<float>(std::sin(phi)),
                      static_cast<float>(sx / n), static_cast<float>(sy / n));
}

float computeDistance(cv::Vec4f& model, cv::Point& p) {
    const float dx = model[0], dy = model[1], cx = model[2], cy = model[3];
    const float x = static_cast<float>(p.x), y = static_cast<float>(p.y);
    return std::fabs((x - cx) * dy - (y - cy) * dx) / std::sqrt(dx * dx + dy * dy);
}

double modelVerification(std::vector<cv::Point>* inliers, int* count, cv::Vec4f& model,
                         std::vector<cv::Point>& data, int n, double threshold) {
    *count = 0;
    double cost = 0.0;
    const int limit = std::min(n, static_cast<int>(data.size()));
    for (int i = 0; i < limit; ++i) {
        const float distance = computeDistance(model, data[i]);
        // Written as a negated "closer than" so that a NaN distance (a model
        // without direction) is no inlier.
        if (!(distance < threshold))
            continue;
        if (*count < static_cast<int>(inliers->size()))
            (*inliers)[*count] = data[i];
        ++*count;
        cost += distance;
    }
    return cost;
}

cv::Point getCrossPoint(double a1, double b1, double a2, double b2) {
    const int x = truncateToInt((b2 - b1) / (a1 - a2));
    const int y = truncateToInt(x * a1 + b1);
    return cv::Point(x, y);
}

double calcDistanceToLine(double a, double b, double c, cv::Point p) {
    return std::fabs(a * p.x + b * p.y + c) / std::sqrt(a * a + b * b);
}

int selectLine(std::vector<cv::Point>& pts, std::vector<cv::Vec2f>& lines, cv::Point offset,
               cv::Vec4i& out) {
    if (lines.empty()) {
        out = cv::Vec4i(0, 0, 0, 0);
        return INT_MIN;
    }
    std::size_t best = 0;
    double bestScore = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const double rho = lines[k][0];
        const double theta = lines[k][1];
        const double c = std::cos(theta), s = std::sin(theta);
        double score = 0.0;
        for (const cv::Point& p : pts)
            score += calcDistanceToLine(c, s, -rho, p);
        // Strictly smaller: of equal scores the earlier (stronger) line stays.
        if (k == 0 || score < bestScore) {
            best = k;
            bestScore = score;
        }
    }
    const double rho = lines[best][0];
    const double theta = lines[best][1];
    const double c = std::cos(theta), s = std::sin(theta);
    const double x0 = offset.x + rho * c;
    const double y0 = offset.y + rho * s;
    out = cv::Vec4i(cvRound(x0 - 1000 * s), cvRound(y0 + 1000 * c), cvRound(x0 + 1000 * s),
                    cvRound(y0 - 1000 * c));
    return truncateToInt(bestScore);
}

namespace {

// Best RANSAC line through the 255-pixels of one band, appended as a
// 1000-pixel segment around their centroid, shifted by the band's corner.
// A band with fewer than two edge pixels cannot supply a sample of two
// distinct points and adds nothing.
void appendBandLine(cv::Mat band, cv::Point offset, std::vector<cv::Vec4i>& lines) {
    std::vector<cv::Point> pts = getData(band);
    const int n = static_cast<int>(pts.size());
    if (n < 2)
        return;

    std::vector<cv::Point> inliers(n);
    std::vector<cv::Point> samples(2);
    std::vector<cv::Point> drawn;
    // 99 % confidence at an inlier ratio of 0.5, tripled for safety.
    const int iterations = ransacIterationCount(0.99, 0.5, 2) * 3;
    const double threshold = 1.0;

    int bestCount = 0;
    double bestCost = std::numeric_limits<double>::infinity();
    cv::Vec4f best;
    for (int it = 0; it < iterations; ++it) {
        drawn.clear();
        getRandomSample(pts, drawn, samples, 2);
        cv::Vec4f model;
        computeModelParameter(samples, 2, model);
        int count = 0;
        const double cost = modelVerification(&inliers, &count, model, pts, n, threshold);
        if (count > bestCount || (count == bestCount && cost < bestCost)) {
            bestCount = count;
            bestCost = cost;
            computeModelParameter(inliers, count, best);
        }
    }

    const float dx = best[0], dy = best[1], cx = best[2], cy = best[3];
    lines.emplace_back(static_cast<int>(cx - 500.0f * dx) + offset.x,
                       static_cast<int>(cy - 500.0f * dy) + offset.y,
                       static_cast<int>(cx + 500.0f * dx) + offset.x,
                       static_cast<int>(cy + 500.0f * dy) + offset.y);
}

}  // namespace

void detectLineUsingRANSAC(cv::Mat& edges, std::vector<cv::Vec4i>* lines) {
    // Left, right, top and bottom bands of a 320×240 edge image; the heights
    // stop one row short of 240 and 60.
    detectLineUsingRANSAC3(edges,
                           {cv::Rect(0, 0, 80, 239), cv::Rect(240, 0, 80, 239),
                            cv::Rect(0, 0, 320, 59), cv::Rect(0, 180, 320, 59)},
                           lines);
}

void detectLineUsingRANSAC3(cv::Mat& edges, std::vector<cv::Rect> bands,
                            std::vector<cv::Vec4i>* lines) {
    if (lines == nullptr || bands.size() != 4)
        return;
    for (const cv::Rect& band : bands)
        appendBandLine(edges(band), band.tl(), *lines);
}

void detectLineUsingRANSAC4(cv::Mat& image, std::vector<cv::Rect> bands,
                            std::vector<cv::Vec4i>* lines) {
    if (lines == nullptr || bands.size() != 4)
        return;
    struct Step {
        int band;  // index into bands (left, right, top, bottom)
        int dx, dy;
        int houghThreshold;
    };
    static const Step steps[] = {{2, 0, 1, 60}, {3, 0, 1, 60}, {0, 1, 0, 40}, {1, 1, 0, 40}};
    const int maxScore = 6499;

    for (const Step& step : steps) {
        const cv::Rect& band = bands[step.band];
        // 8-bit gradient: falling edges clip to 0, strong rising ones to 255.
        cv::Mat gradient;
        cv::Sobel(image(band), gradient, CV_8U, step.dx, step.dy, 3, 1, 0, cv::BORDER_DEFAULT);
        std::vector<cv::Vec2f> polar;
        cv::HoughLines(gradient, polar, 1, CV_PI / 180, step.houghThreshold, 0, 0, 0, CV_PI);
        std::vector<cv::Point> pts = getData(gradient);
        cv::Vec4i segment;
        const int score = selectLine(pts, polar, band.tl(), segment);
        if (score > maxScore || (segment[1] == 0 && segment[3] == 0))
            return;
        lines->push_back(segment);
    }
}

namespace {

// Whether pts holds at least `needed` distinct points.
bool hasDistinctPoints(const std::vector<cv::Point>& pts, int needed) {
    if (static_cast<int>(pts.size()) < needed)
        return false;
    std::vector<cv::Point> sorted(pts);
    std::sort(sorted.begin(), sorted.end(), [](const cv::Point& l, const cv::Point& r) {
        return l.x != r.x ? l.x < r.x : l.y < r.y;
    });
    return std::unique(sorted.begin(), sorted.end()) - sorted.begin() >= needed;
}

}  // namespace

void detectLineUsingRANSAC2(std::vector<cv::Point>& pts, double& a, double& b, int sampleSize,
                            int threshold) {
    if (sampleSize < 1 || !hasDistinctPoints(pts, sampleSize))
        return;

    cv::Mat A, y;
    lineSystem(pts, A, y);
    auto residuals = [&](const cv::Mat& model) -> cv::Mat { return cv::abs(A * model - y); };

    const int iterations = ransacIterationCount(0.99, 0.8, sampleSize);
    cv::Mat best;
    int bestCount = 0;
    for (int it = 0; it < iterations; ++it) {
        std::vector<cv::Point> sample(sampleSize);
        std::vector<cv::Point> drawn;
        getRandomSample(pts, drawn, sample, sampleSize);
        cv::Mat model;
        doLSM2D_1(sample, model);
        const int count = cv::countNonZero(residuals(model) < threshold);
        if (count > bestCount) {
            best = model;
            bestCount = count;
        }
    }
    if (bestCount == 0)
        return;

    const cv::Mat r = residuals(best);
    std::vector<cv::Point> inliers;
    inliers.reserve(bestCount);
    for (int i = 0; i < static_cast<int>(pts.size()); ++i)
        if (r.at<double>(i) < threshold)
            inliers.push_back(pts[i]);
    cv::Mat fit;
    doLSM2D_1(inliers, fit);
    a = fit.at<double>(0);
    b = fit.at<double>(1);
}

}  // namespace utils
}  // namespace tarvek
