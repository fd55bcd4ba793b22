// synthetic-photos [--seed S] [--receipts DIR] OUT N: writes N photos of a page
// lying on a desk, OUT/pages/photo_NNNN.jpg with OUT/pages/ground_truth.csv in
// the layout detection-quality reads, and N photos of desks without a page,
// OUT/no-page/photo_NNNN.jpg with OUT/no-page/ground_truth.csv (no corners).
//
// The pages are rendered text pages of A4, receipt and ID-card proportions and,
// with --receipts, receipt scans (the .jpg files of DIR and its sub-folders that
// are cut to the receipt: more than twice as high as wide).
// Each covers 8 % to 95 % of the photo, turned by up to 45 degrees and seen in
// perspective; about one in eight reaches across one edge of the photo. Desks are
// wood-like, fabric-like, plain, close to the paper's tone or dark, with other
// rectangles, round objects, pens and cables on them. Then come uneven light, a
// shadow, an object across one side of the page, blur, noise and JPEG at
// quality 50 to 95. Photo i depends only on the seed and i.

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "document_search.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace {

using Quadrangle = std::array<cv::Point2f, 4>;  // top-left, top-right, bottom-right, bottom-left

const cv::Size photoSizes[] = {{1920, 1080}, {1600, 1200}, {1280, 960}, {1080, 1920}, {1200, 1600}};

cv::Scalar randomColour(cv::RNG& rng, int low, int high)
{
    return cv::Scalar(rng.uniform(low, high), rng.uniform(low, high), rng.uniform(low, high));
}

// A smooth random field of the given size, values 0 to 1, varying over about cells cells.
cv::Mat smoothField(cv::RNG& rng, cv::Size size, int cells)
{
    cv::Mat coarse(cells, cells, CV_32F);
    rng.fill(coarse, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::Mat field;
    cv::resize(coarse, field, size, 0, 0, cv::INTER_CUBIC);
    return field;
}

// Multiplies every channel of a colour image by a one-channel float field.
void multiply(cv::Mat& image, const cv::Mat& field)
{
    cv::Mat channels[3];
    cv::split(image, channels);
    for (cv::Mat& c : channels)
        cv::multiply(c, field, c, 1, CV_8U);
    cv::merge(channels, 3, image);
}

cv::Mat colouredBy(const cv::Mat& pattern, const cv::Scalar& dark, const cv::Scalar& light)
{
    cv::Mat image(pattern.size(), CV_8UC3);
    for (int y = 0; y < pattern.rows; ++y) {
        const float* p = pattern.ptr<float>(y);
        cv::Vec3b* out = image.ptr<cv::Vec3b>(y);
        for (int x = 0; x < pattern.cols; ++x) {
            const float t = std::clamp(p[x], 0.0f, 1.0f);
            for (int c = 0; c < 3; ++c)
                out[x][c] = cv::saturate_cast<uchar>(dark[c] + (light[c] - dark[c]) * t);
        }
    }
    return image;
}

// Wood: stripes along a random direction, bent by a smooth field, with fine grain.
cv::Mat woodDesk(cv::RNG& rng, cv::Size size)
{
    const double angle = rng.uniform(0.0, CV_PI), period = rng.uniform(8.0, 40.0);
    const cv::Mat bend = smoothField(rng, size, 4);
    cv::Mat pattern(size, CV_32F);
    for (int y = 0; y < size.height; ++y) {
        float* p = pattern.ptr<float>(y);
        const float* b = bend.ptr<float>(y);
        for (int x = 0; x < size.width; ++x)
            p[x] = 0.5f + 0.5f * static_cast<float>(std::sin((x * std::cos(angle) + y * std::sin(angle)) / period +
                                                             6 * b[x]));
    }
    cv::Mat grain(size, CV_32F);
    rng.fill(grain, cv::RNG::NORMAL, 0.0, 0.15);
    cv::GaussianBlur(grain, grain, cv::Size(0, 0), 1.0, 6.0);
    pattern = pattern * 0.7 + grain;
    const int base = rng.uniform(60, 190);
    return colouredBy(pattern, cv::Scalar(base * 0.35, base * 0.55, base * 0.8),
                      cv::Scalar(base * 0.55, base * 0.8, base * 1.1));
}

// Fabric: a fine weave with noise, of any colour.
cv::Mat fabricDesk(cv::RNG& rng, cv::Size size)
{
    const double period = rng.uniform(2.5, 8.0);
    cv::Mat pattern(size, CV_32F);
    for (int y = 0; y < size.height; ++y) {
        float* p = pattern.ptr<float>(y);
        for (int x = 0; x < size.width; ++x)
            p[x] = 0.5f + 0.25f * static_cast<float>(std::sin(x / period) + std::sin(y / period));
    }
    cv::Mat noise(size, CV_32F);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, 0.2);
    pattern += noise;
    const cv::Scalar colour = randomColour(rng, 30, 220);
    return colouredBy(pattern, colour * 0.7, colour * 1.15);
}

// Plain: one colour, slightly mottled; close to the paper's tone when light.
cv::Mat plainDesk(cv::RNG& rng, cv::Size size, int low, int high)
{
    const cv::Scalar colour = randomColour(rng, low, high);
    cv::Mat pattern = smoothField(rng, size, 6);
    cv::Mat noise(size, CV_32F);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, 0.08);
    pattern += noise;
    return colouredBy(pattern, colour * 0.93, colour * 1.05);
}

cv::Mat desk(cv::RNG& rng, cv::Size size)
{
    switch (rng.uniform(0, 5)) {
    case 0: return woodDesk(rng, size);
    case 1: return fabricDesk(rng, size);
    case 2: return plainDesk(rng, size, 80, 200);
    case 3: return plainDesk(rng, size, 185, 235);  // close to the paper's tone
    default: return plainDesk(rng, size, 15, 70);
    }
}

cv::Point randomPoint(cv::RNG& rng, cv::Size size)
{
    return {rng.uniform(-size.width / 10, size.width * 11 / 10), rng.uniform(-size.height / 10, size.height * 11 / 10)};
}

// A bent line as thick as a pen or a cable, from p along a random direction.
void drawStroke(cv::RNG& rng, cv::Mat& image, cv::Point p, double direction, double length, int thickness,
                const cv::Scalar& colour)
{
    std::vector<cv::Point> points = {p};
    for (int k = 0; k < 4; ++k) {
        direction += rng.uniform(-0.4, 0.4);
        p += cv::Point(cvRound(length / 4 * std::cos(direction)), cvRound(length / 4 * std::sin(direction)));
        points.push_back(p);
    }
    cv::polylines(image, points, false, colour, thickness, cv::LINE_AA);
}

// Other things on the desk: notes, cards and boxes (each at most 3 % of the photo), round
// objects, pens and cables.
void addClutter(cv::RNG& rng, cv::Mat& image)
{
    const cv::Size size = image.size();
    const double area = size.area();
    const int count = rng.uniform(0, 7);
    for (int i = 0; i < count; ++i) {
        const cv::Scalar colour = randomColour(rng, 0, 256);
        const cv::Point centre = randomPoint(rng, size);
        switch (rng.uniform(0, 4)) {
        case 0: {
            const double share = rng.uniform(0.003, 0.03), ratio = rng.uniform(0.4, 2.5);
            const cv::Size2f box(static_cast<float>(std::sqrt(share * area / ratio)),
                                 static_cast<float>(std::sqrt(share * area * ratio)));
            cv::Point2f corners[4];
            cv::RotatedRect(centre, box, static_cast<float>(rng.uniform(0.0, 180.0))).points(corners);
            std::vector<cv::Point> polygon(corners, corners + 4);
            cv::fillConvexPoly(image, polygon, colour, cv::LINE_AA);
            break;
        }
        case 1: {
            const double radius = std::sqrt(rng.uniform(0.002, 0.02) * area / CV_PI);
            cv::ellipse(image, centre, cv::Size(cvRound(radius), cvRound(radius * rng.uniform(0.5, 1.0))),
                        rng.uniform(0.0, 180.0), 0, 360, colour, cv::FILLED, cv::LINE_AA);
            break;
        }
        case 2:
            drawStroke(rng, image, centre, rng.uniform(0.0, 2 * CV_PI), rng.uniform(0.1, 0.3) * size.width,
                       rng.uniform(6, 16), colour);
            break;
        default:
            drawStroke(rng, image, centre, rng.uniform(0.0, 2 * CV_PI), rng.uniform(0.4, 1.2) * size.width,
                       rng.uniform(3, 8), randomColour(rng, 0, 60));
        }
    }
}

// Words of random letters and digits set in lines, as on a printed page.
void addTextLines(cv::RNG& rng, cv::Mat& page, cv::Rect area, double fontScale, int lineHeight)
{
    const int fonts[] = {cv::FONT_HERSHEY_SIMPLEX, cv::FONT_HERSHEY_DUPLEX, cv::FONT_HERSHEY_COMPLEX,
                         cv::FONT_HERSHEY_PLAIN};
    const int font = fonts[rng.uniform(0, 4)];
    const cv::Scalar ink = randomColour(rng, 0, 70);
    for (int y = area.y + lineHeight; y < area.br().y; y += lineHeight) {
        if (rng.uniform(0, 8) == 0)
            continue;  // a blank line between paragraphs
        std::string line;
        const int words = rng.uniform(2, 12);
        for (int w = 0; w < words; ++w) {
            const int letters = rng.uniform(1, 10);
            for (int l = 0; l < letters; ++l)
                line += static_cast<char>(rng.uniform(0, 3) == 0 ? '0' + rng.uniform(0, 10) : 'a' + rng.uniform(0, 26));
            line += ' ';
        }
        cv::putText(page, line, cv::Point(area.x, y), font, fontScale, ink, std::max(1, cvRound(fontScale * 1.5)),
                    cv::LINE_AA);
    }
}

cv::Scalar paperColour(cv::RNG& rng)
{
    const int white = rng.uniform(215, 256);
    return cv::Scalar(white - rng.uniform(0, 18), white - rng.uniform(0, 8), white);
}

cv::Mat a4Page(cv::RNG& rng)
{
    cv::Mat page(1414, 1000, CV_8UC3, paperColour(rng));
    const int margin = rng.uniform(50, 130);
    cv::putText(page, "Report " + std::to_string(rng.uniform(100, 999)), cv::Point(margin, margin + 40),
                cv::FONT_HERSHEY_DUPLEX, 1.6, cv::Scalar::all(20), 3, cv::LINE_AA);
    if (rng.uniform(0, 2) == 0) {  // a table or a picture
        const cv::Rect box(margin, rng.uniform(300, 800), 1000 - 2 * margin, rng.uniform(150, 400));
        if (rng.uniform(0, 2) == 0)
            cv::rectangle(page, box, randomColour(rng, 0, 256), cv::FILLED);
        else
            for (int k = 0; k <= 4; ++k)
                cv::line(page, cv::Point(box.x, box.y + k * box.height / 4), cv::Point(box.br().x, box.y + k * box.height / 4),
                         cv::Scalar::all(40), 2);
    }
    addTextLines(rng, page, cv::Rect(margin, margin + 80, 1000 - 2 * margin, 1414 - 2 * margin - 80), 0.9, 34);
    return page;
}

cv::Mat receiptPage(cv::RNG& rng)
{
    const int height = cvRound(600 * rng.uniform(2.2, 3.8));
    cv::Mat page(height, 600, CV_8UC3, paperColour(rng));
    addTextLines(rng, page, cv::Rect(40, 40, 520, height - 80), 0.8, 30);
    return page;
}

cv::Mat idCard(cv::RNG& rng)
{
    cv::Mat card(540, 856, CV_8UC3, cv::Scalar::all(0));
    const cv::Scalar colour = randomColour(rng, 90, 250);
    const int radius = 32;
    // Rounded corners: the card's own corners lie where its straight sides meet.
    cv::rectangle(card, cv::Rect(radius, 0, 856 - 2 * radius, 540), colour, cv::FILLED);
    cv::rectangle(card, cv::Rect(0, radius, 856, 540 - 2 * radius), colour, cv::FILLED);
    for (const cv::Point c : {cv::Point(radius, radius), cv::Point(855 - radius, radius),
                              cv::Point(855 - radius, 539 - radius), cv::Point(radius, 539 - radius)})
        cv::circle(card, c, radius, colour, cv::FILLED, cv::LINE_AA);
    cv::rectangle(card, cv::Rect(50, 120, 200, 260), randomColour(rng, 60, 200), cv::FILLED);
    addTextLines(rng, card, cv::Rect(290, 110, 520, 330), 1.0, 45);
    return card;
}

// Receipt scans of the folder, if one is given; the pages of every photo come from the same list.
std::vector<fs::path> receiptScans(const std::string& folder)
{
    std::vector<fs::path> scans;
    if (folder.empty())
        return scans;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".jpg") {
            // Only scans cut to the receipt's edges: more than twice as high as wide.
            const cv::Mat scan = cv::imread(entry.path().string(), cv::IMREAD_REDUCED_GRAYSCALE_8);
            if (scan.rows > 2 * scan.cols)
                scans.push_back(entry.path());
        }
    std::sort(scans.begin(), scans.end());
    return scans;
}

// A page for the photo: a rendered A4 page, receipt or ID card, or a receipt scan. The page mask
// covers the card without its rounded corners' outside.
cv::Mat page(cv::RNG& rng, const std::vector<fs::path>& scans, cv::Mat& mask)
{
    cv::Mat page;
    const int kind = rng.uniform(0, scans.empty() ? 3 : 4);
    if (kind == 0)
        page = a4Page(rng);
    else if (kind == 1)
        page = receiptPage(rng);
    else if (kind == 2)
        page = idCard(rng);
    else
        page = cv::imread(scans[rng.uniform(0, static_cast<int>(scans.size()))].string(), cv::IMREAD_COLOR);
    if (page.empty())
        throw std::runtime_error("cannot read a receipt scan");
    if (kind == 2) {
        cv::cvtColor(page, mask, cv::COLOR_BGR2GRAY);
        cv::threshold(mask, mask, 0, 255, cv::THRESH_BINARY);
    } else {
        mask = cv::Mat(page.size(), CV_8U, cv::Scalar(255));
    }
    return page;
}

Quadrangle placed(cv::RNG& rng, cv::Size photo, cv::Size page, bool mayLeaveThePhoto)
{
    const double ratio = static_cast<double>(page.height) / page.width;
    double share = rng.uniform(0.08, 0.95);
    double turn = rng.uniform(-45.0, 45.0) * CV_PI / 180;
    const double tilt = rng.uniform(0.0, 0.12);
    std::array<cv::Point2f, 4> jitter;
    for (cv::Point2f& j : jitter)
        j = cv::Point2f(static_cast<float>(rng.uniform(-tilt, tilt)), static_cast<float>(rng.uniform(-tilt, tilt)));
    for (int attempt = 0;; ++attempt) {
        const double width = std::sqrt(share * photo.area() / ratio), height = width * ratio;
        const cv::Point2f unit[4] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
        Quadrangle q;
        float left = 1e9f, top = 1e9f, right = -1e9f, bottom = -1e9f;
        for (int k = 0; k < 4; ++k) {
            const double x = (unit[k].x + jitter[k].x) * width, y = (unit[k].y + jitter[k].y) * height;
            q[k] = cv::Point2f(static_cast<float>(x * std::cos(turn) - y * std::sin(turn)),
                               static_cast<float>(x * std::sin(turn) + y * std::cos(turn)));
            left = std::min(left, q[k].x), right = std::max(right, q[k].x);
            top = std::min(top, q[k].y), bottom = std::max(bottom, q[k].y);
        }
        const float freeX = photo.width - 2 - (right - left), freeY = photo.height - 2 - (bottom - top);
        if (freeX > 0 && freeY > 0) {
            cv::Point2f shift(1 - left + static_cast<float>(rng.uniform(0.0, 1.0)) * freeX,
                              1 - top + static_cast<float>(rng.uniform(0.0, 1.0)) * freeY);
            if (mayLeaveThePhoto) {
                // Across one edge of the photo by 3 % to 15 % of the page's extent.
                const float over = static_cast<float>(rng.uniform(0.03, 0.15));
                switch (rng.uniform(0, 4)) {
                case 0: shift.x = -left - over * (right - left); break;
                case 1: shift.y = -top - over * (bottom - top); break;
                case 2: shift.x = photo.width - 1 - right + over * (right - left); break;
                default: shift.y = photo.height - 1 - bottom + over * (bottom - top);
                }
            }
            for (cv::Point2f& p : q)
                p += shift;
            return q;
        }
        // Too large for the photo at this turn: turn less, then shrink.
        if (attempt % 2 == 0)
            turn *= 0.7;
        else
            share *= 0.93;
    }
}

// Lays the page on the photo at q: its outer pixel edges on q's sides, soft-edged by the warp.
void composite(cv::Mat& photo, const cv::Mat& page, const cv::Mat& pageMask, const Quadrangle& q)
{
    const float w = static_cast<float>(page.cols), h = static_cast<float>(page.rows);
    const cv::Point2f from[4] = {{-0.5f, -0.5f}, {w - 0.5f, -0.5f}, {w - 0.5f, h - 0.5f}, {-0.5f, h - 0.5f}};
    const cv::Mat transform = cv::getPerspectiveTransform(from, q.data());
    cv::Mat warped, mask;
    cv::warpPerspective(page, warped, transform, photo.size(), cv::INTER_AREA, cv::BORDER_CONSTANT);
    cv::warpPerspective(pageMask, mask, transform, photo.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
    for (int y = 0; y < photo.rows; ++y) {
        cv::Vec3b* out = photo.ptr<cv::Vec3b>(y);
        const cv::Vec3b* in = warped.ptr<cv::Vec3b>(y);
        const uchar* m = mask.ptr<uchar>(y);
        for (int x = 0; x < photo.cols; ++x)
            if (m[x])
                for (int c = 0; c < 3; ++c)
                    out[x][c] = static_cast<uchar>((out[x][c] * (255 - m[x]) + in[x][c] * m[x] + 127) / 255);
    }
}

// A finger or a pen lying across one side of the page, from outside into it.
void addOccluder(cv::RNG& rng, cv::Mat& photo, const Quadrangle& q)
{
    const int side = rng.uniform(0, 4);
    const cv::Point2f a = q[side], b = q[(side + 1) % 4];
    const cv::Point2f centre = (q[0] + q[1] + q[2] + q[3]) * 0.25f;
    const cv::Point2f on = a + (b - a) * static_cast<float>(rng.uniform(0.25, 0.75));
    const double length = rng.uniform(0.15, 0.35) * cv::norm(b - a);
    const double inward = std::atan2(centre.y - on.y, centre.x - on.x) + rng.uniform(-0.5, 0.5);
    const cv::Point2f start = on - cv::Point2f(static_cast<float>(std::cos(inward)), static_cast<float>(std::sin(inward))) *
                                       static_cast<float>(length * 0.5);
    const bool finger = rng.uniform(0, 2) == 0;
    const cv::Scalar colour = finger ? cv::Scalar(rng.uniform(60, 150), rng.uniform(100, 180), rng.uniform(150, 230))
                                     : randomColour(rng, 0, 200);
    const int thickness = finger ? cvRound(rng.uniform(0.04, 0.08) * cv::norm(b - a)) : rng.uniform(8, 20);
    const cv::Point2f end = start + cv::Point2f(static_cast<float>(std::cos(inward)), static_cast<float>(std::sin(inward))) *
                                        static_cast<float>(length);
    cv::line(photo, start, end, colour, std::max(thickness, 4), cv::LINE_AA);
}

// Light falling off unevenly across the photo and a soft shadow over part of it.
void addLight(cv::RNG& rng, cv::Mat& photo)
{
    cv::Mat light = smoothField(rng, photo.size(), 3) * rng.uniform(0.2, 0.5) + rng.uniform(0.7, 1.0);
    if (rng.uniform(0, 2) == 0) {
        cv::Mat shadow(photo.size(), CV_32F, cv::Scalar(1));
        std::vector<cv::Point> polygon;
        for (int k = 0; k < 4; ++k)
            polygon.push_back(randomPoint(rng, photo.size()));
        cv::fillConvexPoly(shadow, polygon, cv::Scalar(rng.uniform(0.55, 0.85)));
        const double softness = rng.uniform(5.0, 40.0);
        cv::GaussianBlur(shadow, shadow, cv::Size(0, 0), softness);
        light = light.mul(shadow);
    }
    multiply(photo, light);
}

// Camera blur, sensor noise and JPEG compression.
std::vector<uchar> photographed(cv::RNG& rng, cv::Mat& photo)
{
    if (rng.uniform(0, 3) > 0)
        cv::GaussianBlur(photo, photo, cv::Size(0, 0), rng.uniform(0.3, 2.5));
    cv::Mat noise(photo.size(), CV_16SC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, rng.uniform(0.0, 6.0));
    cv::add(photo, noise, photo, cv::noArray(), CV_8UC3);
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", photo, jpeg, {cv::IMWRITE_JPEG_QUALITY, rng.uniform(50, 96)});
    return jpeg;
}

void writeFile(const fs::path& path, const std::vector<uchar>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string photoName(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "photo_%04d.jpg", i);
    return name;
}

// Photo i with a page; its corners go to the CSV.
void writePagePhoto(unsigned seed, int i, const std::vector<fs::path>& scans, const fs::path& folder,
                    std::ofstream& csv)
{
    cv::RNG rng(seed * 7919u + static_cast<unsigned>(i));
    const cv::Size size = photoSizes[rng.uniform(0, 5)];
    cv::Mat photo = desk(rng, size);
    addClutter(rng, photo);
    cv::Mat mask;
    const cv::Mat sheet = page(rng, scans, mask);
    const Quadrangle q = placed(rng, size, sheet.size(), rng.uniform(0, 8) == 0);
    composite(photo, sheet, mask, q);
    if (rng.uniform(0, 10) < 3)
        addOccluder(rng, photo, q);
    addLight(rng, photo);
    writeFile(folder / photoName(i), photographed(rng, photo));
    csv << photoName(i);
    // The corners in the order the CSV gives them, as the services order corners a client gives.
    for (const cv::Point2f& p : tarvek::documentsearch::inCornerOrder(std::vector<cv::Point2f>(q.begin(), q.end())))
        csv << ',' << p.x << ',' << p.y;
    csv << '\n';
}

void writeDeskPhoto(unsigned seed, int i, const fs::path& folder, std::ofstream& csv)
{
    cv::RNG rng(seed * 104729u + static_cast<unsigned>(i));
    cv::Mat photo = desk(rng, photoSizes[rng.uniform(0, 5)]);
    addClutter(rng, photo);
    addLight(rng, photo);
    writeFile(folder / photoName(i), photographed(rng, photo));
    csv << photoName(i) << '\n';
}

}  // namespace

int main(int argc, char* argv[])
{
    unsigned seed = 1;
    std::string receipts;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seed" && i + 1 < argc)
            seed = static_cast<unsigned>(std::stoul(argv[++i]));
        else if (arg == "--receipts" && i + 1 < argc)
            receipts = argv[++i];
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2) {
        std::cerr << "usage: synthetic-photos [--seed S] [--receipts DIR] OUT N\n";
        return 2;
    }
    try {
        const fs::path out = positional[0];
        const int count = std::stoi(positional[1]);
        const std::vector<fs::path> scans = receiptScans(receipts);
        fs::create_directories(out / "pages");
        fs::create_directories(out / "no-page");
        std::ofstream pages(out / "pages" / "ground_truth.csv"), desks(out / "no-page" / "ground_truth.csv");
        pages << "image_path,tl_x,tl_y,tr_x,tr_y,br_x,br_y,bl_x,bl_y\n";
        desks << "image_path\n";
        for (int i = 0; i < count; ++i) {
            writePagePhoto(seed, i, scans, out / "pages", pages);
            writeDeskPhoto(seed, i, out / "no-page", desks);
        }
    } catch (const std::exception& e) {
        std::cerr << "synthetic-photos: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
