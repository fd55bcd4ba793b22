// synthetic-receipts [--seed S] [--english] [--clean] OUT N
// Writes N synthetic receipts as OUT/receipt-NNNN.jpg and their labels as OUT/labels.jsonl, one
// JSON object per receipt: file, business_name, telephone, date, total, currency, lines.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include <boost/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "synthetic_receipt.h"

int main(int argc, char** argv)
{
    unsigned seed = 1;
    bool english = false, clean = false;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seed" && i + 1 < argc)
            seed = static_cast<unsigned>(std::stoul(argv[++i]));
        else if (arg == "--english")
            english = true;
        else if (arg == "--clean")
            clean = true;
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2) {
        std::cerr << "usage: synthetic-receipts [--seed S] [--english] [--clean] OUT N\n";
        return 2;
    }
    const std::filesystem::path out = positional[0];
    const int count = std::stoi(positional[1]);
    std::filesystem::create_directories(out);
    std::ofstream labels(out / "labels.jsonl");
    std::mt19937 random(seed);
    const auto language = english ? tarvek::synthetic::ReceiptLanguage::English : tarvek::synthetic::ReceiptLanguage::Korean;
    for (int i = 0; i < count; ++i) {
        const tarvek::synthetic::Receipt receipt = tarvek::synthetic::receipt(random, language, !clean);
        char name[32];
        std::snprintf(name, sizeof name, "receipt-%04d.jpg", i);
        cv::imwrite((out / name).string(), receipt.image, {cv::IMWRITE_JPEG_QUALITY, 90});
        boost::json::array lines;
        for (const std::string& line : receipt.lines)
            lines.emplace_back(line);
        labels << boost::json::serialize(boost::json::object{{"file", name},
                                                             {"business_name", receipt.businessName},
                                                             {"telephone", receipt.telephone},
                                                             {"date", receipt.date},
                                                             {"total", receipt.total},
                                                             {"currency", receipt.currency},
                                                             {"lines", lines}})
               << "\n";
    }
    return 0;
}
