#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "confusion_matrix.h"

namespace tarvek {

// Slots of the confusion matrices held by WeightedEditDistance. The first three
// are keyed by Hangul letter numbers (initial 0..18, medial 0..20, final 0..27
// with 0 meaning no final consonant); the last two by whole characters.
enum ConfusionMatrixType {
    CM_INITIAL_CONSONANT = 0,
    CM_MEDIAL_VOWEL = 1,
    CM_FINAL_CONSONANT = 2,
    CM_CHARACTER_PRIMARY = 3,
    CM_CHARACTER_SECONDARY = 4,
};

constexpr int CONFUSION_MATRIX_SLOTS = 5;

// Kind of one alignment step.
enum MatchingType {
    MATCHING_DELETION = 0,      // character of the first string without partner
    MATCHING_INSERTION = 1,     // character of the second string without partner
    MATCHING_SUBSTITUTION = 2,  // substitution at full cost
    MATCHING_SIMILAR = 3,       // substitution by a similar character, cost below 1
    MATCHING_MATCH = 4,         // equal characters, cost 0
};

// One alignment step: its MatchingType and the positions in the first and the
// second string. For a string the step does not consume, the position is that
// of its character just before the step (-1 at the start of the string).
struct MatchingInfo {
    int type;
    int index1;
    int index2;
};

// Edit distance whose substitution cost is lowered for characters the
// recogniser confuses. Insertions and deletions always cost 1.
class WeightedEditDistance {
public:
    WeightedEditDistance() = default;

    // Stores a matrix over the borrowed tables in slot `type`. A slot is set at
    // most once: false (and no change) when it is already set, when a pointer is
    // null or when `type` is not a slot.
    bool SetConfusionMatrix(wchar_t* chars, int n, float* scores, ConfusionMatrixType type);

    // Substitution cost 1 - score of the matrix in slot `type` (1 when useMatrix
    // is false or the slot is empty).
    float GetDictance(std::wstring s1, std::wstring s2, bool useMatrix, ConfusionMatrixType type) const;

    // Substitution between two Hangul syllables costs 1 - S0 * S1 * S2, the
    // product of the similarities of their initial, medial and final letters
    // (needs slots 0 to 2); any other substitution costs 1. `alignment`, when
    // not null, is replaced by the steps from the first characters to the last.
    float GetHangulDictance(std::wstring s1, std::wstring s2, std::vector<MatchingInfo>* alignment,
                            bool useMatrix) const;

    // True for the 11172 precomposed Hangul syllables U+AC00..U+D7A3.
    static bool IsHangul(wchar_t c);

private:
    const ConfusionMatrix* slot(ConfusionMatrixType type) const;
    float hangulSubstitutionCost(wchar_t a, wchar_t b) const;

    std::array<std::unique_ptr<ConfusionMatrix>, CONFUSION_MATRIX_SLOTS> matrices;
};

}  // namespace tarvek
