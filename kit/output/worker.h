// A job on a thread of its own beside the caller: every thread of defectkit is started,
// joined and made to hand back what it threw here.
//
// DESIGN. start_worker starts the job, or says that no thread can be had (the machine's
// limit on threads or memory); the caller then does the same work in place itself, so
// that every command finishes without a thread too. What the job throws (memory that
// cannot be had) is caught on its thread and thrown again by join_worker on the caller's,
// after the join, so that the command ends as it would have on one thread. The job and
// the caller meet only through a record of their own (a ring, a buffer) with its mutex.
#pragma once

#include <exception>
#include <system_error>
#include <thread>
#include <utility>

struct Worker {
    std::thread thread;
    std::exception_ptr failure; // what the job threw; read after the join only
};

// Starts `job` on a thread; false when none can be started (the caller works in place).
template <typename Job> bool start_worker(Worker& worker, Job job) {
    try {
        worker.thread = std::thread([&worker, job]() mutable {
            try {
                job();
            } catch (...) {
                worker.failure = std::current_exception();
            }
        });
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

// Waits for the job to end, if it was started, and throws what it threw.
inline void join_worker(Worker& worker) {
    if (worker.thread.joinable()) {
        worker.thread.join();
    }
    if (worker.failure) {
        std::rethrow_exception(std::exchange(worker.failure, nullptr));
    }
}
