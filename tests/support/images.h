// Images for the imaging tests: made from a formula or from seeded noise, and read back as a
// list of samples.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "imaging/image.h"

namespace quilo::test {

// An image whose sample at (x, y) is f(x, y), filled row by row.
template <class F>
imaging::Image imageOf(std::uint32_t w, std::uint32_t h, int bits, F f) {
    imaging::Image img(w, h, bits);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            img.set(x, y, static_cast<std::uint32_t>(f(x, y)));
    return img;
}

// Uniform noise in low..top, the same for the same seed.
inline imaging::Image noisy(std::uint32_t w, std::uint32_t h, int bits, unsigned seed,
                            std::uint32_t top, std::uint32_t low = 0) {
    std::mt19937 rng(seed);
    return imageOf(w, h, bits, [&](std::uint32_t, std::uint32_t) {
        return low + static_cast<std::uint32_t>(rng() % (std::uint64_t{top} - low + 1));
    });
}

// The samples row by row.
inline std::vector<std::uint32_t> values(const imaging::Image& img) {
    std::vector<std::uint32_t> v;
    for (std::uint32_t y = 0; y < img.height(); ++y)
        for (std::uint32_t x = 0; x < img.width(); ++x)
            v.push_back(img.at(x, y));
    return v;
}

}  // namespace quilo::test
