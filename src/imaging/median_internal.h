// Internal entry points of the median filter, for its tests and benchmarks.
#pragma once

#include "imaging/image.h"
#include "imaging/workers.h"

namespace quilo::imaging::detail {

// The histogram kernel that medianFilter uses from size 6 on, at any size 2..16: the same
// result as medianFilter.
void medianHistogram(Image& image, int size, Workers* workers = nullptr);

}  // namespace quilo::imaging::detail
