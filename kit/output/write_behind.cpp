#include "output/write_behind.h"

namespace {

void write_pending(WriteBehind& behind) {
    std::unique_lock<std::mutex> lock(behind.mutex);
    for (;;) {
        behind.changed.wait(lock, [&] { return behind.busy || behind.ending; });
        if (!behind.busy) {
            return; // ending, and everything written
        }
        lock.unlock();
        // Only this thread touches the target and `pending` while `busy` is set.
        write_target(*behind.target, behind.pending);
        behind.pending.clear();
        lock.lock();
        behind.failed = behind.target->failed;
        behind.busy = false;
        behind.changed.notify_all();
    }
}

} // namespace

void start_write_behind(WriteBehind& behind, OutputTarget& target) {
    behind.target = &target;
    behind.in_place = !start_worker(behind.worker, [&behind] { write_pending(behind); });
}

bool write_behind(WriteBehind& behind, std::string& bytes) {
    if (behind.in_place) {
        write_target(*behind.target, bytes);
        bytes.clear();
        return !behind.target->failed;
    }
    std::unique_lock<std::mutex> lock(behind.mutex);
    behind.changed.wait(lock, [&] { return !behind.busy; });
    if (behind.failed) {
        bytes.clear();
        return false;
    }
    behind.pending.swap(bytes);
    behind.busy = true;
    behind.changed.notify_all();
    return true;
}

void end_write_behind(WriteBehind& behind) {
    if (behind.in_place) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(behind.mutex);
        behind.ending = true;
        behind.changed.notify_all();
    }
    join_worker(behind.worker);
}
