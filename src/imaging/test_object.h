// Where the parts of the test-object plate lie: a step wedge, line-pair groups and low-contrast
// discs, placed on a plate of any size and pixel pitch. The simulated scanner draws the plate from
// this layout and the quality measures read a plate by it, so a test object exposed in a clinic
// reads the same way as long as it follows the same layout. Header only, no dependencies: the
// scanner library and the plug-in both include it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quilo::imaging {

struct PlateRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open
    int width() const { return x1 - x0; }
    int height() const { return y1 - y0; }
    // The middle part, `percent` of each side, away from the blurred borders.
    PlateRect inner(int percent) const {
        const int dx = width() * (100 - percent) / 200, dy = height() * (100 - percent) / 200;
        return {x0 + dx, y0 + dy, x1 - dx, y1 - dy};
    }
};

struct LinePairGroup {
    int barWidth = 1;  // pixels; a period is two bars' width
    int periods = 3;   // bar and gap pairs
    double linePairsPerMm = 0;
    PlateRect bars;         // starts with a bar (absorbing) at bars.x0, bars run top to bottom
    PlateRect solid, open;  // the bars' material and the open space beside it, for reference
};

struct ContrastDisc {
    int cx = 0, cy = 0, radius = 1;
    int contrastPercent = 1;  // how much less the disc lets through than its surroundings
};

struct TestObjectLayout {
    int width = 0, height = 0;
    double pitchUm = 0;
    PlateRect wedgeBand;  // the wedge's steps, thinnest first, left to right
    std::vector<PlateRect> wedgeSteps;
    std::vector<LinePairGroup> linePairs;  // the coarsest first
    PlateRect discField;                   // the uniform slab the discs lie in
    std::vector<ContrastDisc> discs;
    PlateRect leadMarker;  // fully absorbing, so the plate's darkest value is known
};

inline constexpr int kWedgeSteps = 11;
inline constexpr int kDiscContrasts = 5;  // 1 % to 5 %
inline constexpr int kDiscSizes = 4;

// The layout on a width x height plate of the given pitch (micrometres). Bands from top to
// bottom: the wedge, two rows of line-pair groups, the disc field; the plate's border is open
// (direct exposure) and a lead marker sits in the top left corner.
inline TestObjectLayout testObjectLayout(int width, int height, double pitchUm) {
    TestObjectLayout l;
    l.width = width;
    l.height = height;
    l.pitchUm = pitchUm > 0 ? pitchUm : 25.0;
    const int margin = std::max(4, std::min(width, height) * 5 / 100);
    const int x0 = margin, x1 = width - margin;
    const int innerW = x1 - x0;
    auto rowAt = [&](int percent) { return height * percent / 100; };

    l.leadMarker = {x0, rowAt(1), x0 + innerW / 6, std::max(rowAt(1) + 1, rowAt(5))};
    l.wedgeBand = {x0, rowAt(7), x1, rowAt(27)};
    for (int i = 0; i < kWedgeSteps; ++i)
        l.wedgeSteps.push_back({x0 + innerW * i / kWedgeSteps, l.wedgeBand.y0,
                                x0 + innerW * (i + 1) / kWedgeSteps, l.wedgeBand.y1});

    // Bar widths from one line pair per millimetre down to one pixel (the Nyquist frequency),
    // each about two thirds of the one before, in two rows of groups.
    std::vector<int> widths;
    for (int b = std::max(1, static_cast<int>(500.0 / l.pitchUm + 0.5)); b >= 1;) {
        widths.push_back(b);
        if (b == 1) break;
        b = std::min(b - 1, b * 2 / 3);
        b = std::max(b, 1);
    }
    const int perRow = static_cast<int>((widths.size() + 1) / 2);
    const int rowTop[2] = {rowAt(29), rowAt(44)};
    const int rowH = rowAt(14);
    for (std::size_t g = 0; g < widths.size(); ++g) {
        const int r = static_cast<int>(g) / perRow, c = static_cast<int>(g) % perRow;
        const int cx0 = x0 + innerW * c / perRow, cx1 = x0 + innerW * (c + 1) / perRow;
        const int cellW = cx1 - cx0, pad = std::max(2, cellW / 12);
        LinePairGroup grp;
        grp.barWidth = widths[g];
        grp.periods = std::clamp((cellW - 2 * pad) / (2 * grp.barWidth), 1, 6);
        grp.linePairsPerMm = 1000.0 / (2.0 * grp.barWidth * l.pitchUm);
        const int y0 = rowTop[r], y1 = rowTop[r] + rowH;
        const int barsBottom = y0 + rowH * 55 / 100, refTop = y0 + rowH * 65 / 100;
        grp.bars = {cx0 + pad, y0, cx0 + pad + grp.periods * 2 * grp.barWidth, barsBottom};
        const int mid = (cx0 + cx1) / 2;
        grp.solid = {cx0 + pad, refTop, mid, y1};
        grp.open = {mid, refTop, cx1 - pad, y1};
        l.linePairs.push_back(grp);
    }

    l.discField = {x0, rowAt(60), x1, height - margin};
    const int cellW = innerW / kDiscContrasts, cellH = l.discField.height() / kDiscSizes;
    const int cell = std::min(cellW, cellH);
    const int diameterPercent[kDiscSizes] = {50, 34, 20, 10};
    for (int s = 0; s < kDiscSizes; ++s)
        for (int c = 0; c < kDiscContrasts; ++c) {
            ContrastDisc d;
            d.cx = x0 + cellW * c + cellW / 2;
            d.cy = l.discField.y0 + cellH * s + cellH / 2;
            d.radius = std::max(2, cell * diameterPercent[s] / 200);
            d.contrastPercent = c + 1;
            l.discs.push_back(d);
        }
    return l;
}

}  // namespace quilo::imaging
