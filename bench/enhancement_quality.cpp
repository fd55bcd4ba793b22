// enhancement-quality FOLDER SHEET.png [SHEET_ROWS [THUMBNAIL_WIDTH]]: runs the colour background
// removal and three thresholdings (Otsu, block-wise Otsu with blocks of 64, Sauvola with window
// 15) on every image below FOLDER and prints, per method, the mean share of pixels that are pure
// white (255 in every channel) and the mean run time. SHEET.png gets one row for each of
// SHEET_ROWS images spread evenly over the sorted list (all by default): the image, then each
// method's result, as thumbnails at most THUMBNAIL_WIDTH (200) wide and twice that high.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "binarization.h"
#include "imageprocessing.h"

namespace {

struct Method {
    std::string name;
    std::function<bool(cv::Mat&, cv::Mat&)> run;  // false when the method refuses the image
};

std::vector<Method> methods()
{
    namespace bin = tarvek::binarization;
    return {
        {"removeBgColor", [](cv::Mat& src, cv::Mat& dst) { return tarvek::imageprocessing::removeBgColor(src, dst); }},
        {"otsu", [](cv::Mat& src, cv::Mat& dst) { return bin::otsu(src, dst) >= 0; }},
        {"adaptiveOtsu 64", [](cv::Mat& src, cv::Mat& dst) {
             bin::adaptiveOtsu(src, dst, 64);
             return !dst.empty();
         }},
        {"sauvola 15", [](cv::Mat& src, cv::Mat& dst) {
             bin::sauvola(src, dst, 15, 0.075, 128, false);
             return !dst.empty();
         }},
    };
}

// Totals of one method over all images.
struct Tally {
    double whiteShare = 0;
    double milliseconds = 0;
    int refused = 0;
};

std::vector<std::filesystem::path> imagesBelow(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (entry.is_regular_file() && (extension == ".jpg" || extension == ".jpeg" || extension == ".png" ||
                                        extension == ".tif" || extension == ".tiff" || extension == ".bmp"))
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

double pureWhiteShare(const cv::Mat& image)
{
    cv::Mat white;
    cv::inRange(image, cv::Scalar::all(255), cv::Scalar::all(255), white);
    return static_cast<double>(cv::countNonZero(white)) / static_cast<double>(image.total());
}

// The image reduced to fit a box `width` wide and twice as high, as three channels.
cv::Mat thumbnail(const cv::Mat& image, int width)
{
    cv::Mat small, colour;
    const double scale = std::min(static_cast<double>(width) / image.cols, 2.0 * width / image.rows);
    const cv::Size size(std::max(1, cvRound(image.cols * scale)), std::max(1, cvRound(image.rows * scale)));
    cv::resize(image, small, size, 0, 0, cv::INTER_AREA);
    if (small.channels() == 1)
        cv::cvtColor(small, colour, cv::COLOR_GRAY2BGR);
    else
        colour = small;
    return colour;
}

// Thumbnails side by side on a grey strip as high as the tallest, a few pixels apart.
cv::Mat sheetRow(const std::vector<cv::Mat>& thumbnails, int width)
{
    constexpr int GAP = 4;
    int height = 0;
    for (const cv::Mat& t : thumbnails)
        height = std::max(height, t.rows);
    cv::Mat row(height + GAP, static_cast<int>(thumbnails.size()) * (width + GAP), CV_8UC3, cv::Scalar::all(128));
    for (size_t i = 0; i < thumbnails.size(); ++i)
        thumbnails[i].copyTo(row(cv::Rect(static_cast<int>(i) * (width + GAP), 0, thumbnails[i].cols, thumbnails[i].rows)));
    return row;
}

cv::Mat headerRow(const std::vector<std::string>& names, int width)
{
    std::vector<cv::Mat> labels;
    for (const std::string& name : names) {
        cv::Mat label(22, width, CV_8UC3, cv::Scalar::all(255));
        cv::putText(label, name, cv::Point(4, 16), cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar::all(0), 1, cv::LINE_AA);
        labels.push_back(label);
    }
    return sheetRow(labels, width);
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::cerr << "usage: enhancement-quality FOLDER SHEET.png [SHEET_ROWS [THUMBNAIL_WIDTH]]\n";
        return 2;
    }
    const int width = argc > 4 ? std::stoi(argv[4]) : 200;
    const std::vector<Method> all = methods();
    std::vector<std::string> names = {"scan"};
    for (const Method& m : all)
        names.push_back(m.name);

    std::vector<Tally> tallies(all.size());
    std::vector<cv::Mat> rows = {headerRow(names, width)};
    double whiteBefore = 0;
    const std::vector<std::filesystem::path> images = imagesBelow(argv[1]);
    const size_t sheetRows = argc > 3 ? std::min<size_t>(std::stoul(argv[3]), images.size()) : images.size();
    for (size_t index = 0; index < images.size(); ++index) {
        const std::filesystem::path& path = images[index];
        cv::Mat scan = cv::imread(path.string(), cv::IMREAD_COLOR);
        if (scan.empty()) {
            std::cerr << path.string() << ": cannot be read\n";
            return 1;
        }
        whiteBefore += pureWhiteShare(scan);
        std::vector<cv::Mat> thumbnails = {thumbnail(scan, width)};
        for (size_t i = 0; i < all.size(); ++i) {
            cv::Mat result;
            const auto start = std::chrono::steady_clock::now();
            const bool done = all[i].run(scan, result);
            tallies[i].milliseconds +=
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (!done) {
                ++tallies[i].refused;
                result = cv::Mat(scan.size(), CV_8UC3, cv::Scalar(0, 0, 160));  // dark red: refused
            } else {
                tallies[i].whiteShare += pureWhiteShare(result);
            }
            thumbnails.push_back(thumbnail(result, width));
        }
        // Row r of the sheet shows image r * n / rows, so the rows spread over the whole list.
        const size_t nextRow = rows.size() - 1;
        if (nextRow < sheetRows && index == nextRow * images.size() / sheetRows)
            rows.push_back(sheetRow(thumbnails, width));
        std::cerr << path.filename().string() << " " << scan.cols << "x" << scan.rows << "\n";
    }
    if (images.empty()) {
        std::cerr << "no images below " << argv[1] << "\n";
        return 1;
    }
    cv::Mat sheet;
    cv::vconcat(rows, sheet);
    if (!cv::imwrite(argv[2], sheet, {cv::IMWRITE_PNG_COMPRESSION, 9})) {
        std::cerr << argv[2] << ": cannot be written\n";
        return 1;
    }

    const double n = static_cast<double>(images.size());
    std::printf("%zu images; pure white before: %.1f %%\n\n", images.size(), 100 * whiteBefore / n);
    std::printf("| method | pure white pixels | refused | mean time |\n|---|---|---|---|\n");
    for (size_t i = 0; i < all.size(); ++i) {
        const int accepted = static_cast<int>(images.size()) - tallies[i].refused;
        std::printf("| %s | %.1f %% | %d | %.0f ms |\n", all[i].name.c_str(),
                    accepted > 0 ? 100 * tallies[i].whiteShare / accepted : 0.0, tallies[i].refused,
                    tallies[i].milliseconds / n);
    }
    return 0;
}
