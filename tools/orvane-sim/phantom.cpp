#include "orvane-sim/phantom.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quilo::orvanesim {

namespace {

// splitmix64: a small generator whose every output is defined by its seed.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi].
    std::int64_t range(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }

  private:
    std::uint64_t state_;
};

// Floor of the square root. The floating-point guess is corrected in integers, so the result
// is exact whatever the machine's rounding.
std::int64_t isqrt(std::int64_t v) {
    if (v <= 0) return 0;
    auto r = static_cast<std::int64_t>(std::sqrt(static_cast<double>(v)));
    while (r > 0 && r * r > v)
        --r;
    while ((r + 1) * (r + 1) <= v)
        ++r;
    return r;
}

constexpr std::int64_t kOne = 65536;  // fixed-point 1.0

// Smooth random texture: a lattice of random values, interpolated bilinearly (0..kOne).
class Texture {
  public:
    Texture(int width, int height, int cell, Random& rnd)
        : cell_(std::max(cell, 2)), cols_(width / cell_ + 2), rows_(height / cell_ + 2) {
        lattice_.resize(static_cast<std::size_t>(cols_) * rows_);
        for (auto& v : lattice_)
            v = rnd.range(0, kOne);
    }
    std::int64_t at(int x, int y) const {
        const int cx = x / cell_, cy = y / cell_;
        const std::int64_t fx = (x % cell_) * kOne / cell_, fy = (y % cell_) * kOne / cell_;
        const auto v = [&](int i, int j) {
            return lattice_[static_cast<std::size_t>(j) * cols_ + i];
        };
        const std::int64_t top = v(cx, cy) * (kOne - fx) / kOne + v(cx + 1, cy) * fx / kOne;
        const std::int64_t bottom =
            v(cx, cy + 1) * (kOne - fx) / kOne + v(cx + 1, cy + 1) * fx / kOne;
        return top * (kOne - fy) / kOne + bottom * fy / kOne;
    }

  private:
    int cell_, cols_, rows_;
    std::vector<std::int64_t> lattice_;
};

// The attenuation sums, computed in 64 bits and kept in 32: no sum comes near 2^31, and a whole
// cephalometric plate's canvas then takes 460 MB instead of 920 MB (the 32-bit scanner library
// draws it inside the plug-in's process).
class Canvas {
  public:
    Canvas(int w, int h) : w_(w), h_(h), a_(static_cast<std::size_t>(w) * h, 0) {}
    int width() const { return w_; }
    int height() const { return h_; }
    std::int32_t& at(int x, int y) { return a_[static_cast<std::size_t>(y) * w_ + x]; }

    // An ellipsoid seen from above: thickest in the middle, thin at the rim.
    void dome(int cx, int cy, int rx, int ry, std::int64_t value) {
        if (rx < 1 || ry < 1) return;
        for (int y = std::max(0, cy - ry); y <= std::min(h_ - 1, cy + ry); ++y) {
            for (int x = std::max(0, cx - rx); x <= std::min(w_ - 1, cx + rx); ++x) {
                const std::int64_t dx = x - cx, dy = y - cy;
                const std::int64_t r2 = dx * dx * kOne / (std::int64_t{rx} * rx) +
                                        dy * dy * kOne / (std::int64_t{ry} * ry);
                if (r2 >= kOne) continue;
                at(x, y) += value * isqrt(kOne * (kOne - r2)) / kOne;
            }
        }
    }

    // A tapering cylinder between two rows (a root, a vertebra, a canal): half-width w0 at
    // row y0 and w1 at row y1, centred on the line from x0 to x1.
    void taper(int x0, int y0, int w0, int x1, int y1, int w1, std::int64_t value) {
        if (y1 == y0) return;
        const int step = y1 > y0 ? 1 : -1;
        for (int y = y0; y != y1; y += step) {
            if (y < 0 || y >= h_) continue;
            const std::int64_t t = std::int64_t{y - y0} * kOne / (y1 - y0);
            const int cx = static_cast<int>(x0 + (x1 - x0) * t / kOne);
            const int hw = static_cast<int>(w0 + (w1 - w0) * t / kOne);
            if (hw < 1) continue;
            for (int x = std::max(0, cx - hw); x <= std::min(w_ - 1, cx + hw); ++x) {
                const std::int64_t d = std::int64_t{x - cx} * kOne / hw;
                at(x, y) += value * isqrt(kOne * kOne - d * d) / kOne;
            }
        }
    }

    // Textured bone between two curves given per column.
    template <typename Top, typename Bottom>
    void band(Top top, Bottom bottom, std::int64_t value, const Texture& tex) {
        for (int x = 0; x < w_; ++x) {
            const int y0 = std::max(0, top(x)), y1 = std::min(h_, bottom(x));
            for (int y = y0; y < y1; ++y) {
                // Denser cortex near both borders, trabecular pattern inside.
                const int edge = std::min(y - y0, y1 - 1 - y);
                const std::int64_t cortex = edge < 12 ? (12 - edge) * kOne / 24 : 0;
                at(x, y) += value * (kOne / 2 + tex.at(x, y) / 2 + cortex) / kOne;
            }
        }
    }

  private:
    int w_, h_;
    std::vector<std::int32_t> a_;
};

// One tooth: crown (enamel over dentin), root(s) and pulp. `dir` 1 = crown on top with roots
// going down (lower jaw or intraoral), -1 = crown below with roots going up (upper jaw).
void tooth(Canvas& c, int cx, int crownY, int crownW, int crownH, int rootLen, int dir,
           bool filling, Random& rnd) {
    const int rootEnd = crownY + dir * rootLen;
    c.taper(cx, crownY, crownW * 3 / 4, cx + static_cast<int>(rnd.range(-crownW / 6, crownW / 6)),
            rootEnd, std::max(2, crownW / 8), 13000);
    c.dome(cx, crownY, crownW, crownH, 14000);                            // dentin of the crown
    c.dome(cx, crownY - dir * crownH / 4, crownW, crownH * 3 / 4, 9000);  // enamel cap
    c.taper(cx, crownY, std::max(2, crownW / 4), cx, rootEnd - dir * rootLen / 10,
            std::max(1, crownW / 14), -9000);  // pulp and canal
    if (filling) c.dome(cx, crownY - dir * crownH / 3, crownW / 2, crownH / 3, 30000);
}

void intraoral(Canvas& c, Random& rnd, Texture& tex) {
    const int w = c.width(), h = c.height();
    // Soft tissue over everything but the air gap at the biting edge.
    for (int y = h / 12; y < h; ++y)
        for (int x = 0; x < w; ++x)
            c.at(x, y) += 9000 + 2000LL * y / h;
    const int crest = h * 38 / 100;
    c.band([&](int x) { return crest + static_cast<int>(tex.at(x, 0) * h / 20 / kOne); },
           [&](int) { return h; }, 15000, tex);
    const int teeth = 3;
    for (int i = 0; i < teeth; ++i) {
        const int cx = w * (2 * i + 1) / (2 * teeth) + static_cast<int>(rnd.range(-w / 40, w / 40));
        tooth(c, cx, h * 22 / 100, w * 12 / 100, h * 12 / 100, h * 66 / 100, 1,
              rnd.range(0, 3) == 0, rnd);
    }
}

void panoramic(Canvas& c, Random& rnd, Texture& tex) {
    const int w = c.width(), h = c.height();
    const int cx = w / 2;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            c.at(x, y) += 7000 + 3000LL * (h - std::abs(2 * y - h)) / h;
    // Maxilla above the occlusal plane, mandible below it curving up into the rami.
    const auto u2 = [&](int x) {
        const std::int64_t u = std::int64_t{x - cx} * kOne / (w / 2);
        return u * u / kOne;
    };
    c.band([&](int) { return h * 22 / 100; },
           [&](int x) { return h * 46 / 100 - static_cast<int>(h * u2(x) / kOne / 10); }, 11000,
           tex);
    c.band([&](int x) { return h * 54 / 100 + static_cast<int>(h * u2(x) / kOne / 20); },
           [&](int x) { return h * 88 / 100 - static_cast<int>(h * u2(x) / kOne / 4); }, 14000,
           tex);
    const int perJaw = 14;
    for (int i = 0; i < perJaw; ++i) {
        const int x = w * 20 / 100 + (w * 60 / 100) * i / (perJaw - 1);
        const int crownW = w / 90 + static_cast<int>(rnd.range(0, w / 300));
        tooth(c, x, h * 47 / 100, crownW, h / 22, h * 20 / 100, -1, rnd.range(0, 5) == 0, rnd);
        tooth(c, x, h * 53 / 100, crownW, h / 22, h * 22 / 100, 1, rnd.range(0, 5) == 0, rnd);
    }
    // The spine's ghost shadows at both sides.
    c.taper(w * 6 / 100, 0, w / 40, w * 7 / 100, h, w / 30, 5000);
    c.taper(w * 94 / 100, 0, w / 40, w * 93 / 100, h, w / 30, 5000);
}

void cephalometric(Canvas& c, Random& rnd, Texture& tex) {
    const int w = c.width(), h = c.height();
    // Head and face soft tissue, the skull's shell, the jaws, teeth and the cervical spine.
    c.dome(w * 46 / 100, h * 48 / 100, w * 44 / 100, h * 50 / 100, 16000);
    c.dome(w * 44 / 100, h * 36 / 100, w * 36 / 100, h * 34 / 100, 16000);
    c.dome(w * 44 / 100, h * 36 / 100, w * 34 / 100, h * 32 / 100, -15000);
    c.dome(w * 40 / 100, h * 42 / 100, w * 3 / 100, h * 2 / 100, -4000);  // sella
    c.band([&](int x) { return x > w * 55 / 100 && x < w * 85 / 100 ? h * 55 / 100 : h; },
           [&](int x) { return x > w * 55 / 100 && x < w * 85 / 100 ? h * 62 / 100 : h; }, 9000,
           tex);
    c.band([&](int x) { return x > w * 50 / 100 && x < w * 84 / 100 ? h * 70 / 100 : h; },
           [&](int x) { return x > w * 50 / 100 && x < w * 84 / 100 ? h * 80 / 100 : h; }, 12000,
           tex);
    for (int i = 0; i < 6; ++i) {
        const int x = w * 64 / 100 + i * w * 3 / 100;
        tooth(c, x, h * 64 / 100, w / 80, h / 60, h * 7 / 100, -1, false, rnd);
        tooth(c, x, h * 67 / 100, w / 80, h / 60, h * 8 / 100, 1, rnd.range(0, 4) == 0, rnd);
    }
    for (int v = 0; v < 5; ++v) {
        const int y = h * 66 / 100 + v * h * 7 / 100;
        c.dome(w * 36 / 100, y, w * 4 / 100, h * 3 / 100, 12000);
    }
}

}  // namespace

GreyImage makePhantom(PlateKind kind, int width, int height, std::uint64_t seed) {
    GreyImage img;
    if (width <= 0 || height <= 0) return img;
    Random rnd(seed * 0x2545F4914F6CDD1Dull + static_cast<std::uint64_t>(kind) + 1);
    Canvas c(width, height);
    Texture tex(width, height, std::max(4, std::min(width, height) / 60), rnd);
    switch (kind) {
        case PlateKind::Intraoral:
            intraoral(c, rnd, tex);
            break;
        case PlateKind::Panoramic:
            panoramic(c, rnd, tex);
            break;
        case PlateKind::Cephalometric:
            cephalometric(c, rnd, tex);
            break;
    }
    img.width = width;
    img.height = height;
    img.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Quantum noise: a sum of four uniform values is close enough to a bell curve.
            const std::uint64_t r = rnd.next();
            const std::int64_t noise =
                static_cast<std::int64_t>((r & 0x3FF) + ((r >> 10) & 0x3FF) + ((r >> 20) & 0x3FF) +
                                          ((r >> 30) & 0x3FF)) -
                2046;
            const std::int64_t v = 3000 + c.at(x, y) + noise * 3 / 2;
            img.pixels[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, 65535));
        }
    }
    return img;
}

}  // namespace quilo::orvanesim
