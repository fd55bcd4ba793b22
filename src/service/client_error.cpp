#include "client_error.h"

#include "http/logger.h"
#include "printable.h"

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

namespace tarvek::service {

ClientError::ClientError(int status, std::string code, const std::string& message)
    : std::runtime_error(message), status_(status), code_(std::move(code))
{
}

http::Response errorResponse(int status, const std::string& code, const std::string& message)
{
    const boost::json::value body = {{"error", {{"code", code}, {"message", validUtf8(message)}}}};
    return http::Response(status, boost::json::serialize(body), "application/json");
}

http::Handler answeringClientErrors(http::Handler handler)
{
    return [handler = std::move(handler)](const http::Request& request) {
        try {
            return handler(request);
        } catch (const ClientError& error) {
            if (http::logger::enabled(http::LogLevel::Warning))
                http::logger::write(http::LogLevel::Warning,
                                    validUtf8(std::string(request.target()) + " answered " +
                                                    std::to_string(error.status()) + " " + error.code() + ": " +
                                                    error.what()));
            http::Response answer = errorResponse(error.status(), error.code(), error.what());
            // A busy server: the client may try again in a moment.
            if (error.status() == 503)
                answer.fields.emplace_back(boost::beast::http::field::retry_after, "1");
            return answer;
        }
    };
}

} // namespace tarvek::service
