#pragma once

// Mustache page templates read from a base directory on every request, so a
// changed file is served at once.

#include <string>

namespace tarvek::service {

// Set once at start-up, before the server runs; a "/" is appended when missing.
void setTemplateBase(const std::string& directory);

// Renders the template file with an empty context. A missing or unreadable
// file renders as the empty text; a template syntax error throws
// std::runtime_error with the template library's message.
std::string renderTemplate(const std::string& name);

} // namespace tarvek::service
