// Image-quality measures of a plate, as the constancy checks of an X-ray chain take them from a
// test object: per step of a step wedge its mean and noise, the modulation of each line-pair
// group, the contrast-to-noise ratio of each low-contrast disc, and the share of pixels clipped
// at either end of the range. Plain arithmetic on the pixels, no platform calls.
#pragma once

#include <string>
#include <vector>

#include "imaging/image.h"
#include "imaging/test_object.h"

namespace quilo::imaging {

struct AreaStats {
    double mean = 0, noise = 0;              // noise: the standard deviation of the pixels
    double clippedLow = 0, clippedHigh = 0;  // shares of pixels at 0 and at the depth's maximum
    std::size_t pixels = 0;
};
AreaStats areaStats(const Image& image, const PlateRect& area);

struct LinePairFigure {
    double linePairsPerMm = 0;
    // Amplitude of the bar pattern (bar against gap, the profile averaged along the bars) over
    // the step between the bars' material and open space beside the group: 1 for a perfect
    // chain, towards 0 as detail is lost. The sign follows the reference, so inverted images
    // measure alike.
    double modulation = 0;
};

struct DiscFigure {
    int contrastPercent = 0, diameterPx = 0;
    double contrast = 0;  // mean inside the disc minus mean of the ring around it
    double noise = 0;     // standard deviation in the ring (flat surroundings)
    double cnr = 0;       // |contrast| / noise
};

struct TestObjectFigures {
    std::vector<AreaStats> wedge;  // thinnest step first
    std::vector<LinePairFigure> linePairs;
    std::vector<DiscFigure> discs;
    double clippedLow = 0, clippedHigh = 0;  // of the whole plate
};

TestObjectFigures measureTestObject(const Image& image, const TestObjectLayout& layout);

// Neighbouring wedge steps whose means differ by more than twice the larger of their two noises.
int distinguishableSteps(const std::vector<AreaStats>& wedge);
// Whether the step means all rise or all fall, strictly.
bool strictlyMonotone(const std::vector<AreaStats>& wedge);
// Mean of the discs' contrast-to-noise ratios.
double meanCnr(const std::vector<DiscFigure>& discs);

// A plain window/level: the plate's range between its 0.1st and 99.9th percentile mapped linearly
// onto the whole range of outBits, inverted when asked; the reference the enhancement is
// judged against.
Image windowLevel(const Image& raw, int outBits, bool invert);

// The figures as text, one line per step, group and disc.
std::string describe(const TestObjectFigures& figures);

}  // namespace quilo::imaging
