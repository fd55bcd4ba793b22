// Making an image into the page Tesseract reads best: the page found and
// flattened, turned upright, deskewed, scaled to a set letter height and
// binarized, with the transform back to the image's pixels.
#pragma once

#include <array>

#include <opencv2/core.hpp>

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
    std::array<cv::Point2f, 4> corners{};
    int rotation = 0; // clockwise quarter turns in degrees
    bool noise = false; // the image holds no text to read (pixels empty)
};

PreparedPage prepared(const cv::Mat& image, bool rectify, bool upright, const Preparation& how = {});

// Whether an image is one the reading takes: 8-bit with one, three or four channels, at least
// 8 pixels on each side.
bool readable(const cv::Mat& image);

// The grey page at the set letter height (the transform to it from the page
// in toPage) and binarized as `how` says.
cv::Mat scaledToLetters(const cv::Mat& grey, const Preparation& how, cv::Matx33d& toPage);
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
