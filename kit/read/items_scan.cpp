// The items file: every line taken by next_scan_line and parsed by the one parser, then
// counted against its block and checked against the rules.
#include "read/items_scan.h"

#include "read/fields.h"

#include <bit>

namespace {

// The largest an item's length, width or area can print as: the float of INT32_MAX.
constexpr std::int64_t largest_item_value = std::int64_t{1} << 31;

std::string text(std::int64_t value) {
    return std::to_string(value);
}

void add(ItemsScan& s, std::uint64_t line, std::string message) {
    add_problem(s.problems, s.source.path, line, std::move(message));
}

// The whole numbers that single precision rounds to `value` lie in [low, high].
void rounding_interval(std::int64_t value, std::int64_t& low, std::int64_t& high) {
    if (value <= exact_float_limit) {
        low = high = value;
        return;
    }
    const int exponent = std::bit_width(static_cast<std::uint64_t>(value)) - 1;
    const std::int64_t half_ulp = std::int64_t{1} << (exponent - 24);
    low = value - half_ulp;
    high = value + half_ulp;
}

// The values, and the area against length x width as single precision rounds all three;
// false when they are not as defectgen writes them.
bool check_values(ItemsScan& s, const Item& item) {
    for (const std::int64_t v : {item.length, item.width, item.area}) {
        if (v > largest_item_value) {
            add(s, item.line, "the value " + text(v) + " is larger than any item defectgen writes");
            return false;
        }
    }
    std::int64_t l_low = 0, l_high = 0, w_low = 0, w_high = 0;
    rounding_interval(item.length, l_low, l_high);
    rounding_interval(item.width, w_low, w_high);
    if (item.area < as_float(l_low * w_low) || item.area > as_float(l_high * w_high)) {
        add(s, item.line,
            "the area " + text(item.area) + " is not length x width (" + text(item.length) + " x " +
                text(item.width) + " = " + text(as_float(item.length * item.width)) + ")");
        return false;
    }
    return true;
}

// The area against the bounds the answers give, or the object's own area without them.
void check_bounds(ItemsScan& s, const SetRules& r, const Item& item) {
    const auto area = [&](const char* what, std::int64_t bound) {
        add(s, item.line, "the area " + text(item.area) + what + text(bound));
    };
    if (r.from_answers) {
        if (item.area < r.minarea) {
            area(" is below minarea ", r.minarea);
        } else if (item.area > r.maxarea) {
            area(" is above maxarea ", r.maxarea);
        }
    } else if (item.area < 1) {
        add(s, item.line, "an item of area 0; defectgen draws no item smaller than 1");
    } else if (item.area > as_float(r.area)) {
        area(" is larger than the object's, ", r.area);
    }
}

// Checks an item and notes what check tells of all items; false when it has a problem.
bool check_item(ItemsScan& s, const Item& item) {
    const SetRules& r = *s.rules;
    const std::uint64_t before = s.problems.count;
    if (!check_values(s, item)) {
        return false;
    }
    check_bounds(s, r, item);
    if (item.length > as_float(r.length) || item.width > as_float(r.width)) {
        ++s.beyond_object;
    }
    if (s.items == 1) {
        s.first_item = item;
    } else if (item.length != s.first_item.length || item.width != s.first_item.width) {
        s.all_alike = false;
    }
    return s.problems.count == before;
}

void start_block(ItemsScan& s, std::uint64_t line) {
    const SetRules& r = *s.rules;
    if (r.instances >= 0 && s.blocks == r.instances) {
        add(s, line,
            "a block too many: instance " + text(std::int64_t{s.blocks} + 1) +
                " where the answers ask for " +
                counted(static_cast<std::uint64_t>(r.instances), "instance", "instances"));
    }
}

// Counts an item line of the current block; returns the most the block may hold.
std::int64_t count_item_line(ItemsScan& s, std::uint64_t line) {
    const SetRules& r = *s.rules;
    if (s.in_block == 0) {
        start_block(s, line);
        if (s.per_block < 0 && r.items_per_instance >= 0) {
            s.per_block = r.items_per_instance;
        }
    }
    ++s.in_block;
    ++s.items;
    const std::int64_t most = s.per_block >= 0 ? s.per_block : MAXMOD;
    if (s.in_block == most + 1) {
        add(s, line,
            instance_text(std::int64_t{s.blocks} + 1) + " has more than " + text(most) +
                " item types" +
                (s.per_block >= 0 ? "; an empty line ending it is missing?" : " (MAXMOD)"));
    }
    return most;
}

void end_block(ItemsScan& s, std::uint64_t line) {
    if (s.in_block == 0) {
        start_block(s, line);
    }
    count_up(s.blocks);
    if (s.per_block >= 0 && s.in_block < s.per_block) {
        add(s, line,
            instance_text(s.blocks) + " ends after " +
                counted(static_cast<std::uint64_t>(s.in_block), "item type", "item types") +
                " where " + text(s.per_block) + " are due");
    }
    if (s.per_block < 0) {
        const SetRules& r = *s.rules;
        s.per_block = r.items_per_instance >= 0 ? r.items_per_instance : s.in_block;
    }
    s.in_block = 0;
}

void finish(ItemsScan& s) {
    s.end_line = s.source.lines + 1;
    if (s.source.error != 0) {
        return;
    }
    if (s.in_block > 0) {
        s.ended_inside = true;
        add(s, s.end_line, cut_short_message(std::int64_t{s.blocks} + 1));
        return;
    }
    const SetRules& r = *s.rules;
    if (s.report_missing_instances && r.instances >= 0 && s.blocks < r.instances) {
        add(s, s.end_line, missing_instances_message(s.blocks, r.instances));
    }
}

// An item line's numbers, checked: kept in `items` when all is well.
void take_item(ItemsScan& s, std::int64_t most, const Item& item, std::vector<Item>& items) {
    if (check_item(s, item) && s.in_block <= most) {
        items.push_back(item);
    }
}

// One line of the file, the usual item line parsed in place; false when it ends the
// block or the file.
bool take_line(ItemsScan& s, std::vector<Item>& items) {
    std::int64_t v[3];
    if (const std::uint64_t n = take_number_line(s.source, v, 3)) {
        take_item(s, count_item_line(s, n), {v[0], v[1], v[2], n}, items);
        return true;
    }
    Line line;
    bool parse = true;
    const ScanLine got =
        next_scan_line(s.source, s.problems, line, parse, std::int64_t{s.blocks} + 1);
    if (got != ScanLine::line) {
        s.finished = true;
        if (got == ScanLine::end) {
            finish(s);
        } else {
            s.ended_inside = true;
            s.end_line = line.number + 1;
        }
        return false;
    }
    if (line.size == 0) {
        end_block(s, line.number);
        return false;
    }
    const std::int64_t most = count_item_line(s, line.number);
    std::string why;
    if (parse && !parse_line(line.data, line.data + line.size, v, 3, why)) {
        add(s, line.number, unparsed_line(line, "an item line", why));
    } else if (parse) {
        take_item(s, most, {v[0], v[1], v[2], line.number}, items);
    }
    return true;
}

// Reading ends at the end of the file, and at the first problem unless every_problem.
bool stopped(ItemsScan& s) {
    s.finished = s.finished || (!s.every_problem && s.problems.count > 0);
    return s.finished;
}

} // namespace

void init_items_scan(ItemsScan& scan, const SetRules& rules, const std::string& path, int fd,
                     std::size_t buffer) {
    scan.rules = &rules;
    init_line_source(scan.source, path, fd, buffer);
}

bool read_block(ItemsScan& s, std::vector<Item>& items) {
    items.clear();
    while (!stopped(s)) {
        if (!take_line(s, items)) {
            return !stopped(s);
        }
    }
    return false;
}
