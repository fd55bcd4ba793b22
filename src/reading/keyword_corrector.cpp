#include "reading/keyword_corrector.h"

#include <algorithm>
#include <limits>

namespace tarvek::reading {

namespace {

struct Confusion {
    wchar_t a, b;
    float similarity;
};

// Upper-case Latin letters and digits that OCR takes for each other.
const Confusion LATIN_CONFUSIONS[] = {
    {L'O', L'0', 0.9f}, {L'D', L'0', 0.7f}, {L'Q', L'0', 0.6f}, {L'Q', L'O', 0.7f}, {L'D', L'O', 0.7f},
    {L'I', L'1', 0.9f}, {L'L', L'1', 0.7f}, {L'|', L'1', 0.8f}, {L'I', L'L', 0.8f}, {L'I', L'|', 0.9f},
    {L'L', L'|', 0.7f}, {L'!', L'I', 0.6f}, {L'S', L'5', 0.8f}, {L'B', L'8', 0.8f}, {L'Z', L'2', 0.7f},
    {L'G', L'6', 0.7f}, {L'G', L'C', 0.6f}, {L'T', L'7', 0.6f}, {L'A', L'4', 0.5f}, {L'U', L'V', 0.6f},
    {L'E', L'F', 0.6f}, {L'M', L'N', 0.5f}, {L'H', L'N', 0.5f}, {L'R', L'P', 0.5f}, {L'R', L'K', 0.5f},
};

// Hangul letters by their number in a syllable (initial 0..18, medial 0..20, final 0..27 with
// 0 for none): pairs that differ by a stroke or a short bar.
const Confusion INITIAL_CONFUSIONS[] = {
    {0, 15, 0.7f},  // ㄱ ㅋ
    {0, 1, 0.7f},   // ㄱ ㄲ
    {3, 16, 0.7f},  // ㄷ ㅌ
    {3, 4, 0.7f},   // ㄷ ㄸ
    {2, 3, 0.6f},   // ㄴ ㄷ
    {5, 3, 0.5f},   // ㄹ ㄷ
    {6, 7, 0.6f},   // ㅁ ㅂ
    {7, 8, 0.7f},   // ㅂ ㅃ
    {7, 17, 0.6f},  // ㅂ ㅍ
    {9, 10, 0.7f},  // ㅅ ㅆ
    {9, 12, 0.6f},  // ㅅ ㅈ
    {12, 13, 0.7f}, // ㅈ ㅉ
    {12, 14, 0.7f}, // ㅈ ㅊ
    {11, 18, 0.6f}, // ㅇ ㅎ
};
const Confusion MEDIAL_CONFUSIONS[] = {
    {5, 7, 0.8f},   // ㅔ ㅖ
    {1, 5, 0.8f},   // ㅐ ㅔ
    {1, 3, 0.8f},   // ㅐ ㅒ
    {3, 7, 0.7f},   // ㅒ ㅖ
    {0, 2, 0.7f},   // ㅏ ㅑ
    {4, 6, 0.7f},   // ㅓ ㅕ
    {0, 1, 0.6f},   // ㅏ ㅐ
    {4, 5, 0.6f},   // ㅓ ㅔ
    {8, 12, 0.7f},  // ㅗ ㅛ
    {13, 17, 0.7f}, // ㅜ ㅠ
    {18, 13, 0.6f}, // ㅡ ㅜ
    {18, 8, 0.6f},  // ㅡ ㅗ
    {19, 20, 0.6f}, // ㅢ ㅣ
    {10, 11, 0.7f}, // ㅙ ㅚ
    {10, 15, 0.7f}, // ㅙ ㅞ
    {16, 19, 0.6f}, // ㅟ ㅢ
};
const Confusion FINAL_CONFUSIONS[] = {
    {16, 17, 0.6f}, // ㅁ ㅂ
    {16, 21, 0.6f}, // ㅁ ㅇ
    {1, 2, 0.7f},   // ㄱ ㄲ
    {1, 24, 0.6f},  // ㄱ ㅋ
    {19, 20, 0.7f}, // ㅅ ㅆ
    {7, 25, 0.6f},  // ㄷ ㅌ
    {17, 18, 0.7f}, // ㅂ ㅄ
    {4, 5, 0.6f},   // ㄴ ㄵ
    {4, 6, 0.6f},   // ㄴ ㄶ
    {8, 9, 0.6f},   // ㄹ ㄺ
    {8, 10, 0.6f},  // ㄹ ㄻ
    {8, 11, 0.6f},  // ㄹ ㄼ
};

constexpr int INITIALS = 19, MEDIALS = 21, FINALS = 28;

template <size_t N>
void addConfusions(std::vector<wchar_t>& chars, std::vector<float>& scores, const Confusion (&confusions)[N])
{
    const auto number = [&](wchar_t c) { return int(std::find(chars.begin(), chars.end(), c) - chars.begin()); };
    const int n = static_cast<int>(chars.size());
    for (const Confusion& confusion : confusions)
        scores[number(confusion.a) * n + number(confusion.b)] = confusion.similarity;
}

// A table over the characters of the confusions, 1 on the diagonal.
template <size_t N>
void fillLatin(std::vector<wchar_t>& chars, std::vector<float>& scores, const Confusion (&confusions)[N])
{
    for (const Confusion& confusion : confusions)
        for (wchar_t c : {confusion.a, confusion.b})
            if (std::find(chars.begin(), chars.end(), c) == chars.end())
                chars.push_back(c);
    const size_t n = chars.size();
    scores.assign(n * n, 0.0f);
    for (size_t i = 0; i < n; ++i)
        scores[i * n + i] = 1.0f;
    addConfusions(chars, scores, confusions);
}

// A table over the letter numbers 0..n-1, 1 on the diagonal: the Hangul distance
// multiplies three component scores, so equal letters must score 1.
template <size_t N>
void fillHangul(std::vector<wchar_t>& chars, std::vector<float>& scores, int n, const Confusion (&confusions)[N])
{
    chars.resize(n);
    for (int i = 0; i < n; ++i)
        chars[i] = static_cast<wchar_t>(i);
    scores.assign(size_t(n) * n, 0.0f);
    for (int i = 0; i < n; ++i)
        scores[size_t(i) * n + i] = 1.0f;
    addConfusions(chars, scores, confusions);
}

bool hasHangul(const std::wstring& text)
{
    return std::any_of(text.begin(), text.end(), WeightedEditDistance::IsHangul);
}

wchar_t folded(wchar_t c)
{
    if (c >= L'a' && c <= L'z')
        return c - L'a' + L'A';
    // Latin-1 letters: accents dropped, lower case raised.
    static const wchar_t* const LATIN1 = L"AAAAAAACEEEEIIIIDNOOOOO*OUUUUYPSAAAAAAACEEEEIIIIDNOOOOO/OUUUUYPY";
    if (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7 && c != 0xDF)
        return LATIN1[c - 0xC0];
    return c;
}

} // namespace

// Letters, digits and Hangul: what keywords are made of and compared over. '|' counts,
// as OCR reads I and 1 as it.
bool isWordCharacter(wchar_t c)
{
    if (c < 0x80)
        return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'|';
    const bool symbols = (c >= 0x2000 && c <= 0x2BFF) || (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF00 && c <= 0xFF0F);
    return c >= 0xC0 && c != 0xD7 && c != 0xF7 && !symbols;
}

KeywordCorrector::KeywordCorrector()
{
    fillLatin(latin.chars, latin.scores, LATIN_CONFUSIONS);
    fillHangul(initials.chars, initials.scores, INITIALS, INITIAL_CONFUSIONS);
    fillHangul(medials.chars, medials.scores, MEDIALS, MEDIAL_CONFUSIONS);
    fillHangul(finals.chars, finals.scores, FINALS, FINAL_CONFUSIONS);
    const auto set = [&](Table& table, ConfusionMatrixType type) {
        distance.SetConfusionMatrix(table.chars.data(), static_cast<int>(table.chars.size()), table.scores.data(),
                                    type);
    };
    set(latin, CM_CHARACTER_PRIMARY);
    set(initials, CM_INITIAL_CONSONANT);
    set(medials, CM_MEDIAL_VOWEL);
    set(finals, CM_FINAL_CONSONANT);
}

KeywordCorrector::KeywordCorrector(const std::vector<std::wstring>& words) : KeywordCorrector()
{
    SetDictionary(words);
}

std::wstring KeywordCorrector::Folded(const std::wstring& text)
{
    std::wstring result(text);
    std::transform(result.begin(), result.end(), result.begin(), folded);
    return result;
}

std::wstring KeywordCorrector::Compact(const std::wstring& text)
{
    std::wstring result;
    std::copy_if(text.begin(), text.end(), std::back_inserter(result), isWordCharacter);
    return Folded(result);
}

bool KeywordCorrector::SetDictionary(const std::vector<std::wstring>& words)
{
    dictionary.clear();
    for (const std::wstring& word : words)
        if (!Compact(word).empty())
            dictionary.push_back(Compact(word));
    return !dictionary.empty();
}

float KeywordCorrector::Distance(const std::wstring& recognised, const std::wstring& keyword) const
{
    const std::wstring text = Compact(recognised), word = Compact(keyword);
    if (hasHangul(word))
        return distance.GetHangulDictance(text, word, nullptr, true);
    return distance.GetDictance(text, word, true, CM_CHARACTER_PRIMARY);
}

float KeywordCorrector::Relative(const std::wstring& recognised, const std::wstring& keyword) const
{
    return keyword.empty() ? 1.0f : Distance(recognised, keyword) / float(keyword.size());
}

std::wstring KeywordCorrector::Correct(const std::wstring& recognised)
{
    float best = std::numeric_limits<float>::max();
    const std::wstring* closest = nullptr;
    for (const std::wstring& word : dictionary) {
        const float relative = Relative(recognised, word);
        if (relative < best) {
            best = relative;
            closest = &word;
        }
    }
    return closest && best <= MAX_RELATIVE_DISTANCE ? *closest : recognised;
}

float KeywordCorrector::GetConfidence(const std::wstring& recognised, const std::wstring& corrected)
{
    return std::clamp(1.0f - Relative(recognised, corrected), 0.0f, 1.0f);
}

std::optional<KeywordCorrector::Occurrence> KeywordCorrector::Find(const std::wstring& text) const
{
    // The word characters of the text, with their places in it.
    std::wstring compact;
    std::vector<size_t> places;
    std::vector<bool> starts;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!isWordCharacter(text[i]))
            continue;
        starts.push_back(i == 0 || !isWordCharacter(text[i - 1]));
        compact.push_back(text[i]);
        places.push_back(i);
    }
    std::optional<Occurrence> best;
    float bestRelative = MAX_RELATIVE_DISTANCE;
    for (const std::wstring& word : dictionary) {
        for (size_t begin = 0; begin < compact.size(); ++begin) {
            if (!starts[begin])
                continue;
            // One letter more or fewer than the keyword: OCR splits and merges letters.
            const size_t shortest = std::max<size_t>(1, word.size() - 1);
            for (size_t length = shortest; length <= word.size() + 1 && begin + length <= compact.size(); ++length) {
                const float relative = Relative(compact.substr(begin, length), word);
                if (relative < bestRelative || (!best && relative <= bestRelative)) {
                    bestRelative = relative;
                    best = Occurrence{word, places[begin], places[begin + length - 1] + 1, 1.0f - relative};
                }
            }
        }
    }
    return best;
}

} // namespace tarvek::reading
