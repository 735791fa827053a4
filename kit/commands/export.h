// defectkit export: the set in the formats that solvers read. export.cpp holds the rules
// of --out and --instance; each format has a file of its own.
#pragma once

#include "commands/commands.h"
#include "output/safe_output.h"
#include "read/set_reader.h"

#include <cstdint>
#include <string>
#include <vector>

// Which instances to write, and how the reader went.
struct ExportRun {
    const ExportOptions* options = nullptr;
    const KitSet* kit = nullptr;
    InputPaths inputs;
    std::int32_t largest = 0; // the largest instance number written (for folder names)
    bool found = false;       // the instance asked for with --instance was met
};

// Each writes the instances of the set that the options ask for, through `reader`, and
// returns the exit status (a problem in the files has been printed by the caller's rules:
// these return 1 with reader.failed set, 2 after a failed write they have reported).
int export_jsonl(ExportRun& run, SetReader& reader);
int export_packingsolver(ExportRun& run, SetReader& reader);

// Appends a whole number, as JSON and CSV write it.
void append_number(std::string& out, std::int64_t value);
// Writes a whole number at `at` (room for 20 characters); returns the end of its digits.
char* put_number(char* at, std::int64_t value);

// JSON Lines, in three parts so that an instance is written as its objects come: the head
// (instance, object, parameters, items), one object, and the end of the line.
void append_jsonl_head(std::string& out, const KitSet& kit, const InstanceHead& head);
void append_jsonl_object(std::string& out, const Defect* defects, std::size_t count, bool first);
inline void append_jsonl_object(std::string& out, const std::vector<Defect>& defects, bool first) {
    append_jsonl_object(out, defects.data(), defects.size(), first);
}
void append_jsonl_end(std::string& out);

// "instance-K" with K zero-padded to the digits of `largest`.
std::string instance_folder(std::int32_t number, std::int32_t largest);
