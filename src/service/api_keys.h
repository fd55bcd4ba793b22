#pragma once

// Optional access control: a file of API keys, one per line, read at start
// and again on reload. A request names its key as "Authorization: Bearer KEY".

#include "http/http_server.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvek::service {

class ApiKeys {
public:
    // Reads the file; throws std::runtime_error naming the file when it is
    // no regular file, is larger than maxKeyFileBytes, cannot be read or holds no key.
    explicit ApiKeys(std::string file);

    // Reads the file again. On failure it throws as the constructor does and
    // the keys read before stay in force.
    void reload();
    std::size_t count() const;

    // Whether an Authorization field's value names one of the keys. Every key
    // is compared in full, so the time taken tells nothing of how close a
    // guess came.
    bool admits(std::string_view authorization) const;

private:
    std::vector<std::string> read() const;

    std::string file_;
    mutable std::mutex mutex_;
    std::vector<std::string> keys_;
};

// A key file this large is a mistake (a log or an image put in its place), not keys.
constexpr std::size_t maxKeyFileBytes = 1u << 20;

// The credentials of an Authorization value of the Bearer scheme: the scheme
// name in any case, spaces around it and the credentials tolerated (RFC 7235).
std::optional<std::string_view> bearerToken(std::string_view authorization);

// The keys of a file's text: one per line, spaces around it dropped, blank
// lines and lines starting with '#' skipped.
std::vector<std::string> keysIn(std::string_view text);

// a == b, in a time that depends on the length of b alone.
bool equalInConstantTime(std::string_view a, std::string_view b);

// Refuses with 401 and "WWW-Authenticate: Bearer" every request without a
// known key, except to the paths left open.
http::Gate requireKeys(std::shared_ptr<const ApiKeys> keys, std::vector<std::string> openPaths);

} // namespace tarvek::service
