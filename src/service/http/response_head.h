#pragma once

// The status line and header fields of an answer as the bytes that go on the
// wire, in the layout Boost.Beast's serializer gives them. The server writes
// this text and the body in one gathered write, which costs a fraction of the
// serializer's buffer-sequence machinery on small answers.

#include <boost/beast/http/message.hpp>

#include <string>

namespace tarvek::http {

// Replaces text with "HTTP/X.Y ### reason\r\n", a "Name: value\r\n" line per
// field in their order, and the blank line. Reusing one text keeps its storage.
void formatResponseHead(const boost::beast::http::response_header<>& header, std::string& text);

} // namespace tarvek::http
