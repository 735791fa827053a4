// A set is two files that must agree: the items file block by block, the defects file
// instance by instance. Each file is read by a side of its own, which stops at its file's
// first problem and keeps to itself, so that the two sides can run on two threads. The
// joins below say what one reading of both files in turn (block 1, instance 1, block 2,
// ...) meets first; the set reader runs the sides in that turn on one thread, read_ahead
// on two, and both report through the same joins.
#pragma once

#include "read/set_scan.h"

#include <cstdint>
#include <string>
#include <vector>

// The first problem a side met: "FILE:LINE: message", or empty.
struct SideProblem {
    std::string text;
    bool unreadable = false; // a failed read, not the file's content
};

struct ItemsSide {
    ItemsScan scan;
    SideProblem problem;
};

// Opens the side on `fd`, which it owns from now on.
void init_items_side(ItemsSide& side, const SetRules& rules, const std::string& path, int fd);
// Reads the next block: its number and its item types. False at the end of the file, or
// on a problem (then `problem` is set and the side reads no more).
bool next_block(ItemsSide& side, InstanceHead& head);

// Where the defects file stands when the next instance is due.
struct InstanceStart {
    bool started = false;       // it starts (perhaps with a problem in its header)
    std::int32_t instance = 0;  // the instance the defects file is at
    std::uint64_t line = 0;     // lines read so far
    std::uint64_t end_line = 0; // the line after the file's last, when it ended
    std::int32_t instances = 0; // complete instances so far
};

struct DefectsSide {
    DefectsScan scan;
    bool in_instance = false; // the file stands inside an instance
    SideProblem problem;
};

void init_defects_side(DefectsSide& side, const SetRules& rules, const std::string& path, int fd);
// Reads past what is left of the current instance to the next one's header.
InstanceStart next_defects_instance(DefectsSide& side);
// Adds the current instance's next object's defects after those `defects` holds. False
// when the instance has no more objects, or on a problem (then `problem` is set).
bool append_object(DefectsSide& side, std::vector<Defect>& defects);

// The joins, which tell the problem of both files together (none: empty text). The items
// file has ended cleanly after `blocks` blocks, and the defects file, when there is one,
// stands at `start`: it must end there.
SideProblem join_items_end(const std::string& items_path, std::int32_t blocks,
                           const std::string& defects_path, const InstanceStart& start,
                           const SideProblem& defects_problem);
// A block has been read, and the defects file stands at `start` for its instance.
SideProblem join_block(const std::string& items_path, const std::string& defects_path,
                       const InstanceStart& start, const SideProblem& defects_problem);

// The reader's problem is the one the joins tell.
inline void take_side_problem(SetReader& reader, const SideProblem& problem) {
    reader.problem = problem.text;
    reader.unreadable = problem.unreadable;
}

// What an open set reader holds: the rules and both sides.
struct SetReaderState {
    SetRules rules;
    ItemsSide items;
    DefectsSide defects;
    bool has_defects = false;
    std::int32_t empty_objects_left = 0; // objects still to hand out without a defects file
};
