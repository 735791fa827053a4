#include "defect_generation.h"
#include "random_stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>

namespace {

// The count search exactly as the file format's history defines it: the first s from 1
// with s * step >= r.
std::int32_t linear_count(std::int32_t mindefects, std::int32_t maxdefects, double r) {
    const std::int64_t n = std::int64_t{maxdefects} - mindefects + 1;
    const double step = 1.0 / (static_cast<double>(std::int64_t{maxdefects} - mindefects) + 1.0);
    for (std::int64_t s = 1; s <= n; ++s) {
        if (static_cast<double>(s) * step >= r) {
            return static_cast<std::int32_t>(mindefects + s - 1);
        }
    }
    return 0;
}

// The same first s found by bisection, for ranges too wide to walk.
std::int32_t bisected_count(std::int32_t mindefects, std::int32_t maxdefects, double r) {
    const std::int64_t n = std::int64_t{maxdefects} - mindefects + 1;
    const double step = 1.0 / (static_cast<double>(std::int64_t{maxdefects} - mindefects) + 1.0);
    std::int64_t low = 1;
    std::int64_t high = n;
    if (!(static_cast<double>(n) * step >= r)) {
        return 0;
    }
    while (low < high) {
        const std::int64_t mid = low + (high - low) / 2;
        if (static_cast<double>(mid) * step >= r) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    return static_cast<std::int32_t>(mindefects + low - 1);
}

TEST(DefectCount, EqualsTheLinearSearchForNarrowRanges) {
    const std::int32_t ranges[][2] = {{0, 0}, {1, 3},   {0, 8},    {-5, 5},      {0, 1000},
                                      {3, 3}, {-2, -1}, {7, 1000}, {-3000, 1000}};
    RandomStream stream{4711};
    for (const auto& range : ranges) {
        const std::int64_t n = std::int64_t{range[1]} - range[0] + 1;
        for (int i = 0; i < 20000; ++i) {
            const double r = uniform_random(stream);
            ASSERT_EQ(defect_count(range[0], range[1], r), linear_count(range[0], range[1], r))
                << range[0] << ".." << range[1] << " r " << r;
        }
        // Draws on and next to every step boundary, where rounding decides.
        for (std::int64_t k = 0; k <= n && k < 2000; ++k) {
            const double boundary = static_cast<double>(k) / static_cast<double>(n);
            for (const double r :
                 {boundary, std::nextafter(boundary, 0.0), std::nextafter(boundary, 1.0)}) {
                ASSERT_EQ(defect_count(range[0], range[1], r), linear_count(range[0], range[1], r))
                    << range[0] << ".." << range[1] << " r " << r;
            }
        }
        EXPECT_EQ(defect_count(range[0], range[1], 2147483646.0 / 2147483647.0), range[1]);
        EXPECT_EQ(defect_count(range[0], range[1], 0.0), range[0]);
    }
}

TEST(DefectCount, WideRangesAreExactAndImmediate) {
    const std::int32_t ranges[][2] = {{-2000000000, 1000},
                                      {INT32_MIN, 1000},
                                      {INT32_MIN, INT32_MIN},
                                      {-1000000, 0},
                                      {INT32_MIN, -5}};
    RandomStream stream{99};
    for (const auto& range : ranges) {
        for (int i = 0; i < 20000; ++i) {
            const double r = uniform_random(stream);
            const std::int32_t count = defect_count(range[0], range[1], r);
            ASSERT_EQ(count, bisected_count(range[0], range[1], r)) << range[0] << " r " << r;
            ASSERT_GE(count, range[0]);
            ASSERT_LE(count, range[1]);
        }
        // Draws on a step boundary and just past it, where the rounding of r * n decides
        // between two counts.
        const std::int64_t n = std::int64_t{range[1]} - range[0] + 1;
        const double step = 1.0 / (static_cast<double>(n - 1) + 1.0);
        for (std::int64_t s = 1; s <= n; s += n / 1000 + 1) {
            const double boundary = static_cast<double>(s) * step;
            for (const double r : {boundary, std::nextafter(boundary, 1.0)}) {
                if (r < 1.0) {
                    ASSERT_EQ(defect_count(range[0], range[1], r),
                              bisected_count(range[0], range[1], r))
                        << range[0] << " r " << r;
                }
            }
        }
    }
}

TEST(DefectCount, ReversedBoundsGiveNoDefects) {
    for (const double r : {0.0, 0.3, 0.999}) {
        EXPECT_EQ(defect_count(5, 3, r), 0);
        EXPECT_EQ(defect_count(1000, INT32_MIN, r), 0);
        EXPECT_EQ(defect_count(1, 0, r), 0);
    }
}

TEST(DefectCount, EveryObjectTakesOneDraw) {
    RunParams p;
    p.no_objects = 7;
    p.mindefects = 2;
    p.maxdefects = 2;
    auto counts = std::make_unique<DefectCounts>();
    RandomStream stream{12};
    draw_defect_counts(p, stream, *counts);
    EXPECT_EQ(stream.rng_state, random_state_after(12, 7));
    for (int o = 0; o < 7; ++o) {
        EXPECT_EQ(counts->no_defects[o], 2);
    }
}

TEST(PlaceDefect, PositionRoundingEqualsStandardRound) {
    RandomStream stream{31337};
    for (int i = 0; i < 200000; ++i) {
        const double span = static_cast<double>(stream.rng_state % 100000);
        const double v = uniform_random(stream) * span;
        ASSERT_EQ(round_position(v), static_cast<std::int32_t>(std::round(v))) << v;
    }
    for (const double whole : {0.0, 1.0, 2.0, 1000.0, 4503599.0, 2147483645.0}) {
        for (const double v : {whole, whole + 0.5, std::nextafter(whole + 0.5, 0.0),
                               std::nextafter(whole + 0.5, 1e10), std::nextafter(whole, 0.0),
                               whole + 0.25, whole + 0.75}) {
            if (v >= 0.0) {
                ASSERT_EQ(round_position(v), static_cast<std::int32_t>(std::round(v))) << v;
            }
        }
    }
    // Products of a draw and a large span, near the top of the range.
    for (int i = 0; i < 100000; ++i) {
        const double v = uniform_random(stream) * 2147483646.0;
        ASSERT_EQ(round_position(v), static_cast<std::int32_t>(std::round(v))) << v;
    }
}

TEST(PlaceDefect, StreamOfZerosPlacesTheFirstTypeAtTheOrigin) {
    RunParams p;
    p.object = {10000, 100, 100};
    p.no_def_type = 3;
    p.defect[0] = {20, 5, 4};
    p.defect[1] = {100, 10, 10};
    p.defect[2] = {60, 20, 3};
    RandomStream stream{0};
    const PlacedDefect placed = place_defect(p, stream);
    EXPECT_EQ(placed.type, 0);
    EXPECT_EQ(placed.x, 0);
    EXPECT_EQ(placed.y, 0);
}

TEST(PlaceDefect, EveryDefectLiesOnTheObject) {
    RunParams p;
    p.object = {37 * 23, 37, 23};
    p.no_def_type = 4;
    p.defect[0] = {1, 1, 1};
    p.defect[1] = {37 * 23, 37, 23}; // as large as the object: always at the origin
    p.defect[2] = {36 * 2, 36, 2};
    p.defect[3] = {23, 1, 23};
    int seen[4] = {};
    for (std::int32_t seed = 1; seed <= 200; ++seed) {
        RandomStream stream;
        seed_random_stream(stream, seed);
        for (int i = 0; i < 500; ++i) {
            const PlacedDefect d = place_defect(p, stream);
            ASSERT_GE(d.type, 0);
            ASSERT_LT(d.type, 4);
            const Rectangle& type = p.defect[d.type];
            ++seen[d.type];
            ASSERT_GE(d.x, 0);
            ASSERT_GE(d.y, 0);
            ASSERT_LE(d.x + type.length, 37);
            ASSERT_LE(d.y + type.width, 23);
            if (d.type == 1) {
                ASSERT_EQ(d.x, 0);
                ASSERT_EQ(d.y, 0);
            }
        }
    }
    for (const int count : seen) {
        EXPECT_GT(count, 20000); // each of the four types about a quarter of 100000
    }
}

} // namespace
