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

// Hands a slot's bytes to the file, to memory or to the comparison. Runs on the writer
// thread only.
void write_slot(OutputFile& out, const OutputSlot& slot) {
    const char* bytes = slot.bytes.get();
    const auto count = static_cast<std::size_t>(slot.end - bytes);
    if (count == 0 || out.failed.load(std::memory_order_relaxed)) {
        return;
    }
    switch (out.kind) {
    case SinkKind::disk:
        if (std::fwrite(bytes, 1, count, out.file) != count) {
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

void writer_loop(OutputFile& out) {
    std::unique_lock lock(out.mutex);
    for (;;) {
        OutputSlot& slot = out.slots[out.written % output_slot_count];
        out.changed.wait(lock, [&] {
            return (out.written < out.committed && slot.state == SlotState::ready) ||
                   (out.closing && out.written == out.committed);
        });
        if (out.written == out.committed) {
            return;
        }
        slot.state = SlotState::writing;
        lock.unlock();
        write_slot(out, slot);
        lock.lock();
        slot.state = SlotState::free;
        ++out.written;
        out.changed.notify_all();
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

// Runs a slot's job with the mutex released, and marks its bytes complete.
void run_job(OutputFile& out, OutputSlot& slot, std::unique_lock<std::mutex>& lock) {
    slot.state = SlotState::formatting;
    OutputJob job = std::move(slot.job);
    slot.job = nullptr;
    lock.unlock();
    char* end = job(slot.bytes.get());
    lock.lock();
    slot.end = end;
    slot.state = SlotState::ready;
    out.changed.notify_all();
}

void formatter_loop(OutputFile& out) {
    std::unique_lock lock(out.mutex);
    for (;;) {
        OutputSlot* slot = nullptr;
        out.changed.wait(lock, [&] {
            slot = pending_slot(out);
            return slot != nullptr || out.closing;
        });
        if (slot == nullptr) {
            return;
        }
        run_job(out, *slot, lock);
    }
}

// Lets the threads finish what was queued (writing it only if committed) and joins
// them.
void stop_threads(OutputFile& out, bool commit_all) {
    {
        std::lock_guard lock(out.mutex);
        if (commit_all) {
            out.committed = out.taken;
        }
        out.closing = true;
        out.changed.notify_all();
    }
    for (std::thread& formatter : out.formatters) {
        formatter.join();
    }
    out.formatters.clear();
    if (out.writer.joinable()) {
        out.writer.join();
    }
}

OutputStatus start_threads(OutputFile& out, int formatters) {
    try {
        out.writer = std::thread(writer_loop, std::ref(out));
        for (int i = 0; i < formatters; ++i) {
            out.formatters.emplace_back(formatter_loop, std::ref(out));
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
// once this run holds its lock. Two descriptors of one open file: the stream's, closed
// with the stream, and the lock's, closed when the run is done with the file.
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
        stream_fd = ::ftruncate(fd, 0) == 0 ? ::dup(fd) : -1;
        if (stream_fd < 0) {
            ::close(fd);
            return OutputStatus::cannot_create;
        }
        out.lock = fd;
    }
    out.file = ::fdopen(stream_fd, "w");
    if (out.file == nullptr) {
        ::close(stream_fd);
        unlock_output(out);
        return OutputStatus::cannot_create;
    }
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
    out.changed.wait(lock, [&] { return slot.state == SlotState::free; });
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
    if (out.file != nullptr) {
        if (std::fclose(out.file) != 0) {
            out.failed = true;
        }
        out.file = nullptr;
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

OutputStatus open_output(OutputFile& out, const std::string& name, OutputSink& sink,
                         int formatters) {
    out.kind = sink.kind;
    out.failed = false;
    out.out_of_memory = false;
    out.closing = false;
    out.taken = out.committed = out.written = 0;
    out.memory_whole = 0;
    if (const OutputStatus started = start_threads(out, formatters); started != OutputStatus::ok) {
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
    if (out.formatters.empty()) {
        run_job(out, slot, lock);
    } else {
        out.changed.notify_all();
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
