#pragma once

// The document searches and document kinds by the names that the HTTP
// routes' options and the command line's --strategy and --kind use.

#include <opencv2/core.hpp>

#include <functional>
#include <vector>

namespace tarvek::service {

// Preset document shapes of getBasicAspectRatio: the family in the low byte,
// the orientation (portrait 0x100, landscape 0x200, either 0x300) above it;
// "any" is no preset at all.
struct DocumentKind {
    const char* name;
    int kind;
};

extern const std::vector<DocumentKind> documentKinds;

struct Ratios {
    float aspect = 0, portrait = 0, landscape = 0; // 0: not given
};

// The height/width ratios getBasicAspectRatio presets for the kind.
Ratios ratiosOfKind(int kind);

struct Strategy {
    const char* name;
    // Appends the corners it finds to out; true when four corners were found.
    std::function<bool(cv::Mat&, std::vector<cv::Point>&, const Ratios&)> find;
};

// Every search with its general bounds, no equalisation and Canny edges.
extern const std::vector<Strategy> strategies;

} // namespace tarvek::service
