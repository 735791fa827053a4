// The set reader: the defects file in records of a batch each, filled on a worker thread
// or in turn, joined instance by instance with the items file's blocks on the calling
// thread.
#include "read/set_reader.h"

#include "output/worker.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <mutex>

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

// ---- The defects file, in records.

// Objects of one instance; the first record of an instance tells where the defects file
// stood at its start. `last` ends the reading, `has_problem` tells why.
struct DefectsRecord {
    ObjectBatch batch;
    bool started = false;       // the instance starts (perhaps with a problem in its header)
    std::int32_t instance = 0;  // the instance the defects file is at
    std::uint64_t line = 0;     // lines read so far
    std::uint64_t end_line = 0; // the line after the file's last, when it ended
    std::int32_t instances = 0; // complete instances so far
    bool last = false;
    bool has_problem = false;
    Problem problem;
};

// The defects file's side of the reading; with a worker, only the worker touches it but
// for bytes_done.
struct Feed {
    DefectsScan* scan = nullptr;
    std::int32_t only = 0;
    std::int32_t number = 0; // the instance being read
    bool in_instance = false;
    std::vector<Defect> skipped; // the objects of instances not wanted
    std::atomic<std::uint64_t> bytes_done{0};
};

// The next objects of the current instance, until the batch is full or the instance ends;
// those of an instance not wanted are read and dropped, and so are all of check's, which
// wants only the problems and the counts.
void fill_record(Feed& feed, DefectsRecord& r) {
    DefectsScan& scan = *feed.scan;
    clear(r.batch);
    if (!feed.in_instance) {
        r.batch.starts_instance = true;
        r.started = next_defects_step(scan, feed.skipped) == DefectsStep::instance_start;
        r.instance = scan.instance;
        r.line = scan.source.lines;
        r.end_line = scan.end_line;
        r.instances = scan.instances;
        feed.in_instance = r.started && !defects_stopped(scan);
        ++feed.number;
    }
    const bool wanted = !scan.every_problem && (feed.only == 0 || feed.number == feed.only);
    std::vector<Defect>& defects = wanted ? r.batch.defects : feed.skipped;
    while (feed.in_instance && !full(r.batch)) {
        const std::size_t before = wanted ? defects.size() : (defects.clear(), 0);
        if (next_defects_step(scan, defects) != DefectsStep::object_end || defects_stopped(scan)) {
            defects.resize(before); // a partial object, on a problem
            r.batch.ends_instance = true;
            feed.in_instance = false;
        } else if (wanted) {
            r.batch.sizes.push_back(static_cast<std::uint32_t>(defects.size() - before));
        }
    }
    r.has_problem = first_problem(scan.source, scan.problems, r.problem);
    r.last = !r.batch.ends_instance && !feed.in_instance;
    r.last = r.last || (!scan.every_problem && r.has_problem) || scan.source.error != 0 ||
             (r.batch.ends_instance && feed.only != 0 && feed.number >= feed.only);
    feed.bytes_done.store(scan.source.bytes_done, std::memory_order_relaxed);
}

// Two records: the worker fills one while the calling thread takes the other.
struct Handoff {
    std::mutex mutex;
    std::condition_variable changed;
    DefectsRecord slots[2];
    std::size_t filled = 0; // records handed over, counting from the start
    std::size_t taken = 0;  // records the taker is done with
    bool finished = false;  // the worker will hand over no more
    bool stopped = false;   // the taker wants no more
};

// The worker's job: records until the last one, or until the taker stops.
void fill_handoff(Feed& feed, Handoff& h) {
    for (bool last = false; !last;) {
        DefectsRecord* r = nullptr;
        {
            std::unique_lock<std::mutex> lock(h.mutex);
            h.changed.wait(lock, [&] { return h.stopped || h.filled - h.taken < 2; });
            if (h.stopped) {
                return;
            }
            r = &h.slots[h.filled % 2];
        }
        fill_record(feed, *r); // only this thread touches the slot until it is handed over
        last = r->last;
        std::lock_guard<std::mutex> lock(h.mutex);
        ++h.filled;
        h.changed.notify_all();
    }
}

void end_handoff(Handoff& h, bool stop) {
    std::lock_guard<std::mutex> lock(h.mutex);
    (stop ? h.stopped : h.finished) = true;
    h.changed.notify_all();
}

// ---- Both files joined.

struct Reading {
    SetReader* reader = nullptr;
    std::int32_t only = 0;
    Progress* progress = nullptr;
    const std::function<bool(const ObjectBatch&)>* take = nullptr;
    Feed feed;
    Handoff* handoff = nullptr; // nullptr: the records are filled in turn, into `own`
    DefectsRecord own;
};

// The next record, or nullptr when the worker has ended without one (it threw).
DefectsRecord* next_record(Reading& g) {
    if (g.handoff == nullptr) {
        fill_record(g.feed, g.own);
        return &g.own;
    }
    Handoff& h = *g.handoff;
    std::unique_lock<std::mutex> lock(h.mutex);
    h.changed.wait(lock, [&] { return h.taken < h.filled || h.finished; });
    return h.taken < h.filled ? &h.slots[h.taken % 2] : nullptr;
}

void release(Reading& g) {
    if (g.handoff != nullptr) {
        std::lock_guard<std::mutex> lock(g.handoff->mutex);
        ++g.handoff->taken;
        g.handoff->changed.notify_all();
    }
}

void show(Reading& g) {
    show_progress(*g.progress, g.reader->items.source.bytes_done + g.feed.bytes_done.load());
}

void fail(SetReader& reader, const Problem& problem) {
    reader.failed = true;
    reader.problem = problem;
}

// The items file has ended cleanly after `blocks` blocks; the defects file must end too.
void join_items_end(SetReader& reader, const DefectsRecord& r) {
    if (r.started) {
        fail(reader, {reader.set->defects_path, r.line,
                      "instance " + std::to_string(r.instance) + " has no block in " +
                          reader.set->items_path + ", which holds " +
                          std::to_string(reader.items.blocks) + " instances",
                      false});
    } else if (r.has_problem) {
        fail(reader, r.problem);
    }
}

// A block has been read; the defects file must hold its instance.
bool join_block(SetReader& reader, const DefectsRecord& r) {
    if (r.has_problem) {
        fail(reader, r.problem);
    } else if (!r.started) {
        fail(reader, {reader.set->defects_path, r.end_line,
                      "the file ends after " + std::to_string(r.instances) + " instances, where " +
                          reader.set->items_path + " holds more",
                      false});
    }
    return reader.failed;
}

// A set without a defects file: objects_per_instance objects without defects, when known.
bool take_empty_objects(Reading& g, ObjectBatch& batch) {
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

// The defects file's records of the instance whose block `head` holds; false to stop.
bool take_instance(Reading& g, InstanceHead& head, bool wanted) {
    for (bool first = true;; first = false) {
        DefectsRecord* r = next_record(g);
        if (r == nullptr) {
            return false;
        }
        if (first ? join_block(*g.reader, *r) : r->has_problem) {
            if (!first) {
                fail(*g.reader, r->problem);
            }
            return false;
        }
        if (wanted && r->batch.starts_instance) {
            r->batch.head.number = head.number;
            r->batch.head.items.swap(head.items);
        }
        if (wanted && !(*g.take)(r->batch)) {
            return false;
        }
        const bool ends = r->batch.ends_instance;
        release(g);
        show(g);
        if (ends) {
            return true;
        }
    }
}

void read_joined(Reading& g) {
    SetReader& reader = *g.reader;
    ObjectBatch plain; // the batch of a set without defects
    for (InstanceHead& head = plain.head;; clear(plain)) {
        const bool block = read_block(reader.items, head.items);
        Problem problem;
        if (first_problem(reader.items.source, reader.items.problems, problem)) {
            fail(reader, problem);
            return;
        }
        if (!block) {
            if (const DefectsRecord* r = reader.has_defects ? next_record(g) : nullptr) {
                join_items_end(reader, *r);
            }
            return;
        }
        head.number = reader.items.blocks;
        const bool wanted = g.only == 0 || head.number == g.only;
        if (reader.has_defects ? !take_instance(g, head, wanted)
                               : wanted && !take_empty_objects(g, plain)) {
            return;
        }
        show(g);
        if (g.only != 0 && head.number >= g.only) {
            return;
        }
    }
}

// check: both files to their end, every problem kept, no batch handed over. A record of
// the defects file (a whole instance, its objects dropped) is taken after each block, so
// that neither file waits long for the other.
void read_every_problem(Reading& g) {
    SetReader& reader = *g.reader;
    bool more = reader.has_defects;
    const auto take_record = [&] {
        const DefectsRecord* r = next_record(g);
        more = r != nullptr && !r->last;
        if (r != nullptr) {
            release(g);
        }
        show(g);
    };
    std::vector<Item> items;
    while (read_block(reader.items, items)) {
        if (more) {
            take_record();
        }
        show(g);
    }
    while (more) {
        take_record();
    }
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
              const std::function<bool(const ObjectBatch&)>& take, ReadThreads threads) {
    if (reader.failed) {
        return;
    }
    Reading g{&reader, only_instance, &progress, &take, {}, nullptr, {}};
    g.feed.scan = &reader.defects;
    g.feed.only = only_instance;
    Handoff handoff;
    Worker worker;
    if (reader.has_defects && threads == ReadThreads::defects_thread && start_worker(worker, [&] {
            try {
                fill_handoff(g.feed, handoff);
            } catch (...) {
                end_handoff(handoff, false);
                throw;
            }
            end_handoff(handoff, false);
        })) {
        g.handoff = &handoff;
    }
    try {
        reader.every_problem ? read_every_problem(g) : read_joined(g);
    } catch (...) {
        end_handoff(handoff, true);
        join_worker(worker);
        throw;
    }
    end_handoff(handoff, true);
    join_worker(worker);
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
