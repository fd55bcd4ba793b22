#include "confusion_matrix.h"

#include <algorithm>
#include <cstddef>

namespace tarvek {

ConfusionMatrix::ConfusionMatrix(wchar_t* chars, int n, float* scores) : n(n), scores(scores)
{
    for (int i = 0; i < n; ++i)
        index.emplace(chars[i], i);
}

float ConfusionMatrix::GetScore(wchar_t a, wchar_t b) const
{
    const auto ia = index.find(a);
    const auto ib = index.find(b);
    if (ia == index.end() || ib == index.end())
        return 0.0f;
    const std::size_t rows = static_cast<std::size_t>(n);
    const std::size_t ra = static_cast<std::size_t>(ia->second);
    const std::size_t rb = static_cast<std::size_t>(ib->second);
    return std::max(scores[ra * rows + rb], scores[rb * rows + ra]);
}

}  // namespace tarvek
