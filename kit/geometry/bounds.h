// Upper bounds on the area that any placement of one instance reaches, and a lower bound
// on the objects that bin packing needs: computed without printing anything, for bound
// and for run. Each bound's proof is beside its code in bounds.cpp.
#pragma once

#include "geometry/free_space.h"
#include "geometry/rect_union.h"
#include "records.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// One bound: its name in JSON, its label in the tables, and its value.
struct NamedBound {
    const char* name = "";
    const char* label = "";
    std::int64_t value = 0;
};

struct InstanceBounds {
    std::vector<NamedBound> named; // every bound, in a fixed order
    std::int64_t bound = 0;        // the smallest of them
    // Bin packing: the fewest objects that any placement of every item uses, or -1 when no
    // placement holds every item (an item fits on no object, or they hold too little).
    std::int64_t bin_packing_objects = -1;
    std::int64_t items = 0;
    std::int64_t objects = 0;
};

// The items' areas and counts summed over (length <= a, width <= b): prefix sums over
// the items' distinct lengths and widths.
struct FitTable {
    std::vector<std::int64_t> lengths; // distinct, increasing
    std::vector<std::int64_t> widths;
    std::vector<std::int64_t> area; // (lengths + 1) x (widths + 1) prefix sums
    std::vector<std::int32_t> count;
};

// The area and the number of the items whose side (one chosen side) is at most v: per v
// when the sides are small, else the sides sorted with prefix sums.
struct SideSums {
    bool direct = false;
    std::vector<std::int64_t> keys; // sorted sides, unless direct
    std::vector<std::int64_t> area; // direct: per v; else per prefix of keys
    std::vector<std::int64_t> count;
};

// An instance whose objects are added one at a time, so that its defects are never held:
// each object leaves its free area and its capacity.
struct BoundsRun {
    std::int64_t length = 0;
    std::int64_t width = 0;
    bool rotation = false;
    const std::vector<Item>* items = nullptr;
    std::vector<std::int64_t> free;       // per object: its area less its defects'
    std::vector<std::int64_t> capacities; // per object: the most item area it can hold
    std::vector<std::uint32_t> unplaced;  // the items that fit no object seen so far
    std::int64_t never_fit_area = 0;      // of the items larger than any object
    // The items that fit on the object unturned by their length, and by their width; the
    // items by their longer side.
    SideSums by_length, by_width, by_side;
    int table_state = 0; // 0 not built yet, 1 built, -1 too large to build
    FitTable table;
    std::int64_t scan_work_left = 0;     // items counted one by one when there is no table
    std::int64_t knapsack_work_left = 0; // subset sums' word operations
    std::int64_t exact_work_left = 0;    // maximal rectangles: n^2 for n defects
    std::int64_t skipped = 0;            // objects whose items were not held against them
    std::map<std::vector<std::int64_t>, std::int64_t> known; // a staircase's capacity
    // Scratch for one object.
    std::vector<std::pair<std::int64_t, std::int64_t>> xs, ys; // the defects' spans
    std::vector<FreeRect> rects;
    std::vector<Corner> front;
    FreeScratch free_scratch;
    UnionScratch union_scratch;
};

// `items` must outlive the run.
void start_bounds(BoundsRun& run, std::int64_t length, std::int64_t width,
                  const std::vector<Item>& items, bool rotation);
// The instance's next object, with its defects.
void add_bounds_object(BoundsRun& run, const Defect* defects, std::size_t count);
InstanceBounds finish_bounds(BoundsRun& run);

// The same for an instance held whole: `sizes` gives each object's number of defects, in
// order, and `defects` all of them one object after another.
InstanceBounds instance_bounds(std::int64_t length, std::int64_t width,
                               const std::vector<Item>& items, const std::vector<Defect>& defects,
                               const std::vector<std::uint32_t>& sizes, bool rotation);
