// The maximal free rectangles of an object, kept as obstacles are taken out of them one at
// a time, and the staircase of the sizes they hold.
#include "geometry/free_space.h"

#include <algorithm>

namespace {

bool contains(const FreeRect& outer, const FreeRect& inner) {
    return outer.x <= inner.x && outer.y <= inner.y && inner.x + inner.lx <= outer.x + outer.lx &&
           inner.y + inner.ly <= outer.y + outer.ly;
}

bool same(const FreeRect& a, const FreeRect& b) {
    return a.x == b.x && a.y == b.y && a.lx == b.lx && a.ly == b.ly;
}

} // namespace

// Why this keeps exactly the maximal rectangles: a maximal rectangle R of what is left lies
// in a maximal rectangle R' of the space before. If R' meets the obstacle, R, clear of it,
// lies wholly left of it, right of it, below or above it (half-open rectangles are disjoint
// only so), hence in one of the four pieces of R' cut here, and, being maximal, is that
// piece. A rectangle that did not meet the obstacle stays maximal, and no piece contains it
// (a piece lies in a rectangle of the space before, which it would then equal). So it is
// enough to hold the pieces against the rectangles kept and against one another. An
// obstacle of no length or no width is a line that no rectangle may cross: the same four
// cases tell a rectangle clear of it, and the same tests below find them.
//
// Few need holding. A left piece [r.x, x1) x [r.y, r.y2) spans, along y, some of the
// obstacle's span; a kept rectangle K that contains it reaches x1 and does not meet the
// obstacle, which leaves only K.x2 = x1. Likewise a right piece lies only in kept
// rectangles starting at x2, a lower one in those ending at y1, an upper one in those
// starting at y2; and a piece lies in no piece of another side (a left piece reaches
// further along y than any lower piece, starts left of any right piece, and so on).
void cut_free_space(std::vector<FreeRect>& rects, std::int64_t x1, std::int64_t y1, std::int64_t x2,
                    std::int64_t y2, FreeScratch& scratch) {
    if (x1 > x2 || y1 > y2) {
        return;
    }
    for (int side = 0; side < 4; ++side) {
        scratch.pieces[side].clear();
        scratch.touching[side].clear();
    }
    std::size_t kept = 0;
    for (const FreeRect& r : rects) {
        const std::int64_t rx2 = r.x + r.lx;
        const std::int64_t ry2 = r.y + r.ly;
        if (x2 <= r.x || rx2 <= x1 || y2 <= r.y || ry2 <= y1) {
            rects[kept++] = r;
            for (const int side :
                 {rx2 == x1 ? 0 : -1, r.x == x2 ? 1 : -1, ry2 == y1 ? 2 : -1, r.y == y2 ? 3 : -1}) {
                if (side >= 0) {
                    scratch.touching[side].push_back(r);
                }
            }
            continue;
        }
        if (x1 > r.x) {
            scratch.pieces[0].push_back({r.x, r.y, x1 - r.x, r.ly});
        }
        if (x2 < rx2) {
            scratch.pieces[1].push_back({x2, r.y, rx2 - x2, r.ly});
        }
        if (y1 > r.y) {
            scratch.pieces[2].push_back({r.x, r.y, r.lx, y1 - r.y});
        }
        if (y2 < ry2) {
            scratch.pieces[3].push_back({r.x, y2, r.lx, ry2 - y2});
        }
    }
    rects.resize(kept);
    for (int side = 0; side < 4; ++side) {
        const std::vector<FreeRect>& pieces = scratch.pieces[side];
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            const FreeRect& p = pieces[i];
            bool inside = false;
            for (const FreeRect& k : scratch.touching[side]) {
                inside = inside || contains(k, p);
            }
            for (std::size_t j = 0; j < pieces.size() && !inside; ++j) {
                // Of two equal pieces the first is kept.
                inside = j != i && contains(pieces[j], p) && (j < i || !same(pieces[j], p));
            }
            if (!inside) {
                rects.push_back(p);
            }
        }
    }
}

void free_space(const Defect* defects, std::size_t count, std::int64_t length, std::int64_t width,
                std::vector<FreeRect>& rects, FreeScratch& scratch) {
    rects.clear();
    if (length <= 0 || width <= 0) {
        return;
    }
    rects.push_back({0, 0, length, width});
    for (std::size_t i = 0; i < count; ++i) {
        const Defect& d = defects[i];
        cut_free_space(rects, std::max<std::int64_t>(d.x1, 0), std::max<std::int64_t>(d.y1, 0),
                       std::min(d.x2, length), std::min(d.y2, width), scratch);
    }
}

void reduce_front(std::vector<Corner>& front) {
    std::sort(front.begin(), front.end(), [](const Corner& a, const Corner& b) {
        return a.lx != b.lx ? a.lx > b.lx : a.ly > b.ly;
    });
    std::size_t kept = 0;
    for (const Corner& c : front) {
        if (kept == 0 || c.ly > front[kept - 1].ly) {
            front[kept++] = c;
        }
    }
    front.resize(kept);
}

void fit_front(const std::vector<FreeRect>& rects, bool turned, std::vector<Corner>& front) {
    front.clear();
    for (const FreeRect& r : rects) {
        front.push_back({r.lx, r.ly});
        if (turned) {
            front.push_back({r.ly, r.lx});
        }
    }
    reduce_front(front);
}

bool front_holds(const Corner* front, std::size_t count, std::int64_t lx, std::int64_t ly) {
    // The corners with lx at least the item's are a prefix; its last one is the widest.
    const Corner* end =
        std::partition_point(front, front + count, [lx](const Corner& c) { return c.lx >= lx; });
    return end != front && (end - 1)->ly >= ly;
}
