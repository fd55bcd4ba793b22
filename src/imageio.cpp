#include "imageio.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>

namespace tarvek::imageio {
namespace {

// A file's bytes, read at offsets the walkers have checked with holds().
class Bytes {
public:
    explicit Bytes(std::string_view data) : data_(data) {}

    std::uint64_t size() const { return data_.size(); }
    // Whether count bytes from at lie inside the file, for any at and count.
    bool holds(std::uint64_t at, std::uint64_t count) const { return at <= size() && count <= size() - at; }
    unsigned byte(std::uint64_t at) const { return static_cast<unsigned char>(data_[at]); }
    // Up to count bytes from at; fewer where the file ends.
    std::string_view text(std::uint64_t at, std::size_t count) const
    {
        return at <= size() ? data_.substr(at, count) : std::string_view();
    }
    std::uint64_t bigEndian(std::uint64_t at, int width) const
    {
        std::uint64_t value = 0;
        for (int i = 0; i < width; ++i)
            value = value << 8 | byte(at + i);
        return value;
    }
    std::uint64_t littleEndian(std::uint64_t at, int width) const
    {
        std::uint64_t value = 0;
        for (int i = width - 1; i >= 0; --i)
            value = value << 8 | byte(at + i);
        return value;
    }

private:
    std::string_view data_;
};

// Widths and heights come from fields of at most 32 bits, so the product fits.
std::uint64_t area(std::uint64_t width, std::uint64_t height) { return width * height; }

// --- JPEG, as libjpeg reads the markers up to the first scan ---

constexpr unsigned startOfImage = 0xD8, endOfImage = 0xD9, startOfScan = 0xDA;

// The next marker as libjpeg's next_marker() finds it: bytes up to the next
// 0xFF are skipped, then fill bytes 0xFF; 0xFF 0x00 is stuffed data, not a
// marker. at moves past the marker code.
std::optional<unsigned> nextJpegMarker(const Bytes& bytes, std::uint64_t& at)
{
    while (at < bytes.size()) {
        if (bytes.byte(at++) != 0xFF)
            continue;
        while (at < bytes.size() && bytes.byte(at) == 0xFF)
            ++at;
        if (at == bytes.size())
            break;
        const unsigned marker = bytes.byte(at++);
        if (marker != 0)
            return marker;
    }
    return std::nullopt;
}

// TEM and RST0..RST7 carry no length.
bool withoutLength(unsigned marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7); }

// SOF0..SOF15; DHT (C4), JPG (C8) and DAC (CC) share the range but declare no frame.
bool startsFrame(unsigned marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool isProgressive(unsigned marker) { return marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE; }

struct JpegFrame {
    std::uint64_t width, height;
    unsigned components;
    bool progressive;
};

// libjpeg keeps the coefficients of the whole image, two bytes per pixel and
// component, when the image comes in several scans: always for a progressive
// frame, and for a sequential one whose first scan lacks components. Such a
// frame counts its pixels once per component.
std::uint64_t jpegCount(const JpegFrame& frame, unsigned firstScanComponents)
{
    const std::uint64_t pixels = area(frame.width, frame.height);
    const bool keptWhole = frame.progressive || firstScanComponents < frame.components;
    return keptWhole ? pixels * frame.components : pixels;
}

// What libjpeg reads before it allocates anything: the frame header and the
// first scan header's component count (0 when the headers end before a scan).
struct JpegHeaders {
    JpegFrame frame;
    unsigned firstScanComponents;
};

// Only the first frame header counts: libjpeg refuses a second one. Nothing
// when no frame header comes before the first scan.
std::optional<JpegHeaders> jpegHeaders(const Bytes& bytes)
{
    std::optional<JpegFrame> frame;
    std::uint64_t at = 2; // past the start-of-image marker
    while (const auto marker = nextJpegMarker(bytes, at)) {
        if (withoutLength(*marker))
            continue;
        if (*marker == startOfScan) {
            if (!frame) // libjpeg refuses a scan before the frame header
                return std::nullopt;
            return JpegHeaders{*frame, bytes.holds(at, 3) ? bytes.byte(at + 2) : 0u};
        }
        if (*marker == startOfImage || *marker == endOfImage || !bytes.holds(at, 2))
            break;
        if (!frame && startsFrame(*marker)) {
            if (!bytes.holds(at, 8))
                break;
            frame = JpegFrame{bytes.bigEndian(at + 5, 2), bytes.bigEndian(at + 3, 2), bytes.byte(at + 7),
                              isProgressive(*marker)};
        }
        // A length below 2 skips nothing past the length field itself, as in libjpeg.
        at += std::max<std::uint64_t>(bytes.bigEndian(at, 2), 2);
    }
    // The headers end before any scan: nothing is decoded, and a frame counts as kept whole.
    return frame ? std::optional(JpegHeaders{*frame, 0}) : std::nullopt;
}

std::optional<std::uint64_t> jpegPixels(const Bytes& bytes)
{
    const auto headers = jpegHeaders(bytes);
    return headers ? std::optional(jpegCount(headers->frame, headers->firstScanComponents)) : std::nullopt;
}

// --- PNG ---

// libpng requires IHDR as the first chunk; APNG frame controls (fcTL) each
// declare a frame of their own.
std::optional<std::uint64_t> pngPixels(const Bytes& bytes)
{
    if (bytes.text(12, 4) != "IHDR" || !bytes.holds(16, 8))
        return std::nullopt;
    std::uint64_t largest = area(bytes.bigEndian(16, 4), bytes.bigEndian(20, 4));
    for (std::uint64_t at = 8; bytes.holds(at, 8) && bytes.text(at + 4, 4) != "IEND";
         at += 12 + bytes.bigEndian(at, 4))
        if (bytes.text(at + 4, 4) == "fcTL" && bytes.holds(at + 12, 8))
            largest = std::max(largest, area(bytes.bigEndian(at + 12, 4), bytes.bigEndian(at + 16, 4)));
    return largest;
}

// --- BMP ---

// OpenCV reads the 12-byte core header with 16-bit sizes and info headers of
// 36 bytes and more with signed 32-bit sizes (the height negative for
// top-down bitmaps); it refuses headers of other sizes.
std::optional<std::uint64_t> bmpPixels(const Bytes& bytes)
{
    if (!bytes.holds(14, 4))
        return std::nullopt;
    const std::uint64_t header = bytes.littleEndian(14, 4);
    if (header == 12 && bytes.holds(18, 4))
        return area(bytes.littleEndian(18, 2), bytes.littleEndian(20, 2));
    if (header < 36 || header > std::numeric_limits<std::int32_t>::max() || !bytes.holds(18, 8))
        return std::nullopt;
    const auto extent = [&](std::uint64_t at) {
        return static_cast<std::uint64_t>(std::abs(std::int64_t{static_cast<std::int32_t>(bytes.littleEndian(at, 4))}));
    };
    return area(extent(18), extent(22));
}

// --- WebP ---

// The chunks of a WebP file, or of one animation frame, from at to end: the
// extended header's canvas (VP8X), the sizes in the lossy (VP8) and lossless
// (VP8L) bitstream headers, and each animation frame (ANMF) with the
// bitstreams inside it. Frames hold no frames, so the walk descends once.
std::optional<std::uint64_t> webpChunksPixels(const Bytes& bytes, std::uint64_t at, std::uint64_t end, bool descend)
{
    std::optional<std::uint64_t> largest;
    const auto count = [&](std::optional<std::uint64_t> pixels) {
        if (pixels)
            largest = std::max(largest.value_or(0), *pixels);
    };
    while (at + 8 <= end) {
        const std::string_view name = bytes.text(at, 4);
        const std::uint64_t data = at + 8, size = bytes.littleEndian(at + 4, 4);
        if (name == "VP8X" && data + 10 <= end) {
            count(area(bytes.littleEndian(data + 4, 3) + 1, bytes.littleEndian(data + 7, 3) + 1));
        } else if (name == "VP8 " && data + 10 <= end && bytes.text(data + 3, 3) == "\x9d\x01\x2a") {
            count(area(bytes.littleEndian(data + 6, 2) & 0x3FFF, bytes.littleEndian(data + 8, 2) & 0x3FFF));
        } else if (name == "VP8L" && data + 5 <= end && bytes.byte(data) == 0x2F) {
            const std::uint64_t bits = bytes.littleEndian(data + 1, 4);
            count(area((bits & 0x3FFF) + 1, (bits >> 14 & 0x3FFF) + 1));
        } else if (name == "ANMF" && descend && data + 16 <= end) {
            count(area(bytes.littleEndian(data + 6, 3) + 1, bytes.littleEndian(data + 9, 3) + 1));
            count(webpChunksPixels(bytes, data + 16, std::min(end, data + size), false));
        }
        at = data + size + (size & 1); // chunks are padded to an even size
    }
    return largest;
}

std::optional<std::uint64_t> webpPixels(const Bytes& bytes) { return webpChunksPixels(bytes, 12, bytes.size(), true); }

// --- TIFF and BigTIFF, as libtiff reads directories ---

// The extents one directory declares; 0 where a tag is absent.
struct TiffSizes {
    std::uint64_t width = 0, length = 0, rowsPerStrip = 0, tileWidth = 0, tileLength = 0;
};

std::uint64_t* sizeField(TiffSizes& sizes, std::uint64_t tag)
{
    switch (tag) {
    case 256: return &sizes.width;
    case 257: return &sizes.length;
    case 278: return &sizes.rowsPerStrip;
    case 322: return &sizes.tileWidth;
    case 323: return &sizes.tileLength;
    }
    return nullptr;
}

// OpenCV sizes its tile buffer from TileWidth x TileLength, and for strips
// from the width x RowsPerStrip (0 and 2^32 - 1 meaning the whole image). The
// largest extent in each direction covers the image, a tile and a strip.
std::uint64_t directoryPixels(const TiffSizes& sizes)
{
    const std::uint64_t stripRows = sizes.rowsPerStrip == 0xFFFFFFFF ? 0 : sizes.rowsPerStrip;
    return area(std::max(sizes.width, sizes.tileWidth), std::max({sizes.length, sizes.tileLength, stripRows}));
}

struct IntegerType {
    int width; // bytes; 0 for types that are no integers
    bool isSigned;
};

IntegerType integerType(std::uint64_t type)
{
    switch (type) {
    case 1: return {1, false};            // BYTE
    case 6: return {1, true};             // SBYTE
    case 3: return {2, false};            // SHORT
    case 8: return {2, true};             // SSHORT
    case 4: return {4, false};            // LONG
    case 9: return {4, true};             // SLONG
    case 16: return {8, false};           // LONG8
    case 17: return {8, true};            // SLONG8
    }
    return {0, false}; // libtiff refuses the others for sizes, IFD and IFD8 included
}

// A TIFF file: byte order "II" (little-endian) or "MM", then 42 for classic
// TIFF (32-bit counts and offsets, 12-byte directory entries) or 43 for
// BigTIFF (64-bit ones, 20-byte entries).
class TiffFile {
public:
    struct Directory {
        TiffSizes sizes;
        std::uint64_t length; // bytes of its count and entries
        std::uint64_t next;   // offset of the next directory, 0 at the end of the chain
    };

    // bytes holds at least the 8 bytes of the signature and first offset.
    explicit TiffFile(const Bytes& bytes) : bytes_(bytes), bigEndian_(bytes.byte(0) == 'M'), big_(read(2, 2) == 43) {}

    // Nothing for a BigTIFF header libtiff refuses (offsets other than 8 bytes wide).
    std::optional<std::uint64_t> firstDirectory() const
    {
        if (!big_)
            return read(4, 4);
        if (!bytes_.holds(8, 8) || read(4, 2) != 8 || read(6, 2) != 0)
            return std::nullopt;
        return read(8, 8);
    }

    // Nothing for a directory that does not lie whole in the file, or a size tag libtiff refuses.
    std::optional<Directory> directory(std::uint64_t at) const
    {
        const int countWidth = big_ ? 8 : 2, entryLength = big_ ? 20 : 12;
        if (!bytes_.holds(at, countWidth))
            return std::nullopt;
        const std::uint64_t entries = read(at, countWidth), first = at + countWidth;
        if (entries > (bytes_.size() - first) / entryLength)
            return std::nullopt;
        const std::uint64_t end = first + entries * entryLength;
        Directory directory{{}, end - at, bytes_.holds(end, fieldWidth()) ? read(end, fieldWidth()) : 0};
        for (std::uint64_t entry = first; entry < end; entry += entryLength) {
            std::uint64_t* field = sizeField(directory.sizes, read(entry, 2));
            if (!field)
                continue;
            const auto value = sizeValue(entry);
            if (!value)
                return std::nullopt;
            *field = std::max(*field, *value); // a repeated tag counts at its largest
        }
        return directory;
    }

private:
    // The width of an entry's count and of its value field, and of offsets.
    int fieldWidth() const { return big_ ? 8 : 4; }

    std::uint64_t read(std::uint64_t at, int width) const
    {
        return bigEndian_ ? bytes_.bigEndian(at, width) : bytes_.littleEndian(at, width);
    }

    // A size tag as libtiff reads it: a single value of an integer type,
    // neither negative nor over 32 bits. It sits in the entry's value field,
    // except for an eight-byte value in classic TIFF, which lies at the
    // offset the field holds.
    std::optional<std::uint64_t> sizeValue(std::uint64_t entry) const
    {
        const IntegerType type = integerType(read(entry + 2, 2));
        if (type.width == 0 || read(entry + 4, fieldWidth()) != 1)
            return std::nullopt;
        std::uint64_t at = entry + 4 + fieldWidth();
        if (type.width > fieldWidth()) {
            at = read(at, fieldWidth());
            if (!bytes_.holds(at, type.width))
                return std::nullopt;
        }
        const std::uint64_t value = read(at, type.width);
        if ((type.isSigned && value >> (8 * type.width - 1) != 0) || value > 0xFFFFFFFF)
            return std::nullopt;
        return value;
    }

    const Bytes& bytes_;
    bool bigEndian_, big_;
};

// Every directory of the chain counts, although the decoder reads the first:
// a multi-page file is judged by its largest page. The first must declare
// its width and length. Directories that together take more bytes than the
// file (a chain that loops, or directories that overlap) are refused.
std::optional<std::uint64_t> tiffPixels(const Bytes& bytes)
{
    const TiffFile tiff(bytes);
    auto at = tiff.firstDirectory();
    if (!at || *at == 0)
        return std::nullopt;
    std::uint64_t largest = 0, walked = 0;
    for (bool first = true; *at != 0; first = false) {
        const auto directory = tiff.directory(*at);
        if (!directory || (walked += directory->length) > bytes.size())
            return std::nullopt;
        if (first && (directory->sizes.width == 0 || directory->sizes.length == 0))
            return std::nullopt;
        largest = std::max(largest, directoryPixels(directory->sizes));
        at = directory->next;
    }
    return largest;
}

// --- OpenCV's own limit ---

constexpr const char* decoderPixelLimit = "OPENCV_IO_MAX_IMAGE_PIXELS";

// The limit the variable sets, read as OpenCV reads it: digits, then an
// optional KB or MB suffix (binary multiples). Nothing for text OpenCV
// refuses; more digits than any limit needs read as far over it.
std::optional<std::uint64_t> pixelLimitOf(std::string_view text)
{
    const std::size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    if (digits == 0)
        return std::nullopt;
    if (digits > 12)
        return std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t value = std::stoull(std::string(text.substr(0, digits)));
    const std::string_view suffix = text.substr(digits);
    if (suffix.empty())
        return value;
    if (suffix == "KB" || suffix == "Kb" || suffix == "kb")
        return value << 10;
    if (suffix == "MB" || suffix == "Mb" || suffix == "mb")
        return value << 20;
    return std::nullopt;
}

} // namespace

ImageFormat imageFormatOf(std::string_view bytes)
{
    const auto startsWith = [&](std::string_view magic) { return bytes.substr(0, magic.size()) == magic; };
    if (startsWith("\xff\xd8\xff"))
        return ImageFormat::jpeg;
    if (startsWith("\x89PNG\r\n\x1a\n"))
        return ImageFormat::png;
    if (startsWith("BM"))
        return ImageFormat::bmp;
    if (bytes.size() >= 12 && startsWith("RIFF") && bytes.substr(8, 4) == "WEBP")
        return ImageFormat::webp;
    using namespace std::string_view_literals;
    if (bytes.size() >= 8 && (startsWith("II*\0"sv) || startsWith("MM\0*"sv) || startsWith("II+\0"sv) ||
                              startsWith("MM\0+"sv)))
        return ImageFormat::tiff;
    return ImageFormat::unknown;
}

std::optional<std::uint64_t> countedPixels(std::string_view data)
{
    const Bytes bytes(data);
    switch (imageFormatOf(data)) {
    case ImageFormat::jpeg: return jpegPixels(bytes);
    case ImageFormat::png: return pngPixels(bytes);
    case ImageFormat::bmp: return bmpPixels(bytes);
    case ImageFormat::webp: return webpPixels(bytes);
    case ImageFormat::tiff: return tiffPixels(bytes);
    case ImageFormat::unknown: break;
    }
    return std::nullopt;
}

ImageCheck checkImageBytes(std::string_view bytes)
{
    if (bytes.empty())
        return ImageCheck::empty;
    if (imageFormatOf(bytes) == ImageFormat::unknown)
        return ImageCheck::otherFormat;
    const auto counted = countedPixels(bytes);
    if (!counted)
        return ImageCheck::sizeUnknown;
    return *counted > pixelLimit() ? ImageCheck::tooManyPixels : ImageCheck::decodable;
}

namespace {
std::atomic<std::uint64_t> processPixelLimit{maxImagePixels};
} // namespace

std::uint64_t pixelLimit() { return processPixelLimit.load(std::memory_order_relaxed); }

void setPixelLimit(std::uint64_t pixels)
{
    processPixelLimit.store(std::min(pixels, maxImagePixels), std::memory_order_relaxed);
}

cv::Mat decodeImage(std::string_view bytes, int flags)
{
    // A header over the bytes, no copy. The matrix type has no read-only
    // form; the decoder only reads them.
    const cv::Mat buffer(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<char*>(bytes.data()));
    return cv::imdecode(buffer, flags);
}

std::optional<cv::Size> jpegSize(std::string_view text)
{
    if (imageFormatOf(text) != ImageFormat::jpeg)
        return std::nullopt;
    const auto headers = jpegHeaders(Bytes(text));
    if (!headers)
        return std::nullopt;
    return cv::Size(static_cast<int>(headers->frame.width), static_cast<int>(headers->frame.height));
}

ReducedImage decodeReduced(std::string_view bytes, int minSide)
{
    // IMREAD_REDUCED_COLOR_2, _4 and _8 have libjpeg scale its IDCT down.
    constexpr std::pair<int, int> reductions[] = {
        {8, cv::IMREAD_REDUCED_COLOR_8}, {4, cv::IMREAD_REDUCED_COLOR_4}, {2, cv::IMREAD_REDUCED_COLOR_2}};
    if (const auto size = jpegSize(bytes))
        for (const auto& [scale, flags] : reductions)
            if (std::max(size->width, size->height) / scale >= minSide)
                return {decodeImage(bytes, flags), *size, scale};
    cv::Mat whole = decodeImage(bytes, cv::IMREAD_COLOR);
    const cv::Size size = whole.size();
    return {std::move(whole), size, 1};
}

bool limitDecoderPixels()
{
    if (const char* given = std::getenv(decoderPixelLimit)) {
        const auto limit = pixelLimitOf(given);
        if (limit && *limit <= maxImagePixels)
            return false;
    }
    return setenv(decoderPixelLimit, std::to_string(maxImagePixels).c_str(), 1) == 0;
}

} // namespace tarvek::imageio
