// The union of axis-parallel rectangles by a sweep along x: the distinct y values split the
// object's width into elementary pieces, a segment tree over those pieces keeps how much of
// the width the defects crossing the sweep line cover, and each stretch between two
// consecutive edges adds that length times its breadth. O(n log n) for n defects.
#include "rect_union.h"

#include <algorithm>

namespace {

struct Clipped {
    std::int64_t x1, y1, x2, y2;
};

// Adds `delta` over the pieces [low, high) below `node`, which spans the pieces [from, to).
void update(UnionScratch& s, std::size_t node, std::int32_t from, std::int32_t to, std::int32_t low,
            std::int32_t high, std::int32_t delta) {
    if (high <= from || to <= low) {
        return;
    }
    if (low <= from && to <= high) {
        s.count[node] += delta;
    } else {
        const std::int32_t middle = from + (to - from) / 2;
        update(s, 2 * node, from, middle, low, high, delta);
        update(s, 2 * node + 1, middle, to, low, high, delta);
    }
    if (s.count[node] > 0) {
        s.covered[node] = s.ys[static_cast<std::size_t>(to)] - s.ys[static_cast<std::size_t>(from)];
    } else if (to - from == 1) {
        s.covered[node] = 0;
    } else {
        s.covered[node] = s.covered[2 * node] + s.covered[2 * node + 1];
    }
}

} // namespace

std::int64_t union_area(const std::vector<Defect>& defects, std::int64_t length, std::int64_t width,
                        UnionScratch& s) {
    s.edges.clear();
    s.ys.clear();
    std::int64_t single = 0;
    std::size_t kept = 0;
    for (const Defect& d : defects) {
        const Clipped c{std::max<std::int64_t>(d.x1, 0), std::max<std::int64_t>(d.y1, 0),
                        std::min(d.x2, length), std::min(d.y2, width)};
        if (c.x1 >= c.x2 || c.y1 >= c.y2) {
            continue; // nothing of it lies on the object
        }
        ++kept;
        single = (c.x2 - c.x1) * (c.y2 - c.y1);
        s.ys.push_back(c.y1);
        s.ys.push_back(c.y2);
        s.edges.push_back({c.x1, 0, 0, +1});
        s.edges.push_back({c.x2, 0, 0, -1});
    }
    if (kept <= 1) {
        return kept == 0 ? 0 : single;
    }
    std::sort(s.ys.begin(), s.ys.end());
    s.ys.erase(std::unique(s.ys.begin(), s.ys.end()), s.ys.end());
    // The y indices of each edge, now that the distinct values are known; edges were pushed
    // in pairs in the order of the defects that were kept.
    std::size_t pair = 0;
    for (const Defect& d : defects) {
        const std::int64_t x1 = std::max<std::int64_t>(d.x1, 0);
        const std::int64_t y1 = std::max<std::int64_t>(d.y1, 0);
        const std::int64_t x2 = std::min(d.x2, length);
        const std::int64_t y2 = std::min(d.y2, width);
        if (x1 >= x2 || y1 >= y2) {
            continue;
        }
        const auto low = static_cast<std::int32_t>(std::lower_bound(s.ys.begin(), s.ys.end(), y1) -
                                                   s.ys.begin());
        const auto high = static_cast<std::int32_t>(std::lower_bound(s.ys.begin(), s.ys.end(), y2) -
                                                    s.ys.begin());
        s.edges[2 * pair].low = s.edges[2 * pair + 1].low = low;
        s.edges[2 * pair].high = s.edges[2 * pair + 1].high = high;
        ++pair;
    }
    std::sort(s.edges.begin(), s.edges.end(),
              [](const UnionScratch::Edge& a, const UnionScratch::Edge& b) { return a.x < b.x; });
    const auto pieces = static_cast<std::int32_t>(s.ys.size() - 1);
    s.count.assign(4 * static_cast<std::size_t>(pieces), 0);
    s.covered.assign(4 * static_cast<std::size_t>(pieces), 0);
    std::int64_t area = 0;
    std::int64_t last_x = s.edges.front().x;
    for (const UnionScratch::Edge& e : s.edges) {
        area += s.covered[1] * (e.x - last_x);
        last_x = e.x;
        update(s, 1, 0, pieces, e.low, e.high, e.delta);
    }
    return area;
}
