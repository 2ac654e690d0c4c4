#include "imaging/quality.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace quilo::imaging {
namespace {

PlateRect clampTo(const Image& image, PlateRect r) {
    const int w = static_cast<int>(image.width()), h = static_cast<int>(image.height());
    r.x0 = std::clamp(r.x0, 0, w);
    r.x1 = std::clamp(r.x1, r.x0, w);
    r.y0 = std::clamp(r.y0, 0, h);
    r.y1 = std::clamp(r.y1, r.y0, h);
    return r;
}

double value(const Image& image, int x, int y) {
    return image.at(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
}

// Mean of the columns x0..x1 of the rows of `area`: the profile across vertical bars.
std::vector<double> columnProfile(const Image& image, const PlateRect& area) {
    std::vector<double> p(static_cast<std::size_t>(std::max(0, area.width())), 0.0);
    for (int y = area.y0; y < area.y1; ++y)
        for (int x = area.x0; x < area.x1; ++x)
            p[static_cast<std::size_t>(x - area.x0)] += value(image, x, y);
    for (double& v : p)
        v /= std::max(1, area.height());
    return p;
}

LinePairFigure linePairs(const Image& image, const LinePairGroup& g) {
    LinePairFigure f;
    f.linePairsPerMm = g.linePairsPerMm;
    const PlateRect bars = clampTo(image, g.bars.inner(80));
    PlateRect rows = bars;
    rows.x0 = g.bars.x0;  // the whole width, so the profile starts at the first bar
    rows.x1 = std::min(g.bars.x1, static_cast<int>(image.width()));
    const double reference =
        areaStats(image, g.solid.inner(70)).mean - areaStats(image, g.open.inner(70)).mean;
    if (reference == 0 || rows.width() < 2 * g.barWidth) return f;
    const double sign = reference > 0 ? 1.0 : -1.0;
    const std::vector<double> p = columnProfile(image, rows);
    // Per period: the bar's extreme in the reference's direction against the gap's other one.
    double amplitude = 0;
    int periods = 0;
    for (int k = 0; k < g.periods; ++k) {
        const int bar0 = 2 * k * g.barWidth, gap0 = bar0 + g.barWidth, end = gap0 + g.barWidth;
        if (end > static_cast<int>(p.size())) break;
        double barPeak = -1e300, gapPeak = -1e300;
        for (int x = bar0; x < gap0; ++x)
            barPeak = std::max(barPeak, sign * p[static_cast<std::size_t>(x)]);
        for (int x = gap0; x < end; ++x)
            gapPeak = std::max(gapPeak, -sign * p[static_cast<std::size_t>(x)]);
        amplitude += barPeak + gapPeak;
        ++periods;
    }
    if (periods > 0) f.modulation = std::max(0.0, amplitude / periods / std::abs(reference));
    return f;
}

DiscFigure disc(const Image& image, const ContrastDisc& d) {
    DiscFigure f;
    f.contrastPercent = d.contrastPercent;
    f.diameterPx = 2 * d.radius;
    // Inside: the middle 70 % of the radius, clear of the blurred rim. Ring: from a quarter of
    // the radius (at least 3 pixels) outside the rim, half a radius wide (at least 6).
    const double rin = 0.7 * d.radius;
    const double r0 = d.radius + std::max(3.0, 0.25 * d.radius);
    const double r1 = r0 + std::max(6.0, 0.5 * d.radius);
    double sIn = 0, sOut = 0, s2Out = 0;
    std::size_t nIn = 0, nOut = 0;
    const int reach = static_cast<int>(std::ceil(r1));
    for (int y = std::max(0, d.cy - reach);
         y <= std::min(static_cast<int>(image.height()) - 1, d.cy + reach); ++y)
        for (int x = std::max(0, d.cx - reach);
             x <= std::min(static_cast<int>(image.width()) - 1, d.cx + reach); ++x) {
            const double dx = x - d.cx, dy = y - d.cy, r = std::sqrt(dx * dx + dy * dy);
            const double v = value(image, x, y);
            if (r <= rin) {
                sIn += v;
                ++nIn;
            } else if (r >= r0 && r < r1) {
                sOut += v;
                s2Out += v * v;
                ++nOut;
            }
        }
    if (nIn == 0 || nOut < 2) return f;
    const double mOut = sOut / static_cast<double>(nOut);
    f.contrast = sIn / static_cast<double>(nIn) - mOut;
    f.noise = std::sqrt(std::max(0.0, s2Out / static_cast<double>(nOut) - mOut * mOut));
    f.cnr = f.noise > 0 ? std::abs(f.contrast) / f.noise : 0.0;
    return f;
}

}  // namespace

AreaStats areaStats(const Image& image, const PlateRect& area) {
    AreaStats s;
    const PlateRect r = clampTo(image, area);
    const double top = image.maxValue();
    double sum = 0, sum2 = 0;
    std::size_t low = 0, high = 0;
    for (int y = r.y0; y < r.y1; ++y)
        for (int x = r.x0; x < r.x1; ++x) {
            const double v = value(image, x, y);
            sum += v;
            sum2 += v * v;
            low += v == 0;
            high += v == top;
        }
    s.pixels = static_cast<std::size_t>(r.width()) * static_cast<std::size_t>(r.height());
    if (s.pixels == 0) return s;
    const auto n = static_cast<double>(s.pixels);
    s.mean = sum / n;
    s.noise = std::sqrt(std::max(0.0, sum2 / n - s.mean * s.mean));
    s.clippedLow = static_cast<double>(low) / n;
    s.clippedHigh = static_cast<double>(high) / n;
    return s;
}

TestObjectFigures measureTestObject(const Image& image, const TestObjectLayout& layout) {
    if (image.empty()) throw std::invalid_argument("no image to measure");
    TestObjectFigures f;
    for (const PlateRect& step : layout.wedgeSteps)
        f.wedge.push_back(areaStats(image, step.inner(60)));
    for (const LinePairGroup& g : layout.linePairs)
        f.linePairs.push_back(linePairs(image, g));
    for (const ContrastDisc& d : layout.discs)
        f.discs.push_back(disc(image, d));
    const AreaStats all =
        areaStats(image, {0, 0, static_cast<int>(image.width()), static_cast<int>(image.height())});
    f.clippedLow = all.clippedLow;
    f.clippedHigh = all.clippedHigh;
    return f;
}

int distinguishableSteps(const std::vector<AreaStats>& wedge) {
    int n = 0;
    for (std::size_t i = 1; i < wedge.size(); ++i)
        n += std::abs(wedge[i].mean - wedge[i - 1].mean) >
             2.0 * std::max(wedge[i].noise, wedge[i - 1].noise);
    return n;
}

bool strictlyMonotone(const std::vector<AreaStats>& wedge) {
    bool rising = true, falling = true;
    for (std::size_t i = 1; i < wedge.size(); ++i) {
        rising = rising && wedge[i].mean > wedge[i - 1].mean;
        falling = falling && wedge[i].mean < wedge[i - 1].mean;
    }
    return rising || falling;
}

double meanCnr(const std::vector<DiscFigure>& discs) {
    double s = 0;
    for (const DiscFigure& d : discs)
        s += d.cnr;
    return discs.empty() ? 0.0 : s / static_cast<double>(discs.size());
}

Image windowLevel(const Image& raw, int outBits, bool invert) {
    if (raw.empty()) throw std::invalid_argument("no image to window");
    std::vector<std::size_t> histogram(std::size_t{raw.maxValue()} + 1, 0);
    for (std::uint32_t y = 0; y < raw.height(); ++y)
        for (std::uint32_t x = 0; x < raw.width(); ++x)
            ++histogram[raw.at(x, y)];
    const std::size_t cut = raw.pixelCount() / 1000;
    std::size_t lo = 0, hi = raw.maxValue(), seen = 0;
    for (; lo < hi && (seen += histogram[lo]) <= cut; ++lo) {
    }
    for (seen = 0; hi > lo && (seen += histogram[hi]) <= cut; --hi) {
    }
    Image out(raw.width(), raw.height(), outBits);
    out.setPitch(raw.pitchX(), raw.pitchY());
    const double top = out.maxValue();
    const double span = std::max<double>(1.0, static_cast<double>(hi - lo));
    for (std::uint32_t y = 0; y < raw.height(); ++y)
        for (std::uint32_t x = 0; x < raw.width(); ++x) {
            double t = std::clamp((raw.at(x, y) - static_cast<double>(lo)) / span, 0.0, 1.0);
            if (invert) t = 1.0 - t;
            out.set(x, y, static_cast<std::uint32_t>(std::lround(t * top)));
        }
    return out;
}

std::string describe(const TestObjectFigures& f) {
    std::string s;
    char line[160];
    s += "step wedge (mean, noise, clipped low / high %):\n";
    for (std::size_t i = 0; i < f.wedge.size(); ++i) {
        const AreaStats& w = f.wedge[i];
        std::snprintf(line, sizeof line, "  step %2zu  %10.1f %8.1f   %5.2f %5.2f\n", i + 1, w.mean,
                      w.noise, 100 * w.clippedLow, 100 * w.clippedHigh);
        s += line;
    }
    std::snprintf(line, sizeof line, "  %s, %d of %zu neighbouring steps distinguishable\n",
                  strictlyMonotone(f.wedge) ? "strictly monotone" : "NOT monotone",
                  distinguishableSteps(f.wedge), f.wedge.empty() ? 0 : f.wedge.size() - 1);
    s += line;
    s += "line pairs (lp/mm, modulation):\n";
    for (const LinePairFigure& g : f.linePairs) {
        std::snprintf(line, sizeof line, "  %6.2f  %6.3f\n", g.linePairsPerMm, g.modulation);
        s += line;
    }
    s += "low-contrast discs (contrast %, diameter px, contrast, noise, CNR):\n";
    for (const DiscFigure& d : f.discs) {
        std::snprintf(line, sizeof line, "  %d %%  %4d  %10.2f %8.2f %7.2f\n", d.contrastPercent,
                      d.diameterPx, d.contrast, d.noise, d.cnr);
        s += line;
    }
    std::snprintf(line, sizeof line, "  mean CNR %.2f\nclipped: %.3f %% low, %.3f %% high\n",
                  meanCnr(f.discs), 100 * f.clippedLow, 100 * f.clippedHigh);
    s += line;
    return s;
}

}  // namespace quilo::imaging
