// Holding a placement against its instance, for check-solution and draw: the BIN, ITEM and
// DEFECT rows checked against the instance's items and objects, then each object, as the set
// reader yields it, checked by two sweeps for items outside it, on one another or on a defect.
#include "geometry/placement_check.h"

#include "defectgen.h"
#include "geometry/rect_union.h"
#include "read/set_problem.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <queue>
#include <unordered_map>

// ---- The set. Every call to the set reader is in this section, so that another reader
// is taken in here alone.

int walk_objects(SetReader& reader, const ObjectStep& step, std::int64_t& objects) {
    std::vector<Defect> defects; // one object's at a time, its capacity kept
    for (objects = 0; next_object(reader, defects); ++objects) {
        if (step) {
            if (const int status = step(objects, defects); status != 0) {
                return status;
            }
        }
    }
    return reader.problem.empty() ? 0 : report_set_problem(reader);
}

int enter_instance(const KitSet& set, std::int32_t number, SetReader& reader, InstanceHead& head) {
    if (!open_set_reader(reader, set)) {
        return 2;
    }
    for (std::int32_t k = 1; k <= number; ++k) {
        if (!next_instance(reader, head)) {
            return reader.problem.empty() ? report_no_instance(number, k - 1)
                                          : report_set_problem(reader);
        }
        std::int64_t passed = 0; // the objects of an instance before the one asked for
        if (k < number) {
            if (const int status = walk_objects(reader, nullptr, passed); status != 0) {
                return status;
            }
        }
    }
    return 0;
}

int open_instance(const SetOptions& options, std::int32_t number, KitSet& set, SetReader& reader,
                  InstanceHead& head) {
    return open_set(options, set) ? enter_instance(set, number, reader, head) : 2;
}

void close_instance(SetReader& reader) {
    close_set_reader(reader);
}

namespace {

std::string text(std::int64_t v) {
    return std::to_string(v);
}

std::string span(std::int64_t from, std::int64_t length) {
    return text(from) + " to " + text(from + length);
}

// In line order; stable, so that the problems of one line keep the order they were found in.
void sort_by_line(std::vector<PlacementProblem>& problems) {
    std::stable_sort(
        problems.begin(), problems.end(),
        [](const PlacementProblem& a, const PlacementProblem& b) { return a.line < b.line; });
}

// ---- The geometry of one object.

// Items that overlap each other: a sweep along x in order of the items' left edges. The
// active items (those the sweep line crosses) that passed are pairwise disjoint, so their
// y-ranges are disjoint too and an ordered map by lower edge finds an overlap at once.
void sweep_items(const std::vector<PlacedItem>& items, const std::vector<std::uint32_t>& order,
                 std::vector<ItemFinding>& findings) {
    struct Active {
        std::int64_t y2;
        std::uint32_t index;
    };
    std::map<std::int64_t, Active> active;             // by lower edge y
    using End = std::pair<std::int64_t, std::int64_t>; // right edge, lower edge
    std::priority_queue<End, std::vector<End>, std::greater<>> ends;
    for (const std::uint32_t i : order) {
        const PlacedItem& item = items[i];
        while (!ends.empty() && ends.top().first <= item.x) {
            active.erase(ends.top().second);
            ends.pop();
        }
        const std::int64_t y2 = item.y + item.ly;
        auto next = active.lower_bound(item.y);
        const Active* hit = nullptr;
        if (next != active.end() && next->first < y2) {
            hit = &next->second;
        } else if (next != active.begin() && std::prev(next)->second.y2 > item.y) {
            hit = &std::prev(next)->second;
        }
        if (hit != nullptr) {
            findings.push_back({item.row, FindingKind::overlaps_item, items[hit->index].row, 1});
            continue;
        }
        active.emplace(item.y, Active{y2, i});
        ends.emplace(item.x + item.lx, item.y);
    }
}

// Items on defects: one sweep along x over both, each new rectangle held against the
// other kind's active ones. Defects start before items at the same x, so each pair that
// overlaps is met exactly once.
void sweep_defects(const std::vector<PlacedItem>& items, const std::vector<std::uint32_t>& order,
                   const std::vector<Defect>& defects, std::vector<ItemFinding>& findings) {
    std::vector<std::uint32_t> by_x(defects.size());
    for (std::uint32_t d = 0; d < by_x.size(); ++d) {
        by_x[d] = d;
    }
    std::stable_sort(by_x.begin(), by_x.end(), [&](std::uint32_t a, std::uint32_t b) {
        return defects[a].x1 < defects[b].x1;
    });
    std::vector<std::int64_t> lowest(items.size(), -1);
    std::vector<std::int64_t> count(items.size(), 0);
    auto meet = [&](std::uint32_t i, std::uint32_t d) {
        if (lowest[i] < 0 || d < lowest[i]) {
            lowest[i] = d;
        }
        ++count[i];
    };
    std::vector<std::uint32_t> active_items;
    std::vector<std::uint32_t> active_defects;
    std::size_t next_item = 0;
    std::size_t next_defect = 0;
    while (next_item < order.size() || next_defect < by_x.size()) {
        const bool defect_first = next_defect < by_x.size() &&
                                  (next_item == order.size() ||
                                   defects[by_x[next_defect]].x1 <= items[order[next_item]].x);
        const std::int64_t x =
            defect_first ? defects[by_x[next_defect]].x1 : items[order[next_item]].x;
        std::erase_if(active_items, [&](std::uint32_t i) { return items[i].x + items[i].lx <= x; });
        std::erase_if(active_defects, [&](std::uint32_t d) { return defects[d].x2 <= x; });
        if (defect_first) {
            const std::uint32_t d = by_x[next_defect++];
            for (const std::uint32_t i : active_items) {
                if (items[i].y < defects[d].y2 && defects[d].y1 < items[i].y + items[i].ly) {
                    meet(i, d);
                }
            }
            active_defects.push_back(d);
        } else {
            const std::uint32_t i = order[next_item++];
            for (const std::uint32_t d : active_defects) {
                if (items[i].y < defects[d].y2 && defects[d].y1 < items[i].y + items[i].ly) {
                    meet(i, d);
                }
            }
            active_items.push_back(i);
        }
    }
    for (const std::uint32_t i : order) {
        if (count[i] > 0) {
            findings.push_back({items[i].row, FindingKind::overlaps_defect, lowest[i], count[i]});
        }
    }
}

// ---- The rows against the instance.

// What the steps of one check share: what they hold against what, and the indexes that the
// first steps build for the walk over the objects. The rows are put in object order because
// the objects come once, in order, and are not kept.
struct Check {
    Check(const InstanceHead& head, Placement& placement, bool allow_rotation, const KitSet& set,
          PlacementCheck& result)
        : head(head), placement(placement), allow_rotation(allow_rotation),
          length(set.params.object.length), width(set.params.object.width),
          defects_path(set.defects_path), result(result), out(result.violations) {}

    const InstanceHead& head;
    Placement& placement;
    const bool allow_rotation;
    const std::int64_t length;
    const std::int64_t width;
    const std::string& defects_path;
    PlacementCheck& result;
    std::vector<PlacementProblem>& out; // result.violations, in the order found

    std::unordered_map<std::int64_t, std::size_t> bin_row; // placement bin -> its BIN row
    std::vector<std::int64_t> object_bin;                  // object -> BIN row that is it
    std::vector<bool> bin_ok; // BIN row -> its bin is an object: the first row of both
    std::vector<bool> bad;    // ITEM row -> it breaks a rule (drawn red)
    std::vector<std::pair<std::int64_t, std::uint32_t>> on_object; // (object, ITEM row)
    std::vector<std::pair<std::int64_t, std::size_t>> runs;        // (object, DEFECT run)
};

// The walk's place in the rows by object, and the buffers kept from one object to the next.
struct ObjectWalk {
    std::size_t next_item = 0;
    std::size_t next_run = 0;
    UnionScratch scratch;
    std::vector<PlacedItem> items;
    std::vector<bool> items_bad;
    std::vector<ItemFinding> findings;
    std::vector<PlacementDefect> rows;
    std::vector<std::uint64_t> echoed; // defect -> line of its DEFECT row, or 0
};

// The item area that a placement of every item would cover.
void count_items(Check& c) {
    PlacementSummary& sum = c.result.summary;
    sum.items_total = static_cast<std::int64_t>(c.head.items.size());
    for (const Item& item : c.head.items) {
        sum.item_area_total += item.length * item.width;
    }
}

// The BIN rows: each placement bin once, each object once, at the objects' size.
void index_objects(Check& c) {
    const std::vector<PlacementBin>& bins = c.placement.bins;
    c.object_bin.assign(MAXMOD, -1);
    c.bin_ok.assign(bins.size(), false);
    for (std::size_t b = 0; b < bins.size(); ++b) {
        const PlacementBin& bin = bins[b];
        const std::string name = "bin " + text(bin.index) + ": ";
        const auto [slot, fresh] = c.bin_row.emplace(bin.index, b);
        if (!fresh) {
            c.out.push_back({bin.line, name + "a second BIN row for this bin (the first is line " +
                                           text(bins[slot->second].line) + ")"});
            continue;
        }
        if (bin.copies != 1) {
            c.out.push_back({bin.line, name + "COPIES " + text(bin.copies) +
                                           "; each object exists once, so COPIES must be 1"});
        }
        if (bin.lx != c.length || bin.ly != c.width) {
            c.out.push_back({bin.line, name + "size " + text(bin.lx) + " x " + text(bin.ly) +
                                           "; the objects are " + text(c.length) + " x " +
                                           text(c.width)});
        }
        if (bin.type < 0 || bin.type >= MAXMOD) {
            c.out.push_back({bin.line, name + "object " + text(bin.type) + " does not exist"});
            continue;
        }
        std::int64_t& owner = c.object_bin[static_cast<std::size_t>(bin.type)];
        if (owner >= 0) {
            const PlacementBin& first = bins[static_cast<std::size_t>(owner)];
            c.out.push_back({bin.line, name + "object " + text(bin.type) +
                                           " is used a second time (first by bin " +
                                           text(first.index) + " at line " + text(first.line) +
                                           "); each object exists once"});
            continue;
        }
        owner = static_cast<std::int64_t>(b);
        c.bin_ok[b] = true;
    }
}

// An ITEM row's size: the item's own, or turned by 90 degrees where rotation is allowed.
void check_size(Check& c, std::uint32_t r, const std::string& name) {
    const PlacementItem& it = c.placement.items[r];
    const Item& type = c.head.items[static_cast<std::size_t>(it.type)];
    if (it.lx == type.length && it.ly == type.width) {
        return;
    }
    if (it.lx == type.width && it.ly == type.length) {
        if (c.allow_rotation) {
            return;
        }
        c.out.push_back({it.line, name + ": placed as " + text(it.lx) + " x " + text(it.ly) +
                                      ", turned by 90 degrees; rotation is not allowed "
                                      "(--allow-rotation allows it)"});
    } else {
        c.out.push_back({it.line, name + ": placed as " + text(it.lx) + " x " + text(it.ly) +
                                      ", but it is " + text(type.length) + " x " +
                                      text(type.width)});
    }
    c.bad[r] = true;
}

// The ITEM rows: each names an item of the instance, once, at its size, on a bin that has a
// BIN row. Those on a bin that is an object are put on it, in object order.
void place_items(Check& c) {
    const auto n = static_cast<std::int64_t>(c.head.items.size());
    std::vector<std::uint64_t> placed_at(static_cast<std::size_t>(n), 0); // item -> its line
    c.bad.assign(c.placement.items.size(), false);
    for (std::uint32_t r = 0; r < c.placement.items.size(); ++r) {
        const PlacementItem& it = c.placement.items[r];
        const std::string name = "item " + text(it.type);
        if (it.type < 0 || it.type >= n) {
            c.out.push_back({it.line, name + " does not exist (the instance has " + text(n) +
                                          " items, 0 to " + text(n - 1) + ")"});
            continue;
        }
        std::uint64_t& first = placed_at[static_cast<std::size_t>(it.type)];
        if (first != 0) {
            c.out.push_back({it.line, name + " is placed a second time (first at line " +
                                          text(first) + "); each item exists once"});
            continue;
        }
        first = it.line;
        const auto slot = c.bin_row.find(it.bin);
        if (slot == c.bin_row.end()) {
            c.out.push_back({it.line, name + ": bin " + text(it.bin) + " has no BIN row"});
            continue;
        }
        check_size(c, r, name);
        if (c.bin_ok[slot->second]) { // else the BIN row's own problem is reported
            c.on_object.emplace_back(c.placement.bins[slot->second].type, r);
        }
    }
    std::stable_sort(c.on_object.begin(), c.on_object.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

// The runs of DEFECT rows, in object order, to be read again when their object comes.
void order_defect_runs(Check& c) {
    for (std::size_t k = 0; k < c.placement.defect_runs.size(); ++k) {
        const DefectRun& run = c.placement.defect_runs[k];
        const auto slot = c.bin_row.find(run.bin);
        if (slot == c.bin_row.end()) {
            for (std::uint64_t line = run.line; line < run.line + run.count; ++line) {
                c.out.push_back(
                    {line, "DEFECT row for bin " + text(run.bin) + ", which has no BIN row"});
            }
        } else if (c.bin_ok[slot->second]) {
            c.runs.emplace_back(c.placement.bins[slot->second].type, k);
        }
    }
    std::stable_sort(c.runs.begin(), c.runs.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

// ---- Each object in turn.

// The items on `object`, as rectangles; their area counts as placed.
void gather_items(Check& c, ObjectWalk& w, std::int64_t object) {
    PlacementSummary& sum = c.result.summary;
    w.items.clear();
    for (; w.next_item < c.on_object.size() && c.on_object[w.next_item].first == object;
         ++w.next_item) {
        const std::uint32_t r = c.on_object[w.next_item].second;
        const PlacementItem& it = c.placement.items[r];
        w.items.push_back({it.x, it.y, it.lx, it.ly, r});
        ++sum.items_placed;
        const Item& type = c.head.items[static_cast<std::size_t>(it.type)];
        sum.placed_area += type.length * type.width;
    }
}

// What the sweeps found on `object`, told as violations; the items concerned are bad.
void report_findings(Check& c, const ObjectWalk& w, std::int64_t object,
                     const std::vector<Defect>& defects) {
    for (const ItemFinding& f : w.findings) {
        const PlacementItem& it = c.placement.items[f.row];
        const std::string name = "item " + text(it.type);
        c.bad[f.row] = true;
        if (f.kind == FindingKind::outside) {
            c.out.push_back({it.line, name + " lies outside object " + text(object) +
                                          ": it covers x " + span(it.x, it.lx) + ", y " +
                                          span(it.y, it.ly) + " of " + text(c.length) + " x " +
                                          text(c.width)});
        } else if (f.kind == FindingKind::overlaps_item) {
            const PlacementItem& other = c.placement.items[static_cast<std::size_t>(f.other)];
            c.out.push_back({it.line, name + " overlaps item " + text(other.type) + " (line " +
                                          text(other.line) + ") on object " + text(object)});
        } else {
            const Defect& d = defects[static_cast<std::size_t>(f.other)];
            c.out.push_back(
                {it.line, name + " overlaps defect " + text(f.other) + " of object " +
                              text(object) + " (x " + text(d.x1) + " to " + text(d.x2) + ", y " +
                              text(d.y1) + " to " + text(d.y2) + ", line " +
                              text(static_cast<std::int64_t>(d.line)) + " of " + c.defects_path +
                              ")" +
                              (f.count > 1 ? " and " + text(f.count - 1) + " more defects"
                                           : std::string())});
        }
    }
}

// One DEFECT row of `object`: it names one of the object's defects, once, where it lies.
void compare_echo(Check& c, const PlacementDefect& row, std::int64_t object,
                  const std::vector<Defect>& defects, std::vector<std::uint64_t>& echoed) {
    const std::string name = "DEFECT " + text(row.id) + " of object " + text(object);
    if (row.id < 0 || row.id >= static_cast<std::int64_t>(defects.size())) {
        c.out.push_back({row.line, name + ": no such defect (the object has " +
                                       text(static_cast<std::int64_t>(defects.size())) + ")"});
        return;
    }
    const Defect& d = defects[static_cast<std::size_t>(row.id)];
    std::uint64_t& first = echoed[static_cast<std::size_t>(row.id)];
    if (first != 0) {
        c.out.push_back({row.line, name + ": a second row for this defect (the first is line " +
                                       text(static_cast<std::int64_t>(first)) + ")"});
        return;
    }
    first = row.line;
    if (row.x != d.x1 || row.y != d.y1 || row.lx != d.x2 - d.x1 || row.ly != d.y2 - d.y1) {
        c.out.push_back({row.line, name + ": at " + text(row.x) + "," + text(row.y) + " size " +
                                       text(row.lx) + " x " + text(row.ly) +
                                       ", but the defect is at " + text(d.x1) + "," + text(d.y1) +
                                       " size " + text(d.x2 - d.x1) + " x " + text(d.y2 - d.y1)});
    }
}

// The DEFECT rows of `object`, read again run by run. False when the placement cannot be
// read again (the message is printed).
bool compare_echoes(Check& c, ObjectWalk& w, std::int64_t object,
                    const std::vector<Defect>& defects) {
    w.echoed.assign(defects.size(), 0);
    for (; w.next_run < c.runs.size() && c.runs[w.next_run].first == object; ++w.next_run) {
        const DefectRun& run = c.placement.defect_runs[c.runs[w.next_run].second];
        if (!read_defect_run(c.placement, run, w.rows)) {
            return false;
        }
        for (const PlacementDefect& row : w.rows) {
            compare_echo(c, row, object, defects, w.echoed);
        }
    }
    return true;
}

// Hands the object as checked to the visitor, with the verdict on each of its items.
void show_object(const Check& c, ObjectWalk& w, std::int64_t object,
                 const std::vector<Defect>& defects, const ObjectVisitor& visit) {
    w.items_bad.clear();
    for (const PlacedItem& p : w.items) {
        w.items_bad.push_back(c.bad[p.row]);
    }
    const bool used = object < MAXMOD && c.object_bin[static_cast<std::size_t>(object)] >= 0;
    visit(ObjectView{object, used, &defects, &w.items, &w.items_bad});
}

// One object against its rows: its defect-free area, the sweeps over its items, the echoes
// of its defects. Returns 0, or 2 when the placement cannot be read again.
int compare_object(Check& c, ObjectWalk& w, std::int64_t object, const std::vector<Defect>& defects,
                   const ObjectVisitor& visit) {
    c.result.summary.free_area +=
        c.length * c.width - union_area(defects, c.length, c.width, w.scratch);
    gather_items(c, w, object);
    w.findings.clear();
    check_object(c.length, c.width, w.items, defects, w.findings);
    report_findings(c, w, object, defects);
    if (!compare_echoes(c, w, object, defects)) {
        return 2;
    }
    if (visit) {
        show_object(c, w, object, defects, visit);
    }
    return 0;
}

// Every object of the instance in file order; `objects` is how many it has.
int compare_objects(SetReader& reader, Check& c, const ObjectVisitor& visit,
                    std::int64_t& objects) {
    ObjectWalk walk;
    return walk_objects(
        reader,
        [&](std::int64_t object, const std::vector<Defect>& defects) {
            return compare_object(c, walk, object, defects, visit);
        },
        objects);
}

// ---- The verdict.

// Once the objects are counted: the bins whose object the instance does not have (their
// items lie on no object), the objects used, and every violation in line order.
void give_verdict(Check& c, std::int64_t objects) {
    PlacementSummary& sum = c.result.summary;
    sum.objects_total = objects;
    for (std::size_t b = 0; b < c.placement.bins.size(); ++b) {
        const PlacementBin& bin = c.placement.bins[b];
        if (!c.bin_ok[b]) {
            continue;
        }
        if (bin.type < objects) {
            ++sum.objects_used;
            continue;
        }
        const std::string known =
            objects == 0
                ? "the instance has no objects; without a defects file, --objects "
                  "gives their number"
                : "the instance has " + text(objects) + " objects, 0 to " + text(objects - 1);
        c.out.push_back({bin.line, "bin " + text(bin.index) + ": object " + text(bin.type) +
                                       " does not exist (" + known + ")"});
    }
    sort_by_line(c.out);
}

} // namespace

// ---- What the commands call.

void check_object(std::int64_t length, std::int64_t width, const std::vector<PlacedItem>& items,
                  const std::vector<Defect>& defects, std::vector<ItemFinding>& findings) {
    std::vector<std::uint32_t> order;
    order.reserve(items.size());
    for (std::uint32_t i = 0; i < items.size(); ++i) {
        const PlacedItem& item = items[i];
        if (item.x < 0 || item.y < 0 || item.x + item.lx > length || item.y + item.ly > width) {
            findings.push_back({item.row, FindingKind::outside, 0, 0});
        }
        // An empty or negative size (a foreign size, reported already) covers nothing.
        if (item.lx > 0 && item.ly > 0) {
            order.push_back(i);
        }
    }
    if (order.empty()) {
        return;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return items[a].x != items[b].x ? items[a].x < items[b].x : items[a].y < items[b].y;
    });
    sweep_items(items, order, findings);
    sweep_defects(items, order, defects, findings);
}

int check_placement(SetReader& reader, const InstanceHead& head, Placement& placement,
                    bool allow_rotation, const ObjectVisitor& visit, PlacementCheck& result) {
    result = PlacementCheck{};
    Check c(head, placement, allow_rotation, *reader.set, result);
    count_items(c);
    index_objects(c);
    place_items(c);
    order_defect_runs(c);
    std::int64_t objects = 0;
    if (const int status = compare_objects(reader, c, visit, objects); status != 0) {
        return status;
    }
    give_verdict(c, objects);
    return 0;
}

std::string percent(std::int64_t a, std::int64_t b) {
    if (b <= 0) {
        return "0.00";
    }
    // Hundredths of a percent, rounded half up, in integers so that every build agrees.
    const std::int64_t hundredths = (a * 20000 / b + 1) / 2;
    const std::int64_t frac = hundredths % 100;
    return text(hundredths / 100) + "." + (frac < 10 ? "0" : "") + text(frac);
}

std::vector<PlacementProblem> all_problems(const Placement& placement,
                                           const PlacementCheck& check) {
    std::vector<PlacementProblem> all = placement.problems;
    all.insert(all.end(), check.violations.begin(), check.violations.end());
    sort_by_line(all);
    return all;
}

std::string summary_text(const PlacementSummary& s) {
    return "feasible: " + text(s.items_placed) + " of " + text(s.items_total) +
           " items placed, on " + text(s.objects_used) + " of " + text(s.objects_total) +
           " objects\nplaced area " + text(s.placed_area) + ": " +
           percent(s.placed_area, s.item_area_total) + "% of the item area (" +
           text(s.item_area_total) + "), " + percent(s.placed_area, s.free_area) +
           "% of the defect-free area of the objects (" + text(s.free_area) + ")\n";
}
