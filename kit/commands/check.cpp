// check: both files of a set held against everything defectgen guarantees of them. The
// set reader reads both to their end and keeps every problem; they come out in file
// order, the items file's before the defects file's.
#include "commands/commands.h"
#include "item_generation.h"
#include "output/progress.h"
#include "random_stream.h"
#include "read/set_reader.h"

#include <cstring>
#include <iostream>
#include <memory>

namespace {

constexpr std::size_t problems_shown = 20;

// How many instances defectgen completes for these answers before an item it cannot
// repair stops it, by running its own item phase; -1 when it completes them all.
std::int32_t instances_before_failure(const RunParams& params) {
    auto stream = std::make_unique<RandomStream>();
    auto items = std::make_unique<ItemTable>();
    seed_random_stream(*stream, params.seed);
    for (std::int32_t k = 1; k <= params.no_instances; ++k) {
        if (!generate_item_types(params, *stream, *items)) {
            return k - 1;
        }
    }
    return -1;
}

bool constant_stream(std::int32_t seed) {
    RandomStream stream;
    seed_random_stream(stream, seed);
    return stream.rng_state == 0;
}

void print_problems(const ProblemList& list, std::size_t& shown) {
    for (const Problem& problem : list.kept) {
        if (shown == problems_shown) {
            return;
        }
        std::cerr << problem_text(problem) << '\n';
        ++shown;
    }
}

bool unreadable(const LineSource& source) {
    if (source.error == 0) {
        return false;
    }
    std::cerr << source.path << ": cannot be read: " << std::strerror(source.error) << '\n';
    return true;
}

// A file short of instances: the answers may make defectgen stop early, and such a run
// leaves exactly the blocks before the failing instance and no defects file. Returns what
// to say of such a set, or adds the missing instances to the items file's problems.
std::string tell_short_file(const KitSet& set, SetReader& reader) {
    ItemsScan& items = reader.items;
    if (!set.from_answers || items.ended_inside || items.blocks >= set.instances) {
        return {};
    }
    const std::int32_t completed = instances_before_failure(set.params);
    if (completed != items.blocks || reader.has_defects) {
        add_problem(items.problems, set.items_path, items.end_line,
                    missing_instances_message(items.blocks, set.instances));
        return {};
    }
    return set.items_path + ":" + std::to_string(items.end_line) +
           ": a generation failure, not damage: for these answers defectgen stops at instance " +
           std::to_string(completed + 1) +
           " (an item whose length or width it cannot repair), and leaves " +
           (completed == 0 ? std::string("the items file empty")
                           : "the " +
                                 counted(static_cast<std::uint64_t>(completed), "complete instance",
                                         "complete instances") +
                                 " before it") +
           (set.defects_path.empty() ? "" : " and no defects file") + ", as this set holds";
}

// Without the answers the two files must at least hold as many instances.
void tell_instance_counts(const KitSet& set, SetReader& reader) {
    const ItemsScan& items = reader.items;
    DefectsScan& defects = reader.defects;
    if (!set.from_answers && reader.has_defects && defects.instances != items.blocks &&
        defects.problems.count == 0 && items.problems.count == 0) {
        add_problem(
            defects.problems, set.defects_path, defects.end_line,
            "the file holds " +
                counted(static_cast<std::uint64_t>(defects.instances), "instance", "instances") +
                " where " + set.items_path + " holds " + std::to_string(items.blocks));
    }
}

// Every problem in file order (as many as are shown), then the generation failure.
bool print_all_problems(const SetReader& reader, const std::string& failure) {
    const std::uint64_t total = reader.items.problems.count + reader.defects.problems.count;
    if (total == 0 && failure.empty()) {
        return false;
    }
    std::size_t shown = 0;
    print_problems(reader.items.problems, shown);
    print_problems(reader.defects.problems, shown);
    if (total > shown) {
        std::cerr << "and " << counted(total - shown, "more problem", "more problems") << '\n';
    }
    if (!failure.empty()) {
        std::cerr << failure << '\n';
    }
    return true;
}

// "ok: ..." and the notes on what the set looks like.
void print_verdict(const KitSet& set, const SetReader& reader) {
    const ItemsScan& items = reader.items;
    const DefectsScan& defects = reader.defects;
    const bool has_defects = reader.has_defects;
    std::cout << "ok: "
              << counted(static_cast<std::uint64_t>(items.blocks), "instance", "instances") << ", "
              << counted(items.items, "item type", "item types");
    if (has_defects || set.objects_per_instance >= 0) {
        const std::uint64_t objects =
            has_defects ? defects.objects
                        : static_cast<std::uint64_t>(items.blocks) *
                              static_cast<std::uint64_t>(set.objects_per_instance);
        std::cout << ", " << counted(objects, "object", "objects") << ", "
                  << counted(defects.defects, "defect", "defects");
    }
    std::cout << '\n';
    if (items.beyond_object > 0) {
        std::cout << "note: " << counted(items.beyond_object, "item type is", "item types are")
                  << " longer or wider than the object (defectgen draws such items when the "
                     "object is too elongated for their area)\n";
    }
    if (set.from_answers) {
        if (constant_stream(set.params.seed) && items.items + defects.defects > 0) {
            std::cout << "note: seed " << set.params.seed
                      << " gives a constant random stream: every item alike, every defect at "
                         "(0, 0)\n";
        }
        return;
    }
    if (items.items >= 2 && items.all_alike && defects.all_at_origin) {
        std::cout << "note: every item alike"
                  << (defects.defects > 0 ? ", every defect at (0, 0)" : "")
                  << ": the set looks drawn from a constant random stream (seed 0 and its like)\n";
    }
    std::cout << "note: not checked without the answers: the numbers of instances, item "
                 "types, objects and defects asked for, minarea and maxarea, the defect "
                 "types, and whether these are the exact files (defectkit verify)\n";
    if (set.objects_per_instance < 0 && has_defects) {
        std::cout << "note: objects per instance taken from instance 1 of " << set.defects_path
                  << "\n";
    }
}

} // namespace

int run_check(const SetOptions& options) {
    KitSet set;
    SetReader reader;
    if (!open_set(options, set) || !open_set_reader(reader, set, true)) {
        return 2;
    }
    reader.items.report_missing_instances = false;
    Progress progress;
    start_progress(progress, "check", reader.bytes_total);
    read_set(reader, 0, progress, [](const ObjectBatch&) { return true; });
    end_progress(progress);
    close_set_reader(reader);
    if (unreadable(reader.items.source) ||
        (reader.has_defects && unreadable(reader.defects.source))) {
        return 2;
    }
    const std::string failure = tell_short_file(set, reader);
    if (!reader.defects_missing.empty() && failure.empty()) {
        std::size_t shown = 0;
        print_problems(reader.items.problems, shown);
        std::cerr << reader.defects_missing << '\n'; // from opening it
        return 2;
    }
    tell_instance_counts(set, reader);
    if (print_all_problems(reader, failure)) {
        return 1;
    }
    print_verdict(set, reader);
    return 0;
}
