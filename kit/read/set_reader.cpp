// The set reader: block k of the items file, then instance k of the defects file in
// batches, all on the calling thread.
#include "read/set_reader.h"

#include "output/worker.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>

namespace {

constexpr std::size_t batch_defects = std::size_t{1} << 16;
constexpr std::size_t batch_objects = std::size_t{1} << 14;

void clear(ObjectBatch& batch) {
    batch.starts_instance = false;
    batch.ends_instance = false;
    batch.defects.clear();
    batch.sizes.clear();
}

bool full(const ObjectBatch& batch) {
    return batch.defects.size() >= batch_defects || batch.sizes.size() >= batch_objects;
}

// The first problem a scan has met: its failed read, or the first of its list.
bool first_problem(const LineSource& source, const ProblemList& problems, Problem& problem) {
    if (source.error != 0) {
        problem = {source.path, 0, std::string("cannot be read: ") + std::strerror(source.error),
                   true};
        return true;
    }
    if (problems.count > 0) {
        problem = problems.kept.front();
        return true;
    }
    return false;
}

// One reading of a set.
struct Reading {
    SetReader* reader = nullptr;
    std::int32_t only = 0;
    Progress* progress = nullptr;
    const std::function<bool(const ObjectBatch&)>* take = nullptr;
    ObjectBatch batch;
    bool in_instance = false;                 // the defects file is inside an instance
    std::vector<Defect> skipped;              // the objects of instances not wanted
    std::atomic<std::uint64_t> items_done{0}; // check: the items file's bytes read, for progress
};

void show(Reading& g) {
    const SetReader& reader = *g.reader;
    show_progress(*g.progress,
                  (reader.every_problem ? g.items_done.load() : reader.items.source.bytes_done) +
                      reader.defects.source.bytes_done);
}

bool fail(SetReader& reader, const Problem& problem) {
    reader.failed = true;
    reader.problem = problem;
    return false;
}

bool fail(SetReader& reader, std::uint64_t line, const std::string& message) {
    return fail(reader, {reader.set->defects_path, line, message, false});
}

// The defects file's next instance header: whether an instance starts there.
bool start_instance(Reading& g) {
    DefectsScan& scan = g.reader->defects;
    g.batch.starts_instance = true;
    const bool started = next_defects_step(scan, g.skipped) == DefectsStep::instance_start;
    g.in_instance = started && !defects_stopped(scan);
    return started;
}

// The instance's next objects, until the batch is full or the instance ends; those not
// wanted are read and dropped.
void fill_batch(Reading& g, bool wanted) {
    std::vector<Defect>& defects = wanted ? g.batch.defects : g.skipped;
    while (g.in_instance && !full(g.batch)) {
        const std::size_t before = wanted ? defects.size() : (defects.clear(), 0);
        DefectsScan& scan = g.reader->defects;
        if (next_defects_step(scan, defects) != DefectsStep::object_end || defects_stopped(scan)) {
            defects.resize(before); // a partial object, on a problem
            g.batch.ends_instance = true;
            g.in_instance = false;
        } else if (wanted) {
            g.batch.sizes.push_back(static_cast<std::uint32_t>(defects.size() - before));
        }
    }
}

// The items file has ended cleanly; the defects file must end too.
void join_items_end(Reading& g) {
    SetReader& reader = *g.reader;
    Problem problem;
    if (start_instance(g)) {
        fail(reader, reader.defects.source.lines,
             "instance " + std::to_string(reader.defects.instance) + " has no block in " +
                 reader.set->items_path + ", which holds " + std::to_string(reader.items.blocks) +
                 " instances");
    } else if (first_problem(reader.defects.source, reader.defects.problems, problem)) {
        fail(reader, problem);
    }
}

// The defects file's batches of the instance whose block the batch's head holds; false to
// stop.
bool take_instance(Reading& g, bool wanted) {
    SetReader& reader = *g.reader;
    const bool started = start_instance(g);
    const std::int32_t instances = reader.defects.instances;
    for (;;) {
        fill_batch(g, wanted);
        Problem problem;
        if (first_problem(reader.defects.source, reader.defects.problems, problem)) {
            return fail(reader, problem);
        }
        if (!started) {
            return fail(reader, reader.defects.end_line,
                        "the file ends after " + std::to_string(instances) + " instances, where " +
                            reader.set->items_path + " holds more");
        }
        if (wanted && !(*g.take)(g.batch)) {
            return false;
        }
        show(g);
        if (g.batch.ends_instance) {
            return true;
        }
        clear(g.batch);
    }
}

// A set without a defects file: objects_per_instance objects without defects, when known.
bool take_empty_objects(Reading& g) {
    ObjectBatch& batch = g.batch;
    batch.starts_instance = true;
    for (std::int32_t o = 0; o < g.reader->set->objects_per_instance; ++o) {
        batch.sizes.push_back(0);
        if (full(batch)) {
            if (!(*g.take)(batch)) {
                return false;
            }
            clear(batch);
        }
    }
    batch.ends_instance = true;
    return (*g.take)(batch);
}

void read_joined(Reading& g) {
    SetReader& reader = *g.reader;
    for (InstanceHead& head = g.batch.head;; clear(g.batch)) {
        const bool block = read_block(reader.items, head.items);
        Problem problem;
        if (first_problem(reader.items.source, reader.items.problems, problem)) {
            fail(reader, problem);
            return;
        }
        if (!block) {
            if (reader.has_defects) {
                join_items_end(g);
            }
            return;
        }
        head.number = reader.items.blocks;
        const bool wanted = g.only == 0 || head.number == g.only;
        if (reader.has_defects ? !take_instance(g, wanted) : wanted && !take_empty_objects(g)) {
            return;
        }
        show(g);
        if (g.only != 0 && head.number >= g.only) {
            return;
        }
    }
}

// check: both files to their end, every problem kept, no batch handed over; the defects
// file's next instance, its objects dropped. False once the file has ended.
bool check_instance(Reading& g) {
    clear(g.batch);
    if (!start_instance(g)) {
        return false;
    }
    fill_batch(g, false);
    show(g);
    return g.reader->defects.source.error == 0;
}

// check: the items file on a worker thread when one can be had, the defects file here.
void read_every_problem(Reading& g) {
    SetReader& reader = *g.reader;
    const auto read_items = [&reader, &g] {
        std::vector<Item> items;
        while (read_block(reader.items, items)) {
            g.items_done.store(reader.items.source.bytes_done);
        }
    };
    Worker worker;
    if (!reader.has_defects || !start_worker(worker, read_items)) {
        read_items();
    }
    try {
        while (reader.has_defects && check_instance(g)) {
        }
    } catch (...) {
        if (worker.thread.joinable()) {
            worker.thread.join();
        }
        throw;
    }
    join_worker(worker);
}

bool open_file(const std::string& path, int& fd, std::uint64_t& total, std::string& message) {
    std::uint64_t size = 0;
    if (!open_regular_file(path, fd, size, message)) {
        return false;
    }
    total += size;
    return true;
}

} // namespace

bool open_set_reader(SetReader& reader, const KitSet& set, bool every_problem) {
    reader.set = &set;
    reader.every_problem = every_problem;
    reader.rules = make_set_rules(set);
    reader.failed = false;
    reader.bytes_total = 0;
    const std::size_t keep = every_problem ? 20 : 1;
    int fd = -1;
    std::string message;
    if (!open_file(set.items_path, fd, reader.bytes_total, message)) {
        std::cerr << message << '\n';
        return false;
    }
    init_items_scan(reader.items, reader.rules, set.items_path, fd, reader.buffer);
    reader.items.every_problem = every_problem;
    reader.items.problems.keep = keep;
    if (set.defects_path.empty()) {
        return true;
    }
    if (!open_file(set.defects_path, fd, reader.bytes_total, message)) {
        if (every_problem && errno == ENOENT && set.from_answers) {
            reader.defects_missing = message;
            return true;
        }
        std::cerr << message << '\n';
        close_set_reader(reader);
        return false;
    }
    reader.has_defects = true;
    init_defects_scan(reader.defects, reader.rules, set.defects_path, fd, reader.buffer);
    reader.defects.every_problem = every_problem;
    reader.defects.problems.keep = keep;
    return true;
}

void close_set_reader(SetReader& reader) {
    close_line_source(reader.items.source);
    close_line_source(reader.defects.source);
}

void read_set(SetReader& reader, std::int32_t only_instance, Progress& progress,
              const std::function<bool(const ObjectBatch&)>& take) {
    if (reader.failed) {
        return;
    }
    Reading g;
    g.reader = &reader;
    g.only = only_instance;
    g.progress = &progress;
    g.take = &take;
    reader.every_problem ? read_every_problem(g) : read_joined(g);
}

int report_set_problem(const SetReader& reader) {
    std::cerr << problem_text(reader.problem) << "\n";
    if (reader.problem.unreadable) {
        return 2;
    }
    std::cerr << "defectkit: the set is not as defectgen writes it; defectkit check lists every "
                 "problem\n";
    return 1;
}

int report_no_instance(std::int64_t number, std::int64_t held) {
    std::cerr << "defectkit: there is no instance " << number << ": the set has " << held
              << (held == 1 ? " instance\n" : " instances\n");
    return 2;
}

int open_set_for_instance(const SetOptions& options, std::int32_t instance, KitSet& set) {
    if (!open_set(options, set)) {
        return 2;
    }
    if (instance != 0 && set.instances >= 0 && instance > set.instances) {
        return report_no_instance(instance, set.instances);
    }
    return 0;
}
