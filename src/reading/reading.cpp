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

Deadline deadlineOf(const ReadOptions& options)
{
    const bool given = options.deadlineStart != std::chrono::steady_clock::time_point{};
    const auto start = given ? options.deadlineStart : std::chrono::steady_clock::now();
    return {start + std::chrono::milliseconds(options.deadlineMs), options.cancel};
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

// The page prepared and recognised within the deadline.
ReadResult readPage(const cv::Mat& image, const ReadOptions& options, const std::string& languages,
                    const Preparation& how)
{
    ReadResult result;
    const Deadline deadline = deadlineOf(options);
    const PreparedPage page = prepared(image, options.rectify, options.upright, how, deadline);
    result.cutShort = page.cutShort;
    result.unreadable = page.unreadable;
    if (page.noise)
        result.notRead = "noise";
    if (page.pixels.empty())
        return result;
    result.pageFound = page.pageFound;
    result.corners = page.corners;
    result.rotation = page.rotation;
    engine::Reading reading = engine::recognise(page.pixels, languages, deadline);
    mapToImage(reading.lines, page.toImage, image.size());
    result.lines = std::move(reading.lines);
    result.cutShort = reading.cutShort;
    return result;
}

} // namespace

std::vector<std::string> installedLanguages()
{
    return engine::installedModels();
}

std::string normalisedLanguages(const std::string& languages)
{
    std::string joined = languages;
    std::replace(joined.begin(), joined.end(), ' ', '+');
    return joined;
}

bool languagesInstalled(const std::string& languages)
{
    const std::string joined = normalisedLanguages(languages);
    const std::vector<std::string> installed = installedLanguages();
    const std::vector<std::string> wanted = parts(joined);
    // "kor+" or "+eng" name an empty part: not a language set.
    const bool complete = !joined.empty() && joined.front() != '+' && joined.back() != '+';
    return complete && std::all_of(wanted.begin(), wanted.end(), [&](const std::string& name) {
               return std::binary_search(installed.begin(), installed.end(), name);
           });
}

ReadResult readText(const cv::Mat& image, const ReadOptions& options, const Preparation& how)
{
    const std::string languages = normalisedLanguages(options.languages);
    if (!readable(image) || !languagesInstalled(languages))
        return {};
    // Bad input gives an empty result; no OpenCV exception reaches the caller.
    try {
        return readPage(image, options, languages, how);
    } catch (const cv::Exception&) {
        return {};
    }
}

ReadResult readText(const cv::Mat& image, const ReadOptions& options)
{
    return readText(image, options, Preparation{});
}

int uprightRotation(const cv::Mat& page)
{
    if (!readable(page))
        return 0;
    cv::Mat source = workingCopy(page).image, grey;
    if (!utils::getGrayImage(source, grey))
        return 0;
    return engine::orientation(scaledToLetters(grey, Preparation{}).pixels);
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
