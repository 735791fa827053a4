// The bounds of one instance. Every one is a whole number computed exactly, the same on
// every build; the work per instance is bounded by its sizes alone, never by time.
#include "geometry/bounds.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::int64_t unknown = std::numeric_limits<std::int64_t>::max();

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
// and per instance; beyond, an object's capacity is the smaller of its free area and the
// area of the items that fit on it.
constexpr std::int64_t knapsack_object_work = std::int64_t{1} << 23;
constexpr std::int64_t knapsack_instance_work = std::int64_t{1} << 27;
constexpr std::int64_t knapsack_words = std::int64_t{1} << 17; // a table of at most 1 MB
// Maximal rectangles are worked out for objects of n defects while the sum of their n^2
// stays within this (an object of 1000 defects costs about 0.1 s).
constexpr std::int64_t exact_instance_work = std::int64_t{1} << 25;

// The widest strips clear of every defect: across the whole width (between the defects'
// spans along x, or beyond them), and along the whole length (between their spans along y).
struct Strips {
    std::int64_t full_width = 0;  // the strip's length, across the whole width
    std::int64_t full_length = 0; // the strip's width, along the whole length
};

// The longest gap of [0, end) between the spans (each [from, to], a point included: a
// defect of no size is a line that no item crosses).
std::int64_t widest_gap(std::vector<std::pair<std::int64_t, std::int64_t>>& spans,
                        std::int64_t end) {
    std::sort(spans.begin(), spans.end());
    std::int64_t reach = 0, widest = 0;
    for (const auto& [from, to] : spans) {
        widest = std::max(widest, from - reach);
        reach = std::max(reach, to);
    }
    return std::max(widest, end - reach);
}

// The sizes that an object surely holds, cheaply: its widest strips, or the whole object.
Strips defect_free_strips(const Defect* defects, std::size_t count, BoundsRun& run,
                          std::vector<Corner>& front) {
    run.xs.clear();
    run.ys.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const Defect& d = defects[i];
        if (d.x1 <= d.x2 && d.y1 <= d.y2 && d.x1 <= run.length && d.y1 <= run.width && d.x2 >= 0 &&
            d.y2 >= 0) {
            run.xs.emplace_back(std::max<std::int64_t>(d.x1, 0), std::min(d.x2, run.length));
            run.ys.emplace_back(std::max<std::int64_t>(d.y1, 0), std::min(d.y2, run.width));
        }
    }
    const Strips strips{widest_gap(run.xs, run.length), widest_gap(run.ys, run.width)};
    front.clear();
    for (const Corner c :
         {Corner{strips.full_width, run.width}, Corner{run.length, strips.full_length}}) {
        if (c.lx > 0 && c.ly > 0) {
            front.push_back(c);
            if (run.rotation) {
                front.push_back({c.ly, c.lx});
            }
        }
    }
    reduce_front(front);
    return strips;
}

// The items that the staircase holds, from the table, or counted one by one when there is
// no table; {unknown, 0} once that has cost too much for the instance.
AreaCount items_held(BoundsRun& run, const std::vector<Corner>& front) {
    if (run.table_state == 0) {
        run.table_state =
            build_table(*run.items, std::max(run.length, run.width), run.table) ? 1 : -1;
    }
    if (run.table_state == 1) {
        return table_fit(run.table, front.data(), front.size());
    }
    const auto n = static_cast<std::int64_t>(run.items->size());
    if (n <= run.scan_work_left) {
        run.scan_work_left -= n;
        return scan_fit(*run.items, front.data(), front.size());
    }
    return {unknown, 0};
}

std::int64_t knapsack_capacity(BoundsRun& run, std::int64_t cap, std::int64_t count) {
    const std::int64_t work = count * (cap / 64 + 1);
    std::vector<std::int64_t> key{cap};
    for (const Corner& c : run.front) {
        key.push_back(c.lx);
        key.push_back(c.ly);
    }
    const auto hit = run.known.find(key);
    if (hit != run.known.end()) {
        return hit->second;
    }
    if (work > knapsack_object_work || work > run.knapsack_work_left ||
        cap / 64 + 1 > knapsack_words) {
        return cap;
    }
    run.knapsack_work_left -= work;
    std::vector<std::int64_t> areas;
    for (const Item& item : *run.items) {
        const std::int64_t area = item.length * item.width;
        if (area <= cap && front_holds(run.front, item.length, item.width)) {
            areas.push_back(area);
        }
    }
    const std::int64_t best = largest_subset_sum(areas, cap);
    run.known.emplace(std::move(key), best);
    return best;
}

// An object's capacity: the most item area that any placement puts on it. The items on
// an object are distinct, each fits on it, and they cover disjoint parts of its free
// space; so their total is a sum of areas of items that fit on it, at most its free area,
// hence at most the largest such sum, and at most both its free area and the total area
// of the items that fit on it. `run.front` is the object's exact staircase.
std::int64_t exact_capacity(BoundsRun& run, std::int64_t free) {
    const AreaCount fit = items_held(run, run.front);
    if (fit.area <= free) {
        return fit.area;
    }
    return fit.area == unknown ? free : knapsack_capacity(run, free, fit.count);
}

// Items that an object surely holds, from the sorted sides alone: those of at most the
// longer strip's length across the whole width (unturned), those of at most its width
// along the whole length, and for each corner of its staircase, when known, those whose
// longer side is at most the corner's shorter one. The largest of these sets.
struct Surely {
    std::int64_t area = 0;
    std::int64_t count = 0;
};

void at_least(Surely& s, const SideSums& sums, std::int64_t limit) {
    std::size_t at = 0;
    if (sums.direct) {
        at = static_cast<std::size_t>(
            std::clamp<std::int64_t>(limit, 0, static_cast<std::int64_t>(sums.area.size()) - 1));
    } else {
        at = rank(sums.keys, limit);
    }
    if (sums.area[at] > s.area) {
        s = {sums.area[at], sums.count[at]};
    }
}

Surely surely_held(const BoundsRun& run, const Strips& strips, const std::vector<Corner>* front) {
    Surely s;
    at_least(s, run.by_length, strips.full_width);
    at_least(s, run.by_width, strips.full_length);
    if (front != nullptr) {
        for (const Corner& c : *front) {
            at_least(s, run.by_side, std::min(c.lx, c.ly));
        }
    }
    return s;
}

// When the items it surely holds have its free area already, and too many of them to
// work out their subset sums, the object's capacity is its free area (the smallest value
// it could be without them), and neither its exact free space nor the table is needed.
bool capacity_is_free_area(const Surely& surely, std::int64_t free) {
    return surely.area >= free && surely.count * (free / 64 + 1) > knapsack_object_work;
}

// Removes from `unplaced` the items that the staircase holds.
void take_fitting(std::vector<std::uint32_t>& unplaced, const std::vector<Item>& items,
                  const std::vector<Corner>& front) {
    std::erase_if(unplaced, [&](std::uint32_t i) {
        return front_holds(front, items[i].length, items[i].width);
    });
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

// `pairs` holds (side, area) per item, every side at most `largest`.
void side_sums(std::vector<std::pair<std::int64_t, std::int64_t>>& pairs, std::int64_t largest,
               SideSums& sums) {
    sums.direct = largest <= (std::int64_t{1} << 16); // at most 1 MB a table
    sums.keys.clear();
    if (sums.direct) {
        sums.area.assign(static_cast<std::size_t>(largest) + 1, 0);
        sums.count.assign(static_cast<std::size_t>(largest) + 1, 0);
        for (const auto& [side, area] : pairs) {
            sums.area[static_cast<std::size_t>(side)] += area;
            ++sums.count[static_cast<std::size_t>(side)];
        }
        for (std::size_t v = 1; v < sums.area.size(); ++v) {
            sums.area[v] += sums.area[v - 1];
            sums.count[v] += sums.count[v - 1];
        }
        return;
    }
    std::sort(pairs.begin(), pairs.end());
    sums.area.assign(1, 0);
    sums.count.assign(1, 0);
    for (const auto& [side, area] : pairs) {
        sums.keys.push_back(side);
        sums.area.push_back(sums.area.back() + area);
        sums.count.push_back(sums.count.back() + 1);
    }
}

} // namespace

void start_bounds(BoundsRun& run, std::int64_t length, std::int64_t width,
                  const std::vector<Item>& items, bool rotation) {
    run.length = length;
    run.width = width;
    run.rotation = rotation;
    run.items = &items;
    run.free.clear();
    run.capacities.clear();
    run.unplaced.clear();
    run.never_fit_area = 0;
    run.table_state = 0;
    run.knapsack_work_left = knapsack_instance_work;
    run.scan_work_left = std::int64_t{1} << 26;
    run.exact_work_left = exact_instance_work;
    run.skipped = 0;
    run.known.clear();
    const std::vector<Corner> whole = rotation
                                          ? std::vector<Corner>{{length, width}, {width, length}}
                                          : std::vector<Corner>{{length, width}};
    std::vector<Corner> front = whole;
    reduce_front(front);
    std::vector<std::pair<std::int64_t, std::int64_t>> by_length, by_width, by_side;
    for (std::uint32_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        if (front_holds(front, item.length, item.width)) {
            run.unplaced.push_back(i);
        } else {
            run.never_fit_area += item.length * item.width;
        }
        if (item.length <= length && item.width <= width) {
            by_length.emplace_back(item.length, item.length * item.width);
            by_width.emplace_back(item.width, item.length * item.width);
        }
        if (std::max(item.length, item.width) <= std::max(length, width)) {
            by_side.emplace_back(std::max(item.length, item.width), item.length * item.width);
        }
    }
    side_sums(by_length, length, run.by_length);
    side_sums(by_width, width, run.by_width);
    side_sums(by_side, std::max(length, width), run.by_side);
}

// Per object: its free area; the strips along its edges first, which settle most objects
// of a large instance; its maximal free rectangles only when some item has not been seen
// to fit yet or its capacity needs them.
void add_bounds_object(BoundsRun& run, const Defect* defects, std::size_t count) {
    const std::int64_t free = run.length * run.width -
                              union_area(defects, count, run.length, run.width, run.union_scratch);
    run.free.push_back(free);
    const Strips strips = defect_free_strips(defects, count, run, run.front);
    take_fitting(run.unplaced, *run.items, run.front);
    bool settled = capacity_is_free_area(surely_held(run, strips, nullptr), free);
    const auto work = static_cast<std::int64_t>(count * count + 1);
    if ((settled && run.unplaced.empty()) || work > run.exact_work_left) {
        // Beyond the work allowed, the object's capacity is its free area and the items it
        // might hold are not held against it: finish_bounds then counts them as fitting.
        run.skipped += run.unplaced.empty() ? 0 : 1;
        run.capacities.push_back(free);
        return;
    }
    run.exact_work_left -= work;
    free_space(defects, count, run.length, run.width, run.rects, run.free_scratch);
    fit_front(run.rects, run.rotation, run.front);
    take_fitting(run.unplaced, *run.items, run.front);
    settled = settled || capacity_is_free_area(surely_held(run, strips, &run.front), free);
    run.capacities.push_back(settled ? free : exact_capacity(run, free));
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
    // free rectangles: it fits somewhere. The items left unplaced fit on no object: each
    // object's maximal rectangles were held against them (unless some object was skipped).
    std::int64_t fitting = item_area - run.never_fit_area;
    for (const std::uint32_t i : run.unplaced) {
        fitting -= run.skipped == 0 ? items[i].length * items[i].width : 0;
    }
    // The placed area is the sum over the objects of what each holds, each at most its
    // capacity (exact_capacity).
    std::int64_t capacity = 0;
    for (const std::int64_t c : run.capacities) {
        capacity += c;
    }
    b.named = {{"item_area", "item area", item_area},
               {"defect_free_area", "defect-free area", free_area},
               {"fitting_item_area", "area of the items that fit somewhere", fitting},
               {"object_capacity", "sum of the objects' capacities", capacity}};
    b.bound = item_area;
    for (const NamedBound& n : b.named) {
        b.bound = std::min(b.bound, n.value);
    }
    const bool every_item_fits = fitting == item_area;
    b.bin_packing_objects = bin_packing_objects(run.capacities, item_area, every_item_fits);
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
