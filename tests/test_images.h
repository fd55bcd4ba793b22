#pragma once

// Images for tests: small files encoded by OpenCV, and a synthetic photograph of a page.

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <string>
#include <vector>

// A 64 x 48 colour image with a filled rectangle, encoded by file extension (".png", ".jpg", ...).
inline std::string encodedImage(const std::string& extension)
{
    cv::Mat image(48, 64, CV_8UC3, cv::Scalar(250, 250, 250));
    cv::rectangle(image, cv::Rect(8, 8, 30, 20), cv::Scalar(20, 40, 200), cv::FILLED);
    std::vector<uchar> bytes;
    cv::imencode(extension, image, bytes);
    return std::string(bytes.begin(), bytes.end());
}

// A PNG header declaring 40000 x 40000 pixels, without image data.
inline std::string hugeDeclaredPng()
{
    std::string png = encodedImage(".png");
    const unsigned char size[8] = {0, 0, 0x9c, 0x40, 0, 0, 0x9c, 0x40};
    png.replace(16, 8, reinterpret_cast<const char*>(size), 8);
    return png;
}

// value in `bytes` bytes, least significant first.
inline std::string littleEndian(std::uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

inline std::string bigEndian(std::uint64_t value, int bytes)
{
    std::string out = littleEndian(value, bytes);
    return std::string(out.rbegin(), out.rend());
}

inline std::string pngChunk(const std::string& type, const std::string& data)
{
    return bigEndian(data.size(), 4) + type + data + std::string(4, '\0'); // the CRC is not checked
}

// A PNG of 8-bit RGB whose header declares width x height, followed by the given chunks.
inline std::string pngDeclaring(std::uint32_t width, std::uint32_t height, const std::string& chunks = "")
{
    const std::string header = bigEndian(width, 4) + bigEndian(height, 4) + "\x08\x02" + std::string(3, '\0');
    return "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", header) + chunks;
}

// A JPEG marker segment: the marker, the length field and the payload.
inline std::string jpegSegment(unsigned char marker, const std::string& payload)
{
    return std::string{'\xff', static_cast<char>(marker)} + bigEndian(payload.size() + 2, 2) + payload;
}

// A frame header (SOF0 unless another marker is given) of 8-bit samples.
inline std::string jpegFrame(std::uint32_t width, std::uint32_t height, int components = 3,
                             unsigned char marker = 0xC0)
{
    std::string payload = "\x08" + bigEndian(height, 2) + bigEndian(width, 2) + static_cast<char>(components);
    for (int c = 1; c <= components; ++c)
        payload += std::string{static_cast<char>(c), '\x11', '\0'};
    return jpegSegment(marker, payload);
}

// A scan header over the first `components` components of the frame.
inline std::string jpegScan(int components)
{
    std::string payload(1, static_cast<char>(components));
    for (int c = 1; c <= components; ++c)
        payload += std::string{static_cast<char>(c), '\0'};
    return jpegSegment(0xDA, payload + std::string("\0\x3f\0", 3));
}

// A 631-byte JPEG that declares 60000 x 16000 pixels behind a TEM marker (FF 01), which has no
// length, right after the start marker; scan data follows its headers.
inline std::string jpegWithTemBeforeHugeFrame()
{
    const std::string headers = "\xff\xd8\xff\x01" + jpegFrame(60000, 16000) + jpegScan(3);
    return headers + std::string(631 - headers.size() - 2, '\x55') + "\xff\xd9";
}

// A TIFF directory entry: tag, field type, count and the value field's bytes as a number.
struct TiffEntry {
    std::uint16_t tag, type;
    std::uint64_t count, value;
};

// A little-endian TIFF (BigTIFF when big) of one directory per page, chained in order; `data`
// lies right after the header, at offset 8 (TIFF) or 16 (BigTIFF), for values stored apart.
inline std::string tiffFile(const std::vector<std::vector<TiffEntry>>& pages, bool big = false,
                            const std::string& data = "")
{
    const int field = big ? 8 : 4, countWidth = big ? 8 : 2, entryLength = big ? 20 : 12;
    std::string file = big ? std::string("II+\0\x08\0\0\0", 8) + littleEndian(16 + data.size(), 8)
                           : std::string("II*\0", 4) + littleEndian(8 + data.size(), 4);
    file += data;
    for (std::size_t page = 0; page < pages.size(); ++page) {
        const std::vector<TiffEntry>& entries = pages[page];
        const std::size_t end = file.size() + countWidth + entries.size() * entryLength + field;
        file += littleEndian(entries.size(), countWidth);
        for (const TiffEntry& entry : entries)
            file += littleEndian(entry.tag, 2) + littleEndian(entry.type, 2) + littleEndian(entry.count, field) +
                    littleEndian(entry.value, field);
        file += littleEndian(page + 1 < pages.size() ? end : 0, field);
    }
    return file;
}

// A classic TIFF whose ImageWidth is a LONG8, which classic TIFF stores apart, at the offset in
// the entry's value field.
inline std::string tiffWithLong8Width(std::uint64_t width, std::uint32_t length)
{
    return tiffFile({{{256, 16, 1, 8}, {257, 4, 1, length}}}, false, littleEndian(width, 8));
}

// A photographed page: a mottled dark desk and a bright page with lines of text seen at an angle;
// corners top-left, top-right, bottom-right, bottom-left.
inline cv::Mat photographedPage(cv::Size size, const std::vector<cv::Point>& page)
{
    cv::Mat noise(size.height / 16, size.width / 16, CV_8UC1), grain, photo;
    cv::RNG rng(7);
    rng.fill(noise, cv::RNG::UNIFORM, 50, 100);
    cv::resize(noise, grain, size, 0, 0, cv::INTER_CUBIC);
    cv::merge(std::vector<cv::Mat>{grain - 10, grain, grain + 15}, photo);  // a brownish desk
    cv::fillConvexPoly(photo, page, cv::Scalar(228, 232, 235), cv::LINE_AA);
    const cv::Point centre = (page[0] + page[2]) / 2;
    for (int line = -6; line <= 6; ++line) {
        const cv::Point at = centre + cv::Point(-size.width / 8, line * size.height / 40);
        cv::putText(photo, "TOTAL 12,500  CARD 4321", at, cv::FONT_HERSHEY_SIMPLEX, size.width / 1600.0,
                    cv::Scalar(30, 30, 30), 2);
    }
    cv::GaussianBlur(photo, photo, cv::Size(5, 5), 0);
    return photo;
}
