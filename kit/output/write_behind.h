// Writing a target on a thread of its own while the caller makes the next bytes: the
// caller fills one buffer while the other goes to the file, so that a disk that takes
// its time holds up the command only when it is slower than the command itself.
#pragma once

#include "output/safe_output.h"
#include "output/worker.h"

#include <condition_variable>
#include <mutex>
#include <string>

struct WriteBehind {
    OutputTarget* target = nullptr;
    Worker worker;
    bool in_place = true; // no thread: write_behind writes the bytes itself
    std::mutex mutex;
    std::condition_variable changed;
    std::string pending; // bytes handed over and not yet written
    bool busy = false;   // `pending` holds bytes
    bool ending = false; // no more bytes will come
    bool failed = false; // a write has failed (the target tells why)
};

// Starts writing behind for `target`, which must stay open until end_write_behind. Writes
// in place when no thread can be started.
void start_write_behind(WriteBehind& behind, OutputTarget& target);
// Hands `bytes` over and gives back an empty buffer in their place, once the bytes handed
// over before have been written. False when a write has failed (then the caller stops).
bool write_behind(WriteBehind& behind, std::string& bytes);
// Waits until every byte handed over has been written and ends the thread.
void end_write_behind(WriteBehind& behind);
