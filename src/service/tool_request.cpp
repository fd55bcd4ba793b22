#include "tool_request.h"

#include "base64.h"
#include "client_error.h"
#include "http/logger.h"
#include "http/work.h"
#include "imageio.h"

#include <boost/algorithm/string.hpp>
#include <boost/json/parse.hpp>
#include <boost/url/parse.hpp>
#include <boost/url/src.hpp> // Boost.URL has no compiled library in Debian; this builds it into the service once
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <sstream>

namespace tarvek::service {
namespace {

ClientError badOption(const std::string& name, const std::string& expected)
{
    return ClientError(400, "bad_option", "option \"" + name + "\" must be " + expected);
}

// The decoder of the service reads any byte as some value; an upload is
// checked first so that a damaged text is refused instead of decoding to noise.
bool isBase64(const std::string& text)
{
    if (text.size() % 4 != 0)
        return false;
    const std::size_t data = text.find_last_not_of('=') + 1; // 0 when all is padding
    const auto isAlphabet = [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '/'; };
    return text.size() - data <= 2 && std::all_of(text.begin(), text.begin() + data, isAlphabet);
}

// A JSON number, or text holding one, as a double; nothing for anything else.
std::optional<double> numberOf(const boost::json::value& value)
{
    if (value.is_number())
        return value.to_number<double>();
    if (value.is_string())
        return parseNumber(value.get_string());
    return std::nullopt;
}

// Whether the Content-Type names JSON: application/json or a type ending in
// "+json", parameters aside, in any case.
bool declaresJson(const http::Request& request)
{
    const auto field = request.find(boost::beast::http::field::content_type);
    if (field == request.end())
        return false;
    std::string type(field->value().substr(0, field->value().find(';')));
    boost::algorithm::trim(type);
    boost::algorithm::to_lower(type);
    return type == "application/json" || boost::algorithm::ends_with(type, "+json");
}

} // namespace

MemoryBudget::Reservation reservedFor(std::string_view bytes, double peakBytesPerPixel)
{
    constexpr int mebibyte = 20;
    const double pixels = static_cast<double>(imageio::countedPixels(bytes).value_or(0));
    const auto need = static_cast<std::uint64_t>(pixels * peakBytesPerPixel) + bytes.size();
    MemoryBudget& budget = memoryBudget();
    if (need > budget.total())
        throw ClientError(413, "image_too_large",
                          fmt::format("this image takes about {} MiB to work on; the server works on at most {} MiB "
                                      "of photos at once",
                                      need >> mebibyte, budget.total() >> mebibyte));
    auto reserved = budget.reserve(need);
    if (!reserved)
        throw ClientError(503, "busy", "the server's memory is taken by other photos; try again shortly");
    return std::move(*reserved);
}

void logDone(const std::string& what, const cv::TickMeter& meter)
{
    if (http::logger::enabled(http::LogLevel::Info)) {
        std::ostringstream line;
        line << what << " (" << meter.getTimeMilli() << "mSec)";
        http::logger::write(http::LogLevel::Info, line.str());
    }
}

std::optional<double> parseNumber(std::string_view text)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

ToolRequest::ToolRequest(const http::Request& request, double peakBytesPerPixel)
    : peakBytesPerPixel_(peakBytesPerPixel)
{
    readQuery(request);
    boost::system::error_code notJson;
    boost::json::value json = boost::json::parse(request.body(), notJson);
    if (!notJson)
        readJsonBody(json);
    else if (declaresJson(request))
        throw ClientError(400, "bad_json", "the body is declared JSON but does not parse: " + notJson.message());
    else
        bytes_ = request.body();
}

void ToolRequest::allowOnly(const std::vector<std::string>& names) const
{
    for (const auto& [name, value] : options_)
        if (std::find(names.begin(), names.end(), name) == names.end())
            throw ClientError(400, "unknown_option", "unknown option \"" + name + "\"");
}

void ToolRequest::readQuery(const http::Request& request)
{
    const auto target = boost::urls::parse_origin_form(request.target());
    if (!target)
        throw ClientError(400, "bad_query", "the request target does not parse: " + target.error().message());
    for (const auto& parameter : target->params())
        // "?" or "a=1&" leave an empty parameter behind: nothing was given.
        if (!parameter.key.empty() || !parameter.value.empty())
            options_[parameter.key] = boost::json::string(parameter.value);
}

void ToolRequest::readJsonBody(boost::json::value& json)
{
    if (!json.is_object())
        throw ClientError(400, "bad_json", "a JSON body must be an object with the member \"image\"");
    boost::json::object& members = json.as_object();
    const boost::json::value* image = members.if_contains("image");
    if (!image || !image->is_string())
        throw ClientError(400, "bad_json", "the member \"image\" must hold the image file as Base64 text");
    const std::string text(image->get_string());
    if (!isBase64(text) || !macaron::Base64::Decode(text, bytes_).empty())
        throw ClientError(400, "bad_base64", "the member \"image\" is not Base64 text");
    members.erase("image");
    for (auto& [name, value] : members)
        options_[std::string(name)] = std::move(value);
}

void ToolRequest::checkPhoto() const
{
    using imageio::ImageCheck;
    switch (imageio::checkImageBytes(bytes_)) {
    case ImageCheck::empty: throw ClientError(400, "not_an_image", "no image was sent");
    case ImageCheck::otherFormat:
        throw ClientError(415, "unsupported_media_type", "the image must be a JPEG, PNG, BMP, WebP or TIFF file");
    case ImageCheck::sizeUnknown:
        throw ClientError(400, "not_an_image", "the image header does not declare the image's size");
    case ImageCheck::tooManyPixels:
        throw ClientError(413, "image_too_large",
                          "the image declares more than " + std::to_string(imageio::pixelLimit()) + " pixels");
    case ImageCheck::decodable: break;
    }
}

cv::Mat ToolRequest::photo() { return photoForSearch(std::numeric_limits<int>::max()).image; }

imageio::ReducedImage ToolRequest::photoForSearch(int minSide)
{
    checkPhoto();
    reserved_ = reservedFor(bytes_, peakBytesPerPixel_);
    imageio::ReducedImage photo;
    try {
        photo = imageio::decodeReduced(bytes_, minSide);
    } catch (const cv::Exception&) {
        // Some readers raise on damaged files instead of giving nothing; both are the same mistake.
    }
    if (photo.image.empty())
        throw ClientError(400, "not_an_image", "the image file does not decode");
    http::checkWork();
    return photo;
}

const boost::json::value* ToolRequest::option(const std::string& name) const
{
    const auto found = options_.find(name);
    return found == options_.end() ? nullptr : &found->second;
}

std::string ToolRequest::text(const std::string& name, const std::string& fallback) const
{
    const boost::json::value* value = option(name);
    if (!value)
        return fallback;
    if (!value->is_string())
        throw badOption(name, "text");
    return std::string(value->get_string());
}

bool ToolRequest::flag(const std::string& name, bool fallback) const
{
    const boost::json::value* value = option(name);
    if (!value)
        return fallback;
    if (value->is_bool())
        return value->get_bool();
    if (value->is_string()) {
        const boost::json::string& text = value->get_string();
        if (text == "true" || text == "1")
            return true;
        if (text == "false" || text == "0")
            return false;
    }
    throw badOption(name, "true or false");
}

int ToolRequest::integer(const std::string& name, int fallback, int least, int most) const
{
    const boost::json::value* value = option(name);
    if (!value)
        return fallback;
    const auto number = numberOf(*value);
    if (!number || *number != std::floor(*number) || *number < least || *number > most)
        throw badOption(name, "an integer from " + std::to_string(least) + " to " + std::to_string(most));
    return static_cast<int>(*number);
}

double ToolRequest::number(const std::string& name, double fallback, double least, double most) const
{
    const boost::json::value* value = option(name);
    if (!value)
        return fallback;
    const auto number = numberOf(*value);
    if (!number || !(*number >= least && *number <= most))
        throw badOption(name, fmt::format("a number from {} to {}", least, most));
    return *number;
}

} // namespace tarvek::service
