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
    const int dx = b.x - a.x;
    const int dy = b.y - a.y;
    return std::sqrt(static_cast<double>(dx * dx + dy * dy));
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
        sum = static_cast<int>(static_cast<float>(sum) + term);
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

}  // namespace utils
}  // namespace tarvek
