// docs/openapi.yaml describes every route the service serves.

#include "routes.h"
#include "version.h"

#include <boost/beast/http/verb.hpp>
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

// The operations of the description's "paths:" map: each path (two spaces in)
// with the methods under it (four spaces in). Enough of YAML for a file laid
// out as this one is.
std::map<std::string, std::set<std::string>> describedOperations()
{
    std::ifstream file(TARVEK_WWW_DIR "/../docs/openapi.yaml");
    static const std::regex pathLine(R"(^  (/[^:]*):\s*$)"), methodLine(R"(^    (get|put|post|delete|patch|head|options):)");
    std::map<std::string, std::set<std::string>> operations;
    std::string line, path;
    bool inPaths = false;
    while (std::getline(file, line)) {
        std::smatch match;
        if (!line.empty() && line[0] != ' ' && line[0] != '#')
            inPaths = line.rfind("paths:", 0) == 0;
        else if (inPaths && std::regex_match(line, match, pathLine))
            path = match[1];
        else if (inPaths && !path.empty() && std::regex_search(line, match, methodLine))
            operations[path].insert(match[1]);
    }
    return operations;
}

TEST(OpenApi, DescribesEveryRouteOfTheService)
{
    tarvek::http::App app;
    tarvek::service::addRoutes(app);
    const auto described = describedOperations();
    ASSERT_FALSE(described.empty()) << "docs/openapi.yaml has no paths";
    for (const auto& route : app.routes()) {
        std::string method(boost::beast::http::to_string(route.method));
        for (char& c : method)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const auto found = described.find(route.path);
        ASSERT_NE(found, described.end()) << route.path << " is not described";
        EXPECT_EQ(found->second.count(method), 1u) << method << " " << route.path << " is not described";
    }
}

TEST(OpenApi, StatesTheProgramsVersion)
{
    std::ifstream file(TARVEK_WWW_DIR "/../docs/openapi.yaml");
    static const std::regex versionLine(R"(^  version: (\S+)\s*$)");
    std::string line;
    std::smatch match;
    while (std::getline(file, line) && !std::regex_match(line, match, versionLine)) {
    }
    EXPECT_EQ(match.size() > 1 ? match[1].str() : std::string(), tarvek::version());
}

} // namespace
