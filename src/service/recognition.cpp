#include "recognition.h"

#include "base64.h"
#include "image_input.h"
#include "logger.h"

#include <boost/json/parse.hpp>
#include <boost/locale/encoding_utf.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <optional>
#include <sstream>
#include <stdexcept>
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

// The image bytes of a JSON body, or nothing when the body has no "image".
// Bodies whose "image" is no string, or whose top level is no container,
// raise, and the server answers them 500.
std::optional<std::string> imageMember(const boost::json::value& body)
{
    if (body.is_array())
        return std::nullopt;
    if (!body.is_object())
        throw std::runtime_error("value is not a container");
    const boost::json::value* image = body.as_object().if_contains("image");
    if (!image)
        return std::nullopt;
    if (!image->is_string())
        throw std::runtime_error("value is not string");
    std::string bytes;
    // A text whose length is no multiple of 4 leaves the bytes empty.
    macaron::Base64::Decode(std::string(image->get_string()), bytes);
    return bytes;
}

// Decodes the bytes as a colour image; false when the decoder raises (an empty
// buffer included) or the header declares more than maxImagePixels. Bytes of
// other formats are not decoded and, like bytes no decoder recognises, give no
// image, which is accepted.
bool decodesAsImage(std::string& bytes)
{
    switch (checkImageBytes(bytes)) {
    case ImageCheck::otherFormat: return true;
    case ImageCheck::tooManyPixels: return false;
    case ImageCheck::empty:
    case ImageCheck::decodable: break;
    }
    try {
        decodeImage(bytes, cv::IMREAD_COLOR);
        return true;
    } catch (const cv::Exception&) {
        return false;
    }
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

    boost::system::error_code parseError;
    const boost::json::value body = boost::json::parse(request.body(), parseError);
    std::string bytes;
    if (!parseError) {
        auto image = imageMember(body);
        if (!image)
            return failure(-1, "request body isn't json. you should send base64 encoded image as request body");
        bytes = std::move(*image);
    } else {
        bytes = request.body();
    }

    if (!decodesAsImage(bytes))
        return failure(-2, "request body isn't image. you should send base64 encoded image as request body");

    const auto& fields = fieldsOf(kind);
    if (fields.empty())
        return failure(-3, "recognition has been failed.");

    boost::json::object response;
    response["status"] = 0;
    response["image"] = macaron::Base64::Encode(std::move(bytes));
    response["fields"] = toJson(fields);

    meter.stop();
    if (logger::enabled(LogLevel::Info)) {
        std::ostringstream line;
        line << "recognition has been successfully completed. (" << meter.getTimeMilli() << "mSec)";
        logger::write(LogLevel::Info, line.str());
    }
    return response;
}

std::string to_string(const std::wstring& text)
{
    return boost::locale::conv::utf_to_utf<char>(text, boost::locale::conv::skip);
}

} // namespace tarvek::service
