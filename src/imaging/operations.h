// The image operations of the capture path. All work in place on an Image (a change of depth
// to or from 8 bits replaces the image's buffer) and keep the image's depth unless they say so.
// Those that take Workers share their work out in strips of rows on its threads (on the calling
// thread alone without them) and give the same values, bit for bit, on any number of threads.
#pragma once

#include <cstdint>
#include <utility>

#include "imaging/image.h"
#include "imaging/workers.h"

namespace quilo::imaging {

// v -> max - v, max = 255, 4095 or 65535 by the depth.
void invert(Image& image, Workers* workers = nullptr);

// Smallest and largest grey value of the image.
std::pair<std::uint32_t, std::uint32_t> minMax(const Image& image, Workers* workers = nullptr);

// Linear stretch of [low, high] onto the full range of the depth in 16.16 fixed point:
// a = min(max(v - low, 0), high - low), result = (a * scale + 0x8000) >> 16 with
// scale = max * 65536 / (high - low) rounded to nearest. So v <= low -> 0, v >= high -> max, and
// in between the result rises with v and is never more than one grey level from
// (v - low) * max / (high - low) rounded to nearest (equal to it where the scale is exact). One
// level out of 256 to 65536 is far below what a viewer or a radiograph's noise shows, and it
// runs eight pixels per step at memory speed. high <= low is rejected (std::invalid_argument).
void stretchRange(Image& image, std::uint32_t low, std::uint32_t high, Workers* workers = nullptr);

// StretchIntensity: the image's own smallest and largest values are stretched onto the full
// range of its depth; a flat image stays as it is.
void stretchIntensity(Image& image, Workers* workers = nullptr);

// Cut points of a percentile stretch, the cuts given in tenths of a percent (0..1000) of all
// pixels: low is the smallest grey value whose cumulative count from the bottom exceeds
// lowTenths/1000 of the pixels, high the largest one whose cumulative count from the top exceeds
// highTenths/1000 of them. With 0 and 0 these are the image's minimum and maximum.
std::pair<std::uint32_t, std::uint32_t> percentCuts(const Image& image, std::uint32_t lowTenths,
                                                    std::uint32_t highTenths);

// The number of distinct grey values present in the image (the colour count of a grey image).
std::uint32_t colourCount(const Image& image);

// A copy reduced by a whole factor f, the smallest that brings the longer side to at most maxSide
// pixels: each pixel the rounded mean of its f x f block (a side shorter than f makes one block
// of what there is), at the image's depth and with its pitch times f. maxSide >= 1. With inverted,
// the copy of the inverted image (v -> max - v), the image itself only read.
Image reducedCopy(const Image& image, std::uint32_t maxSide, Workers* workers = nullptr,
                  bool inverted = false);

// Change of depth to 8, 12 or 16 bits. Down: the most significant bits are kept (v >> shift).
// Up: the bits are replicated into the new low bits (8->16: v * 257; 8->12: v << 4 | v >> 4;
// 12->16: v << 4 | v >> 8), so black stays black, white stays white, and going up and down again
// gives back the original values exactly. Down to 8 bits works in place and gives the unused
// half of the pixels back (an image borrowing its pixels gets pixels of its own instead).
void changeBitDepth(Image& image, int bitsPerPixel, Workers* workers = nullptr);

// Despeckle: a pixel that lies strictly above the largest or strictly below the smallest of its
// eight neighbours (an isolated spike, e.g. a dust or scratch point on the plate) is set to that
// largest or smallest neighbour; every other pixel is kept. Beyond the borders the neighbours
// are mirrored from inside, so edge pixels are despeckled too.
void despeckle(Image& image, Workers* workers = nullptr);

// Median of size x size pixels (size 2..16; the noise-reduction level n uses size n + 1). The
// window of pixel (x, y) spans columns x - size/2 .. x + (size-1)/2 and the same rows, edge
// pixels replicated beyond the borders; the result is the upper median, the value of rank
// size*size/2 (counted from 0) of the sorted window. Sizes 2 to 5: each column of the window's
// rows is sorted once and the sorted columns are merged by a few comparisons (a pruned network
// for 4 and 5), vectorised along the row. From size 6 on, close to constant time per pixel:
// three-level byte histograms sized to the image's real depth, per column carried from row to
// row and per window along the row. In place; needs up to about 5 MB besides the image per
// thread.
void medianFilter(Image& image, int size, Workers* workers = nullptr);

// Reference median: the same result, computed with std::nth_element on each window. Slow; for
// tests and benchmarks.
void medianFilterReference(Image& image, int size);

// Sharpen with a strength in percent (-1000..1000): v + strength/100 * (v - mean of the 3x3
// neighbourhood), computed in single precision as v + (9v - sum of the 3x3) * strength/900,
// rounded to nearest (ties to even) and clipped to the depth; edge pixels are replicated. The
// capture path uses 50 for panoramic and 90 for cephalometric images.
void sharpen(Image& image, int strength, Workers* workers = nullptr);

// Unsharp mask (amount, radius, threshold, colourSpace): blur = mean of the (2*radius+1)^2 box
// around the pixel; where |v - blur| exceeds the threshold (given on the 8-bit scale, scaled to
// the depth), v + amount * (v - blur), rounded and clipped; elsewhere v. The amount is a plain
// factor (1 adds the full difference once). colourSpace is accepted for the call's shape and has
// no meaning for grey images. The capture path calls it with (1, 10, 12, 0).
void unsharpMask(Image& image, int amount, int radius, int threshold, int colourSpace,
                 Workers* workers = nullptr);

// The perio transform: a tone curve v' = max * (v / max)^0.6 that lifts the low and middle grey
// values, where the thin bone of the alveolar crest and the soft tissue lie, while black and
// white stay fixed.
void perioTransform(Image& image);

}  // namespace quilo::imaging
