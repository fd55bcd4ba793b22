// degraded-pages [--seed S] OUT N: writes N degraded text pages as
// OUT/NNNN-KIND_source.png (colour) with OUT/NNNN-KIND_target.png, the ink mask
// (0 = ink, 255 = paper), the pairs binarization-quality reads.
//
// Every page is lines of random words in Hershey fonts of several sizes and
// weights; every other page is handwriting-like (script fonts, slanted, wavering
// lines and strokes bent by a smooth random displacement). The mask is the ink as
// drawn, before any degradation. All pages get light paper grain, sensor noise,
// a slight blur and JPEG at quality 90; each also gets one main degradation, the
// KIND of its name, in turn:
//   stain        blotches and rings that darken paper and ink
//   show-through the mirrored, blurred text of a second page shows faintly
//   faded        ink 35 % to 75 % as dark as fresh, varying across the page
//   texture      strong paper texture: mottling, fibres, grain
//   shading      light falling off to one side and towards the corners
//   blur         defocus of 1.2 to 2.2 pixels
//   jpeg         JPEG at quality 12 to 30
// Page i depends only on the seed and i.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace {

const char* const kinds[] = {"stain", "show-through", "faded", "texture", "shading", "blur", "jpeg"};
constexpr int KIND_COUNT = sizeof(kinds) / sizeof(kinds[0]);

// About a third of an A4 page at 300 dpi: text of 10 to 20 points.
const cv::Size pageSize(1000, 1300);

// A smooth random field of the given size, values 0 to 1, varying over about cells cells.
cv::Mat smoothField(cv::RNG& rng, cv::Size size, int cells)
{
    cv::Mat coarse(cells, cells, CV_32F);
    rng.fill(coarse, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::Mat field;
    cv::resize(coarse, field, size, 0, 0, cv::INTER_CUBIC);
    return cv::min(cv::max(field, 0.0), 1.0);
}

std::string randomWord(cv::RNG& rng)
{
    static const std::string letters = "etaoinshrdlucmfwypvbgkqjxz";
    std::string word;
    const int length = rng.uniform(1, 10);
    for (int i = 0; i < length; ++i)
        word += letters[std::min<int>(letters.size() - 1, static_cast<int>(std::abs(rng.gaussian(8.0))))];
    if (rng.uniform(0, 5) == 0)
        word[0] = static_cast<char>(word[0] - 'a' + 'A');
    if (rng.uniform(0, 12) == 0)
        word = std::to_string(rng.uniform(1, 99999));
    return word;
}

// Ink coverage 0 … 255 of lines of words.
cv::Mat textCoverage(cv::RNG& rng, bool handwriting)
{
    static const int printed[] = {cv::FONT_HERSHEY_SIMPLEX, cv::FONT_HERSHEY_DUPLEX, cv::FONT_HERSHEY_COMPLEX,
                                  cv::FONT_HERSHEY_TRIPLEX, cv::FONT_HERSHEY_PLAIN};
    static const int script[] = {cv::FONT_HERSHEY_SCRIPT_SIMPLEX, cv::FONT_HERSHEY_SCRIPT_COMPLEX};
    cv::Mat coverage(pageSize, CV_8U, cv::Scalar(0));
    const int font = handwriting ? script[rng.uniform(0, 2)] | cv::FONT_ITALIC : printed[rng.uniform(0, 5)];
    const double scale = handwriting ? rng.uniform(1.0, 2.0) : rng.uniform(0.8, 1.6);
    const int thickness = rng.uniform(2, 5);
    int baseline = 0;
    const int height = cv::getTextSize("Ag", font, scale, thickness, &baseline).height;
    const int spacing = static_cast<int>(height * rng.uniform(1.6, 2.4));
    for (int y = 60 + height; y < pageSize.height - 60; y += spacing) {
        int x = 60 + rng.uniform(0, 40);
        const int drift = handwriting ? rng.uniform(-12, 13) : 0;  // the line climbs or sinks by this much
        while (true) {
            const std::string word = randomWord(rng);
            const int width = cv::getTextSize(word, font, scale, thickness, &baseline).width;
            if (x + width > pageSize.width - 60)
                break;
            const int rise = drift * x / pageSize.width;
            cv::putText(coverage, word, cv::Point(x, y + rise), font, scale, cv::Scalar(255), thickness, cv::LINE_AA);
            x += width + static_cast<int>(height * rng.uniform(0.4, 0.9));
        }
    }
    if (handwriting) {  // bend the strokes: a displacement of up to 2.5 pixels that varies over ~40 pixels
        cv::Mat mapX(pageSize, CV_32F), mapY(pageSize, CV_32F);
        const cv::Mat dx = smoothField(rng, pageSize, 32), dy = smoothField(rng, pageSize, 32);
        for (int y = 0; y < pageSize.height; ++y)
            for (int x = 0; x < pageSize.width; ++x) {
                mapX.at<float>(y, x) = x + 5.f * (dx.at<float>(y, x) - 0.5f);
                mapY.at<float>(y, x) = y + 5.f * (dy.at<float>(y, x) - 0.5f);
            }
        cv::remap(coverage, coverage, mapX, mapY, cv::INTER_LINEAR);
    }
    return coverage;
}

// Paper brightness factor around 1: mottling over large areas, fibres and grain.
cv::Mat paperTexture(cv::RNG& rng, double strength)
{
    cv::Mat texture = 1.0 + strength * (smoothField(rng, pageSize, 12) - 0.5);
    texture += 0.6 * strength * (smoothField(rng, pageSize, 120) - 0.5);
    const int fibres = static_cast<int>(400 * strength / 0.1);
    for (int i = 0; i < fibres; ++i) {
        const cv::Point a(rng.uniform(0, pageSize.width), rng.uniform(0, pageSize.height));
        const cv::Point b = a + cv::Point(rng.uniform(-30, 31), rng.uniform(-30, 31));
        cv::line(texture, a, b, cv::Scalar(1.0 + strength * rng.uniform(-0.6, 0.3)), 1, cv::LINE_AA);
    }
    return texture;
}

// Darkening factor of blotches and rings (1 = none).
cv::Mat stains(cv::RNG& rng)
{
    cv::Mat darkening(pageSize, CV_32F, cv::Scalar(0));
    const int count = rng.uniform(2, 7);
    for (int i = 0; i < count; ++i) {
        const cv::Point centre(rng.uniform(0, pageSize.width), rng.uniform(0, pageSize.height));
        const cv::Size axes(rng.uniform(30, 220), rng.uniform(30, 220));
        const double depth = rng.uniform(0.12, 0.45), angle = rng.uniform(0, 180);
        cv::ellipse(darkening, centre, axes, angle, 0, 360, cv::Scalar(depth), cv::FILLED, cv::LINE_AA);
        cv::ellipse(darkening, centre, axes, angle, 0, 360, cv::Scalar(depth * 1.5), rng.uniform(3, 12),
                    cv::LINE_AA);  // the dried rim
    }
    const cv::Mat ragged = smoothField(rng, pageSize, 40);
    darkening = darkening.mul(0.6 + 0.8 * ragged);
    cv::GaussianBlur(darkening, darkening, cv::Size(0, 0), rng.uniform(2.0, 8.0));
    return 1.0 - cv::min(darkening, 0.7);
}

// Light falling off towards one side and the corners, from 1 down to about 0.45.
cv::Mat shading(cv::RNG& rng)
{
    cv::Mat field(pageSize, CV_32F);
    const double angle = rng.uniform(0.0, 2 * CV_PI), slope = rng.uniform(0.15, 0.35), vignette = rng.uniform(0.2, 0.4);
    const double cx = pageSize.width / 2.0, cy = pageSize.height / 2.0, reach = std::hypot(cx, cy);
    for (int y = 0; y < pageSize.height; ++y) {
        float* f = field.ptr<float>(y);
        for (int x = 0; x < pageSize.width; ++x) {
            const double along = ((x - cx) * std::cos(angle) + (y - cy) * std::sin(angle)) / reach;
            const double r = std::hypot(x - cx, y - cy) / reach;
            f[x] = static_cast<float>((1.0 - slope * (0.5 + 0.5 * along)) * (1.0 - vignette * r * r));
        }
    }
    return field;
}

cv::Mat jpegRoundTrip(const cv::Mat& image, int quality)
{
    std::vector<uchar> bytes;
    cv::imencode(".jpg", image, bytes, {cv::IMWRITE_JPEG_QUALITY, quality});
    return cv::imdecode(bytes, cv::IMREAD_COLOR);
}

struct Page {
    cv::Mat source, target;
};

Page degradedPage(cv::RNG& rng, const std::string& kind, bool handwriting)
{
    const cv::Mat coverage = textCoverage(rng, handwriting);
    cv::Mat alpha;
    coverage.convertTo(alpha, CV_32F, 1 / 255.0);

    // Ink strength 0 … 1: how dark the ink is against the paper where it lies.
    cv::Mat strength(pageSize, CV_32F, cv::Scalar(rng.uniform(0.8, 0.95)));
    if (kind == "faded")
        strength = 0.35 + 0.4 * smoothField(rng, pageSize, 6);
    cv::Mat paper = paperTexture(rng, kind == "texture" ? rng.uniform(0.12, 0.22) : 0.03);
    if (kind == "show-through") {
        cv::Mat back;
        cv::flip(textCoverage(rng, rng.uniform(0, 2) == 1), back, 1);
        back.convertTo(back, CV_32F, 1 / 255.0);
        cv::GaussianBlur(back, back, cv::Size(0, 0), rng.uniform(1.0, 2.5));
        paper = paper.mul(1.0 - rng.uniform(0.15, 0.35) * back);
    }
    cv::Mat light = paper.mul(1.0 - alpha.mul(strength));
    if (kind == "stain")
        light = light.mul(stains(rng));
    if (kind == "shading")
        light = light.mul(shading(rng));

    const cv::Scalar paperColour(rng.uniform(190, 225), rng.uniform(205, 238), rng.uniform(215, 248));
    const cv::Scalar tint(rng.uniform(0.9, 1.1), rng.uniform(0.9, 1.1), rng.uniform(0.9, 1.1));  // of the ink
    cv::Mat channels[3];
    for (int c = 0; c < 3; ++c) {
        const cv::Mat inkShift = 1.0 + (tint[c] - 1.0) * alpha;
        channels[c] = light.mul(inkShift) * paperColour[c];
    }
    cv::Mat image;
    cv::merge(channels, 3, image);
    cv::Mat noise(pageSize, CV_32FC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, 3);
    image += noise;
    const double sigma = kind == "blur" ? rng.uniform(1.2, 2.2) : 0.5;
    cv::GaussianBlur(image, image, cv::Size(0, 0), sigma);
    image.convertTo(image, CV_8UC3);

    Page page;
    page.source = jpegRoundTrip(image, kind == "jpeg" ? rng.uniform(12, 31) : 90);
    cv::threshold(coverage, page.target, 127, 255, cv::THRESH_BINARY_INV);
    return page;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    uint64_t seed = 1;
    if (args.size() >= 2 && args[0] == "--seed") {
        seed = std::stoull(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() != 2) {
        std::cerr << "usage: degraded-pages [--seed S] OUT N\n";
        return 2;
    }
    const fs::path out = args[0];
    const int count = std::stoi(args[1]);
    fs::create_directories(out);
    for (int i = 0; i < count; ++i) {
        cv::RNG rng(seed * 1000003 + static_cast<uint64_t>(i));
        const std::string kind = kinds[i % KIND_COUNT];
        const Page page = degradedPage(rng, kind, (i / KIND_COUNT) % 2 == 1);
        char stem[32];
        std::snprintf(stem, sizeof stem, "%04d-", i + 1);
        const std::string base = (out / (stem + kind)).string();
        cv::imwrite(base + "_source.png", page.source);
        cv::imwrite(base + "_target.png", page.target);
    }
    return 0;
}
