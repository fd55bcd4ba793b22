#pragma once

// An edge map like the document search makes from a photographed page.

#include <algorithm>
#include <vector>

#include <opencv2/imgproc.hpp>

// A photographed page: a tilted bright sheet with rows of dark word blocks
// on a mottled desk, blurred and run through Canny like the document search
// does with its scaled photograph.
inline cv::Mat documentEdgeMap(int width, int height)
{
    cv::RNG rng(20261207);
    cv::Mat noise(height / 8, width / 8, CV_8UC1);
    rng.fill(noise, cv::RNG::UNIFORM, 60, 120);
    cv::Mat photo;
    cv::resize(noise, photo, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);

    const float sx = width / 320.0f;
    const float sy = height / 240.0f;
    std::vector<cv::Point> sheet = {cv::Point(cvRound(52 * sx), cvRound(30 * sy)),
                                    cv::Point(cvRound(262 * sx), cvRound(22 * sy)),
                                    cv::Point(cvRound(275 * sx), cvRound(214 * sy)),
                                    cv::Point(cvRound(45 * sx), cvRound(222 * sy))};
    cv::fillConvexPoly(photo, sheet, cv::Scalar(215));
    for (int line = 0; line < 22; line++) {
        int y = cvRound((46 + line * 7.5f) * sy);
        int x = cvRound(70 * sx);
        while (x < cvRound(240 * sx)) {
            int word = cvRound(rng.uniform(6, 22) * sx);
            cv::rectangle(photo, cv::Rect(x, y, word, std::max(2, cvRound(3 * sy))), cv::Scalar(40), cv::FILLED);
            x += word + cvRound(4 * sx);
        }
    }
    cv::GaussianBlur(photo, photo, cv::Size(5, 5), 0);
    cv::Mat edges;
    cv::Canny(photo, edges, 50, 150);
    return edges;
}
