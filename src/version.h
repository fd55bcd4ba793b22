#pragma once

// The project's version, "MAJOR.MINOR.PATCH", as the build system states it. The programs,
// the health route and the Python package all report this one value.

namespace tarvek {

const char* version();

} // namespace tarvek
