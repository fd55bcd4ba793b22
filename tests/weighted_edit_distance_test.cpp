#include "GenericPostprocessor.h"
#include "weighted_edit_distance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <type_traits>

using namespace tarvek;

namespace tarvek {

bool operator==(const MatchingInfo& a, const MatchingInfo& b)
{
    return a.type == b.type && a.index1 == b.index1 && a.index2 == b.index2;
}

void PrintTo(const MatchingInfo& m, std::ostream* os)
{
    *os << "(" << m.type << ", " << m.index1 << ", " << m.index2 << ")";
}

}  // namespace tarvek

namespace {

int levenshtein(const std::wstring& a, const std::wstring& b)
{
    std::vector<int> prev(b.size() + 1), cur(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        prev[j] = static_cast<int>(j);
    for (size_t i = 1; i <= a.size(); ++i) {
        cur[0] = static_cast<int>(i);
        for (size_t j = 1; j <= b.size(); ++j)
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        std::swap(prev, cur);
    }
    return prev[b.size()];
}

std::wstring randomString(std::mt19937& rng, const std::wstring& alphabet, int maxLength)
{
    std::uniform_int_distribution<int> length(0, maxLength);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::wstring s(static_cast<size_t>(length(rng)), L' ');
    for (wchar_t& c : s)
        c = alphabet[pick(rng)];
    return s;
}

// Hangul letter matrices: initial consonants 0 and 1 similar at 0.5 (only those
// two listed), medial vowels and final consonants similar only to themselves.
struct HangulMatrices {
    wchar_t initials[2] = {0, 1};
    float initialScores[4] = {1.0f, 0.5f, 0.5f, 1.0f};
    std::vector<wchar_t> medials, finals;
    std::vector<float> medialScores, finalScores;

    HangulMatrices()
    {
        identity(21, medials, medialScores);
        identity(28, finals, finalScores);
    }

    static void identity(int n, std::vector<wchar_t>& chars, std::vector<float>& scores)
    {
        chars.resize(static_cast<size_t>(n));
        scores.assign(static_cast<size_t>(n * n), 0.0f);
        for (int i = 0; i < n; ++i) {
            chars[static_cast<size_t>(i)] = static_cast<wchar_t>(i);
            scores[static_cast<size_t>(i * n + i)] = 1.0f;
        }
    }

    void install(WeightedEditDistance& d, bool withFinal = true)
    {
        ASSERT_TRUE(d.SetConfusionMatrix(initials, 2, initialScores, CM_INITIAL_CONSONANT));
        ASSERT_TRUE(d.SetConfusionMatrix(medials.data(), 21, medialScores.data(), CM_MEDIAL_VOWEL));
        if (withFinal) {
            ASSERT_TRUE(d.SetConfusionMatrix(finals.data(), 28, finalScores.data(), CM_FINAL_CONSONANT));
        }
    }
};

constexpr wchar_t GA = 0xAC00;   // initial 0, medial 0, no final
constexpr wchar_t KKA = 0xAE4C;  // initial 1, medial 0, no final
constexpr wchar_t NA = 0xB098;   // initial 2, medial 0, no final

}  // namespace

TEST(ConfusionMatrix, ScoreIsSymmetricMaximumAndZeroForUnknown)
{
    wchar_t chars[] = {L'a', L'b', L'a'};
    float scores[] = {1.0f, 0.2f, 0.9f,   //
                      0.7f, 1.0f, 0.0f,   //
                      0.0f, 0.0f, 1.0f};
    ConfusionMatrix m(chars, 3, scores);
    EXPECT_FLOAT_EQ(m.GetScore(L'a', L'b'), 0.7f);
    EXPECT_FLOAT_EQ(m.GetScore(L'b', L'a'), 0.7f);
    EXPECT_FLOAT_EQ(m.GetScore(L'a', L'a'), 1.0f);  // the repeated 'a' keeps row 0
    EXPECT_FLOAT_EQ(m.GetScore(L'a', L'z'), 0.0f);
    EXPECT_FLOAT_EQ(m.GetScore(L'z', L'z'), 0.0f);
}

TEST(WeightedEditDistance, WithoutMatricesEqualsLevenshtein)
{
    std::mt19937 rng(7);
    const std::wstring alphabet = L"abc\xAC00\xAE4C";
    WeightedEditDistance d;
    for (int round = 0; round < 300; ++round) {
        const std::wstring a = randomString(rng, alphabet, 8);
        const std::wstring b = randomString(rng, alphabet, 8);
        const float expected = static_cast<float>(levenshtein(a, b));
        std::vector<MatchingInfo> alignment;
        EXPECT_EQ(d.GetDictance(a, b, true, CM_CHARACTER_PRIMARY), expected);
        EXPECT_EQ(d.GetHangulDictance(a, b, &alignment, true), expected);
        // Every character of both strings is consumed exactly once, in order.
        int used1 = 0, used2 = 0;
        for (const MatchingInfo& step : alignment) {
            if (step.type != MATCHING_INSERTION) {
                EXPECT_EQ(step.index1, used1++);
            }
            if (step.type != MATCHING_DELETION) {
                EXPECT_EQ(step.index2, used2++);
            }
        }
        EXPECT_EQ(used1, static_cast<int>(a.size()));
        EXPECT_EQ(used2, static_cast<int>(b.size()));
    }
}

TEST(WeightedEditDistance, EmptyStrings)
{
    WeightedEditDistance d;
    std::vector<MatchingInfo> alignment = {{MATCHING_MATCH, 0, 0}};
    EXPECT_EQ(d.GetHangulDictance(L"", L"", &alignment, false), 0.0f);
    EXPECT_TRUE(alignment.empty());

    EXPECT_EQ(d.GetHangulDictance(L"", L"xyz", &alignment, false), 3.0f);
    const std::vector<MatchingInfo> inserted = {{1, -1, 0}, {1, -1, 1}, {1, -1, 2}};
    EXPECT_EQ(alignment, inserted);

    EXPECT_EQ(d.GetHangulDictance(L"xy", L"", &alignment, false), 2.0f);
    const std::vector<MatchingInfo> deleted = {{0, 0, -1}, {0, 1, -1}};
    EXPECT_EQ(alignment, deleted);
    EXPECT_EQ(d.GetHangulDictance(L"xy", L"", nullptr, false), 2.0f);
}

TEST(WeightedEditDistance, HangulSyllablesDifferingInOneLetter)
{
    WeightedEditDistance d;
    HangulMatrices matrices;
    matrices.install(d);
    std::vector<MatchingInfo> alignment;
    EXPECT_FLOAT_EQ(d.GetHangulDictance(std::wstring(1, GA), std::wstring(1, KKA), &alignment, true), 0.5f);
    ASSERT_EQ(alignment.size(), 1u);
    EXPECT_EQ(alignment[0], (MatchingInfo{MATCHING_SIMILAR, 0, 0}));

    // An initial pair missing from the partial matrix, a Latin letter, or the
    // matrices switched off: full cost.
    EXPECT_EQ(d.GetHangulDictance(std::wstring(1, GA), std::wstring(1, NA), &alignment, true), 1.0f);
    EXPECT_EQ(alignment[0], (MatchingInfo{MATCHING_SUBSTITUTION, 0, 0}));
    EXPECT_EQ(d.GetHangulDictance(std::wstring(1, GA), L"g", nullptr, true), 1.0f);
    EXPECT_EQ(d.GetHangulDictance(std::wstring(1, GA), std::wstring(1, KKA), nullptr, false), 1.0f);
    // A different final consonant scores 0 in the final matrix.
    EXPECT_EQ(d.GetHangulDictance(std::wstring(1, GA), std::wstring(1, GA + 1), nullptr, true), 1.0f);
}

TEST(WeightedEditDistance, HangulNeedsAllThreeLetterMatrices)
{
    WeightedEditDistance d;
    HangulMatrices matrices;
    matrices.install(d, false);
    EXPECT_EQ(d.GetHangulDictance(std::wstring(1, GA), std::wstring(1, KKA), nullptr, true), 1.0f);
}

TEST(WeightedEditDistance, AlignmentOrderAndTypesOnMixedStrings)
{
    WeightedEditDistance d;
    HangulMatrices matrices;
    matrices.install(d);
    std::vector<MatchingInfo> alignment;
    const std::wstring s1 = std::wstring(L"a") + GA + L"b";
    const std::wstring s2 = std::wstring(L"a") + KKA + L"bc";
    EXPECT_FLOAT_EQ(d.GetHangulDictance(s1, s2, &alignment, true), 1.5f);
    const std::vector<MatchingInfo> expected = {{4, 0, 0}, {3, 1, 1}, {4, 2, 2}, {1, 2, 3}};
    EXPECT_EQ(alignment, expected);

    EXPECT_EQ(d.GetHangulDictance(L"abc", L"ac", &alignment, true), 1.0f);
    EXPECT_EQ(alignment, (std::vector<MatchingInfo>{{4, 0, 0}, {0, 1, 0}, {4, 2, 1}}));
}

TEST(WeightedEditDistance, AlignmentTiesPreferDiagonalThenLeft)
{
    WeightedEditDistance d;
    std::vector<MatchingInfo> alignment;
    EXPECT_EQ(d.GetHangulDictance(L"ab", L"ba", &alignment, false), 2.0f);
    EXPECT_EQ(alignment, (std::vector<MatchingInfo>{{2, 0, 0}, {2, 1, 1}}));

    EXPECT_EQ(d.GetHangulDictance(L"aba", L"bab", &alignment, false), 2.0f);
    EXPECT_EQ(alignment, (std::vector<MatchingInfo>{{0, 0, -1}, {4, 1, 0}, {4, 2, 1}, {1, 2, 2}}));
}

TEST(WeightedEditDistance, CharacterMatrixLowersSubstitutionCost)
{
    wchar_t chars[] = {L'0', L'O', L'a'};
    float scores[] = {1.0f, 0.75f, 0.0f,  //
                      0.0f, 1.0f, 0.0f,   //
                      0.0f, 0.0f, 0.0f};
    WeightedEditDistance d;
    ASSERT_TRUE(d.SetConfusionMatrix(chars, 3, scores, CM_CHARACTER_SECONDARY));
    EXPECT_FLOAT_EQ(d.GetDictance(L"1O0", L"100", true, CM_CHARACTER_SECONDARY), 0.25f);
    EXPECT_EQ(d.GetDictance(L"1O0", L"100", false, CM_CHARACTER_SECONDARY), 1.0f);
    EXPECT_EQ(d.GetDictance(L"1O0", L"100", true, CM_CHARACTER_PRIMARY), 1.0f);  // empty slot
    EXPECT_EQ(d.GetDictance(L"x", L"0", true, CM_CHARACTER_SECONDARY), 1.0f);     // 'x' unknown
    EXPECT_EQ(d.GetDictance(L"aa", L"aa", true, CM_CHARACTER_SECONDARY), 0.0f);   // equal costs 0
}

TEST(WeightedEditDistance, SlotIsSetAtMostOnce)
{
    wchar_t chars[] = {L'a', L'b'};
    float similar[] = {1.0f, 0.9f, 0.9f, 1.0f};
    float distinct[] = {1.0f, 0.0f, 0.0f, 1.0f};
    WeightedEditDistance d;
    EXPECT_FALSE(d.SetConfusionMatrix(nullptr, 2, similar, CM_CHARACTER_PRIMARY));
    EXPECT_FALSE(d.SetConfusionMatrix(chars, 2, nullptr, CM_CHARACTER_PRIMARY));
    EXPECT_FALSE(d.SetConfusionMatrix(chars, 2, similar, static_cast<ConfusionMatrixType>(5)));
    EXPECT_EQ(d.GetDictance(L"a", L"b", true, static_cast<ConfusionMatrixType>(5)), 1.0f);
    EXPECT_TRUE(d.SetConfusionMatrix(chars, 2, similar, CM_CHARACTER_PRIMARY));
    EXPECT_FALSE(d.SetConfusionMatrix(chars, 2, distinct, CM_CHARACTER_PRIMARY));
    EXPECT_NEAR(d.GetDictance(L"a", L"b", true, CM_CHARACTER_PRIMARY), 0.1f, 1e-6f);
}

TEST(WeightedEditDistance, IsHangulCoversPrecomposedSyllablesOnly)
{
    EXPECT_FALSE(WeightedEditDistance::IsHangul(0xABFF));
    EXPECT_TRUE(WeightedEditDistance::IsHangul(0xAC00));
    EXPECT_TRUE(WeightedEditDistance::IsHangul(0xD7A3));
    EXPECT_FALSE(WeightedEditDistance::IsHangul(0xD7A4));
    EXPECT_FALSE(WeightedEditDistance::IsHangul(0x3131));  // compatibility jamo
}

static_assert(std::is_abstract_v<GenericPostprocessor>);
static_assert(std::has_virtual_destructor_v<GenericPostprocessor>);
