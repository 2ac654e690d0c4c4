// The operations on several threads give the values of one, bit for bit, and a strip that throws
// hands its exception to the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/enhancement.h"
#include "imaging/operations.h"
#include "imaging/tiff.h"
#include "support/images.h"

namespace quilo::imaging {
namespace {

// Noise over the depth's whole range with flat patches (medians whose window lies in one bin)
// and a ramp (runs of equal neighbours).
Image plate(std::uint32_t w, std::uint32_t h, int bits, unsigned seed) {
    std::mt19937 rng(seed);
    const std::uint32_t top = (1u << bits) - 1;
    return test::imageOf(w, h, bits, [&](std::uint32_t x, std::uint32_t y) {
        const std::uint32_t patch = (x / 19 + y / 23) % 4;
        return patch == 0 ? top / 3 : patch == 1 ? (x + 2 * y) % (top + 1) : rng() & top;
    });
}

using Step = std::function<void(Image&, Workers*)>;

std::vector<std::pair<std::string, Step>> steps() {
    std::vector<std::pair<std::string, Step>> s = {
        {"invert", [](Image& i, Workers* w) { invert(i, w); }},
        {"stretchIntensity", [](Image& i, Workers* w) { stretchIntensity(i, w); }},
        {"stretchRange",
         [](Image& i, Workers* w) { stretchRange(i, i.maxValue() / 5, i.maxValue() / 2, w); }},
        {"despeckle", [](Image& i, Workers* w) { despeckle(i, w); }},
        {"sharpen", [](Image& i, Workers* w) { sharpen(i, 90, w); }},
        {"unsharpMask", [](Image& i, Workers* w) { unsharpMask(i, 1, 10, 12, 0, w); }},
        {"reducedCopy", [](Image& i, Workers* w) { i = reducedCopy(i, 9, w); }},
        {"reducedCopy inverted", [](Image& i, Workers* w) { i = reducedCopy(i, 9, w, true); }},
        {"enhance inverted",
         [](Image& i, Workers* w) {
             Image out(i.width(), i.height(), 8);
             enhanceRadiographInto(i, defaultEnhancementOptions(kIntraoral), out, w, true);
             i = std::move(out);
         }},
        {"tiff",
         [](Image& i, Workers* w) {
             std::vector<std::byte> file(tiffFileSize(i));
             writeTiff(i, file, w);
             i = readTiff(file, w, std::move(i));
         }},
        {"chain",
         [](Image& i, Workers* w) {
             invert(i, w);
             despeckle(i, w);
             medianFilter(i, 16, w);
             i = enhanceRadiograph(i, defaultEnhancementOptions(kCephalometric), 8, w);
         }},
    };
    for (int bits : {8, 12, 16})
        s.emplace_back("depth " + std::to_string(bits),
                       [bits](Image& i, Workers* w) { changeBitDepth(i, bits, w); });
    for (int type : {kIntraoral, kCephalometric, kPanoramic})
        for (int bits : {8, 16})
            s.emplace_back("enhance " + std::to_string(type) + "/" + std::to_string(bits),
                           [type, bits](Image& i, Workers* w) {
                               i = enhanceRadiograph(i, defaultEnhancementOptions(type), bits, w);
                           });
    for (int size = 2; size <= 16; ++size)
        s.emplace_back("median " + std::to_string(size),
                       [size](Image& i, Workers* w) { medianFilter(i, size, w); });
    return s;
}

bool sameImage(const Image& a, const Image& b) {
    return a.width() == b.width() && a.height() == b.height() &&
           a.bitsPerPixel() == b.bitsPerPixel() &&
           std::memcmp(a.data(), b.data(), a.byteSize()) == 0;
}

// Heights that no strip count divides, single rows and columns, and one plate large enough for
// the point operations and the depth change in place to be cut into several pieces.
TEST(Threads, EveryStepGivesTheValuesOfOneThread) {
    struct Shape {
        std::uint32_t w, h;
    };
    const Shape shapes[] = {{1, 1}, {9, 1}, {1, 150}, {37, 5}, {203, 259}, {1031, 1163}};
    Workers one(1), two(2), three(3);
    // The most strips, on one thread, last first: strips that depend on their order fail always.
    Workers lastFirst = Workers::lastFirst(7);
    const auto all = steps();
    for (const Shape& shape : shapes)
        for (int bits : {8, 12, 16}) {
            const Image in = plate(shape.w, shape.h, bits, shape.w * 31 + shape.h);
            for (const auto& [name, step] : all) {
                // The large plate is for the point operations, whose strips are long.
                const bool point = name.rfind("invert", 0) == 0 || name.rfind("stretch", 0) == 0 ||
                                   name.rfind("depth", 0) == 0 || name == "tiff";
                if (shape.h > 1000 && !point) continue;
                Image ref = in.clone();
                step(ref, &one);
                for (Workers* w : {&two, &three, &lastFirst}) {
                    Image out = in.clone();
                    step(out, w);
                    EXPECT_TRUE(sameImage(ref, out))
                        << name << " on " << shape.w << " x " << shape.h << ", " << bits
                        << " bits, " << w->threads() << " threads"
                        << (w == &lastFirst ? " (last first)" : "");
                }
            }
        }
}

// A part that throws on a thread of the pool (not the caller's): the exception reaches the
// caller once the others are done, and the workers serve the next run.
TEST(Threads, AnExceptionInAWorkerReachesTheCaller) {
    Workers workers(2);
    const auto caller = std::this_thread::get_id();
    std::atomic<int> started{0};
    std::atomic<bool> otherThread{false};
    auto job = [&](std::uint32_t) {
        ++started;
        while (started < 2) {  // both threads take a part: the caller cannot take them all
        }
        if (std::this_thread::get_id() != caller) {
            otherThread = true;
            throw std::bad_alloc();
        }
    };
    EXPECT_THROW(workers.run(2, job), std::bad_alloc);
    EXPECT_TRUE(otherThread);

    std::atomic<int> ran{0};
    workers.run(50, [&](std::uint32_t) { ++ran; });
    EXPECT_EQ(ran, 50);
}

}  // namespace
}  // namespace quilo::imaging
