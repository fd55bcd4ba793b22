// Grey-level quantization and image checks.
#include "imageprocessing.h"

#include <algorithm>
#include <array>
#include <fstream>

namespace {

using LevelTable = std::array<uchar, 256>;

// Grey value -> nearest multiple of step, rounded half up.
LevelTable quantizationLevels(double step)
{
    LevelTable table;
    for (int i = 0; i < 256; ++i) {
        const int level = static_cast<int>(static_cast<double>(static_cast<int>(i / step + 0.5)) * step);
        table[static_cast<size_t>(i)] = static_cast<uchar>(std::clamp(level, 0, 255));
    }
    return table;
}

// Floyd-Steinberg shares of the error of pixel x: 7/16 to the right, 3/16,
// 5/16 and 1/16 to the row below. The sums are taken in single precision.
void diffuseError(int error, uchar* row, uchar* below, int x)
{
    const float e = static_cast<float>(error);
    row[x + 1] = cv::saturate_cast<uchar>(row[x + 1] + static_cast<float>(e * 7.0 / 16.0));
    below[x - 1] = cv::saturate_cast<uchar>(below[x - 1] + static_cast<float>(e * 3.0 / 16.0));
    below[x] = cv::saturate_cast<uchar>(below[x] + static_cast<float>(e * 5.0 / 16.0));
    below[x + 1] = cv::saturate_cast<uchar>(below[x + 1] + e / 16.0f);
}

constexpr int SGI_NEAR_WHITE_INPUT = 240;  // taken without the carry
constexpr int SGI_WHITE_ABOVE = 220;
constexpr int SGI_BLACK_UP_TO = 49;

uchar sgiLevel(int step)
{
    if (step > SGI_WHITE_ABOVE)
        return 255;
    if (step <= SGI_BLACK_UP_TO)
        return 0;
    return static_cast<uchar>(step);
}

}  // namespace

namespace tarvek {
namespace imageprocessing {

cv::Mat cluster_with_N_with_dithering2(cv::Mat src, int n)
{
    // One level has no spacing (255 / 0); beyond 256 levels the integer step
    // would be 0, and 256 levels already keep every grey value.
    if (n < 2 || src.type() != CV_8UC1)
        return src.clone();
    const double step = 255 / (std::min(n, 256) - 1);
    const LevelTable levels = quantizationLevels(step);

    cv::Mat work = src.clone();
    cv::Mat result(src.rows, src.cols, src.type());
    for (int y = 0; y < work.rows; ++y) {
        uchar* row = work.ptr<uchar>(y);
        uchar* below = y + 1 < work.rows ? work.ptr<uchar>(y + 1) : nullptr;
        uchar* out = result.ptr<uchar>(y);
        for (int x = 0; x < work.cols; ++x) {
            out[x] = levels[row[x]];
            if (below != nullptr && x >= 1 && x + 1 < work.cols)
                diffuseError(row[x] - out[x], row, below, x);
        }
    }
    return result;
}

void cluster_with_SGI(cv::Mat img)
{
    for (int y = 0; y < img.rows; ++y) {
        uchar* row = img.ptr<uchar>(y);
        int carry = 0;
        for (int x = 1; x < img.cols; ++x) {
            const int t = row[x] >= SGI_NEAR_WHITE_INPUT ? row[x] : row[x] + carry;
            carry = t & 0x0F;
            row[x] = sgiLevel(t & 0xF0);
        }
    }
}

bool isNeedBinarization(cv::Mat& img)
{
    for (int y = 0; y < img.rows; ++y) {
        const uchar* row = img.ptr<uchar>(y);
        for (int x = 0; x < img.cols; ++x) {
            if (row[x] != 0 && row[x] != 255)
                return true;
        }
    }
    return false;
}

bool is_file_exists(const char* path)
{
    if (path == nullptr)
        return false;
    std::ifstream file(path);
    return file.is_open();
}

int saveTiffFromMat(cv::Mat& /*img*/, const char* /*path*/, int /*option*/)
{
    return 0;
}

}  // namespace imageprocessing
}  // namespace tarvek
