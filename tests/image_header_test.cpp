// Formats and declared sizes read from file headers without decoding.

#include "image_header.h"
#include "test_images.h"

#include <gtest/gtest.h>

using tarvek::service::declaredPixelCount;
using tarvek::service::ImageFormat;
using tarvek::service::imageFormatOf;

namespace {

std::string littleEndian(std::uint32_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

} // namespace

TEST(ImageFormat, RecognisesThePhotoFormatsBySignature)
{
    EXPECT_EQ(imageFormatOf(encodedImage(".jpg")), ImageFormat::jpeg);
    EXPECT_EQ(imageFormatOf(encodedImage(".png")), ImageFormat::png);
    EXPECT_EQ(imageFormatOf(encodedImage(".bmp")), ImageFormat::bmp);
    EXPECT_EQ(imageFormatOf(encodedImage(".webp")), ImageFormat::webp);
    EXPECT_EQ(imageFormatOf(encodedImage(".tiff")), ImageFormat::tiff);
    EXPECT_EQ(imageFormatOf(encodedImage(".ppm")), ImageFormat::unknown);
    EXPECT_EQ(imageFormatOf(std::string(128, '\0') + "DICM"), ImageFormat::unknown);
    EXPECT_EQ(imageFormatOf("RIFF"), ImageFormat::unknown);
    EXPECT_EQ(imageFormatOf(""), ImageFormat::unknown);
}

TEST(DeclaredPixelCount, ReadsTheHeadersOfEveryDecodedFormat)
{
    for (const std::string extension : {".png", ".jpg", ".bmp", ".tiff"})
        EXPECT_EQ(declaredPixelCount(encodedImage(extension)), 48u * 64u) << extension;
    EXPECT_EQ(declaredPixelCount("hello"), std::nullopt);
}

TEST(DeclaredPixelCount, ReadsBothBitmapHeaderKinds)
{
    // Core header: 16-bit sizes; info header: signed 32-bit sizes, negative height top-down.
    const std::string core = "BM" + std::string(12, '\0') + littleEndian(12, 4) + littleEndian(60000, 2) +
                             littleEndian(50000, 2) + std::string(8, '\0');
    EXPECT_EQ(declaredPixelCount(core), 60000ull * 50000ull);
    const std::string info = "BM" + std::string(12, '\0') + littleEndian(40, 4) + littleEndian(300, 4) +
                             littleEndian(static_cast<std::uint32_t>(-200), 4);
    EXPECT_EQ(declaredPixelCount(info), 60000u);
}

TEST(DeclaredPixelCount, ReadsTiffDirectoriesInBothByteOrders)
{
    // One directory with ImageWidth as SHORT and ImageLength as LONG.
    const std::string little = std::string("II*\0", 4) + littleEndian(8, 4) + littleEndian(2, 2) +
                               littleEndian(256, 2) + littleEndian(3, 2) + littleEndian(1, 4) +
                               littleEndian(40000, 2) + std::string(2, '\0') + littleEndian(257, 2) +
                               littleEndian(4, 2) + littleEndian(1, 4) + littleEndian(30000, 4);
    EXPECT_EQ(declaredPixelCount(little), 40000ull * 30000ull);
    EXPECT_EQ(declaredPixelCount(std::string("MM\0*\0\0\0\x08\0\x01\x01\x00\0\x04\0\0\0\x01\0\0\x10\0", 22)),
              std::nullopt); // no length: nothing declared
    EXPECT_EQ(declaredPixelCount(little.substr(0, 30)), std::nullopt);
}

TEST(DeclaredPixelCount, TruncatedHeadersReadNothingPastTheEnd)
{
    for (const std::string& header :
         {std::string("RIFF\0\0\0", 7), std::string("RIFF\0\0\0\0WEBPVP8X", 16), std::string("BM\0\0", 4),
          std::string("\x89PNG\r\n\x1a\n"), std::string("\xff\xd8\xff\xc0\0\x11\x08", 7),
          std::string("II*\0\xff\xff\xff\xff", 8), std::string("MM\0*\0\0\0\x08\0\x40", 10)})
        EXPECT_EQ(declaredPixelCount(header), std::nullopt) << header.size();
    EXPECT_EQ(declaredPixelCount(encodedImage(".jpg").substr(0, 4)), std::nullopt);
}
