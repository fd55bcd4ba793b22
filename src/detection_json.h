#pragma once

// A search's corners in the JSON answers of the detect route and the command
// line's detect lines: one layout for both. Header-only, for the programs that
// write JSON; the library itself does not.

#include "document_search.h"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

namespace tarvek::documentsearch {

template <typename Point>
boost::json::array pointsJson(const std::vector<Point>& points)
{
    boost::json::array array;
    for (const Point& point : points)
        array.push_back(boost::json::array{point.x, point.y});
    return array;
}

// "corners" in whole pixels, "corners_subpixel" as found, and the page
// search's "confidence".
inline void addDetection(boost::json::object& answer, const Detection& found)
{
    answer["corners"] = pointsJson(wholePixels(found.corners));
    answer["corners_subpixel"] = pointsJson(found.corners);
    if (found.confidence)
        answer["confidence"] = *found.confidence;
}

} // namespace tarvek::documentsearch
