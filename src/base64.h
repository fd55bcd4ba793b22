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

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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
        const auto* in = reinterpret_cast<const unsigned char*>(data);
        const std::size_t done = EncodeBlocks(in, n, out);
        EncodeGroups(in + done, n - done, out + done / 3 * 4);
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
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

    // Three bytes at a time, then the padded last group.
    static void EncodeGroups(const unsigned char* in, std::size_t n, char* o)
    {
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

#if defined(__x86_64__) || defined(__i386__)
    // Encodes whole blocks of 12 bytes into 16 characters with SSSE3 where the
    // processor has it (any x86-64 of the last fifteen years); returns the bytes
    // done, a multiple of 3. A megabyte photo takes a quarter of the time of the
    // group loop.
    static std::size_t EncodeBlocks(const unsigned char* in, std::size_t n, char* out)
    {
        static const bool ssse3 = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
        return ssse3 ? EncodeBlocksSsse3(in, n, out) : 0;
    }

    // Each block is loaded as 16 bytes, so the loop stops 16 bytes before the end.
    // Per 32-bit lane of 3 bytes: spread them over the lane, move each sextet into
    // a byte of its own with two multiplications, then map sextets to characters
    // by adding the offset of their range of the alphabet.
    __attribute__((target("ssse3"))) static std::size_t EncodeBlocksSsse3(const unsigned char* in, std::size_t n,
                                                                          char* out)
    {
        const __m128i spread = _mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
        // Indexed by 0 for sextets 0..25, 13 for 26..51, sextet - 51 above.
        const __m128i offsets = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                              '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
        std::size_t done = 0;
        for (; n - done >= 16; done += 12, out += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
            const __m128i lanes = _mm_shuffle_epi8(bytes, spread);
            const __m128i high =
                _mm_mulhi_epu16(_mm_and_si128(lanes, _mm_set1_epi32(0x0fc0fc00)), _mm_set1_epi32(0x04000040));
            const __m128i low =
                _mm_mullo_epi16(_mm_and_si128(lanes, _mm_set1_epi32(0x003f03f0)), _mm_set1_epi32(0x01000010));
            const __m128i sextets = _mm_or_si128(high, low);
            const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(_mm_set1_epi8(26), sextets), _mm_set1_epi8(13));
            const __m128i range = _mm_or_si128(_mm_subs_epu8(sextets, _mm_set1_epi8(51)), upper);
            const __m128i text = _mm_add_epi8(_mm_shuffle_epi8(offsets, range), sextets);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), text);
        }
        return done;
    }
#else
    static std::size_t EncodeBlocks(const unsigned char*, std::size_t, char*) { return 0; }
#endif

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
