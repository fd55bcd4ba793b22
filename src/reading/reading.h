// Reading a photographed or scanned page: its text lines through Tesseract,
// and the fields of a receipt (business name, telephone, date, total).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace tarvek::reading {

struct ReadOptions {
    // Tesseract language set: installed models joined by '+' (or spaces), e.g. "kor+eng".
    std::string languages = "kor+eng";
    // Find the page in a photo and flatten it before reading.
    bool rectify = true;
    // Turn the page upright (orientation detection) before reading.
    bool upright = true;
    // Time allowed for reading one page, from deadlineStart; the lines recognised by then are kept.
    int deadlineMs = 20000;
    // When the deadline starts counting, e.g. a request's arrival; the default (the clock's epoch) means when readText is called.
    std::chrono::steady_clock::time_point deadlineStart{};
    // Reading stops at its next check once this becomes true (set from another thread); nullptr: never.
    const std::atomic<bool>* cancel = nullptr;
};

// Boxes are in the pixels of the image given to readText.
struct Word {
    std::string text; // UTF-8
    cv::Rect box;
    float confidence = 0; // 0 to 1
};

struct Line {
    std::string text; // UTF-8, words joined by single spaces
    cv::Rect box;
    float confidence = 0; // 0 to 1
    std::vector<Word> words;
};

struct ReadResult {
    // In reading order: top to bottom, blocks as Tesseract lays them out.
    std::vector<Line> lines;
    // The deadline passed or reading was cancelled: during recognition lines holds what was read
    // by then, during the page's preparation nothing.
    bool cutShort = false;
    // Why the page could not be read at all, for the user (e.g. that its text lines are too long for the engine); empty when it was read.
    std::string unreadable;
    // Why the page was not read although it could be, for the user: "noise" when it looked like
    // noise rather than print (too much ink, or pieces too many or too small for letters); empty
    // when it was read.
    std::string notRead;
    // A page was found in the photo and flattened before reading.
    bool pageFound = false;
    // The found page's top-left, top-right, bottom-right, bottom-left corners in
    // the image's pixels (all zero when no page was found).
    std::array<cv::Point2f, 4> corners{};
    // Clockwise turn, in degrees (0, 90, 180 or 270), applied to make the page upright.
    int rotation = 0;
};

// The text lines of the image (8-bit, one, three or four channels). An empty or
// unreadable image, or an unknown language set, gives an empty result.
ReadResult readText(const cv::Mat& image, const ReadOptions& options = {});

// The language set with its parts joined by '+': a space separates them as '+' does, since a
// URL's query decodes '+' as a space ("deu eng" and "deu+eng" both give "deu+eng"). Nothing
// else changes, so that an incomplete or unknown set stays one.
std::string normalisedLanguages(const std::string& languages);

// Languages whose models are installed (e.g. "deu", "eng", "kor"), sorted;
// the orientation model "osd" is not a reading language and not listed.
std::vector<std::string> installedLanguages();

// Whether every part of the language set ('+' or space separated) is installed.
bool languagesInstalled(const std::string& languages);

// Clockwise turn in degrees (0, 90, 180 or 270) that makes the page's text
// upright, from Tesseract's orientation detection; 0 when it cannot tell.
int uprightRotation(const cv::Mat& page);

// The page turned clockwise by uprightRotation(page).
cv::Mat upright(const cv::Mat& page);

// Tesseract runs parts of a page on OpenMP threads, four at a time whatever the
// cores, so that a page read on each core only contends with itself: on two
// cores one receipt took 7.1 s unlimited, 1.4 s with one thread. Sets
// OMP_THREAD_LIMIT to 1 unless the environment sets a limit, and returns
// whether it changed the environment. OpenMP reads the variable when its library
// loads, which in a program linked with Tesseract is before main: a change
// reaches only processes started afterwards, so a program that gets true starts
// itself once more (as for imageio::limitDecoderPixels).
bool limitEngineThreads();

// A receipt field: its value in normal form, the line text it came from, the
// box of that line and a confidence in [0, 1].
struct Field {
    std::string value;
    std::string text;
    cv::Rect box;
    float confidence = 0;
};

struct Total : Field {
    // ISO 4217 code when the receipt prints a currency ("KRW", "EUR", "USD",
    // "MYR"...), otherwise empty.
    std::string currency;
};

// Business name as printed; telephone as printed digits and separators; date
// as YYYY-MM-DD; total as a decimal string with '.' ("420000", "24.23").
struct ReceiptFields {
    std::optional<Field> businessName, telephone, date;
    std::optional<Total> total;
};

// The four fields found in a receipt's lines; a field stays empty when no line
// qualifies.
ReceiptFields receiptFields(const std::vector<Line>& lines);

} // namespace tarvek::reading
