// The defects file read instance by instance and object by object, and held against
// everything defectgen guarantees of it. The set reader stops at the first problem; check
// reads on to the end and keeps every problem (`every_problem`).
#pragma once

#include "read/line_source.h"
#include "read/set_rules.h"

#include <cstdint>
#include <vector>

enum class DefectsState { want_header, want_header_blank, want_object, in_object };

struct DefectsScan {
    LineSource source;
    const SetRules* rules = nullptr;
    ProblemList problems;
    bool every_problem = false;

    DefectsState state = DefectsState::want_header;
    bool holding = false; // `held` is to be handled again in the new state
    Line held;
    std::int32_t instance = 0;      // the current (or last) instance's number
    std::int64_t objects_done = 0;  // objects of the current instance
    std::int64_t per_instance = -1; // objects every instance must hold, once known
    bool told_too_many = false;     // "a block too many" said for this instance
    std::int64_t in_object = 0;     // defect lines of the current object
    std::int32_t instances = 0;     // complete instances
    std::uint64_t objects = 0;
    std::uint64_t defects = 0;
    std::uint64_t end_line = 0;
    bool finished = false;
    bool all_at_origin = true;
};

// Takes over `fd`.
void init_defects_scan(DefectsScan& scan, const SetRules& rules, const std::string& path, int fd,
                       std::size_t buffer);

// Exactly "instance: k", k without a leading zero: k; -1 for any other line.
std::int64_t header_number(const Line& line);

// What a step of the scan ends with.
enum class DefectsStep { go_on, instance_start, object_end, instance_end, end };

// Reads on to the next instance start, object end or instance end, adding the defects of
// the object being read (those without a problem) to `defects`; `end` at the end of the
// file and once reading has stopped (defects_stopped).
DefectsStep next_defects_step(DefectsScan& scan, std::vector<Defect>& defects);
// Reading has stopped at a problem (never with every_problem) or a failed read.
inline bool defects_stopped(const DefectsScan& scan) {
    return (!scan.every_problem && scan.problems.count > 0) || scan.source.error != 0;
}
