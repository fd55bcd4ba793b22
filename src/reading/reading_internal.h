// Reading with a chosen page preparation, for the measurements that compare them.
#pragma once

#include "reading/preparation.h"
#include "reading/reading.h"

namespace tarvek::reading {

ReadResult readText(const cv::Mat& image, const ReadOptions& options, const Preparation& how);

} // namespace tarvek::reading
