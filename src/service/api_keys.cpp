#include "api_keys.h"

#include "client_error.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvek::service {
namespace {

constexpr std::string_view bearerScheme = "Bearer";

std::string_view pathOf(std::string_view target) { return target.substr(0, target.find('?')); }

http::Refusal unauthorized(std::string reason)
{
    http::Response answer(401, R"({"error":{"code":"unauthorized","message":"this route needs an API key: )"
                                   R"(send the header Authorization: Bearer KEY"}})",
                          "application/json");
    answer.fields.emplace_back(boost::beast::http::field::www_authenticate, R"(Bearer realm="tarvek")");
    return {std::move(answer), std::move(reason)};
}

// The whole text of a regular file of at most maxKeyFileBytes. Opened without blocking and
// checked before it is read: a FIFO or a device put in the file's place (/dev/zero) would
// otherwise hold the reader, or fill memory, for as long as it gives bytes.
std::string keyFileText(const std::string& file)
{
    const auto refused = [&file](const std::string& why) {
        return std::runtime_error("the API key file " + file + " " + why);
    };
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw refused(std::string("cannot be read: ") + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        throw refused("is not a file");
    if (static_cast<std::uint64_t>(status.st_size) > maxKeyFileBytes)
        throw refused("is larger than " + std::to_string(maxKeyFileBytes) + " bytes");
    // One byte more than the bound is asked for, so that a file grown since fstat is noticed.
    std::string text(maxKeyFileBytes + 1, '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw refused(std::string("cannot be read: ") + std::strerror(errno));
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    if (filled > maxKeyFileBytes)
        throw refused("is larger than " + std::to_string(maxKeyFileBytes) + " bytes");
    text.resize(filled);
    return text;
}

} // namespace

std::vector<std::string> keysIn(std::string_view text)
{
    std::vector<std::string> keys;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        boost::algorithm::trim(line);
        if (!line.empty() && line.front() != '#')
            keys.push_back(std::move(line));
    }
    return keys;
}

bool equalInConstantTime(std::string_view a, std::string_view b)
{
    // Every byte of b is read whatever a holds; a is read cyclically so that
    // its length changes no branch either.
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < b.size(); ++i) {
        const unsigned char mine = a.empty() ? 0 : static_cast<unsigned char>(a[i % a.size()]);
        difference |= static_cast<unsigned char>(mine ^ static_cast<unsigned char>(b[i]));
    }
    return difference == 0;
}

ApiKeys::ApiKeys(std::string file) : file_(std::move(file)), keys_(read()) {}

std::vector<std::string> ApiKeys::read() const
{
    auto keys = keysIn(keyFileText(file_));
    if (keys.empty())
        throw std::runtime_error("the API key file " + file_ + " holds no key");
    return keys;
}

void ApiKeys::reload()
{
    auto keys = read();
    std::lock_guard lock(mutex_);
    keys_ = std::move(keys);
}

std::size_t ApiKeys::count() const
{
    std::lock_guard lock(mutex_);
    return keys_.size();
}

std::optional<std::string_view> bearerToken(std::string_view authorization)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
    while (!authorization.empty() && isSpace(authorization.front()))
        authorization.remove_prefix(1);
    while (!authorization.empty() && isSpace(authorization.back()))
        authorization.remove_suffix(1);
    if (authorization.size() <= bearerScheme.size() ||
        !boost::algorithm::iequals(authorization.substr(0, bearerScheme.size()), bearerScheme) ||
        !isSpace(authorization[bearerScheme.size()]))
        return std::nullopt;
    authorization.remove_prefix(bearerScheme.size());
    while (!authorization.empty() && isSpace(authorization.front()))
        authorization.remove_prefix(1);
    return authorization;
}

bool ApiKeys::admits(std::string_view authorization) const
{
    const auto given = bearerToken(authorization);
    if (!given)
        return false;
    bool known = false;
    std::lock_guard lock(mutex_);
    for (const std::string& key : keys_)
        known |= equalInConstantTime(*given, key);
    return known;
}

http::Gate requireKeys(std::shared_ptr<const ApiKeys> keys, std::vector<std::string> openPaths)
{
    return [keys = std::move(keys), openPaths = std::move(openPaths)](const http::Request& request)
               -> std::optional<http::Refusal> {
        const std::string_view path = pathOf({request.target().data(), request.target().size()});
        for (const std::string& open : openPaths)
            if (path == open)
                return std::nullopt;
        const auto [first, last] = request.equal_range(boost::beast::http::field::authorization);
        if (first == last)
            return unauthorized("no API key");
        if (std::next(first) != last)
            return http::Refusal{errorResponse(400, "bad_authorization", "send one Authorization header, not several"),
                                 "several Authorization headers"};
        const auto field = first;
        if (!keys->admits({field->value().data(), field->value().size()}))
            return unauthorized("unknown API key");
        return std::nullopt;
    };
}

} // namespace tarvek::service
