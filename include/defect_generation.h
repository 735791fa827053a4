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

// Every placed defect takes this many draws: the type, then x, then y.
inline constexpr std::int32_t draws_per_defect = 3;

// Places one defect with the next draws_per_defect draws. Expects at least one defect
// type.
PlacedDefect place_defect(const RunParams& params, RandomStream& stream);

// std::round for the values placement produces, from 0 to below 2^31, without the
// library call that dominated this hot path: there v - trunc(v) is exact, and halves go
// up, as std::round sends them away from zero.
inline std::int32_t round_position(double value) {
    const auto whole = static_cast<std::int32_t>(value);
    return value - static_cast<double>(whole) >= 0.5 ? whole + 1 : whole;
}

// The same as place_defect from the draws already made. Inline: it is the
// innermost work of the defects file.
inline PlacedDefect place_defect(const RunParams& p, double r_type, double r_x, double r_y) {
    PlacedDefect placed;
    placed.type = static_cast<std::int32_t>(static_cast<double>(p.no_def_type) * r_type);
    const Rectangle& type = p.defect[static_cast<std::size_t>(placed.type)];
    // Every type fits on the object, so both positions lie in [0, object - type].
    placed.x = round_position(
        r_x * (static_cast<double>(p.object.length) - static_cast<double>(type.length)));
    placed.y = round_position(
        r_y * (static_cast<double>(p.object.width) - static_cast<double>(type.width)));
    return placed;
}
