// Reads two UTF-32 strings of arbitrary code units (the first byte chooses
// where the second begins) and checks the Hangul-aware distance against what
// any edit distance must satisfy.
#include "weighted_edit_distance.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A letter matrix over 0..n-1 whose similarities fall off with the distance of
// the letter numbers.
struct LetterMatrix {
    std::vector<wchar_t> chars;
    std::vector<float> scores;

    explicit LetterMatrix(int n) : chars(static_cast<std::size_t>(n)), scores(static_cast<std::size_t>(n * n))
    {
        for (int a = 0; a < n; ++a) {
            chars[static_cast<std::size_t>(a)] = static_cast<wchar_t>(a);
            for (int b = 0; b < n; ++b)
                scores[static_cast<std::size_t>(a * n + b)] = 1.0f / static_cast<float>(1 + std::abs(a - b));
        }
    }
};

tarvek::WeightedEditDistance& distance()
{
    static LetterMatrix initial(19), medial(21), final(28);
    static tarvek::WeightedEditDistance d;
    // The initial-consonant matrix leaves its last letter out so that lookups also miss.
    static const bool ready = d.SetConfusionMatrix(initial.chars.data(), 18, initial.scores.data(),
                                                   tarvek::CM_INITIAL_CONSONANT) &&
                              d.SetConfusionMatrix(medial.chars.data(), 21, medial.scores.data(),
                                                   tarvek::CM_MEDIAL_VOWEL) &&
                              d.SetConfusionMatrix(final.chars.data(), 28, final.scores.data(),
                                                   tarvek::CM_FINAL_CONSONANT);
    if (!ready)
        std::abort();
    return d;
}

std::wstring codeUnits(const std::uint8_t* data, std::size_t size)
{
    std::wstring s(size / sizeof(wchar_t), L'\0');
    std::memcpy(s.data(), data, s.size() * sizeof(wchar_t));
    return s;
}

// Each character of both strings is consumed once, in order.
bool consumesEveryCharacter(const std::vector<tarvek::MatchingInfo>& alignment, std::size_t len1, std::size_t len2)
{
    int used1 = 0, used2 = 0;
    for (const tarvek::MatchingInfo& step : alignment) {
        if (step.type < tarvek::MATCHING_DELETION || step.type > tarvek::MATCHING_MATCH)
            return false;
        if (step.type != tarvek::MATCHING_INSERTION && step.index1 != used1++)
            return false;
        if (step.type != tarvek::MATCHING_DELETION && step.index2 != used2++)
            return false;
    }
    return used1 == static_cast<int>(len1) && used2 == static_cast<int>(len2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t split = std::min<std::size_t>(1 + data[0] * sizeof(wchar_t), size);
    const std::wstring s1 = codeUnits(data + 1, split - 1);
    const std::wstring s2 = codeUnits(data + split, size - split);

    tarvek::WeightedEditDistance& d = distance();
    std::vector<tarvek::MatchingInfo> alignment;
    const float weighted = d.GetHangulDictance(s1, s2, &alignment, true);
    const float plain = d.GetHangulDictance(s1, s2, nullptr, false);
    const float lower = std::max(s1.size(), s2.size()) - std::min(s1.size(), s2.size());
    if (!(weighted >= 0.0f) || weighted > plain || plain < lower || plain > std::max(s1.size(), s2.size()))
        std::abort();
    if (d.GetHangulDictance(s2, s1, nullptr, true) != weighted)
        std::abort();  // the letter scores are symmetric, so the distance is too
    if (!consumesEveryCharacter(alignment, s1.size(), s2.size()))
        std::abort();
    return 0;
}
