#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "reading/engine.h"
#include "reading/keyword_corrector.h"
#include "reading/preparation.h"
#include "reading/reading.h"
#include "reading/receipt_fields_internal.h"
#include "reading/wide_text.h"
#include "receipt_image.h"
#include "synthetic_receipt.h"
#include "weighted_edit_distance.h"

using namespace tarvek::reading;

namespace {

// ---------------------------------------------------------------------------
// Field parsers over lines as OCR gives them, in Korean, English and German
// ---------------------------------------------------------------------------

struct AmountCase {
    const char* line;
    const char* value;    // nullptr: no amount
    const char* currency;
};

TEST(ReceiptParsers, AmountsInTheirPrintedForms)
{
    const AmountCase cases[] = {
        {"합계 420,000", "420000", ""},
        {"받을금액 420.000원", "420000", "KRW"},
        {"결제금액: ₩42,000", "42000", "KRW"},
        {"ZU ZAHLEN EURO 24,23", "24.23", "EUR"},
        {"SUMME EUR 1.129,00", "1129.00", "EUR"},
        {"TOTAL RM 9.00", "9.00", "MYR"},
        {"Total $1,234.56", "1234.56", "USD"},
        {"Total €1.95", "1.95", "EUR"},
        {"GESAMT 12,5", "12.50", ""},
        {"SUMME 1O,5O", "10.50", ""},       // O read for 0
        {"TOTAL 2l.99", "21.99", ""},       // l read for 1
        {"합 계 17O,000 원", "170000", "KRW"},
        {"Mastercard EUR 36, 20", "36.20", "EUR"}, // a space OCR put after the comma
        {"합 계 금액 222,.200 원", "222200", "KRW"},    // a doubled separator
        {"Artikel 60085385", nullptr, ""},  // article numbers are no prices
        {"TOTAL", nullptr, ""},
        {"", nullptr, ""},
    };
    for (const AmountCase& c : cases) {
        const auto amount = amountIn(c.line);
        if (!c.value) {
            EXPECT_FALSE(amount) << c.line;
            continue;
        }
        ASSERT_TRUE(amount) << c.line;
        EXPECT_EQ(amount->value, c.value) << c.line;
        EXPECT_EQ(amount->currency, c.currency) << c.line;
    }
}

TEST(ReceiptParsers, DatesInEveryFormBecomeIso)
{
    const std::pair<const char*, const char*> cases[] = {
        {"거래일시: 2019-01-10 12:31", "2019-01-10"},
        {"2019.01.10 (목)", "2019-01-10"},
        {"일자 19/01/10 14:02", "2019-01-10"},
        {"2019년 1월 10일", "2019-01-10"},
        {"2019 년 1 월 10 일 오후", "2019-01-10"},
        {"Datum: 10.01.2019 09:48", "2019-01-10"},
        {"04.05.20 09:52 0000545 004", "2020-05-04"},
        {"Date: 25/12/2018", "2018-12-25"},
        {"Date 12/25/2018", "2018-12-25"},  // month first when the day cannot be one
        {"10 Jan 2019 3:15 PM", "2019-01-10"},
        {"Jan 10, 2019", "2019-01-10"},
        {"10. März 2020", "2020-03-10"},
        {"Datum O2.O3.2020", "2020-03-02"}, // O read for 0
        {"06.05, 2020", "2020-05-06"},
    };
    for (const auto& [line, iso] : cases) {
        const auto date = dateIn(line);
        ASSERT_TRUE(date) << line;
        EXPECT_EQ(*date, iso) << line;
    }
    for (const char* line : {"SUMME 24,23", "32.13.2019", "2019-02-30", "Tel 02-123-4567", "09:48", "1,99 6"})
        EXPECT_FALSE(dateIn(line)) << line;
}

// The order of a two-digit-year date: the valid readings, the page's language, its other dates,
// and no reading after today.
TEST(ReceiptParsers, TwoDigitYearOrderByEvidence)
{
    struct Case {
        const char* date;
        bool korean;
        const char* otherDate; // another line of the page with a date printed in full, or ""
        const char* iso;
    };
    const Case cases[] = {
        {"09/03/18", false, "", "2018-03-09"},               // English and German print day first
        {"09/03/18", true, "", "2009-03-18"},                // Korean prints year first
        {"09/03/18", true, "2018.03.09 발행", "2018-03-09"}, // unless the page's other dates disagree
        {"18/03/09", false, "", "2009-03-18"},
        {"18/03/09", false, "Valid until 31 Mar 2018", "2018-03-09"},
        {"18-03-09", true, "", "2018-03-09"},
        {"10.01.19", false, "", "2019-01-10"},
        {"19.01.10", true, "", "2019-01-10"},
        {"12/25/18", false, "", "2018-12-25"},               // month first: the only valid reading
        {"31/12/18", true, "", "2018-12-31"},                // year first is no date
        {"20.03.30", false, "", "2020-03-30"},               // 2030 is after today
        {"20.03.30", true, "", "2020-03-30"},
        {"05/06/07", false, "2007-06-01", "2007-06-05"},
        {"05/06/07", true, "06.06.2007", "2007-06-05"},
    };
    for (const Case& c : cases) {
        const std::string header = c.korean ? "합계 12,000원" : "TOTAL RM 12.00";
        std::vector<std::string> page = {header, c.date};
        if (*c.otherDate)
            page.push_back(c.otherDate);
        DateEvidence evidence = dateEvidence(page);
        evidence.today = "2024-06-30";
        EXPECT_EQ(dateIn(c.date, evidence), c.iso) << c.date << (c.korean ? " (Korean) " : " ") << c.otherDate;
    }
}

TEST(ReceiptParsers, TelephonesButNotOtherNumbers)
{
    const std::pair<const char*, const char*> cases[] = {
        {"전화: 02-123-4567", "02-123-4567"},
        {"TEL 1577-5448", "1577-5448"},
        {"010-1234-5678", "010-1234-5678"},
        {"Tel. +82 2 123 4567", "+82 2 123 4567"},
        {"Telefon (0)30 1234567", "(0)30 1234567"},
        {"Tel. 05251 / 180420", "05251 / 180420"},
        {"TEL.: 05251 6913-0 FAX: -129", "05251 6913-0"},
        {"Fax 05251-871871-10 Tel 05251-871871-0", "05251-871871-0"},
        {"Phone: (03) 1234 5678", "(03) 1234 5678"},
        {"0212345678", "0212345678"}, // a bare number with a typical start: just enough
    };
    for (const auto& [line, number] : cases) {
        const auto phone = telephoneIn(line);
        ASSERT_TRUE(phone) << line;
        EXPECT_EQ(*phone, number) << line;
    }
    for (const char* line : {"사업자번호: 123-45-67890", "Fax 05251-871871-10", "2019-01-10 12:31", "St.Nr. 215/5940/2639",
                             "SUMME 24,23", "Bon 3619", "1234 5678" /* separated, no typical start: too little */})
        EXPECT_FALSE(telephoneIn(line)) << line;
}

// Properties over many generated values: each printed form parses back to the value.

std::string grouped(long value, char separator)
{
    std::string digits = std::to_string(value), result;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            result += separator;
        result += digits[i];
    }
    return result;
}

TEST(ReceiptParsers, EveryPrintedAmountParsesBack)
{
    std::mt19937 random(5);
    std::uniform_int_distribution<long> whole(0, 9999999);
    std::uniform_int_distribution<int> cents(0, 99);
    struct Style {
        char thousands, point;
        const char *before, *after, *currency;
    };
    const Style styles[] = {{',', '.', "$", "", "USD"},   {'.', ',', "", " €", "EUR"}, {'.', ',', "EUR ", "", "EUR"},
                            {',', '.', "RM ", "", "MYR"}, {'\'', '.', "", "", ""},    {' ', ',', "", " EUR", "EUR"}};
    for (int i = 0; i < 300; ++i) {
        const Style& style = styles[i % std::size(styles)];
        const long value = whole(random);
        const int fraction = cents(random);
        char decimals[8];
        std::snprintf(decimals, sizeof decimals, "%c%02d", style.point, fraction);
        const std::string printed = std::string("TOTAL ") + style.before + grouped(value, style.thousands) + decimals +
                                    style.after;
        char expected[32];
        std::snprintf(expected, sizeof expected, "%ld.%02d", value, fraction);
        const auto amount = amountIn(printed);
        ASSERT_TRUE(amount) << printed;
        EXPECT_EQ(amount->value, expected) << printed;
        EXPECT_EQ(amount->currency, style.currency) << printed;
    }
    for (int i = 0; i < 100; ++i) {
        const long won = 100 * (whole(random) / 100);
        const std::string printed = "합계 " + grouped(won, i % 2 ? ',' : '.') + (i % 3 ? "원" : "");
        const auto amount = amountIn(printed);
        ASSERT_TRUE(amount) << printed;
        EXPECT_EQ(amount->value, std::to_string(won)) << printed;
        EXPECT_EQ(amount->currency, i % 3 ? "KRW" : "") << printed;
    }
}

TEST(ReceiptParsers, EveryPrintedDateParsesBack)
{
    std::mt19937 random(9);
    const char* const forms[] = {"%04d-%02d-%02d", "%04d.%02d.%02d", "%04d/%d/%d", "%04d년 %d월 %d일"};
    const char* const dayFirst[] = {"%02d.%02d.%04d", "%02d/%02d/%04d", "%d-%d-%04d"};
    for (int i = 0; i < 300; ++i) {
        const int y = std::uniform_int_distribution<int>(1990, 2060)(random);
        const int m = std::uniform_int_distribution<int>(1, 12)(random);
        const int d = std::uniform_int_distribution<int>(1, 28)(random);
        char iso[16], printed[64];
        std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", y, m, d);
        std::snprintf(printed, sizeof printed, forms[i % std::size(forms)], y, m, d);
        EXPECT_EQ(dateIn(std::string("Datum ") + printed + " 12:30"), iso) << printed;
        std::snprintf(printed, sizeof printed, dayFirst[i % std::size(dayFirst)], d, m, y);
        EXPECT_EQ(dateIn(printed), iso) << printed;
        if (y >= 2000) {
            // With no other evidence, a Korean page's two-digit years come first, others' last.
            DateEvidence korean, other;
            korean.yearFirst = true;
            std::snprintf(printed, sizeof printed, "%02d/%02d/%02d", y % 100, m, d);
            EXPECT_EQ(dateIn(printed, korean), iso) << printed;
            std::snprintf(printed, sizeof printed, "%02d.%02d.%02d", d, m, y % 100);
            EXPECT_EQ(dateIn(printed, other), iso) << printed;
        }
    }
}

TEST(ReceiptParsers, EveryPrintedTelephoneIsFound)
{
    std::mt19937 random(13);
    const auto digits = [&](int n) {
        std::string text;
        for (int i = 0; i < n; ++i)
            text += char('0' + random() % 10);
        return text;
    };
    for (int i = 0; i < 200; ++i) {
        std::string number;
        switch (i % 5) {
        case 0: number = "02-" + digits(3) + "-" + digits(4); break;
        case 1: number = "0" + std::to_string(31 + random() % 33) + "-" + digits(4) + "-" + digits(4); break;
        case 2: number = "15" + digits(2) + "-" + digits(4); break;
        case 3: number = "+82 " + std::to_string(2 + random() % 8) + " " + digits(4) + " " + digits(4); break;
        default: number = "0" + digits(4) + " / " + digits(6); break;
        }
        const char* label = i % 2 ? "Tel. " : "전화 ";
        EXPECT_EQ(telephoneIn(label + number), number) << number;
    }
}

// The fields of generated receipts, read from their printed lines, are those they were made from.
TEST(ReceiptFields, PrintedLinesOfGeneratedReceipts)
{
    std::mt19937 random(17);
    for (int i = 0; i < 120; ++i) {
        const auto language = i % 3 ? tarvek::synthetic::ReceiptLanguage::Korean : tarvek::synthetic::ReceiptLanguage::English;
        const auto receipt = tarvek::synthetic::receipt(random, language, false);
        std::vector<Line> lines;
        for (size_t k = 0; k < receipt.lines.size(); ++k)
            lines.push_back({receipt.lines[k], cv::Rect(20, 20 + 40 * int(k), 500, 30), 0.95f, {}});
        const ReceiptFields fields = receiptFields(lines);
        SCOPED_TRACE(receipt.lines.front());
        ASSERT_TRUE(fields.businessName && fields.telephone && fields.date && fields.total);
        EXPECT_EQ(fields.businessName->value, receipt.businessName);
        EXPECT_EQ(fields.telephone->value, receipt.telephone);
        EXPECT_EQ(fields.date->value, receipt.date);
        EXPECT_EQ(fields.total->value, receipt.total);
        EXPECT_EQ(fields.total->currency, receipt.currency);
    }
}

// ---------------------------------------------------------------------------
// The keyword corrector
// ---------------------------------------------------------------------------

TEST(KeywordCorrector, ConfusedLettersStillMatchTheirKeyword)
{
    KeywordCorrector corrector({L"합계", L"TOTAL", L"SUMME", L"ZU ZAHLEN", L"받을금액", L"받은금액"});
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"합게", L"합계"},   {L"합꼐", L"합계"},    {L"T0TAL", L"TOTAL"},    {L"TOTA1", L"TOTAL"},
        {L"total", L"TOTAL"}, {L"5UMME", L"SUMME"},  {L"Zu zahlen", L"ZUZAHLEN"}, {L"받을금액", L"받을금액"},
        {L"받은금액", L"받은금액"}, {L"소계", L"소계"}, {L"BARGELD", L"BARGELD"},
    };
    for (const auto& [recognised, expected] : cases)
        EXPECT_EQ(corrector.Correct(recognised), expected) << narrowed(recognised);
}

// Any one OCR confusion in any keyword still corrects to it, and keywords stay apart.
TEST(KeywordCorrector, EverySingleConfusionCorrectsBack)
{
    const std::vector<std::wstring> keywords = {L"TOTAL", L"SUMME", L"GESAMT", L"AMOUNT", L"ZU ZAHLEN", L"BETRAG"};
    KeywordCorrector corrector(keywords);
    const std::pair<wchar_t, wchar_t> confusions[] = {{L'O', L'0'}, {L'T', L'7'}, {L'S', L'5'}, {L'A', L'4'},
                                                      {L'L', L'1'}, {L'E', L'F'}, {L'M', L'N'}, {L'U', L'V'},
                                                      {L'Z', L'2'}, {L'G', L'6'}, {L'B', L'8'}, {L'R', L'P'}};
    int tried = 0;
    for (const std::wstring& keyword : keywords)
        for (size_t at = 0; at < keyword.size(); ++at)
            for (const auto& [letter, confused] : confusions)
                if (keyword[at] == letter) {
                    std::wstring misread = keyword;
                    misread[at] = confused;
                    EXPECT_EQ(corrector.Correct(misread), KeywordCorrector::Compact(keyword)) << narrowed(misread);
                    ++tried;
                }
    EXPECT_GT(tried, 15);
    for (const std::wstring& keyword : keywords) {
        for (const std::wstring& other : keywords) {
            if (keyword == other)
                continue;
            EXPECT_GT(corrector.Distance(keyword, other), 1.0f) << narrowed(keyword) << " " << narrowed(other);
        }
    }
}

TEST(KeywordCorrector, HangulLetterConfusionsCostLessThanAWholeSyllable)
{
    KeywordCorrector corrector;
    const std::pair<const wchar_t*, const wchar_t*> close[] = {
        {L"합게", L"합계"}, {L"합걔", L"합계"}, {L"총엑", L"총액"}, {L"결재금액", L"결제금액"}, {L"밭을금액", L"받을금액"},
        {L"합켸", L"합계"}, {L"촘액", L"총액"}};
    for (const auto& [misread, keyword] : close) {
        const float distance = corrector.Distance(misread, keyword);
        EXPECT_GT(distance, 0.0f) << narrowed(misread);
        EXPECT_LT(distance, 0.5f) << narrowed(misread);
    }
    for (const auto& [other, keyword] : {std::pair{L"소계", L"합계"}, std::pair{L"할인", L"합계"}, std::pair{L"TOTAL", L"합계"}})
        EXPECT_GE(corrector.Distance(other, keyword), 1.0f) << narrowed(other);
}

TEST(KeywordCorrector, ConfidenceFallsWithEveryError)
{
    KeywordCorrector corrector({L"TOTAL"});
    EXPECT_FLOAT_EQ(corrector.GetConfidence(L"TOTAL", L"TOTAL"), 1.0f);
    float previous = 1.0f;
    for (const wchar_t* worse : {L"T0TAL", L"T0TA1", L"XOTA1", L"XXXA1", L"XXXXX"}) {
        const float confidence = corrector.GetConfidence(worse, L"TOTAL");
        EXPECT_LT(confidence, previous) << narrowed(worse);
        EXPECT_GE(confidence, 0.0f);
        previous = confidence;
    }
    EXPECT_FALSE(corrector.SetDictionary({L"", L" "}));
}

TEST(KeywordCorrector, FindsAKeywordInsideALineAtAWordStart)
{
    KeywordCorrector corrector({L"ZU ZAHLEN", L"합계"});
    const auto german = corrector.Find(L"  zu zahIen EURO 24,23");
    ASSERT_TRUE(german);
    EXPECT_EQ(german->keyword, L"ZUZAHLEN");
    EXPECT_EQ(german->begin, 2u);
    EXPECT_EQ(german->end, 11u);
    const auto korean = corrector.Find(L"* 합 게 : 42,000원");
    ASSERT_TRUE(korean);
    EXPECT_EQ(korean->keyword, L"합계");
    EXPECT_GT(korean->confidence, 0.8f);
    EXPECT_FALSE(corrector.Find(L"BARGELD 40,00"));
    EXPECT_FALSE(corrector.Find(L""));
    // Only at a word start: a keyword inside a word is no keyword.
    KeywordCorrector bon({L"BON"});
    EXPECT_FALSE(bon.Find(L"CARBONARA HOUSE"));
    EXPECT_TRUE(bon.Find(L"BON 3619"));
}

TEST(WideText, RoundTripsAndRepairsUtf8)
{
    std::mt19937 random(21);
    std::uniform_int_distribution<int> code(1, 0x10FFFF);
    for (int i = 0; i < 2000; ++i) {
        std::wstring text;
        for (int k = 0; k < 8; ++k) {
            const int c = code(random);
            if (c < 0xD800 || c > 0xDFFF)
                text.push_back(static_cast<wchar_t>(c));
        }
        ASSERT_EQ(widened(narrowed(text)), text);
    }
    for (const char* text : {"", "TOTAL 24,23", "합계 420,000원", "Grüner Weg €", "𝄞 and ₩"})
        EXPECT_EQ(narrowed(widened(text)), text);
    EXPECT_EQ(widened("a\xff" "b"), L"a\uFFFDb");
}

// ---------------------------------------------------------------------------
// Fields of whole receipts
// ---------------------------------------------------------------------------

std::vector<Line> linesOf(std::initializer_list<const char*> texts)
{
    std::vector<Line> lines;
    int y = 20;
    for (const char* text : texts) {
        lines.push_back({text, cv::Rect(10, y, 400, 30), 0.9f, {}});
        y += 40;
    }
    return lines;
}

struct ReceiptCase {
    const char* name;
    std::vector<Line> lines;
    const char* business;
    const char* telephone;
    const char* date;
    const char* total;
    const char* currency;
};

TEST(ReceiptFields, ThreeLanguagesWithOcrConfusions)
{
    const ReceiptCase cases[] = {
        {"korean",
         linesOf({"(주)행복마트 강남점", "사업자번호: 123-45-67890", "서울특별시 테헤란로 12", "전화: 02-123-4567",
                  "거래일시: 2019.01.10 12:31", "아메리카노 2 9,000원", "과세물품가액 381,818원", "부가세 38,182원",
                  "합게 420,000원", "받은금액 500,000원", "거스름돈 80,000원"}),
         "(주)행복마트 강남점", "02-123-4567", "2019-01-10", "420000", "KRW"},
        {"korean, the amount due",
         linesOf({"하나 편의점", "TEL 1577-5448", "2019년 1월 10일", "받을금액 12,300", "받은금액 20,000"}),
         "하나 편의점", "1577-5448", "2019-01-10", "12300", ""},
        {"english",
         linesOf({"GREEN CAFE", "12 Harbor Street", "Tel: (03) 1234 5678", "Date: 10/01/2019 3:15 PM", "2 x Latte $7.00",
                  "Subtotal $20.00", "Tax $2.00", "T0TAL $22.00", "Cash $30.00", "Change $8.00"}),
         "GREEN CAFE", "(03) 1234 5678", "2019-01-10", "22.00", "USD"},
        {"malaysian",
         linesOf({"KEDAI MAJU SDN BHD", "Tel: 03-1234 5678", "10-01-2019", "TOTAL (INCL GST) RM 9.00", "CASH RM 10.00"}),
         "KEDAI MAJU SDN BHD", "03-1234 5678", "2019-01-10", "9.00", "MYR"},
        {"german",
         linesOf({"LIDL", "Warburger Straße 130", "33098 Paderborn", "Balance Brot 0,99", "zu zahIen 23,51",
                  "Kreditkarte 23,51", "MWST% MWST + Netto = Brutto", "A 7% 0,63 9,04 9,67", "Summe 2,84 20,67",
                  "12.05.20 10:12 Uhr"}),
         "LIDL", nullptr, "2020-05-12", "23.51", ""},
        {"german, company line",
         linesOf({"& ¢€ OT", "Pohlweg 110", "ZU ZAHLEN EURO 24,23", "BARGELD 40,00", "ZURUCK 15,77",
                  "MWST Netto MWST-BETRAG BRUTTO", "Aldi GmbH & Co. KG, 50108 Holte", "Tel. 05251 / 180420",
                  "02.03.2020 09:48"}),
         "Aldi GmbH & Co. KG", "05251 / 180420", "2020-03-02", "24.23", "EUR"},
    };
    for (const ReceiptCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ReceiptFields fields = receiptFields(c.lines);
        const auto check = [](const std::optional<Field>& field, const char* expected) {
            if (!expected) {
                EXPECT_FALSE(field) << field->value;
                return;
            }
            ASSERT_TRUE(field);
            EXPECT_EQ(field->value, expected);
            EXPECT_GT(field->confidence, 0.0f);
            EXPECT_FALSE(field->text.empty());
        };
        check(fields.businessName, c.business);
        check(fields.telephone, c.telephone);
        check(fields.date, c.date);
        ASSERT_TRUE(fields.total);
        EXPECT_EQ(fields.total->value, c.total);
        EXPECT_EQ(fields.total->currency, c.currency);
    }
}

TEST(ReceiptFields, NamesAreNotAddressesOrLogoStrokes)
{
    const std::pair<std::vector<Line>, const char*> cases[] = {
        {linesOf({"서울특별시 신촌로 267", "전화: 02-123-4567", "초록마트"}), "초록마트"},
        {linesOf({"부산 해운대로 12", "별빛분식"}), "별빛분식"},
        {linesOf({"2182 | | | | I Il]", "LIDL"}), "LIDL"},
        {linesOf({"| : 늘봄서점", "상품명 수량 금액"}), "늘봄서점"},
        {linesOf({"#~~ ~#", "상품명 수량 금액", "감사합니다", "Corner Bakery"}), "Corner Bakery"},
        {linesOf({"Grüner Weg 41", "33098 Paderborn", "Baumarkt Beispiel"}), "Baumarkt Beispiel"},
        {linesOf({"Westernstraße 2", "Buchhandlung Beispiel"}), "Buchhandlung Beispiel"},
        {linesOf({"CARBONARA HOUSE", "Bon 3619"}), "CARBONARA HOUSE"}, // BON inside a word is no heading
    };
    for (const auto& [lines, name] : cases) {
        const auto field = receiptFields(lines).businessName;
        ASSERT_TRUE(field) << name;
        EXPECT_EQ(field->value, name);
    }
}

TEST(ReceiptFields, AmountOnTheSameRowInAnotherLine)
{
    std::vector<Line> lines = linesOf({"BEISPIEL MARKT", "SUMME"});
    lines.push_back({"EUR 12,40", cv::Rect(500, lines[1].box.y + 3, 120, 30), 0.9f, {}});
    const auto total = receiptFields(lines).total;
    ASSERT_TRUE(total);
    EXPECT_EQ(total->value, "12.40");
    EXPECT_EQ(total->currency, "EUR");
}

TEST(ReceiptFields, AmountsOfAnyLengthCompareWithoutOverflow)
{
    std::string huge = "1";
    for (int i = 0; i < 150; ++i)
        huge += ",000";
    const auto total = receiptFields(linesOf({"SUMME 5,00", ("TOTAL " + huge).c_str(), "GESAMT 7,50"})).total;
    ASSERT_TRUE(total);
    EXPECT_EQ(total->value.size(), 451u);
    EXPECT_EQ(receiptFields(linesOf({"SUMME 5,00", "GESAMT 12,50", "TOTAL 9,99"})).total->value, "12.50");
}

// Generated receipts (items, subtotal, tax, total, cash, change) with one digit misread on one
// line: the total that agrees with the others' sums is the one printed, wherever the misread is.
TEST(ReceiptFields, TheTotalAgreesWithTheReceiptsArithmetic)
{
    std::mt19937 random(31);
    const auto money = [](long long cents) { return std::to_string(cents / 100) + "." + (cents % 100 < 10 ? "0" : "") + std::to_string(cents % 100); };
    for (int receipt = 0; receipt < 200; ++receipt) {
        std::vector<std::string> texts = {"KEDAI RUNCIT MAJU"};
        long long subtotal = 0;
        const int items = 2 + receipt % 4;
        for (int i = 0; i < items; ++i) {
            const long long price = std::uniform_int_distribution<long long>(50, 5000)(random);
            subtotal += price;
            texts.push_back("ITEM " + std::to_string(i + 1) + " " + money(price));
        }
        const long long tax = subtotal * 6 / 100, total = subtotal + tax, cash = (total / 1000 + 1) * 1000;
        for (const std::string& line : {"SUBTOTAL " + money(subtotal), "GST 6% " + money(tax),
                                        "TOTAL " + money(total), "CASH " + money(cash), "CHANGE " + money(cash - total)})
            texts.push_back(line);
        // One digit of one amount misread as another digit.
        std::string& misread = texts[std::uniform_int_distribution<size_t>(1, texts.size() - 1)(random)];
        std::vector<size_t> digits;
        for (size_t at = misread.find_last_of(' ') + 1; at < misread.size(); ++at)
            if (std::isdigit(static_cast<unsigned char>(misread[at])))
                digits.push_back(at);
        char& digit = misread[digits[std::uniform_int_distribution<size_t>(0, digits.size() - 1)(random)]];
        digit = static_cast<char>('0' + (digit - '0' + std::uniform_int_distribution<int>(1, 9)(random)) % 10);
        std::vector<Line> lines;
        for (size_t i = 0; i < texts.size(); ++i)
            lines.push_back({texts[i], cv::Rect(10, 20 + 40 * static_cast<int>(i), 400, 30), 0.9f, {}});
        const auto found = receiptFields(lines).total;
        ASSERT_TRUE(found) << misread;
        EXPECT_EQ(found->value, money(total)) << misread;
    }
    // A rounding printed (its sign lost or not) makes the rounded total agree; a total line that
    // names the tax or a tax summary's zero is no total.
    const std::pair<std::vector<Line>, const char*> rounded[] = {
        {linesOf({"SUB-TOTAL 52.00", "TOTAL TAX : 3.12", "ROUNDING : -0.02", "TOTAL 55.10", "TOTAL: 52.00 3.12"}),
         "55.10"},
        {linesOf({"Total Amount: RM8.48", "GST @0%: RM0.00", "Rounding: RM0.02", "Nett Total: RM8.50", "CASH RM8.50",
                  "Change RM0.00", "SR = GST @0% 8.48 0.00"}),
         "8.50"},
        {linesOf({"Total Sales (Excluding GST) : 616.59", "Total GST : 0.00", "Rounding : 0.01",
                  "Total Sales (Inclusive of GST) : 616.60", "Total : 616.59 0.00"}),
         "616.60"},
    };
    for (const auto& [lines, total] : rounded) {
        const auto found = receiptFields(lines).total;
        ASSERT_TRUE(found) << total;
        EXPECT_EQ(found->value, total);
    }
}

TEST(ReceiptFields, NothingQualifiesNothingFound)
{
    for (const auto& lines : {std::vector<Line>{}, linesOf({"", "  ", "~~~ ,,, ..."}), linesOf({"12", "3.4"})}) {
        const ReceiptFields fields = receiptFields(lines);
        EXPECT_FALSE(fields.telephone);
        EXPECT_FALSE(fields.date);
        EXPECT_FALSE(fields.total);
        EXPECT_FALSE(fields.businessName);
    }
}

// ---------------------------------------------------------------------------
// Preparation
// ---------------------------------------------------------------------------

TEST(Preparation, BoxesMapBackThroughEveryQuarterTurn)
{
    const cv::Size page(300, 200);
    const cv::Rect box(40, 30, 50, 20);
    for (int degrees : {0, 90, 180, 270}) {
        cv::Mat marked(page, CV_8U, cv::Scalar(255));
        marked(box).setTo(0);
        const cv::Mat turned_ = turned(marked, degrees);
        cv::Rect found = cv::boundingRect(turned_ == 0);
        EXPECT_EQ(mappedBox(found, turnTransform(page, degrees)), box) << degrees;
    }
}

TEST(Preparation, SkewOfTiltedLinesIsFound)
{
    for (double tilt : {-4.0, -1.5, 0.0, 2.0, 3.6}) {
        cv::Mat page(800, 1000, CV_8U, cv::Scalar(255));
        for (int y = 100; y < 700; y += 60)
            cv::rectangle(page, cv::Rect(100, y, 800, 14), cv::Scalar(0), cv::FILLED);
        cv::Mat tilted;
        const cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(500, 400), tilt, 1.0);
        cv::warpAffine(page, tilted, turn, page.size(), cv::INTER_NEAREST, cv::BORDER_CONSTANT, cv::Scalar(255));
        EXPECT_NEAR(skewAngle(tilted), -tilt, 0.25) << tilt;
    }
}

TEST(Preparation, LetterHeightFollowsTheScale)
{
    for (int height : {12, 24, 48}) {
        cv::Mat page(600, 900, CV_8U, cv::Scalar(255));
        for (int y = 40; y + height < 560; y += 2 * height)
            for (int x = 30; x + height < 870; x += height)
                cv::rectangle(page, cv::Rect(x, y, height * 2 / 3, height), cv::Scalar(0), cv::FILLED);
        EXPECT_NEAR(medianLetterHeight(page), height, 1) << height;
    }
}

// Images past the working bound are prepared from a copy reduced by area: within the bound, and a
// mark on the image is found in the copy where the reduction maps it.
TEST(Preparation, WorkingCopiesStayWithinTheirBoundAndMapBack)
{
    const cv::Size sizes[] = {{4000, 3000}, {6000, 4000}, {17000, 1000}, {900, 40000}};
    for (const cv::Size size : sizes) {
        cv::Mat image(size, CV_8U, cv::Scalar(255));
        const cv::Rect mark(size.width / 3, size.height / 2, 200, 100);
        image(mark).setTo(0);
        const WorkingCopy working = workingCopy(image);
        SCOPED_TRACE(testing::Message() << size << " to " << working.image.size());
        EXPECT_LE(working.image.total(), MAX_WORKING_PIXELS * 1.001);
        if (image.total() <= MAX_WORKING_PIXELS) {
            EXPECT_EQ(working.image.data, image.data);
            continue;
        }
        EXPECT_GE(working.image.total(), MAX_WORKING_PIXELS * 0.99);
        const cv::Rect found = cv::boundingRect(working.image < 128);
        const cv::Matx33d toImage = cv::Matx33d::diag({working.reduction, working.reduction, 1});
        const cv::Rect back = mappedBox(found, toImage);
        EXPECT_LE(cv::norm(back.tl() - mark.tl()), 2 * working.reduction);
        EXPECT_LE(cv::norm(back.br() - mark.br()), 2 * working.reduction);
    }
}

// A photo larger than the working bound reads as the same photo at its own size: the page's
// corners and the lines' boxes come back in the large photo's pixels.
TEST(ReadText, ALargePhotoIsReadInItsOwnPixels)
{
    constexpr double enlarged = 5; // 1040 x 820 to 21 million pixels
    const cv::Mat photo = cv::imread(testreceipt::photoPath);
    cv::Mat large;
    cv::resize(photo, large, cv::Size(), enlarged, enlarged, cv::INTER_LINEAR);
    ReadOptions options;
    options.languages = "eng";
    options.upright = false;
    const ReadResult result = readText(large, options), expected = readText(photo, options);
    ASSERT_TRUE(result.pageFound);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_LE(cv::norm(result.corners[i] - cv::Point2f(testreceipt::photoCorners[i]) * enlarged), 4 * enlarged)
            << i;
    ASSERT_EQ(result.lines.size(), expected.lines.size());
    for (size_t i = 0; i < result.lines.size(); ++i) {
        const cv::Rect box = result.lines[i].box, small = expected.lines[i].box;
        EXPECT_LE(cv::norm((box.tl() + box.br()) - (small.tl() + small.br()) * enlarged), 2 * 4 * enlarged) << box;
        EXPECT_NEAR(box.height, small.height * enlarged, 4 * enlarged) << box;
    }
}

// Pages of scattered dots, which Tesseract's layout analysis would take minutes over whatever
// the deadline, are noise; a receipt scan and a printed receipt, specks and all, are not.
TEST(Preparation, ScatteredDotsAreNoiseAndPrintIsNot)
{
    struct Dots {
        int size;
        double density;
        int side; // of each dot, in pixels
    };
    const Dots cases[] = {{2800, 0.01, 1}, {2800, 0.05, 1}, {2000, 0.01, 3}};
    cv::RNG random(5);
    for (const Dots& dots : cases) {
        cv::Mat uniform(dots.size, dots.size, CV_32F);
        random.fill(uniform, cv::RNG::UNIFORM, 0, 1);
        cv::Mat page = uniform >= dots.density;
        cv::erode(page, page, cv::Mat::ones(dots.side, dots.side, CV_8U));
        EXPECT_TRUE(prepared(page, false, false).noise) << dots.density << " " << dots.side;
        const ReadResult read = readText(page);
        EXPECT_EQ(read.notRead, "noise");
        EXPECT_TRUE(read.lines.empty());
    }
    std::mt19937 generator(3);
    const cv::Mat scan = cv::imread(std::string(TARVEK_TEST_DATA) + "/receipts/aldi_02032020_19_02423.jpg");
    const cv::Mat pages[] = {scan, tarvek::synthetic::receipt(generator, tarvek::synthetic::ReceiptLanguage::Korean, true).image};
    for (const cv::Mat& page : pages)
        EXPECT_FALSE(prepared(page, true, false).noise);
}

// ---------------------------------------------------------------------------
// Reading end to end
// ---------------------------------------------------------------------------

// Character error rate of the read lines against the printed ones, spaces left out (Tesseract's
// Korean model spaces syllables its own way).
double characterErrorRate(const std::vector<std::string>& printed, const std::vector<Line>& read)
{
    std::wstring expected, found;
    for (const std::string& line : printed)
        expected += KeywordCorrector::Compact(widened(line));
    for (const Line& line : read)
        found += KeywordCorrector::Compact(widened(line.text));
    tarvek::WeightedEditDistance plain;
    return plain.GetDictance(expected, found, false, tarvek::CM_CHARACTER_PRIMARY) / std::max<size_t>(1, expected.size());
}

struct EndToEndCase {
    tarvek::synthetic::ReceiptLanguage language;
    const char* languages;
    bool degraded;
};

TEST(ReadText, PrintedReceiptsReadCloseToTheirText)
{
    const EndToEndCase cases[] = {
        {tarvek::synthetic::ReceiptLanguage::Korean, "kor+eng", false},
        {tarvek::synthetic::ReceiptLanguage::Korean, "kor+eng", true},
        {tarvek::synthetic::ReceiptLanguage::English, "eng", true},
    };
    std::mt19937 random(7);
    for (const EndToEndCase& c : cases) {
        const auto receipt = tarvek::synthetic::receipt(random, c.language, c.degraded);
        ReadOptions options;
        options.languages = c.languages;
        const ReadResult result = readText(receipt.image, options);
        SCOPED_TRACE(c.languages + std::string(c.degraded ? " degraded" : " clean"));
        EXPECT_FALSE(result.cutShort);
        EXPECT_EQ(result.rotation, 0);
        EXPECT_LT(characterErrorRate(receipt.lines, result.lines), 0.1);
        const cv::Rect frame(cv::Point(), receipt.image.size());
        for (const Line& line : result.lines) {
            EXPECT_EQ(line.box & frame, line.box);
            EXPECT_GE(line.confidence, 0.0f);
            EXPECT_LE(line.confidence, 1.0f);
            EXPECT_FALSE(line.words.empty());
        }
        const ReceiptFields fields = receiptFields(result.lines);
        ASSERT_TRUE(fields.total);
        EXPECT_EQ(fields.total->value, receipt.total);
        ASSERT_TRUE(fields.date);
        EXPECT_EQ(fields.date->value, receipt.date);
    }
}

TEST(ReadText, ARealReceiptScan)
{
    const cv::Mat scan = cv::imread(std::string(TARVEK_TEST_DATA) + "/receipts/aldi_02032020_19_02423.jpg");
    ASSERT_FALSE(scan.empty());
    ReadOptions options;
    options.languages = "deu+eng";
    const ReadResult result = readText(scan, options);
    EXPECT_FALSE(result.pageFound); // the scan is cropped to the receipt
    const ReceiptFields fields = receiptFields(result.lines);
    ASSERT_TRUE(fields.total && fields.date && fields.businessName);
    EXPECT_EQ(fields.total->value, "24.23");
    EXPECT_EQ(fields.total->currency, "EUR");
    EXPECT_EQ(fields.date->value, "2020-03-02");
    EXPECT_NE(fields.businessName->value.find("Aldi"), std::string::npos) << fields.businessName->value;
    // The total's line lies in the lower part of the receipt, as printed.
    EXPECT_GT(fields.total->box.y, scan.rows / 2);
    EXPECT_LT(fields.total->box.br().y, scan.rows * 3 / 4);
}

TEST(ReadText, TurnedPagesAreReadUpright)
{
    std::mt19937 random(3);
    const auto receipt = tarvek::synthetic::receipt(random, tarvek::synthetic::ReceiptLanguage::English, false);
    const std::pair<int, int> turns[] = {{cv::ROTATE_90_CLOCKWISE, 270}, {cv::ROTATE_180, 180},
                                         {cv::ROTATE_90_COUNTERCLOCKWISE, 90}};
    for (const auto& [code, back] : turns) {
        cv::Mat page;
        cv::rotate(receipt.image, page, code);
        EXPECT_EQ(uprightRotation(page), back);
        EXPECT_EQ(upright(page).size(), receipt.image.size());
    }
    EXPECT_EQ(uprightRotation(receipt.image), 0);
}

// Many lines of print under noise: seconds of preparation and recognition.
cv::Mat largeNoisyPage()
{
    std::mt19937 random(11);
    cv::Mat page(4000, 3000, CV_8UC3, cv::Scalar::all(255));
    for (int y = 0; y + 1200 <= page.rows; y += 1200) {
        const auto receipt = tarvek::synthetic::receipt(random, tarvek::synthetic::ReceiptLanguage::English, false);
        const cv::Rect top(0, 0, std::min(receipt.image.cols, 3000), std::min(receipt.image.rows, 1200));
        const cv::Mat part = receipt.image(top);
        part.copyTo(page(cv::Rect(cv::Point(0, y), part.size())));
    }
    cv::Mat noise(page.size(), CV_8UC3);
    cv::randn(noise, 0, 20);
    return page - noise;
}

// A deadline that passes during recognition, one that passed before the request was read, a
// cancel flag set beforehand and one set by another thread while the page is read: each stops
// the reading early, the last two whatever the deadline.
TEST(ReadText, DeadlinesAndCancellingCutReadingShort)
{
    using namespace std::chrono;
    struct Case {
        const char* name;
        int deadlineMs;
        milliseconds startedAgo;
        bool cancelledBefore;
        milliseconds cancelAfter; // from another thread; 0: not
        bool readsNothing; // stopped before recognition began
    };
    const Case cases[] = {
        {"deadline", 50, 0ms, false, 0ms, false},
        {"deadline passed before the call", 1000, 5000ms, false, 0ms, true},
        {"cancelled before the call", 60000, 0ms, true, 0ms, true},
        {"cancelled while reading", 60000, 0ms, false, 300ms, false},
    };
    const cv::Mat page = largeNoisyPage();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> cancel{c.cancelledBefore};
        ReadOptions options;
        options.languages = "eng";
        options.deadlineMs = c.deadlineMs;
        options.deadlineStart = steady_clock::now() - c.startedAgo;
        options.cancel = &cancel;
        std::thread canceller;
        if (c.cancelAfter > 0ms)
            canceller = std::thread([&] {
                std::this_thread::sleep_for(c.cancelAfter);
                cancel = true;
            });
        const auto start = steady_clock::now();
        const ReadResult result = readText(page, options);
        const double seconds = duration<double>(steady_clock::now() - start).count();
        if (canceller.joinable())
            canceller.join();
        EXPECT_TRUE(result.cutShort);
        EXPECT_LT(seconds, 10.0);
        if (c.readsNothing) {
            EXPECT_TRUE(result.lines.empty());
        }
    }
}

// The first `count` of a receipt's items on white, down a column from its top or along one line
// from its left (count < 0: as many as fill it).
cv::Mat printedItems(cv::Size size, bool column, int count)
{
    const char* const items[] = {"BREAD 2.50", "MILK 1.20", "COFFEE 4.99", "TOTAL 8.69"};
    cv::Mat page(size, CV_8U, cv::Scalar(255));
    if (column) {
        for (int i = 0, y = 40; y < size.height && i != count; ++i, y += 45)
            cv::putText(page, items[i % 4], cv::Point(5, y), cv::FONT_HERSHEY_SIMPLEX, 0.9, cv::Scalar(0), 2);
        return page;
    }
    std::string line;
    for (int i = 0; line.size() * 30 < size_t(size.width) && i != count; ++i)
        line += std::string(items[i % 4]) + " ";
    cv::putText(page, line, cv::Point(10, size.height * 3 / 4), cv::FONT_HERSHEY_SIMPLEX, 1.3, cv::Scalar(0), 2);
    return page;
}

// OpenCV's warps and Tesseract's boxes take at most 32767 pixels a side. Longer pages are scaled
// within that; one whose letters would then be too small is refused with the reason. None ends
// in an exception.
TEST(ReadText, LongPagesAreScaledWithinTheEnginesSidesOrRefused)
{
    struct Case {
        cv::Mat image;
        bool reads; // lines come back
        bool refused; // too long for its letters
    };
    cv::Mat upright;
    cv::rotate(printedItems({120000, 60}, false, -1), upright, cv::ROTATE_90_COUNTERCLOCKWISE);
    const Case cases[] = {
        {printedItems({36000, 80}, false, 4), true, false},
        {printedItems({300, 36000}, true, 4), true, false},
        {printedItems({120000, 60}, false, -1), false, true},
        {upright, false, true},
        {printedItems({200, 100000}, true, -1), false, true},
        {cv::Mat(8, 20000, CV_8U, cv::Scalar(255)), false, false},
        {cv::Mat(20000, 8, CV_8U, cv::Scalar(255)), false, false},
        {cv::Mat(40, 100000, CV_8U, cv::Scalar(255)), false, false},
    };
    ReadOptions options;
    options.languages = "eng";
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.image.size());
        ReadResult result;
        ASSERT_NO_THROW(result = readText(c.image, options));
        EXPECT_EQ(!result.lines.empty(), c.reads);
        EXPECT_EQ(!result.unreadable.empty(), c.refused) << result.unreadable;
        EXPECT_FALSE(result.cutShort);
        const cv::Rect frame(cv::Point(), c.image.size());
        std::string text;
        for (const Line& line : result.lines) {
            EXPECT_EQ(line.box & frame, line.box);
            text += line.text + "\n";
        }
        if (c.reads) {
            EXPECT_NE(text.find("TOTAL 8.69"), std::string::npos) << text;
        }
    }
}

// A thread keeps the engines of its four latest language sets, the most recent first: a set read
// again moves to the front, a fifth pushes out the least recently read. "eng deu" is "eng+deu";
// "deu+eng", whose main language differs, is a set of its own.
TEST(Engine, AThreadHoldsItsFourLatestLanguageSets)
{
    using Sets = std::vector<std::string>;
    const char* const reads[] = {"eng", "deu", "eng deu", "deu+eng", "eng", "kor"};
    std::vector<Sets> held;
    std::thread reader([&] {
        const cv::Mat page(64, 64, CV_8U, cv::Scalar(255));
        ReadOptions options;
        options.rectify = options.upright = false;
        for (const char* languages : reads) {
            options.languages = languages;
            readText(page, options);
            held.push_back(engine::heldEngines());
        }
    });
    reader.join();
    ASSERT_EQ(held.size(), std::size(reads));
    EXPECT_EQ(held[3], (Sets{"deu+eng", "eng+deu", "deu", "eng"}));
    EXPECT_EQ(held[4], (Sets{"eng", "deu+eng", "eng+deu", "deu"}));
    EXPECT_EQ(held[5], (Sets{"kor", "eng", "deu+eng", "eng+deu"}));
}

TEST(ReadText, BadImagesAndLanguagesReadNothing)
{
    const cv::Mat blank(200, 300, CV_8UC1, cv::Scalar(255));
    const cv::Mat images[] = {cv::Mat(), cv::Mat(100, 100, CV_16UC1, cv::Scalar(0)), cv::Mat(100, 100, CV_32FC3),
                              cv::Mat(100, 100, CV_8UC2, cv::Scalar(0)), cv::Mat(1, 1, CV_8UC1, cv::Scalar(0)),
                              cv::Mat(3, 4000, CV_8UC3, cv::Scalar(0, 0, 0)), blank};
    for (const cv::Mat& image : images) {
        const ReadResult result = readText(image);
        EXPECT_TRUE(result.lines.empty()) << image.size() << " type " << image.type();
        EXPECT_FALSE(result.cutShort);
        EXPECT_EQ(uprightRotation(image), 0);
    }
    for (const char* languages : {"", "xyz", "kor+", "+eng", "kor++eng", "osd", "eng+xyz", "../eng"}) {
        ReadOptions options;
        options.languages = languages;
        EXPECT_FALSE(languagesInstalled(languages)) << languages;
        EXPECT_TRUE(readText(blank, options).lines.empty()) << languages;
    }
}

TEST(ReadText, InstalledLanguagesAreTheReadingModels)
{
    const auto languages = installedLanguages();
    for (const char* name : {"deu", "eng", "kor"})
        EXPECT_NE(std::find(languages.begin(), languages.end(), name), languages.end()) << name;
    EXPECT_EQ(std::find(languages.begin(), languages.end(), "osd"), languages.end());
    EXPECT_TRUE(std::is_sorted(languages.begin(), languages.end()));
    for (const char* set : {"kor+eng", "eng", "deu+eng+kor"})
        EXPECT_TRUE(languagesInstalled(set)) << set;
}

} // namespace
