#include "image_size.h"

#include <climits>

namespace tarvek {

bool fitsIntCounts(std::int64_t rows, std::int64_t cols, int channels)
{
    if (rows < 0 || cols < 0 || channels < 1)
        return false;
    // Divisions rather than products, so that no side overflows the test itself.
    return cols <= INT_MAX / channels && (cols == 0 || rows <= INT_MAX / cols);
}

}  // namespace tarvek
