// The compiled half of the Python package tarvek: the library's document tools over NumPy arrays.
// Every call releases the GIL while the library works, so Python threads run in parallel.

#include "arrays.h"
#include "reading.h"

#include "binarization_methods.h"
#include "document_search.h"
#include "encryption.h"
#include "imageio.h"
#include "imageprocessing.h"
#include "named_table.h"
#include "reading/reading.h"
#include "version.h"
#include "weighted_edit_distance.h"

#include <opencv2/imgcodecs.hpp>
#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace py = pybind11;
namespace search = tarvek::documentsearch;

namespace tarvek::python {
namespace {

using Corners = std::vector<cv::Point>;

// Bytes of no format the decoder is given: raised as tarvek.NotAnImageError, a ValueError.
struct NotAnImage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

template <typename Entry>
const Entry& named(const Entry* entry, const char* what, const std::string& name,
                   const std::vector<std::string>& names)
{
    if (!entry)
        throw py::value_error("unknown " + std::string(what) + " \"" + name + "\"; one of " + joined(names));
    return *entry;
}

const search::Strategy& strategyNamed(const std::string& name)
{
    return named(search::strategyNamed(name), "strategy", name, namesOf(search::strategies));
}

search::Ratios ratiosNamed(const std::string& kind)
{
    return search::ratiosOfKind(named(search::kindNamed(kind), "kind", kind, namesOf(search::documentKinds)).kind);
}

// The search's corners rounded to whole pixels, outside the image where the page is cut by its edge.
std::optional<Corners> detect(cv::Mat& image, const search::Strategy& strategy, const search::Ratios& ratios)
{
    const auto found = strategy.find(image, ratios);
    if (!found)
        return std::nullopt;
    return search::wholePixels(found->corners);
}

std::optional<search::Detection> searched(const py::array& image, const std::string& strategy, const std::string& kind)
{
    const search::Strategy& search = strategyNamed(strategy);
    const search::Ratios ratios = ratiosNamed(kind);
    Photo photo = photoOf(image);
    py::gil_scoped_release unlocked;
    return search.find(photo.image, ratios);
}

std::optional<py::array> findDocument(const py::array& image, const std::string& strategy, const std::string& kind)
{
    const auto found = searched(image, strategy, kind);
    if (!found)
        return std::nullopt;
    return cornersArray(search::wholePixels(found->corners));
}

// The members of the detect route's answer: corners, corners_subpixel, confidence.
std::optional<py::dict> detectionDict(const std::optional<search::Detection>& found)
{
    if (!found)
        return std::nullopt;
    py::dict detection;
    detection["corners"] = cornersArray(search::wholePixels(found->corners));
    detection["corners_subpixel"] = cornersArray(found->corners);
    detection["confidence"] = found->confidence ? py::object(py::float_(*found->confidence)) : py::none();
    return detection;
}

std::optional<py::dict> detectDocument(const py::array& image, const std::string& strategy, const std::string& kind)
{
    return detectionDict(searched(image, strategy, kind));
}

// Raises for bytes that are not handed to the decoder: NotAnImage for another kind of file,
// ValueError for a header without a size or with too many pixels.
void checkImageFile(const std::string& bytes)
{
    using imageio::ImageCheck;
    switch (imageio::checkImageBytes(bytes)) {
    case ImageCheck::empty:
    case ImageCheck::otherFormat:
        throw NotAnImage("not a JPEG, PNG, BMP, WebP or TIFF file");
    case ImageCheck::sizeUnknown:
        throw py::value_error("the image header does not declare the image's size");
    case ImageCheck::tooManyPixels:
        throw py::value_error("the image declares more than 2^28 pixels");
    case ImageCheck::decodable:
        break;
    }
}

// The file decoded as the HTTP detect route and the tarvek program decode it for the search.
std::optional<py::dict> detectDocumentFile(const py::bytes& data, const std::string& strategy, const std::string& kind)
{
    const search::Strategy& search = strategyNamed(strategy);
    const search::Ratios ratios = ratiosNamed(kind);
    const std::string bytes = data;
    std::optional<search::Detection> found;
    {
        py::gil_scoped_release unlocked;
        checkImageFile(bytes);
        imageio::ReducedImage photo = imageio::decodeReduced(bytes, search::searchSide(search));
        if (photo.image.empty())
            throw py::value_error("the image cannot be decoded");
        found = search::detectedIn(photo, search, ratios);
    }
    return detectionDict(found);
}

py::array rectify(const py::array& image, const py::object& given, const std::string& strategy,
                  const std::string& kind, bool upright)
{
    const search::Strategy& search = strategyNamed(strategy);
    const search::Ratios ratios = ratiosNamed(kind);
    Photo photo = photoOf(image);
    std::optional<Corners> corners;
    if (!given.is_none())
        corners = cornersOf(given, photo.image.size());
    cv::Mat page;
    {
        py::gil_scoped_release unlocked;
        if (!corners)
            corners = detect(photo.image, search, ratios);
        const cv::Size size = corners ? search::pageSize(*corners, photo.image.size(), ratios) : cv::Size();
        if (!size.empty() && search::fitsTheWarp(*corners, photo.image.size()))
            page = search::flattenedPage(photo.image, *corners, size);
        if (upright && !page.empty())
            page = reading::upright(page);
    }
    if (!corners)
        throw py::value_error("no document was found in the image");
    if (!search::fitsTheWarp(*corners, photo.image.size()))
        throw py::value_error("the corners span " + std::to_string(search::warpRegionLimit) +
                              " pixels or more, which the warp cannot take");
    if (page.empty())
        throw py::value_error("the corners do not form a convex quadrangle of a usable page size");
    return arrayOf(page);
}

py::array binarize(const py::array& image, const std::string& name, std::optional<int> window,
                   std::optional<double> k, std::optional<int> block)
{
    const binarization::Method& method =
        named(binarization::methodNamed(name), "method", name, namesOf(binarization::methods));
    binarization::MethodOptions options = method.defaults;
    if (window)
        options.window = *window;
    if (k)
        options.k = *k;
    if (block)
        options.block = *block;
    const std::string problem = binarization::optionsProblem(method, options);
    if (!problem.empty())
        throw py::value_error(problem);
    Photo photo = photoOf(image);
    cv::Mat binary;
    {
        py::gil_scoped_release unlocked;
        binarization::binarizeNamed(method, photo.image, binary, options);
    }
    if (binary.empty())
        throw py::value_error("the image is too small for " + name + " with these options");
    return arrayOf(binary);
}

py::array clean(const py::array& image)
{
    Photo photo = photoOf(image);
    cv::Mat cleaned;
    bool removed;
    {
        py::gil_scoped_release unlocked;
        removed = imageprocessing::removeBgColor(photo.image, cleaned);
    }
    if (!removed)
        throw py::value_error("no background removed (a light-on-dark page, or too small)");
    return arrayOf(cleaned);
}

py::array decodeImage(const py::bytes& data)
{
    const std::string bytes = data;
    cv::Mat image;
    {
        py::gil_scoped_release unlocked;
        checkImageFile(bytes);
        image = imageio::decodeImage(bytes, cv::IMREAD_COLOR);
        if (image.empty())
            throw py::value_error("the image cannot be decoded");
    }
    return arrayOf(image);
}

py::bytes encodeImage(const py::array& image, const std::string& format)
{
    if (format != "jpeg" && format != "png" && format != "webp")
        throw py::value_error("unknown format \"" + format + "\"; one of jpeg, png, webp");
    Photo photo = photoOf(image);
    std::vector<uchar> bytes;
    {
        py::gil_scoped_release unlocked;
        cv::imencode(format == "jpeg" ? ".jpg" : "." + format, photo.image, bytes);
    }
    return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

const char* stepName(int type)
{
    static const char* const names[] = {"deletion", "insertion", "substitution", "similar", "match"};
    return names[type];
}

// edit_distance and alignment get their texts converted, which needs the GIL; the comparison,
// quadratic in their lengths, runs without it.
float editDistance(const std::wstring& a, const std::wstring& b)
{
    py::gil_scoped_release unlocked;
    return WeightedEditDistance().GetHangulDictance(a, b, nullptr, false);
}

std::vector<std::tuple<std::string, int, int>> alignment(const std::wstring& a, const std::wstring& b)
{
    py::gil_scoped_release unlocked;
    std::vector<MatchingInfo> steps;
    WeightedEditDistance().GetHangulDictance(a, b, &steps, false);
    std::vector<std::tuple<std::string, int, int>> named;
    for (const MatchingInfo& step : steps)
        named.emplace_back(stepName(step.type), step.index1, step.index2);
    return named;
}

// One of the scrambling functions, run without the GIL: with the caller's key, or the built-in one.
std::string scrambling(const std::string& data, const std::optional<std::string>& key,
                       std::string (*keyed)(const std::string&, const std::string&),
                       std::string (*builtIn)(const std::string&))
{
    if (key && key->empty())
        throw py::value_error("the key is empty");
    py::gil_scoped_release unlocked;
    return key ? keyed(data, *key) : builtIn(data);
}

py::bytes scramble(const std::string& data, const std::optional<std::string>& key)
{
    std::string scrambled =
        scrambling(data, key, encryption::encrypt_image, encryption::encrypt_image_internal_key);
    if (!key && scrambled.empty())
        throw py::value_error("the data is too long to scramble with the built-in key");
    return scrambled;
}

// The built-in key's payload, which may be empty; data it did not scramble is refused.
std::string builtInPayload(const std::string& data)
{
    std::optional<std::string> payload = encryption::internalKeyPayload(data);
    if (!payload)
        throw py::value_error("not scrambled with the built-in key");
    return std::move(*payload);
}

py::bytes unscramble(const std::string& data, const std::optional<std::string>& key)
{
    return scrambling(data, key, encryption::decrypt_image, builtInPayload);
}

}  // namespace
}  // namespace tarvek::python

PYBIND11_MODULE(_tarvek, module)
{
    using namespace tarvek::python;
    using py::arg;
    module.doc() = "The tarvek library's document tools over NumPy arrays (uint8, H x W or H x W x 3 BGR).";
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure)
                std::rethrow_exception(failure);
        } catch (const cv::Exception& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });

    py::register_exception<NotAnImage>(module, "NotAnImageError", PyExc_ValueError);

    module.attr("__version__") = tarvek::version();
    module.attr("strategies") = py::tuple(py::cast(tarvek::namesOf(search::strategies)));
    module.attr("kinds") = py::tuple(py::cast(tarvek::namesOf(search::documentKinds)));
    module.attr("methods") = py::tuple(py::cast(tarvek::namesOf(tarvek::binarization::methods)));

    module.def(
        "set_num_threads", [](int threads) { cv::setNumThreads(threads); }, arg("threads"),
        "OpenCV's own threads inside each call (as cv2.setNumThreads). Set 1 when photos run on several\n"
        "Python threads or processes at once, as the tarvek program does with more than one job, so that\n"
        "they do not compete with OpenCV's thread pool.");
    module.def("find_document", &findDocument, arg("image"), arg("strategy") = search::defaultStrategy, arg("kind") = "any",
               "The corners of the document in the photo as a 4 x 2 int32 array of (x, y): top-left, top-right,\n"
               "bottom-right, bottom-left. None when no document is found.");
    module.def("detect_document", &detectDocument, arg("image"), arg("strategy") = search::defaultStrategy,
               arg("kind") = "any",
               "What the search found, as the HTTP detect route answers it: a dict of \"corners\" (4 x 2 int32),\n"
               "\"corners_subpixel\" (4 x 2 float32, as the search found them) and \"confidence\" (0 to 1 from the\n"
               "page search auto, None from the others). None when no document is found. The route and the\n"
               "tarvek program search a large JPEG file decoded at a reduced size; on an array decoded whole\n"
               "the corners may differ from theirs by a pixel (detect_document_file answers as they do).");
    module.def("detect_document_file", &detectDocumentFile, arg("data"), arg("strategy") = search::defaultStrategy,
               arg("kind") = "any",
               "What detect_document finds in the bytes of an image file, decoded as the HTTP detect route and\n"
               "the tarvek program decode it (a large JPEG at 1/2, 1/4 or 1/8 of its size for the search auto,\n"
               "its corners then in the full photo's pixels), so that all three answer the same corners.\n"
               "NotAnImageError and ValueError as decode_image.");
    module.def("rectify", &rectify, arg("image"), arg("corners") = py::none(), arg("strategy") = search::defaultStrategy,
               arg("kind") = "any", arg("upright") = false,
               "The document flattened: as wide as the longer of its top and bottom sides, as high as its\n"
               "height/width ratio (the kind's preset closest to it, if a kind is given). The corners are\n"
               "found first unless given; upright turns the page so that its text reads upright. ValueError\n"
               "when no document is found or the corners are unusable.");
    module.def("binarize", &binarize, arg("image"), arg("method") = "auto", arg("window") = py::none(),
               arg("k") = py::none(), arg("block") = py::none(),
               "Black ink on white paper, an H x W array of 0 and 255; auto, the default, suits degraded\n"
               "pages and reads only k (0..1; 0.2). window (3..255; sauvola 15, multiscale-sauvola 16 when\n"
               "None) and k (0..1; 0.075) are Sauvola's; block is adaptive\n"
               "Otsu's block side (8..4096; 64) and multiscale-sauvola's coarse scale factor (1..255; 7).\n"
               "Options a method does not read are ignored.");
    module.def("clean", &clean, arg("image"),
               "The photo with its paper background painted white, H x W x 3. ValueError for a light-on-dark\n"
               "page or an image too small.");
    addReading(module);
    module.def("decode_image", &decodeImage, arg("data"),
               "Decodes the bytes of a JPEG, PNG, BMP, WebP or TIFF file to an H x W x 3 BGR array.\n"
               "NotAnImageError for bytes of another kind (they never reach the decoder), ValueError for\n"
               "an image that cannot be decoded or declares more than 2^28 pixels.");
    module.def("encode_image", &encodeImage, arg("image"), arg("format") = "jpeg",
               "The image as the bytes of a jpeg, png or webp file.");
    module.def("edit_distance", &editDistance, arg("a"), arg("b"),
               "The edit distance of two texts: insertions, deletions and substitutions cost 1.");
    module.def("alignment", &alignment, arg("a"), arg("b"),
               "The steps of a cheapest alignment, first characters first: (kind, index in a, index in b),\n"
               "kind one of deletion, insertion, substitution, similar, match.");
    module.def("scramble", &scramble, arg("data"), arg("key") = py::none(),
               "The data scrambled reversibly, with the key or, without one, the built-in key and a checked\n"
               "header.");
    module.def("unscramble", &unscramble, arg("data"), arg("key") = py::none(),
               "The data that scramble was given. ValueError when data was not scrambled with the built-in key.");
}
