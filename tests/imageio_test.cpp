// Formats, counted sizes and the pixel check of image files read from their
// headers without decoding, and the decoder's own pixel limit.

#include "imageio.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <limits>

using namespace tarvek::imageio;

namespace {

const std::string startOfImage = "\xff\xd8";

std::string bmpDeclaring(std::uint32_t width, std::uint32_t height)
{
    return "BM" + std::string(12, '\0') + littleEndian(40, 4) + littleEndian(width, 4) + littleEndian(height, 4);
}

std::string webpChunk(const std::string& name, const std::string& data)
{
    return name + littleEndian(data.size(), 4) + data + std::string(data.size() % 2, '\0');
}

std::string webpFile(const std::string& chunks)
{
    return "RIFF" + littleEndian(chunks.size() + 4, 4) + "WEBP" + chunks;
}

std::string webpCanvas(std::uint32_t width, std::uint32_t height)
{
    return webpChunk("VP8X", std::string(4, '\0') + littleEndian(width - 1, 3) + littleEndian(height - 1, 3));
}

// An animation frame of width x height holding the given chunks.
std::string webpFrame(std::uint32_t width, std::uint32_t height, const std::string& chunks)
{
    return webpChunk("ANMF", std::string(6, '\0') + littleEndian(width - 1, 3) + littleEndian(height - 1, 3) +
                                 std::string(4, '\0') + chunks);
}

// The key frame header of a lossy bitstream.
std::string webpLossy(std::uint32_t width, std::uint32_t height)
{
    return webpChunk("VP8 ", std::string("\x10\x00\x00\x9d\x01\x2a", 6) + littleEndian(width, 2) +
                                 littleEndian(height, 2));
}

// A one-page TIFF whose directory ends in a next-directory offset leading back to itself.
std::string tiffLoopingTo(const std::vector<TiffEntry>& entries)
{
    std::string file = tiffFile({entries});
    return file.replace(file.size() - 4, 4, littleEndian(8, 4));
}

} // namespace

TEST(ImageFormat, RecognisesThePhotoFormatsBySignature)
{
    EXPECT_EQ(imageFormatOf(encodedImage(".jpg")), ImageFormat::jpeg);
    EXPECT_EQ(imageFormatOf(encodedImage(".png")), ImageFormat::png);
    EXPECT_EQ(imageFormatOf(encodedImage(".bmp")), ImageFormat::bmp);
    EXPECT_EQ(imageFormatOf(encodedImage(".webp")), ImageFormat::webp);
    EXPECT_EQ(imageFormatOf(encodedImage(".tiff")), ImageFormat::tiff);
    EXPECT_EQ(imageFormatOf(tiffFile({{{256, 3, 1, 8}}}, true)), ImageFormat::tiff);
    EXPECT_EQ(imageFormatOf(encodedImage(".ppm")), ImageFormat::unknown);
    EXPECT_EQ(imageFormatOf(std::string(128, '\0') + "DICM"), ImageFormat::unknown);
    EXPECT_EQ(imageFormatOf("RIFF"), ImageFormat::unknown);
    EXPECT_EQ(imageFormatOf(""), ImageFormat::unknown);
}

TEST(CountedPixels, ReadsTheHeadersOfEveryDecodedFormat)
{
    for (const std::string extension : {".png", ".jpg", ".bmp", ".tiff", ".webp"})
        EXPECT_EQ(countedPixels(encodedImage(extension)), 48u * 64u) << extension;
    EXPECT_EQ(countedPixels("hello"), std::nullopt);

    // libjpeg keeps a progressive image's coefficients for every component.
    std::vector<uchar> progressive;
    cv::imencode(".jpg", cv::Mat(48, 64, CV_8UC3, cv::Scalar(10, 90, 200)), progressive,
                 {cv::IMWRITE_JPEG_PROGRESSIVE, 1});
    EXPECT_EQ(countedPixels(std::string(progressive.begin(), progressive.end())), 3u * 48u * 64u);
}

TEST(CountedPixels, ReadsBothBitmapHeaderKinds)
{
    // Core header: 16-bit sizes; info header: signed 32-bit sizes, negative height top-down.
    const std::string core = "BM" + std::string(12, '\0') + littleEndian(12, 4) + littleEndian(60000, 2) +
                             littleEndian(50000, 2) + std::string(8, '\0');
    EXPECT_EQ(countedPixels(core), 60000ull * 50000ull);
    const std::string info = "BM" + std::string(12, '\0') + littleEndian(40, 4) + littleEndian(300, 4) +
                             littleEndian(static_cast<std::uint32_t>(-200), 4);
    EXPECT_EQ(countedPixels(info), 60000u);
}

TEST(CountedPixels, ReadsTiffDirectoriesInBothByteOrders)
{
    // One directory with ImageWidth as SHORT and ImageLength as LONG.
    const std::string little = std::string("II*\0", 4) + littleEndian(8, 4) + littleEndian(2, 2) +
                               littleEndian(256, 2) + littleEndian(3, 2) + littleEndian(1, 4) +
                               littleEndian(40000, 2) + std::string(2, '\0') + littleEndian(257, 2) +
                               littleEndian(4, 2) + littleEndian(1, 4) + littleEndian(30000, 4);
    EXPECT_EQ(countedPixels(little), 40000ull * 30000ull);
    EXPECT_EQ(countedPixels(std::string("MM\0*\0\0\0\x08\0\x01\x01\x00\0\x04\0\0\0\x01\0\0\x10\0", 22)),
              std::nullopt); // no length: nothing declared
    EXPECT_EQ(countedPixels(little.substr(0, 30)), std::nullopt);
}

TEST(CountedPixels, TruncatedHeadersReadNothingPastTheEnd)
{
    for (const std::string& header :
         {std::string("RIFF\0\0\0", 7), std::string("RIFF\0\0\0\0WEBPVP8X", 16), std::string("BM\0\0", 4),
          std::string("\x89PNG\r\n\x1a\n"), std::string("\xff\xd8\xff\xc0\0\x11\x08", 7),
          std::string("II*\0\xff\xff\xff\xff", 8), std::string("MM\0*\0\0\0\x08\0\x40", 10)})
        EXPECT_EQ(countedPixels(header), std::nullopt) << header.size();
    EXPECT_EQ(countedPixels(encodedImage(".jpg").substr(0, 4)), std::nullopt);
}

// Cutting a file short can hide sizes but never shrinks the count: what is left either
// establishes no size or at least the whole file's.
TEST(CountedPixels, ATruncatedFileNeverCountsFewerPixelsThanTheWhole)
{
    for (const std::string extension : {".png", ".jpg", ".bmp", ".tiff", ".webp"}) {
        const std::string file = encodedImage(extension);
        for (std::size_t length = 0; length < file.size(); ++length) {
            const auto counted = countedPixels(file.substr(0, length));
            EXPECT_TRUE(!counted || *counted >= 48u * 64u) << extension << " cut at " << length;
        }
    }
}

TEST(CountedPixels, WalksCraftedHeadersAsTheirDecodersDo)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::optional<std::uint64_t> counted;
    };
    const std::string scan = jpegScan(3), smallFrame = jpegFrame(300, 200);
    const std::string fakeFrame = std::string("\x08\xff\xff\xff\xff\x03", 6) + std::string(9, '\x11');
    const std::vector<TiffEntry> small = {{256, 3, 1, 100}, {257, 3, 1, 100}};
    for (const Case& c : std::vector<Case>{
             // JPEG: markers without length, fill bytes, stuffed bytes, segments skipped whole.
             {"TEM before the frame header", jpegWithTemBeforeHugeFrame(), 60000ull * 16000},
             {"RST markers and fill bytes", startOfImage + "\xff\xd0\xff\xff\xff\xd7" + smallFrame + scan, 60000},
             {"stray and stuffed bytes between segments",
              startOfImage + jpegSegment(0xE0, "JFIF") + std::string("junk\xff\x00", 6) + smallFrame + scan, 60000},
             {"a length below 2 skips only itself", startOfImage + std::string("\xff\xe1\0\0", 4) + smallFrame + scan,
              60000},
             {"DHT, JPG and DAC declare no frame",
              startOfImage + jpegSegment(0xC4, fakeFrame) + jpegSegment(0xC8, fakeFrame) +
                  jpegSegment(0xCC, fakeFrame) + smallFrame + scan,
              60000},
             {"a frame header inside a comment is skipped",
              startOfImage + jpegSegment(0xFE, std::string("\xff\xc0\x00\x11", 4) + fakeFrame) + smallFrame + scan, 60000},
             {"no frame header before the scan", startOfImage + jpegSegment(0xDB, "tables") + scan + smallFrame,
              std::nullopt},
             {"the end of image before a frame", startOfImage + "\xff\xd9" + smallFrame + scan, std::nullopt},
             {"a frame header cut short", startOfImage + smallFrame.substr(0, 9), std::nullopt},
             {"progressive: pixels x components", startOfImage + jpegFrame(1000, 1000, 3, 0xC2) + scan, 3000000},
             {"first scan without every component", startOfImage + jpegFrame(1000, 1000) + jpegScan(1), 3000000},
             {"a frame and no scan", startOfImage + jpegFrame(1000, 1000), 3000000},
             // TIFF: every integer type, stored in the entry or apart; sizes of tiles, strips, pages.
             {"LONG8 width stored apart", tiffWithLong8Width(60000, 50000), 3000000000},
             {"BYTE and SSHORT", tiffFile({{{256, 1, 1, 200}, {257, 8, 1, 300}}}), 60000},
             {"LONG8 in BigTIFF", tiffFile({{{256, 16, 1, 60000}, {257, 16, 1, 50000}}}, true), 3000000000},
             {"IFD8 width", tiffFile({{{256, 18, 1, 60000}, {257, 16, 1, 50000}}}, true), std::nullopt},
             {"negative SSHORT", tiffFile({{{256, 8, 1, 0xFFFF}, {257, 3, 1, 10}}}), std::nullopt},
             {"negative SLONG8", tiffFile({{{256, 3, 1, 10}, {257, 17, 1, ~0ull}}}, true), std::nullopt},
             {"LONG8 over 32 bits", tiffFile({{{256, 16, 1, 1ull << 32}, {257, 3, 1, 10}}}, true), std::nullopt},
             {"two width values", tiffFile({{{256, 3, 2, 10}, {257, 3, 1, 10}}}), std::nullopt},
             {"LONG8 stored past the end", tiffFile({{{256, 16, 1, 4000}, {257, 3, 1, 10}}}), std::nullopt},
             {"no length", tiffFile({{{256, 3, 1, 100}}}), std::nullopt},
             {"repeated width at its largest", tiffFile({{{256, 3, 1, 10}, {256, 4, 1, 70000}, {257, 3, 1, 10000}}}),
              700000000},
             {"tiles larger than the image",
              tiffFile({{{256, 3, 1, 100}, {257, 3, 1, 100}, {322, 4, 1, 32768}, {323, 4, 1, 16384}}}), 1ull << 29},
             {"strips longer than the image", tiffFile({{{256, 3, 1, 1000}, {257, 3, 1, 10}, {278, 4, 1, 300000}}}),
              300000000},
             {"one strip of RowsPerStrip 2^32 - 1",
              tiffFile({{{256, 3, 1, 1000}, {257, 3, 1, 10}, {278, 4, 1, 0xFFFFFFFF}}}), 10000},
             {"the largest of several pages", tiffFile({small, {{256, 4, 1, 60000}, {257, 4, 1, 50000}}}), 3000000000},
             {"a later page without sizes", tiffFile({small, {{262, 3, 1, 2}}}), 10000},
             {"a directory chain that loops", tiffLoopingTo(small), std::nullopt},
             {"BigTIFF of 4-byte offsets", tiffFile({small}, true).replace(4, 1, "\x04"), std::nullopt},
             // WebP: canvas, bitstreams, animation frames and the bitstreams inside them.
             {"extended canvas", webpFile(webpCanvas(20000, 20000)), 400000000},
             {"lossy bitstream", webpFile(webpLossy(640, 480)), 307200},
             {"a frame larger than the canvas",
              webpFile(webpCanvas(100, 100) + webpChunk("ANIM", std::string(6, '\0')) + webpFrame(30000, 30000, "")),
              900000000},
             {"a frame's bitstream larger than the frame",
              webpFile(webpCanvas(100, 100) + webpFrame(100, 100, webpLossy(16000, 16000))), 256000000},
             {"no chunk declares a size", webpFile(webpChunk("ICCP", "profile")), std::nullopt},
             // PNG and BMP.
             {"an animation frame larger than the image",
              pngDeclaring(100, 100, pngChunk("fcTL", bigEndian(0, 4) + bigEndian(40000, 4) + bigEndian(40000, 4))),
              1600000000},
             {"IHDR not first", "\x89PNG\r\n\x1a\n" + pngChunk("tEXt", "a") + pngDeclaring(10, 10).substr(8),
              std::nullopt},
             {"bitmap header of 20 bytes", "BM" + std::string(12, '\0') + littleEndian(20, 4) + std::string(8, '\x10'),
              std::nullopt},
         })
        EXPECT_EQ(countedPixels(c.bytes), c.counted) << c.what;
}

TEST(ImageCheck, SortsBytesIntoItsAnswers)
{
    EXPECT_EQ(checkImageBytes(""), ImageCheck::empty);
    EXPECT_EQ(checkImageBytes("hello"), ImageCheck::otherFormat);
    EXPECT_EQ(checkImageBytes(startOfImage + jpegScan(3)), ImageCheck::sizeUnknown);
    EXPECT_EQ(checkImageBytes(jpegWithTemBeforeHugeFrame()), ImageCheck::tooManyPixels);
    EXPECT_EQ(checkImageBytes(tiffWithLong8Width(60000, 50000)), ImageCheck::tooManyPixels);
    EXPECT_EQ(checkImageBytes(encodedImage(".png")), ImageCheck::decodable);
}

// Exactly maxImagePixels is accepted in every format, a row more is refused.
TEST(ImageCheck, TheLimitIsInclusive)
{
    static_assert(16384ull * 16384 == maxImagePixels);
    struct Format {
        const char* name;
        std::function<std::string(std::uint32_t, std::uint32_t)> declaring;
        std::uint32_t width, height;
    };
    for (const Format& format : std::vector<Format>{
             {"PNG", [](auto w, auto h) { return pngDeclaring(w, h); }, 16384, 16384},
             {"BMP", bmpDeclaring, 16384, 16384},
             {"WebP", [](auto w, auto h) { return webpFile(webpCanvas(w, h)); }, 16384, 16384},
             {"TIFF", [](auto w, auto h) { return tiffFile({{{256, 4, 1, w}, {257, 4, 1, h}}}); }, 16384, 16384},
             {"TIFF strip", [](auto w, auto h) { return tiffFile({{{256, 4, 1, w}, {257, 4, 1, 1}, {278, 4, 1, h}}}); },
              16384, 16384},
             {"grey JPEG", [](auto w, auto h) { return startOfImage + jpegFrame(w, h, 1) + jpegScan(1); }, 16384,
              16384},
             {"progressive JPEG, 4 components",
              [](auto w, auto h) { return startOfImage + jpegFrame(w, h, 4, 0xC2) + jpegScan(1); }, 8192, 8192},
         }) {
        EXPECT_EQ(checkImageBytes(format.declaring(format.width, format.height)), ImageCheck::decodable)
            << format.name;
        EXPECT_EQ(checkImageBytes(format.declaring(format.width, format.height + 1)), ImageCheck::tooManyPixels)
            << format.name;
    }
}

TEST(DecodeImage, DecodesEveryFormatTheCheckLetsThrough)
{
    for (const std::string extension : {".png", ".jpg", ".bmp", ".tiff", ".webp"}) {
        const std::string file = encodedImage(extension);
        ASSERT_EQ(checkImageBytes(file), ImageCheck::decodable) << extension;
        EXPECT_EQ(decodeImage(file, cv::IMREAD_COLOR).size(), cv::Size(64, 48)) << extension;
    }
}

TEST(DecodeReduced, TakesTheLargestJpegReductionThatKeepsTheLongerSide)
{
    const auto encoded = [](cv::Size size, const std::string& extension) {
        std::vector<uchar> bytes;
        cv::imencode(extension, cv::Mat(size, CV_8UC3, cv::Scalar(90, 160, 220)), bytes);
        return std::string(bytes.begin(), bytes.end());
    };
    struct Case {
        cv::Size size;
        std::string extension;
        int minSide, scale;
    };
    for (const Case& c : std::vector<Case>{{{4000, 3000}, ".jpg", 960, 4},
                                           {{1920, 1080}, ".jpg", 960, 2},
                                           {{1080, 1919}, ".jpg", 960, 1}, // 1919 / 2 falls short
                                           {{8001, 603}, ".jpg", 1000, 8},
                                           {{4000, 3000}, ".png", 960, 1},
                                           {{4000, 3000}, ".jpg", std::numeric_limits<int>::max(), 1}}) {
        const std::string file = encoded(c.size, c.extension);
        if (c.extension == ".jpg") {
            EXPECT_EQ(jpegSize(file), c.size);
        }
        const ReducedImage reduced = decodeReduced(file, c.minSide);
        EXPECT_EQ(reduced.full, c.size) << c.size;
        EXPECT_EQ(reduced.scale, c.scale) << c.size;
        // libjpeg rounds a reduced side up.
        EXPECT_EQ(reduced.image.size(),
                  cv::Size((c.size.width + c.scale - 1) / c.scale, (c.size.height + c.scale - 1) / c.scale));
    }
    EXPECT_FALSE(jpegSize(encodedImage(".png")));
    EXPECT_FALSE(jpegSize(startOfImage + "\xff\xda"));
}

TEST(DecoderPixelLimit, SetsTheLimitUnlessALowerOneIsSet)
{
    const char* name = "OPENCV_IO_MAX_IMAGE_PIXELS";
    struct Case {
        const char* given; // nullptr: unset
        bool changed;
        const char* result;
    };
    for (const Case& c : std::vector<Case>{
             {nullptr, true, "268435456"},
             {"1000", false, "1000"},
             {"268435456", false, "268435456"},
             {"256Mb", false, "256Mb"},
             {"64KB", false, "64KB"},
             {"268435457", true, "268435456"},
             {"300mb", true, "268435456"},
             {"99999999999999999999", true, "268435456"},
             {"", true, "268435456"},
             {"12 pixels", true, "268435456"},
             {"1GB", true, "268435456"},
         }) {
        if (c.given)
            setenv(name, c.given, 1);
        else
            unsetenv(name);
        EXPECT_EQ(limitDecoderPixels(), c.changed) << (c.given ? c.given : "unset");
        EXPECT_STREQ(std::getenv(name), c.result);
    }
    unsetenv(name);
}
