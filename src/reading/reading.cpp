#include "reading/reading.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>

#include "reading/engine.h"
#include "reading/reading_internal.h"
#include "utils.h"

namespace tarvek::reading {

namespace {

std::vector<std::string> parts(const std::string& languages)
{
    std::vector<std::string> names;
    std::istringstream in(languages);
    for (std::string name; std::getline(in, name, '+');)
        names.push_back(name);
    return names;
}

// Boxes of the prepared page in the image's pixels, clipped to the image.
void mapToImage(std::vector<Line>& lines, const cv::Matx33d& toImage, cv::Size image)
{
    const cv::Rect frame(cv::Point(0, 0), image);
    for (Line& line : lines) {
        line.box = mappedBox(line.box, toImage) & frame;
        for (Word& word : line.words)
            word.box = mappedBox(word.box, toImage) & frame;
    }
}

int millisecondsSince(std::chrono::steady_clock::time_point start)
{
    using namespace std::chrono;
    return static_cast<int>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}

} // namespace

std::vector<std::string> installedLanguages()
{
    return engine::installedModels();
}

bool languagesInstalled(const std::string& languages)
{
    const std::vector<std::string> installed = installedLanguages();
    const std::vector<std::string> wanted = parts(languages);
    // "kor+" or "+eng" name an empty part: not a language set.
    const bool complete = !languages.empty() && languages.front() != '+' && languages.back() != '+';
    return complete && std::all_of(wanted.begin(), wanted.end(), [&](const std::string& name) {
               return std::binary_search(installed.begin(), installed.end(), name);
           });
}

ReadResult readText(const cv::Mat& image, const ReadOptions& options, const Preparation& how)
{
    ReadResult result;
    if (!readable(image) || !languagesInstalled(options.languages))
        return result;
    const auto start = std::chrono::steady_clock::now();
    const PreparedPage page = prepared(image, options.rectify, options.upright, how);
    if (page.pixels.empty())
        return result;
    result.pageFound = page.pageFound;
    result.corners = page.corners;
    result.rotation = page.rotation;
    const int remaining = options.deadlineMs - millisecondsSince(start);
    if (remaining <= 0) {
        result.cutShort = true;
        return result;
    }
    engine::Reading reading = engine::recognise(page.pixels, options.languages, remaining);
    mapToImage(reading.lines, page.toImage, image.size());
    result.lines = std::move(reading.lines);
    result.cutShort = reading.cutShort;
    return result;
}

ReadResult readText(const cv::Mat& image, const ReadOptions& options)
{
    return readText(image, options, Preparation{});
}

int uprightRotation(const cv::Mat& page)
{
    if (!readable(page))
        return 0;
    cv::Mat source = page, grey;
    if (!utils::getGrayImage(source, grey))
        return 0;
    cv::Matx33d toPage;
    return engine::orientation(scaledToLetters(grey, Preparation{}, toPage));
}

cv::Mat upright(const cv::Mat& page)
{
    return turned(page, uprightRotation(page));
}

bool limitEngineThreads()
{
    constexpr const char* threadLimit = "OMP_THREAD_LIMIT";
    const char* given = std::getenv(threadLimit);
    if (given && *given)
        return false;
    return setenv(threadLimit, "1", 1) == 0;
}

} // namespace tarvek::reading
