// The reader thread fills batches and the calling thread takes them, in order, through a
// ring of a few buffers guarded by one mutex; either side waits only when the ring is full
// or empty. A stop from the taker, or the end of the set, ends both.
#include "read_ahead.h"

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

struct Ring {
    std::mutex mutex;
    std::condition_variable changed;
    ObjectBatch slots[ring_size];
    std::size_t filled = 0;     // batches written, counting from the start
    std::size_t taken = 0;      // batches the taker is done with
    bool finished = false;      // the reader will fill no more
    bool stopped = false;       // the taker wants no more
    std::exception_ptr failure; // what ended the reading thread, if it threw
};

// Fills batches from the reader and hands each to `hand`, which returns the next empty
// batch to fill (or nullptr to stop).
template <typename Hand>
void fill(SetReader& reader, std::int32_t only_instance, Progress& progress, ObjectBatch* batch,
          Hand hand) {
    std::vector<Defect> skipped; // the objects of instances not wanted
    InstanceHead head;
    while (batch != nullptr && next_instance(reader, head)) {
        const bool wanted = only_instance == 0 || head.number == only_instance;
        if (wanted) {
            batch->starts_instance = true;
            batch->head = head;
        }
        for (;;) {
            if (!wanted) {
                if (!next_object(reader, skipped)) {
                    break;
                }
                continue;
            }
            // Read straight into the batch; a partial object on a problem is taken back.
            const std::size_t before = batch->defects.size();
            if (!append_next_object(reader, batch->defects)) {
                batch->defects.resize(before);
                break;
            }
            batch->sizes.push_back(static_cast<std::uint32_t>(batch->defects.size() - before));
            if (batch->defects.size() >= batch_defects || batch->sizes.size() >= batch_objects) {
                show_progress(progress, reader.bytes_done);
                batch = hand(batch);
                if (batch == nullptr) {
                    return;
                }
            }
        }
        if (!reader.problem.empty()) {
            return;
        }
        show_progress(progress, reader.bytes_done);
        if (wanted) {
            batch->ends_instance = true;
            batch = hand(batch);
        }
        if (only_instance != 0 && head.number >= only_instance) {
            return;
        }
    }
}

void clear(ObjectBatch& batch) {
    batch.starts_instance = false;
    batch.ends_instance = false;
    batch.defects.clear();
    batch.sizes.clear();
}

} // namespace

void read_ahead(SetReader& reader, std::int32_t only_instance, Progress& progress,
                const std::function<bool(const ObjectBatch&)>& take) {
    Ring ring;
    std::thread reading;
    try {
        reading = std::thread([&] {
            const auto hand = [&](ObjectBatch*) -> ObjectBatch* {
                std::unique_lock<std::mutex> lock(ring.mutex);
                ++ring.filled;
                ring.changed.notify_all();
                ring.changed.wait(
                    lock, [&] { return ring.stopped || ring.filled - ring.taken < ring_size; });
                if (ring.stopped) {
                    return nullptr;
                }
                ObjectBatch* next = &ring.slots[ring.filled % ring_size];
                clear(*next);
                return next;
            };
            try {
                fill(reader, only_instance, progress, &ring.slots[0], hand);
            } catch (...) {
                // Memory that cannot be had while reading: handed to the taker, which
                // throws it again once this thread has been joined.
                ring.failure = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(ring.mutex);
            ring.finished = true;
            ring.changed.notify_all();
        });
    } catch (const std::system_error&) {
        // No second thread: read and take in turn, one batch at a time.
        ObjectBatch batch;
        fill(reader, only_instance, progress, &batch, [&](ObjectBatch* done) -> ObjectBatch* {
            if (!take(*done)) {
                return nullptr;
            }
            clear(*done);
            return done;
        });
        return;
    }
    for (;;) {
        ObjectBatch* batch = nullptr;
        {
            std::unique_lock<std::mutex> lock(ring.mutex);
            ring.changed.wait(lock, [&] { return ring.taken < ring.filled || ring.finished; });
            if (ring.taken == ring.filled) {
                break; // finished, and everything taken
            }
            batch = &ring.slots[ring.taken % ring_size];
        }
        bool more = false;
        try {
            more = take(*batch);
        } catch (...) {
            // The reading thread is stopped and joined before the failure goes on.
            {
                std::lock_guard<std::mutex> lock(ring.mutex);
                ring.stopped = true;
                ring.changed.notify_all();
            }
            reading.join();
            throw;
        }
        std::lock_guard<std::mutex> lock(ring.mutex);
        ++ring.taken;
        if (!more) {
            ring.stopped = true;
        }
        ring.changed.notify_all();
        if (!more) {
            break;
        }
    }
    reading.join();
    if (ring.failure) {
        std::rethrow_exception(ring.failure);
    }
}
