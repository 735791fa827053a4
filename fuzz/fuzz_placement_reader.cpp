// libFuzzer entry for the placement reader. The input's first byte holds the options
// (bit 0: rotation allowed); the rest is a placement file, read from a memory file and
// held against the README example's instance (5 item types, 2 objects of 100 x 100 with
// 1 and 3 defects), as check-solution holds it. The reader must keep its bounds, every
// run of DEFECT rows it notes must read again, and the sweeps must flag every item that
// lies outside its object, overlaps another item or overlaps a defect, as a test of all
// pairs finds them. A violated property traps, so libFuzzer keeps the input as a crash.

#include "fuzz_support.h"
#include "geometry/placement_check.h"
#include "placement/placement_reader.h"
#include "read/set_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>

namespace {

// The files defectgen writes for the README example's answers.
constexpr char example_items[] = "13.000000\t71.000000\t923.000000\n"
                                 "24.000000\t34.000000\t816.000000\n"
                                 "35.000000\t28.000000\t980.000000\n"
                                 "9.000000\t33.000000\t297.000000\n"
                                 "24.000000\t17.000000\t408.000000\n"
                                 "\n";
constexpr char example_defects[] = "instance: 1\n"
                                   "\n"
                                   "58.000000\t32.000000\t68.000000\t42.000000\n"
                                   "\n"
                                   "9.000000\t58.000000\t14.000000\t62.000000\n"
                                   "1.000000\t23.000000\t21.000000\t26.000000\n"
                                   "16.000000\t15.000000\t21.000000\t19.000000\n"
                                   "\n"
                                   "\n";
constexpr std::int64_t side = 100;

bool overlap(std::int64_t ax1, std::int64_t ay1, std::int64_t ax2, std::int64_t ay2,
             std::int64_t bx1, std::int64_t by1, std::int64_t bx2, std::int64_t by2) {
    return ax1 < bx2 && bx1 < ax2 && ay1 < by2 && by1 < ay2;
}

// Every item that breaks a rule of the geometry is marked bad (other rules may mark more).
void require_flagged(const ObjectView& view) {
    const std::vector<PlacedItem>& items = *view.items;
    const std::vector<Defect>& defects = *view.defects;
    const std::vector<bool>& bad = *view.bad;
    require(bad.size() == items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const PlacedItem& a = items[i];
        if (a.lx <= 0 || a.ly <= 0) {
            continue; // a foreign size, reported by the rows' own check
        }
        bool broken = a.x < 0 || a.y < 0 || a.x + a.lx > side || a.y + a.ly > side;
        for (const Defect& d : defects) {
            broken = broken || overlap(a.x, a.y, a.x + a.lx, a.y + a.ly, d.x1, d.y1, d.x2, d.y2);
        }
        for (std::size_t j = 0; j < items.size() && !broken; ++j) {
            const PlacedItem& b = items[j];
            if (j != i && b.lx > 0 && b.ly > 0 &&
                overlap(a.x, a.y, a.x + a.lx, a.y + a.ly, b.x, b.y, b.x + b.lx, b.y + b.ly)) {
                broken = !bad[j]; // one of the two is flagged at least
            }
        }
        require(!broken || bad[i]);
    }
}

void require_ordered(const std::vector<PlacementProblem>& problems) {
    for (std::size_t i = 1; i < problems.size(); ++i) {
        require(problems[i - 1].line <= problems[i].line);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool allow_rotation = (data[0] & 1) != 0;
    const int items_fd = memory_file(example_items, sizeof example_items - 1);
    const int defects_fd = memory_file(example_defects, sizeof example_defects - 1);
    const int solution_fd = memory_file(reinterpret_cast<const char*>(data + 1), size - 1);

    KitSet set;
    set.params.object = Rectangle{side * side, side, side};
    set.items_path = fd_path(items_fd);
    set.defects_path = fd_path(defects_fd);
    // The instance as the set reader hands it out: its items, then its two objects.
    SetReader reader;
    require(open_set_reader(reader, set));
    InstanceHead head;
    std::vector<std::vector<Defect>> objects_read;
    Progress progress;
    read_set(reader, 1, progress, [&](const ObjectBatch& batch) {
        if (batch.starts_instance) {
            head = batch.head;
        }
        const Defect* d = batch.defects.data();
        for (const std::uint32_t n : batch.sizes) {
            objects_read.emplace_back(d, d + n);
            d += n;
        }
        return true;
    });
    close_set_reader(reader);
    require(!reader.failed && head.items.size() == 5 && objects_read.size() == 2);

    Placement placement;
    require(read_placement(fd_path(solution_fd), head.items.size(), placement));
    require(placement.items.size() <= head.items.size());
    require(placement.bins.size() <= static_cast<std::size_t>(MAXMOD));
    require(placement.problems.size() <= placement_max_problems);
    require_ordered(placement.problems);
    std::uint64_t defect_rows = 0;
    std::vector<PlacementDefect> rows;
    for (const DefectRun& run : placement.defect_runs) {
        require(read_defect_run(placement, run, rows) && rows.size() == run.count);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            require(rows[i].bin == run.bin && rows[i].line == run.line + i);
        }
        defect_rows += rows.size();
    }
    require(defect_rows == placement.defect_rows);

    PlacementRun run;
    start_placement_check(run, set, head, placement, allow_rotation);
    std::int64_t objects = 0;
    for (const std::vector<Defect>& defects : objects_read) {
        require(check_next_object(run, defects, [&](const ObjectView& view) {
            require(view.index == objects++);
            require_flagged(view);
        }));
    }
    finish_placement_check(run);
    const PlacementCheck& check = run.result;
    require(objects == 2);
    require_ordered(check.violations);
    const PlacementSummary& s = check.summary;
    require(s.items_total == 5 && s.objects_total == 2 && s.item_area_total == 3424);
    require(s.free_area == 19800);
    if (placement.problems.empty() && check.violations.empty()) {
        require(s.items_placed <= s.items_total && s.objects_used <= s.objects_total);
        require(s.placed_area <= s.item_area_total && s.placed_area <= s.free_area);
        require(!summary_text(s).empty());
    }
    close_placement(placement);
    ::close(solution_fd);
    ::close(defects_fd);
    ::close(items_fd);
    return 0;
}
