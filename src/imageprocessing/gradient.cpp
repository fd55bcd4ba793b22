// Gradient, watershed and background-prediction images.
#include "imageprocessing.h"

#include <opencv2/core/hal/hal.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

#include "utils.h"

namespace tarvek {
namespace imageprocessing {

bool watershed(cv::Mat& src, cv::Mat& dst, cv::Mat& markers)
{
    cv::Mat work;
    if (src.channels() == 1)
        cv::cvtColor(src, work, cv::COLOR_GRAY2BGR);
    else
        work = src.clone();
    cv::watershed(work, markers);

    dst.create(src.rows, src.cols, CV_8UC1);
    dst.setTo(0);
    for (int i = 0; i < markers.rows; ++i) {
        const int* label = markers.ptr<int>(i);
        uchar* out = dst.ptr<uchar>(i);
        for (int j = 0; j < markers.cols; ++j) {
            if (label[j] == -1)
                out[j] = 255;
        }
    }
    return true;
}

namespace {

// The edge-adjacent neighbours enter the derivative kernels doubled, but saturated like an 8-bit
// pixel would be.
inline int doubled(int v)
{
    return std::min(2 * v, 255);
}

// Derivatives of every channel of the interior pixels of a row, the row taken as a flat array of
// CN interleaved channels: element k - CN of gx and gy belongs to element k = j·CN + c of the row,
// j = 1 .. cols − 2. The flat form lets the compiler vectorise the loop.
template <int CN, typename T>
void rowDerivatives(const uchar* up, const uchar* mid, const uchar* down, int cols, T* gx, T* gy)
{
    for (int k = CN; k < (cols - 1) * CN; ++k) {
        const int right = up[k + CN] + doubled(mid[k + CN]) + down[k + CN];
        const int left = up[k - CN] + doubled(mid[k - CN]) + down[k - CN];
        const int top = up[k - CN] + doubled(up[k]) + up[k + CN];
        const int bottom = down[k - CN] + doubled(down[k]) + down[k + CN];
        gx[k - CN] = static_cast<T>(right - left);
        gy[k - CN] = static_cast<T>(top - bottom);
    }
}

// Rounds and clamps `values` into the 8-bit pixels `out`, as convertTo(CV_8U) does.
void storeRow(float* values, uchar* out, int count)
{
    cv::Mat source(1, count, CV_32FC1, values);
    cv::Mat target(1, count, CV_8UC1, out);
    source.convertTo(target, CV_8U);
}

// Grey branch. The largest eigenvalue of a one-channel tensor is exactly gx² + gy², and these
// integer sums stay far below 2^24, so the magnitude is computed in float: for whole numbers under
// that bound the rounded square root equals the one taken in double.
void greyGradientRows(const cv::Mat& src, cv::Mat& dst)
{
    const int inner = src.cols - 2;
    std::vector<float> gx(inner), gy(inner), magnitude(inner);
    for (int i = 1; i < src.rows - 1; ++i) {
        rowDerivatives<1>(src.ptr<uchar>(i - 1), src.ptr<uchar>(i), src.ptr<uchar>(i + 1), src.cols, gx.data(),
                          gy.data());
        cv::hal::magnitude32f(gx.data(), gy.data(), magnitude.data(), inner);
        storeRow(magnitude.data(), dst.ptr<uchar>(i) + 1, inner);
    }
}

// Three consecutive rows of one channel plane: above, at and below the row being computed.
struct PlaneRows {
    const uchar* up;
    const uchar* mid;
    const uchar* down;
};

// Square root of the largest eigenvalue of the structure tensor of three channels at column x,
// in double. Every tensor entry is a whole number below 2^22, so each product and sum here is
// exact and only the two square roots round.
double colourMagnitude(const PlaneRows channels[3], int x)
{
    double xx = 0, yy = 0, xy = 0;
    for (int c = 0; c < 3; ++c) {
        const PlaneRows& p = channels[c];
        const int right = p.up[x + 1] + doubled(p.mid[x + 1]) + p.down[x + 1];
        const int left = p.up[x - 1] + doubled(p.mid[x - 1]) + p.down[x - 1];
        const int top = p.up[x - 1] + doubled(p.up[x]) + p.up[x + 1];
        const int bottom = p.down[x - 1] + doubled(p.down[x]) + p.down[x + 1];
        const double gx = right - left;
        const double gy = top - bottom;
        xx += gx * gx;
        yy += gy * gy;
        xy += gx * gy;
    }
    const double lambda = (xx + yy + std::sqrt(std::fabs(xx * xx - 2 * xx * yy + yy * yy + 4.0 * xy * xy))) / 2.0;
    return std::sqrt(lambda);
}

// [1 2 1] sums out[k] = a[k] + 2·b[k] + c[k], k = 0 .. n - 1, the doubled term saturated at 255.
// Over three rows they are the column sums whose differences give gx; over one row shifted by one
// pixel, the row sums whose differences give gy.
void smoothed(const uchar* a, const uchar* b, const uchar* c, int n, ushort* out)
{
    using namespace cv;
    int k = 0;
    for (; k <= n - 16; k += 16) {
        const v_uint8x16 middle = v_load(b + k);
        v_uint16x8 a0, a1, b0, b1, c0, c1;
        v_expand(v_load(a + k), a0, a1);
        v_expand(middle + middle, b0, b1);  // the 8-bit sum saturates at 255, as the doubling does
        v_expand(v_load(c + k), c0, c1);
        v_store(out + k, a0 + b0 + c0);
        v_store(out + k + 8, a1 + b1 + c1);
    }
    for (; k < n; ++k)
        out[k] = static_cast<ushort>(a[k] + doubled(b[k]) + c[k]);
}

// The [1 2 1] sums of one output row and channel: column sums of the row's three-row window, and
// the row sums of the rows above and below.
struct SmoothedRows {
    const ushort* columns;
    const ushort* above;
    const ushort* below;
};

// Tensor sums of four pixels as whole numbers: the trace gxx + gyy, the difference gxx - gyy and
// twice the cross term, 2·gxy. With derivatives of at most 765 in magnitude all of them stay below
// 2^22.
struct TensorSums {
    cv::v_int32x4 trace;
    cv::v_int32x4 difference;
    cv::v_int32x4 cross;
};

// Tensor sums of the eight pixels at columns x .. x + 7, split into their two halves. Each
// multiply-add of interleaved 16-bit derivatives sums two products: channels 0 and 1 are paired
// with each other, channel 2's gx with its gy.
void tensorSums(const SmoothedRows channels[3], int x, TensorSums halves[2])
{
    using namespace cv;
    v_int16x8 gx[3], gy[3];
    for (int c = 0; c < 3; ++c) {
        const SmoothedRows& s = channels[c];
        gx[c] = v_reinterpret_as_s16(v_load(s.columns + x + 1)) - v_reinterpret_as_s16(v_load(s.columns + x - 1));
        gy[c] = v_reinterpret_as_s16(v_load(s.above + x)) - v_reinterpret_as_s16(v_load(s.below + x));
    }
    v_int16x8 xx01[2], yy01[2], xy2[2], yx2[2], negated2[2];
    v_zip(gx[0], gx[1], xx01[0], xx01[1]);
    v_zip(gy[0], gy[1], yy01[0], yy01[1]);
    v_zip(gx[2], gy[2], xy2[0], xy2[1]);
    v_zip(gy[2], gx[2], yx2[0], yx2[1]);
    v_zip(gx[2], v_setzero_s16() - gy[2], negated2[0], negated2[1]);
    for (int h = 0; h < 2; ++h) {
        const v_int32x4 xx = v_dotprod(xx01[h], xx01[h]);
        const v_int32x4 yy = v_dotprod(yy01[h], yy01[h]);
        const v_int32x4 xy = v_dotprod(xx01[h], yy01[h]);
        halves[h].trace = v_dotprod(xy2[h], xy2[h], xx + yy);
        halves[h].difference = v_dotprod(xy2[h], negated2[h], xx - yy);
        halves[h].cross = v_dotprod(xy2[h], yx2[h], xy + xy);
    }
}

// Magnitude of four pixels in float, rounded to whole numbers. The sums convert to float exactly;
// the evaluation then carries a relative error of a few 1e-7, so it stays within 1e-4 of the
// double magnitude below 256. The pixels whose float magnitude lies within 1e-3 of a rounding
// boundary k + 0.5 are marked in `uncertain` and must be evaluated in double (above 255 that is
// not needed, but rare enough not to be worth excluding).
cv::v_int32x4 roundedMagnitude(const TensorSums& sums, cv::v_float32x4& uncertain)
{
    using namespace cv;
    const v_float32x4 difference = v_cvt_f32(sums.difference), cross = v_cvt_f32(sums.cross);
    const v_float32x4 discriminant = v_muladd(difference, difference, cross * cross);
    const v_float32x4 magnitude = v_sqrt((v_cvt_f32(sums.trace) + v_sqrt(discriminant)) * v_setall_f32(0.5f));
    const v_int32x4 rounded = v_round(magnitude);
    uncertain = v_abs(magnitude - v_cvt_f32(rounded)) > v_setall_f32(0.499f);
    return rounded;
}

// Gradient of the eight pixels at columns x .. x + 7 into out[x ..], bit for bit the double result.
void colourGradientBlock(const PlaneRows planes[3], const SmoothedRows smoothedRows[3], int x, uchar* out)
{
    using namespace cv;
    TensorSums halves[2];
    tensorSums(smoothedRows, x, halves);
    v_float32x4 uncertainLow, uncertainHigh;
    const v_int32x4 roundedLow = roundedMagnitude(halves[0], uncertainLow);
    const v_int32x4 roundedHigh = roundedMagnitude(halves[1], uncertainHigh);
    v_pack_u_store(out + x, v_pack(roundedLow, roundedHigh));
    const int uncertain = v_signmask(uncertainLow) | v_signmask(uncertainHigh) << 4;
    for (int k = 0; uncertain >> k != 0; ++k) {
        if (uncertain >> k & 1)
            out[x + k] = saturate_cast<uchar>(colourMagnitude(planes, x + k));
    }
}

// Gradient of the interior pixels 1 .. cols - 2 of one row into out.
void colourGradientRow(const PlaneRows planes[3], const SmoothedRows smoothedRows[3], int cols, uchar* out)
{
    // Blocks of eight; the final one is moved back to end at column cols - 2, overlapping its
    // predecessor where the width is not a multiple of eight.
    const int last = cols - 1 - 8;
    if (last < 1) {
        for (int x = 1; x < cols - 1; ++x)
            out[x] = cv::saturate_cast<uchar>(colourMagnitude(planes, x));
        return;
    }
    for (int x = 1;; x += 8) {
        x = std::min(x, last);
        colourGradientBlock(planes, smoothedRows, x, out);
        if (x == last)
            return;
    }
}

// Colour branch: structure tensor summed over channels 0..2 of a source with cn channels.
// Channels are split into planes, and the [1 2 1] row sums of each plane row are kept, in rings
// of three rows reused as the window moves down, so that every load runs over contiguous data and
// every row sum serves both rows it borders.
void colourGradientRows(const cv::Mat& src, cv::Mat& dst, int cn)
{
    const int cols = src.cols;
    // Planes a multiple of 64 bytes apart (widths such as 320 or 640) ran at half speed in
    // measurements; 16 bytes of padding keep their starts out of step.
    const int stride = cols + 16;
    std::vector<uchar> planeRing(4 * 3 * stride);    // [row % 3][channel][column], channel 3 unused
    std::vector<ushort> rowSumRing(3 * 3 * stride);  // [row % 3][channel][column]
    std::vector<ushort> columnSums(3 * stride);      // [channel][column]
    auto plane = [&](int row, int c) { return &planeRing[((row % 3) * 4 + c) * stride]; };
    auto rowSums = [&](int row, int c) { return &rowSumRing[((row % 3) * 3 + c) * stride]; };
    auto takeRow = [&](int row) {
        uchar* channels[4] = {plane(row, 0), plane(row, 1), plane(row, 2), plane(row, 3)};
        cv::hal::split8u(src.ptr<uchar>(row), channels, cols, cn);
        for (int c = 0; c < 3; ++c) {
            const uchar* p = plane(row, c);
            smoothed(p, p + 1, p + 2, cols - 2, rowSums(row, c) + 1);
        }
    };

    takeRow(0);
    takeRow(1);
    for (int i = 1; i < src.rows - 1; ++i) {
        takeRow(i + 1);
        PlaneRows planes[3];
        SmoothedRows smoothedRows[3];
        for (int c = 0; c < 3; ++c) {
            planes[c] = {plane(i - 1, c), plane(i, c), plane(i + 1, c)};
            ushort* columns = &columnSums[c * stride];
            smoothed(planes[c].up, planes[c].mid, planes[c].down, cols, columns);
            smoothedRows[c] = {columns, rowSums(i - 1, c), rowSums(i + 1, c)};
        }
        colourGradientRow(planes, smoothedRows, cols, dst.ptr<uchar>(i));
    }
}

}  // namespace

void getGradientImage(cv::Mat& src, cv::Mat& dst)
{
    // Rounding to 8 bits happens row by row instead of through a full-size double image; the
    // values are those of the double computation converted once at the end.
    const cv::Mat source = src;
    dst.release();
    dst.create(source.rows, source.cols, CV_8UC1);
    dst.setTo(0);
    if (source.rows < 3 || source.cols < 3 || source.depth() != CV_8U)
        return;
    const int cn = source.channels();
    if (cn == 1)
        greyGradientRows(source, dst);
    else if (cn == 3 || cn == 4)
        colourGradientRows(source, dst, cn);
}

void getPredictionImage(cv::Mat& src, cv::Mat& sample, cv::Mat& dst, int step, int band)
{
    const int rows = sample.rows;
    const int cols = sample.cols;
    if (src.size() != sample.size() || dst.size() != sample.size() || src.type() != CV_8UC1 ||
        sample.type() != CV_8UC1 || dst.type() != CV_8UC1)
        return;
    // A step or band below one would never advance.
    step = std::max(step, 1);
    band = std::max(band, 1);

    std::vector<cv::Point> points;
    cv::Mat coef;
    for (int y = 0; y < rows; y += band) {
        points.clear();
        const uchar* sampled = sample.ptr<uchar>(y);
        for (int x = 0; x < cols; x += step) {
            if (sampled[x] != 255)
                points.emplace_back(x, sampled[x]);
        }
        utils::doLSM2D_2(points, coef);
        const double a = coef.at<double>(0, 0);
        const double b = coef.at<double>(1, 0);
        const double c = coef.at<double>(2, 0);
        for (int r = y; r < y + band && r < rows; ++r) {
            const uchar* in = src.ptr<uchar>(r);
            uchar* out = dst.ptr<uchar>(r);
            for (int x = 0; x < cols; ++x) {
                const double p = x * (x * a) + x * b + c;
                const double quotient = in[x] / p;
                out[x] = (p == 0.0 || !std::isfinite(quotient))
                             ? 0
                             : cv::saturate_cast<uchar>(quotient * 280.0);
            }
        }
    }
}

// Number of pieces of at most 400 pixels that `length` is cut into.
static int tilesOf400(int length)
{
    return length / 400 + (length % 400 != 0 ? 1 : 0);
}

void predictionParallel(cv::InputArray src, cv::OutputArray sample, cv::OutputArray dst)
{
    const cv::Mat source = src.getMat();
    const cv::Mat samples = sample.getMat();
    const cv::Mat destination = dst.getMat();
    const int stripes = tilesOf400(source.rows);
    const predictionProcess body(source, samples, destination, 4, 2, stripes);
    cv::parallel_for_(cv::Range(0, stripes), body, -1.0);
}

predictionProcess::predictionProcess(cv::Mat src, cv::Mat sample, cv::Mat dst, int samplingStep,
                                     int bandHeight, int stripeCount)
    : source(src),
      destination(dst),
      samples(sample),
      stripeCount(stripeCount),
      samplingStep(samplingStep),
      bandHeight(bandHeight)
{
}

predictionProcess::~predictionProcess() = default;

void predictionProcess::operator()(cv::Range const& range) const
{
    const int across = tilesOf400(source.cols);
    if (across == 0 || stripeCount <= 0)
        return;
    const int w = source.cols / across;
    const int h = source.rows / stripeCount;
    for (int i = range.start; i < range.end; ++i) {
        for (int j = 0; j < across; ++j) {
            const cv::Rect tile(w * j, h * i, w, h);
            cv::Mat sourceTile = source(tile);
            cv::Mat sampleTile = samples(tile);
            cv::Mat destinationTile = destination(tile);
            getPredictionImage(sourceTile, sampleTile, destinationTile, samplingStep, bandHeight);
        }
    }
}

}  // namespace imageprocessing
}  // namespace tarvek
