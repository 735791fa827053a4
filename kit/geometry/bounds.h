// Upper bounds on the area that any placement of one instance reaches, and a lower bound
// on the objects that bin packing needs: computed without printing anything, for bound
// and for run. Each bound's proof is beside its code in bounds.cpp.
#pragma once

#include "geometry/free_space.h"
#include "geometry/rect_union.h"
#include "records.h"

#include <cstdint>
#include <string>
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

// An instance whose objects are added one at a time, so that its defects are never held:
// per object only its free area and the staircase of the sizes it holds.
struct BoundsRun {
    std::int64_t length = 0;
    std::int64_t width = 0;
    bool rotation = false;
    const std::vector<Item>* items = nullptr;
    std::vector<std::int64_t> free;       // per object: its area less its defects'
    std::vector<Corner> corners;          // every object's staircase, one after another
    std::vector<std::uint32_t> front_end; // per object: the end of its corners
    std::vector<Corner> every_front;      // the staircase of all objects' corners so far,
    std::vector<Corner> pending;          // and the corners it does not hold yet
    // Scratch for one object.
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
