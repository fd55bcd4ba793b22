// Document-area search and validation entry points.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace tarvek {
namespace documentarea {

}  // namespace documentarea
}  // namespace tarvek
