#include "recognition.h"

#include "base64.h"
#include "logger.h"

#include <boost/json/parse.hpp>
#include <boost/locale/encoding_utf.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

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
    if (!bytes.empty() && imageFormatOf(bytes) == ImageFormat::unknown)
        return true;
    const auto declared = declaredPixelCount(bytes);
    if (declared && *declared > maxImagePixels)
        return false;
    try {
        const cv::Mat buffer(1, static_cast<int>(bytes.size()), CV_8UC1, bytes.data());
        // Bytes that no decoder recognises give an empty image, which is accepted.
        const cv::Mat image = cv::imdecode(buffer, cv::IMREAD_COLOR);
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

std::uint32_t bigEndian32(const unsigned char* p) { return (p[0] << 24u) | (p[1] << 16u) | (p[2] << 8u) | p[3]; }
std::uint32_t bigEndian16(const unsigned char* p) { return (p[0] << 8u) | p[1]; }
std::uint32_t littleEndian24(const unsigned char* p) { return p[0] | (p[1] << 8u) | (p[2] << 16u); }
std::uint32_t littleEndian32(const unsigned char* p) { return littleEndian24(p) | (std::uint32_t(p[3]) << 24u); }

std::optional<std::uint64_t> jpegPixelCount(const unsigned char* p, std::size_t n)
{
    // Walk the marker segments up to the first start-of-frame (SOF0..SOF15 but DHT, JPG, DAC).
    std::size_t i = 2;
    while (i + 4 <= n) {
        if (p[i] != 0xFF)
            return std::nullopt;
        const unsigned marker = p[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        const std::size_t length = bigEndian16(p + i + 2);
        const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (i + 9 > n)
                return std::nullopt;
            return std::uint64_t{bigEndian16(p + i + 5)} * bigEndian16(p + i + 7);
        }
        i += 2 + length;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> webpPixelCount(const unsigned char* p, std::size_t n)
{
    // Only the extended form can declare more than 16384 x 16384 pixels.
    if (n < 30 || std::string_view(reinterpret_cast<const char*>(p + 12), 4) != "VP8X")
        return std::nullopt;
    return std::uint64_t{littleEndian24(p + 24) + 1} * (littleEndian24(p + 27) + 1);
}

} // namespace

ImageFormat imageFormatOf(const std::string& bytes)
{
    const auto startsWith = [&](std::string_view magic) { return bytes.compare(0, magic.size(), magic) == 0; };
    if (startsWith("\xff\xd8\xff"))
        return ImageFormat::jpeg;
    if (startsWith("\x89PNG\r\n\x1a\n"))
        return ImageFormat::png;
    if (startsWith("BM"))
        return ImageFormat::bmp;
    if (bytes.size() >= 12 && startsWith("RIFF") && bytes.compare(8, 4, "WEBP") == 0)
        return ImageFormat::webp;
    if (startsWith(std::string_view("II*\0", 4)) || startsWith(std::string_view("MM\0*", 4)))
        return ImageFormat::tiff;
    return ImageFormat::unknown;
}

std::optional<std::uint64_t> declaredPixelCount(const std::string& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const ImageFormat format = imageFormatOf(bytes);

    if (format == ImageFormat::png && n >= 24)
        return std::uint64_t{bigEndian32(p + 16)} * bigEndian32(p + 20);
    if (format == ImageFormat::jpeg)
        return jpegPixelCount(p, n);
    if (format == ImageFormat::bmp && n >= 26) {
        // Height is negative for top-down bitmaps.
        const auto width = static_cast<std::int32_t>(littleEndian32(p + 18));
        const auto height = static_cast<std::int32_t>(littleEndian32(p + 22));
        return std::uint64_t(std::abs(std::int64_t{width})) * std::uint64_t(std::abs(std::int64_t{height}));
    }
    if (format == ImageFormat::webp)
        return webpPixelCount(p, n);
    return std::nullopt;
}

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
