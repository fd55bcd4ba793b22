#include "binarization_methods.h"

#include "binarization.h"

namespace tarvek::binarization {
namespace {

// Sauvola's dynamic range of the standard deviation, the usual value for 8-bit images.
constexpr int SAUVOLA_R = 128;
// multiscale-sauvola's reduction factor and smallest coarse window.
constexpr int SAUVOLA_SCALE = 4;
constexpr int SAUVOLA_MIN_WINDOW = 8;

std::string outside(const char* name, double value, double low, double high)
{
    if (value >= low && value <= high)
        return "";
    return std::string(name) + " must be within " + std::to_string(low) + " and " + std::to_string(high) +
           ", not " + std::to_string(value);
}

}  // namespace

const std::vector<std::string> methodNames = {"otsu", "adaptive-otsu", "sauvola", "multiscale-sauvola"};

std::string optionsProblem(const MethodOptions& options)
{
    for (std::string problem : {outside("window", options.window, 3, 255), outside("k", options.k, 0, 1),
                                outside("block", options.block, 8, 4096)})
        if (!problem.empty())
            return problem;
    return "";
}

void binarizeNamed(const std::string& method, cv::Mat& src, cv::Mat& dst, const MethodOptions& options)
{
    dst.release();
    if (!optionsProblem(options).empty())
        return;
    if (method == "otsu")
        otsu(src, dst);
    else if (method == "adaptive-otsu")
        adaptiveOtsu(src, dst, options.block);
    else if (method == "sauvola")
        sauvola(src, dst, options.window, options.k, SAUVOLA_R, false);
    else if (method == "multiscale-sauvola")
        multiScaleSauvola(src, dst, options.window, options.k, SAUVOLA_R, SAUVOLA_SCALE, false, SAUVOLA_MIN_WINDOW);
}

}  // namespace tarvek::binarization
