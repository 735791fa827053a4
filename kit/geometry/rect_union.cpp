// The union of axis-parallel rectangles, exactly, in integers. Objects carry few defects as
// a rule, and those seldom overlap: a pairwise test settles that case (the union is then
// the sum of the areas). A handful of overlapping defects is cut into slabs between
// consecutive distinct x values, merging the y spans that cross each slab. Many defects go
// through a sweep along x that keeps the covered length of the sweep line over the pieces
// between consecutive distinct y values: O(n log n) with a segment tree, or a count per
// piece when the rectangles are short along y (each crosses a few pieces; the generator's
// defects are small), which costs less than the tree; on an object narrow beside their
// number the unit rows serve as the pieces, and the y values need no putting in order. The
// ends along x (and y, else) are put in order by a counting sort when the object's side is
// small beside their number, else by sorting single 64-bit keys; nothing is allocated once
// the scratch has grown.
#include "geometry/rect_union.h"

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

// The largest coordinate and the largest slot that pack into one 64-bit key.
constexpr std::uint64_t key_limit = std::uint64_t{1} << 32;

// The coordinate of `slot` along y (`along_y`) or x.
template <bool along_y> std::int64_t end_of(const Rect& r, std::uint32_t slot) {
    const bool upper = (slot & 1U) != 0;
    if constexpr (along_y) {
        return upper ? r.y2 : r.y1;
    } else {
        return upper ? r.x2 : r.x1;
    }
}

// Puts the 2 n slots of the rectangles in order of their coordinate along one axis, all
// within [0, side], into s.order (ties in any order: the sweep does not depend on it). The
// slots are 32-bit: an object's defects number far fewer than 2^31 (each one is held in
// memory).
template <bool along_y> void order_ends(UnionScratch& s, std::int64_t side) {
    const auto slots = static_cast<std::uint32_t>(2 * s.rects.size());
    s.order.resize(slots);
    if (side < 4 * static_cast<std::int64_t>(slots) + 64) { // counting sort: O(n + side)
        s.buckets.assign(static_cast<std::size_t>(side) + 2, 0);
        for (std::uint32_t slot = 0; slot < slots; ++slot) {
            ++s.buckets[static_cast<std::size_t>(end_of<along_y>(s.rects[slot >> 1], slot)) + 1];
        }
        for (std::size_t v = 1; v < s.buckets.size(); ++v) {
            s.buckets[v] += s.buckets[v - 1];
        }
        for (std::uint32_t slot = 0; slot < slots; ++slot) {
            const auto v = static_cast<std::size_t>(end_of<along_y>(s.rects[slot >> 1], slot));
            s.order[s.buckets[v]++] = slot;
        }
    } else if (static_cast<std::uint64_t>(side) < key_limit) { // one key: coordinate, slot
        s.keys.resize(slots);
        for (std::uint32_t slot = 0; slot < slots; ++slot) {
            const auto v = static_cast<std::uint64_t>(end_of<along_y>(s.rects[slot >> 1], slot));
            s.keys[slot] = v << 32 | slot;
        }
        std::sort(s.keys.begin(), s.keys.end());
        for (std::uint32_t k = 0; k < slots; ++k) {
            s.order[k] = static_cast<std::uint32_t>(s.keys[k] & (key_limit - 1));
        }
    } else { // sides beyond any the generator accepts
        for (std::uint32_t slot = 0; slot < slots; ++slot) {
            s.order[slot] = slot;
        }
        std::sort(s.order.begin(), s.order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return end_of<along_y>(s.rects[a >> 1], a) < end_of<along_y>(s.rects[b >> 1], b);
        });
    }
}

// Gives every rectangle the indices of its y1 and y2 among the distinct y values, which it
// gathers in s.ys.
void compress_y(UnionScratch& s, std::int64_t width) {
    order_ends<true>(s, width);
    const std::size_t n = s.rects.size();
    s.low.resize(n);
    s.high.resize(n);
    s.ys.clear();
    for (const std::uint32_t slot : s.order) {
        const std::int64_t y = end_of<true>(s.rects[slot >> 1], slot);
        if (s.ys.empty() || s.ys.back() != y) {
            s.ys.push_back(y);
        }
        const auto index = static_cast<std::int32_t>(s.ys.size() - 1);
        ((slot & 1U) != 0 ? s.high : s.low)[slot >> 1] = index;
    }
}

// Covered length of the sweep line kept per piece: adding or removing a rectangle touches
// each piece it crosses.
struct PieceCounts {
    UnionScratch& s;
    std::int64_t length = 0;

    void apply(std::size_t rect, std::int32_t delta) {
        const auto from = static_cast<std::size_t>(s.low[rect]);
        const auto to = static_cast<std::size_t>(s.high[rect]);
        if (delta > 0) {
            for (std::size_t p = from; p < to; ++p) { // without branches: unforeseeable
                length += s.count[p]++ == 0 ? s.span[p] : 0;
            }
        } else {
            for (std::size_t p = from; p < to; ++p) {
                length -= --s.count[p] == 0 ? s.span[p] : 0;
            }
        }
    }

    std::int64_t covered_length() const { return length; }
};

// Covered length of the sweep line kept in a segment tree laid out bottom-up: the leaves
// (the pieces, padded to a power of two with empty ones) from `leaves` on, node i above
// nodes 2 i and 2 i + 1. A node's count tells the rectangles that cover its whole span and
// no ancestor's; its covered length is its span when that count is positive, else what its
// children cover.
struct PieceTree {
    UnionScratch& s;
    std::size_t leaves = 0;

    void pull(std::size_t node) {
        if (s.count[node] > 0) {
            s.covered[node] = s.span[node];
        } else if (node >= leaves) {
            s.covered[node] = 0;
        } else {
            s.covered[node] = s.covered[2 * node] + s.covered[2 * node + 1];
        }
    }

    void apply(std::size_t rect, std::int32_t delta) {
        const std::size_t first = leaves + static_cast<std::size_t>(s.low[rect]);
        const std::size_t last = leaves + static_cast<std::size_t>(s.high[rect]) - 1;
        // The nodes that together cover exactly the pieces [first, last], lowest first.
        for (std::size_t l = first, r = last + 1; l < r; l >>= 1, r >>= 1) {
            if ((l & 1U) != 0) {
                s.count[l] += delta;
                pull(l++);
            }
            if ((r & 1U) != 0) {
                s.count[--r] += delta;
                pull(r);
            }
        }
        // Every node changed lies on, or just below, the paths from the two end leaves up.
        for (std::size_t node = first >> 1; node > 0; node >>= 1) {
            pull(node);
        }
        for (std::size_t node = last >> 1; node > 0; node >>= 1) {
            pull(node);
        }
    }

    std::int64_t covered_length() const { return s.covered[1]; }
};

// Sweeps the ends of the rectangles in order of x, the covered length of the sweep line
// times the distance to the next end adding up to the area.
template <typename Line> std::int64_t sweep(UnionScratch& s, Line& line, std::int64_t length) {
    order_ends<false>(s, length);
    std::int64_t area = 0;
    std::int64_t last_x = 0;
    for (const std::uint32_t slot : s.order) {
        const std::int64_t x = end_of<false>(s.rects[slot >> 1], slot);
        area += line.covered_length() * (x - last_x);
        last_x = x;
        line.apply(slot >> 1, (slot & 1U) != 0 ? -1 : +1);
    }
    return area;
}

// The levels of a tree over `pieces` leaves: at least 1.
std::size_t depth_for(std::size_t pieces) {
    std::size_t depth = 1;
    while ((std::size_t{1} << depth) < pieces) {
        ++depth;
    }
    return depth;
}

std::int64_t union_by_sweep(UnionScratch& s, std::int64_t length, std::int64_t width) {
    const std::size_t n = s.rects.size();
    if (width < 8 * static_cast<std::int64_t>(n) + 64) {
        // A narrow object: the unit rows themselves are the pieces, when the rectangles are
        // short (the rule), so that the y values need no putting in order at all.
        std::size_t crossed = 0;
        for (const Rect& r : s.rects) {
            crossed += static_cast<std::size_t>(r.y2 - r.y1);
        }
        const auto rows = static_cast<std::size_t>(width);
        if (crossed <= 4 * depth_for(rows) * n) {
            s.low.resize(n);
            s.high.resize(n);
            for (std::size_t i = 0; i < n; ++i) {
                s.low[i] = static_cast<std::int32_t>(s.rects[i].y1);
                s.high[i] = static_cast<std::int32_t>(s.rects[i].y2);
            }
            s.count.assign(rows, 0);
            s.span.assign(rows, 1);
            PieceCounts line{s};
            return sweep(s, line, length);
        }
    }
    compress_y(s, width);
    const std::size_t pieces = s.ys.size() - 1;
    std::size_t crossed = 0; // pieces crossed by all rectangles together
    for (std::size_t i = 0; i < n; ++i) {
        crossed += static_cast<std::size_t>(s.high[i] - s.low[i]);
    }
    const std::size_t depth = depth_for(pieces);
    if (crossed <= 4 * depth * n) { // short rectangles: a count per piece
        s.count.assign(pieces, 0);
        s.span.resize(pieces);
        for (std::size_t p = 0; p < pieces; ++p) {
            s.span[p] = s.ys[p + 1] - s.ys[p];
        }
        PieceCounts line{s};
        return sweep(s, line, length);
    }
    const std::size_t leaves = std::size_t{1} << depth;
    s.count.assign(2 * leaves, 0);
    s.covered.assign(2 * leaves, 0);
    s.span.assign(2 * leaves, 0);
    for (std::size_t p = 0; p < pieces; ++p) {
        s.span[leaves + p] = s.ys[p + 1] - s.ys[p];
    }
    for (std::size_t node = leaves - 1; node > 0; --node) {
        s.span[node] = s.span[2 * node] + s.span[2 * node + 1];
    }
    PieceTree line{s, leaves};
    return sweep(s, line, length);
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
        return union_by_sweep(s, length, width);
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
