#include "arrays.h"

#include "document_search.h"
#include "image_size.h"

#include <memory>
#include <string>

namespace tarvek::python {

namespace {

std::string shapeText(const py::array& array)
{
    std::string text;
    for (py::ssize_t axis = 0; axis < array.ndim(); ++axis)
        text += (axis ? " x " : "") + std::to_string(array.shape(axis));
    return text;
}

void check(const py::array& array)
{
    if (!array.dtype().is(py::dtype::of<std::uint8_t>()))
        throw py::type_error("the image must have dtype uint8, not " + std::string(py::str(array.dtype())));
    const bool grey = array.ndim() == 2, colour = array.ndim() == 3 && array.shape(2) == 3;
    if (!grey && !colour)
        throw py::value_error("the image must be H x W (grey) or H x W x 3 (BGR), not " + shapeText(array));
    if (array.shape(0) == 0 || array.shape(1) == 0)
        throw py::value_error("the image is empty (" + shapeText(array) + ")");
    if (!fitsIntCounts(array.shape(0), array.shape(1), grey ? 1 : 3))
        throw py::value_error("the image is too large (" + shapeText(array) +
                              "): at most 2^31 - 1 pixels, and as many values (width x channels) in a row");
}

}  // namespace

Photo photoOf(py::array array)
{
    check(array);
    // The converting constructor raises the copy's MemoryError, where ensure would give a null array.
    if (!(array.flags() & py::array::c_style))
        array = py::array_t<std::uint8_t, py::array::c_style>(array);
    const int type = array.ndim() == 2 ? CV_8UC1 : CV_8UC3;
    // The library reads its sources; the cast lets read-only arrays in as well.
    void* pixels = const_cast<void*>(array.data());
    cv::Mat image(static_cast<int>(array.shape(0)), static_cast<int>(array.shape(1)), type, pixels);
    return {std::move(array), image};
}

py::array arrayOf(cv::Mat image)
{
    if (!image.isContinuous())
        image = image.clone();
    auto owner = std::make_unique<cv::Mat>(image);
    const cv::Mat& held = *owner;
    py::capsule keeper(owner.get(), [](void* mat) { delete static_cast<cv::Mat*>(mat); });
    owner.release();
    std::vector<py::ssize_t> shape{held.rows, held.cols};
    if (held.channels() > 1)
        shape.push_back(held.channels());
    return py::array(py::dtype::of<std::uint8_t>(), shape, held.data, keeper);
}

template <typename Number>
py::array pointsArray(const std::vector<cv::Point_<Number>>& corners)
{
    py::array_t<Number> array({static_cast<py::ssize_t>(corners.size()), py::ssize_t{2}});
    auto cells = array.template mutable_unchecked<2>();
    for (std::size_t i = 0; i < corners.size(); ++i) {
        cells(i, 0) = corners[i].x;
        cells(i, 1) = corners[i].y;
    }
    return array;
}

py::array cornersArray(const std::vector<cv::Point>& corners) { return pointsArray(corners); }

py::array cornersArray(const std::vector<cv::Point2f>& corners) { return pointsArray(corners); }

std::vector<cv::Point> cornersOf(const py::handle& object, cv::Size image)
{
    using Points = py::array_t<double, py::array::c_style | py::array::forcecast>;
    const char* const notFourPoints =
        "corners must be four [x, y] points";
    // The shape first: the conversion to double copies, and a view of any size may come.
    const py::array given = py::array::ensure(object);
    if (!given || given.ndim() != 2 || given.shape(0) != 4 || given.shape(1) != 2)
        throw py::value_error(notFourPoints);
    const Points points = Points::ensure(given);
    if (!points)
        throw py::value_error(notFourPoints);
    std::vector<cv::Point> corners;
    auto cells = points.unchecked<2>();
    for (py::ssize_t i = 0; i < 4; ++i) {
        const double x = cells(i, 0), y = cells(i, 1);
        if (!(x >= 0 && y >= 0 && x <= image.width - 1 && y <= image.height - 1))
            throw py::value_error("corner (" + std::to_string(x) + ", " + std::to_string(y) + ") lies outside the " +
                                  std::to_string(image.width) + " x " + std::to_string(image.height) + " image");
        corners.emplace_back(cvRound(x), cvRound(y));
    }
    return documentsearch::inCornerOrder(corners);
}

}  // namespace tarvek::python
