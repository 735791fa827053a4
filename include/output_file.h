// Output of the instance files: to disk, into memory, or held against files that exist
// already (see output_sink.h).
//
// DESIGN
// The run hands over jobs, each of which writes one piece of the file into a slot of a
// ring of output_slot_count slots of output_slot_size bytes. Worker threads run the jobs,
// several at once and in any order, and hand the slots to the file strictly in the order
// in which their jobs were handed over. Generating, formatting and writing thus all work
// at the same time without changing a byte.
//
// A slot goes through free -> pending (the run has put a job in it) -> formatting (a
// worker runs the job) -> ready (its bytes are complete) -> writing (a worker hands
// them to the file) -> free again once written. Slots are taken in turn, and a slot's
// sequence number modulo the ring size is its place: the run waits only for the slot
// of sequence `taken` to be free. A worker that is free writes first, if the slot of
// sequence `written` is ready, every ready committed slot from there on; otherwise it
// runs the earliest pending job. While one worker writes, the slot of sequence `written`
// is writing, not ready, so one worker at a time writes. The worker that completes the
// slot next in turn thus writes it at once, from its own cache, and no thread sits
// waiting to write: there are as many workers as cores, and the run's own thread besides.
//
// One mutex guards every slot's state, job and end, the counters and the flag. Two
// condition variables: the run waits on `slot_free` for its next slot, notified as
// slots are written; idle workers wait on `work`, notified when a job is queued or a
// commit lets ready slots go out. Whatever a worker finishes, it looks again for what
// may go out before it sleeps, so nothing ready waits for a notification. A slot's
// bytes are touched outside the mutex by one thread at a time: the worker that set it
// to formatting, then the one that set it to writing; the change of state under the
// mutex hands the bytes from one to the next. Only committed slots are written (see
// output_job), so that a run stopped midway can leave nothing of an unfinished block
// behind; closing commits all. Without workers, each job runs and is written on the
// thread that queues it.
//
// Liveness: a slot is free again only once written, and only committed slots are
// written, so an uncommitted job holds its slot until a later job commits. Taking a slot
// waits for the job output_slot_count jobs back; so at most output_slot_count - 1
// uncommitted jobs may be in flight at once, and the job after that many must commit, or
// the run waits for ever. Closing commits without taking a slot and never waits on this.
// Each caller decides for each job whether it commits: the items file commits every
// piece that ends at a block end, so only an instance too large for one piece leaves
// pieces uncommitted, fewer than the ring has slots (asserted in run_driver.cpp); the
// defects file commits every piece. The items file once broke the rule: a piece that an
// instance's last item filled went out before its block end, uncommitted, so instances
// that filled pieces exactly left every piece uncommitted and the run hung.
#pragma once

#include "output_compare.h"
#include "output_sink.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

inline constexpr std::size_t output_slot_size = std::size_t{512} * 1024;
inline constexpr std::size_t output_slot_count = 16;
inline constexpr int output_worker_count = 2;

// Work that fills a slot on a worker thread: writes from `begin` (at most
// output_slot_size bytes) and returns the end of what it wrote. It must not throw.
using OutputJob = std::function<char*(char* begin)>;

enum class SlotState { free, pending, formatting, ready, writing };

struct OutputSlot {
    std::unique_ptr<char[]> bytes;
    char* end = nullptr; // end of the bytes to write, once ready
    SlotState state = SlotState::free;
    bool commits = false; // its job's bytes end a whole part of the file
    OutputJob job;
};

// How opening or closing an output file went.
enum class OutputStatus {
    ok,
    cannot_create, // the file cannot be created or emptied
    locked,        // another run holds the file's lock; it was left as it was
    no_memory,     // memory for the output could not be had
    no_thread,     // a worker thread could not be started
    cannot_write,  // some bytes could not be written
};

struct OutputFile {
    SinkKind kind = SinkKind::disk;
    int fd = -1;   // disk: the descriptor written to
    int lock = -1; // disk, regular files: the descriptor that holds the lock
    std::string* memory = nullptr;
    std::size_t memory_limit = SIZE_MAX;
    std::size_t memory_whole = 0; // size of the memory file after its last committed slot
    OutputComparison comparison;  // compare
    bool open = false;
    std::atomic<bool> failed{false}; // some bytes could not be written
    bool out_of_memory = false;      // ... because memory ran out (set by the worker that wrote)

    std::array<OutputSlot, output_slot_count> slots;
    std::uint64_t taken = 0;     // sequence number of the next slot to take
    std::uint64_t committed = 0; // slots before this one may be written
    std::uint64_t written = 0;   // slots written so far
    bool closing = false;
    std::mutex mutex;
    std::condition_variable slot_free; // the run waits here for its next slot
    std::condition_variable work;      // idle workers wait here
    std::vector<std::thread> workers;

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();
};

// Starts `workers` worker threads (with none, every job runs and is written on the
// thread that queues it), then creates or empties the file the sink gives `name`, in
// text mode. A regular file on disk is locked before it is emptied, and stays locked
// until unlock_output: a run that finds it locked leaves it alone. In compare mode
// nothing is created, written or locked; a missing file is a comparison that is not
// readable.
OutputStatus open_output(OutputFile& out, const std::string& name, OutputSink& sink, int workers);
// Queues a job whose bytes follow those of every job queued before it. Waits while
// every slot is in use; throws std::bad_alloc when a slot's memory cannot be had.
// `commit`: this job's bytes end a whole part of the file, so they and everything
// before them may reach the file even if the run stops before closing. Jobs queued
// without it wait in the ring for a later committed one: at most output_slot_count - 1
// may follow each other (see Liveness above).
void output_job(OutputFile& out, OutputJob job, bool commit = true);
// Writes everything queued and closes the file; its lock stays held.
OutputStatus close_output(OutputFile& out);
// Writes only what has been committed and closes the file; its lock stays held.
OutputStatus abandon_output(OutputFile& out);
// Releases the file's lock, once the run is done with the file.
void unlock_output(OutputFile& out);
