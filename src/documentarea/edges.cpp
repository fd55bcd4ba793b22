// Edge map builders: binary maps of the document border for the Hough stage.
#include "documentarea_internal.h"

#include <utility>

#include <opencv2/imgproc.hpp>

#include "imageprocessing.h"
#include "utils.h"

namespace {

// The 8-connected components of the non-zero pixels of an edge map: bounding rectangles and pixel
// lists, indexed alike, in the order of a row-major scan.
struct EdgeComponents {
    std::vector<cv::Rect> rects;
    std::vector<std::vector<cv::Point>> pixels;

    bool empty() const { return rects.empty(); }
    int size() const { return static_cast<int>(rects.size()); }
    void erase(int i)
    {
        rects.erase(rects.begin() + i);
        pixels.erase(pixels.begin() + i);
    }
};

// Labels by flood fill on an int image where 1 is background and 0 an unlabelled edge pixel; labels
// start at 2 so that they never collide with either.
EdgeComponents labelEdgeComponents(const cv::Mat& edges)
{
    cv::Mat bin, labels;
    cv::threshold(edges, bin, 0, 1, cv::THRESH_BINARY_INV);
    bin.convertTo(labels, CV_32S, 1, 0);

    EdgeComponents components;
    int label = 2;
    for (int y = 0; y < labels.rows; ++y) {
        const int* row = labels.ptr<int>(y);
        for (int x = 0; x < labels.cols; ++x) {
            if (row[x] != 0)
                continue;
            cv::Rect r;
            cv::floodFill(labels, cv::Point(x, y), cv::Scalar(label), &r, cv::Scalar(0), cv::Scalar(0), 8);
            std::vector<cv::Point> members;
            for (int cy = r.y; cy < r.y + r.height; ++cy) {
                const int* inside = labels.ptr<int>(cy);
                for (int cx = r.x; cx < r.x + r.width; ++cx) {
                    if (inside[cx] == label)
                        members.emplace_back(cx, cy);
                }
            }
            components.rects.push_back(r);
            components.pixels.push_back(std::move(members));
            ++label;
        }
    }
    return components;
}

// Walks from the last component to the first and erases those for which drop(index) holds.
template <typename Drop>
void dropComponents(EdgeComponents& components, Drop drop)
{
    for (int i = components.size() - 1; i >= 0; --i) {
        if (drop(i))
            components.erase(i);
    }
}

// Drops the components whose box is both narrower than minW and lower than minH.
void dropSmallComponents(EdgeComponents& components, int minW, int minH)
{
    dropComponents(components, [&](int i) {
        const cv::Rect& r = components.rects[i];
        return r.width < minW && r.height < minH;
    });
}

// An 8-bit edge map of `size` with the pixels of every component set to 255.
cv::Mat paintEdgeComponents(const EdgeComponents& components, cv::Size size)
{
    cv::Mat painted = cv::Mat::zeros(size, CV_8UC1);
    for (const std::vector<cv::Point>& members : components.pixels) {
        for (const cv::Point& p : members)
            painted.ptr<uchar>(p.y)[p.x] = 255;
    }
    return painted;
}

// Paints the remaining components into dst; false, with dst unwritten, when none remains.
bool paintRemainingComponents(const EdgeComponents& components, cv::Size size, cv::Mat& dst)
{
    if (components.empty())
        return false;
    paintEdgeComponents(components, size).copyTo(dst);
    return true;
}

// Grey copy of a non-empty source: a clone of a one-channel source, otherwise the converted image.
bool greyCopy(cv::Mat& src, cv::Mat& grey)
{
    if (src.empty())
        return false;
    if (src.channels() == 1) {
        grey = src.clone();
        return true;
    }
    return tarvek::utils::getGrayImage(src, grey);
}

// Index of the component with the largest bounding-box area; the first of equals wins.
int largestBoxComponent(const EdgeComponents& components)
{
    int largest = 0;
    for (int i = 1; i < components.size(); ++i) {
        if (components.rects[i].area() > components.rects[largest].area())
            largest = i;
    }
    return largest;
}

// Canny edges of a plane after a 7-pixel median, with the fragments below a tenth of the image
// dropped (all edges when nothing would remain).
cv::Mat filteredPlaneEdges(const cv::Mat& plane)
{
    cv::Mat blurred, edges, filtered;
    cv::medianBlur(plane, blurred, 7);
    cv::Canny(blurred, edges, 20, 90, 3, false);
    if (!filterSmallEdge(edges, filtered, 10, false))
        filtered = edges.clone();
    return filtered;
}

// First grey level at which the running histogram count reaches 95 % of the changed pixels. Bin 0
// is counted although unchanged pixels are not part of the 95 %, which lowers the level on images
// with large flat areas.
int differenceThreshold(const cv::Mat& diff)
{
    cv::Mat hist;
    const int channels[] = {0};
    const int bins[] = {256};
    const float range[] = {0, 256};
    const float* ranges[] = {range};
    cv::calcHist(&diff, 1, channels, cv::Mat(), hist, 1, bins, ranges, true, false);
    const double target = cv::countNonZero(diff) * 0.95;
    int sum = 0;
    for (int t = 0; t < 256; ++t) {
        sum = static_cast<int>(static_cast<float>(sum) + hist.at<float>(t));
        if (sum >= target)
            return t;
    }
    return 0;
}

}  // namespace

bool equalizeHistForColor(cv::Mat& src, cv::Mat& dst)
{
    cv::Mat work;
    if (src.empty())
        return false;
    if (src.channels() == 3)
        work = src.clone();
    else if (!tarvek::utils::getColorImage(src, work))
        return false;
    cv::cvtColor(work, dst, cv::COLOR_BGR2YCrCb);
    std::vector<cv::Mat> planes;
    cv::split(dst, planes);
    cv::equalizeHist(planes[0], planes[0]);
    cv::merge(planes, dst);
    cv::cvtColor(dst, dst, cv::COLOR_YCrCb2BGR);
    return true;
}

bool removeCenterEdge(cv::Mat& img)
{
    if (img.empty())
        return false;
    const int x0 = static_cast<int>(img.cols * 0.3f);
    const int y0 = static_cast<int>(img.rows * 0.3f);
    img(cv::Rect(x0, y0, img.cols - 2 * x0, img.rows - 2 * y0)).setTo(cv::Scalar::all(0));
    return true;
}

bool filterSmallEdge(cv::Mat& src, cv::Mat& dst, int divisor, bool keepLargestOnly)
{
    if (src.empty() || !tarvek::utils::getGrayImage(src, src))
        return false;
    EdgeComponents components = labelEdgeComponents(src);
    if (components.empty())
        return false;
    if (keepLargestOnly) {
        int largest = 0;
        for (int i = 1; i < components.size(); ++i) {
            if (components.pixels[i].size() > components.pixels[largest].size())
                largest = i;
        }
        dropComponents(components, [&](int i) { return i != largest; });
    } else {
        // A zero divisor stands for an unbounded size, which no component reaches. A negative one
        // gives bounds of zero or less, which every component reaches.
        if (divisor == 0)
            return false;
        dropSmallComponents(components, src.cols / divisor, src.rows / divisor);
    }
    return paintRemainingComponents(components, src.size(), dst);
}

bool detectEdgeUsingCanny(cv::Mat& src, cv::Mat& dst)
{
    if (!dst.empty())
        dst.release();
    cv::Mat grey, blurred, edges;
    if (!greyCopy(src, grey))
        return false;
    cv::medianBlur(grey, blurred, 5);
    cv::Canny(blurred, edges, 30, 90, 3, false);

    EdgeComponents components = labelEdgeComponents(edges);
    if (components.empty())
        return false;
    // Content inside the outermost outline (text, pictures) is not a border candidate.
    const int largest = largestBoxComponent(components);
    const cv::Rect outline = components.rects[largest];
    dropComponents(components, [&](int i) {
        const cv::Rect& r = components.rects[i];
        return i != largest && outline.contains(r.tl()) && outline.contains(r.br());
    });
    if (components.empty())
        return false;
    dropSmallComponents(components, edges.cols / 5, edges.rows / 5);
    return paintRemainingComponents(components, edges.size(), dst);
}

bool detectEdgeUsingWatershedAndCanny(cv::Mat& src, cv::Mat& dst)
{
    if (!dst.empty())
        dst.release();
    cv::Mat grey, blurred, gradient;
    if (src.empty() || !tarvek::utils::getGrayImage(src, grey))
        return false;
    cv::GaussianBlur(grey, blurred, cv::Size(3, 3), 1.6, 0, cv::BORDER_DEFAULT);
    tarvek::imageprocessing::getGradientImage(blurred, gradient);

    // Background seed along the border, document seed around the centre.
    const int cols = gradient.cols;
    const int rows = gradient.rows;
    cv::Mat markers = cv::Mat::zeros(rows, cols, CV_32SC1);
    cv::rectangle(markers, cv::Point(1, 1), cv::Point(cols - 2, rows - 2), cv::Scalar(1), 1, 8, 0);
    cv::rectangle(markers, cv::Point(cols / 10 * 4, rows / 10 * 4), cv::Point(cols / 10 * 6, rows / 10 * 6),
                  cv::Scalar(2), 2, 8, 0);
    cv::Mat region;
    tarvek::imageprocessing::watershed(gradient, region, markers);
    // cv::watershed marks the image frame as boundary; it is no document border.
    cv::rectangle(region, cv::Point(0, 0), cv::Point(cols - 1, rows - 1), cv::Scalar(0), 2, 8, 0);

    cv::Mat edges;
    cv::Canny(grey, edges, 20, 90, 3, false);
    EdgeComponents components = labelEdgeComponents(edges);
    if (components.empty())
        return false;
    dropSmallComponents(components, edges.cols / 10, edges.rows / 10);
    if (components.empty())
        return false;
    cv::addWeighted(region, 1, paintEdgeComponents(components, edges.size()), 1, 0, dst);
    return true;
}

bool detectEdgeUsingCannyInHSV(cv::Mat& src, cv::Mat& dst)
{
    if (src.empty() || !tarvek::utils::getColorImage(src, src))
        return false;
    cv::Mat hsv;
    cv::cvtColor(src, hsv, cv::COLOR_BGR2HSV);
    std::vector<cv::Mat> planes;
    cv::split(hsv, planes);
    const cv::Mat hue = filteredPlaneEdges(planes[0]);
    const cv::Mat saturation = filteredPlaneEdges(planes[1]);
    const cv::Mat value = filteredPlaneEdges(planes[2]);

    cv::Mat combined = (saturation | value) | hue;
    cv::Mat filtered;
    if (!filterSmallEdge(combined, filtered, 5, false))
        filtered = combined.clone();
    dst = filtered.clone();
    return true;
}

bool detectEdgeUsingDOC(cv::Mat& src, cv::Mat& dst)
{
    if (!dst.empty())
        dst.release();
    cv::Mat grey;
    if (!greyCopy(src, grey))
        return false;
    cv::Mat small, large, diff;
    cv::GaussianBlur(grey, small, cv::Size(7, 7), 0, 0, cv::BORDER_DEFAULT);
    cv::GaussianBlur(grey, large, cv::Size(19, 19), 0, 0, cv::BORDER_DEFAULT);
    cv::absdiff(large, small, diff);

    cv::Mat bin, edges;
    cv::threshold(diff, bin, differenceThreshold(diff), 255, cv::THRESH_BINARY);
    cv::medianBlur(bin, bin, 7);
    cv::Canny(bin, edges, 20, 90, 3, false);
    dst = edges;
    return true;
}
