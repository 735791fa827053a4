// The exact area that the defects of one object cover together: defects overlap, so this
// is the area of their union, not the sum of their areas. Integer coordinates, integer
// result; the same on every build.
#pragma once

#include "records.h"

#include <cstdint>
#include <vector>

// Working space reused from object to object, so that a set costs no allocation per object.
struct UnionScratch {
    struct Rect {
        std::int64_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    };
    std::vector<Rect> rects; // the defects clipped to the object, empty ones left out
    // The sweep names the two ends of rectangle i along one axis by the slots 2 i (its
    // lower end) and 2 i + 1 (its upper end).
    std::vector<std::uint32_t> order;   // the slots by increasing coordinate
    std::vector<std::uint32_t> buckets; // per coordinate: a counting sort's tallies
    std::vector<std::uint64_t> keys;    // coordinate and slot in one number: a sort's keys
    std::vector<std::int64_t> ys;       // the distinct y values, increasing
    std::vector<std::int32_t> low;      // per rectangle: the first piece it covers along y
    std::vector<std::int32_t> high;     // per rectangle: the piece past its last one
    std::vector<std::int32_t> count;    // per piece or tree node: rectangles covering it whole
    std::vector<std::int64_t> span;     // per piece or tree node: its length along y
    std::vector<std::int64_t> covered;  // per tree node: covered length within its span
    std::vector<std::int64_t> xs;       // distinct x values (few defects)
    struct Span {
        std::int64_t low = 0, high = 0;
    };
    std::vector<Span> spans; // the y spans crossing one slab (few defects)
};

// The area of the union of `defects` within the object [0, length] x [0, width] (parts of a
// defect off the object do not count). At most length * width, so it fits 64 bits for any
// object the generator accepts (sides below 2^31).
std::int64_t union_area(const Defect* defects, std::size_t count, std::int64_t length,
                        std::int64_t width, UnionScratch& scratch);
inline std::int64_t union_area(const std::vector<Defect>& defects, std::int64_t length,
                               std::int64_t width, UnionScratch& scratch) {
    return union_area(defects.data(), defects.size(), length, width, scratch);
}
