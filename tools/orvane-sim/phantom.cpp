#include "orvane-sim/phantom.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/test_object.h"

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
    // Close to a standard normal value, times 1024: the sum of four uniform values.
    std::int64_t normal1024() {
        const std::uint64_t r = next();
        const auto sum = static_cast<std::int64_t>((r & 0x3FF) + ((r >> 10) & 0x3FF) +
                                                   ((r >> 20) & 0x3FF) + ((r >> 30) & 0x3FF));
        return (sum - 2046) * 1024 / 591;  // the sum's standard deviation is 591
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

// Attenuation is counted in units of which kEFold weaken the beam by a factor e; the plate
// reads kEFold units of light per factor e of exposure. Direct exposure at the normal dose
// reads kAir.
constexpr std::int64_t kEFold = 10000;
constexpr std::int64_t kAir = 52000;
constexpr std::int64_t kQuantumNoise = 100;  // at the normal dose, in direct exposure
constexpr std::int64_t kReadoutNoise = 20;

// ln(x / 100) in attenuation units, for x > 0: log2 by repeated squaring (in 2.30 fixed point,
// so that a square fits 64 bits), times ln 2.
std::int64_t lnPercentUnits(std::int64_t percent) {
    constexpr std::uint64_t kUnit = std::uint64_t{1} << 30;
    std::int64_t ip = 0;
    std::uint64_t x = (static_cast<std::uint64_t>(std::max<std::int64_t>(percent, 1)) << 30) / 100;
    while (x >= 2 * kUnit) {
        x >>= 1;
        ++ip;
    }
    while (x < kUnit) {
        x <<= 1;
        --ip;
    }
    std::int64_t frac = 0;
    for (int bit = 15; bit >= 0; --bit) {  // 16 fractional bits
        x = x * x >> 30;
        if (x >= 2 * kUnit) {
            x >>= 1;
            frac |= std::int64_t{1} << bit;
        }
    }
    const std::int64_t log2q16 = ip * 65536 + frac;
    return log2q16 * 6931 / 65536;  // kEFold * ln 2 = 6931.5
}

// Smooth random texture: a lattice of random values, interpolated with a smooth step (0..kOne).
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
        const std::int64_t fx = smooth((x % cell_) * kOne / cell_);
        const std::int64_t fy = smooth((y % cell_) * kOne / cell_);
        const auto v = [&](int i, int j) {
            return lattice_[static_cast<std::size_t>(j) * cols_ + i];
        };
        const std::int64_t top = v(cx, cy) * (kOne - fx) / kOne + v(cx + 1, cy) * fx / kOne;
        const std::int64_t bottom =
            v(cx, cy + 1) * (kOne - fx) / kOne + v(cx + 1, cy + 1) * fx / kOne;
        return top * (kOne - fy) / kOne + bottom * fy / kOne;
    }
    // Narrow ridges where the texture crosses its middle: the struts of trabecular bone.
    std::int64_t ridge(int x, int y) const {
        const std::int64_t r = kOne - std::abs(2 * at(x, y) - kOne);
        return r * r / kOne * r / kOne;
    }

  private:
    static std::int64_t smooth(std::int64_t f) { return f * f / kOne * (3 * kOne - 2 * f) / kOne; }
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
                at(x, y) += static_cast<std::int32_t>(value * isqrt(kOne * (kOne - r2)) / kOne);
            }
        }
    }

    // A flat-topped ellipse (a filling, a disc of the test object): sharp-edged.
    void slab(int cx, int cy, int rx, int ry, std::int64_t value) {
        if (rx < 1 || ry < 1) return;
        for (int y = std::max(0, cy - ry); y <= std::min(h_ - 1, cy + ry); ++y)
            for (int x = std::max(0, cx - rx); x <= std::min(w_ - 1, cx + rx); ++x) {
                const std::int64_t dx = x - cx, dy = y - cy;
                if (dx * dx * ry * ry + dy * dy * rx * rx < std::int64_t{rx} * rx * ry * ry)
                    at(x, y) += static_cast<std::int32_t>(value);
            }
    }

    void rect(const imaging::PlateRect& r, std::int64_t value) {
        for (int y = std::max(0, r.y0); y < std::min(h_, r.y1); ++y)
            for (int x = std::max(0, r.x0); x < std::min(w_, r.x1); ++x)
                at(x, y) += static_cast<std::int32_t>(value);
    }

    // A body of revolution about a vertical line, from row y0 towards row y1 (excluded): at
    // the fraction t (0..kOne) of the way its centre is centre(t) and its half-width
    // halfWidth(t). Across a row the thickness follows a circle's chord, thickest in the middle.
    template <typename Centre, typename Half>
    void body(int y0, int y1, Centre centre, Half halfWidth, std::int64_t value) {
        if (y1 == y0) return;
        const int step = y1 > y0 ? 1 : -1;
        for (int y = y0; y != y1; y += step) {
            if (y < 0 || y >= h_) continue;
            const std::int64_t t = std::int64_t{y - y0} * kOne / (y1 - y0);
            const int cx = centre(t), hw = halfWidth(t);
            if (hw < 1) continue;
            for (int x = std::max(0, cx - hw); x <= std::min(w_ - 1, cx + hw); ++x) {
                const std::int64_t d = std::int64_t{x - cx} * kOne / hw;
                at(x, y) += static_cast<std::int32_t>(value * isqrt(kOne * kOne - d * d) / kOne);
            }
        }
    }

    // A straight tapering cylinder (a vertebra, the spine's shadow): half-width w0 at row y0
    // and w1 at row y1, centred on the line from x0 to x1.
    void taper(int x0, int y0, int w0, int x1, int y1, int w1, std::int64_t value) {
        body(
            y0, y1, [&](std::int64_t t) { return static_cast<int>(x0 + (x1 - x0) * t / kOne); },
            [&](std::int64_t t) { return static_cast<int>(w0 + (w1 - w0) * t / kOne); }, value);
    }

    // A band at distances [near, far) around a body drawn by body() from row y0 to y1, from
    // row `from` on and closed round the far end (the ligament space and the lamina dura
    // around a root below the bone's crest, and round its apex).
    template <typename Centre, typename Half>
    void band(int y0, int y1, int from, Centre centre, Half halfWidth, int near, int far,
              std::int64_t value) {
        if (y1 == y0) return;
        const int step = y1 > y0 ? 1 : -1;
        for (int y = y0; y != y1 + step * far; y += step) {
            if (y < 0 || y >= h_ || (y - from) * step < 0) continue;
            const int past = (y - y1) * step;  // rows beyond the far end, if any
            const std::int64_t t = past >= 0 ? kOne : std::int64_t{y - y0} * kOne / (y1 - y0);
            const int cx = centre(t), hw = past >= 0 ? 0 : std::max(0, halfWidth(t));
            const auto reach = [&](int r) {
                const std::int64_t p = past > 0 ? past : 0;
                return static_cast<int>(
                    isqrt(std::max<std::int64_t>(0, std::int64_t{r} * r - p * p)));
            };
            const int d0 = past > 0 ? reach(near) : hw + near;
            const int d1 = past > 0 ? reach(far) : hw + far;
            for (int side : {-1, 1})
                for (int d = d0; d < d1; ++d) {
                    const int x = cx + side * d;
                    if (x >= 0 && x < w_) at(x, y) += static_cast<std::int32_t>(value);
                }
        }
    }

    // Bone between two curves given per column: a cortex along both borders and trabecular
    // struts inside, at two scales.
    template <typename Top, typename Bottom>
    void bone(Top top, Bottom bottom, std::int64_t value, const Texture& coarse,
              const Texture& fine, int cortex) {
        for (int x = 0; x < w_; ++x) {
            const int y0 = std::max(0, top(x)), y1 = std::min(h_, bottom(x));
            for (int y = y0; y < y1; ++y) {
                const int edge = std::min(y - y0, y1 - 1 - y);
                const std::int64_t c = edge < cortex ? (cortex - edge) * kOne / cortex : 0;
                const std::int64_t struts = (coarse.ridge(x, y) * 3 + fine.ridge(x, y) * 2) / 5;
                at(x, y) += static_cast<std::int32_t>(
                    value * (kOne * 45 / 100 + struts * 55 / 100 + c * 6 / 10) / kOne);
            }
        }
    }

  private:
    int w_, h_;
    std::vector<std::int32_t> a_;
};

// One tooth: the crown (enamel over dentine, widest at the contact points and narrowing to
// the neck), the pulp chamber and its canal, the root curving a little towards a rounded apex
// in its socket (the periodontal ligament space, dark, and the lamina dura, bright, around it).
// `dir` 1 = crown on top with the root going down (lower jaw or intraoral), -1 = crown below
// (upper jaw). The socket shows from row `crest` on, where the bone begins.
enum class Restoration { None, Filling, Crown };
void tooth(Canvas& c, int cx, int crownY, int crownW, int crownH, int rootLen, int dir, int crest,
           Restoration restoration, Random& rnd) {
    const int top = crownY - dir * crownH;           // the biting edge
    const int neck = crownY + dir * crownH * 3 / 4;  // where enamel ends and the root begins
    const int rootEnd = crownY + dir * rootLen;
    const int bend = static_cast<int>(rnd.range(-crownW / 5, crownW / 5));
    const int neckW = crownW * 72 / 100, tipW = std::max(2, crownW / 6);
    const auto scaled = [](int w, std::int64_t f) { return static_cast<int>(w * f / kOne); };
    // The crown's half-width from the biting edge (t = 0) to the neck (t = kOne): rounded at
    // the edge, widest a third of the way down.
    const auto crownHalf = [&](std::int64_t t) {
        constexpr std::int64_t kWidest = kOne * 3 / 10;
        if (t < kWidest) {
            const std::int64_t u = (kWidest - t) * kOne / kWidest;
            return scaled(crownW, kOne * 55 / 100 + 45 * isqrt(kOne * kOne - u * u) / 100);
        }
        const std::int64_t u = (t - kWidest) * kOne / (kOne - kWidest);
        return crownW - scaled(crownW - neckW, u * u / kOne);
    };
    const auto rowT = [](int y, int y0, int y1) {
        return y1 == y0 ? std::int64_t{0} : std::int64_t{y - y0} * kOne / (y1 - y0);
    };
    const auto atRow = [](int y0, int y1, std::int64_t t) {
        return static_cast<int>(y0 + (y1 - y0) * t / kOne);
    };
    const auto same = [&](std::int64_t) { return cx; };
    // The root: its axis bends towards the apex, its width falls off to a round end.
    const auto rootCentre = [&](std::int64_t t) { return cx + scaled(bend, t * t / kOne); };
    const auto rootHalf = [&](std::int64_t t) {
        int hw = neckW + scaled(tipW - neckW, t);
        constexpr std::int64_t kRound = kOne * 80 / 100;
        if (t > kRound) {
            const std::int64_t u = (t - kRound) * kOne / (kOne - kRound);
            hw = scaled(hw, isqrt(kOne * kOne - u * u));
        }
        return hw;
    };
    const int gap = std::max(1, crownW / 30), shell = std::max(1, crownW / 25);
    c.band(neck, rootEnd, crest, rootCentre, rootHalf, gap, gap + shell, -2600);  // ligament
    c.band(neck, rootEnd, crest, rootCentre, rootHalf, gap + shell, gap + 2 * shell,
           3200);  // lamina dura
    c.body(neck, rootEnd, rootCentre, rootHalf, 13000);
    c.body(top, neck, same, crownHalf, 13000);  // dentine of the crown
    // Enamel: a cap denser than dentine, thick at the biting edge and thin at the neck.
    const int enamel = std::max(2, crownW / 5);
    c.body(top, neck, same, crownHalf, 16000);
    const int inner = top + dir * enamel;
    c.body(
        inner, neck, same,
        [&](std::int64_t t) {
            const int y = atRow(inner, neck, t);
            return crownHalf(rowT(y, top, neck)) - scaled(enamel, kOne - t) - 1;
        },
        -16000);
    // The pulp: a chamber with rounded horns under the cusps, narrowing into the canal.
    const int roof = top + dir * crownH * 3 / 5;
    c.body(
        roof, neck, same,
        [&](std::int64_t t) {
            const std::int64_t u = kOne - std::min(kOne, t * 4);
            return scaled(crownW * 28 / 100, isqrt(kOne * kOne - u * u));
        },
        -9000);
    const int canalEnd = rootEnd - dir * rootLen / 14;
    c.body(
        neck, canalEnd,
        [&](std::int64_t t) { return rootCentre(rowT(atRow(neck, canalEnd, t), neck, rootEnd)); },
        [&](std::int64_t t) {
            return std::max(1, crownW * 28 / 100 + scaled(crownW / 16 - crownW * 28 / 100, t));
        },
        -8000);
    if (restoration == Restoration::Filling)
        c.slab(cx + crownW / 5, top + dir * crownH * 2 / 3, crownW / 2, crownH / 3, 30000);
    if (restoration == Restoration::Crown) {
        // A metal crown: a shell over the prepared tooth, brightest at its rim.
        const int over = top - dir * std::max(1, crownW / 20);
        c.body(
            over, neck, same, [&](std::int64_t t) { return crownHalf(t) * 21 / 20; }, 32000);
        c.body(
            top, neck, same, [&](std::int64_t t) { return crownHalf(t) * 9 / 10; }, -24000);
    }
}

Restoration restorationFor(int i, int filled, int crowned) {
    if (i == filled) return Restoration::Filling;
    if (i == crowned) return Restoration::Crown;
    return Restoration::None;
}

void intraoral(Canvas& c, Random& rnd, const Texture& coarse, const Texture& fine) {
    const int w = c.width(), h = c.height();
    // Cheek and lip over everything below the air at the biting edge, thinning towards the
    // plate's sides.
    const int lip = h / 14;
    for (int y = lip; y < h; ++y) {
        const std::int64_t rise =
            std::min<std::int64_t>(kOne, std::int64_t{y - lip} * kOne / (h / 6));
        for (int x = 0; x < w; ++x) {
            const std::int64_t u = std::int64_t{2 * x - w} * kOne / w;
            const std::int64_t side = kOne - u * u / kOne / 3;
            c.at(x, y) += static_cast<std::int32_t>((4000 + 5000 * rise / kOne) * side / kOne +
                                                    1500LL * y / h);
        }
    }
    const int crest = h * 36 / 100;
    const int teeth = 3;
    std::vector<int> centres;
    for (int i = 0; i < teeth; ++i)
        centres.push_back(w * (2 * i + 1) / (2 * teeth) +
                          static_cast<int>(rnd.range(-w / 40, w / 40)));
    // The alveolar crest rises between the teeth (the septa) and dips at each tooth's neck.
    const auto crestAt = [&](int x) {
        std::int64_t dip = 0;
        for (int cx : centres) {
            const std::int64_t d = std::int64_t{x - cx} * kOne / (w / 8);
            if (std::abs(d) < kOne) dip = std::max(dip, (kOne - d * d / kOne));
        }
        return crest + static_cast<int>(dip * (h / 30) / kOne) +
               static_cast<int>(coarse.at(x, 0) * h / 60 / kOne);
    };
    c.bone(
        crestAt, [&](int) { return h; }, 12000, coarse, fine, std::max(3, h / 120));
    const int filled = static_cast<int>(rnd.range(0, teeth - 1));
    const int crowned = (filled + 1 + static_cast<int>(rnd.range(0, 1))) % teeth;
    for (int i = 0; i < teeth; ++i) {
        const int x = centres[static_cast<std::size_t>(i)];
        tooth(c, x, h * 21 / 100, w * 13 / 100, h * 12 / 100, h * 64 / 100, 1, crestAt(x),
              restorationFor(i, filled, crowned), rnd);
    }
}

void panoramic(Canvas& c, Random& rnd, const Texture& coarse, const Texture& fine) {
    const int w = c.width(), h = c.height();
    const int cx = w / 2;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            c.at(x, y) += static_cast<std::int32_t>(6000 + 3000LL * (h - std::abs(2 * y - h)) / h);
    // Maxilla above the occlusal plane, mandible below it curving up into the rami.
    const auto u2 = [&](int x) {
        const std::int64_t u = std::int64_t{x - cx} * kOne / (w / 2);
        return u * u / kOne;
    };
    const int cortex = std::max(3, h / 100);
    // The occlusal plane smiles: both rows of teeth rise towards the sides.
    const auto rise = [&](int x) { return static_cast<int>(h * u2(x) / kOne / 10); };
    const auto upperCrest = [&](int x) { return h * 39 / 100 - rise(x); };
    const auto lowerCrest = [&](int x) { return h * 61 / 100 - rise(x) / 2; };
    c.bone([&](int) { return h * 22 / 100; }, upperCrest, 10000, coarse, fine, cortex);
    c.bone(
        lowerCrest, [&](int x) { return h * 88 / 100 - static_cast<int>(h * u2(x) / kOne / 4); },
        13000, coarse, fine, cortex * 2);
    const int perJaw = 14;
    const int filled = static_cast<int>(rnd.range(0, perJaw - 1));
    const int crowned = static_cast<int>(rnd.range(0, perJaw - 1));
    for (int i = 0; i < perJaw; ++i) {
        const int x = w * 20 / 100 + (w * 60 / 100) * i / (perJaw - 1);
        const int crownW = w * 17 / 1000 + static_cast<int>(rnd.range(0, w / 400));
        tooth(c, x, h * 44 / 100 - rise(x), crownW, h / 20, h * 20 / 100, -1, upperCrest(x),
              restorationFor(i, filled, -1), rnd);
        tooth(c, x, h * 56 / 100 - rise(x) / 2, crownW, h / 20, h * 21 / 100, 1, lowerCrest(x),
              restorationFor(i, -1, crowned), rnd);
    }
    // The spine's ghost shadows at both sides.
    c.taper(w * 6 / 100, 0, w / 40, w * 7 / 100, h, w / 30, 5000);
    c.taper(w * 94 / 100, 0, w / 40, w * 93 / 100, h, w / 30, 5000);
}

void cephalometric(Canvas& c, Random& rnd, const Texture& coarse, const Texture& fine) {
    const int w = c.width(), h = c.height();
    // Head and face soft tissue, the skull's shell, the jaws, teeth and the cervical spine.
    c.dome(w * 46 / 100, h * 48 / 100, w * 44 / 100, h * 50 / 100, 16000);
    c.dome(w * 44 / 100, h * 36 / 100, w * 36 / 100, h * 34 / 100, 16000);
    c.dome(w * 44 / 100, h * 36 / 100, w * 34 / 100, h * 32 / 100, -15000);
    c.dome(w * 40 / 100, h * 42 / 100, w * 3 / 100, h * 2 / 100, -4000);  // sella
    const int cortex = std::max(3, h / 150);
    // The maxilla, its alveolar process dipping towards the teeth; the mandible's body, deepest
    // at the chin, and the ramus from its angle up to the joint.
    const auto across = [&](int x, int x0, int x1) {  // 0..kOne over [x0, x1), -1 outside
        return x < x0 || x >= x1 ? std::int64_t{-1} : std::int64_t{x - x0} * kOne / (x1 - x0);
    };
    c.bone([&](int x) { return across(x, w * 55 / 100, w * 86 / 100) < 0 ? h : h * 54 / 100; },
           [&](int x) {
               const std::int64_t u = across(x, w * 55 / 100, w * 86 / 100);
               return u < 0 ? h
                            : h * 58 / 100 +
                                  static_cast<int>(h * 4 / 100 * isqrt(u * (kOne - u) * 4) / kOne);
           },
           9000, coarse, fine, cortex);
    c.bone(
        [&](int x) {
            const std::int64_t u = across(x, w * 52 / 100, w * 84 / 100);
            return u < 0 ? h : h * 70 / 100;
        },
        [&](int x) {
            const std::int64_t u = across(x, w * 52 / 100, w * 84 / 100);
            return u < 0 ? h : h * 76 / 100 + static_cast<int>(h * 6 / 100 * u / kOne);
        },
        12000, coarse, fine, cortex);
    c.taper(w * 53 / 100, h * 74 / 100, w * 3 / 100, w * 47 / 100, h * 47 / 100, w * 2 / 100,
            9000);  // the ramus
    const int filled = static_cast<int>(rnd.range(0, 5));
    for (int i = 0; i < 6; ++i) {
        const int x = w * 64 / 100 + i * w * 3 / 100;
        tooth(c, x, h * 64 / 100, w / 80, h / 60, h * 7 / 100, -1, h * 62 / 100, Restoration::None,
              rnd);
        tooth(c, x, h * 67 / 100, w / 80, h / 60, h * 8 / 100, 1, h * 70 / 100,
              restorationFor(i, filled, -1), rnd);
    }
    for (int v = 0; v < 5; ++v) {
        const int y = h * 66 / 100 + v * h * 7 / 100;
        c.dome(w * 36 / 100, y, w * 4 / 100, h * 3 / 100, 12000);
    }
}

// The quantum noise's standard deviation behind `units` of attenuation (less the dose's
// logarithm), in steps of 256 units: it grows by e^(1/2) per e-fold, as the quanta thin out.
class NoiseTable {
  public:
    static constexpr std::int64_t kLow = -4 * kEFold, kHigh = 12 * kEFold;
    NoiseTable() {
        const std::size_t zero = static_cast<std::size_t>(-kLow / 256);
        sigma_.resize(static_cast<std::size_t>((kHigh - kLow) / 256) + 1);
        // e^(256 / 20000) in 2.30 fixed point; sigma in 16.16, so products fit 64 bits.
        constexpr std::uint64_t kStep = 1087574057ull;
        std::uint64_t s = static_cast<std::uint64_t>(kQuantumNoise) << 16;
        for (std::size_t i = zero; i < sigma_.size(); ++i) {
            sigma_[i] = s;
            s = s * kStep >> 30;
        }
        s = static_cast<std::uint64_t>(kQuantumNoise) << 16;
        for (std::size_t i = zero; i-- > 0;) {
            s = (s << 30) / kStep;
            sigma_[i] = s;
        }
    }
    // Sigma in 16.16 fixed point.
    std::uint64_t at(std::int64_t units) const {
        const std::int64_t u = std::clamp(units, kLow, kHigh);
        return sigma_[static_cast<std::size_t>((u - kLow) / 256)];
    }

  private:
    std::vector<std::uint64_t> sigma_;
};

// The plate's reading of the attenuation canvas at a dose (its logarithm in attenuation units):
// quantum noise, the optics' blur ((1, 6, 1) / 8 across and down), readout noise, a faint
// offset per scanned line and the plate's smooth gain variation. Rows are made three at a time
// in a small ring, so nothing of the plate's size is held besides the canvas and the result.
GreyImage readPlate(Canvas& c, std::int64_t lnDose, Random& rnd) {
    const int w = c.width(), h = c.height();
    const NoiseTable noise;
    const Texture gain(w, h, std::max(8, std::min(w, h) / 3), rnd);
    std::vector<std::int64_t> ring(static_cast<std::size_t>(w) * 3);
    auto exposed = [&](int y) {
        std::int64_t* row = ring.data() + static_cast<std::size_t>(y % 3) * w;
        for (int x = 0; x < w; ++x) {
            const std::int64_t a = c.at(x, y);
            const auto sigma = static_cast<std::int64_t>(noise.at(a - lnDose));
            const std::int64_t n = rnd.normal1024() * sigma / (1024 * 65536);
            row[static_cast<std::size_t>(x)] = kAir + lnDose - a + n;
        }
    };
    GreyImage img;
    img.width = w;
    img.height = h;
    img.pixels.resize(static_cast<std::size_t>(w) * h);
    std::vector<std::int64_t> across(static_cast<std::size_t>(w));
    exposed(0);
    if (h > 1) exposed(1);
    for (int y = 0; y < h; ++y) {
        if (y + 2 < h)
            exposed(y + 2);  // rows y - 1 .. y + 1 are in the ring (y + 2 replaces y - 1)
        const std::int64_t* up = ring.data() + static_cast<std::size_t>(std::max(y - 1, 0) % 3) * w;
        const std::int64_t* mid = ring.data() + static_cast<std::size_t>(y % 3) * w;
        const std::int64_t* down =
            ring.data() + static_cast<std::size_t>(std::min(y + 1, h - 1) % 3) * w;
        for (int x = 0; x < w; ++x) {
            const auto i = static_cast<std::size_t>(x);
            across[i] = up[i] + 6 * mid[i] + down[i];
        }
        const std::int64_t line = rnd.range(-15, 15);
        for (int x = 0; x < w; ++x) {
            const std::int64_t l = across[static_cast<std::size_t>(std::max(x - 1, 0))];
            const std::int64_t r = across[static_cast<std::size_t>(std::min(x + 1, w - 1))];
            const std::int64_t blurred = (l + 6 * across[static_cast<std::size_t>(x)] + r) / 64;
            const std::int64_t readout = rnd.normal1024() * kReadoutNoise / 1024;
            const std::int64_t g = (gain.at(x, y) - kOne / 2) * 240 / kOne;  // about 1 %
            img.pixels[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint16_t>(
                std::clamp<std::int64_t>(blurred + readout + line + g, 0, 65535));
        }
    }
    return img;
}

}  // namespace

GreyImage makePhantom(PlateKind kind, int width, int height, std::uint64_t seed) {
    if (width <= 0 || height <= 0) return {};
    Random rnd(seed * 0x2545F4914F6CDD1Dull + static_cast<std::uint64_t>(kind) + 1);
    Canvas c(width, height);
    // Trabecular struts about half a millimetre apart on every plate size.
    const int cell = std::max(4, std::min(width, height) / 60);
    const Texture coarse(width, height, cell, rnd), fine(width, height, std::max(3, cell / 2), rnd);
    // A plate of a few pixels a side has no room for anatomy (its shapes would be drawn at
    // sizes of zero): it is read as exposed to nothing but the background.
    constexpr int kAnatomyPixels = 32;
    if (std::min(width, height) >= kAnatomyPixels) {
        switch (kind) {
            case PlateKind::Intraoral:
                intraoral(c, rnd, coarse, fine);
                break;
            case PlateKind::Panoramic:
                panoramic(c, rnd, coarse, fine);
                break;
            case PlateKind::Cephalometric:
                cephalometric(c, rnd, coarse, fine);
                break;
        }
    }
    // From a third of the normal dose (under-exposed, noisy) to two and a half times it.
    const std::int64_t lnDose = rnd.range(lnPercentUnits(35), lnPercentUnits(250));
    return readPlate(c, lnDose, rnd);
}

GreyImage makeTestObject(int width, int height, double pitchUm, int dosePercent,
                         std::uint64_t seed) {
    if (width <= 0 || height <= 0) return {};
    Random rnd(seed * 0x2545F4914F6CDD1Dull + 7);
    Canvas c(width, height);
    const imaging::TestObjectLayout l = imaging::testObjectLayout(width, height, pitchUm);
    c.rect(l.leadMarker, 9 * kEFold);  // nothing gets through
    // Aluminium steps, a quarter of an e-fold each.
    for (std::size_t i = 0; i < l.wedgeSteps.size(); ++i)
        c.rect(l.wedgeSteps[i], 3000 + 2500 * static_cast<std::int64_t>(i));
    // Line-pair groups: bars of two e-folds on open ground, with a solid piece of the same
    // material beside each group for reference.
    for (const imaging::LinePairGroup& g : l.linePairs) {
        for (int k = 0; k < g.periods; ++k) {
            const int x0 = g.bars.x0 + 2 * k * g.barWidth;
            c.rect({x0, g.bars.y0, x0 + g.barWidth, g.bars.y1}, 2 * kEFold);
        }
        c.rect(g.solid, 2 * kEFold);
    }
    // The discs in a slab of plastic, each letting through 1 % to 5 % less than the slab.
    c.rect(l.discField, 8000);
    for (const imaging::ContrastDisc& d : l.discs)
        c.slab(d.cx, d.cy, d.radius, d.radius, kEFold * d.contrastPercent / 100);
    return readPlate(c, lnPercentUnits(dosePercent), rnd);
}

}  // namespace quilo::orvanesim
