// The parsers behind receiptFields, each on one line of recognised text.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvek::reading {

struct Amount {
    std::string value;    // decimal string with '.', e.g. "420000", "24.23"
    std::string currency; // ISO code printed beside it (or anywhere in the text), else empty
};

// The last amount in the text: 420,000 / 420.000원 / 24,23 / 1.234,56 / RM 9.00; letters that OCR
// reads for digits inside a number (O, l, I, S, B) count as those digits.
std::optional<Amount> amountIn(const std::string& text);

// The currency printed in the text ("KRW" for 원, ₩ or \, "EUR" for € or EUR, "MYR" for RM...), else empty.
std::string currencyIn(const std::string& text);

// What a page tells about the order of a date printed with a two-digit year (10.01.19, 19/01/10).
struct DateEvidence {
    bool yearFirst = false;  // the page is Korean, where dates print year first (others day first)
    std::vector<int> years;  // the years of the page's dates printed in full (2019, 10 Jan 2019)
    std::string today;       // YYYY-MM-DD: a later reading is implausible; empty, no bound
};

// The evidence of the page's lines: Hangul on it, its full-year dates, today's date.
DateEvidence dateEvidence(const std::vector<std::string>& lines);

// The first valid date in the text as YYYY-MM-DD: 2019-01-10, 2019.01.10, 10.01.2019,
// 2019년 1월 10일, 10 Jan 2019, Jan 10, 2019 as printed; 19/01/10 or 10/01/19 in the order that
// gives a valid date and fits the evidence best.
std::optional<std::string> dateIn(const std::string& text, const DateEvidence& evidence);

// dateIn with the evidence of the text alone.
std::optional<std::string> dateIn(const std::string& text);

// A telephone number in the text as printed (digits, '+', and the separators between them):
// 02-123-4567, 1577-5448, +82 2 123 4567, (0)30 1234567. The one after a telephone keyword wins;
// numbers after a fax keyword, tax or business numbers and dates are not telephones.
std::optional<std::string> telephoneIn(const std::string& text);

// The digits that OCR letters stand for inside runs of digits ("1O.5O" -> "10.50").
std::wstring withDigitsRestored(const std::wstring& text);

} // namespace tarvek::reading
