// Synthetic receipts: generated business names, telephones, dates, item lines and totals,
// printed with a TrueType font in one of several layouts, then degraded like a photo or a
// scan (noise, blur, slight rotation, uneven light). Used by the reading tests and benchmarks.
#pragma once

#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace tarvek::synthetic {

enum class ReceiptLanguage { Korean, English };

struct Receipt {
    std::string businessName;
    std::string telephone;        // as printed
    std::string date;             // YYYY-MM-DD
    std::string total;            // decimal string
    std::string currency;         // ISO code when the receipt prints one, else empty
    std::vector<std::string> lines; // the printed lines, top to bottom
    cv::Mat image;                // 8-bit BGR
};

// Folder of the Korean TrueType fonts the receipts are printed with.
extern const char* const FONT_FOLDER;

// One receipt drawn from the generator; degraded adds the photo and scan defects.
Receipt receipt(std::mt19937& random, ReceiptLanguage language, bool degraded);

} // namespace tarvek::synthetic
