// Feeds arbitrary image bytes and options to the tool request in both body
// forms. The raw bytes and the JSON body {"image": their Base64} must give the
// same photo or the same refusal; options sent as JSON members and as query
// parameters must read the same, a member winning over a parameter; and
// arbitrary text in "image" is refused or decoded, never more. The first
// bytes choose the options; the rest is the image file.
#include "base64.h"
#include "client_error.h"
#include "http/logger.h"
#include "imageio.h"
#include "tool_request.h"

#include <boost/json.hpp>
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using tarvek::http::Request;
using tarvek::service::ClientError;
using tarvek::service::ToolRequest;

class NullLog : public tarvek::http::ILogHandler {
public:
    void log(std::string, tarvek::http::LogLevel) override {}
};

// What a request's photo came to: a refusal's status and code, or the image.
struct Outcome {
    int status = 200;
    std::string code;
    tarvek::imageio::ReducedImage photo;
};

bool same(const Outcome& a, const Outcome& b)
{
    if (a.status != b.status || a.code != b.code)
        return false;
    const cv::Mat& x = a.photo.image;
    const cv::Mat& y = b.photo.image;
    return a.photo.full == b.photo.full && a.photo.scale == b.photo.scale && x.size() == y.size() &&
           x.type() == y.type() && (x.empty() || std::memcmp(x.data, y.data, x.total() * x.elemSize()) == 0);
}

Request requestOf(const std::string& target, std::string body, const char* contentType)
{
    Request request;
    request.method(boost::beast::http::verb::post);
    request.target(target);
    if (contentType)
        request.set(boost::beast::http::field::content_type, contentType);
    request.body() = std::move(body);
    return request;
}

// The request read and its photo decoded, or nothing when the request is
// refused before (options, JSON) — that part is compared elsewhere.
std::optional<Outcome> photoOutcome(const Request& request, bool decode)
{
    std::optional<ToolRequest> read;
    try {
        read.emplace(request);
    } catch (const ClientError&) {
        return std::nullopt;
    }
    Outcome outcome;
    try {
        if (decode)
            outcome.photo = read->photoForSearch(960);
    } catch (const ClientError& refusal) {
        outcome.status = refusal.status();
        outcome.code = refusal.code();
    }
    return outcome;
}

std::string imageMember(const std::string& text)
{
    return boost::json::serialize(boost::json::object{{"image", text}});
}

std::string percentEncoded(const std::string& text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const unsigned char c : text) {
        if (std::isalnum(c)) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += digits[c >> 4];
            encoded += digits[c & 15];
        }
    }
    return encoded;
}

// A few options as (name, text) pairs; "image" is the photo's member, not an option.
std::vector<std::pair<std::string, std::string>> optionsOf(FuzzedDataProvider& input)
{
    std::vector<std::pair<std::string, std::string>> options;
    for (int count = input.ConsumeIntegralInRange(0, 3); count > 0; --count) {
        std::string name = input.ConsumeRandomLengthString(12);
        std::string value = input.ConsumeRandomLengthString(24);
        if (name != "image")
            options.emplace_back(std::move(name), std::move(value));
    }
    return options;
}

// The option read from the query and from JSON members must agree, members
// winning; integer() and number() must agree too and keep their bounds.
void checkOptions(const std::vector<std::pair<std::string, std::string>>& options, const std::string& image)
{
    std::string query = "/v1/document/detect?";
    boost::json::object members{{"image", image}};
    for (const auto& [name, value] : options) {
        query += percentEncoded(name) + "=" + percentEncoded(value + "-query") + "&";
        members[name] = value;
    }
    std::optional<ToolRequest> both;
    try {
        both.emplace(requestOf(query, boost::json::serialize(members), "application/json"));
    } catch (const ClientError&) {
        return;  // an image text that is not Base64
    }
    const ToolRequest fromMembers(requestOf("/v1/document/detect", boost::json::serialize(members), nullptr));
    for (const auto& [name, value] : options) {
        const boost::json::value* read = both->option(name);
        if (!read || *read != boost::json::value(members.at(name)) || *fromMembers.option(name) != *read)
            std::abort();
        std::optional<int> integer;
        try {
            integer = both->integer(name, 0, -100, 100);
        } catch (const ClientError& refusal) {
            if (refusal.status() != 400)
                std::abort();
        }
        if (integer && (*integer < -100 || *integer > 100))
            std::abort();
        try {
            const double number = both->number(name, 0.5, -1.0, 1.0);
            if (!(number >= -1.0 && number <= 1.0))
                std::abort();
        } catch (const ClientError& refusal) {
            if (refusal.status() != 400)
                std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static NullLog quiet;
    tarvek::http::logger::setHandler(&quiet);
    FuzzedDataProvider input(data, size);
    const auto options = optionsOf(input);
    const bool imageAsText = input.ConsumeBool();
    const std::string bytes = input.ConsumeRemainingBytesAsString();

    // The fuzzer's memory limit is below what the pixel limit admits; large images are tested elsewhere.
    const auto pixels = tarvek::imageio::countedPixels(bytes);
    const bool decode = !pixels || *pixels <= (std::uint64_t{1} << 22);
    const std::string base64 = macaron::Base64::Encode(bytes);

    const std::string target = "/v1/document/detect";
    const auto asJson = photoOutcome(requestOf(target, imageMember(base64), "application/json"), decode);
    if (!asJson)
        std::abort();  // Base64 of any bytes is a valid image member
    boost::system::error_code notJson;
    boost::json::parse(bytes, notJson);
    if (notJson) {  // bytes that parse as JSON are read as a JSON body
        const auto raw = photoOutcome(requestOf(target, bytes, nullptr), decode);
        if (!raw || !same(*raw, *asJson))
            std::abort();
    }
    if (imageAsText)
        photoOutcome(requestOf(target, imageMember(bytes), nullptr), decode);
    checkOptions(options, imageAsText ? bytes : base64);
    return 0;
}
