// Feeds arbitrary requests to the four document-tool routes with a small
// photo that decodes: the target's query, the Content-Type and Accept headers
// and the options as JSON members (corner lists, bounds, names) all come from
// the input. Every request must end in an answer of the route or in one of the
// client errors the routes name; any other exception, or a 200 without a body,
// aborts. The first bytes choose the route, the headers and the body's form.
#include "base64.h"
#include "client_error.h"
#include "document_tools.h"
#include "http/logger.h"

#include <boost/json.hpp>
#include <fuzzer/FuzzedDataProvider.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using tarvek::http::Request;
using tarvek::http::Response;

class NullLog : public tarvek::http::ILogHandler {
public:
    void log(std::string, tarvek::http::LogLevel) override {}
};

// A 64 x 48 photo of a light page on a dark desk, as PNG.
const std::string& photoFile()
{
    static const std::string file = [] {
        cv::Mat photo(48, 64, CV_8UC3, cv::Scalar(40, 50, 60));
        const std::vector<cv::Point> page{{12, 8}, {52, 10}, {50, 40}, {10, 38}};
        cv::fillConvexPoly(photo, page, cv::Scalar(230, 230, 225));
        std::vector<uchar> bytes;
        cv::imencode(".png", photo, bytes);
        return std::string(bytes.begin(), bytes.end());
    }();
    return file;
}

const std::vector<Response (*)(const Request&)> routes = {
    tarvek::service::detectDocument, tarvek::service::rectifyDocument, tarvek::service::binarizeDocument,
    tarvek::service::cleanDocument};

const std::vector<std::string> contentTypes = {"", "application/json", "image/png", "application/vnd.x+JSON; q=1",
                                               "text/plain"};

// The body: the options text parsed as JSON, with the photo as its "image"
// member when it is an object; the photo alone; or the options text as it is.
std::string bodyOf(int form, const std::string& options)
{
    if (form == 1)
        return photoFile();
    if (form == 2)
        return options;
    boost::system::error_code notJson;
    boost::json::value json = boost::json::parse(options, notJson);
    if (notJson || !json.is_object())
        return options;
    json.as_object()["image"] = macaron::Base64::Encode(photoFile());
    return boost::json::serialize(json);
}

bool isRouteError(int status)
{
    return status == 400 || status == 406 || status == 413 || status == 415 || status == 422;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static NullLog quiet;
    tarvek::http::logger::setHandler(&quiet);
    FuzzedDataProvider input(data, size);
    const auto route = routes[input.ConsumeIntegralInRange<std::size_t>(0, routes.size() - 1)];
    const int form = input.ConsumeIntegralInRange(0, 2);

    Request request;
    request.method(boost::beast::http::verb::post);
    request.target("/v1/document/tool?" + input.ConsumeRandomLengthString(512));
    const std::string& type = contentTypes[input.ConsumeIntegralInRange<std::size_t>(0, contentTypes.size() - 1)];
    if (!type.empty())
        request.set(boost::beast::http::field::content_type, type);
    if (input.ConsumeBool())
        request.set(boost::beast::http::field::accept, input.ConsumeRandomLengthString(128));
    request.body() = bodyOf(form, input.ConsumeRemainingBytesAsString());

    try {
        const Response answer = route(request);
        if (answer.code != 200 || answer.body.empty())
            std::abort();
    } catch (const tarvek::service::ClientError& refusal) {
        if (!isRouteError(refusal.status()) || refusal.code().empty())
            std::abort();
    }
    return 0;
}
