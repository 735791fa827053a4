#include "geometry/placement_check.h"

#include "defectgen.h"
#include "geometry/rect_union.h"
#include "output/progress.h"
#include "read/set_reader.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <queue>
#include <unordered_map>

namespace {

std::string text(std::int64_t v) {
    return std::to_string(v);
}

std::string span(std::int64_t from, std::int64_t length) {
    return text(from) + " to " + text(from + length);
}

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

} // namespace

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

namespace {

bool later(const PlacementProblem& a, const PlacementProblem& b) {
    return a.line != b.line ? a.line < b.line : a.sequence < b.sequence;
}

} // namespace

bool keeps_violation(PlacementCheck& check, std::uint64_t line) {
    if (check.violations.size() < placement_max_violations) {
        return true;
    }
    // The heap's front is the last one kept; a violation on its line or after it is past it.
    if (line < check.violations.front().line) {
        return true;
    }
    ++check.violations_past;
    return false;
}

void keep_violation(PlacementCheck& check, std::uint64_t line, std::string message) {
    std::vector<PlacementProblem>& kept = check.violations;
    if (kept.size() == placement_max_violations) {
        std::pop_heap(kept.begin(), kept.end(), later);
        kept.pop_back();
        ++check.violations_past;
    }
    kept.push_back({line, std::move(message), check.sequence++});
    std::push_heap(kept.begin(), kept.end(), later);
}

namespace {

template <class Make> void note(PlacementRun& run, std::uint64_t line, const Make& make) {
    note_violation(run.result, line, make);
}

// ---- Indexing the placement's rows, before the first object.

// The bins: each placement bin once, each object once.
void index_bins(PlacementRun& run) {
    const Placement& placement = *run.placement;
    run.object_bin.assign(MAXMOD, -1);
    run.bin_ok.assign(placement.bins.size(), false);
    for (std::size_t b = 0; b < placement.bins.size(); ++b) {
        const PlacementBin& bin = placement.bins[b];
        const std::string name = "bin " + text(bin.index) + ": ";
        const auto [slot, fresh] = run.bin_row.emplace(bin.index, b);
        if (!fresh) {
            const std::uint64_t first = placement.bins[slot->second].line;
            note(run, bin.line, [&] {
                return name + "a second BIN row for this bin (the first is line " +
                       text(static_cast<std::int64_t>(first)) + ")";
            });
            continue;
        }
        if (bin.copies != 1) {
            note(run, bin.line, [&] {
                return name + "COPIES " + text(bin.copies) +
                       "; each object exists once, so COPIES must be 1";
            });
        }
        if (bin.lx != run.length || bin.ly != run.width) {
            note(run, bin.line, [&] {
                return name + "size " + text(bin.lx) + " x " + text(bin.ly) + "; the objects are " +
                       text(run.length) + " x " + text(run.width);
            });
        }
        if (bin.type < 0 || bin.type >= MAXMOD) {
            note(run, bin.line,
                 [&] { return name + "object " + text(bin.type) + " does not exist"; });
            continue;
        }
        std::int64_t& owner = run.object_bin[static_cast<std::size_t>(bin.type)];
        if (owner >= 0) {
            const PlacementBin& first = placement.bins[static_cast<std::size_t>(owner)];
            note(run, bin.line, [&] {
                return name + "object " + text(bin.type) + " is used a second time (first by bin " +
                       text(first.index) + " at line " + text(first.line) +
                       "); each object exists once";
            });
            continue;
        }
        owner = static_cast<std::int64_t>(b);
        run.bin_ok[b] = true;
    }
}

// An item row at a size that is not its type's, unless turned where rotation is allowed.
void check_item_size(PlacementRun& run, std::uint32_t r, const Item& type) {
    const PlacementItem& it = run.placement->items[r];
    const std::string name = "item " + text(it.type);
    if (it.lx == type.length && it.ly == type.width) {
        return;
    }
    if (it.lx == type.width && it.ly == type.length) {
        if (!run.allow_rotation) {
            note(run, it.line, [&] {
                return name + ": placed as " + text(it.lx) + " x " + text(it.ly) +
                       ", turned by 90 degrees; rotation is not allowed "
                       "(--allow-rotation allows it)";
            });
            run.bad[r] = true;
        }
        return;
    }
    note(run, it.line, [&] {
        return name + ": placed as " + text(it.lx) + " x " + text(it.ly) + ", but it is " +
               text(type.length) + " x " + text(type.width);
    });
    run.bad[r] = true;
}

// The items: each known, once, at its size, on a bin that is an object.
void index_items(PlacementRun& run) {
    const Placement& placement = *run.placement;
    const auto n = static_cast<std::int64_t>(run.head->items.size());
    std::vector<std::uint64_t> placed_at(static_cast<std::size_t>(n), 0);
    run.bad.assign(placement.items.size(), false);
    for (std::uint32_t r = 0; r < placement.items.size(); ++r) {
        const PlacementItem& it = placement.items[r];
        const std::string name = "item " + text(it.type);
        if (it.type < 0 || it.type >= n) {
            note(run, it.line, [&] {
                return name + " does not exist (the instance has " + text(n) + " items, 0 to " +
                       text(n - 1) + ")";
            });
            continue;
        }
        std::uint64_t& first = placed_at[static_cast<std::size_t>(it.type)];
        if (first != 0) {
            note(run, it.line, [&] {
                return name + " is placed a second time (first at line " + text(first) +
                       "); each item exists once";
            });
            continue;
        }
        first = it.line;
        const auto slot = run.bin_row.find(it.bin);
        if (slot == run.bin_row.end()) {
            note(run, it.line, [&] { return name + ": bin " + text(it.bin) + " has no BIN row"; });
            continue;
        }
        check_item_size(run, r, run.head->items[static_cast<std::size_t>(it.type)]);
        if (!run.bin_ok[slot->second]) {
            continue; // the BIN row's own problem is reported
        }
        run.on_object.emplace_back(placement.bins[slot->second].type, r);
    }
    std::stable_sort(run.on_object.begin(), run.on_object.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

// The DEFECT rows, run by run, in object order.
void index_defect_runs(PlacementRun& run) {
    const Placement& placement = *run.placement;
    for (std::size_t k = 0; k < placement.defect_runs.size(); ++k) {
        const DefectRun& defect_run = placement.defect_runs[k];
        const auto slot = run.bin_row.find(defect_run.bin);
        if (slot == run.bin_row.end()) {
            for (std::uint64_t line = defect_run.line; line < defect_run.line + defect_run.count;
                 ++line) {
                note(run, line, [&] {
                    return "DEFECT row for bin " + text(defect_run.bin) + ", which has no BIN row";
                });
            }
        } else if (run.bin_ok[slot->second]) {
            run.runs.emplace_back(placement.bins[slot->second].type, k);
        }
    }
    std::stable_sort(run.runs.begin(), run.runs.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

// ---- Each object in turn.

// The items the placement puts on the current object, counted into the summary.
void place_items(PlacementRun& run) {
    PlacementSummary& sum = run.result.summary;
    run.items.clear();
    for (; run.next_item < run.on_object.size() && run.on_object[run.next_item].first == run.object;
         ++run.next_item) {
        const std::uint32_t r = run.on_object[run.next_item].second;
        const PlacementItem& it = run.placement->items[r];
        run.items.push_back({it.x, it.y, it.lx, it.ly, r});
        ++sum.items_placed;
        const Item& type = run.head->items[static_cast<std::size_t>(it.type)];
        sum.placed_area += type.length * type.width;
    }
}

// The geometry of the current object: items outside it, on each other, on its defects.
void report_findings(PlacementRun& run, const std::vector<Defect>& defects) {
    std::vector<ItemFinding>& findings = run.findings;
    findings.clear();
    check_object(run.length, run.width, run.items, defects, findings);
    const std::string object = text(run.object);
    for (const ItemFinding& f : findings) {
        const PlacementItem& it = run.placement->items[f.row];
        const std::string name = "item " + text(it.type);
        run.bad[f.row] = true;
        std::string message;
        if (f.kind == FindingKind::outside) {
            message = name + " lies outside object " + object + ": it covers x " +
                      span(it.x, it.lx) + ", y " + span(it.y, it.ly) + " of " + text(run.length) +
                      " x " + text(run.width);
        } else if (f.kind == FindingKind::overlaps_item) {
            const PlacementItem& other = run.placement->items[static_cast<std::size_t>(f.other)];
            message = name + " overlaps item " + text(other.type) + " (line " + text(other.line) +
                      ") on object " + object;
        } else {
            const Defect& d = defects[static_cast<std::size_t>(f.other)];
            message = name + " overlaps defect " + text(f.other) + " of object " + object + " (x " +
                      text(d.x1) + " to " + text(d.x2) + ", y " + text(d.y1) + " to " + text(d.y2) +
                      ", line " + text(static_cast<std::int64_t>(d.line)) + " of " +
                      run.defects_path + ")" +
                      (f.count > 1 ? " and " + text(f.count - 1) + " more defects" : std::string());
        }
        note(run, it.line, [&] { return std::move(message); });
    }
}

// A DEFECT row against the defect it names.
void compare_defect_row(PlacementRun& run, const PlacementDefect& row,
                        const std::vector<Defect>& defects) {
    const std::string name = "DEFECT " + text(row.id) + " of object " + text(run.object);
    if (row.id < 0 || row.id >= static_cast<std::int64_t>(defects.size())) {
        note(run, row.line, [&] {
            return name + ": no such defect (the object has " +
                   text(static_cast<std::int64_t>(defects.size())) + ")";
        });
        return;
    }
    const Defect& d = defects[static_cast<std::size_t>(row.id)];
    std::uint64_t& first = run.echoed[static_cast<std::size_t>(row.id)];
    if (first != 0) {
        note(run, row.line, [&] {
            return name + ": a second row for this defect (the first is line " +
                   text(static_cast<std::int64_t>(first)) + ")";
        });
        return;
    }
    if (row.x != d.x1 || row.y != d.y1 || row.lx != d.x2 - d.x1 || row.ly != d.y2 - d.y1) {
        note(run, row.line, [&] {
            return name + ": at " + text(row.x) + "," + text(row.y) + " size " + text(row.lx) +
                   " x " + text(row.ly) + ", but the defect is at " + text(d.x1) + "," +
                   text(d.y1) + " size " + text(d.x2 - d.x1) + " x " + text(d.y2 - d.y1);
        });
    }
    first = row.line;
}

// The DEFECT rows of the current object, read again from the placement file run by run.
bool compare_defect_rows(PlacementRun& run, const std::vector<Defect>& defects) {
    run.echoed.assign(defects.size(), 0);
    for (; run.next_run < run.runs.size() && run.runs[run.next_run].first == run.object;
         ++run.next_run) {
        if (!read_defect_run(*run.placement,
                             run.placement->defect_runs[run.runs[run.next_run].second], run.rows)) {
            return false;
        }
        for (const PlacementDefect& row : run.rows) {
            compare_defect_row(run, row, defects);
        }
    }
    return true;
}

} // namespace

void start_placement_check(PlacementRun& run, const KitSet& set, const InstanceHead& head,
                           Placement& placement, bool allow_rotation) {
    run = PlacementRun{};
    run.placement = &placement;
    run.head = &head;
    run.defects_path = set.defects_path;
    run.length = set.params.object.length;
    run.width = set.params.object.width;
    run.allow_rotation = allow_rotation;
    PlacementSummary& sum = run.result.summary;
    sum.items_total = static_cast<std::int64_t>(head.items.size());
    for (const Item& item : head.items) {
        sum.item_area_total += item.length * item.width;
    }
    index_bins(run);
    index_items(run);
    index_defect_runs(run);
}

bool check_next_object(PlacementRun& run, const std::vector<Defect>& defects,
                       const ObjectVisitor& visit) {
    run.result.summary.free_area +=
        run.length * run.width - union_area(defects, run.length, run.width, run.scratch);
    place_items(run);
    report_findings(run, defects);
    if (!compare_defect_rows(run, defects)) {
        return false;
    }
    if (visit) {
        run.items_bad.clear();
        for (const PlacedItem& p : run.items) {
            run.items_bad.push_back(run.bad[p.row]);
        }
        const bool used =
            run.object < MAXMOD && run.object_bin[static_cast<std::size_t>(run.object)] >= 0;
        visit(ObjectView{run.object, used, &defects, &run.items, &run.items_bad});
    }
    ++run.object;
    return true;
}

void finish_placement_check(PlacementRun& run) {
    PlacementSummary& sum = run.result.summary;
    const std::int64_t objects = run.object;
    sum.objects_total = objects;
    // Bins whose object the instance does not have: their items are not on any object.
    for (std::size_t b = 0; b < run.placement->bins.size(); ++b) {
        const PlacementBin& bin = run.placement->bins[b];
        if (!run.bin_ok[b]) {
            continue;
        }
        if (bin.type >= objects) {
            const std::string known =
                objects == 0
                    ? "the instance has no objects; without a defects file, --objects "
                      "gives their number"
                    : "the instance has " + text(objects) + " objects, 0 to " + text(objects - 1);
            note(run, bin.line, [&] {
                return "bin " + text(bin.index) + ": object " + text(bin.type) +
                       " does not exist (" + known + ")";
            });
        } else {
            ++sum.objects_used;
        }
    }
    std::sort_heap(run.result.violations.begin(), run.result.violations.end(), later);
}

int read_instance(const SetOptions& options, std::int32_t number, const char* label, KitSet& set,
                  const std::function<bool(const InstanceHead&)>& on_head,
                  const std::function<bool(const std::vector<Defect>&)>& on_object) {
    SetReader reader;
    if (!open_set(options, set) || !open_set_reader(reader, set)) {
        return 2;
    }
    bool found = false;
    bool stopped = false;
    std::vector<Defect> defects;
    Progress progress;
    start_progress(progress, label, reader.bytes_total);
    read_set(reader, number, progress, [&](const ObjectBatch& batch) {
        if (batch.starts_instance) {
            found = true;
            if (!on_head(batch.head)) {
                stopped = true;
                return false;
            }
        }
        const Defect* d = batch.defects.data();
        for (const std::uint32_t size : batch.sizes) {
            defects.assign(d, d + size);
            d += size;
            if (!on_object(defects)) {
                stopped = true;
                return false;
            }
        }
        return true;
    });
    end_progress(progress);
    close_set_reader(reader);
    if (stopped) {
        return 2;
    }
    if (reader.failed) {
        return report_set_problem(reader);
    }
    return found ? 0 : report_no_instance(number, reader.items.blocks);
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
    std::stable_sort(
        all.begin(), all.end(),
        [](const PlacementProblem& a, const PlacementProblem& b) { return a.line < b.line; });
    if (all.size() > placement_max_violations) {
        all.resize(placement_max_violations);
    }
    return all;
}

std::uint64_t count_problems(const Placement& placement, const PlacementCheck& check) {
    return placement.problems.size() + check.violations.size() + check.violations_past;
}

std::string summary_text(const PlacementSummary& s) {
    return "feasible: " + text(s.items_placed) + " of " + text(s.items_total) +
           " items placed, on " + text(s.objects_used) + " of " + text(s.objects_total) +
           " objects\nplaced area " + text(s.placed_area) + ": " +
           percent(s.placed_area, s.item_area_total) + "% of the item area (" +
           text(s.item_area_total) + "), " + percent(s.placed_area, s.free_area) +
           "% of the defect-free area of the objects (" + text(s.free_area) + ")\n";
}
