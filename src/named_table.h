#pragma once

// Tables whose entries carry a `name` (the document searches, document kinds and
// binarization methods), which the server, the command line and the Python package
// offer by name.

#include <string>
#include <vector>

namespace tarvek {

template <typename Entry>
std::vector<std::string> namesOf(const std::vector<Entry>& table)
{
    std::vector<std::string> names;
    for (const Entry& entry : table)
        names.emplace_back(entry.name);
    return names;
}

} // namespace tarvek
