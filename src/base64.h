#pragma once

// Base64 codec for the images carried in the recognition service's JSON.
// Encoding is standard Base64 with padding. Decoding is deliberately lenient:
// it checks only the length. Characters outside the alphabet count as 64 and
// "=" counts as 0 wherever it stands, and the values are combined by an
// arithmetic sum, so such input yields bytes rather than an error.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace macaron {

class Base64 {
public:
    static std::string Encode(std::string data)
    {
        std::string out(EncodedSize(data.size()), '\0');
        EncodeTo(data.data(), data.size(), out.data());
        return out;
    }

    // The length of the Base64 text of n bytes, padding included.
    static constexpr std::size_t EncodedSize(std::size_t n) { return (n + 2) / 3 * 4; }

    // Writes the Base64 text of the n bytes at data to out, which has room for
    // EncodedSize(n) characters: for a text placed inside a larger buffer
    // without a copy.
    static void EncodeTo(const char* data, std::size_t n, char* out)
    {
        static constexpr char alphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const auto* in = reinterpret_cast<const unsigned char*>(data);
        char* o = out;

        std::size_t i = 0;
        for (; i + 2 < n; i += 3) {
            const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
            *o++ = alphabet[b0 >> 2];
            *o++ = alphabet[((b0 & 3) << 4) | (b1 >> 4)];
            *o++ = alphabet[((b1 & 15) << 2) | (b2 >> 6)];
            *o++ = alphabet[b2 & 63];
        }
        if (n - i == 1) {
            const unsigned b0 = in[i];
            o[0] = alphabet[b0 >> 2];
            o[1] = alphabet[(b0 & 3) << 4];
            o[2] = o[3] = '=';
        } else if (n - i == 2) {
            const unsigned b0 = in[i], b1 = in[i + 1];
            o[0] = alphabet[b0 >> 2];
            o[1] = alphabet[((b0 & 3) << 4) | (b1 >> 4)];
            o[2] = alphabet[(b1 & 15) << 2];
            o[3] = '=';
        }
    }

    // Returns "" on success, or the length error; `out` is untouched on error.
    static std::string Decode(const std::string& input, std::string& out)
    {
        return Decode(input.data(), input.size(), out);
    }

    // The same for the n characters at input, which need not be a std::string.
    static std::string Decode(const char* input, std::size_t n, std::string& out)
    {
        if (n % 4 != 0)
            return "Input data size is not a multiple of 4";

        std::size_t length = n / 4 * 3;
        if (n > 0 && input[n - 1] == '=')
            --length;
        if (n > 1 && input[n - 2] == '=')
            --length;
        out.resize(length);

        const auto& table = sextetValues();
        const auto* in = reinterpret_cast<const unsigned char*>(input);
        auto* o = reinterpret_cast<unsigned char*>(out.data());
        const auto group = [&](std::size_t i) {
            return (table[in[i]] << 18) + (table[in[i + 1]] << 12) + (table[in[i + 2]] << 6) + table[in[i + 3]];
        };
        // Every group but the last fills three bytes; the last fills what the padding leaves.
        const std::size_t fullGroups = n == 0 ? 0 : n / 4 - 1;
        for (std::size_t g = 0; g < fullGroups; ++g) {
            const std::uint32_t sum = group(4 * g);
            *o++ = static_cast<unsigned char>(sum >> 16);
            *o++ = static_cast<unsigned char>(sum >> 8);
            *o++ = static_cast<unsigned char>(sum);
        }
        if (n > 0) {
            const std::uint32_t sum = group(n - 4);
            const unsigned char last[3] = {static_cast<unsigned char>(sum >> 16), static_cast<unsigned char>(sum >> 8),
                                           static_cast<unsigned char>(sum)};
            for (std::size_t k = 0; k < length - 3 * fullGroups; ++k)
                *o++ = last[k];
        }
        return "";
    }

private:
    // The value each byte adds at its place: alphabet characters their index,
    // "=" nothing wherever it stands, every other byte 64 (which carries into
    // the neighbouring bits of the sum).
    static const std::array<std::uint32_t, 256>& sextetValues()
    {
        static const std::array<std::uint32_t, 256> table = [] {
            std::array<std::uint32_t, 256> t{};
            t.fill(64);
            for (std::uint32_t v = 0; v < 26; ++v) {
                t['A' + v] = v;
                t['a' + v] = 26 + v;
            }
            for (std::uint32_t v = 0; v < 10; ++v)
                t['0' + v] = 52 + v;
            t['+'] = 62;
            t['/'] = 63;
            t['='] = 0;
            return t;
        }();
        return table;
    }
};

} // namespace macaron
