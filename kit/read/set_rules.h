// What the two files of a set must hold, from the answers (every rule) or from --object
// alone (the object, and whatever the files tell of themselves); the list the scans put
// their problems in, the words both scans use, and the way both take their next line.
#pragma once

#include "read/fields.h"
#include "read/line_source.h"
#include "read/open_set.h"
#include "records.h"

#include <cstdint>
#include <string>
#include <vector>

struct SetRules {
    bool from_answers = false;
    std::int64_t length = 0; // the object
    std::int64_t width = 0;
    std::int64_t area = 0;
    std::int32_t instances = -1;            // -1: not known
    std::int32_t items_per_instance = -1;   // -1: the first block tells
    std::int32_t objects_per_instance = -1; // -1: the first instance tells
    // Areas as single precision holds them, when the answers give the bounds.
    std::int64_t minarea = 0;
    std::int64_t maxarea = 0;
    // Defect lines an object may carry (when the answers give the bounds).
    std::int64_t min_defects = 0;
    std::int64_t max_defects = MAXDEF;
    // The defect types (length, width) as the answers give them, and the same pairs
    // sorted for looking sizes up.
    std::vector<Rectangle> types;
    std::vector<std::uint64_t> type_keys;
};

SetRules make_set_rules(const KitSet& set);

// A file's problems in file order: all counted, the first `keep` kept.
struct ProblemList {
    std::vector<Problem> kept;
    std::size_t keep = 1;
    std::uint64_t count = 0;
};

void add_problem(ProblemList& list, const std::string& file, std::uint64_t line,
                 std::string message);

// "1 object", "2 objects".
std::string counted(std::uint64_t n, const char* one, const char* many);
// "the file ends inside instance 17; was the run cut short?"
std::string cut_short_message(std::int64_t instance);
// "the file ends after instance 16 of 200; was the run cut short?"
std::string missing_instances_message(std::int32_t held, std::int32_t asked);
// "instance 17".
std::string instance_text(std::int64_t instance);
// Counts of blocks and instances stop at the largest 32-bit number: a file of two
// gigabytes of empty lines would pass it, and no such count means anything by then.
inline void count_up(std::int32_t& count) {
    if (count < INT32_MAX) {
        ++count;
    }
}

// The next line as both scans take it: a "\r" before its line end reported and removed,
// a line too long reported and standing as one byte not to be parsed (`parse` false).
// `end` at the end of the file; `cut` for a last line without its line end, reported as
// the file cut short inside `instance`.
enum class ScanLine { line, end, cut };
ScanLine next_scan_line(LineSource& source, ProblemList& problems, Line& line, bool& parse,
                        std::int64_t instance);
// The usual line, `count` numbers and its line end, parsed in place and taken: its line
// number, or 0 when the next line is any other (then nothing is taken).
inline std::uint64_t take_number_line(LineSource& source, std::int64_t* values, int count) {
    const char* end = nullptr;
    const char* const p = line_window(source, end);
    const char* const q = p != nullptr ? parse_fields(p, end, values, count, nullptr) : nullptr;
    if (q == nullptr || q == end || *q != '\n') {
        return 0;
    }
    take_window_line(source, static_cast<std::size_t>(q - p) + 1);
    return source.lines;
}
// The same for an empty line.
inline std::uint64_t take_empty_line(LineSource& source) {
    const char* end = nullptr;
    const char* const p = line_window(source, end);
    if (p == nullptr || p == end || *p != '\n') {
        return 0;
    }
    take_window_line(source, 1);
    return source.lines;
}
// "not an item line: field 2 is missing", told of a line the parser refused.
std::string unparsed_line(const Line& line, const char* what, const std::string& why);
