// Live and peak heap bytes, counted at the C allocator (malloc and friends are replaced in
// counting_allocator.cpp), which operator new, the images' pixel blocks and the simulated global
// memory all go through. A block that shrinks in place counts at its new size. Under the address
// sanitizer, which brings its own allocator, nothing is counted.
#pragma once

#include <cstddef>

namespace quilo::bench {

bool heapCounted();
std::size_t liveHeapBytes();
std::size_t peakHeapBytes();
// Starts a new peak from what is live now.
void resetHeapPeak();

}  // namespace quilo::bench
