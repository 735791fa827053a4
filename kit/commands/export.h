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

// One instance of the PackingSolver export, written as its objects come (defectkit run
// writes each instance it gives a solver this way): begin opens the folder
// out/instance-K (under a temporary name until end) and writes items.csv and parameters.csv, add writes a batch's rows of
// bins.csv and defects.csv, end closes them. Each returns 0 (or true), else 2 (false)
// after a reported failure; on a failure begin and end have removed the instance's files,
// after add the caller removes them.
struct PackingsolverFiles {
    OutputTarget items, parameters, bins, defects;
    OutputFolder folder; // made under a temporary name, renamed into place when whole
};
int begin_packingsolver_instance(ExportRun& run, const InstanceHead& head,
                                 PackingsolverFiles& files);
bool add_packingsolver_objects(const ExportRun& run, const ObjectBatch& batch,
                               PackingsolverFiles& files, std::int64_t& object, std::string& bins,
                               std::string& rows);
int end_packingsolver_instance(PackingsolverFiles& files, std::string& bins, std::string& rows);
// Closes what is open and removes the instance's temporary folder with what it holds.
void remove_packingsolver_instance(PackingsolverFiles& files);

// Instances in the items file, counted by its empty lines (each block ends with one).
bool count_instances(const std::string& path, std::int32_t& count);

// "instance-K" with K zero-padded to the digits of `largest`.
std::string instance_folder(std::int32_t number, std::int32_t largest);
