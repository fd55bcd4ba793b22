// Image utilities: grey/colour normalisation, distances and polygon areas,
// the light-on-dark page test, packed-pixel buffers, connected-component
// labelling, and line fitting (least squares, RANSAC building blocks and
// band-wise border detectors).
#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace tarvek {

// A connected region of a binary image: its first pixel in row-major order
// (the left-most pixel of its top-most row), its bounding rectangle and its
// size in pixels.
struct ConnectedComponent {
    ConnectedComponent(cv::Point seed, cv::Rect rect, int pixelCount)
        : seed(seed), rect(rect), pixelCount(pixelCount) {}

    cv::Point seed;
    cv::Rect rect;
    int pixelCount;
};

namespace utils {

// ---------------------------------------------------------------------------
// Image conversions and measurements
// ---------------------------------------------------------------------------

// Grey version of src: 3 channels are read as BGR, 4 channels as RGBA.
// A 1-channel src is handed back as is (dst shares its pixels). Any other
// channel count returns false and leaves dst untouched.
bool getGrayImage(cv::Mat& src, cv::Mat& dst);

// Three-channel BGR version of src: 4 channels are read as RGBA (alpha
// dropped), 1 channel is replicated. A 3-channel src is handed back as is
// (dst shares its pixels). Any other channel count returns false and leaves
// dst untouched.
bool getColorImage(cv::Mat& src, cv::Mat& dst);

// Euclidean distance of integer points; no overflow for any pair of points.
double calcDistance(cv::Point a, cv::Point b);

// Euclidean distance of float points; differences and sum of squares are
// formed in single precision.
double calcDistance2(cv::Point2f a, cv::Point2f b);

// Signed shoelace area of the implicitly closed polygon, accumulated in an
// int that is truncated after every step (clamped to the int range, a NaN
// step gives 0), then halved with integer division.
// Corners ordered clockwise on screen (y down) give a negative area.
int calcPolygonArea(std::vector<cv::Point2f>& pts);

// True when the 8-bit grey page looks like light text on a dark background:
// fewer than 23 % of the pixels that stand out from their neighbourhood
// are darker than it. An empty image gives false.
bool isReverse(cv::Mat& gray);

// Packed pixels are 32-bit values: alpha in bits 24-31, then the bytes at
// bits 16-23, 8-15 and 0-7, which map to matrix channels 0, 1 and 2. Buffers
// are row-major without padding and hold width * height values.

// dst becomes a new 8-bit grey matrix; each value is the plain mean of the
// three colour bytes.
void intToMat8U(int* pixels, cv::Mat& dst, int width, int height);

// dst becomes a new 8-bit three-channel matrix; alpha is ignored.
void intToMat(int* pixels, cv::Mat& dst, int width, int height);

// Packs every pixel of an 8-bit three-channel src, alpha forced to 255.
void matToInt(cv::Mat& src, int* pixels);

// ---------------------------------------------------------------------------
// Connected components
// ---------------------------------------------------------------------------

// Grows the region of pixels equal to value from the seed (x, y) of the 8-bit
// one-channel img, overwriting each pixel with 1 as it is reached; the seed
// itself is marked and counted whatever its value. Four neighbours are
// visited right, left, below, above; eight neighbours the row above and the
// row below, each left to right, then left and right. Pixels leave a
// last-in first-out stack in that order: *count gets their number and
// points (when not null) gets them appended. Returns the bounding rectangle.
// A seed outside img, another image type, or value 1 (the mark itself)
// leaves img untouched, sets *count to 0 and returns an empty rectangle.
cv::Rect getLabelRect(cv::Mat& img, int x, int y, int* count, bool eightConnected, int value,
                      std::vector<cv::Point>* points);
// The same with four neighbours.
cv::Rect getLabelRect(cv::Mat& img, int x, int y, int* count, int value,
                      std::vector<cv::Point>* points);

// Four-neighbour growing on a CV_16UC1 label image over the pixels equal to
// 255, each overwritten with label (as its 16-bit pattern). A seed outside
// labels, another image type, or label 255 changes nothing, sets *count to 0
// and returns an empty rectangle.
cv::Rect getLabelRect2(cv::Mat& labels, int x, int y, int* count, short label);

// Regions of 255 (white) or of 0 pixels of the 8-bit one-channel img, in
// row-major order of their seeds; img is not modified. Other image types
// give no component.
std::vector<ConnectedComponent> getConnectedComponents(cv::Mat& img, bool white,
                                                       bool eightConnected);

// Four-neighbour regions of the 255 pixels of the 8-bit one-channel img.
// labels becomes a CV_16UC1 copy of img in which each region holds its own
// label: 1 … 254, 256, … in row-major order of the seeds, 255 skipped (and 0
// too, once more than 65,534 regions make the 16-bit labels wrap and
// repeat). Other pixel values are copied unchanged. Another image type
// leaves labels empty and gives no component.
std::vector<ConnectedComponent> getConnectedComponents2(cv::Mat& img, cv::Mat& labels);

// ---------------------------------------------------------------------------
// Line fitting
// ---------------------------------------------------------------------------

// Least squares (AᵀA)⁻¹Aᵀy with LU inversion; out is a k×1 CV_64F matrix of
// the coefficients, all zero when AᵀA is singular (or pts is empty).
void doLSM2D_1(std::vector<cv::Point>& pts, cv::Mat& out);  // y = a·x + b
void doLSM2D_2(std::vector<cv::Point>& pts, cv::Mat& out);  // y = a·x² + b·x + c
// z = a·x + b·y + c; uses the first min(pts.size(), z.size()) points.
void doLSM3D_1(std::vector<cv::Point>& pts, std::vector<int>& z, cv::Mat& out);

// RANSAC iteration count (int)(ln(1 − confidence) / ln(1 − inlierRatio^sampleSize) + 1).
int ransacIterationCount(double confidence, double inlierRatio, int sampleSize);

// Every pixel of the 8-bit one-channel img equal to 255, as (column, row),
// row by row.
std::vector<cv::Point> getData(cv::Mat& img);

// Whether p equals an element of pts.
bool isDuplicateData(std::vector<cv::Point>& pts, cv::Point p);

// Fills samples[0 .. count-1] with points of data drawn by rand() that are
// not yet in drawn, appending each to drawn. samples is grown to count
// elements if it is smaller. The caller must make sure that data holds at
// least count distinct points outside drawn, or the drawing never ends.
void getRandomSample(std::vector<cv::Point>& data, std::vector<cv::Point>& drawn,
                     std::vector<cv::Point>& samples, int count);

// Principal-axis line (dx, dy, cx, cy) of the first count points: unit
// direction and centroid. Leaves model unchanged when count <= 0.
void computeModelParameter(std::vector<cv::Point>& pts, int count, cv::Vec4f& model);

// Perpendicular distance of p to the direction-point line model, in single
// precision.
float computeDistance(cv::Vec4f& model, cv::Point& p);

// Collects the first n data points closer than threshold to model into
// (*inliers)[0 .. *count-1] (the caller pre-sizes inliers to n) and returns
// the sum of their distances.
double modelVerification(std::vector<cv::Point>* inliers, int* count, cv::Vec4f& model,
                         std::vector<cv::Point>& data, int n, double threshold);

// Crossing of y = a1·x + b1 and y = a2·x + b2, x truncated toward zero
// before y is computed from it. Values beyond the int range (parallel lines)
// are clamped, a not-a-number coordinate becomes 0.
cv::Point getCrossPoint(double a1, double b1, double a2, double b2);

// Distance of p to the line a·x + b·y + c = 0.
double calcDistanceToLine(double a, double b, double c, cv::Point p);

// Picks the polar line (rho, theta) with the smallest sum of distances to
// pts (the first of equal sums), writes a 2000-pixel segment of it shifted
// by offset to out and returns the sum truncated to int. Without lines, out
// is all zero and the result is INT_MIN.
int selectLine(std::vector<cv::Point>& pts, std::vector<cv::Vec2f>& lines, cv::Point offset,
               cv::Vec4i& out);

// RANSAC border segment in each of the bands left (0,0,80,239),
// right (240,0,80,239), top (0,0,320,59) and bottom (0,180,320,59) of a
// 320×240 edge image. Appends one segment per band that has at least two
// edge pixels.
void detectLineUsingRANSAC(cv::Mat& edges, std::vector<cv::Vec4i>* lines);

// The same for exactly four caller-given bands (nothing otherwise).
void detectLineUsingRANSAC3(cv::Mat& edges, std::vector<cv::Rect> bands,
                            std::vector<cv::Vec4i>* lines);

// Border segments from the gradient and Hough lines of four bands given as
// left, right, top, bottom; walks top, bottom, left, right and stops at the
// first band without an acceptable line.
void detectLineUsingRANSAC4(cv::Mat& image, std::vector<cv::Rect> bands,
                            std::vector<cv::Vec4i>* lines);

// RANSAC fit of y = a·x + b with vertical residuals below threshold. When
// pts holds fewer distinct points than sampleSize, sampleSize < 1, or no
// point ever falls under the threshold, a and b are left unchanged.
void detectLineUsingRANSAC2(std::vector<cv::Point>& pts, double& a, double& b, int sampleSize,
                            int threshold);

}  // namespace utils
}  // namespace tarvek
