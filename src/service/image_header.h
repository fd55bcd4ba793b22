#pragma once

// What an uploaded file says about itself before it is decoded: its format,
// and how many pixels it declares.

#include <cstdint>
#include <optional>
#include <string>

namespace tarvek::service {

// The photo and scan formats that are handed to the image decoder. Other
// bytes are not decoded at all: the decoder library also carries readers for
// formats such as DICOM, some of which abort the whole process on a crafted
// file.
enum class ImageFormat { unknown, jpeg, png, bmp, webp, tiff };
ImageFormat imageFormatOf(const std::string& bytes);

// Width x height declared by the header of a file of one of those formats,
// read without decoding; nothing for other bytes or truncated headers.
std::optional<std::uint64_t> declaredPixelCount(const std::string& bytes);

} // namespace tarvek::service
