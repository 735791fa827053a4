// The set reader: block k of the items file, then instance k of the defects file in
// batches, all on the calling thread.
#include "read/set_reader.h"

#include "output/worker.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <mutex>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

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
    std::atomic<std::uint64_t> tail_done{0};  // check: the defects file's second part's
};

void show(Reading& g) {
    const SetReader& reader = *g.reader;
    show_progress(*g.progress, (reader.every_problem ? g.items_done.load() + g.tail_done.load()
                                                     : reader.items.source.bytes_done) +
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

// check: where the defects file is cut in two, the start of a header line
// "instance: K" (K >= 2) after an empty line, the first one from the middle of the file on.
struct Cut {
    std::uint64_t offset = 0; // 0: no cut
    std::int32_t instance = 0;
    std::size_t header = 0; // the header line's bytes, its line end included
};

Cut find_cut(const SetReader& reader) {
    struct stat info {};
    const int fd = reader.defects.source.fd;
    // The second part's scan must hold its instances to the number of objects the first
    // part's holds them to: the cut is made only where the answers or --objects tell it.
    if (reader.rules.objects_per_instance < 0 || ::fstat(fd, &info) != 0 ||
        static_cast<std::uint64_t>(info.st_size) < reader.split_bytes) {
        return {};
    }
    // Windows of the file from its middle on, each overlapping the one before by more
    // than the longest header and the empty line before it; a file whose instances are
    // larger than the windows searched is read in turn.
    constexpr std::size_t overlap = 32;
    constexpr int windows = 16;
    const std::string_view prefix = "\n\ninstance: ";
    std::string window(std::size_t{1} << 20, '\0');
    std::uint64_t from = static_cast<std::uint64_t>(info.st_size) / 2;
    for (int w = 0; w < windows; ++w, from += window.size() - overlap) {
        const ssize_t got = ::pread(fd, window.data(), window.size(), static_cast<off_t>(from));
        if (got <= static_cast<ssize_t>(overlap)) {
            return {};
        }
        const std::string_view seen(window.data(), static_cast<std::size_t>(got));
        for (std::size_t at = seen.find(prefix); at != std::string_view::npos;
             at = seen.find(prefix, at + 1)) {
            const std::size_t end = seen.find('\n', at + prefix.size());
            if (end == std::string_view::npos) {
                break;
            }
            const Line line{seen.data() + at + 2, end - at - 2};
            if (const std::int64_t k = header_number(line); k >= 2 && k < INT32_MAX) {
                return {from + at + 2, static_cast<std::int32_t>(k), line.size + 1};
            }
        }
    }
    return {};
}

// The defects file's second part, read on a worker while its thread is joinable.
struct Tail {
    DefectsScan scan;
    Worker worker;
    std::atomic<bool> stop{false};
};

bool reading(const Tail& tail) {
    return tail.worker.thread.joinable();
}

void read_tail(Tail& tail, std::atomic<std::uint64_t>& done) {
    std::vector<Defect> scratch;
    while (!tail.stop.load() && next_defects_step(tail.scan, scratch) != DefectsStep::end) {
        scratch.clear();
        done.store(tail.scan.source.bytes_done);
    }
}

// Starts the second part's scan as it would stand at the cut, had every instance before it
// been whole; when it cannot be, the file is read in turn.
void start_tail(Reading& g, const Cut& cut, Tail& tail) {
    const SetReader& reader = *g.reader;
    DefectsScan& scan = tail.scan;
    init_defects_scan(scan, reader.rules, reader.defects.source.path, -1, reader.buffer);
    scan.source.fd = ::fcntl(reader.defects.source.fd, F_DUPFD_CLOEXEC, 0);
    if (scan.source.fd < 0) {
        return;
    }
    scan.source.offset = cut.offset;
    scan.every_problem = true;
    scan.problems.keep = reader.defects.problems.keep;
    scan.instance = cut.instance - 1; // at a header, as many instances are complete
    scan.instances = cut.instance - 1;
    if (!start_worker(tail.worker, [&tail, &g] { read_tail(tail, g.tail_done); })) {
        close_line_source(scan.source);
    }
}

void end_tail(Tail& tail) {
    tail.stop.store(true);
    if (tail.worker.thread.joinable()) {
        tail.worker.thread.join();
    }
    close_line_source(tail.scan.source);
}

// The first part's scan has ended an instance and looks ahead at the header at the cut, in
// the state the second part's scan started from.
bool at_cut(const DefectsScan& s, const Cut& cut) {
    const LineSource& source = s.source;
    return s.state == DefectsState::want_header && source.peeked &&
           source.ahead.size + 1 == cut.header && source.bytes_done == cut.offset + cut.header &&
           s.instance == cut.instance - 1;
}

// The second part's findings after the first part's, its lines numbered on from there.
void join_tail(DefectsScan& head, const DefectsScan& tail) {
    const std::uint64_t lines_before = head.source.lines - 1; // the header at the cut is peeked
    for (const Problem& problem : tail.problems.kept) {
        if (head.problems.kept.size() < head.problems.keep) {
            head.problems.kept.push_back(problem);
            head.problems.kept.back().line += lines_before;
        }
    }
    head.problems.count += tail.problems.count;
    head.instance = tail.instance;
    head.instances = tail.instances;
    head.objects += tail.objects;
    head.defects += tail.defects;
    head.end_line = tail.end_line + lines_before;
    head.all_at_origin = head.all_at_origin && tail.all_at_origin;
    head.source.error = tail.source.error;
    head.finished = true;
}

// check: the defects file, in two parts at once when it is large.
void check_defects(Reading& g, Tail& tail) {
    DefectsScan& scan = g.reader->defects;
    Cut cut;
    try {
        cut = find_cut(*g.reader);
        if (cut.offset != 0) {
            start_tail(g, cut, tail);
        }
    } catch (const std::bad_alloc&) {
        end_tail(tail); // no memory for a second part: the file is read in turn
    }
    std::vector<Defect> scratch; // the objects, dropped
    for (DefectsStep step = DefectsStep::go_on; step != DefectsStep::end; scratch.clear()) {
        step = next_defects_step(scan, scratch);
        if (step != DefectsStep::instance_end) {
            continue;
        }
        show(g);
        const bool at = reading(tail) && at_cut(scan, cut);
        if (at) {
            tail.worker.thread.join();
        }
        if (at && !tail.worker.failure) {
            join_tail(scan, tail.scan);
            break;
        }
        // The first part went past the cut otherwise than assumed, or the second part ran
        // out of memory: the first part reads on to the end.
        if (at || (reading(tail) && scan.source.bytes_done > cut.offset + cut.header)) {
            end_tail(tail);
            g.tail_done.store(0);
        }
    }
    end_tail(tail);
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
    Tail tail;
    try {
        if (reader.has_defects) {
            check_defects(g, tail);
        }
    } catch (...) {
        end_tail(tail);
        if (worker.thread.joinable()) {
            worker.thread.join();
        }
        throw;
    }
    join_worker(worker);
}

// The batches of a reading on a worker, handed to the command's thread through two slots:
// the reading fills the next batch while the command works on the one before.
struct Handoff {
    std::mutex mutex;
    std::condition_variable changed;
    ObjectBatch slots[2];
    int next = 0;         // the slot the command takes next
    int filled = 0;       // slots holding a batch, from `next` on
    bool ended = false;   // the reading has ended: no more batches
    bool stopped = false; // the command takes no more
};

// On the worker: the batch copied into the free slot (its room reused); false once the
// command has stopped. The slot is the worker's alone until `filled` counts it.
bool hand_over(Handoff& h, const ObjectBatch& batch) {
    std::unique_lock<std::mutex> lock(h.mutex);
    h.changed.wait(lock, [&h] { return h.filled < 2 || h.stopped; });
    if (h.stopped) {
        return false;
    }
    ObjectBatch& slot = h.slots[(h.next + h.filled) % 2];
    lock.unlock();
    slot = batch;
    lock.lock();
    ++h.filled;
    h.changed.notify_all();
    return true;
}

void stop_handoff(Handoff& h, bool ended) {
    const std::lock_guard<std::mutex> lock(h.mutex);
    (ended ? h.ended : h.stopped) = true;
    h.changed.notify_all();
}

// On the command's thread: every batch to `take`, in turn, until the reading ends (false) or
// `take` returns false (true).
bool take_handed(Handoff& h, const std::function<bool(const ObjectBatch&)>& take) {
    for (;;) {
        std::unique_lock<std::mutex> lock(h.mutex);
        h.changed.wait(lock, [&h] { return h.filled > 0 || h.ended; });
        if (h.filled == 0) {
            return false;
        }
        lock.unlock();
        const bool going = take(h.slots[h.next]);
        lock.lock();
        h.next ^= 1;
        --h.filled;
        h.stopped = !going;
        h.changed.notify_all();
        if (!going) {
            return true;
        }
    }
}

// Every command but check: the reading on a worker when one can be had, `take` here.
void read_behind(Reading& g, const std::function<bool(const ObjectBatch&)>& take) {
    Handoff h;
    const std::function<bool(const ObjectBatch&)> handed = [&h](const ObjectBatch& batch) {
        return hand_over(h, batch);
    };
    g.take = &handed;
    Worker worker;
    const bool started = start_worker(worker, [&g, &h] {
        struct Ended {
            Handoff& h;
            ~Ended() { stop_handoff(h, true); }
        } ended{h};
        read_joined(g);
    });
    if (!started) {
        g.take = &take;
        read_joined(g);
        return;
    }
    bool stopped = false;
    try {
        stopped = take_handed(h, take);
    } catch (...) {
        stop_handoff(h, false);
        worker.thread.join();
        throw;
    }
    stop_handoff(h, false);
    worker.thread.join();
    if (stopped) {
        // Read in turn, the set would have been read no further than the batch `take` stopped
        // at: what the worker met past it (a problem, memory it could not have) is not told.
        worker.failure = nullptr;
        g.reader->failed = false;
        g.reader->problem = {};
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
    reader.every_problem ? read_every_problem(g) : read_behind(g, take);
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
