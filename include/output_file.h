// Output of the instance files, to disk or to memory. The run hands over jobs, each of
// which writes one piece of the file; formatter threads run them into a ring of large
// slots, and a writer thread hands the slots to the file in the order the jobs were
// handed over. Generating, formatting and the disk thus all work at once without
// changing a byte.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Files kept in memory instead of on disk, by name: lets tests and the fuzzer run the
// whole program without touching the file system. Opening a name empties its file. A
// file that would grow past max_file_size fails as on a full disk.
struct MemoryFiles {
    std::map<std::string, std::string> files;
    std::size_t max_file_size = SIZE_MAX;
};

inline constexpr std::size_t output_slot_size = std::size_t{512} * 1024;
inline constexpr std::size_t output_slot_count = 16;
inline constexpr int output_formatter_count = 2;

// Work that fills a slot on a formatter thread: writes from `begin` (at most
// output_slot_size bytes) and returns the end of what it wrote.
using OutputJob = std::function<char*(char* begin)>;

enum class SlotState { free, pending, formatting, ready };

struct OutputSlot {
    std::unique_ptr<char[]> bytes;
    char* end = nullptr; // end of the bytes to write, once ready
    SlotState state = SlotState::free;
    OutputJob job;
};

struct OutputFile {
    std::FILE* file = nullptr;
    std::string* memory = nullptr;
    std::size_t memory_limit = SIZE_MAX;
    bool open = false;
    std::atomic<bool> failed{false}; // some bytes could not be written

    // Slots are taken in turn; a slot's sequence number modulo the ring size is its
    // place. The writer writes them in sequence order.
    std::array<OutputSlot, output_slot_count> slots;
    std::uint64_t taken = 0;   // sequence number of the next slot to take
    std::uint64_t written = 0; // slots written so far
    bool closing = false;
    int formatter_count = output_formatter_count; // threads started at the first job
    std::mutex mutex;
    std::condition_variable slot_ready; // the writer waits for the next slot in turn
    std::condition_variable job_queued; // formatters wait for a job
    std::condition_variable slot_free;  // the queueing thread waits for a slot to reuse
    std::thread writer;
    std::vector<std::thread> formatters;

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();
};

// Creates (or empties) the file, in text mode. False when it cannot be created.
bool open_output(OutputFile& out, const char* name, MemoryFiles* memory);
// Writes everything handed over and closes the file. False when any byte could not be
// written, now or earlier.
bool close_output(OutputFile& out);
// Queues a job whose bytes follow those of every job queued before it. Waits while
// every slot is in use.
void output_job(OutputFile& out, OutputJob job);
