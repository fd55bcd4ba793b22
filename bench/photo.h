#pragma once

// A phone-style photograph for benchmarks: a textured desk, a white page seen
// at an angle, lines of text; JPEG-encoded.

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

inline std::string syntheticPhotographJpeg(int width, int height, int quality = 92)
{
    cv::Mat desk(height, width, CV_8UC3);
    cv::randn(desk, cv::Scalar(90, 110, 130), cv::Scalar(25, 25, 25));
    cv::GaussianBlur(desk, desk, cv::Size(5, 5), 0);

    cv::Mat page(2970, 2100, CV_8UC3, cv::Scalar(238, 240, 242));
    for (int line = 0; line < 60; ++line)
        cv::putText(page, "RECEIPT 2019-01-10  item " + std::to_string(line * 137) + "  amount 420000 KRW",
                    cv::Point(120, 160 + line * 45), cv::FONT_HERSHEY_SIMPLEX, 1.3, cv::Scalar(30, 30, 30), 3);

    const float w = static_cast<float>(width), h = static_cast<float>(height);
    const cv::Point2f from[] = {{0, 0}, {2100, 0}, {2100, 2970}, {0, 2970}};
    const cv::Point2f to[] = {{0.225f * w, 0.083f * h}, {0.76f * w, 0.14f * h}, {0.81f * w, 0.93f * h},
                              {0.175f * w, 0.88f * h}};
    cv::warpPerspective(page, desk, cv::getPerspectiveTransform(from, to), desk.size(), cv::INTER_AREA,
                        cv::BORDER_TRANSPARENT);
    std::vector<uchar> encoded;
    cv::imencode(".jpg", desk, encoded, {cv::IMWRITE_JPEG_QUALITY, quality});
    return std::string(encoded.begin(), encoded.end());
}
