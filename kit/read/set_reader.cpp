// The set reader: the items file read on the calling thread, the defects file in records
// of a batch each, from a worker thread through a ring or in turn, and the two joined
// instance by instance.
#include "read/set_reader.h"

#include "output/worker.h"

#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t batch_defects = std::size_t{1} << 16;
constexpr std::size_t batch_objects = std::size_t{1} << 14;
// Enough for the defects file to run ahead of the command, small enough for a few MB.
constexpr std::size_t ring_size = 4;

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

// Objects of one instance (the first record of an instance with where the defects file
// stood at its start); `last` ends the reading, `has_problem` tells why.
struct DefectsRecord {
    ObjectBatch batch;
    InstanceStart start;
    bool last = false;
    bool has_problem = false;
    Problem problem;
};

struct DefectsFeed {
    DefectsScan* scan = nullptr;
    std::int32_t only = 0;
    std::int32_t number = 0; // the instance being read
    bool in_instance = false;
    std::vector<Defect> skipped; // the objects of instances not wanted
    std::atomic<std::uint64_t> bytes_done{0};
};

// Objects of the current instance into `batch`, until it is full (false) or the instance
// ends (true); those of an instance not wanted are read and dropped, and so are all of
// check's, which wants only the problems and the counts.
bool read_objects(DefectsFeed& feed, ObjectBatch& batch) {
    DefectsScan& scan = *feed.scan;
    const bool wanted = !scan.every_problem && (feed.only == 0 || feed.number == feed.only);
    for (;;) {
        if (!wanted) {
            feed.skipped.clear();
            if (!append_object(scan, feed.skipped)) {
                return true;
            }
            continue;
        }
        const std::size_t before = batch.defects.size();
        if (!append_object(scan, batch.defects)) {
            batch.defects.resize(before); // a partial object, on a problem
            return true;
        }
        batch.sizes.push_back(static_cast<std::uint32_t>(batch.defects.size() - before));
        if (full(batch)) {
            return false;
        }
    }
}

void fill_record(DefectsFeed& feed, DefectsRecord& r) {
    DefectsScan& scan = *feed.scan;
    clear(r.batch);
    if (!feed.in_instance) {
        r.batch.starts_instance = true;
        r.start = next_defects_instance(scan);
        feed.in_instance = r.start.started && !defects_stopped(scan);
        ++feed.number;
    }
    if (feed.in_instance && read_objects(feed, r.batch)) {
        r.batch.ends_instance = true;
        feed.in_instance = false;
    }
    r.has_problem = first_problem(scan.source, scan.problems, r.problem);
    r.last = !r.batch.ends_instance && !feed.in_instance;
    r.last = r.last || (!scan.every_problem && r.has_problem) || scan.source.error != 0 ||
             (r.batch.ends_instance && feed.only != 0 && feed.number >= feed.only);
    feed.bytes_done.store(scan.source.bytes_done, std::memory_order_relaxed);
}

// Records that the worker fills and the calling thread takes, in order.
struct Ring {
    std::mutex mutex;
    std::condition_variable changed;
    DefectsRecord slots[ring_size];
    std::size_t filled = 0; // records handed over, counting from the start
    std::size_t taken = 0;  // records the taker is done with
    bool finished = false;  // the worker will hand over no more
    bool stopped = false;   // the taker wants no more
};

void fill_ring(DefectsFeed& feed, Ring& ring) {
    for (;;) {
        DefectsRecord* r = nullptr;
        {
            std::unique_lock<std::mutex> lock(ring.mutex);
            ring.changed.wait(lock,
                              [&] { return ring.stopped || ring.filled - ring.taken < ring_size; });
            if (ring.stopped) {
                return;
            }
            r = &ring.slots[ring.filled % ring_size];
        }
        fill_record(feed, *r); // only this thread touches the slot until it is handed over
        std::lock_guard<std::mutex> lock(ring.mutex);
        ++ring.filled;
        ring.changed.notify_all();
        if (r->last) {
            return;
        }
    }
}

void end_ring(Ring& ring, bool stop) {
    std::lock_guard<std::mutex> lock(ring.mutex);
    (stop ? ring.stopped : ring.finished) = true;
    ring.changed.notify_all();
}

// Where the calling thread takes the defects file's records from: the ring, or `own`,
// filled in turn when there is no worker.
struct Records {
    DefectsFeed* feed = nullptr;
    Ring* ring = nullptr; // nullptr: in turn
    DefectsRecord own;
};

// The next record, or nullptr when the worker has ended without one (it threw).
DefectsRecord* next_record(Records& records) {
    if (records.ring == nullptr) {
        fill_record(*records.feed, records.own);
        return &records.own;
    }
    Ring& ring = *records.ring;
    std::unique_lock<std::mutex> lock(ring.mutex);
    ring.changed.wait(lock, [&] { return ring.taken < ring.filled || ring.finished; });
    return ring.taken < ring.filled ? &ring.slots[ring.taken % ring_size] : nullptr;
}

void release(Records& records) {
    if (records.ring != nullptr) {
        std::lock_guard<std::mutex> lock(records.ring->mutex);
        ++records.ring->taken;
        records.ring->changed.notify_all();
    }
}

// ---- Both files joined.

void fail(SetReader& reader, const Problem& problem) {
    reader.failed = true;
    reader.problem = problem;
}

// The items file has ended cleanly after `blocks` blocks; the defects file must end too.
bool join_items_end(SetReader& reader, const DefectsRecord& r) {
    if (r.start.started) {
        fail(reader, {reader.set->defects_path, r.start.line,
                      "instance " + std::to_string(r.start.instance) + " has no block in " +
                          reader.set->items_path + ", which holds " +
                          std::to_string(reader.items.blocks) + " instances",
                      false});
    } else if (r.has_problem) {
        fail(reader, r.problem);
    }
    return reader.failed;
}

// A block has been read; the defects file must hold its instance.
bool join_block(SetReader& reader, const DefectsRecord& r) {
    if (r.has_problem) {
        fail(reader, r.problem);
    } else if (!r.start.started) {
        fail(reader, {reader.set->defects_path, r.start.end_line,
                      "the file ends after " + std::to_string(r.start.instances) +
                          " instances, where " + reader.set->items_path + " holds more",
                      false});
    }
    return reader.failed;
}

struct Reading {
    SetReader* reader = nullptr;
    std::int32_t only = 0;
    Progress* progress = nullptr;
    const std::function<bool(const ObjectBatch&)>* take = nullptr;
    Records records;
};

void show(Reading& reading) {
    show_progress(*reading.progress, reading.reader->items.source.bytes_done +
                                         reading.records.feed->bytes_done.load());
}

// A set without a defects file: objects_per_instance objects without defects, when known.
bool take_empty_objects(Reading& reading, ObjectBatch& batch) {
    const std::int32_t objects = reading.reader->set->objects_per_instance;
    batch.starts_instance = true;
    for (std::int32_t o = 0; o < objects; ++o) {
        batch.sizes.push_back(0);
        if (full(batch)) {
            if (!(*reading.take)(batch)) {
                return false;
            }
            clear(batch);
        }
    }
    batch.ends_instance = true;
    return (*reading.take)(batch);
}

// The defects file's records of the instance whose block `head` holds; false to stop.
bool take_instance(Reading& reading, InstanceHead& head, bool wanted) {
    for (bool first = true;; first = false) {
        DefectsRecord* r = next_record(reading.records);
        if (r == nullptr) {
            return false;
        }
        if (first ? join_block(*reading.reader, *r) : r->has_problem) {
            if (!first) {
                fail(*reading.reader, r->problem);
            }
            return false;
        }
        if (wanted) {
            if (r->batch.starts_instance) {
                r->batch.head.number = head.number;
                r->batch.head.items.swap(head.items);
            }
            if (!(*reading.take)(r->batch)) {
                return false;
            }
        }
        const bool ends = r->batch.ends_instance;
        release(reading.records);
        show(reading);
        if (ends) {
            return true;
        }
    }
}

void read_joined(Reading& reading) {
    SetReader& reader = *reading.reader;
    ObjectBatch plain; // the batch of a set without defects
    for (;;) {
        InstanceHead& head = plain.head;
        const bool block = read_block(reader.items, head.items);
        Problem problem;
        if (first_problem(reader.items.source, reader.items.problems, problem)) {
            fail(reader, problem);
            return;
        }
        if (!block) {
            if (reader.has_defects) {
                const DefectsRecord* r = next_record(reading.records);
                if (r != nullptr) {
                    join_items_end(reader, *r);
                }
            }
            return;
        }
        head.number = reader.items.blocks;
        const bool wanted = reading.only == 0 || head.number == reading.only;
        if (reader.has_defects ? !take_instance(reading, head, wanted)
                               : wanted && !take_empty_objects(reading, plain)) {
            return;
        }
        clear(plain);
        show(reading);
        if (reading.only != 0 && head.number >= reading.only) {
            return;
        }
    }
}

// ---- check: both files to their end, every problem kept.

// A defects file smaller than this is not worth reading in two parts.
constexpr std::uint64_t split_size = std::uint64_t{64} << 20;

// Where a second scan of a large defects file may begin: at a header in the middle of the
// file, just after the closing empty line of the instance before it. Offset 0 when there
// is no such place near the middle.
struct Split {
    std::uint64_t offset = 0;
    std::int32_t instance = 0; // the number the header gives
};

Split find_split(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || static_cast<std::uint64_t>(info.st_size) < split_size) {
        return {};
    }
    std::string window(std::size_t{1} << 20, '\0');
    const auto middle = static_cast<std::uint64_t>(info.st_size) / 2;
    const ssize_t n = ::pread(fd, window.data(), window.size(), static_cast<off_t>(middle));
    const std::size_t at = n > 0 ? window.find("\n\ninstance: ") : std::string::npos;
    if (at == std::string::npos || at + 12 >= static_cast<std::size_t>(n)) {
        return {};
    }
    std::int64_t k = 0;
    std::size_t i = at + 12;
    for (; i < static_cast<std::size_t>(n) && window[i] >= '0' && window[i] <= '9' && k <= MAXMOD;
         ++i) {
        k = k * 10 + (window[i] - '0');
    }
    if (i == static_cast<std::size_t>(n) || window[i] != '\n' || k < 2 || k > MAXMOD) {
        return {};
    }
    return Split{middle + at + 2, static_cast<std::int32_t>(k)};
}

// A scan to the end of its file (or part), its objects dropped; `done` follows its bytes,
// and `shown` (on the calling thread only) is called after each instance.
void scan_to_end(DefectsScan& scan, std::atomic<std::uint64_t>& done,
                 const std::function<void()>& shown = {}) {
    std::vector<Defect> objects;
    while (next_defects_instance(scan).started) {
        while (append_object(scan, objects)) {
            objects.clear();
        }
        objects.clear();
        done.store(scan.source.bytes_done, std::memory_order_relaxed);
        if (shown) {
            shown();
        }
    }
    done.store(scan.source.bytes_done, std::memory_order_relaxed);
}

void open_part(SetReader& reader, DefectsScan& scan, int fd) {
    init_defects_scan(scan, reader.rules, reader.set->defects_path, fd, reader.buffer);
    scan.every_problem = true;
    scan.problems.keep = reader.defects.problems.keep;
}

// The objects of the first instance, which every instance must have when nothing else
// tells their number, as a scan of the whole file learns it; -1 when the first instance
// does not end. Both parts of a split scan then hold every instance to it.
std::int64_t first_instance_objects(SetReader& reader) {
    DefectsScan scan;
    open_part(reader, scan, ::dup(reader.defects.source.fd));
    if (next_defects_instance(scan).started) {
        std::vector<Defect> objects;
        while (append_object(scan, objects)) {
            objects.clear();
        }
    }
    close_line_source(scan.source);
    return scan.per_instance;
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

// The items file and then the second half of a large defects file on the calling thread,
// the first half on the worker. When the split fell where the file is damaged, the whole
// file is read again in one scan, so that its problems are told as one reading tells them.
void read_every_problem(SetReader& reader, Progress& progress, ReadThreads threads) {
    std::atomic<std::uint64_t> first_done{0};
    std::atomic<std::uint64_t> second_done{0};
    const auto show = [&] {
        show_progress(progress,
                      reader.items.source.bytes_done + first_done.load() + second_done.load());
    };
    std::vector<Item> items;
    DefectsScan& first = reader.defects;
    Split split = reader.has_defects ? find_split(first.source.fd) : Split{};
    if (split.offset != 0 && first.per_instance < 0) {
        // Without a number from instance 1 (it does not end, or holds more than MAXMOD
        // objects) one scan learns it later: only one scan tells the same then.
        first.per_instance = first_instance_objects(reader);
        split = first.per_instance < 0 ? Split{} : split;
    }
    DefectsScan second;
    if (split.offset != 0) {
        open_part(reader, second, ::dup(first.source.fd));
        second.source.offset = split.offset;
        second.instance = second.instances = split.instance - 1;
        second.per_instance = first.per_instance;
        first.source.stop = split.offset;
        first.file_goes_on = true;
    }
    Worker worker;
    std::atomic<bool> first_ended{false};
    const auto scan_first = [&] {
        struct Ended {
            std::atomic<bool>& ended;
            ~Ended() { ended = true; }
        } ended{first_ended};
        scan_to_end(first, first_done);
    };
    if (reader.has_defects &&
        (threads == ReadThreads::none || !start_worker(worker, scan_first))) {
        scan_first();
    }
    try {
        while (read_block(reader.items, items)) {
            show();
        }
        if (split.offset != 0) {
            scan_to_end(second, second_done, show);
        }
        // The worker's progress is drawn from here, the one thread that writes to stderr.
        while (progress.shown && reader.has_defects && !first_ended.load()) {
            show();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    } catch (...) {
        join_worker(worker);
        throw;
    }
    join_worker(worker);
    close_line_source(second.source);
    if (split.offset == 0) {
        return;
    }
    if (first.source.error == 0 && first.ends_cleanly &&
        std::int64_t{first.instance} + 1 == split.instance) {
        join_parts(first, second);
        return;
    }
    const int again = ::dup(first.source.fd);
    const std::size_t keep = first.problems.keep;
    close_line_source(first.source);
    first = DefectsScan{};
    open_part(reader, first, again);
    first.problems.keep = keep;
    scan_to_end(first, first_done, show);
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
    if (reader.every_problem) {
        read_every_problem(reader, progress, threads);
        return;
    }
    DefectsFeed feed;
    feed.scan = &reader.defects;
    feed.only = only_instance;
    Reading reading{&reader, only_instance, &progress, &take, {&feed, nullptr, {}}};
    Ring ring;
    Worker worker;
    if (reader.has_defects && threads == ReadThreads::defects_thread && start_worker(worker, [&] {
            try {
                fill_ring(feed, ring);
            } catch (...) {
                end_ring(ring, false);
                throw;
            }
            end_ring(ring, false);
        })) {
        reading.records.ring = &ring;
    }
    try {
        read_joined(reading);
    } catch (...) {
        end_ring(ring, true);
        join_worker(worker);
        throw;
    }
    end_ring(ring, true);
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
