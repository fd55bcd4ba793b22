#pragma once

#include <map>

namespace tarvek {

// Similarity table over a set of characters. The score table is borrowed from
// the caller: it is neither copied nor freed and must outlive the matrix.
class ConfusionMatrix {
public:
    // Row/column i of the table belongs to chars[i]; a character listed twice
    // keeps its first number.
    ConfusionMatrix(wchar_t* chars, int n, float* scores);

    // Similarity of a and b, read in both directions and the larger taken, so
    // a one-sided table still gives a symmetric score. 0 for an unknown character.
    float GetScore(wchar_t a, wchar_t b) const;

private:
    std::map<wchar_t, int> index;
    int n;
    float* scores;
};

}  // namespace tarvek
