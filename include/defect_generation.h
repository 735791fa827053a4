// Defects: how many each large object carries, which defect type each one is, and
// where on the object it lies.
#pragma once

#include "defectgen.h"
#include "random_stream.h"

#include <array>
#include <cstdint>

// The number of defects of every object of the current instance.
struct DefectCounts {
    std::array<std::int32_t, MAXMOD> no_defects{};
};

// The count one draw r selects between mindefects and maxdefects: mindefects + s - 1
// for the smallest s from 1 to n = maxdefects - mindefects + 1 with s * step >= r, where
// step = 1.0 / ((maxdefects - mindefects) + 1.0); 0 when no s qualifies (n < 1).
std::int32_t defect_count(std::int32_t mindefects, std::int32_t maxdefects, double r);

// One draw per object, for all objects of an instance, before any defect is placed.
void draw_defect_counts(const RunParams& params, RandomStream& stream, DefectCounts& counts);

// A placed defect: its type's index and the corner nearest the object's origin.
struct PlacedDefect {
    std::int32_t type = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// Rounds a value from 0 to below 2^31 to the nearest integer, halves up: the same as
// std::round there.
std::int32_t round_position(double value);

// Three draws: the type, then x, then y. Expects at least one defect type.
PlacedDefect place_defect(const RunParams& params, RandomStream& stream);
