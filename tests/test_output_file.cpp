// The ring of output slots and the three ways out of it: to disk (locked), into memory,
// and held against an existing file.
#include "number_format.h"
#include "output_file.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

OutputSink memory_sink(MemoryFiles& files) {
    OutputSink sink;
    sink.kind = SinkKind::memory;
    sink.memory = &files;
    return sink;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Queues `text` in jobs of at most `piece` bytes.
void queue_text(OutputFile& out, const std::string& text, std::size_t piece, bool commit = true) {
    for (std::size_t at = 0; at < text.size(); at += piece) {
        const std::string part = text.substr(at, piece);
        output_job(
            out, [part](char* p) { return std::copy(part.begin(), part.end(), p); }, commit);
    }
}

TEST(OutputFile, JobsArriveWholeAndInTheOrderTheyWereQueued) {
    // With two worker threads, one, or none (jobs then run on the calling thread).
    for (const int workers : {2, 1, 0}) {
        MemoryFiles memory;
        OutputSink sink = memory_sink(memory);
        OutputFile out;
        ASSERT_EQ(open_output(out, "big", sink, workers), OutputStatus::ok);
        std::string expected;
        for (std::int32_t job = 0; job < 400; ++job) {
            // Pieces of very different sizes, so that later jobs often finish first.
            const std::int32_t lines = (job * 7919) % 3000;
            for (std::int32_t v = 0; v < lines; ++v) {
                char text[max_line_length];
                char* end = put_int_as_float(text, job * 10000 + v);
                *end++ = '\n';
                expected.append(text, end);
            }
            output_job(out, [job, lines](char* p) {
                for (std::int32_t v = 0; v < lines; ++v) {
                    p = put_int_as_float(p, job * 10000 + v);
                    *p++ = '\n';
                }
                return p;
            });
        }
        ASSERT_EQ(close_output(out), OutputStatus::ok);
        EXPECT_GT(expected.size(), output_slot_count * output_slot_size); // the ring wraps
        EXPECT_EQ(memory.files["big"], expected) << workers << " workers";
    }
}

TEST(OutputFile, FileThatOutgrowsItsRoomFailsLikeAFullDisk) {
    // The same failure path without a device: the fuzzer relies on it.
    MemoryFiles files;
    files.max_file_size = 1000;
    OutputSink sink = memory_sink(files);
    OutputFile out;
    ASSERT_EQ(open_output(out, "small", sink, output_worker_count), OutputStatus::ok);
    for (int i = 0; i < 200; ++i) {
        output_job(out, [](char* p) { return std::copy_n("123456789\n", 10, p); });
    }
    EXPECT_EQ(close_output(out), OutputStatus::cannot_write);
    std::string first_thousand;
    for (int i = 0; i < 100; ++i) {
        first_thousand += "123456789\n";
    }
    EXPECT_EQ(files.files.at("small"), first_thousand);
}

TEST(OutputFile, AbandonedFileHoldsOnlyWhatWasCommitted) {
    MemoryFiles files;
    OutputSink sink = memory_sink(files);
    OutputFile out;
    ASSERT_EQ(open_output(out, "f", sink, output_worker_count), OutputStatus::ok);
    queue_text(out, "whole block\n\n", 5);
    queue_text(out, "half a bl", 4, false);
    EXPECT_EQ(abandon_output(out), OutputStatus::ok);
    EXPECT_EQ(files.files.at("f"), "whole block\n\n");
    // A committed job still formatting while the uncommitted ones after it are ready: the
    // worker that completes it writes it alone.
    OutputFile slow;
    ASSERT_EQ(open_output(slow, "g", sink, output_worker_count), OutputStatus::ok);
    output_job(slow, [](char* p) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return std::copy_n("whole\n\n", 7, p);
    });
    queue_text(slow, "half", 1, false);
    EXPECT_EQ(abandon_output(slow), OutputStatus::ok);
    EXPECT_EQ(files.files.at("g"), "whole\n\n");
}

TEST(OutputFile, ComparisonWithAnExistingFile) {
    const std::string dir = make_temp_dir();
    // Lines of different lengths over more than two slots, so that the existing file is
    // read in several chunks and a line spans two of them.
    std::string run;
    for (int i = 0; run.size() < 2 * output_slot_size + 1000; ++i) {
        run += std::to_string(i * 7) + (i % 5 == 0 ? "\t\n" : "\n");
    }
    const std::size_t late = output_slot_size + 12345; // a byte in the second slot
    const auto line_of = [&run](std::size_t byte) {
        return static_cast<std::uint64_t>(std::count(run.begin(), run.begin() + byte, '\n')) + 1;
    };
    std::string changed = run;
    changed[late] = changed[late] == '0' ? '1' : '0';
    const std::string prefix = run.substr(0, late);
    struct Case {
        const char* name;
        std::string existing; // empty name: no file at all
        bool exists;
        FileComparison expected;
    };
    const Case cases[] = {
        {"identical", run, true, {"", true, true, 0, 0}},
        {"a changed byte", changed, true, {"", true, false, late + 1, line_of(late)}},
        {"shorter on disk", prefix, true, {"", true, false, late + 1, line_of(late)}},
        {"longer on disk", run + "x", true, {"", true, false, run.size() + 1, line_of(run.size())}},
        {"empty on disk", "", true, {"", true, false, 1, 1}},
        {"missing", "", false, {"", false, false, 0, 0}},
    };
    for (const Case& c : cases) {
        const std::string path = dir + "/" + c.name;
        if (c.exists) {
            write_file(path, c.existing);
        }
        OutputSink sink;
        sink.kind = SinkKind::compare;
        sink.redirect["items"] = path;
        OutputFile out;
        ASSERT_EQ(open_output(out, "items", sink, output_worker_count), OutputStatus::ok);
        queue_text(out, run, 100000);
        ASSERT_EQ(close_output(out), OutputStatus::ok) << c.name;
        const FileComparison& got = sink.compared.at("items");
        EXPECT_EQ(got.path, path) << c.name;
        EXPECT_EQ(got.readable, c.expected.readable) << c.name;
        EXPECT_EQ(got.identical, c.expected.identical) << c.name;
        EXPECT_EQ(got.first_difference, c.expected.first_difference) << c.name;
        EXPECT_EQ(got.line, c.expected.line) << c.name;
        bool exists = false;
        EXPECT_EQ(read_file(path, &exists), c.existing) << c.name << ": nothing written";
        EXPECT_EQ(exists, c.exists) << c.name << ": nothing created";
    }
    // A folder opens but cannot be read.
    OutputSink sink;
    sink.kind = SinkKind::compare;
    OutputFile out;
    ASSERT_EQ(open_output(out, dir, sink, output_worker_count), OutputStatus::ok);
    queue_text(out, "1\n", 2);
    ASSERT_EQ(close_output(out), OutputStatus::ok);
    EXPECT_FALSE(sink.compared.at(dir).readable);
    EXPECT_FALSE(sink.compared.at(dir).identical);
}

bool can_lock(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

TEST(OutputFile, LockIsHeldFromOpeningUntilUnlocked) {
    // Found locked, the file is left alone: see the Disk tests of whole runs.
    const std::string path = make_temp_dir() + "/items.txt";
    write_file(path, "an earlier run's bytes\n");
    OutputSink sink;
    OutputFile out;
    ASSERT_EQ(open_output(out, path, sink, output_worker_count), OutputStatus::ok);
    EXPECT_EQ(read_file(path), "") << "emptied once locked";
    EXPECT_FALSE(can_lock(path));
    queue_text(out, "mine\n", 100);
    ASSERT_EQ(close_output(out), OutputStatus::ok);
    EXPECT_EQ(read_file(path), "mine\n");
    EXPECT_FALSE(can_lock(path)) << "held after closing";
    unlock_output(out);
    EXPECT_TRUE(can_lock(path));
    // Anything but a regular file is neither locked nor emptied.
    OutputFile null_file;
    ASSERT_EQ(open_output(null_file, "/dev/null", sink, 1), OutputStatus::ok);
    EXPECT_EQ(null_file.lock, -1);
}

} // namespace
