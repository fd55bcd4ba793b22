#include "binarization.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "binarization_internal.h"
#include "utils.h"

namespace {

// 8-bit grey view of src (src itself when it has one channel), or false for
// an empty source or one that is not 8-bit with 1, 3 or 4 channels.
bool getGray8U(cv::Mat& src, cv::Mat& grey) {
    if (src.empty() || src.depth() != CV_8U)
        return false;
    return tarvek::utils::getGrayImage(src, grey);
}

}  // namespace

// ---------------------------------------------------------------------------
// Block-wise Otsu
// ---------------------------------------------------------------------------

int getOtsuThreshold(cv::Mat& grey, int x, int y, int size, int* variance) {
    if (grey.type() != CV_8UC1 || x < 0 || y < 0 || x >= grey.cols || y >= grey.rows || size < 1)
        return -1;
    const int right = x + std::min(size, grey.cols - x);
    const int bottom = y + std::min(size, grey.rows - y);

    // 32-bit counts: the same as 16-bit ones up to 255 × 255 blocks, and
    // larger blocks cannot overflow them.
    std::uint32_t histogram[256] = {};
    for (int r = y; r < bottom; ++r) {
        const uchar* row = grey.ptr<uchar>(r);
        for (int c = x; c < right; ++c)
            ++histogram[row[c]];
    }
    const std::int64_t n = std::int64_t{right - x} * (bottom - y);
    double moment = 0.0;
    for (int v = 0; v < 256; ++v)
        moment += static_cast<double>(v) * histogram[v];

    std::int64_t w0 = 0;
    double m0 = 0.0;
    double best = 0.0;
    int threshold = 0;
    for (int v = 0; v < 256; ++v) {
        w0 += histogram[v];
        if (w0 == 0)
            continue;
        if (w0 == n)
            break;
        m0 += static_cast<double>(v) * histogram[v];
        const double mu0 = m0 / static_cast<double>(w0);
        const double mu1 = (moment - m0) / static_cast<double>(n - w0);
        const double p0 = static_cast<double>(w0) / static_cast<double>(n);
        const double p1 = static_cast<double>(n - w0) / static_cast<double>(n);
        const double sigma = p0 * p1 * (mu0 - mu1) * (mu0 - mu1);
        // Strictly greater: of equal variances the lower threshold stays.
        if (sigma > best) {
            best = sigma;
            threshold = v;
        }
    }
    if (variance != nullptr)
        *variance = static_cast<int>(best);
    return threshold;
}

int areaBinarization(cv::Mat& grey, cv::Mat& dst, int left, int top, int right, int bottom,
                     int threshold) {
    if (grey.type() != CV_8UC1 || dst.type() != CV_8UC1 || dst.size() != grey.size())
        return 0;
    right = std::min(right, grey.cols);
    bottom = std::min(bottom, grey.rows);
    left = std::max(left, 0);
    top = std::max(top, 0);

    // The bands that count as touching are two pixels wide at the left and
    // top but one pixel at the right and bottom.
    int touches = 0;
    for (int r = top; r < bottom; ++r) {
        const uchar* g = grey.ptr<uchar>(r);
        uchar* d = dst.ptr<uchar>(r);
        for (int c = left; c < right; ++c) {
            if (g[c] >= threshold) {
                d[c] = 255;
                continue;
            }
            d[c] = 0;
            if (c < left + 2)
                touches |= TOUCHES_LEFT;
            if (c > right - 2)
                touches |= TOUCHES_RIGHT;
            if (r < top + 2)
                touches |= TOUCHES_TOP;
            if (r > bottom - 2)
                touches |= TOUCHES_BOTTOM;
        }
    }
    return touches;
}

namespace {

// Between-class variance a block's histogram must exceed (after truncation)
// to count as two-sided and get a threshold of its own.
const int MIN_BLOCK_VARIANCE = 80;

bool hasAll(uchar flags, int bits) {
    return (flags & bits) == bits;
}

// Blocks of size s needed to cover n pixels, the last one possibly partial.
int blockCount(int n, int s) {
    return n / s + (n % s > 0 ? 1 : 0);
}

// The block pass of adaptiveOtsu over dst, which starts all white. Blocks
// are visited in raster order, so the flags of the blocks above and to the
// left are final when a block looks at them.
class BlockOtsu {
public:
    BlockOtsu(cv::Mat& grey, cv::Mat& dst, int size)
        : grey(grey), dst(dst), size(size), half(size / 2),
          flags(cv::Mat::zeros(blockCount(grey.rows, size), blockCount(grey.cols, size), CV_8U)),
          thresholds(cv::Mat::zeros(flags.size(), CV_8U)) {}

    void run() {
        for (int i = 0; i < flags.rows; ++i) {
            uchar* flagRow = flags.ptr<uchar>(i);
            uchar* thresholdRow = thresholds.ptr<uchar>(i);
            for (int j = 0; j < flags.cols; ++j) {
                int variance = 0;
                const int t = getOtsuThreshold(grey, j * size, i * size, size, &variance);
                const bool own = variance > MIN_BLOCK_VARIANCE;
                // A block without a threshold stores -1, which reads back as 255.
                thresholdRow[j] = static_cast<uchar>(own ? t : -1);
                flagRow[j] = static_cast<uchar>(own ? binarizeWithOwnThreshold(i, j, t)
                                                    : binarizeWithBorrowedThreshold(i, j));
            }
        }
    }

private:
    uchar flagAt(int i, int j) const { return flags.ptr<uchar>(i)[j]; }
    int thresholdAt(int i, int j) const { return thresholds.ptr<uchar>(i)[j]; }

    // Thresholds the rectangle x0 ≤ x < x1, y0 ≤ y < y1 (clipped to the image).
    int binarize(int x0, int y0, int x1, int y1, int t) {
        return areaBinarization(grey, dst, x0, y0, x1, y1, t);
    }

    // Thresholds block (i, j) with t and lets its dark content spill into
    // the nearer half of threshold-less neighbours it touches: left, above,
    // and above-left when that one has no flag at all. Only the block's own
    // touch bits are kept.
    int binarizeWithOwnThreshold(int i, int j, int t) {
        const int x0 = j * size, y0 = i * size, x1 = x0 + size, y1 = y0 + size;
        const int f = OWN_THRESHOLD | binarize(x0, y0, x1, y1, t);
        if (j > 0 && (f & TOUCHES_LEFT) && !(flagAt(i, j - 1) & OWN_THRESHOLD))
            binarize(x0 - half, y0, x0, y1, t);
        if (i > 0 && (f & TOUCHES_TOP) && !(flagAt(i - 1, j) & OWN_THRESHOLD))
            binarize(x0, y0 - half, x1, y0, t);
        if (i > 0 && j > 0 && flagAt(i - 1, j - 1) == 0 && hasAll(f, TOUCHES_LEFT | TOUCHES_TOP))
            binarize(x0 - half, y0 - half, x0, y0, t);
        return f;
    }

    // Binarizes parts of threshold-less block (i, j) with the thresholds of
    // neighbours whose dark pixels run into it: the left part from the left
    // neighbour, the top part from the three neighbours above (the diagonal
    // ones act on the whole top part too). Later calls overwrite earlier
    // ones; the touch bits of all of them are kept.
    int binarizeWithBorrowedThreshold(int i, int j) {
        const int x0 = j * size, y0 = i * size, x1 = x0 + size, y1 = y0 + size;
        int f = 0;
        if (j > 0 && hasAll(flagAt(i, j - 1), OWN_THRESHOLD | TOUCHES_RIGHT))
            f |= binarize(x0, y0, x1 - half, y1, thresholdAt(i, j - 1));
        if (i == 0)
            return f;
        if (hasAll(flagAt(i - 1, j), OWN_THRESHOLD | TOUCHES_BOTTOM))
            f |= binarize(x0, y0, x1, y1 - half, thresholdAt(i - 1, j));
        if (j + 1 < flags.cols &&
            hasAll(flagAt(i - 1, j + 1), OWN_THRESHOLD | TOUCHES_LEFT | TOUCHES_BOTTOM))
            f |= binarize(x0, y0, x1, y1 - half, thresholdAt(i - 1, j + 1));
        if (j > 0 && hasAll(flagAt(i - 1, j - 1), OWN_THRESHOLD | TOUCHES_BOTTOM | TOUCHES_RIGHT))
            f |= binarize(x0, y0, x1, y1 - half, thresholdAt(i - 1, j - 1));
        return f;
    }

    cv::Mat& grey;
    cv::Mat& dst;
    const int size;
    const int half;
    cv::Mat flags;
    cv::Mat thresholds;
};

// Block size actually used by adaptiveThresholdImage: odd and at least 3.
int oddBlockSize(int block) {
    if (block % 2 == 0)
        ++block;
    return block == 1 ? 3 : block;
}

}  // namespace

namespace tarvek {
namespace binarization {

// ---------------------------------------------------------------------------
// Otsu-family and adaptive thresholds
// ---------------------------------------------------------------------------

void thresholdImage(cv::Mat& src, cv::Mat& dst, int threshold) {
    cv::Mat grey;
    if (!getGray8U(src, grey))
        return;
    dst.release();
    cv::threshold(grey, dst, threshold, 255.0, cv::THRESH_BINARY);
}

int otsu(cv::Mat& src, cv::Mat& dst) {
    // The grey view is taken before dst is released, so that a call with src
    // as dst keeps its pixels; dst is released either way and so stays empty
    // when the source is refused.
    cv::Mat grey;
    const bool isGrey = getGray8U(src, grey);
    dst.release();
    if (!isGrey)
        return -1;
    return static_cast<int>(cv::threshold(grey, dst, 0.0, 255.0, cv::THRESH_BINARY | cv::THRESH_OTSU));
}

void adaptiveThresholdImage(cv::Mat& src, cv::Mat& dst, int blockSize, int C) {
    cv::Mat grey;
    if (!getGray8U(src, grey))
        return;
    // OpenCV rejects blocks below 3 and its buffers grow with the block, so
    // windows that exceed the image both ways are refused rather than
    // filled with replicated border pixels.
    const int block = oddBlockSize(blockSize);
    if (block < 3 || block > std::max(grey.rows, grey.cols))
        return;
    dst.release();
    cv::adaptiveThreshold(grey, dst, 255.0, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, block,
                          static_cast<double>(C));
}

void adaptiveOtsu(cv::Mat& src, cv::Mat& dst, int s) {
    cv::Mat grey;
    if (s < 1 || !getGray8U(src, grey))
        return;
    dst.release();
    dst.create(grey.size(), grey.type());
    dst.setTo(255);
    BlockOtsu(grey, dst, s).run();
}

}  // namespace binarization
}  // namespace tarvek

// ---------------------------------------------------------------------------
// Sauvola-family thresholds
// ---------------------------------------------------------------------------

namespace {

// Least rows per integral stripe of the Sauvola threshold.
const int STRIPE_ROWS = 64;

// Ink and paper values of a binarization; inverse swaps them.
struct Tones {
    uchar ink;
    uchar paper;
};

Tones tonesFor(bool inverse) {
    return inverse ? Tones{255, 0} : Tones{0, 255};
}

// Parameters for which the threshold is defined: a window of at least one
// pixel and no division by R = 0.
bool validSauvolaParameters(int w, int R) {
    return w >= 1 && R != 0;
}

int clip(int v, int hi) {
    return std::min(std::max(v, 0), hi);
}

// T = m·(1 + k·(sd/R − 1)) from the sum and squared sum of a window of
// `area` pixels, in this order of operations.
double sauvolaThreshold(double sum, double squares, double area, double k, double R) {
    const double mean = sum / area;
    double variance = squares / area - mean * mean;
    if (variance < 0)
        variance = 0;
    return ((std::sqrt(variance) / R - 1.0) * k + 1.0) * mean;
}

// Sauvola's thresholds from integral images. The window of pixel (y, x) is
// rows y − b … y − b + w − 1 and columns x − b … x − b + w − 1 with
// b = w / 2 + 1; pixels outside the image count as 0 and the divisor is
// always w·w. Clipping the window to the image gives exactly the sums over a
// zero-padded copy, without the copy, which would grow with w. The integral
// images cover one stripe of rows at a time: window sums are differences, so
// the integral of only the rows a stripe's windows reach gives the same sums,
// and buffers of a stripe's size are reused while they are still in cache.
class SauvolaWindows {
public:
    SauvolaWindows(const cv::Mat& grey, int w)
        : grey(grey), before(w / 2 + 1), after(w - before), area(static_cast<double>(w) * w),
          left(grey.cols), right(grey.cols) {
        for (int x = 0; x < grey.cols; ++x) {
            left[x] = clip(x - before, grey.cols);
            right[x] = clip(x + after, grey.cols);
        }
    }

    // Integral images of the rows that the windows of rows y0 … y1 − 1 reach
    // (CV_32S sums, CV_64F squared sums).
    void loadStripe(int y0, int y1) {
        first = clipRow(y0 - before);
        cv::integral(grey.rowRange(first, clipRow(y1 + after)), sums, squares);
    }

    // Thresholds of row y of the loaded stripe, one per column, into t.
    void rowThresholds(int y, double k, double R, double* t) const {
        const int top = clipRow(y - before) - first, bottom = clipRow(y + after) - first;
        const int* s0 = sums.ptr<int>(top);
        const int* s1 = sums.ptr<int>(bottom);
        const double* q0 = squares.ptr<double>(top);
        const double* q1 = squares.ptr<double>(bottom);
        for (std::size_t x = 0; x < left.size(); ++x) {
            const int l = left[x], r = right[x];
            // The running sums of a large bright stripe pass the int range
            // and wrap; taken unsigned, the differences still give a window
            // sum below 2^32 exactly.
            const unsigned sum = static_cast<unsigned>(s1[r]) - static_cast<unsigned>(s1[l]) -
                                 static_cast<unsigned>(s0[r]) + static_cast<unsigned>(s0[l]);
            const double sq = q1[r] - q1[l] - q0[r] + q0[l];
            t[x] = sauvolaThreshold(sum, sq, area, k, R);
        }
    }

private:
    int clipRow(int y) const { return clip(y, grey.rows); }

    const cv::Mat& grey;
    const int before;
    const int after;
    const double area;
    std::vector<int> left;
    std::vector<int> right;
    int first = 0;  // the grey row of the stripe's first integral row
    cv::Mat sums;
    cv::Mat squares;
};

// t truncated toward zero to an int, kept as its low 8 bits. Values beyond
// the int range saturate (NaN gives 0) instead of overflowing the conversion.
uchar thresholdByte(double t) {
    if (t > -2147483649.0 && t < 2147483648.0)
        return static_cast<uchar>(static_cast<int>(t));
    return t > 0 ? 255 : 0;  // the low 8 bits of INT_MAX and INT_MIN
}

// Rows per integral stripe: the windows reach w rows beyond a stripe, so a
// stripe of at least 4·w rows adds at most a quarter to the integral's rows.
int stripeRows(int w, int rows) {
    return std::max(STRIPE_ROWS, 4 * std::min(w, rows));
}

// Binarizes grey into dst (allocated here): a pixel below its threshold is
// ink. The thresholds go to map as well when it is not null.
void binarizeSauvola(const cv::Mat& grey, cv::Mat& dst, int w, double k, int R, cv::Mat* map,
                     bool inverse) {
    dst.create(grey.size(), CV_8UC1);
    if (map != nullptr)
        map->create(grey.size(), CV_8UC1);
    SauvolaWindows windows(grey, w);
    const Tones tones = tonesFor(inverse);
    std::vector<double> t(grey.cols);
    const int stripe = stripeRows(w, grey.rows);
    for (int y = 0; y < grey.rows; ++y) {
        if (y % stripe == 0)
            windows.loadStripe(y, std::min(y + stripe, grey.rows));
        windows.rowThresholds(y, k, R, t.data());
        const uchar* g = grey.ptr<uchar>(y);
        uchar* d = dst.ptr<uchar>(y);
        for (int x = 0; x < grey.cols; ++x)
            d[x] = t[x] > g[x] ? tones.ink : tones.paper;
        if (map == nullptr)
            continue;
        uchar* m = map->ptr<uchar>(y);
        for (int x = 0; x < grey.cols; ++x)
            m[x] = thresholdByte(t[x]);
    }
}

// Size limits, in coarse pixels, of the objects multiScaleSauvola keeps for
// window w.
double minObjectArea(int w) {
    return static_cast<double>(w) * w * 0.7 * 0.9 / 4.0 / 8.0;
}

double maxObjectArea(int w) {
    return static_cast<double>(w) * w * 0.7 * 4.0 * 4.0 * 4.0;
}

// Thresholds again the pixels that mask marks with s, each with the coarse
// threshold of its s × s block. Only the first s·(cols / s) columns and
// s·(rows / s) rows have blocks.
void rethresholdObjects(const cv::Mat& grey, const cv::Mat& mask, const cv::Mat& coarseThresholds,
                        int s, Tones tones, cv::Mat& dst) {
    const uchar mark = static_cast<uchar>(s);
    for (int y = 0; y < coarseThresholds.rows * s; ++y) {
        const uchar* t = coarseThresholds.ptr<uchar>(y / s);
        const uchar* g = grey.ptr<uchar>(y);
        const uchar* m = mask.ptr<uchar>(y);
        uchar* d = dst.ptr<uchar>(y);
        for (int cx = 0; cx < coarseThresholds.cols; ++cx)
            for (int x = cx * s; x < cx * s + s; ++x)
                if (m[x] == mark)
                    d[x] = g[x] < t[cx] ? tones.ink : tones.paper;
    }
}

}  // namespace

void sauvola2(cv::Mat& src, cv::Mat& dst, int w, double k, int R, cv::Mat* map, bool inverse) {
    // The grey view is taken before dst is released, so that a call with src
    // as dst keeps its pixels.
    cv::Mat grey;
    const bool isGrey = getGray8U(src, grey);
    dst.release();
    if (isGrey && validSauvolaParameters(w, R))
        binarizeSauvola(grey, dst, w, k, R, map, inverse);
}

void labelingAndFilter(cv::Mat& bin, int W, int H, double minArea, double maxArea, cv::Mat& mask,
                       int s) {
    if (s < 1 || bin.type() != CV_8UC1 || bin.size() != cv::Size(W / s, H / s))
        return;
    std::vector<cv::Point> points;
    for (int y = 0; y < bin.rows; ++y) {
        const uchar* row = bin.ptr<uchar>(y);
        for (int x = 0; x < bin.cols; ++x) {
            // The flood fill marks what it visits with 1, so each component
            // is met once.
            if (row[x] != 0)
                continue;
            points.clear();
            getLabelRect(bin, x, y, 0, &points);
            const double n = static_cast<double>(points.size());
            if (minArea > n || n > maxArea)
                continue;
            for (cv::Point& p : points)
                mergeSelectedObject(p, s, mask);
        }
    }
}

cv::Rect getLabelRect(cv::Mat& img, int x, int y, int label, std::vector<cv::Point>* points) {
    return tarvek::utils::getLabelRect(img, x, y, nullptr, label, points);
}

void mergeSelectedObject(cv::Point& p, int s, cv::Mat& mask) {
    if (mask.type() != CV_8UC1)
        return;
    const cv::Rect block = cv::Rect(p.x * s, p.y * s, s, s) & cv::Rect(0, 0, mask.cols, mask.rows);
    for (int y = block.y; y < block.y + block.height; ++y) {
        uchar* row = mask.ptr<uchar>(y);
        std::fill(row + block.x, row + block.x + block.width, static_cast<uchar>(s));
    }
}

namespace tarvek {
namespace binarization {

void sauvola(cv::Mat& src, cv::Mat& dst, int w, double k, int R, bool inverse) {
    cv::Mat grey;
    if (!getGray8U(src, grey) || !validSauvolaParameters(w, R))
        return;
    dst.release();
    binarizeSauvola(grey, dst, w, k, R, nullptr, inverse);
}

void multiScaleSauvola(cv::Mat& src, cv::Mat& dst, int w, double k, int R, int s, bool inverse,
                       int minWindow) {
    cv::Mat grey;
    if (!getGray8U(src, grey) || s < 1 || s > 255 || s > grey.cols || s > grey.rows)
        return;
    const int coarseWindow = std::max(minWindow, w / (2 * s));
    if (!validSauvolaParameters(w, R) || !validSauvolaParameters(coarseWindow, R))
        return;

    const int W = grey.cols, H = grey.rows;
    cv::Mat reduced;
    cv::resize(grey, reduced, cv::Size(W / s, H / s), 0.0, 0.0, cv::INTER_LINEAR);
    sauvola(grey, dst, w, k, R, inverse);

    cv::Mat coarseBinary, coarseThresholds;
    sauvola2(reduced, coarseBinary, coarseWindow, k, R, &coarseThresholds, inverse);
    reduced.release();
    cv::Mat mask = cv::Mat::zeros(grey.size(), CV_8UC1);
    labelingAndFilter(coarseBinary, W, H, minObjectArea(w), maxObjectArea(w), mask, s);
    coarseBinary.release();
    rethresholdObjects(grey, mask, coarseThresholds, s, tonesFor(inverse), dst);
}

}  // namespace binarization
}  // namespace tarvek
