#pragma once

// Small images encoded by OpenCV, for tests that need real image files.

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
