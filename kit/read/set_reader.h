// Reading a set: the one way every command takes a set's instances and objects.
//
// DESIGN. A set flows from the files to a command like this:
//   line_source   the bytes of one file, a line at a time through one bounded buffer;
//   set_rules     what the files must hold, and the one way both scans take a line;
//   fields        the numbers of a line, by the one parser;
//   items_scan    the items file, block by block, against the rules;
//   defects_scan  the defects file, instance by instance and object by object;
//   set_reader    both files joined: block k of the items file with instance k of the
//                 defects file, in batches of objects handed to the command's `take`.
// Threads: for every command but check, both files are read in turn (block 1, instance 1,
// block 2, ...) on one worker thread, and `take` runs on the calling thread, in file order,
// with the batches handed over through two slots: the reading fills one while the command
// works on the other, and stops once `take` has returned false (without a worker, all on
// the calling thread). The first problem of the files is the one this reading meets
// first; it is read by the caller only after the worker is joined, and forgotten when
// `take` stopped the reading before it (the worker may have read past that batch, which
// a reading in turn would not have). check (`every_problem`) reads both files to their end
// and keeps every problem of each instead, handed no batches: its items file on one worker
// thread (output/worker.h), its defects file on the calling thread. A large defects file
// is read in two parts at once: its second part, from a header near its middle, by a scan
// of its own on a second worker, which takes for granted that the instances before that
// header were whole. The first part's scan stops at that header; when it arrives there as
// the second part's scan assumed (the same instance, the objects per instance known
// alike), the two scans' findings are joined (line numbers moved on, problems in file
// order); else, and when the second part's memory cannot be had, the second part's scan
// is stopped and dropped, and the first reads on to the end, so that the problems are
// always those of one reading in turn. The scans share only the rules, which none changes;
// the workers' progress is counted in atomics. Memory stays bounded: an instance's items
// and three batches of at most 65536 defects (the one filled and the two slots; each part
// of check's defects file holds one object).
#pragma once

#include "output/progress.h"
#include "read/defects_scan.h"
#include "read/items_scan.h"
#include "read/open_set.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Objects of one instance, in file order.
struct ObjectBatch {
    bool starts_instance = false; // `head` is a new instance, whose objects follow
    bool ends_instance = false;   // the instance's last object is in this batch
    InstanceHead head;
    std::vector<Defect> defects;      // the defects of the batch's objects, in order
    std::vector<std::uint32_t> sizes; // per object, its number of defects
};

// A set opened for reading. It must stay where it is once opened (the scans point at its
// rules).
struct SetReader {
    const KitSet* set = nullptr;
    SetRules rules;
    ItemsScan items;
    DefectsScan defects;
    bool has_defects = false;
    bool every_problem = false;                // check: both files to their end, every problem kept
    std::uint64_t bytes_total = 0;             // sizes of both files, for progress
    std::size_t buffer = std::size_t{1} << 20; // each file's read buffer (tests make it small)
    // check: a defects file of at least this many bytes is read in two parts at once.
    std::uint64_t split_bytes = std::uint64_t{64} << 20;
    bool failed = false; // `problem` is the first problem of the set
    Problem problem;
    // check: a defects file named by the answers and not there (perhaps a generation
    // failure), with the message from opening it; the set is then read without it.
    std::string defects_missing;
};

// Opens the set's files. False, with the problem on stderr, when one cannot be read (exit 2).
bool open_set_reader(SetReader& reader, const KitSet& set, bool every_problem = false);
void close_set_reader(SetReader& reader);

// Reads the set and calls `take` with every batch in file order: every instance, or only
// instance `only_instance` when it is not 0 (reading then stops after it). `take` returns
// false to stop. Afterwards reader.failed tells whether the files had a problem.
void read_set(SetReader& reader, std::int32_t only_instance, Progress& progress,
              const std::function<bool(const ObjectBatch&)>& take);

// Prints the reader's problem on stderr; returns the exit status: 2 when a file could not
// be read, else 1 with a hint to run check, which lists every problem and not only the first.
int report_set_problem(const SetReader& reader);
// Prints that the set holds `held` instances and so no instance `number`; returns 2.
int report_no_instance(std::int64_t number, std::int64_t held);
// Names the set (open_set) and refuses an `instance` (0: all) beyond the number the
// answers tell. 0, else the exit status after the message.
int open_set_for_instance(const SetOptions& options, std::int32_t instance, KitSet& set);
