// Memory and threads that cannot be had. This test program replaces the global
// operator new so that, once armed, every allocation from a chosen one on fails, as it
// does when the address space runs out; and it makes threads unstartable by asking for
// stacks no address space can hold. A run must then stop with a message and status 1,
// leaving files as after any other failure: whole blocks in the items file, and a
// defects file only after a complete items file.
#include "run_driver.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <pthread.h>
#include <sstream>
#include <streambuf>
#include <string>

namespace {

std::atomic<long> allocations{0};
std::atomic<long> first_failing{0}; // 0: none fails

void* allocate(std::size_t size) {
    const long number = allocations.fetch_add(1) + 1;
    const long failing = first_failing.load();
    if (failing != 0 && number >= failing) {
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

// A console that needs no memory of its own while the run is armed.
struct FixedConsole : std::streambuf {
    char text[1 << 16];
    FixedConsole() { setp(text, text + sizeof text); }
    std::string str() const { return std::string(pbase(), pptr()); }
};

struct Armed {
    int status = -1;
    RunEnd end = RunEnd::completed;
    std::string transcript;
};

// Runs the answers with every allocation from the `failing`-th on refused (0: none).
Armed run_failing_from(RunState& state, const std::string& input, MemoryFiles& files,
                       long failing) {
    OutputSink sink;
    sink.kind = SinkKind::memory;
    sink.memory = &files;
    std::istringstream in(input);
    FixedConsole console;
    std::ostream out(&console);
    allocations = 0;
    first_failing = failing;
    const RunOutcome outcome = run_program(state, in, out, sink);
    first_failing = 0;
    return {exit_status(outcome), outcome.end, console.str()};
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(Faults, EveryAllocationThatFailsEndsTheRunWithWholeBlocks) {
    // Instances larger than one piece of the items file, so that some of its pieces end
    // mid-instance; defects in several pieces per instance.
    const std::string input = "3 6000 200 200 5000 0.01 0.15 2 5 4 10 10 0 2 items defects 12 0";
    auto state = std::make_unique<RunState>();
    MemoryFiles reference;
    const Armed complete = run_failing_from(*state, input, reference, 0);
    ASSERT_EQ(complete.status, 0);
    ASSERT_EQ(complete.transcript, completed_transcript(2));
    const long needed = allocations.load();
    const std::string& items = reference.files.at("items");
    const std::string& defects = reference.files.at("defects");
    // Allocations on the worker threads come in any order among the others, so the
    // sweep goes somewhat past the count of one run.
    for (long failing = 1; failing <= needed + 10; ++failing) {
        MemoryFiles files;
        const Armed r = run_failing_from(*state, input, files, failing);
        const std::string label = "allocation " + std::to_string(failing);
        if (r.status == 0) {
            EXPECT_EQ(r.transcript, complete.transcript) << label;
            EXPECT_EQ(files.files, reference.files) << label;
            continue;
        }
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_EQ(r.end, RunEnd::no_memory) << label;
        const std::string& message = msg::no_memory;
        ASSERT_GE(r.transcript.size(), message.size()) << label;
        const std::size_t asked = r.transcript.size() - message.size();
        EXPECT_EQ(r.transcript.substr(asked), message) << label;
        EXPECT_TRUE(starts_with(complete.transcript, r.transcript.substr(0, asked))) << label;
        const auto item_file = files.files.find("items");
        if (item_file != files.files.end()) {
            const std::string& got = item_file->second;
            EXPECT_TRUE(starts_with(items, got)) << label;
            EXPECT_TRUE(got.empty() || got.ends_with("\n\n")) << label << ": whole blocks";
        }
        const auto defect_file = files.files.find("defects");
        if (defect_file != files.files.end()) {
            ASSERT_NE(item_file, files.files.end()) << label;
            EXPECT_EQ(item_file->second, items) << label << ": complete before the defects";
            EXPECT_TRUE(starts_with(defects, defect_file->second)) << label;
        }
    }
}

TEST(Faults, ThreadThatCannotBeStartedEndsTheRunBeforeAnyFile) {
    // A stack larger than any address space: every new thread fails to start.
    pthread_attr_t normal;
    ASSERT_EQ(pthread_getattr_default_np(&normal), 0);
    pthread_attr_t huge;
    ASSERT_EQ(pthread_attr_init(&huge), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&huge, std::size_t{1} << 52), 0);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    const RunResult r = run_in_memory("1 2 100 100 5 0.01 0.15 1 5 4 1 3 items defects 12 0");
    ASSERT_EQ(pthread_setattr_default_np(&normal), 0);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&normal);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.outcome.end, RunEnd::no_thread);
    EXPECT_EQ(r.transcript, transcript_start(1, all_prompts(1).size()) + msg::no_thread);
    EXPECT_TRUE(r.files.files.empty());
}

} // namespace
