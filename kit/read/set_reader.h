// Reading a set instance by instance and object by object, with bounded memory whatever
// the size of the files: the items of one instance (at most MAXMOD lines) and the defects
// of one object (at most MAXDEF lines) at a time.
#pragma once

#include "read/open_set.h"

#include <cstdint>
#include <string>
#include <vector>

// The numbers of an items line or a defects line, as whole numbers, and where they stand.
struct Item {
    std::int64_t length = 0;
    std::int64_t width = 0;
    std::int64_t area = 0;
    std::uint64_t line = 0; // 1-based line in the items file
};

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

struct SetReaderState; // the open files and the parsing position; see set_reader.cpp

// A set opened for reading. Consumers go through it strictly in order: next_instance, then
// next_object until it returns false, then next_instance again.
struct SetReader {
    const KitSet* set = nullptr;
    SetReaderState* state = nullptr; // owned; freed by close_set_reader
    std::string problem;             // "FILE:LINE: message" of the first problem, else empty
    std::uint64_t bytes_total = 0;   // sizes of both files, for progress
    std::uint64_t bytes_done = 0;    // bytes consumed so far
    bool unreadable = false;         // the problem is a failed read, not the files' content
};

// Opens the set's files. False, with the problem on stderr, when one cannot be read (exit 2).
bool open_set_reader(SetReader& reader, const KitSet& set);
void close_set_reader(SetReader& reader);

// Reads the next instance's items. False at the end of the set, or on a problem in the
// files (then `problem` is set; consumers print it and exit 1).
bool next_instance(SetReader& reader, InstanceHead& head);

// Reads the next object of the current instance into `defects`. False when the instance
// has no more objects, or on a problem. A set without a defects file yields
// objects_per_instance objects without defects when that number is known, else none.
bool next_object(SetReader& reader, std::vector<Defect>& defects);
// As next_object, but adds the object's defects after those `defects` already holds, so
// that a consumer gathering many objects copies none of them.
bool append_next_object(SetReader& reader, std::vector<Defect>& defects);
