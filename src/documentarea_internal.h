// Global-scope helpers, records and tuning constants of the document-area
// detector (src/documentarea/), shared by its stages and its tests.
#pragma once

#include <cmath>
#include <vector>

#include <opencv2/core.hpp>

#include "documentarea.h"

// ---------------------------------------------------------------------------
// Tuning constants. The *ONLY_RECT set is the stricter one used when the
// caller expects a card-like rectangle filling much of the picture.
// ---------------------------------------------------------------------------

const int GROUP_LINE_MIN_SIZE = 10;
const int SIMILAR_HOUGH_LINE_TOLERANCE = 10;
const int LINE_GAP_SIZE = 5;
const float HANDICAP = 0.0833333f;  // 1/12, per borrowed image-border side

const float DEGREE_0 = 0.0f;
const float DEGREE_90 = 90.0f;
const float DEGREE_180 = 180.0f;

const int RESIZE_WIDTH = 320;

const float MIN_EDGE_ACCURACY = 0.6f;
const float MIN_EDGE_ACCURACY2 = 0.5f;

const float VERTICAL_LINE_RATIO = 0.3f;
const float HORIZONTAL_LINE_RATIO = 0.3f;
const float AREA_RATIO = 0.125f;
const int VERTICAL_LINE_DEGREE_TOLERANCE = 30;
const int HORIZONTAL_LINE_DEGREE_TOLERANCE = 20;
const int INCLUDED_ANGLE_TOLERANCE = 40;
const float PARALLEL_VERTICAL_LINE_RATIO = 0.6f;
const float PARALLEL_HORIZONTAL_LINE_RATIO = 0.6f;
const float DIAGONAL_LINE_RATIO = 0.7f;
const float ASPECT_RATIO_PERCENT = 0.65f;

const float VERTICAL_LINE_RATIO_ONLY_RECT = 0.6f;
const float HORIZONTAL_LINE_RATIO__ONLY_RECT = 0.6f;
const float AREA_RATIO__ONLY_RECT = 0.36f;
const int VERTICAL_LINE_DEGREE_TOLERANCE__ONLY_RECT = 15;
const int HORIZONTAL_LINE_DEGREE_TOLERANCE__ONLY_RECT = 10;
const int INCLUDED_ANGLE_TOLERANCE__ONLY_RECT = 15;
const float PARALLEL_VERTICAL_LINE_RATIO__ONLY_RECT = 0.9f;
const float PARALLEL_HORIZONTAL_LINE_RATIO__ONLY_RECT = 0.8f;
const float DIAGONAL_LINE_RATIO__ONLY_RECT = 0.9f;
const float ASPECT_RATIO_PERCENT__ONLY_RECT = 0.85f;

// ---------------------------------------------------------------------------
// Records (the corner records vertLT, vertRT, vertRB and vertLB are public,
// in documentarea.h)
// ---------------------------------------------------------------------------

// A candidate quadrangle kept for the second ranking pass.
struct Quad {
    float maxAngleDiff;  // larger of the two opposite-corner angle differences, degrees
    float accuracy;      // edge accuracy, 0 to 1
    int area;            // absolute polygon area of the vertices, pixels
    std::vector<cv::Vec2f> lines;       // forming lines: left, right, top, bottom
    std::vector<cv::Point2f> vertices;  // top-left, top-right, bottom-right, bottom-left
};

// A plain 2-D vector; angle() of a zero-length vector is NaN, which the
// callers' range tests reject.
template <typename T>
class Vector2D {
public:
    T x;
    T y;

    Vector2D(const T& x_, const T& y_) : x(x_), y(y_) {}
    virtual ~Vector2D() = default;

    Vector2D operator-(const Vector2D& other) const { return Vector2D(x - other.x, y - other.y); }

    // Dot product.
    T operator*(const Vector2D& other) const { return x * other.x + y * other.y; }

    T norm() const { return std::sqrt(x * x + y * y); }

    // Included angle in radians, [0, pi].
    static T angle(const Vector2D& a, const Vector2D& b) { return std::acos((a * b) / (b.norm() * a.norm())); }
};

namespace tarvek::documentarea {

// Whether the photograph is one the searches read: 8-bit with one, three or four channels, at
// least 16 pixels on each side and at most 20 times longer than wide.
bool searchable(const cv::Mat& img);

}  // namespace tarvek::documentarea

// ---------------------------------------------------------------------------
// Line and point geometry. Lines are (rho, theta) with
// x*cos(theta) + y*sin(theta) = rho, theta in [0, pi).
// ---------------------------------------------------------------------------

float thetaToDegree(float theta);

// Comparators used to rank candidates.
bool selectAspectRatioDiffSmaller(float a, float b);
bool selectAccuracyBigger(float a, float b);
bool selectAngleDiffSmaller(float a, float b);
bool lineAccCompare(cv::Vec3f a, cv::Vec3f b);

// Inequality test; called with the same value twice it tells NaN apart.
template <typename T>
bool isnan(T a, T b)
{
    return a != b;
}

float getYIntercept(float x, float y, float slope);
float getSlope(cv::Point2f a, cv::Point2f b);
float getSlope2(cv::Vec4f seg);
bool checkSlope(float ref, float s);

cv::Vec3f cross(cv::Vec3f a, cv::Vec3f b, bool normalize);
cv::Vec3f gethomoline(cv::Vec4i seg);
bool isbetween(cv::Vec3f p, cv::Vec3f a, cv::Vec3f b);

bool getIntersectPoint(const cv::Point& p1, const cv::Point& p2, const cv::Point& p3, const cv::Point& p4,
                       cv::Point* out);
double minDistLineAndPoint(int px, int py, int x1, int y1, int x2, int y2);
cv::Vec2f pointsToRhoTheta(double x1, double x2, double y1, double y2);

// v rounded to two decimals as floor(v * 100 + 0.5) / 100 in double, stored as float.
float roundToHundredths(double v);

// Included angle, in degrees, at corner k of the quadrangle q between the directions to its two
// neighbours (indices modulo 4).
float cornerAngle(const std::vector<cv::Point2f>& q, int k);

bool checkLineDegree(cv::Vec2f line, bool vertical, bool onlyRect);
bool orderPoints(std::vector<cv::Point2f>& pts);
bool orderPoints2(std::vector<cv::Point2f>& pts);
// Whether a point truncated to int lies inside the image, or outside it by less than a twentieth of
// the width or height with margin; checkPointRange asks it of every point.
bool pointInRange(cv::Point2f p, int width, int height, bool margin);
bool checkPointRange(std::vector<cv::Point2f>& pts, int width, int height, bool margin);

// ---------------------------------------------------------------------------
// Edge maps: 8-bit one-channel images of the source's size, edge pixels 255.
// ---------------------------------------------------------------------------

// dst = src (BGR, or converted to it) with its luminance histogram equalised.
bool equalizeHistForColor(cv::Mat& src, cv::Mat& dst);

// Zeroes the central rectangle of img, leaving a band of 30 % of the size on each side.
bool removeCenterEdge(cv::Mat& img);

// Keeps the 8-connected edge components of src (converted to grey in place) whose bounding box
// reaches cols / divisor in width or rows / divisor in height, or only the one with the most pixels.
// False, with dst unwritten, when nothing is kept; a divisor of 0 keeps nothing.
bool filterSmallEdge(cv::Mat& src, cv::Mat& dst, int divisor, bool keepLargestOnly);

// Grey Canny edges without the components enclosed by the largest outline and without small ones.
bool detectEdgeUsingCanny(cv::Mat& src, cv::Mat& dst);

// Watershed boundary between a border seed and a centre seed, added to the large Canny components.
bool detectEdgeUsingWatershedAndCanny(cv::Mat& src, cv::Mat& dst);

// Union of the filtered Canny edges of the hue, saturation and value planes; src becomes BGR.
bool detectEdgeUsingCannyInHSV(cv::Mat& src, cv::Mat& dst);

// Canny edges of the thresholded difference of a 7x7 and a 19x19 Gaussian blur.
bool detectEdgeUsingDOC(cv::Mat& src, cv::Mat& dst);

// ---------------------------------------------------------------------------
// Border-line candidates: Hough lines, duplicate removal and grouping into the
// sides left, right, top and bottom. Grouping appends to the side vectors.
// ---------------------------------------------------------------------------

// The 2000-pixel segment of a (rho, theta) line centred on the foot of its normal, end points
// rounded to int: first rho·(c, s) + 1000·(−s, c), then rho·(c, s) − 1000·(−s, c).
void probeSegment(const cv::Vec2f& line, cv::Point& first, cv::Point& second);

// Standard Hough transform over all angles, threshold min(rows, cols) / 5.
void detectHoughLines(cv::Mat& edges, std::vector<cv::Vec2f>* lines);

// Whole-degree angle indices near vertical (0 and 180) and horizontal (90) normals, for the
// general or the only-rect tolerances: 100 or 50 angles.
std::vector<int> borderLineAngles(bool onlyRect);

// Angle-restricted Hough transform at borderLineAngles, threshold min(rows, cols) / divisor;
// lines (rho, theta, votes) sorted most votes first.
void detectOptimalHoughLines(cv::Mat& edges, std::vector<cv::Vec3f>* lines, int divisor, bool onlyRect);

// Each keeps the first of every group of lines close to it, in list order: close in |rho| and in
// degrees; in |rho| only; in the absolute third value.
void removeSimilarHoughLines(std::vector<cv::Vec2f>* lines, int tolerance);
void removeCloseHoughLinesUsingRho(std::vector<cv::Vec2f>* lines, int tolerance);
void removeCloseHoughLinesUsingDHS(std::vector<cv::Vec3f>* lines, int tolerance);

// Sides by |rho| against the image's first and last column or row; may fill only some sides.
void getGroupingLinesUsingRho(int W, int H, std::vector<cv::Vec2f>& lines, std::vector<cv::Vec2f>* left,
                              std::vector<cv::Vec2f>* right, std::vector<cv::Vec2f>* top,
                              std::vector<cv::Vec2f>* bottom);

// Sides by distance to the midpoints of the image edges, thinned by |rho|; may fill only some sides.
void getGroupingLinesUsingDHS_FilteringRho(int W, int H, std::vector<cv::Vec2f>& lines,
                                           std::vector<cv::Vec2f>* left, std::vector<cv::Vec2f>* right,
                                           std::vector<cv::Vec2f>* top, std::vector<cv::Vec2f>* bottom);

// Sides by distance to the midpoints of the image edges, thinned by that distance; fills all four
// sides or none.
void getGroupingLinesUsingDHS(int W, int H, std::vector<cv::Vec2f>& lines, std::vector<cv::Vec2f>* left,
                              std::vector<cv::Vec2f>* right, std::vector<cv::Vec2f>* top,
                              std::vector<cv::Vec2f>* bottom);

// ---------------------------------------------------------------------------
// Quadrangle formation: every combination of one line per side group (left,
// right, top, bottom) is intersected into corners, screened and scored; the
// result is the best four corners (top-left, top-right, bottom-right,
// bottom-left) or empty.
// ---------------------------------------------------------------------------

// Appends the crossings left∩top, left∩bottom, right∩top, right∩bottom of four lines (left, right,
// top, bottom), or nothing unless all four probe segments cross.
void get_boundary_vertices3(std::vector<cv::Vec2f> lines, std::vector<cv::Point2f>& out);

// Number of positions sampled along a–b (one per row of a steep side, one per column of a shallow
// one) with an edge pixel within ±band across the side.
int calcEdgeCount(cv::Mat& edges, cv::Point2f a, cv::Point2f b, int band);

// The same walk: *total counts the positions whose centre lies in the image, *count the
// edge-backed ones.
void calcEdgeCount2(cv::Mat& edges, cv::Point2f a, cv::Point2f b, int band, int* total, int* count);

// Fraction of edge-backed positions along a line across the whole image.
float getLineAccuracy(cv::Mat edges, cv::Vec2f line, bool vertical);

// Screened by geometry (general or only-rect bounds), scored by edge support rounded to two
// decimals; accuracyOut and angleDiffOut describe the result (0 when it is empty). keepCandidates
// lets a larger near-best candidate win a second pass; relaxed lowers the accuracy floor.
std::vector<cv::Point2f> getQuadrangleFormation_usingQUAD(cv::Mat& edges, std::vector<cv::Vec2f>& left,
                                                          std::vector<cv::Vec2f>& right,
                                                          std::vector<cv::Vec2f>& top,
                                                          std::vector<cv::Vec2f>& bottom, float& accuracyOut,
                                                          float& angleDiffOut, float aspectRatio, bool relaxed,
                                                          bool keepCandidates, bool onlyRect);

// Adds to the groups the side lines of the confirmed corner records (scaled by scale) and scores
// candidates by squareness, aspect agreement and distance to those corners.
std::vector<cv::Point2f> getQuadrangleFormation_usingVertices(int W, int H, float scale, vertLT lt, vertRT rt,
                                                              vertRB rb, vertLB lb,
                                                              std::vector<cv::Vec2f>& left,
                                                              std::vector<cv::Vec2f>& right,
                                                              std::vector<cv::Vec2f>& top,
                                                              std::vector<cv::Vec2f>& bottom, float aspectRatio,
                                                              bool onlyRect);

// Lets up to two sides be the image border (appended to the groups), each borrowed side costing
// HANDICAP in accuracy; appends the four chosen lines to linesOut.
std::vector<cv::Point2f> getQuadrangleFormation_includeCroppedImage(cv::Mat& edges, std::vector<cv::Vec2f>& left,
                                                                    std::vector<cv::Vec2f>& right,
                                                                    std::vector<cv::Vec2f>& top,
                                                                    std::vector<cv::Vec2f>& bottom,
                                                                    std::vector<cv::Vec2f>* linesOut);

// ---------------------------------------------------------------------------
// Corners from border segments (x1, y1, x2, y2), given as left, right, top,
// bottom; outward expansion of the found sides; the rectangle check.
// ---------------------------------------------------------------------------

// Appends (x, y, 0) for left∩top, left∩bottom, right∩top, right∩bottom, or nothing unless there are
// exactly four segments and all four pairs cross.
void get_boundary_vertices2(std::vector<cv::Vec4i>& segs, std::vector<cv::Vec3f>& out);

// Appends four of the six crossings of the segments' lines (homogeneous, third value 1) as a cycle
// around the quadrangle, the first and third opposite; parallel sides meet at infinity (a crossing
// there would have third value 0). Nothing unless there are exactly four segments.
void get_boundary_vertices(std::vector<cv::Vec4i>& segs, std::vector<cv::Vec3f>& out);

// Makes an 8-bit img grey in place (BGR or BGRA); with four corners also binarises it (threshold 100)
// and moves each side of the quadrangle outward to a parallel structure beyond it, where there is
// one. An empty, non-8-bit or two-channel img is left alone, and so are NaN corners or corners
// beyond ±5e8.
void expand_vertices(cv::Mat& img, std::vector<cv::Point2f>& corners);

// Moves a top or bottom side a–b up (step -1) or down (+1) along the left (segs[3]) and right
// (segs[1]) side lines of the binary bin; both points move or neither.
void expandVerticalPoint(cv::Mat& bin, std::vector<cv::Vec4i> segs, cv::Point2f& a, cv::Point2f& b, int step);

// Moves a left or right side a–b left (-1) or right (+1) along the top (segs[0]) and bottom
// (segs[2]) side lines of the binary bin; both points move or neither.
void expandHorizontalPoint(cv::Mat& bin, std::vector<cv::Vec4i> segs, cv::Point2f& a, cv::Point2f& b, int step);

// Whether the corners form an acceptable rectangle in a W x H image: a quarter of its area,
// corner angles of 60 degrees or more, sides longer than a fifth of the shorter image side and a
// diagonal ratio C0C2 / C1C3, rounded to one decimal, from 0.8 to 1.2.
bool checkRect(int W, int H, std::vector<cv::Point2f>& corners);
