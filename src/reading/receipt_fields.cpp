#include <algorithm>
#include <ctime>
#include <cwctype>
#include <map>
#include <regex>

#include "reading/keyword_corrector.h"
#include "reading/reading.h"
#include "reading/receipt_fields_internal.h"
#include "reading/wide_text.h"

namespace tarvek::reading {

namespace {

// ---------------------------------------------------------------------------
// Text helpers
// ---------------------------------------------------------------------------

bool isDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// Letters OCR reads for digits, and the digits they stand for.
wchar_t digitFor(wchar_t c)
{
    switch (c) {
    case L'O': case L'o': case L'D': return L'0';
    case L'l': case L'I': case L'|': return L'1';
    case L'S': return L'5';
    case L'B': return L'8';
    default: return 0;
    }
}

bool containsAny(const std::wstring& folded, std::initializer_list<const wchar_t*> words)
{
    return std::any_of(words.begin(), words.end(),
                       [&](const wchar_t* word) { return folded.find(word) != std::wstring::npos; });
}

int digitCount(const std::wstring& text)
{
    return static_cast<int>(std::count_if(text.begin(), text.end(), isDigit));
}

std::wstring trimmed(const std::wstring& text)
{
    const auto first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos)
        return {};
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// ---------------------------------------------------------------------------
// Amounts and currencies
// ---------------------------------------------------------------------------

struct CurrencySign {
    const wchar_t* sign;
    const char* code;
};

// Longer signs before the shorter ones they contain.
const CurrencySign CURRENCIES[] = {
    {L"KRW", "KRW"}, {L"원", "KRW"}, {L"₩", "KRW"}, {L"￦", "KRW"}, {L"\\", "KRW"},
    {L"EURO", "EUR"}, {L"EUR", "EUR"}, {L"€", "EUR"},
    {L"USD", "USD"}, {L"US$", "USD"}, {L"MYR", "MYR"}, {L"RM", "MYR"}, {L"SGD", "SGD"}, {L"S$", "SGD"},
    {L"GBP", "GBP"}, {L"£", "GBP"}, {L"CHF", "CHF"}, {L"JPY", "JPY"}, {L"¥", "JPY"}, {L"$", "USD"},
};

bool isLatinLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// A sign made of letters counts only as a word of its own ("RM", not the "rm" in "Form").
bool standsAlone(const std::wstring& text, size_t at, size_t length)
{
    if (!isLatinLetter(text[at]))
        return true;
    const bool before = at == 0 || !isLatinLetter(text[at - 1]);
    const bool after = at + length >= text.size() || !isLatinLetter(text[at + length]);
    // "EURO24,23" and "RM9.00" are common; a following letter is not.
    return before && after;
}

// The currency whose sign is closest to the place in the text.
std::string currencyNear(const std::wstring& text, size_t place)
{
    std::string code;
    size_t nearest = std::wstring::npos;
    const std::wstring upper = KeywordCorrector::Folded(text);
    for (const CurrencySign& currency : CURRENCIES) {
        const std::wstring sign = currency.sign;
        for (size_t at = upper.find(sign); at != std::wstring::npos; at = upper.find(sign, at + 1)) {
            if (!standsAlone(upper, at, sign.size()))
                continue;
            const size_t away = at > place ? at - place : place - at;
            if (away < nearest) {
                nearest = away;
                code = currency.code;
            }
        }
    }
    return code;
}

constexpr long MAX_PLAIN_AMOUNT_DIGITS = 7;

// Thousands groups, then an optional decimal part of one or two digits.
const std::wregex& amountPattern()
{
    // OCR sometimes doubles a separator ("222,.200").
    static const std::wregex pattern(
        LR"((^|[^\d.,])(\d{1,3}(?:[.,' ][.,]?\d{3})+|\d{1,12})(?:[.,] ?(\d{1,2}))?(?![\d]))");
    return pattern;
}

std::string decimalOf(const std::wstring& whole, const std::wstring& fraction)
{
    std::wstring digits;
    std::copy_if(whole.begin(), whole.end(), std::back_inserter(digits), isDigit);
    digits.erase(0, std::min(digits.find_first_not_of(L'0'), digits.size() - 1));
    if (!fraction.empty())
        digits += L"." + (fraction.size() == 1 ? fraction + L"0" : fraction);
    return narrowed(digits);
}

// ---------------------------------------------------------------------------
// Dates
// ---------------------------------------------------------------------------

bool validDate(int year, int month, int day)
{
    static const int DAYS[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return year >= 1980 && year <= 2099 && month >= 1 && month <= 12 && day >= 1 && day <= DAYS[month - 1];
}

std::optional<std::string> isoDate(int year, int month, int day)
{
    if (year < 100)
        year += 2000;
    if (!validDate(year, month, day))
        return std::nullopt;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return std::string(text);
}

int numberOf(const std::wsmatch& match, int group)
{
    return std::stoi(match[group].str());
}

const wchar_t* const MONTHS[] = {L"JAN", L"FEB", L"MAR", L"APR", L"MAY", L"JUN",
                                 L"JUL", L"AUG", L"SEP", L"OCT", L"NOV", L"DEC"};

// Month number of an English or German month name's first letters (folded), 0 when none.
int monthNamed(const std::wstring& name)
{
    for (int i = 0; i < 12; ++i)
        if (name.compare(0, 3, MONTHS[i]) == 0)
            return i + 1;
    if (name.compare(0, 3, L"MAI") == 0)
        return 5;
    if (name.compare(0, 3, L"OKT") == 0)
        return 10;
    if (name.compare(0, 3, L"DEZ") == 0)
        return 12;
    return 0;
}

int yearOf(const std::string& iso)
{
    return std::stoi(iso.substr(0, 4));
}

// How well a reading of a two-digit-year date fits the page: the order the page's language prints
// first, then the years of the page's dates printed in full; a date after today is implausible.
int readingScore(const std::string& iso, bool preferredOrder, const DateEvidence& evidence)
{
    int score = preferredOrder ? 2 : 0;
    if (!evidence.years.empty()) {
        int nearest = 1000;
        for (int year : evidence.years)
            nearest = std::min(nearest, std::abs(year - yearOf(iso)));
        score += nearest <= 1 ? 4 : nearest > 5 ? -4 : 0;
    }
    if (!evidence.today.empty() && iso > evidence.today)
        score -= 8;
    return score;
}

// 19/01/10, 10.01.19, 01/10/19: the valid reading that fits the page best (year, day or month first).
std::optional<std::string> twoDigitYearDate(int a, int b, int c, const DateEvidence& evidence)
{
    const std::optional<std::string> yearFirst = isoDate(a, b, c), dayFirst = isoDate(c, b, a),
                                     monthFirst = isoDate(c, a, b);
    std::optional<std::string> best;
    int bestScore = 0;
    for (const auto& [reading, preferred] : {std::pair{yearFirst, evidence.yearFirst},
                                             std::pair{dayFirst, !evidence.yearFirst},
                                             std::pair{monthFirst, false}}) {
        if (!reading)
            continue;
        const int score = readingScore(*reading, preferred, evidence);
        if (!best || score > bestScore)
            best = reading, bestScore = score;
    }
    return best;
}

// One date form: a pattern and how its groups make a date (none when they make no valid one).
// A form with a two-digit year needs the page's evidence to decide its order.
struct DateForm {
    std::wregex pattern;
    std::optional<std::string> (*date)(const std::wsmatch&, const DateEvidence&);
    bool twoDigitYear = false;
};

const std::vector<DateForm>& dateForms()
{
    static const std::vector<DateForm> forms = {
        // 2019년 1월 10일
        {std::wregex(LR"((\d{4})\s*년\s*(\d{1,2})\s*월\s*(\d{1,2})\s*일)"),
         [](const std::wsmatch& m, const DateEvidence&) { return isoDate(numberOf(m, 1), numberOf(m, 2), numberOf(m, 3)); }},
        // 2019-01-10, 2019.01.10, 2019/1/10
        {std::wregex(LR"((?:^|\D)(\d{4}) ?([-./]) ?(\d{1,2}) ?\2 ?(\d{1,2})(?!\d))"),
         [](const std::wsmatch& m, const DateEvidence&) { return isoDate(numberOf(m, 1), numberOf(m, 3), numberOf(m, 4)); }},
        // 10.01.2019, 10/01/2019 (day first; month first when the day cannot be one)
        {std::wregex(LR"((?:^|\D)(\d{1,2}) ?([-./]) ?(\d{1,2}) ?[-./,] ?(\d{4})(?!\d))"),
         [](const std::wsmatch& m, const DateEvidence&) {
             auto date = isoDate(numberOf(m, 4), numberOf(m, 3), numberOf(m, 1));
             return date ? date : isoDate(numberOf(m, 4), numberOf(m, 1), numberOf(m, 3));
         }},
        // 19/01/10, 10.01.19, 10-01-19: the order by the page's evidence
        {std::wregex(LR"((?:^|[^\d.,])(\d{2})([-./])(\d{2})\2(\d{2})(?![\d,]|\.\d))"),
         [](const std::wsmatch& m, const DateEvidence& evidence) {
             return twoDigitYearDate(numberOf(m, 1), numberOf(m, 3), numberOf(m, 4), evidence);
         },
         true},
        // 10 Jan 2019, 10. MÄRZ 2020
        {std::wregex(LR"((?:^|\D)(\d{1,2})\.? ?([A-Z]{3,9})\.?,? ?(\d{4})(?!\d))"),
         [](const std::wsmatch& m, const DateEvidence&) { return isoDate(numberOf(m, 3), monthNamed(m[2].str()), numberOf(m, 1)); }},
        // Jan 10, 2019
        {std::wregex(LR"(([A-Z]{3,9})\.? ?(\d{1,2}),? ?(\d{4})(?!\d))"),
         [](const std::wsmatch& m, const DateEvidence&) { return isoDate(numberOf(m, 3), monthNamed(m[1].str()), numberOf(m, 2)); }},
    };
    return forms;
}

// The first date of the text, by the forms chosen.
std::optional<std::string> firstDate(const std::string& utf8, const DateEvidence& evidence, bool twoDigitYears)
{
    const std::wstring text = KeywordCorrector::Folded(withDigitsRestored(widened(utf8)));
    for (const DateForm& form : dateForms()) {
        if (form.twoDigitYear && !twoDigitYears)
            continue;
        for (std::wsregex_iterator it(text.begin(), text.end(), form.pattern), end; it != end; ++it)
            if (auto date = form.date(*it, evidence))
                return date;
    }
    return std::nullopt;
}

std::string today()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
    return text;
}

// ---------------------------------------------------------------------------
// Telephones
// ---------------------------------------------------------------------------

struct Telephone {
    std::wstring number;
    int score = 0;
};

const std::wregex& telephonePattern()
{
    // A run of digits and separators, opened by a digit, '+' or '('.
    static const std::wregex pattern(LR"([+(]?\d[\d \-./()]{5,}\d)");
    return pattern;
}

bool looksLikeOtherNumber(const std::wstring& number)
{
    // Korean business registration numbers (123-45-67890) and dates are printed nearby.
    static const std::wregex business(LR"(^\d{3}-\d{2}-\d{5}$)");
    return std::regex_match(number, business) || dateIn(narrowed(number)).has_value();
}

// Telephone candidate score: higher for a keyword before it and a typical start; none for a
// number that is no telephone.
std::optional<Telephone> scoredTelephone(const std::wstring& number, const std::wstring& before)
{
    const int digits = digitCount(number);
    if (digits < 8 || digits > 15 || looksLikeOtherNumber(number))
        return std::nullopt;
    const std::wstring context = KeywordCorrector::Folded(before);
    if (containsAny(context, {L"FAX", L"팩스", L"사업자", L"등록", L"STEUER", L"ST.", L"UST", L"UID", L"TID", L"MID",
                              L"IBAN", L"BLZ", L"KONTO", L"KARTE", L"CARD", L"카드", L"승인", L"TRACE", L"BELEG",
                              L"BON", L"TERMINAL", L"NR", L"NO.", L"#"}) &&
        !containsAny(context, {L"TEL", L"전화", L"PHONE", L"FON"}))
        return std::nullopt;
    Telephone phone{number, 0};
    if (containsAny(context, {L"TEL", L"전화", L"PHONE", L"FON", L"☎", L"T."}))
        phone.score += 3;
    const wchar_t first = number[0];
    static const std::wregex serviceNumber(LR"(^1[5-8]\d\d-\d{4}$)");
    if (first == L'0' || first == L'+' || first == L'(' || std::regex_match(number, serviceNumber))
        phone.score += 2;
    const bool separated = number.find_first_of(L" -./()") != std::wstring::npos;
    if (separated)
        phone.score += 1;
    return phone.score >= 2 ? std::optional<Telephone>(phone) : std::nullopt;
}

std::optional<Telephone> telephoneOf(const std::wstring& text)
{
    std::optional<Telephone> best;
    size_t previousEnd = 0;
    for (std::wsregex_iterator it(text.begin(), text.end(), telephonePattern()), end; it != end; ++it) {
        const size_t at = static_cast<size_t>(it->position());
        std::wstring number = trimmed(it->str());
        // A closing bracket with no opening one belongs to the text around.
        if (number.back() == L')' && number.find(L'(') == std::wstring::npos)
            number.pop_back();
        const auto phone = scoredTelephone(number, text.substr(previousEnd, at - previousEnd));
        previousEnd = at + it->length();
        if (phone && (!best || phone->score > best->score))
            best = phone;
    }
    return best;
}

// ---------------------------------------------------------------------------
// Keywords of the total and of what is not the business name
// ---------------------------------------------------------------------------

// Lines with these keywords carry the total.
const std::vector<std::wstring> TOTAL_KEYWORDS = {
    L"합계", L"총합계", L"합계금액", L"총액", L"총금액", L"결제금액", L"받을금액", L"청구금액",
    L"TOTAL", L"AMOUNT", L"SUMME", L"GESAMT", L"GESAMTBETRAG", L"ZU ZAHLEN", L"BETRAG", L"GRAND TOTAL",
    L"TOTAL DUE", L"AMOUNT DUE", L"BALANCE DUE", L"ENDSUMME"};
// Near-namesakes of the total that are not it: the closest keyword decides what a line is.
const std::vector<std::wstring> NOT_TOTAL_KEYWORDS = {
    L"소계", L"부가세", L"과세", L"면세", L"받은금액", L"거스름돈", L"할인", L"SUBTOTAL", L"SUB TOTAL",
    L"ZWISCHENSUMME", L"NETTO", L"MWST", L"STEUER", L"TAX", L"GST", L"VAT", L"CHANGE", L"CASH", L"BARGELD",
    L"GEGEBEN", L"RUCKGELD", L"ZURUCK", L"DISCOUNT", L"RABATT", L"ROUNDING", L"TOTAL QTY", L"TOTAL ITEMS",
    L"ANZAHL", L"POSITIONEN", L"SERVICE CHARGE", L"SRV CHG", L"RND ADJ"};
// Lines that head or frame a receipt rather than name its business.
const std::vector<std::wstring> NOT_NAME_KEYWORDS = {
    L"영수증", L"신용카드", L"매출전표", L"고객용", L"사업자", L"대표", L"주소", L"전화", L"RECEIPT", L"INVOICE",
    L"TAX INVOICE", L"KASSENBON", L"KUNDENBELEG", L"RECHNUNG", L"BELEG", L"QUITTUNG", L"WELCOME", L"WILLKOMMEN", L"TEL",
    L"TELEFON", L"PHONE", L"FAX", L"DATE", L"DATUM", L"CASHIER", L"KASSE", L"BON", L"STEUER", L"UST",
    // Column heads and farewells.
    L"상품명", L"수량", L"단가", L"금액", L"감사합니다", L"ITEM", L"QTY", L"PRICE", L"ARTIKEL", L"MENGE",
    L"THANK YOU", L"VIELEN DANK"};

struct Keywords {
    KeywordCorrector total{TOTAL_KEYWORDS};
    KeywordCorrector notTotal{NOT_TOTAL_KEYWORDS};
    KeywordCorrector notName{NOT_NAME_KEYWORDS};
};

// Built once: the confusion tables and dictionaries are read only afterwards.
const Keywords& keywords()
{
    static const Keywords shared;
    return shared;
}

// ---------------------------------------------------------------------------
// Fields from lines
// ---------------------------------------------------------------------------

struct Candidate {
    size_t line;
    Amount amount;
    float confidence;
};

bool sameRow(const cv::Rect& a, const cv::Rect& b)
{
    const int overlap = std::min(a.br().y, b.br().y) - std::max(a.y, b.y);
    return overlap > 0.5 * std::min(a.height, b.height);
}

// The amount printed after the keyword: on its line, on a line of the same row to its
// right, or alone on the next line.
std::optional<Amount> amountAfter(const std::vector<Line>& lines, size_t index, const std::wstring& after)
{
    if (auto amount = amountIn(narrowed(after)))
        return amount;
    const Line& line = lines[index];
    for (size_t other = 0; other < lines.size(); ++other)
        if (other != index && sameRow(line.box, lines[other].box) && lines[other].box.x > line.box.x)
            if (auto amount = amountIn(lines[other].text))
                return amount;
    if (index + 1 < lines.size()) {
        const std::wstring next = widened(lines[index + 1].text);
        // Only a line that is little more than the amount itself.
        const auto letters = std::count_if(next.begin(), next.end(), [](wchar_t c) { return std::iswalpha(c); });
        if (letters <= 3 && digitCount(next) * 2 >= static_cast<int>(trimmed(next).size()) - 3)
            return amountIn(lines[index + 1].text);
    }
    return std::nullopt;
}

std::optional<Candidate> totalOn(const std::vector<Line>& lines, size_t index)
{
    const std::wstring text = widened(lines[index].text);
    const auto total = keywords().total.Find(text);
    if (!total)
        return std::nullopt;
    const auto other = keywords().notTotal.Find(text);
    // A namesake as close (SUBTOTAL for TOTAL, 받은금액 for 받을금액), or one before the keyword that
    // qualifies it (MWST-BETRAG, TAX TOTAL) or right after it (TOTAL TAX, TOTAL GST), makes it
    // another line; one further after it ("TOTAL INCL. GST") does not.
    if (other && other->confidence >= total->confidence &&
        (other->begin <= total->begin || std::none_of(text.begin() + total->end, text.begin() + other->begin, isWordCharacter)))
        return std::nullopt;
    auto amount = amountAfter(lines, index, text.substr(total->end));
    if (!amount)
        return std::nullopt;
    return Candidate{index, *amount, total->confidence};
}

// The currency printed on most lines (a misread sign on one line does not decide it).
std::string receiptCurrency(const std::vector<Line>& lines)
{
    std::map<std::string, int> counts;
    for (const Line& line : lines)
        if (std::string code = currencyIn(line.text); !code.empty())
            ++counts[code];
    const auto most = std::max_element(counts.begin(), counts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    return most == counts.end() ? std::string() : most->first;
}

// Whether decimal string a is below b, compared as text so that no length of digits overflows.
bool smallerAmount(const std::string& a, const std::string& b)
{
    const size_t pointA = std::min(a.find('.'), a.size()), pointB = std::min(b.find('.'), b.size());
    if (pointA != pointB)
        return pointA < pointB;
    return a < b; // same number of whole digits: the text order is the numeric order
}

// ---------------------------------------------------------------------------
// The total's agreement with the receipt's other amounts
// ---------------------------------------------------------------------------

// Amounts a receipt prints besides its total, by what they are; the sums they make imply the total.
struct PrintedAmounts {
    std::vector<long long> subtotals, taxes, discounts, cash, change, roundings; // in cents
    long long items = 0;
    int itemCount = 0;
};

// An amount in cents; none when it is too long to be a receipt's.
std::optional<long long> centsOf(const std::string& decimal)
{
    const size_t point = std::min(decimal.find('.'), decimal.size());
    if (point > 12)
        return std::nullopt;
    const long long whole = point ? std::stoll(decimal.substr(0, point)) : 0;
    return whole * 100 + (point < decimal.size() ? std::stoll(decimal.substr(point + 1)) : 0);
}

// Where an amount on a line of a not-total keyword goes (keywords in their compact form).
std::vector<long long>* roleOf(PrintedAmounts& printed, const std::wstring& keyword)
{
    static const std::map<std::wstring, std::vector<long long> PrintedAmounts::*> roles = {
        {L"SUBTOTAL", &PrintedAmounts::subtotals}, {L"ZWISCHENSUMME", &PrintedAmounts::subtotals},
        {L"소계", &PrintedAmounts::subtotals}, {L"TAX", &PrintedAmounts::taxes}, {L"GST", &PrintedAmounts::taxes},
        {L"VAT", &PrintedAmounts::taxes}, {L"MWST", &PrintedAmounts::taxes}, {L"부가세", &PrintedAmounts::taxes},
        {L"SERVICECHARGE", &PrintedAmounts::taxes}, {L"SRVCHG", &PrintedAmounts::taxes},
        {L"ROUNDING", &PrintedAmounts::roundings}, {L"RNDADJ", &PrintedAmounts::roundings},
        {L"DISCOUNT", &PrintedAmounts::discounts}, {L"RABATT", &PrintedAmounts::discounts},
        {L"할인", &PrintedAmounts::discounts}, {L"CASH", &PrintedAmounts::cash}, {L"BARGELD", &PrintedAmounts::cash},
        {L"GEGEBEN", &PrintedAmounts::cash}, {L"받은금액", &PrintedAmounts::cash},
        {L"CHANGE", &PrintedAmounts::change}, {L"RUCKGELD", &PrintedAmounts::change},
        {L"ZURUCK", &PrintedAmounts::change}, {L"거스름돈", &PrintedAmounts::change}};
    const auto found = roles.find(keyword);
    return found == roles.end() ? nullptr : &(printed.*(found->second));
}

// The totals the other amounts imply: each subtotal (else the items' sum) with tax, or alone when
// no tax is printed, and less a discount; cash less change. A total read right usually agrees with
// one or more of them.
std::vector<long long> impliedTotals(const PrintedAmounts& printed)
{
    std::vector<long long> implied, bases = printed.subtotals;
    if (bases.empty() && printed.itemCount >= 2)
        bases.push_back(printed.items);
    for (long long base : bases) {
        for (long long tax : printed.taxes)
            implied.push_back(base + tax);
        if (printed.taxes.empty())
            implied.push_back(base);
        for (long long discount : printed.discounts)
            implied.push_back(base - discount);
    }
    // A rounding's sign is often lost: the total is either way from the sum.
    const size_t unrounded = implied.size();
    for (long long rounding : printed.roundings)
        for (size_t i = 0; i < unrounded && rounding != 0; ++i)
            implied.insert(implied.end(), {implied[i] + rounding, implied[i] - rounding});
    for (long long cash : printed.cash)
        for (long long change : printed.change)
            if (cash > change)
                implied.push_back(cash - change);
    return implied;
}

// Reads the lines once: the total candidates, and the other amounts by what they are. Items are
// the amounts with cents above the first line of a sum.
std::vector<Candidate> totalCandidates(const std::vector<Line>& lines, PrintedAmounts& printed)
{
    std::vector<Candidate> candidates;
    bool itemsEnded = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (auto candidate = totalOn(lines, i)) {
            candidates.push_back(*candidate);
            itemsEnded = true;
            continue;
        }
        const std::wstring text = widened(lines[i].text);
        if (const auto other = keywords().notTotal.Find(text)) {
            const auto amount = amountAfter(lines, i, text.substr(other->end));
            const auto cents = amount ? centsOf(amount->value) : std::nullopt;
            // The same amount twice (a tax summary repeating the tax) is one piece of evidence.
            std::vector<long long>* role = roleOf(printed, other->keyword);
            if (cents && role && std::find(role->begin(), role->end(), *cents) == role->end())
                role->push_back(*cents);
            itemsEnded |= cents.has_value();
            continue;
        }
        if (itemsEnded || dateIn(lines[i].text))
            continue;
        if (const auto amount = amountIn(lines[i].text); amount && amount->value.find('.') != std::string::npos)
            if (const auto cents = centsOf(amount->value)) {
                printed.items += *cents;
                ++printed.itemCount;
            }
    }
    return candidates;
}

// Keyword confidences closer than this are taken as equal.
constexpr float SAME_CONFIDENCE = 0.05f;

// A total's agreement: the implied totals and the other total lines that equal it, and an earlier
// total line a printed rounding away (the total before rounding). A zero agrees with nothing: it
// is a tax or a column of a summary, not what was paid.
int agreement(const Candidate& candidate, const std::vector<Candidate>& candidates, const PrintedAmounts& printed,
              const std::vector<long long>& implied)
{
    const auto cents = centsOf(candidate.amount.value);
    if (!cents || *cents == 0)
        return 0;
    int count = static_cast<int>(std::count(implied.begin(), implied.end(), *cents));
    for (const Candidate& other : candidates) {
        const auto otherCents = centsOf(other.amount.value);
        if (other.line == candidate.line || !otherCents)
            continue;
        count += *otherCents == *cents;
        if (other.line < candidate.line)
            for (long long rounding : printed.roundings)
                count += rounding != 0 && std::llabs(*otherCents - *cents) == rounding;
    }
    return count;
}

std::string decimalOfCents(long long cents)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%02lld", cents / 100, cents % 100);
    return text;
}

// A value that two of the implied totals agree on, when the total read agrees with none: the
// total's line was misread.
std::optional<std::string> agreedImpliedTotal(const std::vector<long long>& implied)
{
    for (size_t i = 0; i < implied.size(); ++i)
        if (implied[i] > 0 && std::count(implied.begin() + i + 1, implied.end(), implied[i]) > 0)
            return decimalOfCents(implied[i]);
    return std::nullopt;
}

// The total that agrees most with the receipt's other amounts; among equals the surest keyword,
// then the largest amount (subtotals and taxes that slip through are smaller).
std::optional<Total> totalField(const std::vector<Line>& lines)
{
    PrintedAmounts printed;
    const std::vector<Candidate> candidates = totalCandidates(lines, printed);
    const std::vector<long long> implied = impliedTotals(printed);
    const Candidate* best = nullptr;
    int bestAgreement = 0;
    for (const Candidate& candidate : candidates) {
        const int agrees = agreement(candidate, candidates, printed, implied);
        if (!best || agrees > bestAgreement ||
            (agrees == bestAgreement &&
             (candidate.confidence > best->confidence + SAME_CONFIDENCE ||
              (candidate.confidence > best->confidence - SAME_CONFIDENCE &&
               smallerAmount(best->amount.value, candidate.amount.value))))) {
            best = &candidate;
            bestAgreement = agrees;
        }
    }
    if (!best)
        return std::nullopt;
    const Line& line = lines[best->line];
    Total total;
    static_cast<Field&>(total) = Field{best->amount.value, line.text, line.box, line.confidence * best->confidence};
    if (const auto agreed = agreedImpliedTotal(implied); agreed && bestAgreement == 0)
        total.value = *agreed;
    total.currency = best->amount.currency.empty() ? receiptCurrency(lines) : best->amount.currency;
    return total;
}

// The date printed most often (a receipt repeats it on its card slip, and a misread copy
// rarely repeats); among equals a date named as such, then the first.
std::optional<Field> dateField(const std::vector<Line>& lines)
{
    std::vector<std::string> texts;
    for (const Line& line : lines)
        texts.push_back(line.text);
    const DateEvidence evidence = dateEvidence(texts);
    struct Seen {
        Field field;
        int count;
        bool named;
    };
    std::vector<Seen> seen;
    for (const Line& line : lines) {
        const auto date = dateIn(line.text, evidence);
        if (!date)
            continue;
        const std::wstring folded = KeywordCorrector::Folded(widened(line.text));
        const bool named = containsAny(folded, {L"DATE", L"DATUM", L"일자", L"일시", L"날짜", L"거래"});
        auto same = std::find_if(seen.begin(), seen.end(), [&](const Seen& s) { return s.field.value == *date; });
        if (same == seen.end())
            seen.push_back({Field{*date, line.text, line.box, line.confidence}, 1, named});
        else
            ++same->count, same->named |= named;
    }
    const auto better = [](const Seen& a, const Seen& b) { return a.count != b.count ? a.count > b.count : a.named > b.named; };
    std::stable_sort(seen.begin(), seen.end(), better);
    return seen.empty() ? std::nullopt : std::optional<Field>(seen.front().field);
}

std::optional<Field> telephoneField(const std::vector<Line>& lines)
{
    std::optional<Field> best;
    int bestScore = 0;
    for (const Line& line : lines) {
        const auto phone = telephoneOf(withDigitsRestored(widened(line.text)));
        if (phone && phone->score > bestScore) {
            bestScore = phone->score;
            best = Field{narrowed(phone->number), line.text, line.box, line.confidence};
        }
    }
    return best;
}

// A street address: a Korean road or province with a number, a German street with a number, or
// a postcode before a town.
bool isAddress(const std::wstring& text)
{
    static const std::wregex address(
        LR"((특별시|광역시|[가-힣]+(로|길) ?\d+)|((STRASSE|STRAßE|STR\.|WEG|PLATZ|ALLEE|GASSE) ?\d+)|(^|\D)\d{5} [A-Z][A-Z]+)");
    return std::regex_search(KeywordCorrector::Folded(text), address);
}

// Lines among the first ones that could name the business: enough letters, no field or heading.
// A price on a line makes it an item or a sum, not a name; the first one ends a receipt's head.
bool hasPrice(const std::wstring& text)
{
    static const std::wregex price(LR"(\d[.,']\d{3}(?!\d)|\d[.,]\d{2}(?!\d))");
    return std::regex_search(text, price);
}

// `text` is the line's text, or the part of it that would be the name.
bool couldBeName(const Line& line, const std::wstring& text)
{
    const int letters = static_cast<int>(std::count_if(text.begin(), text.end(), [](wchar_t c) {
        return isWordCharacter(c) && !isDigit(c);
    }));
    // Strokes of a logo or a barcode come back as I, l, | and 1; a name has other letters too.
    const auto strokes = std::count_if(text.begin(), text.end(), [](wchar_t c) { return digitFor(c) == L'1'; });
    if (letters - strokes < 2 || letters < digitCount(text) || line.confidence < 0.4f ||
        hasPrice(text) || isAddress(text))
        return false;
    if (dateIn(narrowed(text)) || telephoneIn(narrowed(text)) || keywords().total.Find(text))
        return false;
    const auto heading = keywords().notName.Find(text);
    return !heading || heading->confidence < 0.9f;
}

// The text without the rules, bars and colons OCR leaves at its ends ("| : 늘봄서점").
std::wstring withoutStrayMarks(const std::wstring& text)
{
    const wchar_t* const MARKS = L" \t|:;,.-_~*#=!'\"";
    const size_t first = text.find_first_not_of(MARKS);
    if (first == std::wstring::npos)
        return {};
    return text.substr(first, text.find_last_not_of(MARKS) - first + 1);
}

// The median height of the line's words: the line's own box grows with its width on a tilted
// photo, the short boxes of its words much less.
double letterHeight(const Line& line)
{
    if (line.words.empty())
        return line.box.height;
    std::vector<int> heights;
    for (const Word& word : line.words)
        heights.push_back(word.box.height);
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    return heights[heights.size() / 2];
}

// The line up to the end of its company form ("Aldi GmbH & Co. KG, 50108 Holte" names
// "Aldi GmbH & Co. KG"); nothing when the line names no company form.
std::optional<std::wstring> companyName(const std::wstring& text)
{
    static const std::wregex form(
        LR"((^|[^A-Z])(GMBH|MBH|AG|KG|OHG|E\.K|LTD|INC|LLC|SDN\.? ?BHD|CORP|PLC)\.?(?=[^A-Z]|$)|\(주\)|㈜|주식회사)");
    const std::wstring folded = KeywordCorrector::Folded(text);
    std::wsmatch last;
    for (std::wsregex_iterator it(folded.begin(), folded.end(), form), end; it != end; ++it)
        last = *it;
    if (last.empty())
        return std::nullopt;
    // Korean forms come first ("(주)이마트"), the others last: cut only after a trailing form.
    const bool leading = last[2].length() == 0;
    const std::wstring name = leading ? text : text.substr(0, last.position(0) + last.length(0));
    return trimmed(name);
}

// Business name: a line naming a company form, or else the most prominent line near the top
// (letter height and confidence, earlier lines weighing more).
std::optional<Field> businessNameField(const std::vector<Line>& lines)
{
    for (const Line& line : lines)
        if (const auto name = companyName(widened(line.text)); name && couldBeName(line, *name))
            return Field{narrowed(*name), line.text, line.box, line.confidence};
    constexpr size_t TOP_LINES = 6;
    std::optional<Field> best;
    double bestScore = 0;
    size_t considered = 0;
    for (size_t i = 0; i < lines.size() && considered < TOP_LINES; ++i) {
        const Line& line = lines[i];
        if (hasPrice(widened(line.text)))
            break;
        if (!couldBeName(line, widened(line.text)))
            continue;
        const double score = letterHeight(line) * line.confidence * (1.0 - 0.1 * considered);
        ++considered;
        if (score > bestScore) {
            bestScore = score;
            best = Field{narrowed(withoutStrayMarks(widened(line.text))), line.text, line.box, line.confidence};
        }
    }
    return best;
}

} // namespace

std::wstring withDigitsRestored(const std::wstring& text)
{
    std::wstring result(text);
    // Runs of digits, digit-like letters and the separators inside numbers.
    size_t i = 0;
    while (i < result.size()) {
        if (!isDigit(result[i]) && !digitFor(result[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        int digits = 0, letters = 0;
        while (end < result.size() &&
               (isDigit(result[end]) || digitFor(result[end]) || result[end] == L'.' || result[end] == L',')) {
            digits += isDigit(result[end]);
            letters += digitFor(result[end]) != 0;
            ++end;
        }
        // Letters stand for digits only among more digits, and only where no letter follows the run.
        const bool wordFollows = end < result.size() && std::iswalpha(result[end]);
        if (digits > 0 && letters <= digits && !wordFollows)
            for (size_t k = i; k < end; ++k)
                if (digitFor(result[k]))
                    result[k] = digitFor(result[k]);
        i = end;
    }
    return result;
}

std::optional<Amount> amountIn(const std::string& utf8)
{
    const std::wstring text = withDigitsRestored(widened(utf8));
    std::optional<Amount> last;
    size_t place = 0;
    for (std::wsregex_iterator it(text.begin(), text.end(), amountPattern()), end; it != end; ++it) {
        const std::wsmatch& m = *it;
        // A long plain run of digits is an article or card number, not a price.
        if (m[3].length() == 0 && m[2].length() > MAX_PLAIN_AMOUNT_DIGITS &&
            m[2].str().find_first_of(L".,' ") == std::wstring::npos)
            continue;
        last = Amount{decimalOf(m[2].str(), m[3].str()), {}};
        place = static_cast<size_t>(m.position(2));
    }
    if (last)
        last->currency = currencyNear(text, place);
    return last;
}

std::string currencyIn(const std::string& utf8)
{
    return currencyNear(widened(utf8), 0);
}

DateEvidence dateEvidence(const std::vector<std::string>& lines)
{
    DateEvidence evidence;
    evidence.today = today();
    for (const std::string& line : lines) {
        const std::wstring text = widened(line);
        evidence.yearFirst |= std::any_of(text.begin(), text.end(), WeightedEditDistance::IsHangul);
        if (const auto date = firstDate(line, evidence, false))
            evidence.years.push_back(yearOf(*date));
    }
    return evidence;
}

std::optional<std::string> dateIn(const std::string& utf8, const DateEvidence& evidence)
{
    return firstDate(utf8, evidence, true);
}

std::optional<std::string> dateIn(const std::string& utf8)
{
    return dateIn(utf8, dateEvidence({utf8}));
}

std::optional<std::string> telephoneIn(const std::string& utf8)
{
    const auto phone = telephoneOf(withDigitsRestored(widened(utf8)));
    return phone ? std::optional<std::string>(narrowed(phone->number)) : std::nullopt;
}

ReceiptFields receiptFields(const std::vector<Line>& lines)
{
    ReceiptFields fields;
    fields.businessName = businessNameField(lines);
    fields.telephone = telephoneField(lines);
    fields.date = dateField(lines);
    fields.total = totalField(lines);
    return fields;
}

} // namespace tarvek::reading
