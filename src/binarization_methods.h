#pragma once

// The binarization methods by the names that the server, the command line and
// the Python package share, with their options, defaults and bounds, so that a
// method called by name gives the same image through each of them.

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace tarvek::binarization {

struct MethodOptions {
    int window = 0;  // sauvola, multiscale-sauvola: window side in pixels
    double k = 0;    // sauvola, multiscale-sauvola; auto: weight of the edges' deviation
    int block = 0;   // adaptive-otsu: block side in pixels; multiscale-sauvola: the coarse scale factor
};

// One option a method reads, and the values it accepts.
struct OptionBounds {
    const char* name;  // "window", "k" or "block"
    double least;
    double most;
    bool integral;
};

struct Method {
    const char* name;
    MethodOptions defaults;
    std::vector<OptionBounds> options;
};

// auto (k 0.2; the default of every interface), otsu, adaptive-otsu, sauvola (window 15,
// k 0.075) and multiscale-sauvola (window 16, k 0.075, scale 7, the first pass of the
// background removal); adaptive-otsu's block is 64.
extern const std::vector<Method> methods;

// nullptr for a name that is no method.
const Method* methodNamed(const std::string& name);

// The option of options that the name picks ("window", "k" or "block").
double optionValue(const MethodOptions& options, const std::string& name);
void setOption(MethodOptions& options, const std::string& name, double value);

// What is wrong with the options the method reads ("" when they are within their bounds).
std::string optionsProblem(const Method& method, const MethodOptions& options);

// Binarizes src with the method. dst is left empty for options out of their
// bounds or an image too small for the method.
void binarizeNamed(const Method& method, cv::Mat& src, cv::Mat& dst, const MethodOptions& options);

}  // namespace tarvek::binarization
