#include "binarization_methods.h"

#include "binarization.h"
#include "binarization_auto.h"

#include <sstream>

namespace tarvek::binarization {
namespace {

// Sauvola's dynamic range of the standard deviation, the usual value for 8-bit images.
constexpr int SAUVOLA_R = 128;
// multiscale-sauvola's smallest coarse window.
constexpr int COARSE_MIN_WINDOW = 16;

constexpr OptionBounds WINDOW{"window", 3, 255, true};
constexpr OptionBounds K{"k", 0, 1, false};

std::string outside(const OptionBounds& bounds, double value)
{
    if (value >= bounds.least && value <= bounds.most)
        return "";
    std::ostringstream text;
    text << bounds.name << " must be " << (bounds.integral ? "an integer" : "a number") << " from " << bounds.least
         << " to " << bounds.most << ", not " << value;
    return text.str();
}

}  // namespace

const std::vector<Method> methods = {
    {"auto", {0, 0.2, 0}, {K}},
    {"otsu", {}, {}},
    {"adaptive-otsu", {0, 0, 64}, {{"block", 8, 4096, true}}},
    {"sauvola", {15, 0.075, 0}, {WINDOW, K}},
    {"multiscale-sauvola", {16, 0.075, 7}, {WINDOW, K, {"block", 1, 255, true}}},
};

const Method* methodNamed(const std::string& name)
{
    for (const Method& method : methods)
        if (name == method.name)
            return &method;
    return nullptr;
}

double optionValue(const MethodOptions& options, const std::string& name)
{
    if (name == "window")
        return options.window;
    return name == "k" ? options.k : options.block;
}

void setOption(MethodOptions& options, const std::string& name, double value)
{
    if (name == "window")
        options.window = static_cast<int>(value);
    else if (name == "k")
        options.k = value;
    else
        options.block = static_cast<int>(value);
}

std::string optionsProblem(const Method& method, const MethodOptions& options)
{
    for (const OptionBounds& bounds : method.options) {
        std::string problem = outside(bounds, optionValue(options, bounds.name));
        if (!problem.empty())
            return problem;
    }
    return "";
}

void binarizeNamed(const Method& method, cv::Mat& src, cv::Mat& dst, const MethodOptions& options)
{
    dst.release();
    if (!optionsProblem(method, options).empty())
        return;
    const std::string name = method.name;
    if (name == "auto")
        autoBinarize(src, dst, options.k);
    else if (name == "otsu")
        otsu(src, dst);
    else if (name == "adaptive-otsu")
        adaptiveOtsu(src, dst, options.block);
    else if (name == "sauvola")
        sauvola(src, dst, options.window, options.k, SAUVOLA_R, false);
    else if (name == "multiscale-sauvola")
        multiScaleSauvola(src, dst, options.window, options.k, SAUVOLA_R, options.block, false, COARSE_MIN_WINDOW);
}

}  // namespace tarvek::binarization
