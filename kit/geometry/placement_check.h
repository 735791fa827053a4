// Holding a placement against its instance: the rows of the placement file checked
// against the item types and objects, then each object as the set reader yields it, with
// its defects, checked for items outside it, items overlapping one another and items on a
// defect. Shared by check-solution and draw.
#pragma once

#include "geometry/rect_union.h"
#include "placement/placement_reader.h"
#include "read/open_set.h"
#include "records.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
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

// Violations remembered at most: the first ones by line; those past them are counted only,
// so that a hostile placement of millions of faulty rows costs no more memory than a few.
inline constexpr std::size_t placement_max_violations = 1000;

struct PlacementCheck {
    PlacementSummary summary;
    // The first placement_max_violations by line: a heap by (line, sequence) while the check
    // runs, in line order after finish_placement_check.
    std::vector<PlacementProblem> violations;
    std::uint64_t violations_past = 0; // found beyond those, counted only
    std::uint64_t sequence = 0;        // violations noted so far, for ties of one line
};

// True when a violation at `line` is among the first by line so far; false counts it.
bool keeps_violation(PlacementCheck& check, std::uint64_t line);
// Keeps a violation that keeps_violation let in, dropping the last one by line if needed.
void keep_violation(PlacementCheck& check, std::uint64_t line, std::string message);
// Notes a violation; the message is made only when it is kept.
template <class Make> void note_violation(PlacementCheck& check, std::uint64_t line, Make&& make) {
    if (keeps_violation(check, line)) {
        keep_violation(check, line, make());
    }
}

// A placement being held against its instance, object by object: the rows indexed once,
// then each object's items placed and checked, then the verdict.
struct PlacementRun {
    Placement* placement = nullptr;
    const InstanceHead* head = nullptr;
    std::string defects_path;
    std::int64_t length = 0; // the objects
    std::int64_t width = 0;
    bool allow_rotation = false;
    PlacementCheck result;
    std::unordered_map<std::int64_t, std::size_t> bin_row; // placement bin -> its BIN row
    std::vector<std::int64_t> object_bin;                  // object -> BIN row that is it
    std::vector<bool> bin_ok;
    std::vector<bool> bad;                                         // per item row: it breaks a rule
    std::vector<std::pair<std::int64_t, std::uint32_t>> on_object; // (object, item row)
    std::vector<std::pair<std::int64_t, std::size_t>> runs;        // (object, DEFECT run)
    std::int64_t object = 0;                                       // the next object
    std::size_t next_item = 0;
    std::size_t next_run = 0;
    // Scratch for one object.
    UnionScratch scratch;
    std::vector<PlacedItem> items;
    std::vector<bool> items_bad;
    std::vector<ItemFinding> findings;
    std::vector<PlacementDefect> rows;
    std::vector<std::uint64_t> echoed;
};

// Indexes the placement's rows against the instance `head` (both must outlive the run).
void start_placement_check(PlacementRun& run, const KitSet& set, const InstanceHead& head,
                           Placement& placement, bool allow_rotation);
// Checks the instance's next object, calling `visit` (when set) with what it saw. False
// when the placement file cannot be read again (printed; exit 2).
bool check_next_object(PlacementRun& run, const std::vector<Defect>& defects,
                       const ObjectVisitor& visit);
// After the last object: the bins on objects the instance lacks, and the violations in
// line order, in run.result.
void finish_placement_check(PlacementRun& run);

// Problems from reading the placement and violations from checking it, in line order: the
// first placement_max_violations of them.
std::vector<PlacementProblem> all_problems(const Placement& placement, const PlacementCheck& check);
// How many there are in all, those counted only included.
std::uint64_t count_problems(const Placement& placement, const PlacementCheck& check);

// The summary of a feasible placement, the lines check-solution prints.
std::string summary_text(const PlacementSummary& summary);

// a / b as a percentage with two decimals, rounded half up ("0.00" when b is 0).
std::string percent(std::int64_t a, std::int64_t b);

// Reads instance `number` (from 1) of the set: `on_head` once with its items, then
// `on_object` with each object's defects in order; either returns false to stop (after
// printing why; exit 2). Returns 0, or the exit status after printing the problem: 2 when
// the set cannot be opened or has no such instance, 1 on a problem in its files. Progress
// on a terminal under `label`.
int read_instance(const SetOptions& options, std::int32_t number, const char* label, KitSet& set,
                  const std::function<bool(const InstanceHead&)>& on_head,
                  const std::function<bool(const std::vector<Defect>&)>& on_object);
