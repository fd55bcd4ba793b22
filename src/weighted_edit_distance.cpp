#include "weighted_edit_distance.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace tarvek {

namespace {

constexpr wchar_t HANGUL_FIRST = 0xAC00;
constexpr wchar_t HANGUL_LAST = 0xD7A3;
constexpr int HANGUL_MEDIALS_TIMES_FINALS = 588;  // 21 medial vowels x 28 finals
constexpr int HANGUL_FINALS = 28;

// Edit-distance table of (|s1| + 1) x (|s2| + 1) floats, stored column by
// column because it is filled column by column.
class DistanceTable {
public:
    DistanceTable(std::size_t len1, std::size_t len2)
        : rows(len1 + 1), cells(rows * (len2 + 1)) {}

    float& at(std::size_t i, std::size_t j) { return cells[j * rows + i]; }
    float at(std::size_t i, std::size_t j) const { return cells[j * rows + i]; }

private:
    std::size_t rows;
    std::vector<float> cells;
};

// Fills the table; equal characters cost 0 whatever substitutionCost says.
template <class SubstitutionCost>
DistanceTable fillDistanceTable(const std::wstring& s1, const std::wstring& s2, SubstitutionCost substitutionCost)
{
    const std::size_t len1 = s1.size();
    const std::size_t len2 = s2.size();
    DistanceTable d(len1, len2);
    for (std::size_t i = 0; i <= len1; ++i)
        d.at(i, 0) = static_cast<float>(i);
    for (std::size_t j = 1; j <= len2; ++j) {
        d.at(0, j) = static_cast<float>(j);
        for (std::size_t i = 1; i <= len1; ++i) {
            if (s1[i - 1] == s2[j - 1]) {
                d.at(i, j) = d.at(i - 1, j - 1);
                continue;
            }
            const float insertion = d.at(i, j - 1) + 1.0f;
            const float deletion = d.at(i - 1, j) + 1.0f;
            const float substitution = d.at(i - 1, j - 1) + substitutionCost(s1[i - 1], s2[j - 1]);
            d.at(i, j) = std::min({insertion, deletion, substitution});
        }
    }
    return d;
}

MatchingType diagonalStepType(float current, float diagonal)
{
    if (current == diagonal)
        return MATCHING_MATCH;
    if (std::fabs(diagonal - current) < 1.0f)
        return MATCHING_SIMILAR;
    return MATCHING_SUBSTITUTION;
}

// Walks back from the last cell to the first, at each cell to the smallest of
// the three predecessors (ties prefer diagonal, then left, then up), and
// returns the steps from the first characters to the last.
std::vector<MatchingInfo> traceAlignment(const DistanceTable& d, std::size_t len1, std::size_t len2)
{
    std::vector<MatchingInfo> steps;
    std::size_t i = len1;
    std::size_t j = len2;
    while (i > 0 || j > 0) {
        const int row = static_cast<int>(i) - 1;
        const int col = static_cast<int>(j) - 1;
        if (j == 0) {
            steps.push_back({MATCHING_DELETION, row, -1});
            --i;
            continue;
        }
        if (i == 0) {
            steps.push_back({MATCHING_INSERTION, -1, col});
            --j;
            continue;
        }
        enum { NONE, DIAGONAL, LEFT, UP } move = NONE;
        float best = std::numeric_limits<float>::max();
        if (d.at(i - 1, j - 1) < best) {
            best = d.at(i - 1, j - 1);
            move = DIAGONAL;
        }
        if (d.at(i, j - 1) < best) {
            best = d.at(i, j - 1);
            move = LEFT;
        }
        if (d.at(i - 1, j) < best)
            move = UP;
        if (move == LEFT) {
            steps.push_back({MATCHING_INSERTION, row, col});
            --j;
        } else if (move == UP) {
            steps.push_back({MATCHING_DELETION, row, col});
            --i;
        } else {
            steps.push_back({diagonalStepType(d.at(i, j), d.at(i - 1, j - 1)), row, col});
            --i;
            --j;
        }
    }
    std::reverse(steps.begin(), steps.end());
    return steps;
}

}  // namespace

bool WeightedEditDistance::SetConfusionMatrix(wchar_t* chars, int n, float* scores, ConfusionMatrixType type)
{
    if (type < 0 || type >= CONFUSION_MATRIX_SLOTS || matrices[type] || chars == nullptr || scores == nullptr)
        return false;
    matrices[type] = std::make_unique<ConfusionMatrix>(chars, n, scores);
    return true;
}

const ConfusionMatrix* WeightedEditDistance::slot(ConfusionMatrixType type) const
{
    if (type < 0 || type >= CONFUSION_MATRIX_SLOTS)
        return nullptr;
    return matrices[type].get();
}

float WeightedEditDistance::GetDictance(std::wstring s1, std::wstring s2, bool useMatrix,
                                        ConfusionMatrixType type) const
{
    const ConfusionMatrix* matrix = useMatrix ? slot(type) : nullptr;
    const auto cost = [matrix](wchar_t a, wchar_t b) {
        return matrix ? 1.0f - matrix->GetScore(a, b) : 1.0f;
    };
    return fillDistanceTable(s1, s2, cost).at(s1.size(), s2.size());
}

float WeightedEditDistance::hangulSubstitutionCost(wchar_t a, wchar_t b) const
{
    if (!IsHangul(a) || !IsHangul(b))
        return 1.0f;
    const int sa = a - HANGUL_FIRST;
    const int sb = b - HANGUL_FIRST;
    const float initial = matrices[CM_INITIAL_CONSONANT]->GetScore(
        static_cast<wchar_t>(sa / HANGUL_MEDIALS_TIMES_FINALS), static_cast<wchar_t>(sb / HANGUL_MEDIALS_TIMES_FINALS));
    const float medial = matrices[CM_MEDIAL_VOWEL]->GetScore(
        static_cast<wchar_t>(sa % HANGUL_MEDIALS_TIMES_FINALS / HANGUL_FINALS),
        static_cast<wchar_t>(sb % HANGUL_MEDIALS_TIMES_FINALS / HANGUL_FINALS));
    const float final = matrices[CM_FINAL_CONSONANT]->GetScore(static_cast<wchar_t>(sa % HANGUL_FINALS),
                                                               static_cast<wchar_t>(sb % HANGUL_FINALS));
    return 1.0f - initial * medial * final;
}

float WeightedEditDistance::GetHangulDictance(std::wstring s1, std::wstring s2,
                                              std::vector<MatchingInfo>* alignment, bool useMatrix) const
{
    const bool weighted = useMatrix && matrices[CM_INITIAL_CONSONANT] && matrices[CM_MEDIAL_VOWEL] &&
                          matrices[CM_FINAL_CONSONANT];
    const auto cost = [this, weighted](wchar_t a, wchar_t b) {
        return weighted ? hangulSubstitutionCost(a, b) : 1.0f;
    };
    const DistanceTable d = fillDistanceTable(s1, s2, cost);
    if (alignment != nullptr)
        *alignment = traceAlignment(d, s1.size(), s2.size());
    return d.at(s1.size(), s2.size());
}

bool WeightedEditDistance::IsHangul(wchar_t c)
{
    return c >= HANGUL_FIRST && c <= HANGUL_LAST;
}

}  // namespace tarvek
