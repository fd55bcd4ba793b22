#pragma once

// The receipt of tests/data/receipts (see its SOURCE.txt), for the tests that
// read text through the server and the command line, with what it says.

#include <opencv2/imgcodecs.hpp>

#include <string>
#include <vector>

namespace testreceipt {

const std::string path = TARVEK_TEST_DATA "/receipts/sunrise_bakery.png";
// The receipt photographed on a desk, and where its corners lie in the photo.
const std::string photoPath = TARVEK_TEST_DATA "/receipts/sunrise_bakery_photo.jpg";
const std::vector<cv::Point> photoCorners = {{150, 110}, {880, 80}, {905, 640}, {130, 690}};

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

inline cv::Mat receiptImage() { return cv::imread(path, cv::IMREAD_COLOR); }

// Many copies of the receipt on one page: six lines each, to keep a reading thread busy for
// a while (about a tenth of a second a receipt here).
inline cv::Mat crowdedReceipts(int rows, int columns) { return cv::repeat(receiptImage(), rows, columns); }

} // namespace testreceipt
