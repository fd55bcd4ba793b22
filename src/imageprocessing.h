#pragma once

#include <opencv2/core.hpp>

namespace tarvek {
namespace imageprocessing {

// Binary boundary image of a marker-driven watershed flood of src (8-bit, 1 or 3 channels):
// dst is 8-bit, one channel, 255 where cv::watershed marked a boundary (-1) and 0 elsewhere.
// markers (CV_32SC1, the size of src) is overwritten with the region labels. Always true.
bool watershed(cv::Mat& src, cv::Mat& dst, cv::Mat& markers);

// Gradient magnitude of an 8-bit image with 1, 3 or 4 channels (the fourth is ignored): the square
// root of the largest eigenvalue of the colour structure tensor of 3x3 Sobel-like derivatives whose
// doubled terms saturate at 255. For a grey image this is the plain Sobel magnitude. dst is 8-bit,
// one channel; its one-pixel frame, and every pixel of an unsupported source, is 0.
void getGradientImage(cv::Mat& src, cv::Mat& dst);

// Shading correction: every band of `band` rows is divided by a background predicted from a
// quadratic fit of the first row's sample pixels (every `step`-th column, 255 excluded), scaled so
// that the background becomes white. src, sample and dst are 8-bit grey of one size; dst must be
// allocated. Pixels whose prediction is zero or gives no finite quotient become 0.
void getPredictionImage(cv::Mat& src, cv::Mat& sample, cv::Mat& dst, int step, int band);

// Runs getPredictionImage over tiles of at most 400 x 400 pixels on OpenCV's thread pool.
// sample is only read; dst must be allocated. The rows and columns left over by the integer tile
// sizes keep their previous values in dst.
void predictionParallel(cv::InputArray src, cv::OutputArray sample, cv::OutputArray dst);

// Loop body of predictionParallel: one range element is one horizontal stripe of tiles.
class predictionProcess : public cv::ParallelLoopBody {
public:
    predictionProcess(cv::Mat src, cv::Mat sample, cv::Mat dst, int samplingStep, int bandHeight,
                      int stripeCount);
    ~predictionProcess() override;
    void operator()(cv::Range const& range) const override;

private:
    cv::Mat source;
    cv::Mat destination;
    cv::Mat samples;
    int stripeCount;
    int samplingStep;
    int bandHeight;
};

// Tone and contrast corrections. Sources are 8-bit; a source of another depth, or an empty one,
// gives an unchanged copy unless said otherwise.

// Maps an 8-bit grey image to three levels: below the histogram's 10 % point 0, from the 99 %
// point mirrored about the histogram's peak upwards 255, and in between 128 or 255 as a stretch
// of the level falls at or below 59 or above it. dst is (re)allocated to src's size when it does
// not already have it, and may be src itself. Other sources leave dst unchanged.
void histogramStretch(cv::Mat& src, cv::Mat& dst);

// Contrast and brightness, each clamped to -100 .. 100, through one 256-entry table applied to
// every channel. (0, 0) is not the identity: the table is round(i * 256 / 255).
void contrastBrightness(cv::Mat& src, cv::Mat& dst, int contrast, int brightness);

// Stretches each channel of the colour version of src (tarvek::utils::getColorImage) so that
// the given fraction of its pixels is clipped to 0 at the dark end and to 255 at the bright end;
// the upper clip level is at least 35, a channel whose brightest value is 70 or less is left as
// it is, and in one of a single level above that the level becomes 255. dst is three-channel.
// Sources that are empty, not 8-bit or cannot be made colour leave dst unchanged. dst may be src
// itself: the result then takes the place of its pixels.
void contrastStretchingImage(cv::Mat& src, cv::Mat& dst, float p0, float p1, float p2);

// contrastStretchingImage clipping 1.5 % in blue and green and 3 % in red.
void getContrastStretchingImage(cv::Mat& src, cv::Mat& dst);

// Adds shift, clamped to -128 .. 128, to every channel with saturation.
void brightness(cv::Mat& src, cv::Mat& dst, int shift);

// Contrast curve ((c + 128) / 128)^2 * (v - 127.5) + 127.5 on an 8-bit grey image, c clamped to
// -128 .. 128: 0 leaves the image as it is, -128 makes it uniformly 128. Other sources give an
// unchanged copy.
void contrast(cv::Mat& src, cv::Mat& dst, int contrast);

// Loop body of the contrast curve over a flat range of pixel indices. Does not own the pixels.
class Parallel_for_contrast : public cv::ParallelLoopBody {
public:
    Parallel_for_contrast(const uchar* src, uchar* dst, int contrast);
    ~Parallel_for_contrast() override;
    void operator()(cv::Range const& range) const override;

private:
    const uchar* source;
    uchar* destination;
    float factor;
};

// Gaussian blur with sigma 2 * level + 1, level clamped to 0 .. 10; level 0 copies. Blurs any
// channel count of the depths cv::GaussianBlur filters (8U, 16U, 16S, 32F, 64F); other depths,
// and an empty source, give an unchanged copy.
void soften(cv::Mat& src, cv::Mat& dst, int level);

// Unsharp masking of an 8-bit grey image: src + amount * (src - soften(src, 1)), saturated, with
// amount clamped to 0 .. 10. Other sources give an unchanged copy.
void sharpen(cv::Mat& src, cv::Mat& dst, int amount);

// Background and colour corrections of photographed pages.

// Paints the paper of a dark-on-light page pure white: the paper is found by two Sauvola
// binarizations (a fine window and a twelfth of the longer side), its luma is made uniform, the
// channels are stretched and the colours mapped through a white point and an S-curve. Returns
// false, leaving dst untouched, for a light-on-dark page, a source that is empty, not 8-bit or
// cannot be made colour, or one too small for the coarse binarization (a side below 7 pixels or
// a longer side below 12).
bool removeBgColor(cv::Mat& src, cv::Mat& dst);

// Gives every pixel of the 8-bit YUV image whose mask value is 255 the mean luma of the bright
// paper: masked pixels above the Otsu threshold of the masked luma histogram that are also 255 in
// otsuMask. When there are none, or the images do not fit together, yuv is left as it is.
void backgroundEqualizationYUV(cv::Mat& yuv, cv::Mat& mask, cv::Mat& otsuMask);

// White-point normalisation of the colour version of src: the mean luma L of the brightest
// `percent` (clamped to 0 .. 1) of the pixels maps to 1, then x -> 0.5 - 0.5 cos(pi x^gamma) is
// scaled to 0 .. 255 in every channel. Pixels whose mask value is 255 become white. With L = 0
// the other pixels are copied. A source that cannot be made 8-bit colour or a mask that is not
// 8-bit grey of src's size leaves dst unchanged. dst may be src itself: the result then takes the
// place of its pixels.
void whiteBalancingAll(cv::Mat& src, cv::Mat& dst, float percent, float gamma, cv::Mat& mask);

// Grey background removal: how much darker each pixel is than a heavily blurred background
// estimate, reduced by histogramStretch to 0, 128 and 255. A source that cannot be made 8-bit
// grey or is smaller than 7 pixels in a side leaves dst unchanged.
void removeBG(cv::Mat& src, cv::Mat& dst);

// Grey-level quantization and image checks. Images are 8-bit, one channel.

// Reduces src to n evenly spaced grey levels (255 / (n - 1) apart, integer step)
// with Floyd-Steinberg error diffusion; src is not modified. Pixels in the first
// and last column and the last row keep their error. n above 256 counts as 256;
// for n below 2, or a source that is not 8-bit grey, an unchanged copy is returned.
cv::Mat cluster_with_N_with_dithering2(cv::Mat src, int n);

// Quantizes img in place (its pixel data is shared with the caller) to 16-level
// steps, carrying the low four bits of each pixel to the next one in the row;
// steps up to 48 become 0 and those above 220 become 255. Column 0 is kept.
void cluster_with_SGI(cv::Mat img);

// Whether img still has a pixel other than 0 and 255 (false for an empty image).
bool isNeedBinarization(cv::Mat& img);

// Whether path names a file that can be opened for reading.
bool is_file_exists(const char* path);

// Kept for callers that save pages as TIFF; the library writes no TIFF files, so
// this writes nothing and returns 0.
int saveTiffFromMat(cv::Mat& img, const char* path, int option);

}  // namespace imageprocessing
}  // namespace tarvek
