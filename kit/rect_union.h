// The exact area that the defects of one object cover together: defects overlap, so this
// is the area of their union, not the sum of their areas. Integer coordinates, integer
// result; the same on every build.
#pragma once

#include "set_reader.h"

#include <cstdint>
#include <vector>

// Working space reused from object to object, so that a set costs no allocation per object.
struct UnionScratch {
    struct Rect {
        std::int64_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    };
    std::vector<Rect> rects; // the defects clipped to the object, empty ones left out
    struct Edge {
        std::int64_t x = 0;
        std::int32_t low = 0;   // index of y1 among the distinct y values
        std::int32_t high = 0;  // index of y2
        std::int32_t delta = 0; // +1 where a defect starts, -1 where it ends
    };
    std::vector<Edge> edges;
    std::vector<std::int64_t> ys;
    std::vector<std::int32_t> count;   // per tree node: defects covering the node's whole span
    std::vector<std::int64_t> covered; // per tree node: covered length within its span
    std::vector<std::int64_t> xs;      // distinct x values (few defects)
    struct Span {
        std::int64_t low = 0, high = 0;
    };
    std::vector<Span> spans; // the y spans crossing one slab (few defects)
};

// The area of the union of `defects` within the object [0, length] x [0, width] (parts of a
// defect off the object do not count). At most length * width, so it fits 64 bits for any
// object the generator accepts.
std::int64_t union_area(const Defect* defects, std::size_t count, std::int64_t length,
                        std::int64_t width, UnionScratch& scratch);
inline std::int64_t union_area(const std::vector<Defect>& defects, std::int64_t length,
                               std::int64_t width, UnionScratch& scratch) {
    return union_area(defects.data(), defects.size(), length, width, scratch);
}
