#include "image_size.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

using tarvek::fitsIntCounts;

namespace {

struct Shape {
    std::int64_t rows;
    std::int64_t cols;
    int channels;
    bool fits;
};

constexpr std::int64_t INT_LIMIT = INT_MAX;

}  // namespace

// Each limit exactly, and one past it: a row's values (cols x channels), the pixels (rows x cols),
// the sides that wrap when cast to int, and shapes whose products overflow 64 bits.
TEST(ImageSize, FitsExactlyUpToTheIntCounts)
{
    const Shape shapes[] = {
        {1, INT_LIMIT, 1, true},
        {1, INT_LIMIT + 1, 1, false},
        {1, INT_LIMIT / 3, 3, true},
        {1, INT_LIMIT / 3 + 1, 3, false},
        {INT_LIMIT, 1, 1, true},
        {INT_LIMIT + 1, 1, 1, false},
        {INT_LIMIT, 1, 3, true},  // a column of colour pixels: a row holds three values
        {46341, 46340, 1, true},  // 2147441940 pixels
        {46341, 46341, 1, false},  // 2147488281
        {65535, 32768, 3, true},  // 2^31 - 2^15 pixels; a row holds 98304 values
        {65536, 32768, 3, false},  // 2^31
        {1, (std::int64_t{1} << 32) + 16, 1, false},  // would wrap to 1 x 16
        {(std::int64_t{1} << 32) + 16, 1, 3, false},
        {std::int64_t{1} << 62, std::int64_t{1} << 62, 3, false},
        {0, INT_LIMIT, 1, true},
        {INT_LIMIT, 0, 3, true},
        {-1, 4, 1, false},
        {4, -1, 1, false},
        {4, 4, 0, false},
    };
    for (const Shape& shape : shapes)
        EXPECT_EQ(fitsIntCounts(shape.rows, shape.cols, shape.channels), shape.fits)
            << shape.rows << " x " << shape.cols << " x " << shape.channels;
}
