#include "reading.h"

#include "arrays.h"
#include "reading/reading.h"
#include "reading_options.h"

#include <pybind11/stl.h>

#include <string>

namespace tarvek::python {
namespace {

py::tuple boxOf(const cv::Rect& box)
{
    return py::make_tuple(box.x, box.y, box.width, box.height);
}

template <typename Read>
py::dict readDict(const Read& read)
{
    py::dict entry;
    entry["text"] = read.text;
    entry["box"] = boxOf(read.box);
    entry["confidence"] = read.confidence;
    return entry;
}

py::list linesList(const std::vector<reading::Line>& lines)
{
    py::list list;
    for (const reading::Line& line : lines) {
        py::list words;
        for (const reading::Word& word : line.words)
            words.append(readDict(word));
        py::dict entry = readDict(line);
        entry["words"] = words;
        list.append(entry);
    }
    return list;
}

py::object fieldDict(const std::optional<reading::Field>& field)
{
    if (!field)
        return py::none();
    py::dict entry;
    entry["value"] = field->value;
    for (const auto& [key, value] : readDict(*field))
        entry[key] = value;
    return entry;
}

reading::ReadOptions readOptions(const std::string& lang, bool rectify, bool upright, int deadlineMs)
{
    const std::string languages = reading::normalisedLanguages(lang);
    const std::string problem = reading::languagesProblem(languages);
    if (!problem.empty())
        throw py::value_error("lang: " + problem);
    if (deadlineMs < reading::minDeadlineMs || deadlineMs > reading::maxDeadlineMs)
        throw py::value_error("deadline_ms must lie in " + std::to_string(reading::minDeadlineMs) + " ... " +
                              std::to_string(reading::maxDeadlineMs));
    return {languages, rectify, upright, deadlineMs};
}

// "cut_short", and "not_read": why the page was not read ("noise"), None when it was.
void addOutcome(py::dict& answer, const reading::ReadResult& result)
{
    answer["cut_short"] = result.cutShort;
    answer["not_read"] = result.notRead.empty() ? py::object(py::none()) : py::str(result.notRead);
}

reading::ReadResult readPhoto(const py::array& image, const reading::ReadOptions& options)
{
    Photo photo = photoOf(image);
    py::gil_scoped_release unlocked;
    return reading::readText(photo.image, options);
}

py::dict readText(const py::array& image, const std::string& lang, bool rectify, bool upright, int deadlineMs)
{
    const reading::ReadResult result = readPhoto(image, readOptions(lang, rectify, upright, deadlineMs));
    py::dict answer;
    answer["lines"] = linesList(result.lines);
    addOutcome(answer, result);
    answer["page_found"] = result.pageFound;
    answer["corners"] = result.pageFound
                            ? py::object(cornersArray(std::vector<cv::Point2f>(result.corners.begin(), result.corners.end())))
                            : py::none();
    answer["rotation"] = result.rotation;
    return answer;
}

py::dict receiptFields(const py::array& image, const std::string& lang, bool rectify, bool upright, int deadlineMs,
                       bool withLines)
{
    const reading::ReadResult result = readPhoto(image, readOptions(lang, rectify, upright, deadlineMs));
    reading::ReceiptFields fields;
    {
        py::gil_scoped_release unlocked;
        fields = reading::receiptFields(result.lines);
    }
    py::dict answer;
    answer["business_name"] = fieldDict(fields.businessName);
    answer["telephone"] = fieldDict(fields.telephone);
    answer["date"] = fieldDict(fields.date);
    py::object total = fieldDict(fields.total ? std::optional<reading::Field>(*fields.total) : std::nullopt);
    if (fields.total)
        total["currency"] = fields.total->currency.empty() ? py::object(py::none()) : py::str(fields.total->currency);
    answer["total"] = total;
    addOutcome(answer, result);
    if (withLines)
        answer["lines"] = linesList(result.lines);
    return answer;
}

}  // namespace

void addReading(py::module_& module)
{
    using py::arg;
    const reading::ReadOptions defaults;
    module.attr("languages") = py::tuple(py::cast(reading::installedLanguages()));
    module.def("read_text", &readText, arg("image"), arg("lang") = defaults.languages, arg("rectify") = defaults.rectify,
               arg("upright") = defaults.upright, arg("deadline_ms") = defaults.deadlineMs,
               "The text lines of the photo, as the HTTP read route answers them: a dict of \"lines\" (in reading\n"
               "order, each a dict of \"text\", \"box\" (x, y, width, height in the photo's pixels), \"confidence\"\n"
               "(0 to 1) and \"words\", dicts of the same three), \"cut_short\" (the deadline stopped reading),\n"
               "\"not_read\" (why the page was not read: \"noise\" when it looked like noise, not print; else None),\n"
               "\"page_found\", \"corners\" (4 x 2 float32 of the page flattened before reading, or None) and\n"
               "\"rotation\" (clockwise degrees that turned it upright). lang joins installed models (see\n"
               "languages) with '+' or spaces; rectify looks for a page in the photo to flatten; deadline_ms\n"
               "(100 ... 60000) bounds the reading of one page. ValueError for an unknown language. A page\n"
               "too long for the engine at a letter height it reads (a line of text 100000 pixels long)\n"
               "gives no lines, as an image without text does.");
    module.def("receipt_fields", &receiptFields, arg("image"), arg("lang") = defaults.languages,
               arg("rectify") = defaults.rectify, arg("upright") = defaults.upright,
               arg("deadline_ms") = defaults.deadlineMs, arg("lines") = false,
               "A receipt's \"business_name\", \"telephone\", \"date\" (YYYY-MM-DD) and \"total\" (a decimal with\n"
               "'.'), each None or a dict of \"value\", \"text\" (the line it came from), \"box\" and \"confidence\";\n"
               "the total also has \"currency\" (an ISO 4217 code, or None when none is printed). With\n"
               "\"cut_short\" and \"not_read\", and \"lines\" as read_text gives them when lines is true. Options as read_text.");
}

}  // namespace tarvek::python
