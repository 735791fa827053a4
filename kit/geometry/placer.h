// The baseline placer: first fit over the objects in order, best fit within an object.
// Each object's free space is kept as its maximal rectangles clear of its defects and of
// the items placed on it; each object is filled by several rules of where an item goes
// and keeps the fullest fill; the items are taken in one order per pass (the first by
// decreasing area), each order filled once by three rules and once by five, and the fill
// that places the most area is kept. The result depends on the instance and the number
// of passes alone: no time, no threads, no randomness but a fixed stream per pass. Used
// by place, and by run as its builtin solver.
#pragma once

#include "geometry/free_space.h"
#include "records.h"

#include <cstdint>
#include <string>
#include <vector>

// An item as placed: [x, x + lx) x [y, y + ly) on `object` (both from 0).
struct PlacedRecord {
    std::uint32_t item = 0;
    std::uint32_t object = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t lx = 0;
    std::int64_t ly = 0;
};

// One item order and what it placed. The items not yet placed are indexed by their place
// in the order: a tree whose every node keeps at most `node_points` sizes below every
// item of its subtree (componentwise), so that the first item an object's free space
// holds is found without looking at the items it cannot hold.
struct PlacerPass {
    std::vector<std::uint32_t> order; // place in the order -> item
    std::size_t leaves = 0;           // a power of two at least the items
    std::vector<Corner> points;       // node_points per node; node 1 is the root
    std::vector<std::uint8_t> counts; // per node: its points in use
    std::vector<PlacedRecord> placed; // in object order
    std::int64_t area = 0;
    std::int64_t objects_used = 0;
    bool choose = false; // the rules that choose among the first few items held too
};

inline constexpr std::size_t node_points = 4;

struct Placer {
    std::int64_t length = 0;
    std::int64_t width = 0;
    bool rotation = false;
    const std::vector<Item>* items = nullptr;
    std::vector<PlacerPass> passes;
    std::uint32_t objects = 0; // objects seen so far
    // Scratch for one object.
    std::vector<FreeRect> initial;
    std::vector<FreeRect> rects;
    std::vector<Corner> front;
    FreeScratch scratch;
    std::vector<PlacedRecord> trial; // an object filled by one rule, then undone
    std::vector<std::size_t> taken;
    std::vector<std::size_t> choice; // places in the order of items the free space holds
};

// `items` must outlive the placer; `passes` is at least 1.
void start_placer(Placer& placer, std::int64_t length, std::int64_t width,
                  const std::vector<Item>& items, bool rotation, int passes);
// Places what it can on the instance's next object, with its defects, in every pass.
void place_next_object(Placer& placer, const Defect* defects, std::size_t count);
// The pass kept: the most area placed, then the fewest objects, then the first.
const PlacerPass& best_pass(const Placer& placer);

struct PlacerFigures {
    std::int64_t items_total = 0;
    std::int64_t items_placed = 0;
    std::int64_t item_area = 0;
    std::int64_t placed_area = 0;
    std::int64_t objects_total = 0;
    std::int64_t objects_used = 0;
    bool choose = false; // the rules that choose among the first few items held too
};
PlacerFigures placer_figures(const Placer& placer);

// The best pass as the placement CSV that check-solution reads (BIN and ITEM rows, no
// DEFECT rows), appended to `out`.
void append_placement_csv(const Placer& placer, std::string& out);

// The whole instance at once: `sizes` gives each object's number of defects, `defects` all
// of them one object after another. Returns the placement CSV.
std::string place_instance(std::int64_t length, std::int64_t width, const std::vector<Item>& items,
                           const std::vector<Defect>& defects,
                           const std::vector<std::uint32_t>& sizes, bool rotation, int passes);
