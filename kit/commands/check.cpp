// check: both files of a set held against everything defectgen guarantees of them. The
// two files are parsed on two threads; their problems come out in file order, the items
// file's before the defects file's.
#include "commands/commands.h"
#include "item_generation.h"
#include "output/progress.h"
#include "random_stream.h"
#include "read/set_scan.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <system_error>
#include <thread>
#include <unistd.h>

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

// The scans run quiet: their events are few (block ends, instance ends, objects without
// defects), so each one, or every 256th, publishes the bytes done for progress.
void run_items(ItemsScan& scan, std::atomic<std::uint64_t>& done) {
    Item item;
    while (next_items_event(scan, item) != ItemsEvent::end) {
        done.store(scan.source.bytes_done, std::memory_order_relaxed);
    }
    done.store(scan.source.bytes_done, std::memory_order_relaxed);
}

template <typename Tick> void run_defects(DefectsScan& scan, Tick tick) {
    Defect defect;
    std::uint64_t events = 0;
    while (next_defects_event(scan, defect) != DefectsEvent::end) {
        if ((++events & 0xff) == 0) {
            tick();
        }
    }
    tick();
}

// Runs `job` on a thread of its own, or here and now when no thread can be started. What
// the job throws on its thread (memory that cannot be had) is kept in `failure`.
template <typename Job> std::thread start_thread(Job job, std::exception_ptr& failure) {
    const auto guarded = [job, &failure] {
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    try {
        return std::thread(guarded);
    } catch (const std::system_error&) {
        job();
        return {};
    }
}

// Runs `work` here while `thread` runs, then joins it, also when `work` throws; then
// throws what the thread's job threw.
template <typename Work>
void beside(std::thread& thread, const std::exception_ptr& failure, Work work) {
    try {
        work();
    } catch (...) {
        if (thread.joinable()) {
            thread.join();
        }
        throw;
    }
    if (thread.joinable()) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

// Files smaller than this are not worth splitting.
constexpr std::uint64_t split_size = std::uint64_t{64} << 20;

// Where a second scan of a large defects file may begin: at a header in the middle of
// the file, just after the closing empty line of the instance before it. Offset 0 when
// there is no such place near the middle.
struct Split {
    std::uint64_t offset = 0;
    std::int32_t instance = 0; // the number the header gives
};

Split find_split(int fd, std::uint64_t size) {
    if (size < split_size) {
        return {};
    }
    std::string window(std::size_t{1} << 20, '\0');
    const std::uint64_t middle = size / 2;
    const ssize_t n = ::pread(fd, window.data(), window.size(), static_cast<off_t>(middle));
    if (n <= 0) {
        return {};
    }
    window.resize(static_cast<std::size_t>(n));
    const std::size_t at = window.find("\n\ninstance: ");
    if (at == std::string::npos) {
        return {};
    }
    std::int64_t k = 0;
    std::size_t i = at + 12;
    for (; i < window.size() && window[i] >= '0' && window[i] <= '9' && k <= MAXMOD; ++i) {
        k = k * 10 + (window[i] - '0');
    }
    if (i == window.size() || window[i] != '\n' || k < 2 || k > MAXMOD) {
        return {};
    }
    return Split{middle + at + 2, static_cast<std::int32_t>(k)};
}

void init_scan(DefectsScan& scan, const SetRules& rules, const std::string& path, int fd) {
    scan.rules = &rules;
    scan.quiet = true;
    scan.problems.keep = problems_shown;
    init_line_source(scan.source, path, fd);
}

// The objects of the first instance, which every instance must have when nothing else
// tells their number, counted as a scan of the whole file learns it; -1 when the first
// instance does not end. Both parts of a split scan then hold every instance to it.
std::int64_t first_instance_objects(const SetRules& rules, const std::string& path, int fd) {
    DefectsScan scan;
    init_scan(scan, rules, path, ::dup(fd));
    Defect defect;
    DefectsEvent event = DefectsEvent::instance_start;
    while (event != DefectsEvent::instance_end && event != DefectsEvent::end) {
        event = next_defects_event(scan, defect);
    }
    close_line_source(scan.source);
    return event == DefectsEvent::instance_end ? scan.per_instance : -1;
}

// Adds the second part's findings to the first's, as one scan of the whole file would
// have made them.
void join_parts(DefectsScan& first, DefectsScan& second) {
    const std::uint64_t lines = first.source.lines;
    first.problems.count += second.problems.count;
    for (Problem& problem : second.problems.kept) {
        if (first.problems.kept.size() < first.problems.keep) {
            problem.line += lines;
            first.problems.kept.push_back(std::move(problem));
        }
    }
    first.instances = second.instances;
    first.instance = second.instance;
    first.objects += second.objects;
    first.defects += second.defects;
    first.all_at_origin = first.all_at_origin && second.all_at_origin;
    first.end_line = second.end_line + lines;
    first.source.lines += second.source.lines;
    first.source.error = second.source.error;
}

// Scans the whole defects file into `scan`: in two parts on two threads when it is large,
// beside the items file's thread.
void scan_defects(DefectsScan& scan, const SetRules& rules, const std::string& path, int fd,
                  std::uint64_t size, Progress& progress,
                  const std::atomic<std::uint64_t>& items_done) {
    init_scan(scan, rules, path, fd);
    const Split split = find_split(fd, size);
    std::atomic<std::uint64_t> second_done{0};
    const auto show = [&] {
        show_progress(progress, scan.source.bytes_done + second_done.load() + items_done.load());
    };
    if (split.offset == 0) {
        run_defects(scan, show);
        return;
    }
    DefectsScan second;
    init_scan(second, rules, path, ::dup(fd));
    limit_line_source(second.source, split.offset, UINT64_MAX);
    second.instance = split.instance - 1;
    second.instances = split.instance - 1;
    limit_line_source(scan.source, 0, split.offset);
    scan.file_goes_on = true;
    std::exception_ptr second_failure;
    std::thread second_work = start_thread(
        [&] { run_defects(second, [&] { second_done.store(second.source.bytes_done); }); },
        second_failure);
    beside(second_work, second_failure, [&] { run_defects(scan, show); });
    close_line_source(second.source);
    if (scan.source.error == 0 && scan.ends_cleanly &&
        std::int64_t{scan.instance} + 1 == split.instance) {
        join_parts(scan, second);
        return;
    }
    // The split fell where the file is damaged: one scan of the whole file instead.
    const int again = ::dup(scan.source.fd);
    close_line_source(scan.source);
    scan = DefectsScan{};
    init_scan(scan, rules, path, again);
    second_done.store(0);
    run_defects(scan, show);
}

void print_problems(const std::string& path, const ProblemList& list, std::size_t& shown) {
    for (const Problem& problem : list.kept) {
        if (shown == problems_shown) {
            return;
        }
        std::cerr << path << ':' << problem.line << ": " << problem.message << '\n';
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

} // namespace

int run_check(const SetOptions& options) {
    KitSet set;
    if (!open_set(options, set)) {
        return 2;
    }
    const SetRules rules = make_set_rules(set);
    const RunParams& params = set.params;

    ItemsScan items;
    items.rules = &rules;
    items.report_missing_instances = false;
    items.quiet = true;
    items.problems.keep = problems_shown;
    DefectsScan defects;
    defects.rules = &rules;
    defects.problems.keep = problems_shown;

    int fd = -1;
    std::uint64_t items_size = 0;
    std::uint64_t defects_size = 0;
    std::string message;
    if (!open_regular_file(set.items_path, fd, items_size, message)) {
        std::cerr << message << '\n';
        return 2;
    }
    init_line_source(items.source, set.items_path, fd);
    int defects_fd = -1;
    bool defects_missing = false;
    if (!set.defects_path.empty() &&
        !open_regular_file(set.defects_path, defects_fd, defects_size, message)) {
        if (errno == ENOENT && set.from_answers) {
            // Perhaps a generation failure, which leaves no defects file; told below.
            defects_missing = true;
        } else {
            std::cerr << message << '\n';
            return 2;
        }
    }
    const bool has_defects = defects_fd >= 0;
    SetRules defect_rules = rules;
    if (has_defects && defect_rules.objects_per_instance < 0) {
        defect_rules.objects_per_instance =
            static_cast<std::int32_t>(first_instance_objects(rules, set.defects_path, defects_fd));
    }

    Progress progress;
    start_progress(progress, "check", items_size + defects_size);
    std::atomic<std::uint64_t> items_done{0};
    if (has_defects) {
        std::exception_ptr items_failure;
        std::thread items_work = start_thread([&] { run_items(items, items_done); }, items_failure);
        beside(items_work, items_failure, [&] {
            scan_defects(defects, defect_rules, set.defects_path, defects_fd, defects_size,
                         progress, items_done);
        });
    } else {
        run_items(items, items_done);
    }
    end_progress(progress);
    close_line_source(items.source);
    close_line_source(defects.source);
    if (unreadable(items.source) || (has_defects && unreadable(defects.source))) {
        return 2;
    }

    // A file short of instances: the answers may make defectgen stop early, and such a
    // run leaves exactly the blocks before the failing instance and no defects file.
    std::string failure;
    if (set.from_answers && !items.ended_inside && items.blocks < set.instances) {
        const std::int32_t completed = instances_before_failure(params);
        if (completed == items.blocks && !has_defects) {
            failure = set.items_path + ":" + std::to_string(items.end_line) +
                      ": a generation failure, not damage: for these answers defectgen "
                      "stops at instance " +
                      std::to_string(completed + 1) +
                      " (an item whose length or width it cannot repair), and leaves " +
                      (completed == 0 ? std::string("the items file empty")
                                      : "the " +
                                            counted(static_cast<std::uint64_t>(completed),
                                                    "complete instance", "complete instances") +
                                            " before it") +
                      (set.defects_path.empty() ? "" : " and no defects file") +
                      ", as this set holds";
        } else {
            add_problem(items.problems, items.end_line,
                        missing_instances_message(items.blocks, set.instances));
        }
    }
    if (defects_missing && failure.empty()) {
        std::size_t shown = 0;
        print_problems(set.items_path, items.problems, shown);
        std::cerr << message << '\n'; // the defects file's, from opening it
        return 2;
    }
    if (!set.from_answers && has_defects && defects.instances != items.blocks &&
        defects.problems.count == 0 && items.problems.count == 0) {
        add_problem(
            defects.problems, defects.end_line,
            "the file holds " +
                counted(static_cast<std::uint64_t>(defects.instances), "instance", "instances") +
                " where " + set.items_path + " holds " + std::to_string(items.blocks));
    }

    const std::uint64_t total = items.problems.count + defects.problems.count;
    if (total > 0 || !failure.empty()) {
        std::size_t shown = 0;
        print_problems(set.items_path, items.problems, shown);
        print_problems(set.defects_path, defects.problems, shown);
        if (total > shown) {
            std::cerr << "and " << counted(total - shown, "more problem", "more problems") << '\n';
        }
        if (!failure.empty()) {
            std::cerr << failure << '\n';
        }
        return 1;
    }

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
        if (constant_stream(params.seed) && items.items + defects.defects > 0) {
            std::cout << "note: seed " << params.seed
                      << " gives a constant random stream: every item alike, every defect at "
                         "(0, 0)\n";
        }
    } else if (items.items >= 2 && items.all_alike && defects.all_at_origin) {
        std::cout << "note: every item alike"
                  << (defects.defects > 0 ? ", every defect at (0, 0)" : "")
                  << ": the set looks drawn from a constant random stream (seed 0 and its like)\n";
    }
    if (!set.from_answers) {
        std::cout << "note: not checked without the answers: the numbers of instances, item "
                     "types, objects and defects asked for, minarea and maxarea, the defect "
                     "types, and whether these are the exact files (defectkit verify)\n";
        if (set.objects_per_instance < 0 && has_defects) {
            std::cout << "note: objects per instance taken from instance 1 of " << set.defects_path
                      << "\n";
        }
    }
    return 0;
}
