#include "actions.h"

#include "binarization.h"
#include "documentarea.h"
#include "encryption.h"
#include "image_header.h"
#include "imageprocessing.h"

#include <boost/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace tarvek::cli {
namespace fs = std::filesystem;
namespace da = tarvek::documentarea;
namespace {

// Thrown for a file that is passed over rather than failed.
struct Skipped : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The same bound as the service's: a small file cannot make the decoder allocate gigabytes.
constexpr std::uint64_t MAX_PIXELS = std::uint64_t{1} << 28;
// Sauvola's dynamic range of the standard deviation, the usual value for 8-bit images.
constexpr int SAUVOLA_R = 128;
// multiscale-sauvola's reduction factor and smallest coarse window.
constexpr int SAUVOLA_SCALE = 4;
constexpr int SAUVOLA_MIN_WINDOW = 8;

// The height/width ratios a search is told to expect (0: not given).
struct Ratios {
    float aspect = 0, portrait = 0, landscape = 0;
};

using Search = void (*)(cv::Mat&, std::vector<cv::Point>&, const Ratios&);

// A Hough-line search's accuracy, ratio and angle outputs, which the command line does not report.
struct SearchMeasures {
    float accuracy = 0, whRatio = 0, maxAngleDiff = 0;
};

// Every search by the name --strategy gives it; all run with their general bounds, no equalisation
// and Canny edges.
const std::vector<std::pair<std::string, Search>>& searches()
{
    static const std::vector<std::pair<std::string, Search>> table = {
        {"compare",
         [](cv::Mat& img, std::vector<cv::Point>& out, const Ratios& r) {
             da::find_compare_grayCanny_hsvCanny(img, out, r.aspect, r.portrait, r.landscape, false, false, false);
         }},
        {"compare-groups",
         [](cv::Mat& img, std::vector<cv::Point>& out, const Ratios& r) {
             da::find_compare_grayCanny_hsvCanny_IDCardVertices(img, out, r.aspect, r.portrait, r.landscape, false,
                                                                false, false);
         }},
        {"gray",
         [](cv::Mat& img, std::vector<cv::Point>& out, const Ratios& r) {
             SearchMeasures m;
             da::find_using_gray_canny(img, out, r.aspect, r.portrait, r.landscape, m.accuracy, m.whRatio,
                                       m.maxAngleDiff, false, false, false);
         }},
        {"hsv",
         [](cv::Mat& img, std::vector<cv::Point>& out, const Ratios& r) {
             SearchMeasures m;
             da::find_using_hsv_canny(img, out, r.aspect, r.portrait, r.landscape, m.accuracy, m.whRatio,
                                      m.maxAngleDiff, false, false, false);
         }},
        {"watershed",
         [](cv::Mat& img, std::vector<cv::Point>& out, const Ratios&) {
             SearchMeasures m;
             da::find_using_watershed_canny(img, out, m.accuracy, m.whRatio, m.maxAngleDiff);
         }},
        {"find-0", [](cv::Mat& img, std::vector<cv::Point>& out, const Ratios&) { da::find(img, 0, out); }},
        {"find-1", [](cv::Mat& img, std::vector<cv::Point>& out, const Ratios&) { da::find(img, 1, out); }},
        {"find-2", [](cv::Mat& img, std::vector<cv::Point>& out, const Ratios&) { da::find(img, 2, out); }},
        {"find-3", [](cv::Mat& img, std::vector<cv::Point>& out, const Ratios&) { da::find(img, 3, out); }},
        {"anchor", [](cv::Mat& img, std::vector<cv::Point>& out, const Ratios&) { da::findUsingAnchorPoint(img, out); }},
    };
    return table;
}

// getBasicAspectRatio's kinds by name: the family in the low byte (0 ID card, 1 16:9, 2 A-series
// paper), the orientation in 0xF00 (0x100 portrait, 0x200 landscape, 0x300 either).
const std::vector<std::pair<std::string, int>>& kinds()
{
    static const std::vector<std::pair<std::string, int>> table = {
        {"card", 0x300},  {"card-portrait", 0x100},  {"card-landscape", 0x200},
        {"16:9", 0x301},  {"16:9-portrait", 0x101},  {"16:9-landscape", 0x201},
        {"a4", 0x302},    {"a4-portrait", 0x102},    {"a4-landscape", 0x202},
    };
    return table;
}

template <typename Value>
const Value& lookUp(const std::vector<std::pair<std::string, Value>>& table, const std::string& name)
{
    for (const auto& [key, value] : table)
        if (key == name)
            return value;
    throw std::logic_error("unknown name " + name);  // the argument parser admits table names only
}

template <typename Value>
std::vector<std::string> namesOf(const std::vector<std::pair<std::string, Value>>& table)
{
    std::vector<std::string> names;
    for (const auto& entry : table)
        names.push_back(entry.first);
    return names;
}

Ratios ratiosOf(const std::string& kind)
{
    Ratios ratios;
    if (!kind.empty())
        da::getBasicAspectRatio(lookUp(kinds(), kind), ratios.aspect, ratios.portrait, ratios.landscape);
    return ratios;
}

std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.is_open() || file.bad())
        throw std::runtime_error(std::string("cannot read: ") + std::strerror(errno));
    return bytes;
}

// Only the formats of the service's header check reach the decoder, for the same reason: some of
// OpenCV's other readers abort the process on crafted files.
cv::Mat decodePhoto(const std::string& bytes, bool named)
{
    if (service::imageFormatOf(bytes) == service::ImageFormat::unknown) {
        if (named)
            throw std::runtime_error("not an image file");
        throw Skipped("not an image file");
    }
    const auto pixels = service::declaredPixelCount(bytes);
    if (pixels && *pixels > MAX_PIXELS)
        throw std::runtime_error("declares more than 2^28 pixels");
    cv::Mat photo = cv::imdecode(cv::Mat(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<char*>(bytes.data())),
                                 cv::IMREAD_COLOR);
    if (photo.empty())
        throw std::runtime_error("cannot be decoded");
    return photo;
}

cv::Mat readPhoto(const Task& task)
{
    return decodePhoto(readFile(task.input.path), task.input.named);
}

struct Detection {
    std::vector<cv::Point> corners;
    double milliseconds = 0;
};

Detection detect(cv::Mat& photo, const Settings& settings)
{
    Detection detection;
    const auto start = std::chrono::steady_clock::now();
    lookUp(searches(), settings.strategy)(photo, detection.corners, ratiosOf(settings.kind));
    detection.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (detection.corners.size() != 4)
        detection.corners.clear();
    return detection;
}

std::string detectionJson(const Task& task, const Settings& settings, const cv::Mat& photo, const Detection& found)
{
    boost::json::array corners;
    for (const cv::Point& corner : found.corners)
        corners.push_back(boost::json::array{corner.x, corner.y});
    return boost::json::serialize(boost::json::object{{"path", task.input.path.string()},
                                                      {"found", !found.corners.empty()},
                                                      {"corners", std::move(corners)},
                                                      {"strategy", settings.strategy},
                                                      {"width", photo.cols},
                                                      {"height", photo.rows},
                                                      {"milliseconds", found.milliseconds}});
}

std::string failureJson(const Task& task, const std::string& reason)
{
    return boost::json::serialize(boost::json::object{{"path", task.input.path.string()}, {"error", reason}});
}

// The preset ratio of the kind closest to the measured one, or the measured one without a kind.
float pageRatio(const std::vector<cv::Point>& corners, cv::Size photo, const Ratios& presets)
{
    float measured = da::getAspectRatio(corners, photo.width, photo.height);
    if (!(measured > 0 && std::isfinite(measured)))
        measured = da::getWHRatio(corners);
    float best = 0;
    for (const float preset : {presets.aspect, presets.portrait, presets.landscape})
        if (preset > 0 && (best == 0 || std::abs(preset - measured) < std::abs(best - measured)))
            best = preset;
    return best > 0 ? best : measured;
}

// As wide as the longer of the top and bottom sides, so that the page keeps the photo's resolution,
// and as high as the page's height/width ratio makes it.
cv::Size pageSize(const std::vector<cv::Point>& corners, cv::Size photo, const Ratios& presets)
{
    const double width = std::max(cv::norm(corners[1] - corners[0]), cv::norm(corners[2] - corners[3]));
    const double height = width * pageRatio(corners, photo, presets);
    if (!(height >= 1 && width >= 1 && width * height <= MAX_PIXELS))
        throw std::runtime_error("the corners give no usable page size");
    return {static_cast<int>(std::lround(width)), static_cast<int>(std::lround(height))};
}

cv::Mat rectified(cv::Mat& photo, const Settings& settings)
{
    const Detection found = detect(photo, settings);
    if (found.corners.empty())
        throw std::runtime_error("no document found");
    const cv::Size size = pageSize(found.corners, photo.size(), ratiosOf(settings.kind));
    cv::Mat page;
    da::getPerspectiveImage(photo, page, found.corners, size.width, size.height);
    if (page.empty())
        throw std::runtime_error("the corners found do not form a convex quadrangle");
    return page;
}

cv::Mat binarized(cv::Mat& photo, const Settings& settings)
{
    namespace bin = tarvek::binarization;
    cv::Mat result;
    if (settings.method == "otsu")
        bin::otsu(photo, result);
    else if (settings.method == "adaptive-otsu")
        bin::adaptiveOtsu(photo, result, settings.block);
    else if (settings.method == "sauvola")
        bin::sauvola(photo, result, settings.window, settings.k, SAUVOLA_R, false);
    else
        bin::multiScaleSauvola(photo, result, settings.window, settings.k, SAUVOLA_R, SAUVOLA_SCALE, false,
                               SAUVOLA_MIN_WINDOW);
    if (result.empty())
        throw std::runtime_error("the image is too small for " + settings.method);
    return result;
}

cv::Mat cleaned(cv::Mat& photo)
{
    cv::Mat result;
    if (!tarvek::imageprocessing::removeBgColor(photo, result))
        throw std::runtime_error("no background removed (a light-on-dark page, or too small)");
    return result;
}

std::string encoded(const cv::Mat& image, const Settings& settings)
{
    std::vector<uchar> bytes;
    if (!cv::imencode(outputExtension(settings), image, bytes))
        throw std::runtime_error("cannot encode as " + settings.format);
    return std::string(bytes.begin(), bytes.end());
}

std::string scrambled(const Settings& settings, const std::string& bytes)
{
    namespace enc = tarvek::encryption;
    if (settings.keyFile.empty())
        return enc::encrypt_image_internal_key(bytes);
    const std::string key = readFile(settings.keyFile);
    if (key.empty())
        throw std::runtime_error("the key file is empty");
    return enc::encrypt_image(bytes, key);
}

std::string unscrambled(const Settings& settings, const std::string& bytes)
{
    namespace enc = tarvek::encryption;
    if (settings.keyFile.empty()) {
        std::string payload = enc::decrypt_image_internal_key(bytes);
        if (payload.empty())
            throw std::runtime_error("not scrambled with the built-in key");
        return payload;
    }
    const std::string key = readFile(settings.keyFile);
    if (key.empty())
        throw std::runtime_error("the key file is empty");
    return enc::decrypt_image(bytes, key);
}

Outcome run(const Settings& settings, const Task& task)
{
    if (settings.skipExisting && !task.output.empty() && fs::exists(task.output))
        throw Skipped("output exists");
    switch (settings.action) {
    case Action::detect: {
        cv::Mat photo = readPhoto(task);
        return {Outcome::done, "", detectionJson(task, settings, photo, detect(photo, settings))};
    }
    case Action::rectify: {
        cv::Mat photo = readPhoto(task);
        writeFileAtomically(task.output, encoded(rectified(photo, settings), settings));
        break;
    }
    case Action::binarize: {
        cv::Mat photo = readPhoto(task);
        writeFileAtomically(task.output, encoded(binarized(photo, settings), settings));
        break;
    }
    case Action::clean: {
        cv::Mat photo = readPhoto(task);
        writeFileAtomically(task.output, encoded(cleaned(photo), settings));
        break;
    }
    case Action::scramble:
        writeFileAtomically(task.output, scrambled(settings, readFile(task.input.path)));
        break;
    case Action::unscramble:
        writeFileAtomically(task.output, unscrambled(settings, readFile(task.input.path)));
        break;
    }
    return {};
}

}  // namespace

std::vector<std::string> strategyNames()
{
    return namesOf(searches());
}

std::vector<std::string> kindNames()
{
    return namesOf(kinds());
}

std::string outputExtension(const Settings& settings)
{
    switch (settings.action) {
    case Action::rectify:
    case Action::binarize:
    case Action::clean:
        return settings.format == "jpeg" ? ".jpg" : "." + settings.format;
    default:
        return "";
    }
}

Outcome process(const Settings& settings, const Task& task)
{
    try {
        return run(settings, task);
    } catch (const Skipped& skipped) {
        return {Outcome::skipped, skipped.what(), ""};
    } catch (const std::exception& failure) {
        const bool detecting = settings.action == Action::detect;
        return {Outcome::failed, failure.what(), detecting ? failureJson(task, failure.what()) : ""};
    }
}

}  // namespace tarvek::cli
