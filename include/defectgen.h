// Shared records of a defectgen run: the rectangle type, the table capacities and
// the run parameters that the dialogue fills and everything else reads.
#pragma once

#include <array>
#include <cfloat>
#include <cstddef>
#include <cstdint>

// Every float and double operation must round to its own type at once; wider
// intermediates (as x87 arithmetic has) would change the files.
static_assert(FLT_EVAL_METHOD == 0, "floating point must be evaluated in its own precision");

// Capacities of the fixed tables. MAXMOD bounds instances, items and objects per
// instance; MAXDEF bounds defect types and defects per object.
inline constexpr std::int32_t MAXMOD = 20000;
inline constexpr std::int32_t MAXDEF = 1000;

// Longest file name the dialogue accepts (the name buffers hold 80 bytes with the
// terminating zero).
inline constexpr std::size_t max_filename_length = 79;

// A large object, an item type or a defect type. length runs along the object's x
// direction, width along its y direction; area = length * width.
struct Rectangle {
    std::int32_t area = 0;
    std::int32_t length = 0;
    std::int32_t width = 0;
};

// Everything the user answered, plus the derived item-area range. Filled once by the
// dialogue and read-only afterwards.
struct RunParams {
    std::int32_t no_instances = 0;
    std::int32_t no_objects = 0;
    Rectangle object;
    std::int32_t no_items = 0;
    float minrelsize = 0.0f;
    float maxrelsize = 0.0f;
    std::int32_t minarea = 0;
    std::int32_t maxarea = 0;
    std::int32_t no_def_type = 0;
    std::array<Rectangle, MAXDEF> defect{};
    std::int32_t mindefects = 0;
    std::int32_t maxdefects = 0;
    char filename[max_filename_length + 1] = {};
    char defectfilename[max_filename_length + 1] = {};
    std::int32_t seed = 0;
};
