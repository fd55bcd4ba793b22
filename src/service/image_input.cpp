#include "image_input.h"

#include "image_header.h"

#include <opencv2/imgcodecs.hpp>

namespace tarvek::service {

ImageCheck checkImageBytes(const std::string& bytes)
{
    if (bytes.empty())
        return ImageCheck::empty;
    if (imageFormatOf(bytes) == ImageFormat::unknown)
        return ImageCheck::otherFormat;
    const auto declared = declaredPixelCount(bytes);
    if (declared && *declared > maxImagePixels)
        return ImageCheck::tooManyPixels;
    return ImageCheck::decodable;
}

cv::Mat decodeImage(const std::string& bytes, int flags)
{
    // A header over the bytes, no copy. The matrix type has no read-only
    // form; the decoder only reads them.
    const cv::Mat buffer(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<char*>(bytes.data()));
    return cv::imdecode(buffer, flags);
}

} // namespace tarvek::service
