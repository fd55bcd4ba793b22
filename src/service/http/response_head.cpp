#include "response_head.h"

namespace tarvek::http {

void formatResponseHead(const boost::beast::http::response_header<>& header, std::string& text)
{
    const unsigned version = header.version();
    const unsigned code = header.result_int();
    const auto reason = header.reason();
    // "HTTP/X.Y ### " from a template whose digits are all '0'.
    char start[] = "HTTP/0.0 000 ";
    start[5] = static_cast<char>(start[5] + version / 10);
    start[7] = static_cast<char>(start[7] + version % 10);
    start[9] = static_cast<char>(start[9] + code / 100);
    start[10] = static_cast<char>(start[10] + code / 10 % 10);
    start[11] = static_cast<char>(start[11] + code % 10);
    text.assign(start, sizeof start - 1).append(reason.data(), reason.size()).append("\r\n");
    for (const auto& field : header) {
        const auto name = field.name_string();
        const auto value = field.value();
        text.append(name.data(), name.size()).append(": ").append(value.data(), value.size()).append("\r\n");
    }
    text.append("\r\n");
}

} // namespace tarvek::http
