// Synthetic plates for parameter sets that have no picture of their own: intraoral,
// panoramic and cephalometric radiographs (enamel, dentine, pulp and canals, the periodontal
// ligament space and lamina dura, trabecular bone, a filling, a crown, soft tissue), and the
// test object (step wedge, line-pair groups, low-contrast discs), all read as a storage-phosphor
// plate gives them: the light read is logarithmic in the exposure, so air (direct exposure) is
// bright and dense matter dark; X-ray quantum noise that grows as the dose falls and behind dense
// matter, a little blur from the scanner's optics, the scanning lines and the plate's gain
// variation. Integer arithmetic only, so a seed gives the same pixels on every machine and
// compiler.
#pragma once

#include <cstdint>

#include "orvane-sim/tiff_lite.h"

namespace quilo::orvanesim {

enum class PlateKind { Intraoral = 0, Cephalometric = 1, Panoramic = 2 };

// The anatomy of the plate kind at a dose drawn from the seed, from under- to over-exposed.
GreyImage makePhantom(PlateKind kind, int width, int height, std::uint64_t seed);

// The test object on a plate of the given pitch (micrometres), at dosePercent of the normal
// dose (100 normal, 25 a quarter). Its layout is imaging::testObjectLayout's.
GreyImage makeTestObject(int width, int height, double pitchUm, int dosePercent,
                         std::uint64_t seed);

}  // namespace quilo::orvanesim
