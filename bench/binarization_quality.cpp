// binarization-quality DIR: F-measure, pseudo-F-measure and PSNR of every
// binarization method (with its defaults) over the pairs NAME_source.* /
// NAME_target.png of DIR, where the target is the ink mask (0 = ink). Prints one
// row per method and group, a group being what follows the first '-' of NAME
// (all pairs form the group "all"), with the mean of each figure over its pairs,
// the mean time per page and how many pages the method refused.
//
// binarization-quality DIR --sheet SHEET.png [ROWS [WIDTH]]: a contact sheet of
// the images of DIR (the sources when there are pairs), one row per image (ROWS
// of them spread over the sorted list; all by default) with each method's
// result beside it as thumbnails WIDTH (200) pixels wide.
//
// F-measure: the harmonic mean of precision and recall of the ink pixels.
// Pseudo-F: recall is counted on the skeleton of the target's ink instead, so
// that a stroke drawn one pixel thinner or thicker than the mask costs little.
// PSNR: 10 log10(1 / share of pixels that differ).

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc.hpp>

#include "binarization_methods.h"

namespace fs = std::filesystem;
using tarvek::binarization::Method;
using tarvek::binarization::methods;

namespace {

const std::string sourceSuffix = "_source", targetSuffix = "_target";

bool isImage(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    for (const char* known : {".png", ".jpg", ".jpeg", ".tif", ".tiff", ".bmp"})
        if (extension == known)
            return true;
    return false;
}

std::vector<fs::path> imagesIn(const fs::path& folder)
{
    std::vector<fs::path> images;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && isImage(entry.path()))
            images.push_back(entry.path());
    std::sort(images.begin(), images.end());
    return images;
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct Pair {
    fs::path source, target;
    std::string group;
};

std::vector<Pair> pairsIn(const fs::path& folder)
{
    std::vector<Pair> pairs;
    for (const fs::path& path : imagesIn(folder)) {
        const std::string stem = path.stem().string();
        if (!endsWith(stem, sourceSuffix))
            continue;
        const std::string name = stem.substr(0, stem.size() - sourceSuffix.size());
        const fs::path target = path.parent_path() / (name + targetSuffix + ".png");
        if (!fs::exists(target))
            continue;
        const size_t dash = name.find('-');
        pairs.push_back({path, target, dash == std::string::npos ? "" : name.substr(dash + 1)});
    }
    return pairs;
}

struct Scores {
    double f = 0, pseudoF = 0, psnr = 0;
};

double harmonicMean(double a, double b) { return a + b > 0 ? 2 * a * b / (a + b) : 0; }

// Scores of result against target, both 0 for ink; skeleton is the target's ink thinned (non-zero).
Scores scoresOf(const cv::Mat& result, const cv::Mat& target, const cv::Mat& skeleton)
{
    const cv::Mat found = result == 0, ink = target == 0;
    const double hits = cv::countNonZero(found & ink), foundCount = cv::countNonZero(found);
    const double inkCount = cv::countNonZero(ink), skeletonCount = cv::countNonZero(skeleton);
    const double precision = foundCount > 0 ? hits / foundCount : 0;
    const double recall = inkCount > 0 ? hits / inkCount : 0;
    const double pseudoRecall = skeletonCount > 0 ? cv::countNonZero(found & skeleton) / skeletonCount : 0;
    const double wrong = cv::countNonZero(found != ink) / static_cast<double>(target.total());
    Scores s;
    s.f = 100 * harmonicMean(precision, recall);
    s.pseudoF = 100 * harmonicMean(precision, pseudoRecall);
    s.psnr = wrong > 0 ? 10 * std::log10(1 / wrong) : 99;
    return s;
}

struct Tally {
    Scores sum;
    double milliseconds = 0;
    int pages = 0, refused = 0;
};

void measure(const std::vector<Pair>& pairs)
{
    std::map<std::string, std::map<std::string, Tally>> tallies;  // group, method
    for (const Pair& pair : pairs) {
        cv::Mat source = cv::imread(pair.source.string(), cv::IMREAD_COLOR);
        const cv::Mat target = cv::imread(pair.target.string(), cv::IMREAD_GRAYSCALE);
        if (source.empty() || target.empty() || source.size() != target.size()) {
            std::cerr << "skipped " << pair.source << ": unreadable or of another size than its target\n";
            continue;
        }
        cv::Mat skeleton;
        cv::ximgproc::thinning(target == 0, skeleton);
        for (const Method& method : methods) {
            cv::Mat result;
            cv::TickMeter meter;
            meter.start();
            tarvek::binarization::binarizeNamed(method, source, result, method.defaults);
            meter.stop();
            for (const std::string& group : {std::string("all"), pair.group}) {
                if (group.empty())
                    continue;
                Tally& tally = tallies[group][method.name];
                tally.milliseconds += meter.getTimeMilli();
                if (result.empty()) {
                    ++tally.refused;
                    continue;
                }
                const Scores s = scoresOf(result, target, skeleton);
                tally.sum.f += s.f;
                tally.sum.pseudoF += s.pseudoF;
                tally.sum.psnr += s.psnr;
                ++tally.pages;
            }
        }
    }
    std::cout << "| group | method | pages | F-measure | pseudo-F | PSNR (dB) | refused | ms per page |\n"
              << "|---|---|---|---|---|---|---|---|\n"
              << std::fixed << std::setprecision(2);
    for (const auto& [group, byMethod] : tallies)
        for (const Method& method : methods) {
            const auto found = byMethod.find(method.name);
            if (found == byMethod.end())
                continue;
            const Tally& t = found->second;
            const double n = std::max(1, t.pages);
            std::cout << "| " << group << " | " << method.name << " | " << t.pages << " | " << t.sum.f / n << " | "
                      << t.sum.pseudoF / n << " | " << t.sum.psnr / n << " | " << t.refused << " | "
                      << std::setprecision(1) << t.milliseconds / std::max(1, t.pages + t.refused)
                      << std::setprecision(2) << " |\n";
        }
}

cv::Mat thumbnail(const cv::Mat& image, int width, int height)
{
    cv::Mat colour, small;
    if (image.channels() == 1)
        cv::cvtColor(image, colour, cv::COLOR_GRAY2BGR);
    else
        colour = image;
    const double scale = std::min(static_cast<double>(width) / colour.cols, static_cast<double>(height) / colour.rows);
    cv::resize(colour, small, cv::Size(), scale, scale, cv::INTER_AREA);
    cv::Mat cell(height, width, CV_8UC3, cv::Scalar(128, 128, 128));
    small.copyTo(cell(cv::Rect(0, 0, small.cols, small.rows)));
    return cell;
}

void contactSheet(std::vector<fs::path> images, const fs::path& sheet, int rows, int width)
{
    if (rows > 0 && rows < static_cast<int>(images.size())) {
        std::vector<fs::path> spread;
        for (int i = 0; i < rows; ++i)
            spread.push_back(images[i * images.size() / rows]);
        images = spread;
    }
    const int height = 2 * width, gap = 4;
    std::vector<cv::Mat> lines;
    for (const fs::path& path : images) {
        cv::Mat photo = cv::imread(path.string(), cv::IMREAD_COLOR);
        if (photo.empty())
            continue;
        std::vector<cv::Mat> cells{thumbnail(photo, width, height)};
        for (const Method& method : methods) {
            cv::Mat result;
            tarvek::binarization::binarizeNamed(method, photo, result, method.defaults);
            cells.push_back(result.empty() ? cv::Mat(height, width, CV_8UC3, cv::Scalar(0, 0, 255))
                                           : thumbnail(result, width, height));
            cv::copyMakeBorder(cells.back(), cells.back(), 0, 0, gap, 0, cv::BORDER_CONSTANT, cv::Scalar::all(255));
        }
        cv::Mat line;
        cv::hconcat(cells, line);
        cv::copyMakeBorder(line, line, 0, gap, 0, 0, cv::BORDER_CONSTANT, cv::Scalar::all(255));
        lines.push_back(line);
    }
    cv::Mat all;
    cv::vconcat(lines, all);
    cv::imwrite(sheet.string(), all);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1) {
        measure(pairsIn(args[0]));
        return 0;
    }
    if (args.size() >= 3 && args.size() <= 5 && args[1] == "--sheet") {
        std::vector<fs::path> images;
        for (const Pair& pair : pairsIn(args[0]))
            images.push_back(pair.source);
        if (images.empty())
            images = imagesIn(args[0]);
        contactSheet(images, args[2], args.size() > 3 ? std::stoi(args[3]) : 0,
                     args.size() > 4 ? std::stoi(args[4]) : 200);
        return 0;
    }
    std::cerr << "usage: binarization-quality DIR\n"
                 "       binarization-quality DIR --sheet SHEET.png [ROWS [WIDTH]]\n";
    return 2;
}
