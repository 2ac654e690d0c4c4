// Synthetic radiographs for plates that have no picture of their own: teeth with enamel,
// dentin, pulp and roots in trabecular bone under soft tissue, with quantum noise. Integer
// arithmetic only, so a seed gives the same pixels on every machine and compiler.
#pragma once

#include <cstdint>

#include "orvane-sim/tiff_lite.h"

namespace quilo::orvanesim {

enum class PlateKind { Intraoral = 0, Cephalometric = 1, Panoramic = 2 };

// Pixels are 16-bit attenuation values: air dark, soft tissue grey, bone and teeth bright.
GreyImage makePhantom(PlateKind kind, int width, int height, std::uint64_t seed);

}  // namespace quilo::orvanesim
