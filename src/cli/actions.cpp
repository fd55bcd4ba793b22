#include "actions.h"

#include "binarization.h"
#include "document_search.h"
#include "documentarea.h"
#include "encryption.h"
#include "image_input.h"
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

namespace tarvek::cli {
namespace fs = std::filesystem;
namespace da = tarvek::documentarea;
namespace {

// Thrown for a file that is passed over rather than failed.
struct Skipped : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Sauvola's dynamic range of the standard deviation, the usual value for 8-bit images.
constexpr int SAUVOLA_R = 128;
// multiscale-sauvola's reduction factor and smallest coarse window.
constexpr int SAUVOLA_SCALE = 4;
constexpr int SAUVOLA_MIN_WINDOW = 8;

template <typename Entry>
const Entry& named(const std::vector<Entry>& table, const std::string& name)
{
    for (const Entry& entry : table)
        if (entry.name == name)
            return entry;
    throw std::logic_error("unknown name " + name);  // the argument parser admits table names only
}

template <typename Entry>
std::vector<std::string> namesOf(const std::vector<Entry>& table)
{
    std::vector<std::string> names;
    for (const Entry& entry : table)
        names.push_back(entry.name);
    return names;
}

service::Ratios ratiosOf(const Settings& settings)
{
    return service::ratiosOfKind(named(service::documentKinds, settings.kind).kind);
}

std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.is_open() || file.bad())
        throw std::runtime_error(std::string("cannot read: ") + std::strerror(errno));
    return bytes;
}

// Only the formats the service decodes reach the decoder, for the same reason: some of OpenCV's
// other readers abort the process on crafted files.
cv::Mat decodePhoto(std::string bytes, bool named)
{
    switch (service::checkImageBytes(bytes)) {
    case service::ImageCheck::empty:
    case service::ImageCheck::otherFormat:
        if (named)
            throw std::runtime_error("not an image file");
        throw Skipped("not an image file");
    case service::ImageCheck::tooManyPixels:
        throw std::runtime_error("declares more than 2^28 pixels");
    case service::ImageCheck::decodable:
        break;
    }
    cv::Mat photo = service::decodeImage(bytes, cv::IMREAD_COLOR);
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
    const bool found = named(service::strategies, settings.strategy).find(photo, detection.corners, ratiosOf(settings));
    detection.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!found || detection.corners.size() != 4)
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
float pageRatio(const std::vector<cv::Point>& corners, cv::Size photo, const service::Ratios& presets)
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
cv::Size pageSize(const std::vector<cv::Point>& corners, cv::Size photo, const service::Ratios& presets)
{
    const double width = std::max(cv::norm(corners[1] - corners[0]), cv::norm(corners[2] - corners[3]));
    const double height = width * pageRatio(corners, photo, presets);
    if (!(height >= 1 && width >= 1 && width * height <= service::maxImagePixels))
        throw std::runtime_error("the corners give no usable page size");
    return {static_cast<int>(std::lround(width)), static_cast<int>(std::lround(height))};
}

cv::Mat rectified(cv::Mat& photo, const Settings& settings)
{
    const Detection found = detect(photo, settings);
    if (found.corners.empty())
        throw std::runtime_error("no document found");
    const cv::Size size = pageSize(found.corners, photo.size(), ratiosOf(settings));
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
    return namesOf(service::strategies);
}

std::vector<std::string> kindNames()
{
    return namesOf(service::documentKinds);
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
