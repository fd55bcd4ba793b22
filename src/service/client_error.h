#pragma once

// A request the client got wrong, answered with a status and the JSON body
// {"error": {"code": "...", "message": "..."}}. Handlers throw it from where
// the mistake is found; the route wrapper turns it into the answer and logs it
// at Warning, never at Error: the server is fine.

#include "http/http_server.h"

#include <stdexcept>
#include <string>

namespace tarvek::service {

class ClientError : public std::runtime_error {
public:
    ClientError(int status, std::string code, const std::string& message);

    int status() const { return status_; }
    const std::string& code() const { return code_; }

private:
    int status_;
    std::string code_;
};

http::Response errorResponse(int status, const std::string& code, const std::string& message);

// The handler with its ClientErrors answered; other exceptions pass on to the
// server, which answers them 500.
http::Handler answeringClientErrors(http::Handler handler);

} // namespace tarvek::service
