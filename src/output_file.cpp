#include "output_file.h"

#include <system_error>
#include <utility>

namespace {

// Hands the bytes to the file or to memory. Runs on the writer thread only.
void write_bytes(OutputFile& out, const char* bytes, std::size_t count) {
    if (count == 0 || out.failed.load(std::memory_order_relaxed)) {
        return;
    }
    if (out.memory != nullptr) {
        const std::size_t room = out.memory_limit - out.memory->size();
        out.memory->append(bytes, count < room ? count : room);
        if (count > room) {
            out.failed = true;
        }
    } else if (std::fwrite(bytes, 1, count, out.file) != count) {
        out.failed = true;
    }
}

void writer_loop(OutputFile& out) {
    std::unique_lock lock(out.mutex);
    for (;;) {
        out.slot_ready.wait(lock, [&out] {
            return (out.written < out.taken &&
                    out.slots[out.written % output_slot_count].state == SlotState::ready) ||
                   (out.closing && out.written == out.taken);
        });
        if (out.written == out.taken) {
            return;
        }
        OutputSlot& slot = out.slots[out.written % output_slot_count];
        lock.unlock();
        write_bytes(out, slot.bytes.get(), static_cast<std::size_t>(slot.end - slot.bytes.get()));
        lock.lock();
        slot.state = SlotState::free;
        ++out.written;
        out.slot_free.notify_one();
    }
}

// Marks a slot's bytes as complete; the writer is woken only when it waits for this
// very slot, since it writes the slots in turn.
void mark_ready(OutputFile& out, OutputSlot& slot, char* end) {
    slot.end = end;
    slot.state = SlotState::ready;
    if (&slot == &out.slots[out.written % output_slot_count]) {
        out.slot_ready.notify_one();
    }
}

// The earliest slot whose job waits for a formatter, or nullptr.
OutputSlot* pending_slot(OutputFile& out) {
    for (std::uint64_t seq = out.written; seq < out.taken; ++seq) {
        OutputSlot& slot = out.slots[seq % output_slot_count];
        if (slot.state == SlotState::pending) {
            return &slot;
        }
    }
    return nullptr;
}

void formatter_loop(OutputFile& out) {
    std::unique_lock lock(out.mutex);
    for (;;) {
        OutputSlot* slot = nullptr;
        out.job_queued.wait(lock, [&] {
            slot = pending_slot(out);
            return slot != nullptr || out.closing;
        });
        if (slot == nullptr) {
            return;
        }
        slot->state = SlotState::formatting;
        OutputJob job = std::move(slot->job);
        lock.unlock();
        char* end = job(slot->bytes.get());
        lock.lock();
        mark_ready(out, *slot, end);
    }
}

// Waits until the next slot in turn has been written out, and takes it.
OutputSlot& take_slot(OutputFile& out, std::unique_lock<std::mutex>& lock) {
    OutputSlot& slot = out.slots[out.taken % output_slot_count];
    out.slot_free.wait(lock, [&] { return slot.state == SlotState::free; });
    if (!slot.bytes) {
        slot.bytes = std::make_unique_for_overwrite<char[]>(output_slot_size);
    }
    slot.state = SlotState::pending;
    slot.end = slot.bytes.get();
    ++out.taken;
    return slot;
}

} // namespace

bool open_output(OutputFile& out, const char* name, MemoryFiles* memory) {
    if (memory != nullptr) {
        std::string& contents = memory->files[name];
        contents.clear();
        out.memory = &contents;
        out.memory_limit = memory->max_file_size;
    } else {
        out.file = std::fopen(name, "w");
        if (out.file == nullptr) {
            return false;
        }
    }
    out.failed = false;
    out.closing = false;
    try {
        out.writer = std::thread(writer_loop, std::ref(out));
    } catch (const std::system_error&) {
        // Without a writer nothing could reach the file.
        if (out.file != nullptr) {
            std::fclose(out.file);
            out.file = nullptr;
        }
        return false;
    }
    out.open = true;
    return true;
}

void output_job(OutputFile& out, OutputJob job) {
    std::unique_lock lock(out.mutex);
    if (out.formatters.empty()) {
        try {
            for (int i = 0; i < out.formatter_count; ++i) {
                out.formatters.emplace_back(formatter_loop, std::ref(out));
            }
        } catch (const std::system_error&) {
            // Fewer formatters only cost time; with none, jobs run right here.
        }
    }
    OutputSlot& slot = take_slot(out, lock);
    if (out.formatters.empty()) {
        slot.state = SlotState::formatting;
        lock.unlock();
        char* end = job(slot.bytes.get());
        lock.lock();
        mark_ready(out, slot, end);
    } else {
        slot.job = std::move(job);
        out.job_queued.notify_one();
    }
}

bool close_output(OutputFile& out) {
    if (!out.open) {
        return !out.failed;
    }
    {
        std::unique_lock lock(out.mutex);
        out.closing = true;
        out.job_queued.notify_all();
        out.slot_ready.notify_all();
    }
    // Formatters finish the jobs already queued before they see `closing` with nothing
    // left; the writer writes every slot taken before it stops.
    for (std::thread& formatter : out.formatters) {
        formatter.join();
    }
    out.formatters.clear();
    out.writer.join();
    if (out.file != nullptr) {
        if (std::fclose(out.file) != 0) {
            out.failed = true;
        }
        out.file = nullptr;
    }
    out.memory = nullptr;
    out.open = false;
    return !out.failed;
}

OutputFile::~OutputFile() {
    (void)close_output(*this);
}
