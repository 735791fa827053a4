// The free space of one object as its maximal rectangles: the rectangles clear of every
// obstacle (defects, placed items) that no larger such rectangle contains. An item fits on
// the object exactly when one of them holds it. Shared by bound and the placer.
#pragma once

#include "records.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The half-open rectangle [x, x + lx) x [y, y + ly).
struct FreeRect {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t lx = 0;
    std::int64_t ly = 0;
};

// A size that fits: the free space holds every item of at most lx x ly.
struct Corner {
    std::int64_t lx = 0;
    std::int64_t ly = 0;
};

// Working space reused from object to object.
struct FreeScratch {
    std::vector<FreeRect> pieces[4];   // per side of the obstacle: left, right, below, above
    std::vector<FreeRect> touching[4]; // the rectangles kept that touch that side
};

// The maximal rectangles of the object [0, length) x [0, width) clear of `defects`; parts
// off the object do not count. A defect of no length or no width covers no area, but, as
// check-solution holds it, no item may lie across it: its closed rectangle must stay
// clear of the item's inside.
void free_space(const Defect* defects, std::size_t count, std::int64_t length, std::int64_t width,
                std::vector<FreeRect>& rects, FreeScratch& scratch);

// Takes the obstacle [x1, x2) x [y1, y2) out of the maximal rectangles `rects`, which then
// are the maximal rectangles of what is left.
void cut_free_space(std::vector<FreeRect>& rects, std::int64_t x1, std::int64_t y1, std::int64_t x2,
                    std::int64_t y2, FreeScratch& scratch);

// The sizes that the rectangles hold, as a staircase: the fewest corners whose sizes
// (and the sizes below them) are those held, by decreasing lx and increasing ly. With
// `turned` the sizes turned by 90 degrees count too.
void fit_front(const std::vector<FreeRect>& rects, bool turned, std::vector<Corner>& front);
// Keeps of `front` its staircase (sorts it; removes the corners that another holds).
void reduce_front(std::vector<Corner>& front);

// True when a corner of the staircase holds an item of lx x ly.
bool front_holds(const Corner* front, std::size_t count, std::int64_t lx, std::int64_t ly);
inline bool front_holds(const std::vector<Corner>& front, std::int64_t lx, std::int64_t ly) {
    return front_holds(front.data(), front.size(), lx, ly);
}
