#pragma once

// The one place where uploaded image bytes are judged and decoded, for the
// recognition routes and the document tools alike.

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <string>

namespace tarvek::service {

// Images declaring more pixels than this are not decoded.
constexpr std::uint64_t maxImagePixels = std::uint64_t{1} << 28;

enum class ImageCheck {
    decodable,     // a photo format within the pixel limit: may be handed to the decoder
    empty,         // no bytes at all
    otherFormat,   // not one of the photo formats; never handed to the decoder
    tooManyPixels, // the header declares more than maxImagePixels
};

ImageCheck checkImageBytes(const std::string& bytes);

// Decodes the bytes, which the caller has checked. The decoder's exceptions
// (an empty buffer raises one) are let through; data it cannot read gives an
// empty image.
cv::Mat decodeImage(const std::string& bytes, int flags);

} // namespace tarvek::service
