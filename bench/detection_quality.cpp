// detection-quality [--verbose] [--strategy NAME] [--sheet PNG [--worst N]] FOLDER CSV:
// runs every document search with its default parameters on the photographs
// listed in CSV (ground-truth corners in the SmartDoc column layout, image_path
// relative to FOLDER) and prints, per search, how often it found four corners,
// the mean intersection over union with the ground truth, the median corner
// error and the mean time. A CSV without corner columns lists photographs that
// show no page: the table then gives the share on which each search found none.
// --sheet draws the photographs with the true (green) and the found (red)
// quadrangle of the one search chosen with --strategy (default auto), the N
// with the lowest IoU only with --worst.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "documentarea.h"

namespace da = tarvek::documentarea;

namespace {

using Corners = std::vector<cv::Point2f>;  // top-left, top-right, bottom-right, bottom-left

struct Photo {
    std::string path;  // relative to the folder, as listed
    Corners truth;     // empty for a photograph without a page
};

struct Strategy {
    std::string name;
    std::function<Corners(cv::Mat&)> search;  // no corners when nothing was found
};

using IntegerSearch = std::function<void(cv::Mat&, std::vector<cv::Point>&)>;

// One of the searches that append whole-pixel corners.
Strategy integerSearch(const std::string& name, IntegerSearch search)
{
    return {name, [search](cv::Mat& img) {
                std::vector<cv::Point> out;
                search(img, out);
                return Corners(out.begin(), out.end());
            }};
}

// What one search did on one photograph.
struct Outcome {
    Corners corners;
    bool found = false;
    double iou = 0;
    double cornerError = 0;  // mean of the four corner distances, pixels; meaningful when found
    double milliseconds = 0;
};

std::vector<std::string> splitCommas(const std::string& line)
{
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, ','))
        fields.push_back(field);
    return fields;
}

std::string withoutCarriageReturn(std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// Column positions by name, so that any column order is read alike.
class Columns {
public:
    explicit Columns(const std::vector<std::string>& header)
    {
        for (size_t i = 0; i < header.size(); ++i)
            index_[header[i]] = i;
    }

    const std::string& field(const std::vector<std::string>& row, const std::string& name) const
    {
        const auto found = index_.find(name);
        if (found == index_.end())
            throw std::runtime_error("no column " + name);
        if (found->second >= row.size())
            throw std::runtime_error("short row: " + row.front());
        return row[found->second];
    }

    float number(const std::vector<std::string>& row, const std::string& name) const
    {
        const std::string& text = field(row, name);
        try {
            return std::stof(text);
        } catch (const std::logic_error&) {
            throw std::runtime_error("not a number in column " + name + ": " + text);
        }
    }

    cv::Point2f point(const std::vector<std::string>& row, const std::string& corner) const
    {
        return {number(row, corner + "_x"), number(row, corner + "_y")};
    }

private:
    std::map<std::string, size_t> index_;
};

std::vector<Photo> readGroundTruth(const std::string& csvPath)
{
    std::ifstream csv(csvPath);
    std::string line;
    if (!std::getline(csv, line))
        throw std::runtime_error("cannot read " + csvPath);
    const std::vector<std::string> header = splitCommas(withoutCarriageReturn(line));
    const bool withPages = std::find(header.begin(), header.end(), "tl_x") != header.end();
    const Columns columns(header);
    std::vector<Photo> photos;
    while (std::getline(csv, line)) {
        line = withoutCarriageReturn(line);
        if (line.empty())
            continue;
        const std::vector<std::string> row = splitCommas(line);
        Photo photo{columns.field(row, "image_path"), {}};
        if (withPages)
            photo.truth = {columns.point(row, "tl"), columns.point(row, "tr"), columns.point(row, "br"),
                           columns.point(row, "bl")};
        photos.push_back(photo);
    }
    return photos;
}

std::vector<Strategy> strategies()
{
    // Default parameters throughout: no aspect ratios, no equalisation, Canny edges, general bounds.
    std::vector<Strategy> all = {
        integerSearch("grey", [](cv::Mat& img, std::vector<cv::Point>& out) {
            float accuracy, whRatio, angleDiff;
            da::find_using_gray_canny(img, out, 0, 0, 0, accuracy, whRatio, angleDiff, false, false, false);
        }),
        integerSearch("colour", [](cv::Mat& img, std::vector<cv::Point>& out) {
            float accuracy, whRatio, angleDiff;
            da::find_using_hsv_canny(img, out, 0, 0, 0, accuracy, whRatio, angleDiff, false, false, false);
        }),
        integerSearch("colour with groups", [](cv::Mat& img, std::vector<cv::Point>& out) {
            float accuracy, whRatio, angleDiff;
            std::vector<cv::Vec2f> left, right, top, bottom;
            da::find_using_hsv_canny2(img, out, 0, 0, 0, accuracy, whRatio, angleDiff, false, false, false, &left,
                                      &right, &top, &bottom);
        }),
        integerSearch("watershed", [](cv::Mat& img, std::vector<cv::Point>& out) {
            float accuracy, whRatio, angleDiff;
            da::find_using_watershed_canny(img, out, accuracy, whRatio, angleDiff);
        }),
        integerSearch("comparing", [](cv::Mat& img, std::vector<cv::Point>& out) {
            da::find_compare_grayCanny_hsvCanny(img, out, 0, 0, 0, false, false, false);
        }),
        integerSearch("comparing with groups", [](cv::Mat& img, std::vector<cv::Point>& out) {
            da::find_compare_grayCanny_hsvCanny_IDCardVertices(img, out, 0, 0, 0, false, false, false);
        }),
    };
    for (int mode = 0; mode <= 3; ++mode)
        all.push_back(integerSearch("find mode " + std::to_string(mode),
                                    [mode](cv::Mat& img, std::vector<cv::Point>& out) { da::find(img, mode, out); }));
    all.push_back(integerSearch("anchor points",
                                [](cv::Mat& img, std::vector<cv::Point>& out) { da::findUsingAnchorPoint(img, out); }));
    // The page search with its sub-pixel corners.
    all.push_back({"auto", [](cv::Mat& img) {
                       const auto found = da::findDocument(img);
                       return found ? Corners(found->corners.begin(), found->corners.end()) : Corners();
                   }});
    return all;
}

// Intersection over union of a found quadrangle with the ground truth. A found
// quadrangle that is not convex (crossing sides, a reflex corner) counts as a
// miss: intersectConvexConvex is only defined for convex polygons.
double intersectionOverUnion(const Corners& found, const Corners& truth)
{
    if (!cv::isContourConvex(found))
        return 0;
    Corners overlap;
    const float intersection = cv::intersectConvexConvex(found, truth, overlap);
    if (intersection <= 0)
        return 0;
    const double unionArea = cv::contourArea(found) + cv::contourArea(truth) - intersection;
    return unionArea > 0 ? intersection / unionArea : 0;
}

double meanCornerDistance(const Corners& found, const Corners& truth)
{
    double sum = 0;
    for (size_t k = 0; k < 4; ++k)
        sum += cv::norm(found[k] - truth[k]);
    return sum / 4;
}

Outcome run(const Strategy& strategy, cv::Mat& img, const Corners& truth)
{
    const auto start = std::chrono::steady_clock::now();
    Outcome outcome;
    outcome.corners = strategy.search(img);
    const auto stop = std::chrono::steady_clock::now();
    outcome.milliseconds = std::chrono::duration<double, std::milli>(stop - start).count();
    outcome.found = outcome.corners.size() == 4;
    if (outcome.found && !truth.empty()) {
        outcome.iou = intersectionOverUnion(outcome.corners, truth);
        outcome.cornerError = meanCornerDistance(outcome.corners, truth);
    }
    return outcome;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string fixed(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// One table row: the outcomes of a search over all photographs.
std::string summary(const std::string& name, const std::vector<Outcome>& outcomes)
{
    double iouSum = 0, milliseconds = 0;
    std::vector<double> errors;
    for (const Outcome& o : outcomes) {
        iouSum += o.iou;
        milliseconds += o.milliseconds;
        if (o.found)
            errors.push_back(o.cornerError);
    }
    const double n = static_cast<double>(outcomes.size());
    return "| " + name + " | " + std::to_string(errors.size()) + " / " + std::to_string(outcomes.size()) +
           " | " + fixed(iouSum / n, 3) + " | " + (errors.empty() ? "–" : fixed(median(errors), 1)) + " | " +
           fixed(milliseconds / n, 1) + " |";
}

// One table row for photographs without a page: the share on which the search found nothing.
std::string noPageSummary(const std::string& name, const std::vector<Outcome>& outcomes)
{
    double milliseconds = 0;
    const auto missed = std::count_if(outcomes.begin(), outcomes.end(), [](const Outcome& o) { return !o.found; });
    for (const Outcome& o : outcomes)
        milliseconds += o.milliseconds;
    const double n = static_cast<double>(outcomes.size());
    return "| " + name + " | " + std::to_string(missed) + " / " + std::to_string(outcomes.size()) + " (" +
           fixed(100.0 * missed / n, 1) + " %) | " + fixed(milliseconds / n, 1) + " |";
}

std::string detail(const std::string& name, const Photo& photo, const Outcome& o)
{
    const std::string result = !o.found           ? "not found"
                               : photo.truth.empty() ? "found"
                                                     : "IoU " + fixed(o.iou, 3) + "  corner error " +
                                                           fixed(o.cornerError, 1) + " px";
    return name + "  " + photo.path + "  " + result + "  " + fixed(o.milliseconds, 1) + " ms";
}

struct Arguments {
    bool verbose = false;
    std::string strategy;  // empty: every search
    std::string sheet;     // contact sheet to write, if any
    size_t worst = 0;      // 0: every photograph on the sheet
    std::string folder, csv;
};

bool parseArguments(int argc, char* argv[], Arguments& args)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = i + 1 < argc;
        if (arg == "--verbose")
            args.verbose = true;
        else if (arg == "--strategy" && valued)
            args.strategy = argv[++i];
        else if (arg == "--sheet" && valued)
            args.sheet = argv[++i];
        else if (arg == "--worst" && valued)
            args.worst = std::stoul(argv[++i]);
        else if (arg.rfind("--", 0) == 0)
            return false;
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2)
        return false;
    args.folder = positional[0];
    args.csv = positional[1];
    if (!args.sheet.empty() && args.strategy.empty())
        args.strategy = "auto";
    return true;
}

std::vector<cv::Mat> readPhotos(const std::string& folder, const std::vector<Photo>& photos)
{
    std::vector<cv::Mat> images;
    for (const Photo& photo : photos) {
        images.push_back(cv::imread(folder + "/" + photo.path, cv::IMREAD_COLOR));
        if (images.back().empty())
            throw std::runtime_error("cannot read " + folder + "/" + photo.path);
    }
    return images;
}

void drawQuadrangle(cv::Mat& tile, const Corners& corners, double scale, const cv::Scalar& colour)
{
    std::vector<cv::Point> points;
    for (const cv::Point2f& p : corners)
        points.emplace_back(cvRound(p.x * scale), cvRound(p.y * scale));
    cv::polylines(tile, points, true, colour, 2, cv::LINE_AA);
}

// One photograph reduced into a tile of the sheet, the true quadrangle green, the found one red.
cv::Mat sheetTile(const cv::Mat& image, const Photo& photo, const Outcome& outcome, cv::Size tileSize)
{
    const double scale = std::min(static_cast<double>(tileSize.width) / image.cols,
                                  static_cast<double>(tileSize.height - 24) / image.rows);
    cv::Mat tile(tileSize, CV_8UC3, cv::Scalar::all(255));
    cv::Mat reduced;
    cv::resize(image, reduced, cv::Size(), scale, scale, cv::INTER_AREA);
    reduced.copyTo(tile(cv::Rect(0, 0, reduced.cols, reduced.rows)));
    if (!photo.truth.empty())
        drawQuadrangle(tile, photo.truth, scale, cv::Scalar(0, 200, 0));
    if (outcome.found)
        drawQuadrangle(tile, outcome.corners, scale, cv::Scalar(0, 0, 255));
    const std::string label =
        photo.path + (outcome.found ? (photo.truth.empty() ? "  found" : "  IoU " + fixed(outcome.iou, 3)) : "  not found");
    cv::putText(tile, label, cv::Point(4, tileSize.height - 7), cv::FONT_HERSHEY_SIMPLEX, 0.4, cv::Scalar::all(0), 1,
                cv::LINE_AA);
    return tile;
}

// The photographs (the worst ones by IoU when worst is given) as tiles, three to a row.
void writeSheet(const std::string& path, const std::vector<cv::Mat>& images, const std::vector<Photo>& photos,
                const std::vector<Outcome>& outcomes, size_t worst)
{
    std::vector<size_t> order(photos.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    if (worst > 0) {
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return outcomes[a].iou < outcomes[b].iou; });
        order.resize(std::min(worst, order.size()));
    }
    const cv::Size tileSize(400, 250);
    constexpr size_t columns = 3;
    const size_t rows = (order.size() + columns - 1) / columns;
    cv::Mat sheet(static_cast<int>(rows) * tileSize.height, static_cast<int>(columns) * tileSize.width, CV_8UC3,
                  cv::Scalar::all(255));
    for (size_t k = 0; k < order.size(); ++k) {
        const cv::Rect where(static_cast<int>(k % columns) * tileSize.width,
                             static_cast<int>(k / columns) * tileSize.height, tileSize.width, tileSize.height);
        sheetTile(images[order[k]], photos[order[k]], outcomes[order[k]], tileSize).copyTo(sheet(where));
    }
    if (!cv::imwrite(path, sheet))
        throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char* argv[])
{
    Arguments args;
    if (!parseArguments(argc, argv, args)) {
        std::cerr << "usage: detection-quality [--verbose] [--strategy NAME] [--sheet PNG [--worst N]] FOLDER CSV\n";
        return 2;
    }
    try {
        const std::vector<Photo> photos = readGroundTruth(args.csv);
        if (photos.empty())
            throw std::runtime_error("no photographs listed in " + args.csv);
        std::vector<cv::Mat> images = readPhotos(args.folder, photos);
        const bool withPages = !photos.front().truth.empty();
        std::vector<std::string> table =
            withPages ? std::vector<std::string>{"| strategy | found | mean IoU | median corner error (px) | mean time (ms) |",
                                                 "|---|---|---|---|---|"}
                      : std::vector<std::string>{"| strategy | not found | mean time (ms) |", "|---|---|---|"};
        for (const Strategy& strategy : strategies()) {
            if (!args.strategy.empty() && strategy.name != args.strategy)
                continue;
            std::vector<Outcome> outcomes;
            for (size_t i = 0; i < photos.size(); ++i) {
                outcomes.push_back(run(strategy, images[i], photos[i].truth));
                if (args.verbose)
                    std::cout << detail(strategy.name, photos[i], outcomes.back()) << '\n';
            }
            table.push_back(withPages ? summary(strategy.name, outcomes) : noPageSummary(strategy.name, outcomes));
            if (!args.sheet.empty())
                writeSheet(args.sheet, images, photos, outcomes, args.worst);
        }
        if (args.verbose)
            std::cout << '\n';
        for (const std::string& row : table)
            std::cout << row << '\n';
    } catch (const std::exception& e) {
        std::cerr << "detection-quality: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
