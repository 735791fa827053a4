// The records that every part of defectkit shares: what a set's lines hold, and a problem
// found in a file. They depend on nothing else of the kit, so that no folder reaches up
// into another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An item type of an items line, as whole numbers, and where it stands.
struct Item {
    std::int64_t length = 0;
    std::int64_t width = 0;
    std::int64_t area = 0;
    std::uint64_t line = 0; // 1-based line in the items file
};

// A defect of a defects line: its corners, and where it stands.
struct Defect {
    std::int64_t x1 = 0;
    std::int64_t y1 = 0;
    std::int64_t x2 = 0;
    std::int64_t y2 = 0;
    std::uint64_t line = 0; // 1-based line in the defects file
};

// One instance: its number (from 1) and its item types in file order.
struct InstanceHead {
    std::int32_t number = 0;
    std::vector<Item> items;
};

// A problem in a file, as the user reads it: "FILE:LINE: message", or "FILE: cannot be
// read: ..." when the file could not be read at all (then `unreadable`, and exit 2).
struct Problem {
    std::string file;
    std::uint64_t line = 0; // 0: the file as a whole
    std::string message;
    bool unreadable = false;
};

inline std::string problem_text(const Problem& p) {
    return p.line == 0 ? p.file + ": " + p.message
                       : p.file + ":" + std::to_string(p.line) + ": " + p.message;
}
