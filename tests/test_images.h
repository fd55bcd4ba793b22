#pragma once

// Images for tests: small files encoded by OpenCV, and a synthetic photograph of a page.

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

// A 64 x 48 colour image with a filled rectangle, encoded by file extension (".png", ".jpg", ...).
inline std::string encodedImage(const std::string& extension)
{
    cv::Mat image(48, 64, CV_8UC3, cv::Scalar(250, 250, 250));
    cv::rectangle(image, cv::Rect(8, 8, 30, 20), cv::Scalar(20, 40, 200), cv::FILLED);
    std::vector<uchar> bytes;
    cv::imencode(extension, image, bytes);
    return std::string(bytes.begin(), bytes.end());
}

// A PNG header declaring 40000 x 40000 pixels, without image data.
inline std::string hugeDeclaredPng()
{
    std::string png = encodedImage(".png");
    const unsigned char size[8] = {0, 0, 0x9c, 0x40, 0, 0, 0x9c, 0x40};
    png.replace(16, 8, reinterpret_cast<const char*>(size), 8);
    return png;
}

// A photographed page: a mottled dark desk and a bright page with lines of text seen at an angle;
// corners top-left, top-right, bottom-right, bottom-left.
inline cv::Mat photographedPage(cv::Size size, const std::vector<cv::Point>& page)
{
    cv::Mat noise(size.height / 16, size.width / 16, CV_8UC1), grain, photo;
    cv::RNG rng(7);
    rng.fill(noise, cv::RNG::UNIFORM, 50, 100);
    cv::resize(noise, grain, size, 0, 0, cv::INTER_CUBIC);
    cv::merge(std::vector<cv::Mat>{grain - 10, grain, grain + 15}, photo);  // a brownish desk
    cv::fillConvexPoly(photo, page, cv::Scalar(228, 232, 235), cv::LINE_AA);
    const cv::Point centre = (page[0] + page[2]) / 2;
    for (int line = -6; line <= 6; ++line) {
        const cv::Point at = centre + cv::Point(-size.width / 8, line * size.height / 40);
        cv::putText(photo, "TOTAL 12,500  CARD 4321", at, cv::FONT_HERSHEY_SIMPLEX, size.width / 1600.0,
                    cv::Scalar(30, 30, 30), 2);
    }
    cv::GaussianBlur(photo, photo, cv::Size(5, 5), 0);
    return photo;
}
