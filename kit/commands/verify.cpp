// verify: defectgen's own run for the answers, inside defectkit, its bytes held against
// the files on disk as they come; neither is ever held whole in memory.
#include "commands/commands.h"
#include "output/worker.h"
#include "read/line_source.h"
#include "run_driver.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

// The files must be regular files, or missing: the comparison would wait forever on a
// FIFO. Returns false, with the message on stderr, for anything else; a missing file's
// message is kept in `missing`, for when the run shows that the file is due.
bool comparable(const std::string& path, bool& exists, std::string& missing) {
    int fd = -1;
    std::uint64_t size = 0;
    std::string message;
    if (open_regular_file(path, fd, size, message)) {
        ::close(fd);
        exists = true;
        return true;
    }
    exists = false;
    if (errno == ENOENT) {
        missing = message;
        return true;
    }
    std::cerr << message << '\n';
    return false;
}

// While the run goes on, how long it has taken, on a terminal only.
struct Ticker {
    std::atomic<bool> done{false};
    Worker worker;
};

// Seconds since the start, redrawn on stderr until the ticker is stopped.
void tick(const Ticker& ticker) {
    const auto start = std::chrono::steady_clock::now();
    while (!ticker.done.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        std::fprintf(stderr, "\rverify: regenerating and comparing, %llds",
                     static_cast<long long>(seconds));
        std::fflush(stderr);
    }
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
}

// Without a thread there is no progress; the work is the same.
void start_ticker(Ticker& ticker) {
    if (::isatty(STDERR_FILENO) == 1) {
        start_worker(ticker.worker, [&ticker] { tick(ticker); });
    }
}

void stop_ticker(Ticker& ticker) {
    ticker.done = true;
    join_worker(ticker.worker);
}

// "FILE:LINE: first difference at byte N" for a file that is not what the run wrote.
void report_difference(const FileComparison& c, std::uint64_t size) {
    std::cerr << c.path << ':' << c.line << ": first difference at byte " << c.first_difference;
    if (c.first_difference == size + 1) {
        std::cerr << ", where the file ends";
    }
    std::cerr << '\n';
}

std::uint64_t file_size(const std::string& path) {
    int fd = -1;
    std::uint64_t size = 0;
    std::string message;
    if (open_regular_file(path, fd, size, message)) {
        ::close(fd);
    }
    return size;
}

// Whether the run stopped before its files were done, at anything but an item it cannot
// repair (which leaves the items file as far as it goes, and no defects file); if so,
// says why on stderr.
bool stopped_short(const KitSet& set, const RunOutcome& outcome) {
    switch (outcome.end) {
    case RunEnd::completed:
    case RunEnd::item_failure:
        return false;
    case RunEnd::no_memory:
    case RunEnd::no_thread:
        // Memory or a thread that this machine cannot give is no fault of the answers.
        std::cerr << "defectkit: verify could not run defectgen here: " << outcome.message << '\n';
        return true;
    case RunEnd::refused:
    case RunEnd::file_failure:
    case RunEnd::same_file:
        break;
    }
    std::cerr << set.answers_path << ": defectgen stops for these answers: ";
    put_message(std::cerr, outcome);
    std::cerr << '\n';
    return true;
}

} // namespace

int run_verify(const SetOptions& options) {
    KitSet set;
    if (!open_set(options, set)) {
        return 2;
    }
    const RunParams& p = set.params;
    bool items_exist = false;
    bool defects_exist = false;
    std::string items_missing;
    std::string defects_missing;
    if (!comparable(set.items_path, items_exist, items_missing) ||
        (!set.defects_path.empty() &&
         !comparable(set.defects_path, defects_exist, defects_missing))) {
        return 2;
    }
    if (!items_exist) {
        std::cerr << items_missing << '\n';
        return 2;
    }

    OutputSink sink;
    sink.kind = SinkKind::compare;
    sink.redirect[p.filename] = set.items_path;
    if (p.no_def_type > 0) {
        sink.redirect[p.defectfilename] = set.defects_path;
    }
    auto state = std::make_unique<RunState>();
    std::istringstream in(set.answers_text);
    // The run's console is not shown: its outcome says how it ended.
    std::ostream nowhere(nullptr);
    Ticker ticker;
    start_ticker(ticker);
    const RunOutcome outcome = run_program(*state, in, nowhere, sink);
    stop_ticker(ticker);
    if (stopped_short(set, outcome)) {
        return 2;
    }
    const bool failed_items = outcome.end == RunEnd::item_failure;
    const FileComparison& items = sink.compared[p.filename];
    int result = 0;
    if (!items.readable) {
        std::cerr << set.items_path << ": cannot be read\n";
        return 2;
    }
    if (!items.identical) {
        report_difference(items, file_size(set.items_path));
        result = 1;
    }
    const bool defects_written = p.no_def_type > 0 && !failed_items;
    if (defects_written) {
        const FileComparison& defects = sink.compared[p.defectfilename];
        if (!defects_exist) {
            std::cerr << defects_missing << '\n';
            return 2;
        }
        if (!defects.readable) {
            std::cerr << set.defects_path << ": cannot be read\n";
            return 2;
        }
        if (!defects.identical) {
            report_difference(defects, file_size(set.defects_path));
            result = 1;
        }
    } else if (defects_exist) {
        std::cerr << set.defects_path
                  << ": defectgen writes no defects file for these answers, and this one exists\n";
        result = 1;
    }
    if (result != 0) {
        return result;
    }
    std::cout << "identical: " << set.items_path
              << (defects_written ? " and " + set.defects_path + " are" : std::string(" is"))
              << " exactly what defectgen writes for these answers";
    if (failed_items) {
        std::cout << " (a run that stops at an item it cannot repair"
                  << (p.no_def_type > 0 ? ", before the defects file" : "") << ")";
    }
    std::cout << '\n';
    return 0;
}
