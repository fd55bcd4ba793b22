#include "recognition.h"

#include "base64.h"
#include "http/json_text.h"
#include "http/logger.h"
#include "imageio.h"
#include "tool_request.h"

#include <boost/json/parse.hpp>
#include <boost/locale/encoding_utf.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <optional>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace tarvek::service {
namespace {

using http::LogLevel;
namespace logger = http::logger;

const std::vector<std::string>& fieldsOf(int kind)
{
    static const std::vector<std::string> receipt = {"voraror 의정부 센터", "1577-5448", "2019-01-10", "420000", "0"};
    static const std::vector<std::string> estimate = {"dazudad", "1111-2222", "2019-01-12", "336000", "0"};
    static const std::vector<std::string> none;
    switch (kind) {
    case 0: return receipt;
    case 1: return estimate;
    default: return none;
    }
}

boost::json::object failure(int status, const char* message)
{
    if (logger::enabled(LogLevel::Error))
        logger::write(LogLevel::Error, message);
    return boost::json::object{{"status", status}};
}

// Decodes the "image" of a JSON body into bytes; false when the body has no
// "image". Bodies whose "image" is no string, or whose top level is no
// container, raise, and the server answers them 500.
bool readImageMember(const boost::json::value& body, std::string& bytes)
{
    if (body.is_array())
        return false;
    if (!body.is_object())
        throw std::runtime_error("value is not a container");
    const boost::json::value* image = body.as_object().if_contains("image");
    if (!image)
        return false;
    if (!image->is_string())
        throw std::runtime_error("value is not string");
    // A text whose length is no multiple of 4 leaves the bytes empty.
    const boost::json::string& text = image->get_string();
    macaron::Base64::Decode(text.data(), text.size(), bytes);
    return true;
}

bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Whether JSON reads the text inside quotes as it stands: printable ASCII
// without backslash.
bool isVerbatimJsonText(std::string_view text)
{
    return !http::anyByte(text, [](std::uint8_t c) { return (c < 0x20) | (c >= 0x7f) | (c == '\\'); });
}

// The "image" text of a body that is just {"image": "..."} with a text JSON
// reads as it stands (Base64 always is), white space allowed between the
// tokens: parsing it would give an object with that one string. Uploads have
// this shape, and reading them in place spares the parsed copies of megabytes.
// Nothing for any other body.
std::optional<std::string_view> verbatimImageText(std::string_view body)
{
    std::size_t at = 0;
    const auto skipSpace = [&] {
        while (at < body.size() && isJsonSpace(body[at]))
            ++at;
    };
    const auto take = [&](std::string_view token) {
        skipSpace();
        if (body.substr(at, token.size()) != token)
            return false;
        at += token.size();
        return true;
    };
    if (!take("{") || !take("\"image\"") || !take(":") || !take("\""))
        return std::nullopt;
    const std::size_t end = body.find('"', at);
    if (end == std::string_view::npos)
        return std::nullopt;
    const std::string_view text = body.substr(at, end - at);
    at = end + 1;
    if (!isVerbatimJsonText(text) || !take("}"))
        return std::nullopt;
    skipSpace();
    return at == body.size() ? std::optional(text) : std::nullopt;
}

enum class BodyKind { raw, jsonWithImage, jsonWithoutImage };

// What the body is; the image of a JSON body is decoded into bytes. The parsed
// JSON is gone on return, so that it does not hold a second copy of a large
// upload while the image is decoded.
BodyKind readBody(const std::string& body, std::string& bytes)
{
    if (const auto text = verbatimImageText(body)) {
        // A text whose length is no multiple of 4 leaves the bytes empty.
        macaron::Base64::Decode(text->data(), text->size(), bytes);
        return BodyKind::jsonWithImage;
    }
    boost::system::error_code notJson;
    const boost::json::value json = boost::json::parse(body, notJson);
    if (notJson)
        return BodyKind::raw;
    return readImageMember(json, bytes) ? BodyKind::jsonWithImage : BodyKind::jsonWithoutImage;
}

// A decoded colour photo: three bytes a pixel.
constexpr double decodedBytesPerPixel = 3;

// Decodes the bytes as a colour image; false when the decoder raises (an empty
// buffer included), or when the headers do not declare the size or count more
// than imageio::pixelLimit(). Bytes of other formats are not decoded and,
// like bytes no decoder recognises, give no image, which is accepted.
bool decodesAsImage(const std::string& bytes)
{
    using imageio::ImageCheck;
    switch (imageio::checkImageBytes(bytes)) {
    case ImageCheck::otherFormat: return true;
    case ImageCheck::sizeUnknown:
    case ImageCheck::tooManyPixels: return false;
    case ImageCheck::empty:
    case ImageCheck::decodable: break;
    }
    const auto reserved = reservedFor(bytes, decodedBytesPerPixel);
    try {
        imageio::decodeImage(bytes, cv::IMREAD_COLOR);
        return true;
    } catch (const cv::Exception&) {
        return false;
    }
}

// The Base64 text of the bytes, written once into a JSON string of its exact
// size (the answer of a large photo is megabytes).
boost::json::string base64Of(const std::string& bytes)
{
    boost::json::string text;
    text.resize(macaron::Base64::EncodedSize(bytes.size()));
    macaron::Base64::EncodeTo(bytes.data(), bytes.size(), text.data());
    return text;
}

boost::json::array toJson(const std::vector<std::string>& fields)
{
    boost::json::array array;
    array.reserve(fields.size());
    for (const auto& field : fields)
        array.emplace_back(field);
    return array;
}

} // namespace

boost::json::value run_request(const http::Request& request, int kind)
{
    cv::TickMeter meter;
    meter.start();

    // A raw body is used where it lies; only a JSON body's image is decoded into bytes of its own.
    std::string decoded;
    const BodyKind bodyKind = readBody(request.body(), decoded);
    if (bodyKind == BodyKind::jsonWithoutImage)
        return failure(-1, "request body isn't json. you should send base64 encoded image as request body");
    const std::string& bytes = bodyKind == BodyKind::raw ? request.body() : decoded;

    if (!decodesAsImage(bytes))
        return failure(-2, "request body isn't image. you should send base64 encoded image as request body");

    const auto& fields = fieldsOf(kind);
    if (fields.empty())
        return failure(-3, "recognition has been failed.");

    boost::json::object response;
    response["status"] = 0;
    response["image"] = base64Of(bytes);
    response["fields"] = toJson(fields);

    meter.stop();
    if (logger::enabled(LogLevel::Info)) {
        std::ostringstream line;
        line << "recognition has been successfully completed. (" << meter.getTimeMilli() << "mSec)";
        logger::write(LogLevel::Info, line.str());
    }
    return response;
}

bool mayDecodeImage(const http::Request& request)
{
    const std::string& body = request.body();
    if (verbatimImageText(body))
        return true;
    boost::system::error_code notJson;
    const boost::json::value json = boost::json::parse(body, notJson);
    if (notJson)
        return true;
    const boost::json::object* members = json.if_object();
    const boost::json::value* image = members ? members->if_contains("image") : nullptr;
    return image && image->is_string();
}

std::string to_string(const std::wstring& text)
{
    return boost::locale::conv::utf_to_utf<char>(text, boost::locale::conv::skip);
}

} // namespace tarvek::service
