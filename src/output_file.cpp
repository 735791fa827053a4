#include "output_file.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

// write(2) until every byte is out; false when one cannot be written.
bool write_all(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t done = ::write(fd, bytes, count);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        bytes += done;
        count -= static_cast<std::size_t>(done);
    }
    return true;
}

// Hands a slot's bytes to the file, to memory or to the comparison. Runs on one thread
// at a time, the one that writes.
void write_slot(OutputFile& out, const OutputSlot& slot) {
    const char* bytes = slot.bytes.get();
    const auto count = static_cast<std::size_t>(slot.end - bytes);
    if (count == 0 || out.failed.load(std::memory_order_relaxed)) {
        return;
    }
    switch (out.kind) {
    case SinkKind::disk:
        if (!write_all(out.fd, bytes, count)) {
            out.failed = true;
        }
        break;
    case SinkKind::memory: {
        const std::size_t room = out.memory_limit - out.memory->size();
        try {
            out.memory->append(bytes, count < room ? count : room);
        } catch (const std::bad_alloc&) {
            // Back to the end of the last whole part, as a run stopped for want of
            // memory leaves its files.
            out.memory->resize(out.memory_whole);
            out.out_of_memory = true;
            out.failed = true;
            return;
        }
        if (count > room) {
            out.failed = true;
        } else if (slot.commits) {
            out.memory_whole = out.memory->size();
        }
        break;
    }
    case SinkKind::compare:
        compare_bytes(out.comparison, bytes, count);
        break;
    }
}

// Whether the slot next in turn may go out now: its bytes are complete and committed.
// While a worker writes it, it is writing, not ready, so only one thread writes at a
// time.
bool head_writable(const OutputFile& out) {
    return out.written < out.committed &&
           out.slots[out.written % output_slot_count].state == SlotState::ready;
}

// Writes every committed slot that is ready, from the one next in turn on, with the
// mutex released, and frees them; in the order of the jobs, since one thread at a time
// writes.
void write_ready_slots(OutputFile& out, std::unique_lock<std::mutex>& lock) {
    const std::uint64_t first = out.written;
    std::uint64_t end = first;
    while (end < out.committed && out.slots[end % output_slot_count].state == SlotState::ready) {
        out.slots[end % output_slot_count].state = SlotState::writing;
        ++end;
    }
    lock.unlock();
    for (std::uint64_t seq = first; seq < end; ++seq) {
        write_slot(out, out.slots[seq % output_slot_count]);
    }
    lock.lock();
    for (std::uint64_t seq = first; seq < end; ++seq) {
        out.slots[seq % output_slot_count].state = SlotState::free;
    }
    out.written = end;
    out.slot_free.notify_one();
}

// The earliest slot whose job waits for a worker, or nullptr.
OutputSlot* pending_slot(OutputFile& out) {
    for (std::uint64_t seq = out.written; seq < out.taken; ++seq) {
        OutputSlot& slot = out.slots[seq % output_slot_count];
        if (slot.state == SlotState::pending) {
            return &slot;
        }
    }
    return nullptr;
}

// Runs a slot's job with the mutex released, and marks its bytes complete.
void run_job(OutputSlot& slot, std::unique_lock<std::mutex>& lock) {
    slot.state = SlotState::formatting;
    OutputJob job = std::move(slot.job);
    slot.job = nullptr;
    lock.unlock();
    char* end = job(slot.bytes.get());
    lock.lock();
    slot.end = end;
    slot.state = SlotState::ready;
}

// A worker writes what may go out, else formats the earliest job waiting. It leaves
// when closing finds it nothing to do: a slot another worker formats or writes is
// finished by that worker, which looks again for what may go out when it is done.
void worker_loop(OutputFile& out) {
    std::unique_lock lock(out.mutex);
    for (;;) {
        OutputSlot* slot = nullptr;
        out.work.wait(lock, [&] {
            slot = pending_slot(out);
            return slot != nullptr || head_writable(out) || out.closing;
        });
        if (head_writable(out)) {
            write_ready_slots(out, lock);
        } else if (slot != nullptr) {
            run_job(*slot, lock);
        } else {
            return;
        }
    }
}

// Lets the workers finish what was queued (writing it only if committed) and joins
// them; without workers, writes what may go out on this thread.
void stop_threads(OutputFile& out, bool commit_all) {
    {
        std::unique_lock lock(out.mutex);
        if (commit_all) {
            out.committed = out.taken;
        }
        out.closing = true;
        if (out.workers.empty()) {
            while (head_writable(out)) {
                write_ready_slots(out, lock);
            }
        }
        out.work.notify_all();
    }
    for (std::thread& worker : out.workers) {
        worker.join();
    }
    out.workers.clear();
}

OutputStatus start_threads(OutputFile& out, int workers) {
    try {
        for (int i = 0; i < workers; ++i) {
            out.workers.emplace_back(worker_loop, std::ref(out));
        }
    } catch (const std::system_error&) {
        stop_threads(out, false);
        return OutputStatus::no_thread;
    } catch (const std::bad_alloc&) {
        stop_threads(out, false);
        return OutputStatus::no_memory;
    }
    return OutputStatus::ok;
}

// Creates the file, or opens it without emptying it yet; a regular file is emptied only
// once this run holds its lock. Two descriptors of one open file: the one written to,
// closed when the file is complete, and the lock's, closed when the run is done with the file.
OutputStatus open_disk_file(OutputFile& out, const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return OutputStatus::cannot_create;
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    int stream_fd = fd;
    if (regular) {
        // A file system without locks lets the run go on unlocked.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);
            return OutputStatus::locked;
        }
        // Emptying a file that is empty already is not done: on some file systems (ext4)
        // any truncation to nothing makes the last close push every page of the new
        // contents towards the disk on the closing thread, which would then wait for it.
        struct stat locked {};
        const bool empty = ::fstat(fd, &locked) == 0 && locked.st_size == 0;
        stream_fd = empty || ::ftruncate(fd, 0) == 0 ? ::dup(fd) : -1;
        if (stream_fd < 0) {
            ::close(fd);
            return OutputStatus::cannot_create;
        }
        out.lock = fd;
    }
    out.fd = stream_fd;
    return OutputStatus::ok;
}

OutputStatus open_destination(OutputFile& out, const std::string& name, OutputSink& sink) {
    const std::string path = sink_path(sink, name);
    switch (sink.kind) {
    case SinkKind::disk:
        return open_disk_file(out, path);
    case SinkKind::memory: {
        std::string& contents = sink.memory->files[path];
        contents.clear();
        out.memory = &contents;
        out.memory_limit = sink.memory->max_file_size;
        return OutputStatus::ok;
    }
    case SinkKind::compare:
        start_comparison(out.comparison, sink.compared[name], path, output_slot_size);
        return OutputStatus::ok;
    }
    return OutputStatus::cannot_create;
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

OutputStatus finish(OutputFile& out, bool commit_all) {
    if (!out.open) {
        return OutputStatus::ok;
    }
    stop_threads(out, commit_all);
    if (out.fd >= 0) {
        if (::close(out.fd) != 0) {
            out.failed = true;
        }
        out.fd = -1;
    }
    if (out.comparison.result != nullptr) {
        finish_comparison(out.comparison);
    }
    for (OutputSlot& slot : out.slots) {
        slot = OutputSlot{};
    }
    out.memory = nullptr;
    out.open = false;
    if (out.out_of_memory) {
        return OutputStatus::no_memory;
    }
    return out.failed ? OutputStatus::cannot_write : OutputStatus::ok;
}

} // namespace

OutputStatus open_output(OutputFile& out, const std::string& name, OutputSink& sink, int workers) {
    out.kind = sink.kind;
    out.failed = false;
    out.out_of_memory = false;
    out.closing = false;
    out.taken = out.committed = out.written = 0;
    out.memory_whole = 0;
    if (const OutputStatus started = start_threads(out, workers); started != OutputStatus::ok) {
        return started;
    }
    OutputStatus opened = OutputStatus::ok;
    try {
        opened = open_destination(out, name, sink);
    } catch (const std::bad_alloc&) {
        opened = OutputStatus::no_memory;
    }
    if (opened != OutputStatus::ok) {
        stop_threads(out, false);
        close_comparison(out.comparison);
        return opened;
    }
    out.open = true;
    return OutputStatus::ok;
}

void output_job(OutputFile& out, OutputJob job, bool commit) {
    std::unique_lock lock(out.mutex);
    OutputSlot& slot = take_slot(out, lock);
    slot.job = std::move(job);
    slot.commits = commit;
    if (commit) {
        out.committed = out.taken;
    }
    if (out.workers.empty()) {
        run_job(slot, lock);
        while (head_writable(out)) {
            write_ready_slots(out, lock);
        }
        return;
    }
    out.work.notify_one();
    // Slots ready before may have waited for this commit alone.
    if (head_writable(out)) {
        out.work.notify_one();
    }
}

OutputStatus close_output(OutputFile& out) {
    return finish(out, true);
}

OutputStatus abandon_output(OutputFile& out) {
    return finish(out, false);
}

void unlock_output(OutputFile& out) {
    if (out.lock >= 0) {
        ::close(out.lock);
        out.lock = -1;
    }
}

OutputFile::~OutputFile() {
    (void)close_output(*this);
    unlock_output(*this);
}
