#pragma once

// NumPy arrays and OpenCV images, both ways, for the module's functions.

#include <opencv2/core.hpp>
#include <pybind11/numpy.h>

#include <vector>

namespace tarvek::python {

namespace py = pybind11;

// A photo handed in from Python: the array (kept alive) and an OpenCV header over its pixels.
struct Photo {
    py::array array;
    cv::Mat image;
};

// Views a uint8 array of H x W (grey) or H x W x 3 (BGR) without a copy. An array that is not
// C-contiguous (a slice with steps, a transposed view) is copied into a contiguous one, once its
// shape has passed: TypeError for another dtype, ValueError for another shape, an empty image or one
// past the int counts of image_size.h (a view of any size is refused without a copy).
Photo photoOf(py::array array);

// The image as a new array that owns its pixels (no copy: the array holds on to the Mat's buffer).
py::array arrayOf(cv::Mat image);

// Four corners as a 4 x 2 array (x, y), top-left, top-right, bottom-right, bottom-left: int32 for
// whole pixels, float32 for sub-pixel corners.
py::array cornersArray(const std::vector<cv::Point>& corners);
py::array cornersArray(const std::vector<cv::Point2f>& corners);

// Four [x, y] points inside a width x height image, rounded to whole pixels as the HTTP route rounds them. ValueError otherwise.
std::vector<cv::Point> cornersOf(const py::handle& object, cv::Size image);

}  // namespace tarvek::python
