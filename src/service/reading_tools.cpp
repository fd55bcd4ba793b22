#include "reading_tools.h"

#include "client_error.h"
#include "reading/reading.h"
#include "reading_json.h"
#include "reading_options.h"
#include "tool_request.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <cmath>
#include <thread>

namespace tarvek::service {
namespace {

reading::ReadOptions readOptionsOf(const ToolRequest& request)
{
    reading::ReadOptions options;
    options.languages = request.text("lang", options.languages);
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

// The photo's lines; extra names the route's own options beside the reading ones.
Read readPhoto(ToolRequest& request, std::vector<std::string> extra)
{
    extra.insert(extra.end(), {"lang", "rectify", "upright", "deadline_ms"});
    request.allowOnly(extra);
    const reading::ReadOptions options = readOptionsOf(request);
    const cv::Mat photo = request.photo();
    return {reading::readText(photo, options), photo.size()};
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
    ToolRequest options(request);
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
    ToolRequest options(request);
    const bool withLines = options.flag("lines", false);
    const Read read = readPhoto(options, {"lines"});
    boost::json::object answer;
    reading::addFields(answer, reading::receiptFields(read.result.lines));
    answer["cut_short"] = read.result.cutShort;
    if (withLines)
        answer["lines"] = reading::linesJson(read.result.lines);
    finish(answer, meter, "fields: from " + std::to_string(read.result.lines.size()) + " lines");
    return boost::json::value(std::move(answer));
}

http::PoolLimits readingPoolLimits()
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    // A receipt takes a core a second or two: a client told busy tries again after about that.
    return {cores, cores, 2};
}

} // namespace tarvek::service
