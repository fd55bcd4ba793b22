#include "actions.h"

#include "binarization_methods.h"
#include "detection_json.h"
#include "document_search.h"
#include "encryption.h"
#include "imageio.h"
#include "imageprocessing.h"
#include "plain_json.h"
#include "printable.h"
#include "reading_json.h"

#include <boost/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>

namespace tarvek::cli {
namespace fs = std::filesystem;
namespace {

// Thrown for a file that is passed over rather than failed.
struct Skipped : std::runtime_error {
    using std::runtime_error::runtime_error;
};

template <typename Entry>
const Entry& named(const std::vector<Entry>& table, const std::string& name)
{
    for (const Entry& entry : table)
        if (entry.name == name)
            return entry;
    throw std::logic_error("unknown name " + name);  // the argument parser admits table names only
}

documentsearch::Ratios ratiosOf(const Settings& settings)
{
    return documentsearch::ratiosOfKind(named(documentsearch::documentKinds, settings.kind).kind);
}

std::string readFile(const fs::path& path)
{
    // errno is read straight after the call that failed, before anything else may change it.
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open())
        throw std::runtime_error(std::string("cannot read: ") + std::strerror(errno));
    std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad())
        throw std::runtime_error(std::string("cannot read: ") + std::strerror(errno));
    return bytes;
}

// Only the formats the service decodes reach the decoder, for the same reason: some of OpenCV's
// other readers abort the process on crafted files. A JPEG is decoded reduced when no more than
// minSide pixels on its longer side are needed, as the service decodes it.
imageio::ReducedImage decodePhoto(const std::string& bytes, bool named, int minSide)
{
    using imageio::ImageCheck;
    switch (imageio::checkImageBytes(bytes)) {
    case ImageCheck::empty:
    case ImageCheck::otherFormat:
        if (named)
            throw std::runtime_error("not an image file");
        throw Skipped("not an image file");
    case ImageCheck::sizeUnknown:
        throw std::runtime_error("the header does not declare the image's size");
    case ImageCheck::tooManyPixels:
        throw std::runtime_error("declares more than 2^28 pixels");
    case ImageCheck::decodable:
        break;
    }
    imageio::ReducedImage photo = imageio::decodeReduced(bytes, minSide);
    if (photo.image.empty())
        throw std::runtime_error("cannot be decoded");
    return photo;
}

imageio::ReducedImage readPhoto(const Task& task, int minSide)
{
    return decodePhoto(readFile(task.input.path), task.input.named, minSide);
}

cv::Mat readPhoto(const Task& task)
{
    return readPhoto(task, std::numeric_limits<int>::max()).image;
}

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

struct Timed {
    std::optional<documentsearch::Detection> found;
    double milliseconds = 0;
};

const documentsearch::Strategy& strategyOf(const Settings& settings)
{
    return named(documentsearch::strategies, settings.strategy);
}

Timed detect(imageio::ReducedImage& photo, const Settings& settings)
{
    const auto start = std::chrono::steady_clock::now();
    Timed timed{documentsearch::detectedIn(photo, strategyOf(settings), ratiosOf(settings))};
    timed.milliseconds = millisecondsSince(start);
    return timed;
}

boost::json::object pathLine(const Task& task)
{
    return {{"path", validUtf8(task.input.path.string())}};
}

// The photo's lines; a page that cannot be read at all is a failure that says why.
reading::ReadResult readLines(const cv::Mat& photo, const Settings& settings)
{
    reading::ReadResult result = reading::readText(photo, settings.reading);
    if (!result.unreadable.empty())
        throw std::runtime_error(result.unreadable);
    return result;
}

// The photo's JSON line; a page that was not read says why on the error stream too.
Outcome readOutcome(const reading::ReadResult& result, const boost::json::object& line)
{
    if (result.notRead.empty())
        return {Outcome::done, "", plainJson(line)};
    return {Outcome::notRead, result.notRead, plainJson(line)};
}

// "path", the lines and what was done to read them, "width", "height" and "milliseconds".
Outcome readJson(const Task& task, const Settings& settings, const cv::Mat& photo)
{
    const auto start = std::chrono::steady_clock::now();
    const reading::ReadResult result = readLines(photo, settings);
    boost::json::object line = pathLine(task);
    reading::addReading(line, result);
    line["width"] = photo.cols;
    line["height"] = photo.rows;
    line["milliseconds"] = millisecondsSince(start);
    return readOutcome(result, line);
}

// "path", the four fields, "cut_short", "not_read" and "milliseconds".
Outcome fieldsJson(const Task& task, const Settings& settings, const cv::Mat& photo)
{
    const auto start = std::chrono::steady_clock::now();
    const reading::ReadResult result = readLines(photo, settings);
    boost::json::object line = pathLine(task);
    reading::addFields(line, reading::receiptFields(result.lines));
    reading::addOutcome(line, result);
    line["milliseconds"] = millisecondsSince(start);
    return readOutcome(result, line);
}

std::string detectionJson(const Task& task, const Settings& settings, cv::Size photo, const Timed& timed)
{
    boost::json::object line = pathLine(task);
    line["found"] = timed.found.has_value();
    if (timed.found)
        documentsearch::addDetection(line, *timed.found);
    else
        line["corners"] = boost::json::array();
    line["strategy"] = settings.strategy;
    line["width"] = photo.width;
    line["height"] = photo.height;
    line["milliseconds"] = timed.milliseconds;
    return plainJson(line);
}

std::string failureJson(const Task& task, const std::string& reason)
{
    boost::json::object line = pathLine(task);
    line["error"] = validUtf8(reason);
    return boost::json::serialize(line);
}

cv::Mat rectified(cv::Mat& photo, const Settings& settings)
{
    // The whole photo, as the rectify route searches it.
    const auto found = strategyOf(settings).find(photo, ratiosOf(settings));
    if (!found)
        throw std::runtime_error("no document found");
    // The search's corners as they are, also outside a photo that cuts the page.
    const std::vector<cv::Point> corners = documentsearch::wholePixels(found->corners);
    const cv::Size size = documentsearch::pageSize(corners, photo.size(), ratiosOf(settings));
    if (size.empty())
        throw std::runtime_error("the corners give no usable page size");
    if (!documentsearch::fitsTheWarp(corners, photo.size()))
        throw std::runtime_error("the corners span too large a region of the photo to flatten");
    const cv::Mat page = documentsearch::flattenedPage(photo, corners, size);
    if (page.empty())
        throw std::runtime_error("the corners found do not form a convex quadrangle");
    return settings.upright ? reading::upright(page) : page;
}

cv::Mat binarized(cv::Mat& photo, const Settings& settings)
{
    cv::Mat result;
    binarization::binarizeNamed(*binarization::methodNamed(settings.method), photo, result, settings.methodOptions);
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
        std::optional<std::string> payload = enc::internalKeyPayload(bytes);
        if (!payload)
            throw std::runtime_error("not scrambled with the built-in key");
        return std::move(*payload);
    }
    const std::string key = readFile(settings.keyFile);
    if (key.empty())
        throw std::runtime_error("the key file is empty");
    return enc::decrypt_image(bytes, key);
}

Outcome run(const Settings& settings, const Task& task)
{
    if (!task.refusal.empty())
        throw std::runtime_error(task.refusal);
    if (settings.skipExisting && !task.output.empty() && fs::exists(task.output))
        throw Skipped("output exists");
    switch (settings.action) {
    case Action::detect: {
        imageio::ReducedImage photo = readPhoto(task, documentsearch::searchSide(strategyOf(settings)));
        return {Outcome::done, "", detectionJson(task, settings, photo.full, detect(photo, settings))};
    }
    case Action::read:
        return readJson(task, settings, readPhoto(task));
    case Action::fields:
        return fieldsJson(task, settings, readPhoto(task));
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
        return {Outcome::failed, failure.what(), writesLines(settings.action) ? failureJson(task, failure.what()) : ""};
    }
}

}  // namespace tarvek::cli
