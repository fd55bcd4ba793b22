#include "version.h"

namespace tarvek {

// TARVEK_VERSION is defined for this file alone, so a new version rebuilds one file.
const char* version()
{
    return TARVEK_VERSION;
}

} // namespace tarvek
