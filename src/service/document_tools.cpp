#include "document_tools.h"

#include "binarization_methods.h"
#include "client_error.h"
#include "detection_json.h"
#include "http/work.h"
#include "document_search.h"
#include "imageprocessing.h"
#include "reading/reading.h"
#include "tool_request.h"

#include <boost/algorithm/string.hpp>
#include <boost/json/serialize.hpp>
#include <fmt/format.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace tarvek::service {
namespace {

using Corners = std::vector<cv::Point>;
using documentsearch::documentKinds;
using documentsearch::Ratios;
using documentsearch::ratiosOfKind;
using documentsearch::strategies;
using documentsearch::Strategy;

// The entry of the table that the option names (fallback when it is not
// given); 400 listing the names otherwise.
template <typename Entry>
const Entry& chosen(const ToolRequest& request, const std::string& option, const std::vector<Entry>& table,
                    const std::string& fallback)
{
    const std::string name = request.text(option, fallback);
    std::string names;
    for (const Entry& entry : table) {
        if (name == entry.name)
            return entry;
        names += (names.empty() ? "" : ", ") + std::string(entry.name);
    }
    throw ClientError(400, "bad_option", "option \"" + option + "\" must be one of " + names);
}

Ratios ratiosOf(const ToolRequest& request)
{
    return ratiosOfKind(chosen(request, "kind", documentKinds, "any").kind);
}

ClientError badCorners(const std::string& why)
{
    return ClientError(400, "bad_corners", "option \"corners\" must be four [x, y] points inside the image: " + why);
}

// The eight coordinates of "corners": a JSON array of four [x, y] arrays, or
// the text "x,y,x,y,x,y,x,y" of a query parameter.
std::vector<double> cornerCoordinates(const boost::json::value& value)
{
    std::vector<double> numbers;
    if (value.is_string()) {
        std::vector<std::string> items;
        boost::algorithm::split(items, value.get_string(), boost::algorithm::is_any_of(","));
        for (std::string& item : items) {
            const auto number = parseNumber(boost::algorithm::trim_copy(item));
            if (!number)
                throw badCorners("\"" + item + "\" is not a number");
            numbers.push_back(*number);
        }
        return numbers;
    }
    if (!value.is_array())
        throw badCorners("not an array");
    for (const auto& point : value.get_array()) {
        if (!point.is_array() || point.get_array().size() != 2)
            throw badCorners("a point is not [x, y]");
        for (const auto& coordinate : point.get_array()) {
            if (!coordinate.is_number())
                throw badCorners("a coordinate is not a number");
            numbers.push_back(coordinate.to_number<double>());
        }
    }
    return numbers;
}

// The given points inside the image, in corner order whatever order they came in.
Corners givenCorners(const boost::json::value& value, const cv::Size& size)
{
    const std::vector<double> numbers = cornerCoordinates(value);
    if (numbers.size() != 8)
        throw badCorners(std::to_string(numbers.size()) + " coordinates given");
    Corners corners;
    for (std::size_t i = 0; i < 8; i += 2) {
        const double x = numbers[i], y = numbers[i + 1];
        if (!(x >= 0 && y >= 0 && x <= size.width - 1 && y <= size.height - 1))
            throw badCorners("a point lies outside the " + std::to_string(size.width) + " x " +
                             std::to_string(size.height) + " image");
        corners.emplace_back(cvRound(x), cvRound(y));
    }
    return documentsearch::inCornerOrder(corners);
}

struct ImageFormat {
    const char* name;
    const char* extension;
    const char* mediaType;
    int maxSide; // what the encoder writes
};

// libjpeg-turbo writes sides up to 65500, WebP up to 16383, libpng up to its
// default user limit of a million.
const std::vector<ImageFormat> outputFormats = {{"jpeg", ".jpg", "image/jpeg", 65500},
                                                {"png", ".png", "image/png", 1000000},
                                                {"webp", ".webp", "image/webp", 16383}};
const ImageFormat& jpeg = outputFormats[0];
const ImageFormat& png = outputFormats[1];

// The format of an answer, and whether the client named it (rather than
// leaving it to the route, or sending a wildcard): one it did not name may
// give way to PNG when the image is too large for it.
struct OutputFormat {
    ImageFormat format;
    bool named;
};

// The format an Accept header prefers among outputFormats: the highest q,
// then the first listed; wildcards mean JPEG. Media types are compared
// without regard to case. Nothing when none is acceptable.
std::optional<OutputFormat> negotiatedFormat(const std::string& accept)
{
    std::optional<OutputFormat> best;
    double bestQuality = 0;
    std::vector<std::string> ranges;
    boost::algorithm::split(ranges, accept, boost::algorithm::is_any_of(","));
    for (const std::string& range : ranges) {
        std::vector<std::string> parts;
        boost::algorithm::split(parts, range, boost::algorithm::is_any_of(";"));
        double quality = 1;
        for (std::string& parameter : parts) {
            boost::algorithm::trim(parameter);
            boost::algorithm::to_lower(parameter);
            if (boost::algorithm::starts_with(parameter, "q="))
                quality = std::strtod(parameter.c_str() + 2, nullptr);
        }
        const std::string& type = parts[0];
        const bool wildcard = type == "*/*" || type == "image/*";
        for (const ImageFormat& format : outputFormats) {
            const bool matches = wildcard ? &format == &jpeg : type == format.mediaType;
            if (matches && quality > bestQuality) {
                best = OutputFormat{format, !wildcard};
                bestQuality = quality;
            }
        }
    }
    return best;
}

OutputFormat outputFormatOf(const ToolRequest& options, const http::Request& request)
{
    if (options.option("format"))
        return {chosen(options, "format", outputFormats, ""), true};
    const auto accept = request.find(boost::beast::http::field::accept);
    if (accept == request.end())
        return {jpeg, false};
    if (auto format = negotiatedFormat(std::string(accept->value())))
        return *format;
    throw ClientError(406, "not_acceptable", "the service writes image/jpeg, image/png and image/webp");
}

bool holds(const ImageFormat& format, const cv::Mat& image)
{
    return image.cols <= format.maxSide && image.rows <= format.maxSide;
}

http::Response imageResponse(const cv::Mat& image, OutputFormat output)
{
    http::checkWork();
    if (!holds(output.format, image) && !output.named)
        output.format = png;
    if (!holds(output.format, image))
        throw ClientError(422, "too_large_for_format",
                          fmt::format("the image is {} x {} pixels; {} holds at most {} pixels a side", image.cols,
                                      image.rows, output.format.name, output.format.maxSide));
    std::vector<uchar> bytes;
    cv::imencode(output.format.extension, image, bytes);
    return http::Response(200, std::string(bytes.begin(), bytes.end()), output.format.mediaType);
}

ClientError noDocument() { return ClientError(422, "no_document", "no document was found in the image"); }

// The method's options as given, each within its bounds (400 otherwise), and
// the method's defaults for the rest.
binarization::MethodOptions methodOptionsOf(const ToolRequest& request, const binarization::Method& method)
{
    binarization::MethodOptions options = method.defaults;
    for (const binarization::OptionBounds& bounds : method.options) {
        const double fallback = binarization::optionValue(options, bounds.name);
        const double value =
            bounds.integral ? request.integer(bounds.name, static_cast<int>(fallback), static_cast<int>(bounds.least),
                                              static_cast<int>(bounds.most))
                            : request.number(bounds.name, fallback, bounds.least, bounds.most);
        binarization::setOption(options, bounds.name, value);
    }
    return options;
}

// What each tool takes at most for each pixel of the photo as sent (its decoded
// copy, working copies and answer), measured on a 12-megapixel JPEG photo and a
// 40-megapixel PNG page (docs/PERFORMANCE.md) with a margin: the memory reserved
// before the photo is decoded. Detect decodes a large JPEG reduced, a PNG whole.
constexpr double detectPeakPerPixel = 4;
constexpr double rectifyPeakPerPixel = 6;
constexpr double binarizePeakPerPixel = 14;
constexpr double cleanPeakPerPixel = 9;

} // namespace

http::Response detectDocument(const http::Request& request)
{
    cv::TickMeter meter;
    meter.start();
    ToolRequest options(request, detectPeakPerPixel);
    options.allowOnly({"strategy", "kind"});
    const Strategy& strategy = chosen(options, "strategy", strategies, documentsearch::defaultStrategy);
    const Ratios ratios = ratiosOf(options);
    imageio::ReducedImage photo = options.photoForSearch(documentsearch::searchSide(strategy));
    const auto found = documentsearch::detectedIn(photo, strategy, ratios);
    meter.stop();

    boost::json::object answer{{"found", found.has_value()}};
    if (found)
        documentsearch::addDetection(answer, *found);
    answer["strategy"] = strategy.name;
    answer["width"] = photo.full.width;
    answer["height"] = photo.full.height;
    answer["elapsed_ms"] = std::llround(meter.getTimeMilli());
    logDone(std::string("detect: ") + (found ? "found" : "nothing found") + " by " + strategy.name, meter);
    return boost::json::value(std::move(answer));
}

http::Response rectifyDocument(const http::Request& request)
{
    cv::TickMeter meter;
    meter.start();
    ToolRequest options(request, rectifyPeakPerPixel);
    options.allowOnly({"corners", "format", "strategy", "kind", "upright"});
    const OutputFormat format = outputFormatOf(options, request);
    const Strategy& strategy = chosen(options, "strategy", strategies, documentsearch::defaultStrategy);
    const Ratios ratios = ratiosOf(options);
    const bool upright = options.flag("upright", false);
    cv::Mat photo = options.photo();

    // The search's own corners are taken as they are, also outside a photo that cuts the page;
    // the warp fills what lies outside. Corners a client gives are checked.
    const boost::json::value* given = options.option("corners");
    std::optional<Corners> corners;
    if (given)
        corners = givenCorners(*given, photo.size());
    else if (const auto found = strategy.find(photo, ratios))
        corners = documentsearch::wholePixels(found->corners);
    if (!corners)
        throw noDocument();
    http::checkWork();
    if (!documentsearch::fitsTheWarp(*corners, photo.size())) {
        const cv::Rect region = cv::boundingRect(*corners);
        throw ClientError(422, "page_too_large",
                          fmt::format("the corners span {} x {} pixels; pages are flattened from regions under {} "
                                      "pixels a side",
                                      region.width, region.height, documentsearch::warpRegionLimit));
    }
    // The size the command line and the Python package give the same corners.
    const cv::Size size = documentsearch::pageSize(*corners, photo.size(), ratios);
    cv::Mat page = size.empty() ? cv::Mat() : documentsearch::flattenedPage(photo, *corners, size);
    if (page.empty()) {
        if (given)
            throw badCorners("they do not form a convex quadrangle of a usable page size");
        throw noDocument();
    }
    if (upright) {
        http::checkWork();
        page = reading::upright(page);
    }
    meter.stop();
    logDone("rectify: " + std::to_string(page.cols) + " x " + std::to_string(page.rows) + " page", meter);
    return imageResponse(page, format);
}

http::Response binarizeDocument(const http::Request& request)
{
    cv::TickMeter meter;
    meter.start();
    ToolRequest options(request, binarizePeakPerPixel);
    const binarization::Method& method = chosen(options, "method", binarization::methods, "auto");
    std::vector<std::string> allowed{"method"};
    for (const binarization::OptionBounds& bounds : method.options)
        allowed.emplace_back(bounds.name);
    options.allowOnly(allowed);
    const binarization::MethodOptions chosenOptions = methodOptionsOf(options, method);
    cv::Mat photo = options.photo();
    cv::Mat binary;
    binarization::binarizeNamed(method, photo, binary, chosenOptions);
    if (binary.empty())
        throw ClientError(422, "not_processable",
                          std::string("the image is too small for ") + method.name + " with these options");
    meter.stop();
    logDone(std::string("binarize: ") + method.name, meter);
    return imageResponse(binary, {png, false});
}

http::Response cleanDocument(const http::Request& request)
{
    cv::TickMeter meter;
    meter.start();
    ToolRequest options(request, cleanPeakPerPixel);
    options.allowOnly({});
    cv::Mat photo = options.photo();
    cv::Mat clean;
    if (!imageprocessing::removeBgColor(photo, clean))
        throw ClientError(422, "not_processable", "no dark-on-light page whose background could be removed");
    meter.stop();
    logDone("clean: background removed", meter);
    return imageResponse(clean, {jpeg, false});
}

} // namespace tarvek::service
