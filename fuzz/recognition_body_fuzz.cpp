// Feeds arbitrary request bodies to the recognition handler: every body must
// end in one of the four status documents or in one of the two errors that
// the server answers 500; and the Base64 codec must round-trip the bytes.
#include "base64.h"
#include "http/logger.h"
#include "recognition.h"

#include <boost/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

class NullLog : public tarvek::http::ILogHandler {
public:
    void log(std::string, tarvek::http::LogLevel) override {}
};

void checkResponse(const boost::json::value& response)
{
    const auto& object = response.as_object();
    const auto status = object.at("status").as_int64();
    if (status == 0) {
        if (object.size() != 3 || !object.at("image").is_string() || object.at("fields").as_array().size() != 5)
            std::abort();
    } else if (object.size() != 1 || status < -3) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static NullLog quiet;
    tarvek::http::logger::setHandler(&quiet);

    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string decoded;
    if (!macaron::Base64::Decode(macaron::Base64::Encode(bytes), decoded).empty() || decoded != bytes)
        std::abort();
    macaron::Base64::Decode(bytes, decoded);

    tarvek::http::Request request;
    request.body() = bytes;
    try {
        checkResponse(tarvek::service::run_request(request, static_cast<int>(size % 2)));
    } catch (const std::runtime_error& error) {
        const std::string text = error.what();
        if (text != "value is not string" && text != "value is not a container")
            std::abort();
    }
    return 0;
}
