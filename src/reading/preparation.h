// Making an image into the page Tesseract reads best: the page found and
// flattened, turned upright, deskewed, scaled to a set letter height and
// binarized, with the transform back to the image's pixels.
#pragma once

#include <array>
#include <string>

#include <opencv2/core.hpp>

#include "reading/deadline.h"

namespace tarvek::reading {

// What the page is handed to Tesseract as.
enum class Binarization { Grey, Otsu, AdaptiveOtsu, Sauvola, MultiscaleSauvola };

struct Preparation {
    Binarization binarization = Binarization::MultiscaleSauvola;
    // Median height, in pixels, of the letters on the page Tesseract reads.
    int letterHeight = 32;
};

struct PreparedPage {
    cv::Mat pixels; // 8-bit, one channel; empty when the image cannot be read
    cv::Matx33d toImage = cv::Matx33d::eye(); // prepared pixels -> the image's pixels
    bool pageFound = false;
    std::array<cv::Point2f, 4> corners{}; // in the image's pixels
    int rotation = 0; // clockwise quarter turns in degrees
    bool noise = false; // the image holds no text to read (pixels empty)
    bool cutShort = false; // the deadline passed before the page was ready (pixels empty)
    std::string unreadable; // why the page cannot be read (pixels empty)
};

// The deadline is looked at between the stages; once it has passed, the page comes back
// unfinished, with cutShort.
PreparedPage prepared(const cv::Mat& image, bool rectify, bool upright, const Preparation& how = {},
                      const Deadline& deadline = {});

// Whether an image is one the reading takes: 8-bit with one, three or four channels, at least
// 8 pixels on each side.
bool readable(const cv::Mat& image);

// Larger prepared pages are not made: their reading would take longer than any deadline.
constexpr double MAX_PREPARED_PIXELS = 8e6;

// The image reduced by area to at most MAX_WORKING_PIXELS, which is all that a prepared page
// needs (the page found may fill only part of the image), and how many of the image's pixels one
// of its pixels spans a side (1: the image itself).
constexpr double MAX_WORKING_PIXELS = 2 * MAX_PREPARED_PIXELS;
struct WorkingCopy {
    cv::Mat image;
    double reduction = 1;
};
WorkingCopy workingCopy(const cv::Mat& image);

// The engine takes pages up to 32767 pixels a side (OpenCV's warps as well), so prepared pages
// are at most this long: room is left for the deskew's wider canvas and for a scale near 1
// that is not applied. Text on a page scaled down to this bound reads only when its letters
// stay at least MIN_READABLE_LETTERS high: on generated receipts 14-pixel letters came back with
// 2 % of the English and 11 % of the Korean characters wrong, 12-pixel ones with 12 % and 16 %.
constexpr int MAX_PREPARED_SIDE = 30000;
constexpr int MIN_READABLE_LETTERS = 14;

// The grey page at the set letter height, and the transform to it from the page. Empty, with the
// reason, when the page is too long for the engine at a letter height it reads.
struct LetterScaled {
    cv::Mat pixels;
    cv::Matx33d toPage = cv::Matx33d::eye();
    std::string unreadable;
};
LetterScaled scaledToLetters(const cv::Mat& grey, const Preparation& how);

// The grey page binarized as `how` says.
cv::Mat binarized(const cv::Mat& grey, Binarization binarization, int letterHeight);

// The clockwise quarter turn of the page in degrees (0, 90, 180, 270) and its pixel transform.
cv::Mat turned(const cv::Mat& page, int degrees);
cv::Matx33d turnTransform(cv::Size page, int degrees);

// Median letter height of a binary page (ink 0): the larger side of ink
// components of letter-like size; 0 when none is found.
int medianLetterHeight(const cv::Mat& binary);

// Angle in degrees (counter-clockwise positive, within +-MAX_SKEW) by which the
// ink rows of a binary page are tilted.
constexpr double MAX_SKEW = 5.0;
double skewAngle(const cv::Mat& binary);

// Box of the prepared page mapped to the image's pixels (bounding box of its mapped corners).
cv::Rect mappedBox(const cv::Rect& box, const cv::Matx33d& transform);

} // namespace tarvek::reading
