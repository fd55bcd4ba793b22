#include "binarization.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include "binarization_internal.h"
#include "utils.h"

bool getGray8U(cv::Mat& src, cv::Mat& grey) {
    if (src.empty() || src.depth() != CV_8U)
        return false;
    return tarvek::utils::getGrayImage(src, grey);
}

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

// Least rows per stripe of the Sauvola threshold, the share of the image
// that one task binarizes.
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

// Division by a fixed non-zero d. For a power of two, multiplying by 1 / d
// gives the same double as dividing (both are the exact quotient rounded
// once) at a fraction of the cost; window areas like 16·16 and the usual
// R = 128 are powers of two.
class Divisor {
public:
    explicit Divisor(double d) : d(d), reciprocal(1.0 / d), exact(isPowerOfTwo(d)) {}

    double operator()(double x) const { return exact ? x * reciprocal : x / d; }

#if CV_SIMD128_64F
    cv::v_float64x2 operator()(const cv::v_float64x2& x) const {
        return exact ? x * cv::v_setall_f64(reciprocal) : x / cv::v_setall_f64(d);
    }
#endif

private:
    static bool isPowerOfTwo(double d) {
        int exponent = 0;
        return std::abs(std::frexp(d, &exponent)) == 0.5;
    }

    double d;
    double reciprocal;
    bool exact;
};

// The constants of T = m·(1 + k·(sd/R − 1)) for a window of w × w pixels.
struct SauvolaConstants {
    SauvolaConstants(int w, double k, int R) : area(static_cast<double>(w) * w), k(k), R(R) {}

    Divisor area;
    double k;
    Divisor R;
};

// T from the sum and squared sum of a window, in this order of operations.
double sauvolaThreshold(double sum, double squares, const SauvolaConstants& c) {
    const double mean = c.area(sum);
    double variance = c.area(squares) - mean * mean;
    if (variance < 0)
        variance = 0;
    return ((c.R(std::sqrt(variance)) - 1.0) * c.k + 1.0) * mean;
}

#if CV_SIMD128_64F
// The same for two windows at once, each lane computed exactly as above
// (a variance of −0 becomes +0, which changes no threshold).
cv::v_float64x2 sauvolaThreshold(const cv::v_float64x2& sum, const cv::v_float64x2& squares,
                                 const SauvolaConstants& c) {
    const cv::v_float64x2 one = cv::v_setall_f64(1.0);
    const cv::v_float64x2 mean = c.area(sum);
    const cv::v_float64x2 variance = cv::v_max(c.area(squares) - mean * mean, cv::v_setzero_f64());
    return ((c.R(cv::v_sqrt(variance)) - one) * cv::v_setall_f64(c.k) + one) * mean;
}
#endif

// Sauvola's thresholds of one row of pixels at a time. The window of pixel
// (y, x) is rows y − b … y − b + w − 1 and columns x − b … x − b + w − 1
// with b = w / 2 + 1; pixels outside the image count as 0 and the divisor is
// always w·w. Column sums over the window's rows follow the window down the
// image, a row added below and one dropped above, and their running sums
// across the row give every window's sum as one difference. All sums are
// whole numbers, exact in the integers and doubles (below 2^53) that hold
// them, so the thresholds are those of integral images of a zero-padded
// copy, without the copy or the integral images.
class SauvolaWindows {
public:
    SauvolaWindows(const cv::Mat& grey, int w, double k, int R)
        : grey(grey), before(w / 2 + 1), after(w - before), leftReach(std::min(before, grey.cols)),
          span(leftReach + std::min(after, grey.cols)), constants(w, k, R), columnSums(grey.cols),
          columnSquares(grey.cols), sums(grey.cols + span + 1), squares(grey.cols + span + 1),
          zeros(grey.cols) {}

    // Thresholds of pixel row y into t, one per column. Rows are taken in
    // increasing order.
    void rowThresholds(int y, double* t) {
        follow(clipRow(y - before), clipRow(y + after));
        runningSums();
        const double* s = sums.data();
        const double* q = squares.data();
        int x = 0;
#if CV_SIMD128_64F
        for (; x + 2 <= grey.cols; x += 2) {
            const cv::v_float64x2 sum = cv::v_load(s + x + span) - cv::v_load(s + x);
            const cv::v_float64x2 square = cv::v_load(q + x + span) - cv::v_load(q + x);
            cv::v_store(t + x, sauvolaThreshold(sum, square, constants));
        }
#endif
        for (; x < grey.cols; ++x)
            t[x] = sauvolaThreshold(s[x + span] - s[x], q[x + span] - q[x], constants);
    }

private:
    int clipRow(int y) const { return clip(y, grey.rows); }

    // Moves the column sums to the rows newTop … newBottom − 1, adding a row
    // below and dropping one above in the same pass where the window moves
    // down by one.
    void follow(int newTop, int newBottom) {
        if (newTop >= bottom) {  // the first row, or no row in common
            std::fill(columnSums.begin(), columnSums.end(), 0);
            std::fill(columnSquares.begin(), columnSquares.end(), 0);
            top = bottom = newTop;
        }
        for (; bottom < newBottom && top < newTop; ++bottom, ++top)
            replaceRow(grey.ptr<uchar>(bottom), grey.ptr<uchar>(top));
        for (; bottom < newBottom; ++bottom)
            replaceRow(grey.ptr<uchar>(bottom), zeros.data());
        for (; top < newTop; ++top)
            replaceRow(zeros.data(), grey.ptr<uchar>(top));
    }

    void replaceRow(const uchar* added, const uchar* dropped) {
        std::int64_t* sum = columnSums.data();
        std::int64_t* square = columnSquares.data();
        for (int x = 0, cols = grey.cols; x < cols; ++x) {
            const int a = added[x], d = dropped[x];
            sum[x] += a - d;
            square[x] += a * a - d * d;
        }
    }

    // Running sums of the column sums across the row, laid out so that the
    // window of column x is entries x … x + span: entry i holds the sum of
    // columns 0 … i − leftReach − 1, clipped to the row at both ends.
    void runningSums() {
        std::int64_t sum = 0, square = 0;
        for (int x = 0; x < grey.cols; ++x) {
            sum += columnSums[x];
            square += columnSquares[x];
            sums[leftReach + 1 + x] = static_cast<double>(sum);
            squares[leftReach + 1 + x] = static_cast<double>(square);
        }
        std::fill(sums.begin() + leftReach + grey.cols + 1, sums.end(), static_cast<double>(sum));
        std::fill(squares.begin() + leftReach + grey.cols + 1, squares.end(),
                  static_cast<double>(square));
    }

    const cv::Mat& grey;
    const int before;
    const int after;
    const int leftReach;  // columns a window reaches left of its pixel, within the row
    const int span;       // window width clipped to the row at both sides
    const SauvolaConstants constants;
    int top = 0;  // the rows the column sums cover
    int bottom = 0;
    std::vector<std::int64_t> columnSums;
    std::vector<std::int64_t> columnSquares;
    std::vector<double> sums;  // the first leftReach + 1 entries stay 0
    std::vector<double> squares;
    const std::vector<uchar> zeros;  // a black row, for a row entering or leaving alone
};

// t truncated toward zero to an int, kept as its low 8 bits. Values beyond
// the int range saturate (NaN gives 0) instead of overflowing the conversion.
uchar thresholdByte(double t) {
    if (t > -2147483649.0 && t < 2147483648.0)
        return static_cast<uchar>(static_cast<int>(t));
    return t > 0 ? 255 : 0;  // the low 8 bits of INT_MAX and INT_MIN
}

// Rows per stripe. Starting a stripe sums the rows its first window spans,
// cheap next to the thresholds of as many rows, so stripes as tall as the
// window keep that small while leaving stripes enough for every thread.
int stripeRows(int w, int rows) {
    return std::max(STRIPE_ROWS, std::min(w, rows));
}

// A row of pixels binarized with their thresholds t: below its threshold,
// a pixel is ink.
void binarizeRow(const double* t, const uchar* g, int cols, Tones tones, uchar* d) {
    for (int x = 0; x < cols; ++x)
        d[x] = t[x] > g[x] ? tones.ink : tones.paper;
}

void thresholdBytes(const double* t, int cols, uchar* m) {
    for (int x = 0; x < cols; ++x)
        m[x] = thresholdByte(t[x]);
}

// Binarizes grey into dst (allocated here), stripes of rows in parallel. The
// thresholds go to map as well when it is not null.
void binarizeSauvola(const cv::Mat& grey, cv::Mat& dst, int w, double k, int R, cv::Mat* map,
                     bool inverse) {
    dst.create(grey.size(), CV_8UC1);
    if (map != nullptr)
        map->create(grey.size(), CV_8UC1);
    const Tones tones = tonesFor(inverse);
    const int stripe = stripeRows(w, grey.rows);
    cv::parallel_for_(cv::Range(0, blockCount(grey.rows, stripe)), [&](const cv::Range& stripes) {
        SauvolaWindows windows(grey, w, k, R);
        std::vector<double> t(grey.cols);
        for (int y = stripes.start * stripe; y < std::min(stripes.end * stripe, grey.rows); ++y) {
            windows.rowThresholds(y, t.data());
            binarizeRow(t.data(), grey.ptr<uchar>(y), grey.cols, tones, dst.ptr<uchar>(y));
            if (map != nullptr)
                thresholdBytes(t.data(), grey.cols, map->ptr<uchar>(y));
        }
    });
}

// Size limits, in coarse pixels, of the objects multiScaleSauvola keeps for
// window w.
double minObjectArea(int w) {
    return static_cast<double>(w) * w * 0.7 * 0.9 / 4.0 / 8.0;
}

double maxObjectArea(int w) {
    return static_cast<double>(w) * w * 0.7 * 4.0 * 4.0 * 4.0;
}

// Thresholds again the s × s blocks of the pixels whose coarse pixel the
// coarse mask marks with 1, each with that coarse pixel's threshold. Only
// the first s·(cols / s) columns and s·(rows / s) rows have coarse pixels.
void rethresholdObjects(const cv::Mat& grey, const cv::Mat& coarseMask,
                        const cv::Mat& coarseThresholds, int s, Tones tones, cv::Mat& dst) {
    cv::parallel_for_(cv::Range(0, coarseThresholds.rows * s), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const uchar* t = coarseThresholds.ptr<uchar>(y / s);
            const uchar* m = coarseMask.ptr<uchar>(y / s);
            const uchar* g = grey.ptr<uchar>(y);
            uchar* d = dst.ptr<uchar>(y);
            for (int cx = 0; cx < coarseThresholds.cols; ++cx) {
                if (m[cx] != 1)
                    continue;
                for (int x = cx * s; x < cx * s + s; ++x)
                    d[x] = g[x] < t[cx] ? tones.ink : tones.paper;
            }
        }
    });
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
    // The objects are marked at the coarse scale (s = 1): the same blocks as
    // a full-size mask would hold s in, without filling and scanning one.
    cv::Mat coarseMask = cv::Mat::zeros(coarseBinary.size(), CV_8UC1);
    labelingAndFilter(coarseBinary, coarseBinary.cols, coarseBinary.rows, minObjectArea(w),
                      maxObjectArea(w), coarseMask, 1);
    coarseBinary.release();
    rethresholdObjects(grey, coarseMask, coarseThresholds, s, tonesFor(inverse), dst);
}

}  // namespace binarization
}  // namespace tarvek
