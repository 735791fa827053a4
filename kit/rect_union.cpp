// The union of axis-parallel rectangles, exactly, in integers. Objects carry few defects as
// a rule, and those seldom overlap: a pairwise test settles that case (the union is then
// the sum of the areas). A handful of overlapping defects is cut into slabs between
// consecutive distinct x values, merging the y spans that cross each slab. Many defects go
// through a sweep along x with a segment tree over the elementary pieces between distinct
// y values, which keeps the covered length of the sweep line: O(n log n).
#include "rect_union.h"

#include <algorithm>

namespace {

using Rect = UnionScratch::Rect;

// Up to this many defects the quadratic methods are the fastest.
constexpr std::size_t few = 32;

bool overlap(const Rect& a, const Rect& b) {
    return a.x1 < b.x2 && b.x1 < a.x2 && a.y1 < b.y2 && b.y1 < a.y2;
}

std::int64_t area_of(const Rect& r) {
    return (r.x2 - r.x1) * (r.y2 - r.y1);
}

std::int64_t union_by_slabs(UnionScratch& s) {
    s.xs.clear();
    for (const Rect& r : s.rects) {
        s.xs.push_back(r.x1);
        s.xs.push_back(r.x2);
    }
    std::sort(s.xs.begin(), s.xs.end());
    s.xs.erase(std::unique(s.xs.begin(), s.xs.end()), s.xs.end());
    std::int64_t area = 0;
    for (std::size_t i = 0; i + 1 < s.xs.size(); ++i) {
        const std::int64_t from = s.xs[i];
        const std::int64_t to = s.xs[i + 1];
        s.spans.clear();
        for (const Rect& r : s.rects) {
            if (r.x1 <= from && to <= r.x2) {
                s.spans.push_back({r.y1, r.y2});
            }
        }
        std::sort(
            s.spans.begin(), s.spans.end(),
            [](const UnionScratch::Span& a, const UnionScratch::Span& b) { return a.low < b.low; });
        std::int64_t covered = 0;
        std::int64_t reach = 0; // the end of the spans merged so far
        bool started = false;
        for (const UnionScratch::Span& span : s.spans) {
            if (!started || span.low >= reach) {
                covered += span.high - span.low;
                reach = span.high;
                started = true;
            } else if (span.high > reach) {
                covered += span.high - reach;
                reach = span.high;
            }
        }
        area += covered * (to - from);
    }
    return area;
}

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

std::int32_t index_of(const std::vector<std::int64_t>& values, std::int64_t value) {
    return static_cast<std::int32_t>(std::lower_bound(values.begin(), values.end(), value) -
                                     values.begin());
}

std::int64_t union_by_sweep(UnionScratch& s) {
    s.ys.clear();
    for (const Rect& r : s.rects) {
        s.ys.push_back(r.y1);
        s.ys.push_back(r.y2);
    }
    std::sort(s.ys.begin(), s.ys.end());
    s.ys.erase(std::unique(s.ys.begin(), s.ys.end()), s.ys.end());
    s.edges.clear();
    for (const Rect& r : s.rects) {
        const std::int32_t low = index_of(s.ys, r.y1);
        const std::int32_t high = index_of(s.ys, r.y2);
        s.edges.push_back({r.x1, low, high, +1});
        s.edges.push_back({r.x2, low, high, -1});
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

} // namespace

std::int64_t union_area(const Defect* defects, std::size_t count, std::int64_t length,
                        std::int64_t width, UnionScratch& s) {
    s.rects.clear();
    for (const Defect* d = defects; d != defects + count; ++d) {
        const Rect r{std::max<std::int64_t>(d->x1, 0), std::max<std::int64_t>(d->y1, 0),
                     std::min(d->x2, length), std::min(d->y2, width)};
        if (r.x1 < r.x2 && r.y1 < r.y2) { // else nothing of it lies on the object
            s.rects.push_back(r);
        }
    }
    const std::size_t n = s.rects.size();
    if (n > few) {
        return union_by_sweep(s);
    }
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (overlap(s.rects[i], s.rects[j])) {
                return union_by_slabs(s);
            }
        }
        sum += area_of(s.rects[i]);
    }
    return sum;
}
