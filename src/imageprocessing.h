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
