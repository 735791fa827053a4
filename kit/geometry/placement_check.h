// Holding a placement against its instance: the rows of the placement file checked
// against the item types and objects, then each object as the set reader yields it, with
// its defects, checked for items outside it, items overlapping one another and items on a
// defect. Shared by check-solution and draw.
#pragma once

#include "placement/placement_reader.h"
#include "read/set_reader.h"

#include <cstdint>
#include <functional>
#include <vector>

// An item as placed on one object: the rectangle [x, x + lx) x [y, y + ly), and its row
// in Placement::items.
struct PlacedItem {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t lx = 0;
    std::int64_t ly = 0;
    std::uint32_t row = 0;
};

enum class FindingKind { outside, overlaps_item, overlaps_defect };

// What the geometry of one object shows about one item. For overlaps_item, `other` is the
// row of an item placed before it in the sweep; for overlaps_defect, the lowest index of
// the defects it overlaps and `count` how many it overlaps.
struct ItemFinding {
    std::uint32_t row = 0;
    FindingKind kind = FindingKind::outside;
    std::int64_t other = 0;
    std::int64_t count = 0;
};

// Checks the items of one object of length x width with its defects. Rectangles are
// half-open, so touching edges never overlap. Each item is reported at most once per
// kind; an item found overlapping another is left out of the further item-item sweep, so
// the items not reported never overlap one another. Sweeps along x: items against an
// active set ordered by y, items and defects against the other's active set.
void check_object(std::int64_t length, std::int64_t width, const std::vector<PlacedItem>& items,
                  const std::vector<Defect>& defects, std::vector<ItemFinding>& findings);

// The figures of the summary; the areas are exact integers.
struct PlacementSummary {
    std::int64_t items_total = 0;
    std::int64_t items_placed = 0;
    std::int64_t item_area_total = 0;
    std::int64_t placed_area = 0;
    std::int64_t free_area = 0; // defect-free area of all the instance's objects
    std::int64_t objects_total = 0;
    std::int64_t objects_used = 0;
};

// An object as the check saw it, handed to a visitor: its defects and the items on it
// (`bad[i]` when items[i] breaks any rule). `used` when a bin of the placement is it.
struct ObjectView {
    std::int64_t index = 0;
    bool used = false;
    const std::vector<Defect>* defects = nullptr;
    const std::vector<PlacedItem>* items = nullptr;
    const std::vector<bool>* bad = nullptr;
};
using ObjectVisitor = std::function<void(const ObjectView&)>;

struct PlacementCheck {
    PlacementSummary summary;
    std::vector<PlacementProblem> violations; // in line order
};

// Streams the objects of the instance `head` (the reader stands just after it) and checks
// the placement against them, calling `visit` (when set) for every object in order.
// Returns 0 when the check ran (violations may have been found), 1 on a problem in the
// set's files (printed, with the hint to run check), 2 when the placement cannot be read
// again.
int check_placement(SetReader& reader, const InstanceHead& head, Placement& placement,
                    bool allow_rotation, const ObjectVisitor& visit, PlacementCheck& result);

// Problems from reading the placement and violations from checking it, both in line order.
std::vector<PlacementProblem> all_problems(const Placement& placement, const PlacementCheck& check);

// The summary of a feasible placement, the lines check-solution prints.
std::string summary_text(const PlacementSummary& summary);

// a / b as a percentage with two decimals, rounded half up ("0.00" when b is 0).
std::string percent(std::int64_t a, std::int64_t b);

// ---- The set, read for a placement. These make every call to the set reader.

// Opens the set and reads up to instance `number` (from 1): the reader then stands at its
// first object. Returns 0, or the exit status after printing the problem: 2 when the set
// cannot be opened or read or has no such instance, 1 on a problem in its files.
int open_instance(const SetOptions& options, std::int32_t number, KitSet& set, SetReader& reader,
                  InstanceHead& head);
// As open_instance, for a set already named (`set` outlives the reader).
int enter_instance(const KitSet& set, std::int32_t number, SetReader& reader, InstanceHead& head);
// Closes the set's files, whether the instance was opened or not.
void close_instance(SetReader& reader);

// Called with each object of the instance in turn: 0 to go on, else the status that ends
// the walk.
using ObjectStep = std::function<int(std::int64_t object, const std::vector<Defect>& defects)>;

// Reads the objects left in the instance, calling `step` (when set) for each; `objects` is
// how many were read. Returns 0, the status that ended the walk, or the exit status after
// printing a problem in the set's files (1, or 2 when a file could not be read).
int walk_objects(SetReader& reader, const ObjectStep& step, std::int64_t& objects);
