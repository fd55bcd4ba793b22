#pragma once

// The binarization methods by the names that the command line and the Python
// package share, with their options and bounds.

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace tarvek::binarization {

struct MethodOptions {
    int window = 15;  // sauvola, multiscale-sauvola: window side in pixels, 3..255
    double k = 0.2;   // sauvola, multiscale-sauvola: 0..1
    int block = 32;   // adaptive-otsu: block side in pixels, 8..4096
};

// otsu, adaptive-otsu, sauvola, multiscale-sauvola.
extern const std::vector<std::string> methodNames;

// What is wrong with the options ("" when they are within their bounds).
std::string optionsProblem(const MethodOptions& options);

// Binarizes src with the named method. dst is left empty for an unknown name,
// options out of their bounds, or an image too small for the method.
void binarizeNamed(const std::string& method, cv::Mat& src, cv::Mat& dst, const MethodOptions& options);

}  // namespace tarvek::binarization
