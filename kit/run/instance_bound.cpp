// The bound of instance_bound.h: item area against defect-free area, both exact integers.
#include "run/instance_bound.h"

#include <algorithm>

void start_bound(BoundState& state, std::int64_t length, std::int64_t width,
                 const InstanceHead& head) {
    state.length = length;
    state.width = width;
    state.item_area = 0;
    state.free_area = 0;
    for (const Item& item : head.items) {
        state.item_area += item.area;
    }
}

void add_bound_object(BoundState& state, const Defect* defects, std::size_t count) {
    state.free_area += state.length * state.width -
                       union_area(defects, count, state.length, state.width, state.scratch);
}

std::int64_t instance_bound(const BoundState& state) {
    return std::min(state.item_area, state.free_area);
}
