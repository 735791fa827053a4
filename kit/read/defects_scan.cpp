// The defects file: a state machine taking one line at a time (next_scan_line), one
// function per state; defect lines are parsed by the one parser, then counted against
// their object and checked against the rules.
#include "read/defects_scan.h"

#include "read/fields.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

std::string text(std::int64_t value) {
    return std::to_string(value);
}

void add(DefectsScan& s, std::uint64_t line, std::string message) {
    add_problem(s.problems, s.source.path, line, std::move(message));
}

// ---- Words.

std::string allowed_defects(const SetRules& r) {
    if (!r.from_answers) {
        return "no object carries more than " + std::to_string(MAXDEF) + " (MAXDEF)";
    }
    if (r.max_defects == 0 && r.min_defects == 0) {
        return "the answers allow none";
    }
    return "the answers allow " + text(r.min_defects) + " to " + text(r.max_defects);
}

std::string object_text(const DefectsScan& s) {
    return "object " + text(s.objects_done + 1) + " of " + instance_text(s.instance);
}

std::string wrong_size(const SetRules& r, std::int64_t dx, std::int64_t dy) {
    const std::string size = "a defect of size " + text(dx) + " x " + text(dy) + ", which is ";
    if (r.types.size() > 5) {
        return size + "none of the " + std::to_string(r.types.size()) + " defect types";
    }
    std::string list;
    for (const Rectangle& t : r.types) {
        list += (list.empty() ? "" : ", ") + text(t.length) + " x " + text(t.width);
    }
    return size + "none of the defect types (" + list + ")";
}

std::string off_object(const SetRules& r, const char* verb, std::int64_t x, std::int64_t y) {
    return std::string("the defect lies off the object: it ") + verb + " (" + text(x) + ", " +
           text(y) + ") on an object of " + text(r.length) + " x " + text(r.width);
}

// ---- A defect against the rules.

// Exact corners: the size must be a type's, the far corner on the object.
void check_exact_typed(DefectsScan& s, const SetRules& r, const Defect& d) {
    const std::int64_t dx = d.x2 - d.x1;
    const std::int64_t dy = d.y2 - d.y1;
    const std::uint64_t key =
        (static_cast<std::uint64_t>(dx) << 32) | static_cast<std::uint64_t>(dy);
    bool known = false;
    if (r.type_keys.size() > 8) {
        known = std::binary_search(r.type_keys.begin(), r.type_keys.end(), key);
    } else {
        for (const std::uint64_t k : r.type_keys) {
            known |= k == key; // no branch to mispredict among the few usual types
        }
    }
    if (!known) {
        add(s, d.line, wrong_size(r, dx, dy));
    } else if (d.x2 > r.length || d.y2 > r.width) {
        add(s, d.line, off_object(r, "reaches", d.x2, d.y2));
    }
}

// Beyond 2^24 the corner and the sum are rounded: a type fits when the sums as single
// precision forms them give the far corner.
void check_rounded_typed(DefectsScan& s, const SetRules& r, const Defect& d) {
    bool sized = false;
    for (const Rectangle& t : r.types) {
        const float x2 = static_cast<float>(d.x1) + static_cast<float>(t.length);
        const float y2 = static_cast<float>(d.y1) + static_cast<float>(t.width);
        if (static_cast<std::int64_t>(x2) != d.x2 || static_cast<std::int64_t>(y2) != d.y2) {
            continue;
        }
        sized = true;
        if (d.x1 <= as_float(r.length - t.length) && d.y1 <= as_float(r.width - t.width)) {
            return;
        }
    }
    add(s, d.line,
        sized ? off_object(r, "starts at", d.x1, d.y1) : wrong_size(r, d.x2 - d.x1, d.y2 - d.y1));
}

// Past 2^24 the far corner may round up beyond the object's side, by one unit of the
// single-precision value at most.
std::int64_t reach(std::int64_t side) {
    const std::int64_t rounded = as_float(side);
    if (rounded <= exact_float_limit) {
        return rounded;
    }
    const int exponent = std::bit_width(static_cast<std::uint64_t>(rounded)) - 1;
    return rounded + 2 * (std::int64_t{1} << (exponent - 24));
}

void check_defect(DefectsScan& s, const SetRules& r, const Defect& d) {
    if (d.x1 != 0 || d.y1 != 0) {
        s.all_at_origin = false;
    }
    if (d.x2 < d.x1 || d.y2 < d.y1) {
        add(s, d.line,
            "the corner (x2, y2) lies before (x1, y1); defectgen writes x1 <= x2, y1 <= y2");
        return;
    }
    const bool exact = d.x2 <= exact_float_limit && d.y2 <= exact_float_limit;
    if (r.from_answers) {
        if (exact) {
            check_exact_typed(s, r, d);
        } else {
            check_rounded_typed(s, r, d);
        }
    } else if (exact && (d.x2 == d.x1 || d.y2 == d.y1)) {
        add(s, d.line,
            "a defect of size " + text(d.x2 - d.x1) + " x " + text(d.y2 - d.y1) +
                "; defectgen's defects are at least 1 x 1");
    } else if (d.x2 > reach(r.length) || d.y2 > reach(r.width)) {
        add(s, d.line, off_object(r, "reaches", d.x2, d.y2));
    }
}

// ---- Objects and instances.

// An object (or its first defect line) begins: says once per instance when it is one
// too many.
void start_object(DefectsScan& s, std::uint64_t line) {
    if (s.per_instance >= 0 && s.objects_done == s.per_instance && !s.told_too_many) {
        s.told_too_many = true;
        add(s, line,
            "a block too many: " + instance_text(s.instance) + " has more than " +
                text(s.per_instance) + " objects");
    }
    s.state = DefectsState::in_object;
}

// Counts the object that ends here and holds its number of defects against the bounds.
void end_object(DefectsScan& s, std::uint64_t line) {
    const SetRules& r = *s.rules;
    // An object beyond the instance's number has been told as a block too many.
    const bool extra = s.per_instance >= 0 && s.objects_done >= s.per_instance;
    if (s.in_object < r.min_defects && !extra) {
        add(s, line,
            object_text(s) + " carries " +
                counted(static_cast<std::uint64_t>(s.in_object), "defect", "defects") + "; " +
                allowed_defects(r));
    }
    ++s.objects_done;
    ++s.objects;
    s.in_object = 0;
    s.state = DefectsState::want_object;
}

void end_instance(DefectsScan& s, std::uint64_t line, bool closed) {
    if (s.per_instance >= 0 && s.objects_done < s.per_instance) {
        add(s, line,
            instance_text(s.instance) + " ends after " +
                counted(static_cast<std::uint64_t>(s.objects_done), "object", "objects") +
                " where " + text(s.per_instance) + " are due");
    } else if (!closed) {
        add(s, line, instance_text(s.instance) + " lacks its closing empty line");
    }
    if (s.per_instance < 0 && s.objects_done <= MAXMOD) {
        s.per_instance = s.objects_done;
    }
    count_up(s.instances);
    s.state = DefectsState::want_header;
}

void finish(DefectsScan& s) {
    s.finished = true;
    s.end_line = s.source.lines + 1;
    if (s.source.error != 0) {
        return;
    }
    if (s.state != DefectsState::want_header) {
        add(s, s.end_line, cut_short_message(s.instance));
    } else if (s.rules->instances >= 0 && s.instances < s.rules->instances) {
        add(s, s.end_line, missing_instances_message(s.instances, s.rules->instances));
    }
}

// A defect line of the current object, counted and, when `v` holds its numbers, checked:
// kept in `defects` when all is well.
void take_defect(DefectsScan& s, std::uint64_t line, const std::int64_t* v,
                 std::vector<Defect>& defects) {
    const SetRules& r = *s.rules;
    ++s.in_object;
    ++s.defects;
    if (s.in_object == r.max_defects + 1) {
        add(s, line,
            object_text(s) + " carries more than " + text(r.max_defects) + " defects; " +
                allowed_defects(r));
    }
    if (v == nullptr) {
        return;
    }
    const Defect d{v[0], v[1], v[2], v[3], line};
    const std::uint64_t before = s.problems.count;
    check_defect(s, r, d);
    if (s.problems.count == before && s.in_object <= r.max_defects) {
        defects.push_back(d);
    }
}

// ---- One function per state.

bool is_header(const Line& line) {
    return line.size >= 9 && std::memcmp(line.data, "instance:", 9) == 0;
}

DefectsStep hold(DefectsScan& s, const Line& line, DefectsStep step) {
    s.held = line;
    s.holding = true;
    return step;
}

DefectsStep on_header_due(DefectsScan& s, const Line& line) {
    const SetRules& r = *s.rules;
    const bool header = is_header(line);
    if (!header && line.size == 0) {
        add(s, line.number,
            "an empty line where the header \"instance: " +
                std::to_string(std::int64_t{s.instance} + 1) + "\" is due");
        return DefectsStep::go_on;
    }
    count_up(s.instance);
    s.objects_done = 0;
    s.in_object = 0;
    s.told_too_many = false;
    if (!header) {
        add(s, line.number,
            "the header \"instance: " + std::to_string(s.instance) + "\" is missing here");
        s.state = DefectsState::want_object;
        return hold(s, line, DefectsStep::instance_start);
    }
    if (const std::int64_t k = header_number(line); k < 0) {
        add(s, line.number,
            "not a header: expected \"instance: " + std::to_string(s.instance) + "\"");
    } else if (k != s.instance) {
        add(s, line.number,
            "the header names instance " + text(k) + " where " + instance_text(s.instance) +
                " is due");
    }
    if (r.instances >= 0 && s.instance == r.instances + 1) {
        add(s, line.number,
            "a block too many: " + instance_text(s.instance) + " where the answers ask for " +
                counted(static_cast<std::uint64_t>(r.instances), "instance", "instances"));
    }
    s.state = DefectsState::want_header_blank;
    return DefectsStep::instance_start;
}

DefectsStep on_header_blank_due(DefectsScan& s, const Line& line) {
    s.state = DefectsState::want_object;
    if (line.size == 0) {
        return DefectsStep::go_on;
    }
    add(s, line.number,
        "the header of " + instance_text(s.instance) + " is not followed by its empty line");
    return hold(s, line, DefectsStep::go_on);
}

DefectsStep on_object_due(DefectsScan& s, const Line& line) {
    if (line.size == 0) {
        // One line ahead tells an empty object from the instance's closing line: the
        // latter comes before a header or the end of the file.
        Line ahead;
        const bool more = peek_line(s.source, ahead);
        if (!more && s.per_instance >= 0 && s.objects_done < s.per_instance) {
            finish(s); // the file ends inside the instance
            return DefectsStep::end;
        }
        if (!more || is_header(ahead)) {
            end_instance(s, line.number, true);
            return DefectsStep::instance_end;
        }
        start_object(s, line.number);
        end_object(s, line.number);
        return DefectsStep::object_end;
    }
    if (is_header(line)) {
        end_instance(s, line.number, false);
        return hold(s, line, DefectsStep::instance_end);
    }
    start_object(s, line.number);
    return hold(s, line, DefectsStep::go_on);
}

DefectsStep on_defect_due(DefectsScan& s, const Line& line, bool parse,
                          std::vector<Defect>& defects) {
    if (line.size == 0) {
        end_object(s, line.number);
        return DefectsStep::object_end;
    }
    if (is_header(line)) {
        add(s, line.number, object_text(s) + " lacks its closing empty line");
        end_object(s, line.number);
        return hold(s, line, DefectsStep::object_end);
    }
    std::int64_t v[4];
    std::string why;
    const bool parsed = parse && parse_line(line.data, line.data + line.size, v, 4, why);
    take_defect(s, line.number, parsed ? v : nullptr, defects);
    if (parse && !parsed) {
        add(s, line.number, unparsed_line(line, "a defect line", why));
    }
    return DefectsStep::go_on;
}

// One line of the scan: the one held, or the next of the file.
DefectsStep next_step(DefectsScan& s, std::vector<Defect>& defects) {
    if (s.finished || defects_stopped(s)) {
        s.finished = true;
        return DefectsStep::end;
    }
    // The empty line that ends an object.
    if (const std::uint64_t n =
            s.state == DefectsState::in_object && !s.holding ? take_empty_line(s.source) : 0) {
        end_object(s, n);
        return DefectsStep::object_end;
    }
    // The usual defect line, parsed in place.
    std::int64_t v[4];
    const bool in_object =
        s.state == DefectsState::in_object || s.state == DefectsState::want_object;
    if (const std::uint64_t n = in_object && !s.holding ? take_number_line(s.source, v, 4) : 0) {
        if (s.state == DefectsState::want_object) {
            start_object(s, n);
        }
        take_defect(s, n, v, defects);
        return DefectsStep::go_on;
    }
    Line line;
    bool parse = true;
    if (s.holding) {
        s.holding = false;
        line = s.held;
        parse = !line.too_long;
    } else {
        const bool between = s.state == DefectsState::want_header;
        const ScanLine got = next_scan_line(s.source, s.problems, line, parse,
                                            std::int64_t{s.instance} + (between ? 1 : 0));
        if (got == ScanLine::end) {
            finish(s);
            return DefectsStep::end;
        }
        if (got == ScanLine::cut) {
            s.finished = true;
            s.end_line = line.number + 1;
            return DefectsStep::end;
        }
    }
    switch (s.state) {
    case DefectsState::want_header:
        return on_header_due(s, line);
    case DefectsState::want_header_blank:
        return on_header_blank_due(s, line);
    case DefectsState::want_object:
        return on_object_due(s, line);
    case DefectsState::in_object:
        return on_defect_due(s, line, parse, defects);
    }
    return DefectsStep::go_on;
}

} // namespace

std::int64_t header_number(const Line& line) {
    constexpr std::size_t prefix = 10;
    std::int64_t k = -1;
    if (line.size > prefix && line.size <= prefix + 10 &&
        std::memcmp(line.data, "instance: ", prefix) == 0 && line.data[prefix] != '0') {
        k = 0;
        for (std::size_t i = prefix; i < line.size && k >= 0; ++i) {
            const char c = line.data[i];
            k = c < '0' || c > '9' ? -1 : k * 10 + (c - '0');
        }
    }
    return k;
}

void init_defects_scan(DefectsScan& scan, const SetRules& rules, const std::string& path, int fd,
                       std::size_t buffer) {
    scan.rules = &rules;
    scan.per_instance = rules.objects_per_instance;
    init_line_source(scan.source, path, fd, buffer);
}

DefectsStep next_defects_step(DefectsScan& s, std::vector<Defect>& defects) {
    DefectsStep step = DefectsStep::go_on;
    while (step == DefectsStep::go_on) {
        step = next_step(s, defects);
    }
    return step;
}
