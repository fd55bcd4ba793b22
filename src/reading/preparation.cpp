#include "reading/preparation.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "binarization.h"
#include "document_search.h"
#include "documentarea.h"
#include "reading/engine.h"
#include "utils.h"

namespace tarvek::reading {

namespace {

// Smaller images hold no line of text.
constexpr int MIN_SIDE = 8;
// A page search answer below this confidence is not trusted: the image is read as given.
constexpr double MIN_PAGE_CONFIDENCE = 0.5;
// A page covering this much of the image already is the image (a scan cropped to it).
constexpr double WHOLE_IMAGE_SHARE = 0.85;
// A smaller quadrangle is something printed on the page.
constexpr double MIN_PAGE_SHARE = 0.15;
// The bright sheet is looked for on a copy this long, and must fill this much of its rectangle.
constexpr double SHEET_SEARCH_SIDE = 600;
constexpr double MIN_SHEET_FILL = 0.85;
// Scales outside this range would only magnify noise or lose the letters.
constexpr double MIN_SCALE = 0.2, MAX_SCALE = 4.0;
// Printed pages are mostly paper; a page with more ink than this is noise, not text, and
// would hold Tesseract's layout analysis (which no deadline stops) for many seconds.
constexpr double MAX_INK_SHARE = 0.3;
// Ink components of at most this many pixels are specks.
constexpr int MAX_SPECK_AREA = 4;
// Three signs of noise rather than print, whose many thousands of pieces would hold Tesseract's
// layout analysis (its search for pictures above all) far past any deadline:
// - more pieces above speck size than a page of letters holds: letters 0.6 of their height wide
//   on lines 1.2 heights apart, in up to four pieces each (Hangul syllables, broken strokes);
// - dots (above speck size, under half the letter height) outnumbering letter-sized
//   pieces many times over, by the thousand. Punctuation, the dots of i and j and a scan's dirt
//   stay far below that (at most about two dots per letter on the receipt scans);
// - specks by the ten thousand, many times more than all other pieces. Faint thermal print
//   breaks into specks too, and a grainy scan has tens of thousands, but about eight for each
//   larger piece at most.
constexpr double MAX_PIECES_PER_LETTER_AREA = 4 / (0.6 * 1.2);
constexpr int MIN_NOISE_DOTS = 2000;
constexpr int MAX_DOTS_PER_LETTER = 8;
constexpr int MIN_NOISE_SPECKS = 50000;
constexpr int MAX_SPECKS_PER_PIECE = 20;
// Letter-like ink components: their larger side in this range, their smaller at least 2.
constexpr int MIN_LETTER_SIDE = 6, MAX_LETTER_SIDE = 400;
// The share of letter components at or below the height taken: high enough that
// capitals, digits and whole Hangul syllables decide it rather than dots and lowercase.
constexpr double LETTER_QUANTILE = 0.75;
// Skew is searched in these steps; ink pixels are sampled to at most this many.
constexpr double SKEW_STEP = 0.2;
constexpr size_t MAX_SKEW_SAMPLES = 200000;

cv::Matx33d affine3(const cv::Mat& affine)
{
    cv::Matx33d m = cv::Matx33d::eye();
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            m(r, c) = affine.at<double>(r, c);
    return m;
}

double quadArea(const std::array<cv::Point2f, 4>& corners)
{
    return cv::contourArea(std::vector<cv::Point2f>(corners.begin(), corners.end()));
}

// The page search's answer when it is confident and plausibly the page: a quadrangle covering
// nearly the whole photo already is the photo (a scan cropped to the page), and a small one is
// a box printed on the page rather than the page.
std::optional<std::array<cv::Point2f, 4>> searchedPage(const cv::Mat& image)
{
    const auto found = documentarea::findDocument(image);
    if (!found || found->confidence < MIN_PAGE_CONFIDENCE)
        return std::nullopt;
    const double share = quadArea(found->corners) / double(image.total());
    if (share < MIN_PAGE_SHARE || share >= WHOLE_IMAGE_SHARE)
        return std::nullopt;
    return found->corners;
}

// The largest bright region of the masked pixels (Otsu's threshold over them), when it fills
// its turned bounding rectangle like a sheet; its pixels replace the mask.
std::optional<cv::RotatedRect> brightestSheet(const cv::Mat& small, cv::Mat& mask)
{
    // Otsu's threshold over the masked pixels only.
    cv::Mat labels, stats, centroids;
    std::vector<uchar> values;
    values.reserve(cv::countNonZero(mask));
    for (int y = 0; y < small.rows; ++y) {
        const uchar* pixel = small.ptr<uchar>(y);
        const uchar* in = mask.ptr<uchar>(y);
        for (int x = 0; x < small.cols; ++x)
            if (in[x])
                values.push_back(pixel[x]);
    }
    if (values.empty())
        return std::nullopt;
    cv::Mat ignored;
    const double threshold = cv::threshold(cv::Mat(values), ignored, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    cv::Mat bright = (small > threshold) & mask;
    // Closing fills the print on the sheet, so that it is one region.
    cv::morphologyEx(bright, bright, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(9, 9)));
    const int count = cv::connectedComponentsWithStats(bright, labels, stats, centroids, 4, CV_32S);
    int largest = 0;
    for (int i = 1; i < count; ++i)
        if (largest == 0 || stats.at<int>(i, cv::CC_STAT_AREA) > stats.at<int>(largest, cv::CC_STAT_AREA))
            largest = i;
    if (largest == 0)
        return std::nullopt;
    const double area = stats.at<int>(largest, cv::CC_STAT_AREA);
    const double share = area / double(cv::countNonZero(mask));
    std::vector<cv::Point> points;
    cv::findNonZero(labels == largest, points);
    const cv::RotatedRect sheet = cv::minAreaRect(points);
    if (share < MIN_PAGE_SHARE || share >= WHOLE_IMAGE_SHARE || area < MIN_SHEET_FILL * sheet.size.area())
        return std::nullopt;
    mask = labels == largest;
    return sheet;
}

// A sheet of paper brighter than a plain background around it (a receipt on a scanner's lid or
// a table). Looked for again inside the sheet found, as a white receipt on grey card on a black
// lid makes two steps of brightness.
std::optional<std::array<cv::Point2f, 4>> brightSheet(const cv::Mat& grey)
{
    // The copy keeps at least a pixel across, which a long narrow image would otherwise lose.
    const double scale = std::min(1.0, std::max(SHEET_SEARCH_SIDE / double(std::max(grey.cols, grey.rows)),
                                                1.0 / std::min(grey.cols, grey.rows)));
    cv::Mat small;
    cv::resize(grey, small, cv::Size(), scale, scale, cv::INTER_AREA);
    cv::Mat mask(small.size(), CV_8U, cv::Scalar(255));
    std::optional<cv::RotatedRect> sheet;
    for (int step = 0; step < 2; ++step) {
        const auto inner = brightestSheet(small, mask);
        if (!inner)
            break;
        sheet = inner;
    }
    if (!sheet)
        return std::nullopt;
    cv::Point2f corners[4];
    sheet->points(corners);
    std::vector<cv::Point2f> ordered = documentsearch::inCornerOrder(std::vector<cv::Point2f>(corners, corners + 4));
    std::array<cv::Point2f, 4> result;
    for (int i = 0; i < 4; ++i)
        result[i] = ordered[i] * (1.0 / scale);
    return result;
}

// The page found in the working copy of the photo (`reduction` times smaller), flattened, with
// the transform from its pixels to the photo's; empty when no page is found.
cv::Mat flattened(const cv::Mat& image, const cv::Mat& grey, double reduction, PreparedPage& out)
{
    if (image.cols >= documentsearch::warpRegionLimit || image.rows >= documentsearch::warpRegionLimit)
        return {};
    auto found = searchedPage(image);
    if (!found)
        found = brightSheet(grey);
    if (!found)
        return {};
    const std::vector<cv::Point> corners =
        documentsearch::wholePixels(std::vector<cv::Point2f>(found->begin(), found->end()));
    const cv::Size size = documentsearch::pageSize(corners, image.size(), {});
    if (size.empty() || !documentsearch::fitsTheWarp(corners, image.size()))
        return {};
    cv::Mat page = documentsearch::flattenedPage(grey, corners, size);
    if (page.empty())
        return {};
    const cv::Point2f pagePoints[] = {{0, 0}, {float(size.width), 0}, {float(size.width), float(size.height)},
                                      {0, float(size.height)}};
    const cv::Point2f imagePoints[] = {corners[0], corners[1], corners[2], corners[3]};
    out.toImage = out.toImage * cv::Matx33d(cv::getPerspectiveTransform(pagePoints, imagePoints));
    out.pageFound = true;
    for (int i = 0; i < 4; ++i)
        out.corners[i] = documentsearch::inFullPixels((*found)[i], reduction);
    return page;
}

// Ink pixels of a binary page, every n-th so that at most MAX_SKEW_SAMPLES remain.
std::vector<cv::Point> inkSamples(const cv::Mat& binary)
{
    const size_t ink = binary.total() - static_cast<size_t>(cv::countNonZero(binary));
    const size_t stride = std::max<size_t>(1, ink / MAX_SKEW_SAMPLES);
    std::vector<cv::Point> samples;
    samples.reserve(std::min(ink, MAX_SKEW_SAMPLES) + 1);
    size_t seen = 0;
    for (int y = 0; y < binary.rows; ++y) {
        const uchar* row = binary.ptr<uchar>(y);
        for (int x = 0; x < binary.cols; ++x)
            if (row[x] == 0 && seen++ % stride == 0)
                samples.emplace_back(x, y);
    }
    return samples;
}

// How sharply the samples fall into rows when projected at the angle: the sum of
// squared counts per row, which is largest when text lines project onto few rows.
double rowSharpness(const std::vector<cv::Point>& samples, double degrees, int rows, int cols)
{
    const double a = degrees * CV_PI / 180.0, s = std::sin(a), c = std::cos(a);
    const int margin = static_cast<int>(std::ceil(cols * std::abs(s))) + 1;
    std::vector<int> counts(rows + 2 * margin + 2, 0);
    for (const cv::Point& p : samples) {
        const int row = static_cast<int>(std::lround(-s * p.x + c * p.y)) + margin;
        if (row >= 0 && row < static_cast<int>(counts.size()))
            ++counts[row];
    }
    double sharpness = 0;
    for (int count : counts)
        sharpness += double(count) * count;
    return sharpness;
}

// The page turned by the skew angle on a canvas grown to hold all of it, so that no line end
// is cut off; toImage takes on the turn.
cv::Mat levelled(const cv::Mat& page, double skew, cv::Matx33d& toImage)
{
    const cv::Point2f centre(page.cols / 2.0f, page.rows / 2.0f);
    cv::Mat rotation = cv::getRotationMatrix2D(centre, skew, 1.0);
    const cv::Rect2f bounds = cv::RotatedRect(centre, page.size(), float(skew)).boundingRect2f();
    rotation.at<double>(0, 2) += bounds.width / 2 - centre.x;
    rotation.at<double>(1, 2) += bounds.height / 2 - centre.y;
    cv::Mat level;
    cv::warpAffine(page, level, rotation, cv::Size(cvRound(bounds.width), cvRound(bounds.height)), cv::INTER_LINEAR,
                   cv::BORDER_REPLICATE);
    toImage = toImage * affine3(rotation).inv();
    return level;
}

double inkShare(const cv::Mat& binary)
{
    return 1.0 - cv::countNonZero(binary) / double(binary.total());
}

// The ink pieces of a page: specks, dots under half the letter height, and larger.
struct InkPieces {
    int specks = 0;
    int dots = 0;
    int letters = 0;
};

// Counts the ink pieces of a binary page (ink 0).
InkPieces inkPieces(const cv::Mat& binary, int letterHeight)
{
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(binary == 0, labels, stats, centroids, 8, CV_32S);
    InkPieces pieces;
    for (int i = 1; i < count; ++i) {
        const int side = std::max(stats.at<int>(i, cv::CC_STAT_WIDTH), stats.at<int>(i, cv::CC_STAT_HEIGHT));
        ++(stats.at<int>(i, cv::CC_STAT_AREA) <= MAX_SPECK_AREA ? pieces.specks
           : 2 * side < letterHeight                          ? pieces.dots
                                                              : pieces.letters);
    }
    return pieces;
}

bool noiseLike(const InkPieces& pieces, cv::Size page, int letterHeight)
{
    const double letterArea = double(letterHeight) * letterHeight;
    const int larger = pieces.dots + pieces.letters;
    return larger > MAX_PIECES_PER_LETTER_AREA * page.area() / letterArea ||
           (pieces.dots > MIN_NOISE_DOTS && pieces.dots > MAX_DOTS_PER_LETTER * pieces.letters) ||
           (pieces.specks > MIN_NOISE_SPECKS && pieces.specks > MAX_SPECKS_PER_PIECE * larger);
}

bool isNoise(const cv::Mat& ink, int letterHeight)
{
    return inkShare(ink) > MAX_INK_SHARE || noiseLike(inkPieces(ink, letterHeight), ink.size(), letterHeight);
}

cv::Mat otsuOf(const cv::Mat& grey)
{
    cv::Mat binary;
    cv::threshold(grey, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    return binary;
}

// Whether the deadline has passed, which the page records; the stages look before they start.
bool stopped(const Deadline& deadline, PreparedPage& out)
{
    out.cutShort = deadline.passed();
    return out.cutShort;
}

std::string tooLong(cv::Size page, double letters)
{
    return "the page (" + std::to_string(page.width) + " x " + std::to_string(page.height) +
           " pixels) is too long for the engine: scaled to its " + std::to_string(MAX_PREPARED_SIDE) +
           " pixels a side, its letters would be " + std::to_string(int(letters)) + " pixels high, under the " +
           std::to_string(MIN_READABLE_LETTERS) + " it reads; cut the image into shorter parts";
}

} // namespace

bool readable(const cv::Mat& image)
{
    return !image.empty() && image.rows >= MIN_SIDE && image.cols >= MIN_SIDE && image.depth() == CV_8U &&
           (image.channels() == 1 || image.channels() == 3 || image.channels() == 4) && image.dims == 2;
}

int medianLetterHeight(const cv::Mat& binary)
{
    cv::Mat ink = binary == 0, labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_32S);
    std::vector<int> heights;
    for (int i = 1; i < count; ++i) {
        const int w = stats.at<int>(i, cv::CC_STAT_WIDTH), h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
        const int larger = std::max(w, h), smaller = std::min(w, h);
        if (larger >= MIN_LETTER_SIDE && larger <= MAX_LETTER_SIDE && smaller >= 2)
            heights.push_back(larger);
    }
    if (heights.empty())
        return 0;
    auto at = heights.begin() + static_cast<long>(LETTER_QUANTILE * (heights.size() - 1));
    std::nth_element(heights.begin(), at, heights.end());
    return *at;
}

double skewAngle(const cv::Mat& binary)
{
    const std::vector<cv::Point> samples = inkSamples(binary);
    double best = 0, bestSharpness = -1;
    for (double degrees = -MAX_SKEW; degrees <= MAX_SKEW + 1e-9; degrees += SKEW_STEP) {
        const double sharpness = rowSharpness(samples, degrees, binary.rows, binary.cols);
        // Ties keep the angle closest to level.
        if (sharpness > bestSharpness || (sharpness == bestSharpness && std::abs(degrees) < std::abs(best))) {
            bestSharpness = sharpness;
            best = degrees;
        }
    }
    return best;
}

cv::Mat binarized(const cv::Mat& grey, Binarization binarization, int letterHeight)
{
    cv::Mat source = grey, result;
    switch (binarization) {
    case Binarization::Grey:
        return grey;
    case Binarization::Otsu:
        binarization::otsu(source, result);
        break;
    case Binarization::AdaptiveOtsu:
        binarization::adaptiveOtsu(source, result, 4 * letterHeight);
        break;
    case Binarization::Sauvola:
        // A window of about two letters sees paper around every stroke.
        binarization::sauvola(source, result, 2 * letterHeight | 1, 0.2, 128, false);
        break;
    case Binarization::MultiscaleSauvola:
        binarization::multiScaleSauvola(source, result, 2 * letterHeight | 1, 0.2, 128, 4, false, 16);
        break;
    }
    return result.empty() ? grey : result;
}

WorkingCopy workingCopy(const cv::Mat& image)
{
    const double reduction = std::sqrt(image.total() / MAX_WORKING_PIXELS);
    if (reduction <= 1)
        return {image};
    // Whole blocks first, which OpenCV averages several times faster than a fractional area
    // (0.4 s instead of 1.4 s for 16384 x 16384 pixels of colour), then the fraction left.
    // Given as factors, both map pixel edges by exactly that factor.
    const int blocks = static_cast<int>(reduction);
    cv::Mat averaged = image;
    if (blocks > 1)
        cv::resize(image, averaged, cv::Size(), 1.0 / blocks, 1.0 / blocks, cv::INTER_AREA);
    WorkingCopy copy{cv::Mat(), reduction};
    cv::resize(averaged, copy.image, cv::Size(), blocks / reduction, blocks / reduction, cv::INTER_AREA);
    return copy;
}

LetterScaled scaledToLetters(const cv::Mat& grey, const Preparation& how)
{
    const int height = medianLetterHeight(otsuOf(grey));
    double scale = height > 0 ? double(how.letterHeight) / height : 1.0;
    scale = std::clamp(scale, MIN_SCALE, MAX_SCALE);
    scale = std::min(scale, std::sqrt(MAX_PREPARED_PIXELS / double(grey.total())));
    const double sideScale = MAX_PREPARED_SIDE / double(std::max(grey.cols, grey.rows));
    if (scale > sideScale) {
        scale = sideScale;
        if (height > 0 && height * scale < MIN_READABLE_LETTERS)
            return {{}, cv::Matx33d::eye(), tooLong(grey.size(), height * scale)};
    }
    if (std::abs(scale - 1.0) < 0.05)
        return {grey, cv::Matx33d::eye(), ""};
    const cv::Size size(std::max(1, cvRound(grey.cols * scale)), std::max(1, cvRound(grey.rows * scale)));
    LetterScaled out;
    cv::resize(grey, out.pixels, size, 0, 0, scale < 1 ? cv::INTER_AREA : cv::INTER_CUBIC);
    out.toPage = cv::Matx33d(double(grey.cols) / size.width, 0, 0, 0, double(grey.rows) / size.height, 0, 0, 0, 1);
    return out;
}

cv::Matx33d turnTransform(cv::Size page, int degrees)
{
    // Maps pixels of the turned page back to the page.
    // Pixel edges, not centres: a box [x, x + w) turns into a box again.
    const double w = page.width, h = page.height;
    switch (degrees) {
    case 90: // turned (x', y') = (h - y, x)
        return {0, 1, 0, -1, 0, h, 0, 0, 1};
    case 180:
        return {-1, 0, w, 0, -1, h, 0, 0, 1};
    case 270: // turned (x', y') = (y, w - x)
        return {0, -1, w, 1, 0, 0, 0, 0, 1};
    default:
        return cv::Matx33d::eye();
    }
}

cv::Mat turned(const cv::Mat& page, int degrees)
{
    cv::Mat result;
    if (degrees == 90)
        cv::rotate(page, result, cv::ROTATE_90_CLOCKWISE);
    else if (degrees == 180)
        cv::rotate(page, result, cv::ROTATE_180);
    else if (degrees == 270)
        cv::rotate(page, result, cv::ROTATE_90_COUNTERCLOCKWISE);
    else
        result = page;
    return result;
}

cv::Rect mappedBox(const cv::Rect& box, const cv::Matx33d& transform)
{
    std::vector<cv::Point2f> corners = {cv::Point2f(box.tl()), {float(box.br().x), float(box.y)},
                                        cv::Point2f(box.br()), {float(box.x), float(box.br().y)}},
                             mapped;
    cv::perspectiveTransform(corners, mapped, cv::Matx33f(transform));
    // Edges, not pixels: cv::boundingRect would take each corner as a pixel and add one.
    float left = mapped[0].x, right = left, top = mapped[0].y, bottom = top;
    for (const cv::Point2f& p : mapped) {
        left = std::min(left, p.x), right = std::max(right, p.x);
        top = std::min(top, p.y), bottom = std::max(bottom, p.y);
    }
    const int x = cvFloor(left + 1e-3f), y = cvFloor(top + 1e-3f);
    return {x, y, cvCeil(right - 1e-3f) - x, cvCeil(bottom - 1e-3f) - y};
}

PreparedPage prepared(const cv::Mat& image, bool rectify, bool upright, const Preparation& how,
                      const Deadline& deadline)
{
    PreparedPage out;
    if (!readable(image) || stopped(deadline, out))
        return out;
    const WorkingCopy working = workingCopy(image);
    out.toImage = cv::Matx33d::diag({working.reduction, working.reduction, 1});
    cv::Mat source = working.image, grey;
    if (!utils::getGrayImage(source, grey) || stopped(deadline, out))
        return out;
    cv::Mat page = rectify ? flattened(working.image, grey, working.reduction, out) : cv::Mat();
    if (page.empty())
        page = grey;
    if (stopped(deadline, out))
        return out;

    const LetterScaled scaled = scaledToLetters(page, how);
    out.unreadable = scaled.unreadable;
    if (scaled.pixels.empty() || stopped(deadline, out))
        return out;
    out.toImage = out.toImage * scaled.toPage;
    // Binarized once here: the noise check, the orientation and the skew all look at ink.
    cv::Mat pixels = binarized(scaled.pixels, how.binarization, how.letterHeight);
    if (stopped(deadline, out))
        return out;
    const cv::Mat ink = how.binarization == Binarization::Grey ? otsuOf(scaled.pixels) : pixels;
    out.noise = isNoise(ink, how.letterHeight);
    if (out.noise || stopped(deadline, out))
        return out;
    if (upright) {
        out.rotation = engine::orientation(pixels);
        out.toImage = out.toImage * turnTransform(pixels.size(), out.rotation);
        pixels = turned(pixels, out.rotation);
        if (stopped(deadline, out))
            return out;
    }
    const double skew = skewAngle(how.binarization == Binarization::Grey ? otsuOf(pixels) : pixels);
    if (skew != 0)
        pixels = levelled(pixels, skew, out.toImage);
    out.pixels = pixels;
    return out;
}

} // namespace tarvek::reading
