#include "reading_options.h"

#include "printable.h"
#include "reading/reading.h"

#include <string>

namespace tarvek::reading {
namespace {

// Whether an installed language is a part of the set more than once; the
// set's parts are known to be installed.
bool repeats(const std::string& languages)
{
    const std::string bounded = "+" + languages + "+";
    for (const std::string& name : installedLanguages()) {
        const std::string part = "+" + name + "+";
        const auto first = bounded.find(part);
        // Parts share their '+', so the next one may start at the last character of this one.
        if (first != std::string::npos && bounded.find(part, first + part.size() - 1) != std::string::npos)
            return true;
    }
    return false;
}

std::string installedList()
{
    std::string names;
    for (const std::string& name : installedLanguages())
        names += (names.empty() ? "" : ", ") + name;
    return names;
}

} // namespace

std::string languagesProblem(const std::string& languages)
{
    const std::string quoted = "\"" + validUtf8(languages) + "\"";
    if (!languagesInstalled(languages))
        return quoted + " is not a set of installed languages joined by '+' or spaces (installed: " + installedList() +
               ")";
    if (repeats(normalisedLanguages(languages)))
        return quoted + " names a language more than once";
    return "";
}

} // namespace tarvek::reading
