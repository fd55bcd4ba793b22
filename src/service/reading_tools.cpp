#include "reading_tools.h"

#include "client_error.h"
#include "http/work.h"
#include "reading/reading.h"
#include "reading_json.h"
#include "reading_options.h"
#include "tool_request.h"

#include <boost/json/parse.hpp>
#include <boost/url/parse.hpp>
#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <cmath>
#include <thread>

namespace tarvek::service {
namespace {

// What reading takes at most for each pixel of the photo as sent (the decoded
// photo, its grey copy and the bounded working copies of preparation).
constexpr double readPeakPerPixel = 9;

reading::ReadOptions readOptionsOf(const ToolRequest& request)
{
    reading::ReadOptions options;
    options.languages = reading::normalisedLanguages(request.text("lang", options.languages));
    const std::string problem = reading::languagesProblem(options.languages);
    if (!problem.empty())
        throw ClientError(400, "bad_option", "option \"lang\": " + problem);
    options.rectify = request.flag("rectify", options.rectify);
    options.upright = request.flag("upright", options.upright);
    options.deadlineMs =
        request.integer("deadline_ms", options.deadlineMs, reading::minDeadlineMs, reading::maxDeadlineMs);
    return options;
}

struct Read {
    reading::ReadResult result;
    cv::Size photo;
};

// The photo's lines; extra names the route's own options beside the reading ones. The
// deadline counts from the request's arrival, and a request given up (its client gone,
// the server stopping) stops reading at once. A page that cannot be read at all is 422.
Read readPhoto(ToolRequest& request, std::vector<std::string> extra)
{
    extra.insert(extra.end(), {"lang", "rectify", "upright", "deadline_ms"});
    request.allowOnly(extra);
    reading::ReadOptions options = readOptionsOf(request);
    if (const http::Work* work = http::currentWork()) {
        options.deadlineStart = work->arrival();
        options.cancel = &work->abandonedFlag();
    }
    const cv::Mat photo = request.photo();
    Read read{reading::readText(photo, options), photo.size()};
    http::checkWork();
    if (!read.result.unreadable.empty())
        throw ClientError(422, "unreadable", read.result.unreadable);
    return read;
}

void finish(boost::json::object& answer, cv::TickMeter& meter, const std::string& what)
{
    meter.stop();
    answer["elapsed_ms"] = std::llround(meter.getTimeMilli());
    logDone(what, meter);
}

} // namespace

http::Response readDocument(const http::Request& request)
{
    cv::TickMeter meter;
    meter.start();
    ToolRequest options(request, readPeakPerPixel);
    const Read read = readPhoto(options, {});
    boost::json::object answer;
    reading::addReading(answer, read.result);
    answer["width"] = read.photo.width;
    answer["height"] = read.photo.height;
    finish(answer, meter, "read: " + std::to_string(read.result.lines.size()) + " lines");
    return boost::json::value(std::move(answer));
}

http::Response readReceiptFields(const http::Request& request)
{
    cv::TickMeter meter;
    meter.start();
    ToolRequest options(request, readPeakPerPixel);
    const bool withLines = options.flag("lines", false);
    const Read read = readPhoto(options, {"lines"});
    boost::json::object answer;
    reading::addFields(answer, reading::receiptFields(read.result.lines));
    reading::addOutcome(answer, read.result);
    if (withLines)
        answer["lines"] = reading::linesJson(read.result.lines);
    finish(answer, meter, "fields: from " + std::to_string(read.result.lines.size()) + " lines");
    return boost::json::value(std::move(answer));
}

std::optional<std::chrono::milliseconds> readingDeadline(const http::Request& request)
{
    const boost::json::value* given = nullptr;
    boost::json::value body;
    std::string query;
    if (const auto target = boost::urls::parse_origin_form(request.target())) {
        const auto found = target->params().find("deadline_ms");
        if (found != target->params().end())
            query = (*found).value;
    }
    // A JSON member wins over a parameter, as for every option.
    boost::system::error_code notJson;
    // Parsed on the connection's thread only when it names the option: a photo's Base64 is megabytes.
    if (!request.body().empty() && request.body().front() == '{' &&
        request.body().find("\"deadline_ms\"") != std::string::npos)
        body = boost::json::parse(request.body(), notJson);
    if (!notJson && body.is_object())
        given = body.as_object().if_contains("deadline_ms");
    std::optional<double> milliseconds = reading::ReadOptions{}.deadlineMs;
    if (given)
        milliseconds = given->is_number() ? std::optional(given->to_number<double>())
                       : given->is_string() ? parseNumber(given->get_string())
                                            : std::nullopt;
    else if (!query.empty())
        milliseconds = parseNumber(query);
    if (!milliseconds || *milliseconds < reading::minDeadlineMs || *milliseconds > reading::maxDeadlineMs)
        return std::nullopt;
    return std::chrono::milliseconds(static_cast<long long>(*milliseconds));
}

http::PoolLimits readingPoolLimits()
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    // A receipt takes a core a second or two: a client told busy tries again after about that.
    return {cores, {}, 2, "reading"};
}

} // namespace tarvek::service
