#include "image_header.h"

#include <cstdlib>
#include <string_view>

namespace tarvek::service {
namespace {

using Bytes = const unsigned char*;

std::uint32_t bigEndian16(Bytes p) { return (p[0] << 8u) | p[1]; }
std::uint32_t bigEndian32(Bytes p) { return (bigEndian16(p) << 16u) | bigEndian16(p + 2); }
std::uint32_t littleEndian16(Bytes p) { return p[0] | (p[1] << 8u); }
std::uint32_t littleEndian24(Bytes p) { return littleEndian16(p) | (p[2] << 16u); }
std::uint32_t littleEndian32(Bytes p) { return littleEndian24(p) | (std::uint32_t(p[3]) << 24u); }

std::optional<std::uint64_t> jpegPixelCount(Bytes p, std::size_t n)
{
    // Walk the marker segments up to the first start-of-frame (SOF0..SOF15 but DHT, JPG, DAC).
    std::size_t i = 2;
    while (i + 4 <= n) {
        if (p[i] != 0xFF)
            return std::nullopt;
        const unsigned marker = p[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (i + 9 > n)
                return std::nullopt;
            return std::uint64_t{bigEndian16(p + i + 5)} * bigEndian16(p + i + 7);
        }
        i += 2 + bigEndian16(p + i + 2);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> bmpPixelCount(Bytes p, std::size_t n)
{
    if (n < 26)
        return std::nullopt;
    // The old core header has 16-bit sizes; the later ones signed 32-bit
    // sizes, the height negative for top-down bitmaps.
    if (littleEndian32(p + 14) == 12)
        return std::uint64_t{littleEndian16(p + 18)} * littleEndian16(p + 20);
    const auto width = static_cast<std::int32_t>(littleEndian32(p + 18));
    const auto height = static_cast<std::int32_t>(littleEndian32(p + 22));
    return std::uint64_t(std::abs(std::int64_t{width})) * std::uint64_t(std::abs(std::int64_t{height}));
}

std::optional<std::uint64_t> webpPixelCount(Bytes p, std::size_t n)
{
    // Only the extended form can declare more than 16384 x 16384 pixels.
    if (n < 30 || std::string_view(reinterpret_cast<const char*>(p + 12), 4) != "VP8X")
        return std::nullopt;
    return std::uint64_t{littleEndian24(p + 24) + 1} * (littleEndian24(p + 27) + 1);
}

// Image width and length of the first directory, the one that is decoded.
std::optional<std::uint64_t> tiffPixelCount(Bytes p, std::size_t n)
{
    const bool big = p[0] == 'M';
    const auto read16 = [&](std::size_t at) { return big ? bigEndian16(p + at) : littleEndian16(p + at); };
    const auto read32 = [&](std::size_t at) { return big ? bigEndian32(p + at) : littleEndian32(p + at); };

    const std::size_t directory = read32(4);
    if (directory > n || n - directory < 2)
        return std::nullopt;
    const std::size_t entries = read16(directory);
    std::uint64_t width = 0, length = 0;
    for (std::size_t e = 0; e < entries && directory + 2 + 12 * (e + 1) <= n; ++e) {
        const std::size_t entry = directory + 2 + 12 * e;
        const unsigned tag = read16(entry);
        const unsigned type = read16(entry + 2);
        if (tag != 256 && tag != 257)
            continue;
        // SHORT values sit in the first two bytes of the value field, LONG values fill it.
        const std::uint64_t value = type == 3 ? read16(entry + 8) : read32(entry + 8);
        (tag == 256 ? width : length) = value;
    }
    if (width == 0 || length == 0)
        return std::nullopt;
    return width * length;
}

} // namespace

ImageFormat imageFormatOf(const std::string& bytes)
{
    const auto startsWith = [&](std::string_view magic) { return bytes.compare(0, magic.size(), magic) == 0; };
    if (startsWith("\xff\xd8\xff"))
        return ImageFormat::jpeg;
    if (startsWith("\x89PNG\r\n\x1a\n"))
        return ImageFormat::png;
    if (startsWith("BM"))
        return ImageFormat::bmp;
    if (bytes.size() >= 12 && startsWith("RIFF") && bytes.compare(8, 4, "WEBP") == 0)
        return ImageFormat::webp;
    if (bytes.size() >= 8 && (startsWith(std::string_view("II*\0", 4)) || startsWith(std::string_view("MM\0*", 4))))
        return ImageFormat::tiff;
    return ImageFormat::unknown;
}

std::optional<std::uint64_t> declaredPixelCount(const std::string& bytes)
{
    const auto* p = reinterpret_cast<Bytes>(bytes.data());
    const std::size_t n = bytes.size();
    switch (imageFormatOf(bytes)) {
    case ImageFormat::jpeg: return jpegPixelCount(p, n);
    case ImageFormat::png: return n >= 24 ? std::optional(std::uint64_t{bigEndian32(p + 16)} * bigEndian32(p + 20))
                                          : std::nullopt;
    case ImageFormat::bmp: return bmpPixelCount(p, n);
    case ImageFormat::webp: return webpPixelCount(p, n);
    case ImageFormat::tiff: return tiffPixelCount(p, n);
    case ImageFormat::unknown: break;
    }
    return std::nullopt;
}

} // namespace tarvek::service
