#include "synthetic_receipt.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include <opencv2/freetype.hpp>
#include <opencv2/imgproc.hpp>

namespace tarvek::synthetic {

const char* const FONT_FOLDER = "/usr/share/fonts/truetype/nanum";

namespace {

template <typename T, size_t N>
const T& pick(std::mt19937& random, const T (&choices)[N])
{
    return choices[std::uniform_int_distribution<size_t>(0, N - 1)(random)];
}

int between(std::mt19937& random, int least, int most)
{
    return std::uniform_int_distribution<int>(least, most)(random);
}

bool chance(std::mt19937& random, double p)
{
    return std::bernoulli_distribution(p)(random);
}

std::string format(const char* pattern, int a, int b = 0, int c = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

// 420000 -> "420,000"
std::string grouped(long value)
{
    std::string digits = std::to_string(value), result;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            result += ',';
        result += digits[i];
    }
    return result;
}

// ---------------------------------------------------------------------------
// Content
// ---------------------------------------------------------------------------

const char* const KOREAN_PLACES[] = {"행복", "우리", "한솔", "서울", "푸른", "대한", "새봄", "별빛", "하나", "미래",
                                     "초록", "바다", "소망", "해돋이", "늘봄", "은하"};
const char* const KOREAN_KINDS[] = {"마트", "편의점", "식당", "카페", "약국", "베이커리", "분식", "정육점", "문구", "서점"};
const char* const KOREAN_BRANCHES[] = {"강남점", "종로점", "부산역점", "신촌점", "본점", "해운대점"};
const char* const KOREAN_ITEMS[] = {"아메리카노", "카페라떼", "라면", "삼각김밥", "생수", "우유", "과자", "김치찌개",
                                    "비빔밥", "떡볶이", "식빵", "사과", "계란", "두부", "볼펜", "공책", "휴지", "커피"};
const char* const KOREAN_TOTALS[] = {"합계", "합 계", "총액", "결제금액", "받을금액", "합계금액"};
const char* const KOREAN_ROADS[] = {"테헤란로", "세종대로", "중앙로", "해운대로", "신촌로", "종로"};

const char* const ENGLISH_PLACES[] = {"Green", "Sunny", "Corner", "Harbor", "Maple", "Golden", "River", "Oak"};
const char* const ENGLISH_KINDS[] = {"Market", "Cafe", "Bakery", "Pharmacy", "Grocer", "Diner", "Books"};
const char* const ENGLISH_ITEMS[] = {"Coffee", "Latte", "Bread", "Milk", "Apples", "Eggs", "Water", "Tea",
                                     "Sandwich", "Cookies", "Soup", "Pencil", "Notebook", "Juice"};
const char* const ENGLISH_TOTALS[] = {"TOTAL", "Total", "AMOUNT DUE", "TOTAL DUE", "Amount"};

std::string koreanName(std::mt19937& random)
{
    std::string name = std::string(pick(random, KOREAN_PLACES)) + pick(random, KOREAN_KINDS);
    if (chance(random, 0.3))
        name = "(주)" + name;
    if (chance(random, 0.4))
        name += std::string(" ") + pick(random, KOREAN_BRANCHES);
    return name;
}

std::string koreanTelephone(std::mt19937& random)
{
    switch (between(random, 0, 3)) {
    case 0: return format("02-%03d-%04d", between(random, 200, 999), between(random, 0, 9999));
    case 1: return format("0%d-%03d-%04d", between(random, 31, 64), between(random, 200, 999), between(random, 0, 9999));
    case 2: return format("1%03d-%04d", between(random, 577, 899), between(random, 0, 9999));
    default: return format("010-%04d-%04d", between(random, 1000, 9999), between(random, 0, 9999));
    }
}

std::string printedKoreanDate(std::mt19937& random, int y, int m, int d)
{
    switch (between(random, 0, 3)) {
    case 0: return format("%04d-%02d-%02d", y, m, d);
    case 1: return format("%04d.%02d.%02d", y, m, d);
    case 2: return format("%02d/%02d/%02d", y % 100, m, d);
    default: return format("%d년 ", y) + format("%d월 %d일", m, d);
    }
}

std::string printedEnglishDate(std::mt19937& random, int y, int m, int d)
{
    static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    switch (between(random, 0, 2)) {
    case 0: return format("%02d/%02d/%04d", d, m, y);
    case 1: return format("%04d-%02d-%02d", y, m, d);
    default: return format("%02d ", d) + MONTHS[m - 1] + format(" %04d", y);
    }
}

struct Item {
    std::string name;
    int quantity;
    long price; // in the smallest unit printed
};

// A printed line: left text, and right-aligned text (may be empty).
struct Row {
    std::string left, right;
    bool centred = false;
    bool large = false;
};

Receipt koreanReceipt(std::mt19937& random, std::vector<Row>& rows)
{
    Receipt r;
    r.businessName = koreanName(random);
    r.telephone = koreanTelephone(random);
    const int y = between(random, 2015, 2024), m = between(random, 1, 12), d = between(random, 1, 28);
    r.date = format("%04d-%02d-%02d", y, m, d);
    const bool won = chance(random, 0.6);
    r.currency = won ? "KRW" : "";
    std::vector<Item> items;
    long total = 0;
    for (int i = between(random, 2, 7); i > 0; --i) {
        Item item{pick(random, KOREAN_ITEMS), between(random, 1, 4), 100L * between(random, 5, 300)};
        total += item.quantity * item.price;
        items.push_back(item);
    }
    r.total = std::to_string(total);
    const auto amount = [&](long v) { return grouped(v) + (won ? "원" : ""); };

    rows.push_back({r.businessName, "", true, true});
    rows.push_back({format("사업자번호: %03d-%02d-", between(random, 100, 999), between(random, 10, 99)) +
                        format("%05d", between(random, 0, 99999)), ""});
    rows.push_back({std::string("서울특별시 ") + pick(random, KOREAN_ROADS) + format(" %d", between(random, 1, 300)), ""});
    rows.push_back({"전화: " + r.telephone, ""});
    rows.push_back({"거래일시: " + printedKoreanDate(random, y, m, d) + format(" %02d:%02d", between(random, 8, 22), between(random, 0, 59)), ""});
    rows.push_back({"--------------------------------", ""});
    rows.push_back({"상품명      수량", "금액"});
    for (const Item& item : items)
        rows.push_back({item.name + format("  %d", item.quantity), amount(item.quantity * item.price)});
    rows.push_back({"--------------------------------", ""});
    const long vat = total / 11;
    rows.push_back({"과세물품가액", amount(total - vat)});
    rows.push_back({"부가세", amount(vat)});
    rows.push_back({pick(random, KOREAN_TOTALS), amount(total), false, chance(random, 0.5)});
    if (chance(random, 0.5)) {
        const long paid = (total / 10000 + 1) * 10000;
        rows.push_back({"받은금액", amount(paid)});
        rows.push_back({"거스름돈", amount(paid - total)});
    } else {
        rows.push_back({"신용카드", amount(total)});
    }
    rows.push_back({"감사합니다", "", true});
    return r;
}

Receipt englishReceipt(std::mt19937& random, std::vector<Row>& rows)
{
    Receipt r;
    r.businessName = std::string(pick(random, ENGLISH_PLACES)) + " " + pick(random, ENGLISH_KINDS);
    r.telephone = format("(0%d) %04d %04d", between(random, 2, 9), between(random, 1000, 9999), between(random, 0, 9999));
    const int y = between(random, 2015, 2024), m = between(random, 1, 12), d = between(random, 1, 28);
    r.date = format("%04d-%02d-%02d", y, m, d);
    const bool symbol = chance(random, 0.6);
    r.currency = symbol ? "USD" : "";
    long cents = 0;
    std::vector<Item> items;
    for (int i = between(random, 2, 7); i > 0; --i) {
        Item item{pick(random, ENGLISH_ITEMS), between(random, 1, 3), long(between(random, 50, 2500))};
        cents += item.quantity * item.price;
        items.push_back(item);
    }
    const auto amount = [&](long v) { return (symbol ? "$" : "") + format("%d.%02d", int(v / 100), int(v % 100)); };
    r.total = format("%d.%02d", int(cents / 100), int(cents % 100));

    rows.push_back({r.businessName, "", true, true});
    rows.push_back({format("%d ", between(random, 1, 999)) + pick(random, ENGLISH_PLACES) + " Street", "", true});
    rows.push_back({"Tel: " + r.telephone, "", true});
    rows.push_back({"Date: " + printedEnglishDate(random, y, m, d) + format(" %02d:%02d", between(random, 8, 22), between(random, 0, 59)), ""});
    rows.push_back({"--------------------------------", ""});
    for (const Item& item : items)
        rows.push_back({format("%d x ", item.quantity) + item.name, amount(item.quantity * item.price)});
    rows.push_back({"--------------------------------", ""});
    rows.push_back({"Subtotal", amount(cents - cents / 11)});
    rows.push_back({"Tax", amount(cents / 11)});
    rows.push_back({pick(random, ENGLISH_TOTALS), amount(cents), false, chance(random, 0.5)});
    rows.push_back({"Card", amount(cents)});
    rows.push_back({"Thank you!", "", true});
    return r;
}

// ---------------------------------------------------------------------------
// Printing
// ---------------------------------------------------------------------------

const char* const FONTS[] = {"NanumGothic.ttf", "NanumBarunGothic.ttf", "NanumMyeongjo.ttf", "NanumGothicCoding.ttf",
                             "NanumSquareR.ttf"};

cv::Ptr<cv::freetype::FreeType2> font(const std::string& file)
{
    thread_local std::map<std::string, cv::Ptr<cv::freetype::FreeType2>> fonts;
    auto& loaded = fonts[file];
    if (!loaded) {
        loaded = cv::freetype::createFreeType2();
        loaded->loadFontData(std::string(FONT_FOLDER) + "/" + file, 0);
    }
    return loaded;
}

cv::Mat printed(std::mt19937& random, const std::vector<Row>& rows, std::vector<std::string>& lines)
{
    const auto ft = font(pick(random, FONTS));
    const int height = between(random, 22, 30), width = between(random, 24, 30) * height, margin = height;
    const int leading = height * 3 / 2 + between(random, 0, height / 3);
    // Layouts: centred or left-aligned header, amounts at the right edge or after a tab stop.
    const bool centredHeader = chance(random, 0.6);
    const int amountColumn = chance(random, 0.5) ? width - margin : width * 3 / 4;
    cv::Mat page(int(rows.size()) * leading * 6 / 5 + 2 * margin + leading, width, CV_8UC3, cv::Scalar::all(255));
    int y = margin + height;
    for (const Row& row : rows) {
        const int size = row.large ? height * 3 / 2 : height;
        int baseline = 0;
        const cv::Size text = ft->getTextSize(row.left, size, -1, &baseline);
        const int x = row.centred && centredHeader ? (width - text.width) / 2 : margin;
        ft->putText(page, row.left, cv::Point(x, y), size, cv::Scalar::all(20), -1, cv::LINE_AA, false);
        std::string line = row.left;
        if (!row.right.empty()) {
            const cv::Size right = ft->getTextSize(row.right, size, -1, &baseline);
            ft->putText(page, row.right, cv::Point(amountColumn - right.width, y), size, cv::Scalar::all(20), -1,
                        cv::LINE_AA, false);
            line += " " + row.right;
        }
        lines.push_back(line);
        y += row.large ? leading * 6 / 5 : leading;
    }
    return page(cv::Rect(0, 0, width, std::min(page.rows, y + margin))).clone();
}

// Photo and scan defects: uneven light, slight rotation on a darker ground, blur and noise.
cv::Mat degradedCopy(std::mt19937& random, const cv::Mat& page)
{
    const int border = page.cols / 8;
    cv::Mat ground;
    const int shade = between(random, 60, 170);
    cv::copyMakeBorder(page, ground, border, border, border, border, cv::BORDER_CONSTANT, cv::Scalar::all(shade));
    const double angle = std::uniform_real_distribution<double>(-3, 3)(random);
    const cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(ground.cols / 2.0f, ground.rows / 2.0f), angle, 1.0);
    cv::warpAffine(ground, ground, turn, ground.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(shade));
    // Light falling off across the sheet.
    cv::Mat light(ground.size(), CV_32F);
    const double fall = std::uniform_real_distribution<double>(0.0, 0.35)(random);
    const cv::Point2f source(float(between(random, 0, ground.cols)), float(between(random, 0, ground.rows)));
    const double reach = std::hypot(ground.cols, ground.rows);
    for (int yy = 0; yy < light.rows; ++yy) {
        float* row = light.ptr<float>(yy);
        for (int xx = 0; xx < light.cols; ++xx)
            row[xx] = float(1.0 - fall * std::hypot(xx - source.x, yy - source.y) / reach);
    }
    cv::Mat lit;
    ground.convertTo(lit, CV_32FC3);
    cv::Mat light3;
    cv::merge(std::vector<cv::Mat>{light, light, light}, light3);
    lit = lit.mul(light3);
    const double sigma = std::uniform_real_distribution<double>(0.3, 1.2)(random);
    cv::GaussianBlur(lit, lit, cv::Size(0, 0), sigma);
    cv::Mat noise(lit.size(), CV_32FC3);
    cv::randn(noise, 0, std::uniform_real_distribution<double>(2, 10)(random));
    lit += noise;
    cv::Mat result;
    lit.convertTo(result, CV_8UC3);
    return result;
}

} // namespace

Receipt receipt(std::mt19937& random, ReceiptLanguage language, bool degraded)
{
    std::vector<Row> rows;
    Receipt r = language == ReceiptLanguage::Korean ? koreanReceipt(random, rows) : englishReceipt(random, rows);
    cv::Mat page = printed(random, rows, r.lines);
    r.image = degraded ? degradedCopy(random, page) : page;
    return r;
}

} // namespace tarvek::synthetic
