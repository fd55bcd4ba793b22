#include "page.h"

#include <kainjow/mustache.hpp>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tarvek::service {
namespace {

std::string templateBase = "./";

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

void setTemplateBase(const std::string& directory)
{
    templateBase = directory;
    if (templateBase.empty() || (templateBase.back() != '/' && templateBase.back() != '\\'))
        templateBase += '/';
}

std::string renderTemplate(const std::string& name)
{
    kainjow::mustache::mustache page(readFile(templateBase + name));
    if (!page.is_valid())
        throw std::runtime_error("invalid template: " + page.error_message());
    return page.render(kainjow::mustache::data{});
}

} // namespace tarvek::service
