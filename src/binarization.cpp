#include "binarization.h"

#include <algorithm>
#include <cstdint>

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
