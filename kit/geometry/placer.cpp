// The baseline placer (see placer.h). First fit over the objects in order is filled object
// by object: an item goes to the first object whose free space holds it when it comes,
// and an object's free space depends only on the items put on it before, so giving each
// object in turn the first remaining item (in the pass's order) that it holds, until it
// holds none, places every item where item-by-item first fit would. The objects are then
// read once, in order, and never held.
#include "geometry/placer.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr std::size_t none = static_cast<std::size_t>(-1);

// The pass's order: decreasing area, longer side, length, width, and from the fifth pass
// on decreasing area scaled by a factor in [0.75, 1.25) from a fixed stream per pass.
std::uint64_t mix(std::uint64_t z) {
    z += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::int64_t order_key(const Item& item, int pass, std::size_t index) {
    const std::int64_t area = item.length * item.width;
    switch (pass) {
    case 0:
        return area;
    case 1:
        return std::max(item.length, item.width);
    case 2:
        return item.length;
    case 3:
        return item.width;
    default:
        const std::uint64_t r = mix((static_cast<std::uint64_t>(pass) << 32) ^ index);
        return area * static_cast<std::int64_t>(768 + r % 512);
    }
}

void make_order(const std::vector<Item>& items, int pass, std::vector<std::uint32_t>& order) {
    std::vector<std::int64_t> key(items.size());
    order.resize(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        key[i] = order_key(items[i], pass, i);
        order[i] = static_cast<std::uint32_t>(i);
    }
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        if (key[a] != key[b]) {
            return key[a] > key[b];
        }
        const std::int64_t area_a = items[a].length * items[a].width;
        const std::int64_t area_b = items[b].length * items[b].width;
        return area_a != area_b ? area_a > area_b : a < b;
    });
}

// A node's sizes from its children's: the smallest of them (those above none other), by
// increasing lx; while there are too many, the two neighbours whose meeting point adds the
// least area are replaced by it. Every item below still lies above one of them.
void merge_node(PlacerPass& p, std::size_t node) {
    Corner all[2 * node_points];
    std::size_t n = 0;
    for (const std::size_t child : {2 * node, 2 * node + 1}) {
        for (std::size_t i = 0; i < p.counts[child]; ++i) {
            all[n++] = p.points[child * node_points + i];
        }
    }
    for (std::size_t i = 1; i < n; ++i) { // by lx, then ly: an insertion sort of a few
        const Corner c = all[i];
        std::size_t j = i;
        for (; j > 0 && (all[j - 1].lx > c.lx || (all[j - 1].lx == c.lx && all[j - 1].ly > c.ly));
             --j) {
            all[j] = all[j - 1];
        }
        all[j] = c;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (kept == 0 || all[i].ly < all[kept - 1].ly) {
            all[kept++] = all[i];
        }
    }
    while (kept > node_points) {
        std::size_t pick = 0;
        std::int64_t least = -1;
        for (std::size_t i = 0; i + 1 < kept; ++i) {
            const std::int64_t added = (all[i + 1].lx - all[i].lx) * (all[i].ly - all[i + 1].ly);
            if (least < 0 || added < least) {
                least = added;
                pick = i;
            }
        }
        all[pick].ly = all[pick + 1].ly;
        std::copy(all + pick + 2, all + kept, all + pick + 1);
        --kept;
    }
    std::copy(all, all + kept, p.points.begin() + static_cast<std::ptrdiff_t>(node * node_points));
    p.counts[node] = static_cast<std::uint8_t>(kept);
}

void build_tree(PlacerPass& p, const std::vector<Item>& items) {
    p.leaves = 1;
    while (p.leaves < p.order.size()) {
        p.leaves *= 2;
    }
    p.points.assign(2 * p.leaves * node_points, Corner{});
    p.counts.assign(2 * p.leaves, 0);
    for (std::size_t i = 0; i < p.order.size(); ++i) {
        const Item& item = items[p.order[i]];
        p.points[(p.leaves + i) * node_points] = {item.length, item.width};
        p.counts[p.leaves + i] = 1;
    }
    for (std::size_t node = p.leaves; node-- > 1;) {
        merge_node(p, node);
    }
}

void remove_leaf(PlacerPass& p, std::size_t at) {
    std::size_t node = p.leaves + at;
    p.counts[node] = 0;
    for (node /= 2; node >= 1; node /= 2) {
        merge_node(p, node);
    }
}

bool node_may_fit(const PlacerPass& p, std::size_t node, const std::vector<Corner>& front) {
    for (std::size_t i = 0; i < p.counts[node]; ++i) {
        const Corner& c = p.points[node * node_points + i];
        if (front_holds(front, c.lx, c.ly)) {
            return true;
        }
    }
    return false;
}

// The first place in the order whose item the free space holds, or `none`.
std::size_t first_fit(const PlacerPass& p, std::size_t node, const std::vector<Corner>& front) {
    if (!node_may_fit(p, node, front)) {
        return none;
    }
    if (node >= p.leaves) {
        return node - p.leaves; // a leaf's point is its item
    }
    const std::size_t left = first_fit(p, 2 * node, front);
    return left != none ? left : first_fit(p, 2 * node + 1, front);
}

// Where an item goes in an object: the free rectangle and orientation that score least,
// unturned first and the first rectangle of equals. The rules: best short side fit (the
// least left on the shorter side, then on the longer), bottom left (the lowest top edge,
// then the leftmost), best area fit (the least area left in the rectangle, then the least
// on the shorter side).
struct Score {
    std::int64_t first = 0;
    std::int64_t second = 0;
};

Score score(const FreeRect& r, std::int64_t lx, std::int64_t ly, int rule) {
    const std::int64_t a = r.lx - lx, b = r.ly - ly;
    switch (rule) {
    case 1:
        return {r.y + ly, r.x};
    case 2:
        return {r.lx * r.ly - lx * ly, std::min(a, b)};
    default:
        return {std::min(a, b), std::max(a, b)};
    }
}

struct Spot {
    FreeRect at{};
    Score least{-1, 0}; // first < 0: no rectangle holds the item
};

bool better(const Score& s, const Score& than) {
    return than.first < 0 || s.first < than.first ||
           (s.first == than.first && s.second < than.second);
}

Spot best_fit(const std::vector<FreeRect>& rects, const Item& item, bool rotation, int rule) {
    Spot best;
    for (const FreeRect& r : rects) {
        for (int turn = 0; turn < (rotation && item.length != item.width ? 2 : 1); ++turn) {
            const std::int64_t lx = turn == 0 ? item.length : item.width;
            const std::int64_t ly = turn == 0 ? item.width : item.length;
            if (r.lx < lx || r.ly < ly) {
                continue;
            }
            const Score s = score(r, lx, ly, rule);
            if (better(s, best.least)) {
                best = {{r.x, r.y, lx, ly}, s};
            }
        }
    }
    return best;
}

// The first places in the order whose items the free space holds, at most `limit`.
void fitting_places(const PlacerPass& p, std::size_t node, const std::vector<Corner>& front,
                    std::size_t limit, std::vector<std::size_t>& out) {
    if (out.size() >= limit || !node_may_fit(p, node, front)) {
        return;
    }
    if (node >= p.leaves) {
        out.push_back(node - p.leaves);
        return;
    }
    fitting_places(p, 2 * node, front, limit, out);
    fitting_places(p, 2 * node + 1, front, limit, out);
}

void restore_leaf(PlacerPass& p, std::size_t at, const Item& item) {
    std::size_t node = p.leaves + at;
    p.points[node * node_points] = {item.length, item.width};
    p.counts[node] = 1;
    for (node /= 2; node >= 1; node /= 2) {
        merge_node(p, node);
    }
}

constexpr int rules = 3;                        // rules that place the first item held
constexpr int chosen_rules = 2;                 // rules that choose among the first few held
constexpr int chosen_by[chosen_rules] = {0, 2}; // their scores
constexpr std::size_t candidates = 64;          // the few

// The next item's place in the order and its spot, or false when the free space holds
// none. A rule below `rules` takes the first item held; beyond, of the first `candidates`
// items held, the one whose spot scores least (by best short side fit, or by best area
// fit), the larger of equals, then the first. Choosing among a few fills an object with
// items of 5 % to 30 % of its area more tightly than the first item held does.
bool next_spot(Placer& placer, const PlacerPass& p, int rule, std::size_t& at, FreeRect& spot) {
    const std::vector<Item>& items = *placer.items;
    if (rule < rules) {
        at = first_fit(p, 1, placer.front);
        if (at == none) {
            return false;
        }
        spot = best_fit(placer.rects, items[p.order[at]], placer.rotation, rule).at;
        return true;
    }
    placer.choice.clear();
    fitting_places(p, 1, placer.front, candidates, placer.choice);
    Spot best;
    for (const std::size_t c : placer.choice) {
        const Spot s =
            best_fit(placer.rects, items[p.order[c]], placer.rotation, chosen_by[rule - rules]);
        if (better(s.least, best.least) ||
            (s.least.first == best.least.first && s.least.second == best.least.second &&
             s.at.lx * s.at.ly > best.at.lx * best.at.ly)) {
            best = s;
            at = c;
        }
    }
    spot = best.at;
    return !placer.choice.empty();
}

// Fills the object by one rule, again and again. The items put on it are taken out of the
// tree and appended to `placed`, with their places in the order in `taken`; returns their
// area.
std::int64_t fill_by(Placer& placer, PlacerPass& p, int rule, std::vector<PlacedRecord>& placed,
                     std::vector<std::size_t>& taken) {
    placer.rects = placer.initial;
    fit_front(placer.rects, placer.rotation, placer.front);
    std::int64_t area = 0;
    std::size_t at = 0;
    FreeRect spot;
    while (next_spot(placer, p, rule, at, spot)) {
        placed.push_back({p.order[at], placer.objects, spot.x, spot.y, spot.lx, spot.ly});
        taken.push_back(at);
        area += spot.lx * spot.ly;
        remove_leaf(p, at);
        cut_free_space(placer.rects, spot.x, spot.y, spot.x + spot.lx, spot.y + spot.ly,
                       placer.scratch);
        fit_front(placer.rects, placer.rotation, placer.front);
    }
    return area;
}

// Each rule of the pass is tried on the object, the items it took put back, and the rule
// that puts the most area on the object (the first of equals) is kept. The fullest object
// is not always the best start for the next ones (on a loose set it may leave out an item
// that the first-item rules alone place), so each order is also filled by those alone.
void fill_object(Placer& placer, PlacerPass& p) {
    int best_rule = 0;
    std::int64_t best_area = -1;
    for (int rule = 0; rule < rules + (p.choose ? chosen_rules : 0); ++rule) {
        placer.trial.clear();
        placer.taken.clear();
        const std::int64_t area = fill_by(placer, p, rule, placer.trial, placer.taken);
        for (const std::size_t at : placer.taken) {
            restore_leaf(p, at, (*placer.items)[p.order[at]]);
        }
        if (area > best_area) {
            best_area = area;
            best_rule = rule;
        }
        if (placer.taken.empty()) {
            return; // nothing fits: no rule places anything
        }
    }
    placer.taken.clear();
    p.area += fill_by(placer, p, best_rule, p.placed, placer.taken);
    ++p.objects_used;
}

void append_row(std::string& out, const char* type, std::int64_t id, std::int64_t bin,
                std::int64_t x, std::int64_t y, std::int64_t lx, std::int64_t ly) {
    out += type;
    for (const std::int64_t v : {id, std::int64_t{1}, bin, x, y, lx, ly}) {
        char digits[24];
        const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, v);
        out += ',';
        out.append(digits, r.ptr);
    }
    out += '\n';
}

} // namespace

void start_placer(Placer& placer, std::int64_t length, std::int64_t width,
                  const std::vector<Item>& items, bool rotation, int passes) {
    placer.length = length;
    placer.width = width;
    placer.rotation = rotation;
    placer.items = &items;
    placer.objects = 0;
    // Each order twice: by the first item held alone, then choosing among a few as well.
    placer.passes.assign(2 * static_cast<std::size_t>(std::max(passes, 1)), PlacerPass{});
    for (std::size_t k = 0; k < placer.passes.size(); k += 2) {
        PlacerPass& p = placer.passes[k];
        make_order(items, static_cast<int>(k / 2), p.order);
        build_tree(p, items);
        placer.passes[k + 1] = p;
        placer.passes[k + 1].choose = true;
    }
}

void place_next_object(Placer& placer, const Defect* defects, std::size_t count) {
    if (std::all_of(placer.passes.begin(), placer.passes.end(),
                    [](const PlacerPass& p) { return p.counts[1] == 0; })) {
        ++placer.objects; // every item is placed in every pass
        return;
    }
    free_space(defects, count, placer.length, placer.width, placer.initial, placer.scratch);
    for (PlacerPass& p : placer.passes) {
        if (p.counts[1] != 0) {
            fill_object(placer, p);
        }
    }
    ++placer.objects;
}

const PlacerPass& best_pass(const Placer& placer) {
    const PlacerPass* best = &placer.passes.front();
    for (const PlacerPass& p : placer.passes) {
        if (p.area > best->area || (p.area == best->area && p.objects_used < best->objects_used)) {
            best = &p;
        }
    }
    return *best;
}

PlacerFigures placer_figures(const Placer& placer) {
    const PlacerPass& p = best_pass(placer);
    PlacerFigures f;
    f.items_total = static_cast<std::int64_t>(placer.items->size());
    for (const Item& item : *placer.items) {
        f.item_area += item.length * item.width;
    }
    f.items_placed = static_cast<std::int64_t>(p.placed.size());
    f.placed_area = p.area;
    f.objects_total = placer.objects;
    f.objects_used = p.objects_used;
    return f;
}

void append_placement_csv(const Placer& placer, std::string& out) {
    out += "TYPE,ID,COPIES,BIN,X,Y,LX,LY\n";
    std::int64_t bin = -1;
    std::int64_t object = -1;
    for (const PlacedRecord& r : best_pass(placer).placed) {
        if (r.object != object) {
            object = r.object;
            ++bin;
            append_row(out, "BIN", object, bin, 0, 0, placer.length, placer.width);
        }
        append_row(out, "ITEM", r.item, bin, r.x, r.y, r.lx, r.ly);
    }
}

std::string place_instance(std::int64_t length, std::int64_t width, const std::vector<Item>& items,
                           const std::vector<Defect>& defects,
                           const std::vector<std::uint32_t>& sizes, bool rotation, int passes) {
    Placer placer;
    start_placer(placer, length, width, items, rotation, passes);
    const Defect* d = defects.data();
    for (const std::uint32_t size : sizes) {
        place_next_object(placer, d, size);
        d += size;
    }
    std::string out;
    append_placement_csv(placer, out);
    return out;
}
