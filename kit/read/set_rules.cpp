// The rules of a set from its answers, the problem list and the words both scans share.
#include "read/set_rules.h"

#include "read/fields.h"

#include <algorithm>
#include <cstring>

SetRules make_set_rules(const KitSet& set) {
    SetRules r;
    const RunParams& p = set.params;
    r.from_answers = set.from_answers;
    r.length = p.object.length;
    r.width = p.object.width;
    r.area = p.object.area;
    r.instances = set.instances;
    r.objects_per_instance = set.objects_per_instance;
    if (!set.from_answers) {
        return r;
    }
    r.items_per_instance = std::max(p.no_items, 0);
    r.minarea = as_float(p.minarea);
    r.maxarea = as_float(p.maxarea);
    if (p.maxdefects < p.mindefects) {
        r.min_defects = 0;
        r.max_defects = 0;
    } else {
        r.min_defects = std::max(p.mindefects, 0);
        r.max_defects = std::max(p.maxdefects, 0);
    }
    for (std::int32_t i = 0; i < p.no_def_type; ++i) {
        const Rectangle& t = p.defect[static_cast<std::size_t>(i)];
        r.types.push_back(t);
        r.type_keys.push_back((static_cast<std::uint64_t>(t.length) << 32) |
                              static_cast<std::uint64_t>(t.width));
    }
    std::sort(r.type_keys.begin(), r.type_keys.end());
    return r;
}

void add_problem(ProblemList& list, const std::string& file, std::uint64_t line,
                 std::string message) {
    ++list.count;
    if (list.kept.size() < list.keep) {
        list.kept.push_back(Problem{file, line, std::move(message), false});
    }
}

std::string counted(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string cut_short_message(std::int64_t instance) {
    return "the file ends inside instance " + std::to_string(instance) + "; was the run cut short?";
}

std::string missing_instances_message(std::int32_t held, std::int32_t asked) {
    if (held == 0) {
        return "the file is empty; the answers ask for " +
               counted(static_cast<std::uint64_t>(asked), "instance", "instances");
    }
    return "the file ends after instance " + std::to_string(held) + " of " + std::to_string(asked) +
           "; was the run cut short?";
}

std::string instance_text(std::int64_t instance) {
    return "instance " + std::to_string(instance);
}

ScanLine next_scan_line(LineSource& source, ProblemList& problems, Line& line, bool& parse,
                        std::int64_t instance) {
    if (!next_line(source, line)) {
        return ScanLine::end;
    }
    parse = !line.too_long;
    if (line.too_long) {
        add_problem(problems, source.path, line.number,
                    "the line is longer than " + std::to_string(max_kit_line_length) +
                        " bytes; defectgen writes none longer than 80");
    } else if (line.size > 0 && line.data[line.size - 1] == '\r') {
        add_problem(problems, source.path, line.number,
                    "the line ends with \\r\\n (CRLF); defectgen ends its lines with \\n alone");
        --line.size;
    }
    if (!line.newline) {
        add_problem(problems, source.path, line.number, cut_short_message(instance));
        return ScanLine::cut;
    }
    if (!parse) {
        line.size = 1; // a line too long stands where a line of the file would
    }
    return ScanLine::line;
}

std::string unparsed_line(const Line& line, const char* what, const std::string& why) {
    if (std::memchr(line.data, '\0', line.size) != nullptr) {
        return std::string("not ") + what + ": the line holds a NUL byte";
    }
    return std::string("not ") + what + ": " + why;
}
