// The head the server writes itself, against Beast's own writer of the same header.

#include "http/response_head.h"

#include <boost/beast/http/write.hpp> // Beast's writer, behind operator<<
#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

namespace {

namespace bhttp = boost::beast::http;
using tarvek::http::formatResponseHead;
using Fields = std::vector<std::pair<bhttp::field, std::string>>;

} // namespace

TEST(ResponseHead, MatchesBeastsWriterForEveryStatusVersionAndFieldSet)
{
    const std::vector<Fields> fieldSets = {
        {},
        {{bhttp::field::server, "tarvek"}},
        {{bhttp::field::server, "tarvek"},
         {bhttp::field::content_type, "text/plain; version=0.0.4; charset=utf-8"},
         {bhttp::field::connection, "close"},
         {bhttp::field::content_length, "4579881"}},
    };
    // Codes with and without a reason of their own, and the edges of each digit.
    const unsigned codes[] = {100, 200, 204, 299, 304, 400, 404, 405, 413, 415, 431, 500, 503, 599, 999};
    // Longer than every head below: a reused text is replaced whole.
    std::string text(300, '#');
    for (const unsigned version : {10u, 11u})
        for (const unsigned code : codes)
            for (const auto& fields : fieldSets) {
                bhttp::response_header<> header;
                header.version(version);
                header.result(code);
                for (const auto& [name, value] : fields)
                    header.set(name, value);
                std::ostringstream expected;
                expected << header;
                formatResponseHead(header, text);
                EXPECT_EQ(text, expected.str()) << version << " " << code << " " << fields.size();
            }

    bhttp::response_header<> custom;
    custom.result(bhttp::status::ok);
    custom.reason("Fine Indeed");
    std::ostringstream expected;
    expected << custom;
    formatResponseHead(custom, text);
    EXPECT_EQ(text, expected.str());
}
