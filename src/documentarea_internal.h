// Global-scope helpers, records and tuning constants of the document-area
// detector, shared by documentarea.cpp and its tests.
#pragma once

#include <cmath>
#include <vector>

#include <opencv2/core.hpp>

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
// Records
// ---------------------------------------------------------------------------

// A candidate quadrangle kept for the second ranking pass.
struct Quad {
    float maxAngleDiff;  // larger of the two opposite-corner angle differences, degrees
    float accuracy;      // edge accuracy, 0 to 1
    int area;            // absolute polygon area of the vertices, pixels
    std::vector<cv::Vec2f> lines;       // forming lines: left, right, top, bottom
    std::vector<cv::Point2f> vertices;  // top-left, top-right, bottom-right, bottom-left
};

// Known corners supplied by the caller. pt and verticalPt define the corner's
// vertical edge, pt and horizontalPt its horizontal edge; score -1 means the
// corner was not found.
struct vertLT {
    cv::Point pt;
    cv::Point verticalPt;
    cv::Point horizontalPt;
    double score;
};

struct vertRT {
    cv::Point pt;
    cv::Point verticalPt;
    cv::Point horizontalPt;
    double score;
};

struct vertRB {
    cv::Point pt;
    cv::Point verticalPt;
    cv::Point horizontalPt;
    double score;
};

struct vertLB {
    cv::Point pt;
    cv::Point verticalPt;
    cv::Point horizontalPt;
    double score;
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

bool checkLineDegree(cv::Vec2f line, bool vertical, bool onlyRect);
bool orderPoints(std::vector<cv::Point2f>& pts);
bool orderPoints2(std::vector<cv::Point2f>& pts);
bool checkPointRange(std::vector<cv::Point2f>& pts, int width, int height, bool margin);
