// bound and the baseline placer as functions: tiny instances whose optimum is known by
// hand, random instances of at most 7 items against an exhaustive search of every
// placement, and every placement of a few hundred random sets held by check-solution's
// own checking code.
#include "geometry/bounds.h"
#include "geometry/placement_check.h"
#include "geometry/placer.h"
#include "set_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>
#include <vector>

namespace {

struct Instance {
    std::int64_t length = 0, width = 0;
    std::vector<Item> items;
    std::vector<std::vector<Defect>> objects;
};

std::vector<Defect> flat(const Instance& in, std::vector<std::uint32_t>& sizes) {
    std::vector<Defect> all;
    for (const std::vector<Defect>& o : in.objects) {
        all.insert(all.end(), o.begin(), o.end());
        sizes.push_back(static_cast<std::uint32_t>(o.size()));
    }
    return all;
}

InstanceBounds bounds_of(const Instance& in, bool rotation) {
    std::vector<std::uint32_t> sizes;
    const std::vector<Defect> all = flat(in, sizes);
    return instance_bounds(in.length, in.width, in.items, all, sizes, rotation);
}

// The placer's placement held by check-solution's code: its problems, one a line, or the
// placed area when there are none.
std::string placed(const Instance& in, bool rotation, int passes, const std::string& folder) {
    std::vector<std::uint32_t> sizes;
    const std::vector<Defect> all = flat(in, sizes);
    write_file(folder + "/p.csv",
               place_instance(in.length, in.width, in.items, all, sizes, rotation, passes));
    Placement placement;
    EXPECT_TRUE(read_placement(folder + "/p.csv", in.items.size(), placement));
    KitSet set;
    set.params.object.length = in.length;
    set.params.object.width = in.width;
    InstanceHead head{1, in.items};
    PlacementRun run;
    start_placement_check(run, set, head, placement, rotation);
    for (const std::vector<Defect>& o : in.objects) {
        check_next_object(run, o, {});
    }
    finish_placement_check(run);
    std::string problems;
    for (const PlacementProblem& p : all_problems(placement, run.result)) {
        problems += std::to_string(p.line) + ": " + p.message + "\n";
    }
    close_placement(placement);
    return problems.empty() ? std::to_string(run.result.summary.placed_area) : problems;
}

Item item(std::int64_t l, std::int64_t w) {
    return {l, w, l * w, 0};
}

struct BoundsPlacer : ::testing::Test {
    std::string folder = make_folder();
    ~BoundsPlacer() override { remove_folder(folder); }
};

TEST_F(BoundsPlacer, TinyInstancesWithKnownOptimumAndBounds) {
    struct Case {
        const char* what;
        Instance in;
        bool rotation;
        std::vector<std::int64_t> named; // item, defect-free, fitting, capacity
        std::int64_t bin_packing;
        std::int64_t optimum;
    };
    std::vector<Case> cases = {
        {"a 4 x 2 item fits only in the middle gap between two columns of defects",
         {10, 2, {item(4, 2), item(3, 2)}, {{{3, 0, 4, 2, 0}, {8, 0, 9, 2, 0}}}},
         false,
         {14, 16, 14, 14},
         1,
         14},
        {"rotation makes the difference", {5, 2, {item(2, 5)}, {{}}}, false, {10, 10, 0, 0}, -1, 0},
        {"rotation makes the difference, allowed",
         {5, 2, {item(2, 5)}, {{}}},
         true,
         {10, 10, 10, 10},
         1,
         10},
        {"overlapping defects leave no room",
         {4, 4, {item(1, 1)}, {{{0, 0, 4, 3, 0}, {0, 2, 4, 4, 0}}}},
         false,
         {1, 0, 0, 0},
         -1,
         0},
        {"defects over whole rows leave strips of width 1",
         {4, 4, {item(2, 2), item(4, 1)}, {{{0, 1, 4, 2, 0}, {0, 3, 4, 4, 0}}}},
         false,
         {8, 8, 4, 4},
         -1,
         4},
        {"three 2 x 2 items on a 3 x 3 object: subset sums of 4 reach 8 at most",
         {3, 3, {item(2, 2), item(2, 2), item(2, 2)}, {{}}},
         false,
         {12, 9, 12, 8},
         -1,
         4},
        {"an item longer than the object; a defect of no width across the object cuts it, one "
         "on its edge does not",
         {6, 3, {item(7, 1), item(6, 3), item(6, 2)}, {{{0, 0, 0, 3, 0}, {0, 1, 6, 1, 0}}, {}}},
         false,
         {37, 36, 30, 30},
         -1,
         30},
        {"the first item held in every order leaves 51; choosing among the items held, 66",
         {10, 9, {item(4, 9), item(9, 5), item(6, 5), item(1, 6)}, {{}}},
         false,
         {117, 90, 117, 87},
         -1,
         66},
        {"bin packing: the largest capacities first",
         {4, 4, {item(4, 4), item(2, 4)}, {{{0, 0, 1, 1, 0}}, {}, {}}},
         false,
         {24, 47, 24, 40},
         2,
         24},
    };
    // Beyond the work allowed for maximal rectangles (6000^2 > 2^25), an item not seen to fit
    // counts as fitting and the object's capacity is its free area: still bounds.
    Case heavy{"beyond the work allowed",
               {100, 100, {item(60, 10)}, {{}}},
               false,
               {600, 9900, 600, 9900},
               1,
               0};
    heavy.in.objects[0].assign(6000, Defect{50, 0, 51, 100, 0});
    cases.push_back(heavy);
    for (const Case& c : cases) {
        const InstanceBounds b = bounds_of(c.in, c.rotation);
        std::vector<std::int64_t> named;
        for (const NamedBound& n : b.named) {
            named.push_back(n.value);
        }
        EXPECT_EQ(named, c.named) << c.what;
        EXPECT_EQ(b.bin_packing_objects, c.bin_packing) << c.what;
        EXPECT_EQ(placed(c.in, c.rotation, 4, folder), std::to_string(c.optimum)) << c.what;
    }
}

// The exhaustive search: every item skipped or put at every cell in both orientations on
// objects of at most 64 cells, the occupied cells as bits.
struct Search {
    const Instance* in = nullptr;
    bool rotation = false;
    std::vector<std::uint64_t> used;        // per object
    std::vector<std::vector<Defect>> lines; // per object: its defects of no length or width
    std::vector<std::int64_t> rest;         // item area from item i on
    std::int64_t best = 0;
};

std::uint64_t cells(const Instance& in, std::int64_t x, std::int64_t y, std::int64_t lx,
                    std::int64_t ly) {
    std::uint64_t bits = 0;
    for (std::int64_t i = x; i < x + lx; ++i) {
        for (std::int64_t j = y; j < y + ly; ++j) {
            bits |= std::uint64_t{1} << (j * in.length + i);
        }
    }
    return bits;
}

// A line meets an item when its closed segment meets the item's open inside.
bool crosses(const std::vector<Defect>& lines, std::int64_t x, std::int64_t y, std::int64_t lx,
             std::int64_t ly) {
    for (const Defect& d : lines) {
        if (d.x1 < x + lx && x < d.x2 && d.y1 < y + ly && y < d.y2) {
            return true;
        }
    }
    return false;
}

void search(Search& s, std::size_t i, std::int64_t area) {
    s.best = std::max(s.best, area);
    std::int64_t free_cells = 0;
    for (const std::uint64_t used : s.used) {
        free_cells += s.in->length * s.in->width - std::popcount(used);
    }
    if (i == s.in->items.size() || area + std::min(s.rest[i], free_cells) <= s.best) {
        return;
    }
    const Item& it = s.in->items[i];
    for (int turn = 0; turn < (s.rotation ? 2 : 1); ++turn) {
        const std::int64_t lx = turn == 0 ? it.length : it.width;
        const std::int64_t ly = turn == 0 ? it.width : it.length;
        for (std::size_t o = 0; o < s.used.size(); ++o) {
            std::uint64_t& used = s.used[o];
            for (std::int64_t x = 0; x + lx <= s.in->length; ++x) {
                for (std::int64_t y = 0; y + ly <= s.in->width; ++y) {
                    const std::uint64_t bits = cells(*s.in, x, y, lx, ly);
                    if ((used & bits) == 0 && !crosses(s.lines[o], x, y, lx, ly)) {
                        used |= bits;
                        search(s, i + 1, area + it.area);
                        used &= ~bits;
                    }
                }
            }
        }
    }
    search(s, i + 1, area);
}

std::int64_t optimum(Instance in, bool rotation) {
    std::sort(in.items.begin(), in.items.end(),
              [](const Item& a, const Item& b) { return a.area > b.area; });
    Search s{&in, rotation, {}, {}, std::vector<std::int64_t>(in.items.size() + 1, 0), 0};
    for (const std::vector<Defect>& o : in.objects) {
        std::uint64_t bits = 0;
        s.lines.emplace_back();
        for (const Defect& d : o) {
            bits |= cells(in, d.x1, d.y1, d.x2 - d.x1, d.y2 - d.y1);
            if (d.x1 == d.x2 || d.y1 == d.y2) {
                s.lines.back().push_back(d);
            }
        }
        s.used.push_back(bits);
    }
    for (std::size_t i = in.items.size(); i-- > 0;) {
        s.rest[i] = s.rest[i + 1] + in.items[i].area;
    }
    search(s, 0, 0);
    return s.best;
}

// Random instances: tiny or elongated objects, defects that overlap or cover whole rows
// and columns, items longer than the object.
Instance random_instance(std::mt19937_64& random, std::int64_t max_side, std::int64_t max_cells,
                         std::int64_t max_objects, std::size_t max_items) {
    const auto pick = [&](std::int64_t from, std::int64_t to) {
        return from +
               static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(to - from + 1));
    };
    Instance in;
    in.length = pick(1, max_side);
    in.width = pick(1, std::min(max_side, max_cells / in.length));
    const std::int64_t objects = pick(1, max_objects);
    for (std::int64_t o = 0; o < objects; ++o) {
        std::vector<Defect> defects;
        for (std::int64_t d = pick(0, 4); d > 0; --d) {
            const std::int64_t x = pick(0, in.length - 1), y = pick(0, in.width - 1);
            const bool row = pick(0, 5) == 0, column = pick(0, 5) == 0;
            defects.push_back({row ? 0 : x, column ? 0 : y, row ? in.length : pick(x, in.length),
                               column ? in.width : pick(y, in.width), 0});
        }
        in.objects.push_back(defects);
    }
    for (std::size_t i = pick(1, static_cast<std::int64_t>(max_items)); i > 0; --i) {
        in.items.push_back(item(pick(1, in.length + 1), pick(1, in.width + 1)));
    }
    return in;
}

TEST_F(BoundsPlacer, BoundAtLeastAndPlacementAtMostTheExhaustiveOptimum) {
    std::mt19937_64 random(21);
    for (int round = 0; round < 120; ++round) {
        const Instance in = random_instance(random, 8, 36, 2, 7);
        const bool rotation = round % 2 == 1;
        const std::int64_t best = optimum(in, rotation);
        const std::string place = placed(in, rotation, 1 + round % 3, folder);
        const InstanceBounds b = bounds_of(in, rotation);
        ASSERT_GE(b.bound, best) << "round " << round;
        ASSERT_LE(std::stoll(place), best) << "round " << round << ": " << place;
    }
}

TEST_F(BoundsPlacer, EveryPlacementOfRandomSetsIsFeasibleAndWithinItsBound) {
    std::mt19937_64 random(2021);
    for (int round = 0; round < 300; ++round) {
        Instance in = random_instance(random, round % 3 == 0 ? 60 : 30, 3600, 4, 40);
        if (round % 5 == 0) {
            in.width = 1 + round % 4; // elongated: defects may now lie off it; clip them
            for (std::vector<Defect>& o : in.objects) {
                for (Defect& d : o) {
                    d.y1 = std::min(d.y1, in.width);
                    d.y2 = std::min(d.y2, in.width);
                }
            }
        }
        const bool rotation = round % 2 == 0;
        const std::string place = placed(in, rotation, 1 + round % 4, folder);
        ASSERT_EQ(place.find(':'), std::string::npos) << "round " << round << ":\n" << place;
        ASSERT_LE(std::stoll(place), bounds_of(in, rotation).bound) << "round " << round;
    }
}

} // namespace
