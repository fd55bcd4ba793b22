#pragma once

// Image files before they are decoded: which format the bytes are, how many
// pixels their headers make the decoder allocate for, and whether they may be
// handed to the decoder at all. The service, the command line and the Python
// module judge every uploaded or read file here.

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvek::imageio {

// The photo and scan formats that are handed to the image decoder. Other
// bytes are not decoded at all: the decoder library also carries readers for
// formats such as DICOM, some of which abort the whole process on a crafted
// file. TIFF includes BigTIFF.
enum class ImageFormat { unknown, jpeg, png, bmp, webp, tiff };
ImageFormat imageFormatOf(std::string_view bytes);

// Images counting more pixels than this are not decoded.
constexpr std::uint64_t maxImagePixels = std::uint64_t{1} << 28;

// The pixels a file's headers make the decoder allocate for, read without
// decoding and walked the way the decoder walks them: the largest of every
// size declared (TIFF tiles, strips and pages; WebP canvas and frames; PNG
// animation frames), and for a JPEG frame that libjpeg keeps whole as
// coefficients (progressive, or a first scan without every component) the
// pixels times the components. Nothing when the headers do not establish the
// size before the decoder would start: no frame header before the first
// scan, a first TIFF directory without width and length, a size field of a
// type or count the decoder refuses, truncated headers, other formats.
std::optional<std::uint64_t> countedPixels(std::string_view bytes);

enum class ImageCheck {
    decodable,     // a photo format within the pixel limit: may be handed to the decoder
    empty,         // no bytes at all
    otherFormat,   // not one of the photo formats; never handed to the decoder
    sizeUnknown,   // a photo format whose headers do not establish its size
    tooManyPixels, // the headers count more than maxImagePixels
};

// Judged against pixelLimit().
ImageCheck checkImageBytes(std::string_view bytes);

// The most pixels checkImageBytes lets through: maxImagePixels unless a
// program has set a lower limit for itself (a server's --max-pixels).
std::uint64_t pixelLimit();
// Values above maxImagePixels are taken as maxImagePixels. Safe from any thread.
void setPixelLimit(std::uint64_t pixels);

// Decodes the bytes, which the caller has checked. The decoder's exceptions
// (an empty buffer raises one) are let through; data it cannot read gives an
// empty image.
cv::Mat decodeImage(std::string_view bytes, int flags);

// The width and height of a JPEG's frame header, nothing for other bytes or
// headers that do not establish them.
std::optional<cv::Size> jpegSize(std::string_view bytes);

// An image decoded for a search that needs no more than minSide pixels on its
// longer side: a JPEG at 1/8, 1/4 or 1/2 of its size, the largest reduction
// that keeps minSide (libjpeg scales its inverse DCT down, a fraction of a full
// decode's work); other formats and smaller JPEGs whole. One decoded pixel
// spans scale x scale pixels of the full image. The bytes must have been
// checked; the decoder's exceptions are let through.
struct ReducedImage {
    cv::Mat image;
    cv::Size full;
    int scale = 1;
};
ReducedImage decodeReduced(std::string_view bytes, int minSide);

// The decoder's own pixel limit, a second guard behind checkImageBytes: sets
// OPENCV_IO_MAX_IMAGE_PIXELS to maxImagePixels unless the environment holds a
// lower limit, and returns whether it changed the environment. OpenCV reads
// the variable once, when its image codecs library is loaded, which in a
// program linked with it is before main: a change reaches only processes
// started afterwards, so a program that gets true starts itself once more.
bool limitDecoderPixels();

} // namespace tarvek::imageio
