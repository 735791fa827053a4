// Each file's side fills records in a ring of a few slots that the calling thread takes in
// order; a side waits only when its ring is full, the taker only when the ring it needs
// is empty. The taker joins the two sides' records in the turn of one reading of both
// files (set_sides.h), so that it meets the same problem first as the set reader does.
#include "read/read_ahead.h"

#include "read/set_sides.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// Enough for reading to run ahead of the taker, small enough for a few MB in all.
constexpr std::size_t ring_size = 4;
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

// Reads the current instance's objects: into `batch` when `wanted` (a partial object on a
// problem taken back), handing each full batch to `hand`, which returns the batch to fill
// next, or nullptr to stop; else into `skipped`, which keeps none. `append` adds the next
// object's defects, false at the instance's end. False when `hand` has stopped.
template <typename Append, typename Hand>
bool read_objects(ObjectBatch*& batch, bool wanted, std::vector<Defect>& skipped, Append append,
                  Hand hand) {
    for (;;) {
        if (!wanted) {
            skipped.clear();
            if (!append(skipped)) {
                return true;
            }
            continue;
        }
        const std::size_t before = batch->defects.size();
        if (!append(batch->defects)) {
            batch->defects.resize(before);
            return true;
        }
        batch->sizes.push_back(static_cast<std::uint32_t>(batch->defects.size() - before));
        if (full(*batch) && (batch = hand(batch)) == nullptr) {
            return false;
        }
    }
}

// Batches straight from the set reader, on the calling thread.
void read_in_turn(SetReader& reader, std::int32_t only_instance, Progress& progress,
                  const std::function<bool(const ObjectBatch&)>& take) {
    ObjectBatch whole;
    ObjectBatch* batch = &whole;
    std::vector<Defect> skipped; // the objects of instances not wanted
    const auto hand = [&](ObjectBatch* done) -> ObjectBatch* {
        show_progress(progress, reader.bytes_done);
        if (!take(*done)) {
            return nullptr;
        }
        clear(*done);
        return done;
    };
    while (next_instance(reader, whole.head)) {
        const std::int32_t number = whole.head.number;
        const bool wanted = only_instance == 0 || number == only_instance;
        whole.starts_instance = wanted;
        const auto append = [&](std::vector<Defect>& into) {
            return append_next_object(reader, into);
        };
        if (!read_objects(batch, wanted, skipped, append, hand) || !reader.problem.empty()) {
            return;
        }
        if (wanted) {
            whole.ends_instance = true;
            if (hand(batch) == nullptr) {
                return;
            }
        } else {
            show_progress(progress, reader.bytes_done);
        }
        if (only_instance != 0 && number >= only_instance) {
            return;
        }
    }
}

// Slots that one thread fills and the calling thread takes, in order.
template <typename Record> struct Ring {
    std::mutex mutex;
    std::condition_variable changed;
    Record slots[ring_size];
    std::size_t filled = 0;     // records handed over, counting from the start
    std::size_t taken = 0;      // records the taker is done with
    bool finished = false;      // the filler will hand over no more
    bool stopped = false;       // the taker wants no more
    std::exception_ptr failure; // what ended the filler, if it threw
};

// The filler hands over its current slot.
template <typename Record> void hand_over(Ring<Record>& ring) {
    std::lock_guard<std::mutex> lock(ring.mutex);
    ++ring.filled;
    ring.changed.notify_all();
}

// The filler's next slot once there is room, or nullptr when the taker wants no more.
template <typename Record> Record* next_empty(Ring<Record>& ring) {
    std::unique_lock<std::mutex> lock(ring.mutex);
    ring.changed.wait(lock, [&] { return ring.stopped || ring.filled - ring.taken < ring_size; });
    return ring.stopped ? nullptr : &ring.slots[ring.filled % ring_size];
}

template <typename Record> void finish(Ring<Record>& ring, std::exception_ptr failure) {
    std::lock_guard<std::mutex> lock(ring.mutex);
    ring.finished = true;
    ring.failure = std::move(failure);
    ring.changed.notify_all();
}

// The taker's next record, or nullptr when the filler has finished without one more.
template <typename Record> Record* next_filled(Ring<Record>& ring) {
    std::unique_lock<std::mutex> lock(ring.mutex);
    ring.changed.wait(lock, [&] { return ring.taken < ring.filled || ring.finished; });
    return ring.taken < ring.filled ? &ring.slots[ring.taken % ring_size] : nullptr;
}

template <typename Record> void release(Ring<Record>& ring) {
    std::lock_guard<std::mutex> lock(ring.mutex);
    ++ring.taken;
    ring.changed.notify_all();
}

template <typename Record> void stop(Ring<Record>& ring) {
    std::lock_guard<std::mutex> lock(ring.mutex);
    ring.stopped = true;
    ring.changed.notify_all();
}

// What the items file's thread hands over: a block, or the end of its reading.
struct BlockRecord {
    bool end = false;
    InstanceHead head;
    std::int32_t blocks = 0; // at the end: the blocks read
    SideProblem problem;     // at the end: what stopped the reading, if anything
};

// What the defects file's thread hands over: objects of one instance, the first batch of
// an instance with where the defects file stood at its start; `problem` ends the reading.
struct DefectsRecord {
    ObjectBatch batch;
    InstanceStart start;
    SideProblem problem;
};

// Every block to the end of the file or to instance `only` (0: all), then the end.
void fill_blocks(ItemsSide& side, std::int32_t only, Ring<BlockRecord>& ring,
                 std::atomic<std::uint64_t>& done) {
    for (BlockRecord* r = &ring.slots[0]; r != nullptr; r = next_empty(ring)) {
        r->end = !next_block(side, r->head);
        done.store(side.scan.source.bytes_done, std::memory_order_relaxed);
        if (r->end) {
            r->blocks = side.scan.blocks;
            r->problem = side.problem;
        }
        hand_over(ring);
        if (r->end || (only != 0 && r->head.number >= only)) {
            return;
        }
    }
}

// Every instance, in batches as read_in_turn makes them; one record for an instance not
// wanted. A record with a problem, or one without a start, is the last.
void fill_objects(DefectsSide& side, std::int32_t only, Ring<DefectsRecord>& ring,
                  std::atomic<std::uint64_t>& done) {
    std::vector<Defect> skipped;
    DefectsRecord* r = &ring.slots[0];
    const auto next = [&] {
        done.store(side.scan.source.bytes_done, std::memory_order_relaxed);
        hand_over(ring);
        r = next_empty(ring);
        if (r != nullptr) {
            clear(r->batch);
        }
        return r != nullptr;
    };
    for (std::int32_t number = 1;; ++number) {
        r->batch.starts_instance = true;
        r->start = next_defects_instance(side);
        r->problem = side.problem;
        if (!r->start.started || !r->problem.text.empty()) {
            hand_over(ring);
            return;
        }
        const bool wanted = only == 0 || number == only;
        ObjectBatch* batch = &r->batch;
        const auto append = [&](std::vector<Defect>& into) { return append_object(side, into); };
        const auto hand = [&](ObjectBatch*) { return next() ? &r->batch : nullptr; };
        if (!read_objects(batch, wanted, skipped, append, hand)) {
            return;
        }
        r->problem = side.problem;
        r->batch.ends_instance = true;
        if (!r->problem.text.empty() || (only != 0 && number >= only)) {
            done.store(side.scan.source.bytes_done, std::memory_order_relaxed);
            hand_over(ring);
            return;
        }
        if (!next()) {
            return;
        }
    }
}

// The taker: both sides' records joined instance by instance, the wanted batches handed
// to `take`. Returns when the set or `only` ends, on a problem, when `take` stops, or
// when a filler has thrown.
template <typename Shown>
void join_sides(SetReader& reader, std::int32_t only, Ring<BlockRecord>& blocks,
                Ring<DefectsRecord>& objects, Shown shown,
                const std::function<bool(const ObjectBatch&)>& take) {
    const std::string& items_path = reader.set->items_path;
    const std::string& defects_path = reader.set->defects_path;
    for (;;) {
        BlockRecord* block = next_filled(blocks);
        if (block == nullptr) {
            return;
        }
        if (block->end) {
            SideProblem problem = block->problem;
            if (problem.text.empty()) {
                const DefectsRecord* d = next_filled(objects);
                if (d == nullptr) {
                    return;
                }
                problem =
                    join_items_end(items_path, block->blocks, defects_path, d->start, d->problem);
            }
            take_side_problem(reader, problem);
            return;
        }
        const std::int32_t number = block->head.number;
        const bool wanted = only == 0 || number == only;
        for (bool first = true;; first = false) {
            DefectsRecord* d = next_filled(objects);
            if (d == nullptr) {
                return;
            }
            const SideProblem problem =
                first ? join_block(items_path, defects_path, d->start, d->problem) : d->problem;
            if (!problem.text.empty()) {
                take_side_problem(reader, problem);
                return;
            }
            if (wanted) {
                if (d->batch.starts_instance) {
                    d->batch.head.number = number;
                    d->batch.head.items.swap(block->head.items);
                }
                if (!take(d->batch)) {
                    return;
                }
            }
            const bool ends = d->batch.ends_instance;
            release(objects);
            shown();
            if (ends) {
                break;
            }
        }
        release(blocks);
        if (only != 0 && number >= only) {
            return;
        }
    }
}

// Holds both threads back until both have started, so that the set is read in turn when
// the second cannot be: `go` is then false.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    bool go = false;
};

bool wait_at(Gate& gate) {
    std::unique_lock<std::mutex> lock(gate.mutex);
    gate.opened.wait(lock, [&] { return gate.open; });
    return gate.go;
}

void open_gate(Gate& gate, bool go) {
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.open = true;
    gate.go = go;
    gate.opened.notify_all();
}

template <typename Record, typename Fill> auto filler(Gate& gate, Ring<Record>& ring, Fill fill) {
    return [&gate, &ring, fill] {
        if (!wait_at(gate)) {
            return;
        }
        std::exception_ptr failure;
        try {
            fill();
        } catch (...) {
            // Memory that cannot be had while reading: thrown again on the calling thread
            // once this one has been joined.
            failure = std::current_exception();
        }
        finish(ring, failure);
    };
}

} // namespace

void read_ahead(SetReader& reader, std::int32_t only_instance, Progress& progress,
                const std::function<bool(const ObjectBatch&)>& take, ReadThreads threads) {
    if (reader.state == nullptr || !reader.problem.empty()) {
        return;
    }
    SetReaderState& s = *reader.state;
    if (threads == ReadThreads::none || !s.has_defects) {
        read_in_turn(reader, only_instance, progress, take);
        return;
    }
    Ring<BlockRecord> blocks;
    Ring<DefectsRecord> objects;
    std::atomic<std::uint64_t> items_done{0};
    std::atomic<std::uint64_t> defects_done{0};
    Gate gate;
    std::thread items_thread;
    std::thread defects_thread;
    try {
        items_thread = std::thread(
            filler(gate, blocks, [&] { fill_blocks(s.items, only_instance, blocks, items_done); }));
        defects_thread = std::thread(filler(
            gate, objects, [&] { fill_objects(s.defects, only_instance, objects, defects_done); }));
    } catch (const std::system_error&) {
        open_gate(gate, false);
        if (items_thread.joinable()) {
            items_thread.join();
        }
        read_in_turn(reader, only_instance, progress, take);
        return;
    }
    open_gate(gate, true);
    const auto end_both = [&] {
        stop(blocks);
        stop(objects);
        items_thread.join();
        defects_thread.join();
        reader.bytes_done = items_done.load() + defects_done.load();
    };
    try {
        join_sides(
            reader, only_instance, blocks, objects,
            [&] { show_progress(progress, items_done.load() + defects_done.load()); }, take);
    } catch (...) {
        end_both();
        throw;
    }
    end_both();
    for (const std::exception_ptr& failure : {blocks.failure, objects.failure}) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}
