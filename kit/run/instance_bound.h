// An upper bound on the area a placement of one instance can hold, gathered object by
// object as the set is read: the smaller of the total item area and the objects' total
// defect-free area (each object's area less the exact union of its defects). A sharper
// bound can take its place here without touching the rest of defectkit run.
#pragma once

#include "geometry/rect_union.h"
#include "records.h"

#include <cstdint>

struct BoundState {
    std::int64_t length = 0; // the objects
    std::int64_t width = 0;
    std::int64_t item_area = 0;
    std::int64_t free_area = 0;
    UnionScratch scratch;
};

void start_bound(BoundState& state, std::int64_t length, std::int64_t width,
                 const InstanceHead& head);
void add_bound_object(BoundState& state, const Defect* defects, std::size_t count);
std::int64_t instance_bound(const BoundState& state);
