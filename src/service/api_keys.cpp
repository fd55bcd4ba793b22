#include "api_keys.h"

#include <boost/algorithm/string/trim.hpp>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tarvek::service {
namespace {

constexpr std::string_view bearerPrefix = "Bearer ";

std::string_view pathOf(std::string_view target) { return target.substr(0, target.find('?')); }

http::Refusal unauthorized(std::string reason)
{
    http::Response answer(401, R"({"error":{"code":"unauthorized","message":"this route needs an API key: )"
                                   R"(send the header Authorization: Bearer KEY"}})",
                          "application/json");
    answer.fields.emplace_back(boost::beast::http::field::www_authenticate, R"(Bearer realm="tarvek")");
    return {std::move(answer), std::move(reason)};
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
    std::ifstream stream(file_, std::ios::binary);
    if (!stream)
        throw std::runtime_error("the API key file " + file_ + " cannot be read");
    std::ostringstream text;
    text << stream.rdbuf(); // an empty file sets failbit here; it is refused below as holding no key
    auto keys = keysIn(text.str());
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

bool ApiKeys::admits(std::string_view authorization) const
{
    if (authorization.substr(0, bearerPrefix.size()) != bearerPrefix)
        return false;
    const std::string_view given = authorization.substr(bearerPrefix.size());
    bool known = false;
    std::lock_guard lock(mutex_);
    for (const std::string& key : keys_)
        known |= equalInConstantTime(given, key);
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
        const auto field = request.find(boost::beast::http::field::authorization);
        if (field == request.end())
            return unauthorized("no API key");
        if (!keys->admits({field->value().data(), field->value().size()}))
            return unauthorized("unknown API key");
        return std::nullopt;
    };
}

} // namespace tarvek::service
