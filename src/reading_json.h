#pragma once

// Read lines and receipt fields in the JSON answers of the read and fields
// routes and the command line's read and fields lines: one layout for both.
// Header-only, for the programs that write JSON; the library itself does not.

#include "printable.h"
#include "reading/reading.h"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include <cmath>
#include <optional>

namespace tarvek::reading {

// [x, y, width, height] in the pixels of the image read.
inline boost::json::array boxJson(const cv::Rect& box) { return {box.x, box.y, box.width, box.height}; }

// Three decimals: a float's further digits say nothing about a confidence.
inline double roundedConfidence(float confidence) { return std::round(confidence * 1000.0) / 1000.0; }

// What every piece of read text carries: "text", "box" and "confidence".
template <typename Read>
boost::json::object readJson(const Read& read)
{
    return {{"text", validUtf8(read.text)}, {"box", boxJson(read.box)},
            {"confidence", roundedConfidence(read.confidence)}};
}

inline boost::json::array linesJson(const std::vector<Line>& lines)
{
    boost::json::array array;
    for (const Line& line : lines) {
        boost::json::array words;
        for (const Word& word : line.words)
            words.push_back(readJson(word));
        boost::json::object entry = readJson(line);
        entry["words"] = std::move(words);
        array.push_back(std::move(entry));
    }
    return array;
}

// "cut_short", and "not_read": why the page was not read ("noise"), null when it was.
inline void addOutcome(boost::json::object& answer, const ReadResult& result)
{
    answer["cut_short"] = result.cutShort;
    answer["not_read"] = result.notRead.empty() ? boost::json::value(nullptr) : boost::json::value(result.notRead);
}

// "lines", "cut_short", "not_read", "page_found", "corners" (whole pixels, top-left first
// clockwise; [] when no page was found) and "rotation".
inline void addReading(boost::json::object& answer, const ReadResult& result)
{
    answer["lines"] = linesJson(result.lines);
    addOutcome(answer, result);
    answer["page_found"] = result.pageFound;
    boost::json::array corners;
    if (result.pageFound)
        for (const cv::Point2f& corner : result.corners)
            corners.push_back(boost::json::array{std::lround(corner.x), std::lround(corner.y)});
    answer["corners"] = std::move(corners);
    answer["rotation"] = result.rotation;
}

// null, or {"value", "text", "box", "confidence"}.
inline boost::json::value fieldJson(const std::optional<Field>& field)
{
    if (!field)
        return nullptr;
    boost::json::object entry{{"value", validUtf8(field->value)}};
    const boost::json::object read = readJson(*field);
    entry.insert(read.begin(), read.end());
    return entry;
}

// "business_name", "telephone", "date" and "total", the total with its
// "currency" (null when none is printed).
inline void addFields(boost::json::object& answer, const ReceiptFields& fields)
{
    answer["business_name"] = fieldJson(fields.businessName);
    answer["telephone"] = fieldJson(fields.telephone);
    answer["date"] = fieldJson(fields.date);
    boost::json::value total = fieldJson(fields.total ? std::optional<Field>(*fields.total) : std::nullopt);
    if (fields.total)
        total.as_object()["currency"] =
            fields.total->currency.empty() ? boost::json::value(nullptr) : boost::json::value(fields.total->currency);
    answer["total"] = std::move(total);
}

} // namespace tarvek::reading
