// The bounds of one instance. Every one is a whole number computed exactly, the same on
// every build; the work per instance is bounded by its sizes alone, never by time.
#include "geometry/bounds.h"

#include <algorithm>
#include <limits>
#include <map>

namespace {

constexpr std::int64_t unknown = std::numeric_limits<std::int64_t>::max();

// The items' areas summed over (length <= a, width <= b), from a table of prefix sums over
// the items' distinct lengths and widths.
struct FitTable {
    std::vector<std::int64_t> lengths; // distinct, increasing
    std::vector<std::int64_t> widths;
    std::vector<std::int64_t> area; // (lengths + 1) x (widths + 1) prefix sums
    std::vector<std::int32_t> count;
};

constexpr std::size_t table_cells = std::size_t{1} << 21;

std::vector<std::int64_t> distinct(std::vector<std::int64_t> values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

std::size_t rank(const std::vector<std::int64_t>& values, std::int64_t v) {
    return static_cast<std::size_t>(std::upper_bound(values.begin(), values.end(), v) -
                                    values.begin());
}

// False when the table would be too large; `side` is the longest size any object holds.
bool build_table(const std::vector<Item>& items, std::int64_t side, FitTable& t) {
    std::vector<std::int64_t> ls, ws;
    for (const Item& item : items) {
        if (item.length <= side && item.width <= side) {
            ls.push_back(item.length);
            ws.push_back(item.width);
        }
    }
    t.lengths = distinct(ls);
    t.widths = distinct(ws);
    const std::size_t rows = t.lengths.size() + 1;
    const std::size_t cols = t.widths.size() + 1;
    if (rows * cols > table_cells) {
        return false;
    }
    t.area.assign(rows * cols, 0);
    t.count.assign(rows * cols, 0);
    for (const Item& item : items) {
        if (item.length <= side && item.width <= side) {
            const std::size_t cell =
                rank(t.lengths, item.length) * cols + rank(t.widths, item.width);
            t.area[cell] += item.length * item.width;
            ++t.count[cell];
        }
    }
    for (std::size_t r = 1; r < rows; ++r) {
        for (std::size_t c = 1; c < cols; ++c) {
            const std::size_t at = r * cols + c;
            t.area[at] += t.area[at - 1] + t.area[at - cols] - t.area[at - cols - 1];
            t.count[at] += t.count[at - 1] + t.count[at - cols] - t.count[at - cols - 1];
        }
    }
    return true;
}

struct AreaCount {
    std::int64_t area = 0;
    std::int64_t count = 0;
};

AreaCount table_sum(const FitTable& t, std::int64_t a, std::int64_t b) {
    const std::size_t at = rank(t.lengths, a) * (t.widths.size() + 1) + rank(t.widths, b);
    return {t.area[at], t.count[at]};
}

// The items that a staircase holds: those of length in (next corner's lx, lx] need a
// width of at most that corner's ly.
AreaCount table_fit(const FitTable& t, const Corner* front, std::size_t k) {
    AreaCount fit;
    for (std::size_t i = 0; i < k; ++i) {
        const std::int64_t lower = i + 1 < k ? front[i + 1].lx : 0;
        const AreaCount all = table_sum(t, front[i].lx, front[i].ly);
        const AreaCount shorter = table_sum(t, lower, front[i].ly);
        fit.area += all.area - shorter.area;
        fit.count += all.count - shorter.count;
    }
    return fit;
}

AreaCount scan_fit(const std::vector<Item>& items, const Corner* front, std::size_t k) {
    AreaCount fit;
    for (const Item& item : items) {
        if (front_holds(front, k, item.length, item.width)) {
            fit.area += item.length * item.width;
            ++fit.count;
        }
    }
    return fit;
}

// The largest sum of some of `areas` that is at most `cap`: a subset-sum table of bits.
std::int64_t largest_subset_sum(const std::vector<std::int64_t>& areas, std::int64_t cap) {
    const auto size = static_cast<std::size_t>(cap) + 1;
    std::vector<std::uint64_t> bits((size + 63) / 64, 0);
    bits[0] = 1;
    const auto capbit = [&] {
        return (bits[static_cast<std::size_t>(cap) / 64] >> (cap % 64)) & 1;
    };
    for (const std::int64_t a : areas) {
        const auto words = static_cast<std::size_t>(a) / 64;
        const auto shift = static_cast<unsigned>(a % 64);
        for (std::size_t w = bits.size(); w-- > words;) {
            std::uint64_t moved = bits[w - words] << shift;
            if (shift != 0 && w > words) {
                moved |= bits[w - words - 1] >> (64 - shift);
            }
            bits[w] |= moved;
        }
        if (size % 64 != 0) {
            bits.back() &= (std::uint64_t{1} << (size % 64)) - 1;
        }
        if (capbit() != 0) {
            return cap;
        }
    }
    for (std::int64_t v = cap; v > 0; --v) {
        if ((bits[static_cast<std::size_t>(v) / 64] >> (v % 64)) & 1) {
            return v;
        }
    }
    return 0;
}

// Subset sums are worked out while they cost at most this many word operations per object
// and per instance; beyond, the object's capacity is the smaller of its free area and the
// area of the items that fit on it.
constexpr std::int64_t knapsack_object_work = std::int64_t{1} << 23;
constexpr std::int64_t knapsack_instance_work = std::int64_t{1} << 27;

struct CapacityRun {
    const BoundsRun* run = nullptr;
    int table_state = 0; // 0 not built yet, 1 built, -1 too large
    bool scan_ok = false;
    FitTable table;
    // The items by their longer side, with the prefix sums of their areas: an object holds
    // every item whose longer side is at most the shorter side of one of its corners.
    std::vector<std::int64_t> sides;
    std::vector<std::int64_t> side_area;
    std::int64_t work_left = knapsack_instance_work;
    std::map<std::vector<std::int64_t>, std::int64_t> known; // free area and staircase
};

std::int64_t knapsack_capacity(CapacityRun& c, std::size_t o, std::int64_t count) {
    const BoundsRun& run = *c.run;
    const std::int64_t cap = run.free[o];
    const std::int64_t work = count * (cap / 64 + 1);
    const std::uint32_t from = o == 0 ? 0 : run.front_end[o - 1];
    const Corner* front = run.corners.data() + from;
    const std::size_t k = run.front_end[o] - from;
    std::vector<std::int64_t> key{cap};
    for (std::size_t i = 0; i < k; ++i) {
        key.push_back(front[i].lx);
        key.push_back(front[i].ly);
    }
    const auto hit = c.known.find(key);
    if (hit != c.known.end()) {
        return hit->second;
    }
    if (work > knapsack_object_work || work > c.work_left) {
        return cap;
    }
    c.work_left -= work;
    std::vector<std::int64_t> areas;
    for (const Item& item : *run.items) {
        const std::int64_t area = item.length * item.width;
        if (area <= cap && front_holds(front, k, item.length, item.width)) {
            areas.push_back(area);
        }
    }
    const std::int64_t best = largest_subset_sum(areas, cap);
    c.known.emplace(std::move(key), best);
    return best;
}

// An object's capacity: the most item area that any placement puts on it. The items on
// an object are distinct, each fits on it, and they cover disjoint parts of its free
// space; so their total is a sum of areas of items that fit on it, at most its free area,
// hence at most the largest such sum, and at most both its free area and the total area
// of the items that fit on it.
std::int64_t object_capacity(CapacityRun& c, std::size_t o) {
    const BoundsRun& run = *c.run;
    const std::uint32_t from = o == 0 ? 0 : run.front_end[o - 1];
    const Corner* front = run.corners.data() + from;
    const std::size_t k = run.front_end[o] - from;
    std::int64_t square = 0;
    for (std::size_t i = 0; i < k; ++i) {
        square = std::max(square, std::min(front[i].lx, front[i].ly));
    }
    const std::size_t surely = rank(c.sides, square);
    const auto surely_count = static_cast<std::int64_t>(surely);
    if (c.side_area[surely] >= run.free[o] &&
        surely_count * (run.free[o] / 64 + 1) > knapsack_object_work) {
        // The items it surely holds have its free area already, and too many of them to
        // work out their subset sums.
        return run.free[o];
    }
    if (c.table_state == 0) {
        c.table_state = build_table(*run.items, std::max(run.length, run.width), c.table) ? 1 : -1;
    }
    AreaCount fit{unknown, 0};
    if (c.table_state == 1) {
        fit = table_fit(c.table, front, k);
    } else if (c.scan_ok) {
        fit = scan_fit(*run.items, front, k);
    }
    if (fit.area <= run.free[o]) {
        return fit.area;
    }
    return fit.area == unknown ? run.free[o] : knapsack_capacity(c, o, fit.count);
}

// The fewest objects that hold every item: the items on k objects have at most the sum of
// their capacities, so at least the k largest capacities must reach the item area; and
// an item that fits on no object leaves no placement of every item at all.
std::int64_t bin_packing_objects(std::vector<std::int64_t> capacities, std::int64_t item_area,
                                 bool every_item_fits) {
    if (!every_item_fits) {
        return -1;
    }
    std::sort(capacities.begin(), capacities.end(), std::greater<>());
    std::int64_t held = 0;
    for (std::size_t k = 0; k < capacities.size(); ++k) {
        if (held >= item_area) {
            return static_cast<std::int64_t>(k);
        }
        held += capacities[k];
    }
    return held >= item_area ? static_cast<std::int64_t>(capacities.size()) : -1;
}

} // namespace

void start_bounds(BoundsRun& run, std::int64_t length, std::int64_t width,
                  const std::vector<Item>& items, bool rotation) {
    run.length = length;
    run.width = width;
    run.rotation = rotation;
    run.items = &items;
    run.free.clear();
    run.corners.clear();
    run.front_end.clear();
    run.every_front.clear();
    run.pending.clear();
}

void add_bounds_object(BoundsRun& run, const Defect* defects, std::size_t count) {
    run.free.push_back(run.length * run.width -
                       union_area(defects, count, run.length, run.width, run.union_scratch));
    free_space(defects, count, run.length, run.width, run.rects, run.free_scratch);
    fit_front(run.rects, run.rotation, run.front);
    run.corners.insert(run.corners.end(), run.front.begin(), run.front.end());
    for (const Corner& c : run.front) {
        if (!front_holds(run.every_front, c.lx, c.ly)) {
            run.pending.push_back(c);
        }
    }
    if (run.pending.size() >= 256) {
        run.every_front.insert(run.every_front.end(), run.pending.begin(), run.pending.end());
        reduce_front(run.every_front);
        run.pending.clear();
    }
    run.front_end.push_back(static_cast<std::uint32_t>(run.corners.size()));
}

InstanceBounds finish_bounds(BoundsRun& run) {
    const std::vector<Item>& items = *run.items;
    InstanceBounds b;
    b.items = static_cast<std::int64_t>(items.size());
    b.objects = static_cast<std::int64_t>(run.free.size());
    // Every placed item is one of the instance's items.
    std::int64_t item_area = 0;
    for (const Item& item : items) {
        item_area += item.length * item.width;
    }
    // Placed items cover disjoint parts of the objects, clear of the defects.
    std::int64_t free_area = 0;
    for (const std::int64_t f : run.free) {
        free_area += f;
    }
    // A placed item lies on an object clear of its defects, so inside one of its maximal
    // free rectangles: it fits somewhere. The staircase of all objects' corners holds
    // exactly the sizes that some object holds.
    std::vector<Corner>& all = run.every_front;
    all.insert(all.end(), run.pending.begin(), run.pending.end());
    reduce_front(all);
    std::int64_t fitting = 0;
    bool every_item_fits = true;
    for (const Item& item : items) {
        if (front_holds(all, item.length, item.width)) {
            fitting += item.length * item.width;
        } else {
            every_item_fits = false;
        }
    }
    // The placed area is the sum over the objects of what each holds, each at most its
    // capacity (object_capacity).
    CapacityRun c;
    c.run = &run;
    std::vector<std::pair<std::int64_t, std::int64_t>> by_side;
    for (const Item& item : items) {
        by_side.emplace_back(std::max(item.length, item.width), item.length * item.width);
    }
    std::sort(by_side.begin(), by_side.end());
    c.side_area.push_back(0);
    for (const auto& [side, area] : by_side) {
        c.sides.push_back(side);
        c.side_area.push_back(c.side_area.back() + area);
    }
    c.scan_ok = static_cast<std::int64_t>(items.size()) * b.objects <= (std::int64_t{1} << 26);
    std::vector<std::int64_t> capacities(run.free.size());
    std::int64_t capacity = 0;
    for (std::size_t o = 0; o < run.free.size(); ++o) {
        capacities[o] = object_capacity(c, o);
        capacity += capacities[o];
    }
    b.named = {{"item_area", "item area", item_area},
               {"defect_free_area", "defect-free area", free_area},
               {"fitting_item_area", "area of the items that fit somewhere", fitting},
               {"object_capacity", "sum of the objects' capacities", capacity}};
    b.bound = item_area;
    for (const NamedBound& n : b.named) {
        b.bound = std::min(b.bound, n.value);
    }
    b.bin_packing_objects = bin_packing_objects(std::move(capacities), item_area, every_item_fits);
    return b;
}

InstanceBounds instance_bounds(std::int64_t length, std::int64_t width,
                               const std::vector<Item>& items, const std::vector<Defect>& defects,
                               const std::vector<std::uint32_t>& sizes, bool rotation) {
    BoundsRun run;
    start_bounds(run, length, width, items, rotation);
    const Defect* d = defects.data();
    for (const std::uint32_t size : sizes) {
        add_bounds_object(run, d, size);
        d += size;
    }
    return finish_bounds(run);
}
