// Recognised words matched to a dictionary of keywords by an edit distance in
// which the letters, digits and Hangul letters that OCR confuses (O and 0,
// S and 5, the vowels of 게 and 계, ㄱ and ㅋ...) are cheap to substitute.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "GenericPostprocessor.h"
#include "weighted_edit_distance.h"

namespace tarvek::reading {

// Letters, digits and Hangul: what keywords are made of and compared over.
bool isWordCharacter(wchar_t c);

class KeywordCorrector : public GenericPostprocessor {
public:
    KeywordCorrector();
    explicit KeywordCorrector(const std::vector<std::wstring>& words);
    KeywordCorrector(const KeywordCorrector&) = delete;
    KeywordCorrector& operator=(const KeywordCorrector&) = delete;

    // Keywords are kept in their compact form (see Compact); words left empty are dropped.
    // False when no word is left.
    bool SetDictionary(const std::vector<std::wstring>& words) override;

    // The closest keyword when it is close enough (see MAX_RELATIVE_DISTANCE), otherwise `recognised`.
    std::wstring Correct(const std::wstring& recognised) override;

    // 1 - distance / keyword length, clipped to [0, 1].
    float GetConfidence(const std::wstring& recognised, const std::wstring& corrected) override;

    // A keyword found in a longer text: its place [begin, end) in the text and the confidence.
    struct Occurrence {
        std::wstring keyword;
        size_t begin = 0, end = 0;
        float confidence = 0;
    };
    // The keyword that best matches a stretch of the text starting at a word start, ignoring
    // spaces and punctuation inside it ("합 계", "ZU ZAHLEN"); nothing when none is close enough.
    std::optional<Occurrence> Find(const std::wstring& text) const;

    // Weighted distance of the compact recognised text from the compact keyword: Hangul keywords through
    // their letters, the others through the letter and digit confusions.
    float Distance(const std::wstring& recognised, const std::wstring& keyword) const;

    // Upper case for Latin letters, umlauts and accents dropped, so that case and
    // diacritics OCR often loses cost nothing.
    static std::wstring Folded(const std::wstring& text);
    // Folded, with spaces and punctuation left out: "Zu zahlen:" and "ZUZAHLEN" compare equal.
    static std::wstring Compact(const std::wstring& text);

    // Distances up to this share of the keyword's length count as a match.
    static constexpr float MAX_RELATIVE_DISTANCE = 0.3f;

private:
    float Relative(const std::wstring& recognised, const std::wstring& keyword) const;

    struct Table {
        std::vector<wchar_t> chars;
        std::vector<float> scores;
    };
    // The matrices borrow these tables, so they live as long as the distance.
    Table latin, initials, medials, finals;
    WeightedEditDistance distance;
    std::vector<std::wstring> dictionary;
};

} // namespace tarvek::reading
