// Document-area detection: the searches that find a paper document's four
// corners in a photograph, validation of a found quadrangle, and rectification
// of the document inside it.
//
// Corners are four points in the order top-left, top-right, bottom-right,
// bottom-left, in the photograph's pixels.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "utils.h"

// Corners the caller already knows, one record type per corner. pt and
// verticalPt define the corner's vertical edge, pt and horizontalPt its
// horizontal edge; score -1 means the corner was not found.
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

namespace tarvek {
namespace documentarea {

// ---------------------------------------------------------------------------
// Searches. Each works on a copy of the photograph reduced to about 320
// pixels on its long side and appends the four corners, scaled back to the
// photograph with truncation, to out; the photograph is never modified. The
// Hough-line searches return 1 when the card check accepted the corners, 3
// when it rejected them (corners appended all the same) and 2 when nothing
// was found (out unchanged). Photographs that are empty, not 8-bit, not of
// one, three or four channels, under 16 pixels on a side or more than 20
// times longer than wide are not searched.
//
// aspectRatio is the document's expected height/width (0: not given);
// portraitRatio and landscapeRatio are the card check's reference ratios;
// accuracy, whRatio and maxAngleDiff receive the edge accuracy, the
// height/width ratio and the corner-angle difference of the result. equalize
// equalises the reduced photograph's histogram first; useDOC takes edges from
// a difference of Gaussians with a lower accuracy floor; onlyRect expects a
// card-like rectangle filling much of the picture.
// ---------------------------------------------------------------------------

// Edges of the grey photograph.
int find_using_gray_canny(cv::Mat& img, std::vector<cv::Point>& out, float aspectRatio, float portraitRatio,
                          float landscapeRatio, float& accuracy, float& whRatio, float& maxAngleDiff, bool equalize,
                          bool useDOC, bool onlyRect);

// Edges of the hue, saturation and value planes.
int find_using_hsv_canny(cv::Mat& img, std::vector<cv::Point>& out, float aspectRatio, float portraitRatio,
                         float landscapeRatio, float& accuracy, float& whRatio, float& maxAngleDiff, bool equalize,
                         bool useDOC, bool onlyRect);

// find_using_hsv_canny, also appending the side groups of border lines it formed the corners from.
int find_using_hsv_canny2(cv::Mat& img, std::vector<cv::Point>& out, float aspectRatio, float portraitRatio,
                          float landscapeRatio, float& accuracy, float& whRatio, float& maxAngleDiff, bool equalize,
                          bool useDOC, bool onlyRect, std::vector<cv::Vec2f>* left, std::vector<cv::Vec2f>* right,
                          std::vector<cv::Vec2f>* top, std::vector<cv::Vec2f>* bottom);

// Watershed boundary between the photograph's border and its centre, on a 320 x 240 (or 240 x 320)
// stretch of it; no card check. True when four corners were appended.
bool find_using_watershed_canny(cv::Mat& img, std::vector<cv::Point>& out, float& accuracy, float& whRatio,
                                float& maxAngleDiff);

// Runs the grey and the colour search and appends the better result (1, 3 or 2 as above).
int find_compare_grayCanny_hsvCanny(cv::Mat& img, std::vector<cv::Point>& out, float aspectRatio,
                                    float portraitRatio, float landscapeRatio, bool equalize, bool useDOC,
                                    bool onlyRect);

// The same, with find_using_hsv_canny2 as the colour search.
int find_compare_grayCanny_hsvCanny_IDCardVertices(cv::Mat& img, std::vector<cv::Point>& out, float aspectRatio,
                                                   float portraitRatio, float landscapeRatio, bool equalize,
                                                   bool useDOC, bool onlyRect);

// One border segment per side band of a watershed on a 320 x 240 stretch; mode 0 to 3 chooses the
// seed and band layout (0 also pushes the sides out to parallel structures, 2 takes the last
// flooded region's box). True when four corners were appended and form an acceptable rectangle;
// the corners stay appended when only that last check fails.
bool find(cv::Mat& img, int mode, std::vector<cv::Point>& out);

// Centres of the four widest solid dark square marks standing on a clear background, as top-left,
// top-right, bottom-right, bottom-left; nothing is appended unless four marks are found.
void findUsingAnchorPoint(cv::Mat& img, std::vector<cv::Point>& out);

// Preset height/width ratios of known formats. kind & 0xFF is the family (0: ID card 1.574/0.635,
// 1: 16:9 1.78/0.562, 2: A-series paper 1.414/0.707); kind & 0xF00 the orientation: 0x100 portrait
// (portraitRatio and aspectRatio), 0x200 landscape (landscapeRatio and aspectRatio), 0x300 either
// (portraitRatio and landscapeRatio). Anything else writes nothing.
void getBasicAspectRatio(int kind, float& aspectRatio, float& portraitRatio, float& landscapeRatio);

// Orders components widest first.
bool ccCompare(tarvek::ConnectedComponent a, tarvek::ConnectedComponent b);

// ---------------------------------------------------------------------------
// The page search: candidates at a reduced scale, ranked by how well edges of
// the full photo back their sides, each side then fitted to the grey step
// across it with sub-pixel precision.
// ---------------------------------------------------------------------------

struct FindOptions {
    // Height/width ratios the page may have as a flat rectangle (e.g. 1.414 and 0.707 for an A4
    // page either way up); empty: any shape. A quadrangle that shows none of them is not the page.
    std::vector<float> pageRatios;
    // Long side, in pixels, of the reduced copy that the candidates come from.
    int workingSide = 400;
};

struct FoundDocument {
    // Top-left, top-right, bottom-right, bottom-left, in the photo's pixels with sub-pixel
    // precision; a page cut by the photo's edge has corners outside it.
    std::array<cv::Point2f, 4> corners;
    // How clearly edges in the photo back the four sides, 0 to 1.
    double confidence = 0;
};

// The page in the photo, or nothing when no quadrangle is backed well enough by edges. Photos
// the other searches do not read (empty, not 8-bit, not of one, three or four channels, too
// small or too elongated) give nothing.
std::optional<FoundDocument> findDocument(const cv::Mat& photo, const FindOptions& options = {});

// ---------------------------------------------------------------------------
// Validation. W and H are the photograph's width and height; portraitRatio
// and landscapeRatio are reference height/width ratios, 0 meaning not given.
// ---------------------------------------------------------------------------

// Whether the quadrangle is a plausible photographed card or document:
// inside the image, at least an eighth of it, corner angles within 40 degrees
// of square, and side, diagonal and ratio tests that grow stricter with the
// number of corners within 5 degrees of square.
bool checkRectIdCard(int W, int H, const std::vector<cv::Point>& corners, float portraitRatio,
                     float landscapeRatio, bool onlyRect);

// checkRectIdCard with the confirmed corner records (score not -1) taken into
// account: a quadrangle far from them is held to stricter bounds or rejected.
bool checkRectIdCard2(int W, int H, const std::vector<cv::Point>& corners, const vertLT& lt, const vertRT& rt,
                      const vertRB& rb, const vertLB& lb, float portraitRatio, float landscapeRatio,
                      bool onlyRect);

// False when the confirmed corner records (score not -1) describe a clearly
// better rectangle than the quadrangle: three or more of them, or all of at
// least two, lie more than 5 % of a side away from its corners, or the corners
// they move make the sides or diagonals more balanced by more than 0.05, or
// fit the reference ratio clearly better (both ratios when both are given).
// W, H and onlyRect are not used.
bool checkRectIdCard3(int W, int H, const std::vector<cv::Point>& corners, const vertLT& lt, const vertRT& rt,
                      const vertRB& rb, const vertLB& lb, float portraitRatio, float landscapeRatio,
                      bool onlyRect);

// Direction of the camera's tilt: 1 none, 2 not four corners, 7 right corners
// wider than the left ones, 8 bottom wider than top, 9 left wider than right,
// 10 top wider than bottom, 11 a corner angle outside 80 to 100 degrees.
int checkRectDirection(const std::vector<cv::Point>& corners);

// (left + right side) / (top + bottom side) of the quadrangle, the sides
// truncated to whole pixels; 0 unless there are four corners.
float getWHRatio(const std::vector<cv::Point>& corners);

// Height/width ratio of the real rectangle whose perspective image the
// corners are, for a camera centred on the width x height photograph;
// getWHRatio where two sides show no perspective, 0 unless four corners.
float getAspectRatio(const std::vector<cv::Point>& corners, int width, int height);

// ---------------------------------------------------------------------------
// Rectification
// ---------------------------------------------------------------------------

// dst becomes the quadrangle of src warped to a width x height image (corner
// 0 to (0, 0), corner 2 to (width, height)), black where the quadrangle
// reaches beyond src. Not exactly four corners, a quadrangle that is not
// strictly convex (coincident or collinear corners, crossing sides, a
// re-entrant corner), a non-positive size or an empty src leaves dst empty.
void getPerspectiveImage(cv::Mat& src, cv::Mat& dst, const std::vector<cv::Point>& corners, int width,
                         int height);

}  // namespace documentarea
}  // namespace tarvek
