// Item types: a target area and a length share drawn at random, turned into integer
// dimensions by rounding, then repaired one unit at a time until the area is admissible.
#pragma once

#include "defectgen.h"
#include "random_stream.h"

#include <array>

// Bounds of an item's length share, length / (length + width).
inline constexpr double minratio = 0.1;
inline constexpr double maxratio = 0.9;

// The item types of the current instance; each instance overwrites the table.
struct ItemTable {
    std::array<Rectangle, MAXMOD> item{};
};

// Generates item types 0 to no_items - 1 into `items`. Returns false when an item's
// dimensions cannot be repaired (or do not fit 32 bits); the run must then stop with
// the failure message, and nothing of this instance may be written.
bool generate_item_types(const RunParams& params, RandomStream& stream, ItemTable& items);

// One repair pass on an item whose area lies outside [minarea, maxarea], with its draw
// r3: with r3 < 0.5 the length is tried first and the width second, otherwise only the
// width. Returns false when no move is admitted.
bool repair_pass(const RunParams& params, double r3, std::int32_t& length, std::int32_t& width);

// Rounds halves away from zero to a 32-bit integer; false for NaN or out of range.
bool round_to_int32(double value, std::int32_t& result);

inline constexpr const char* item_failure_message =
    " Determination of integer length or width of the small items failed. Please check the "
    "chosen bounds for the relative size as well as the size of the large object!";
