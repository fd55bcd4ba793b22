#pragma once

// What a document-tool route is given: a photo, posted as the raw image file
// or as JSON {"image": Base64, option: value, ...}, and options, as JSON
// members or query parameters (a JSON member wins over a parameter of the same
// name). Every mistake is thrown as a ClientError.

#include "http/http_server.h"
#include "imageio.h"
#include "memory_budget.h"

#include <boost/json/value.hpp>
#include <opencv2/core/mat.hpp>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cv {
class TickMeter;
}

namespace tarvek::service {

// The memory that work on the image file's pixels takes at most, reserved
// from the memory budget: 413 when it is more than the whole budget, 503 while
// other work holds too much of it.
MemoryBudget::Reservation reservedFor(std::string_view bytes, double peakBytesPerPixel);

// Logs at Info that a tool has done its work: "what (N mSec)".
void logDone(const std::string& what, const cv::TickMeter& meter);

// The whole text as a decimal number ("12", "-0.5", "1e3"); nothing for
// anything else ("abc", "0x64", "100abc", "", " 1").
std::optional<double> parseNumber(std::string_view text);

class ToolRequest {
public:
    // A JSON body that is no object with a string "image", a body declared
    // JSON that does not parse, Base64 that does not decode and a target whose
    // query does not parse are refused (400). peakBytesPerPixel is what the
    // route's work takes at most for each pixel of the photo: the photo is
    // decoded only once that much is reserved from the memory budget.
    ToolRequest(const http::Request& request, double peakBytesPerPixel);

    // Refuses (400) any option given but not named here.
    void allowOnly(const std::vector<std::string>& names) const;

    // The photo decoded in colour: 400 for no image, 413 over the pixel
    // limit or the whole memory budget, 415 for a format the decoder is not
    // given, 503 while the budget is taken by other work.
    cv::Mat photo();
    // The same for a search that needs no more than minSide pixels on the
    // photo's longer side: a large JPEG is decoded at a reduced size
    // (INT_MAX: the whole photo).
    imageio::ReducedImage photoForSearch(int minSide);

    // The option's value, nullptr when it is not given. Query parameters
    // arrive as strings.
    const boost::json::value* option(const std::string& name) const;

    std::string text(const std::string& name, const std::string& fallback) const;
    // A JSON true or false, or the text "true", "false", "1" or "0"; anything else is 400.
    bool flag(const std::string& name, bool fallback) const;
    // Numbers given as JSON numbers or as text; outside [least, most] is 400.
    int integer(const std::string& name, int fallback, int least, int most) const;
    double number(const std::string& name, double fallback, double least, double most) const;

private:
    // The ClientError of bytes that are not to be decoded.
    void checkPhoto() const;
    void readJsonBody(boost::json::value& json);
    void readQuery(const http::Request& request);

    std::string bytes_;
    std::map<std::string, boost::json::value> options_;
    double peakBytesPerPixel_;
    std::optional<MemoryBudget::Reservation> reserved_;
};

} // namespace tarvek::service
