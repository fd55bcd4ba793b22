#pragma once

// A small receipt printed black on white in OpenCV's own font, for the tests
// that read text through the server and the command line, with what it says.

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

namespace testreceipt {

const std::string businessName = "SUNRISE BAKERY";
const std::string telephone = "02-721-4567";
const std::string date = "2019-01-10";
const std::string total = "7.70";

inline const std::vector<std::string>& printedLines()
{
    static const std::vector<std::string> lines = {businessName, "TEL " + telephone, "DATE " + date,
                                                   "BREAD 4.50",  "COFFEE 3.20",      "TOTAL " + total};
    return lines;
}

inline cv::Mat renderedReceipt()
{
    constexpr int lineHeight = 70, margin = 60;
    const auto& lines = printedLines();
    cv::Mat page(2 * margin + lineHeight * static_cast<int>(lines.size()), 760, CV_8UC3, cv::Scalar::all(255));
    for (std::size_t i = 0; i < lines.size(); ++i)
        cv::putText(page, lines[i], {margin, margin + 45 + lineHeight * static_cast<int>(i)}, cv::FONT_HERSHEY_DUPLEX,
                    1.4, cv::Scalar::all(0), 2, cv::LINE_AA);
    return page;
}

} // namespace testreceipt
