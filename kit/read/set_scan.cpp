#include "read/set_scan.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::int64_t exact_float_limit = std::int64_t{1} << 24;
// The largest value either file can hold: a float sum of two values below 2^31.
constexpr std::int64_t largest_value = std::int64_t{1} << 32;
// The largest an item's length, width or area can print as: the float of INT32_MAX.
constexpr std::int64_t largest_item_value = std::int64_t{1} << 31;

// A whole number as single precision rounds it, for the values these files hold.
std::int64_t as_float(std::int64_t value) {
    return static_cast<std::int64_t>(static_cast<float>(value));
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

// Counts of blocks and instances stop at the largest 32-bit number: a file of two
// gigabytes of empty lines would pass it, and no such count means anything by then.
void count_up(std::int32_t& count) {
    if (count < INT32_MAX) {
        ++count;
    }
}

std::string text(std::int64_t value) {
    return std::to_string(value);
}

std::string instances_text(std::int64_t n) {
    return counted(static_cast<std::uint64_t>(n), "instance", "instances");
}

std::string instance_text(std::int64_t instance) {
    return "instance " + std::to_string(instance);
}

// Removes a "\r" before the line end and reports a line that is too long or ends so.
// Returns false when the line has been reported already and is not worth parsing.
bool clean_line(Line& line, ProblemList& problems) {
    if (line.too_long) {
        add_problem(problems, line.number,
                    "the line is longer than " + std::to_string(max_kit_line_length) +
                        " bytes; defectgen writes none longer than 80");
        return false;
    }
    if (line.size > 0 && line.data[line.size - 1] == '\r') {
        add_problem(problems, line.number,
                    "the line ends with \\r\\n (CRLF); defectgen ends its lines with \\n alone");
        --line.size;
    }
    return true;
}

std::string unparsed_line(const Line& line, const char* what, const std::string& why) {
    if (std::memchr(line.data, '\0', line.size) != nullptr) {
        return std::string("not ") + what + ": the line holds a NUL byte";
    }
    return std::string("not ") + what + ": " + why;
}

bool is_header(const Line& line) {
    return line.size >= 9 && std::memcmp(line.data, "instance:", 9) == 0;
}

// The number of a header "instance: k", or -1 when the line is not exactly one.
std::int64_t header_number(const Line& line) {
    constexpr std::size_t prefix = 10; // "instance: "
    if (line.size <= prefix || line.size > prefix + 10 ||
        std::memcmp(line.data, "instance: ", prefix) != 0) {
        return -1;
    }
    if (line.data[prefix] == '0') {
        return -1;
    }
    std::int64_t value = 0;
    for (std::size_t i = prefix; i < line.size; ++i) {
        const char c = line.data[i];
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// ---- The items file.

void check_item(ItemsScan& s, const SetRules& r, std::uint64_t number, const std::int64_t* v,
                Item& item) {
    item.length = v[0];
    item.width = v[1];
    item.area = v[2];
    item.line = number;
    for (int i = 0; i < 3; ++i) {
        if (v[i] > largest_item_value) {
            add_problem(s.problems, number,
                        "the value " + text(v[i]) + " is larger than any item defectgen writes");
            return;
        }
    }
    std::int64_t l_low = 0, l_high = 0, w_low = 0, w_high = 0;
    rounding_interval(item.length, l_low, l_high);
    rounding_interval(item.width, w_low, w_high);
    if (item.area < as_float(l_low * w_low) || item.area > as_float(l_high * w_high)) {
        add_problem(s.problems, number,
                    "the area " + text(item.area) + " is not length x width (" + text(item.length) +
                        " x " + text(item.width) + " = " +
                        text(as_float(item.length * item.width)) + ")");
        return;
    }
    if (r.from_answers) {
        if (item.area < r.minarea) {
            add_problem(s.problems, number,
                        "the area " + text(item.area) + " is below minarea " + text(r.minarea));
        } else if (item.area > r.maxarea) {
            add_problem(s.problems, number,
                        "the area " + text(item.area) + " is above maxarea " + text(r.maxarea));
        }
    } else if (item.area < 1) {
        add_problem(s.problems, number,
                    "an item of area 0; defectgen draws no item smaller than 1");
    } else if (item.area > as_float(r.area)) {
        add_problem(s.problems, number,
                    "the area " + text(item.area) + " is larger than the object's, " +
                        text(r.area));
    }
    if (item.length > as_float(r.length) || item.width > as_float(r.width)) {
        ++s.beyond_object;
    }
    if (s.items == 1) {
        s.first_item = item;
    } else if (item.length != s.first_item.length || item.width != s.first_item.width) {
        s.all_alike = false;
    }
}

void start_block(ItemsScan& s, std::uint64_t number) {
    const SetRules& r = *s.rules;
    if (r.instances >= 0 && s.blocks == r.instances) {
        add_problem(s.problems, number,
                    "a block too many: instance " + std::to_string(std::int64_t{s.blocks} + 1) +
                        " where the answers ask for " + instances_text(r.instances));
    }
}

void finish_items(ItemsScan& s) {
    s.finished = true;
    s.end_line = s.source.lines + 1;
    if (s.source.error != 0) {
        return;
    }
    if (s.in_block > 0) {
        s.ended_inside = true;
        add_problem(s.problems, s.end_line, cut_short_message(std::int64_t{s.blocks} + 1));
        return;
    }
    const SetRules& r = *s.rules;
    if (s.report_missing_instances && r.instances >= 0 && s.blocks < r.instances) {
        add_problem(s.problems, s.end_line, missing_instances_message(s.blocks, r.instances));
    }
}

// ---- The defects file.

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

std::string type_list(const SetRules& r) {
    if (r.types.size() > 5) {
        return "none of the " + std::to_string(r.types.size()) + " defect types";
    }
    std::string list;
    for (const Rectangle& t : r.types) {
        list += (list.empty() ? "" : ", ") + text(t.length) + " x " + text(t.width);
    }
    return "none of the defect types (" + list + ")";
}

void check_defect(DefectsScan& s, const SetRules& r, std::uint64_t number, const std::int64_t* v,
                  Defect& d) {
    d.x1 = v[0];
    d.y1 = v[1];
    d.x2 = v[2];
    d.y2 = v[3];
    d.line = number;
    if (d.x1 != 0 || d.y1 != 0) {
        s.all_at_origin = false;
    }
    if (d.x2 < d.x1 || d.y2 < d.y1) {
        add_problem(
            s.problems, number,
            "the corner (x2, y2) lies before (x1, y1); defectgen writes x1 <= x2, y1 <= y2");
        return;
    }
    const std::int64_t dx = d.x2 - d.x1;
    const std::int64_t dy = d.y2 - d.y1;
    const bool exact = d.x2 <= exact_float_limit && d.y2 <= exact_float_limit;
    if (r.from_answers) {
        if (exact) {
            const std::uint64_t key =
                (static_cast<std::uint64_t>(dx) << 32) | static_cast<std::uint64_t>(dy);
            const bool known =
                r.type_keys.size() <= 8
                    ? std::find(r.type_keys.begin(), r.type_keys.end(), key) != r.type_keys.end()
                    : std::binary_search(r.type_keys.begin(), r.type_keys.end(), key);
            if (!known) {
                add_problem(s.problems, number,
                            "a defect of size " + text(dx) + " x " + text(dy) + ", which is " +
                                type_list(r));
                return;
            }
            if (d.x2 > r.length || d.y2 > r.width) {
                add_problem(s.problems, number,
                            "the defect lies off the object: it reaches (" + text(d.x2) + ", " +
                                text(d.y2) + ") on an object of " + text(r.length) + " x " +
                                text(r.width));
            }
            return;
        }
        // Beyond 2^24 the corner and the sum are rounded: a type fits when the sums as
        // single precision forms them give the far corner.
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
        add_problem(
            s.problems, number,
            sized
                ? "the defect lies off the object: it starts at (" + text(d.x1) + ", " +
                      text(d.y1) + ") on an object of " + text(r.length) + " x " + text(r.width)
                : "a defect of size " + text(dx) + " x " + text(dy) + ", which is " + type_list(r));
        return;
    }
    if (exact && (dx == 0 || dy == 0)) {
        add_problem(s.problems, number,
                    "a defect of size " + text(dx) + " x " + text(dy) +
                        "; defectgen's defects are at least 1 x 1");
        return;
    }
    // Past 2^24 the far corner may round up beyond the object's side, by one unit of the
    // single-precision value at most.
    const auto reach = [](std::int64_t side) {
        const std::int64_t rounded = as_float(side);
        if (rounded <= exact_float_limit) {
            return rounded;
        }
        std::int64_t low = 0, high = 0;
        rounding_interval(rounded, low, high);
        return rounded + 2 * (high - rounded);
    };
    if (d.x2 > reach(r.length) || d.y2 > reach(r.width)) {
        add_problem(s.problems, number,
                    "the defect lies off the object: it reaches (" + text(d.x2) + ", " +
                        text(d.y2) + ") on an object of " + text(r.length) + " x " + text(r.width));
    }
}

// Counts the object that ends here and holds its number of defects against the bounds.
void end_object(DefectsScan& s, std::uint64_t line) {
    const SetRules& r = *s.rules;
    // An object beyond the instance's number has been told as a block too many.
    const bool extra = s.per_instance >= 0 && s.objects_done >= s.per_instance;
    if (s.in_object < r.min_defects && !extra) {
        add_problem(s.problems, line,
                    object_text(s) + " carries " +
                        counted(static_cast<std::uint64_t>(s.in_object), "defect", "defects") +
                        "; " + allowed_defects(r));
    }
    ++s.objects_done;
    ++s.objects;
    s.in_object = 0;
}

// An object (or its first defect line) begins: says once per instance when it is one
// too many.
void start_object(DefectsScan& s, std::uint64_t line) {
    if (s.per_instance >= 0 && s.objects_done == s.per_instance && !s.told_too_many) {
        s.told_too_many = true;
        add_problem(s.problems, line,
                    "a block too many: " + instance_text(s.instance) + " has more than " +
                        text(s.per_instance) + " objects");
    }
}

void end_instance(DefectsScan& s, std::uint64_t line, bool closed) {
    if (s.per_instance >= 0 && s.objects_done < s.per_instance) {
        add_problem(s.problems, line,
                    instance_text(s.instance) + " ends after " +
                        counted(static_cast<std::uint64_t>(s.objects_done), "object", "objects") +
                        " where " + text(s.per_instance) + " are due");
    } else if (!closed) {
        add_problem(s.problems, line, instance_text(s.instance) + " lacks its closing empty line");
    }
    if (s.per_instance < 0 && s.objects_done <= MAXMOD) {
        s.per_instance = s.objects_done;
    }
    count_up(s.instances);
    s.state = DefectsState::want_header;
}

void finish_defects(DefectsScan& s) {
    s.finished = true;
    s.end_line = s.source.lines + 1;
    if (s.source.error != 0) {
        return;
    }
    if (s.file_goes_on) {
        s.ends_cleanly = s.state == DefectsState::want_header;
        return;
    }
    if (s.state != DefectsState::want_header) {
        add_problem(s.problems, s.end_line, cut_short_message(s.instance));
        return;
    }
    const SetRules& r = *s.rules;
    if (r.instances >= 0 && s.instances < r.instances) {
        add_problem(s.problems, s.end_line, missing_instances_message(s.instances, r.instances));
    }
}

} // namespace

std::string counted(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void add_problem(ProblemList& list, std::uint64_t line, std::string message) {
    ++list.count;
    if (list.kept.size() < list.keep) {
        list.kept.push_back(Problem{line, std::move(message)});
    }
}

std::string missing_instances_message(std::int32_t held, std::int32_t asked) {
    if (held == 0) {
        return "the file is empty; the answers ask for " +
               counted(static_cast<std::uint64_t>(asked), "instance", "instances");
    }
    return "the file ends after instance " + std::to_string(held) + " of " + std::to_string(asked) +
           "; was the run cut short?";
}

std::string cut_short_message(std::int64_t instance) {
    return "the file ends inside instance " + std::to_string(instance) + "; was the run cut short?";
}

SetRules make_set_rules(const KitSet& set) {
    SetRules r;
    const RunParams& p = set.params;
    r.from_answers = set.from_answers;
    r.length = p.object.length;
    r.width = p.object.width;
    r.area = p.object.area;
    r.instances = set.instances;
    r.objects_per_instance = set.objects_per_instance;
    r.items_per_instance = -1;
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
    r.few_types = r.type_keys.size() <= 8;
    return r;
}

namespace {

// What is wrong with a line that parse_number_fields refused, worked out again slowly.
std::string why_unparsed(const char* p, const char* end, int count) {
    for (int field = 0; field < count; ++field) {
        const std::string name = "field " + std::to_string(field + 1);
        if (p == end || *p < '0' || *p > '9') {
            if (p != end && (*p == '+' || *p == '-')) {
                return name + " carries a sign";
            }
            return p == end || *p == '\t' ? name + " is missing" : name + " is not a number";
        }
        if (*p == '0' && p + 1 < end && p[1] >= '0' && p[1] <= '9') {
            return name + " has a leading zero";
        }
        std::int64_t value = 0;
        int digits = 0;
        while (p < end && *p >= '0' && *p <= '9') {
            if (++digits > 10) {
                return name + " is larger than any value the files hold";
            }
            value = value * 10 + (*p - '0');
            ++p;
        }
        if (end - p < 7 || std::memcmp(p, ".000000", 7) != 0) {
            return name + " is not written with six zero decimals, as 12.000000";
        }
        p += 7;
        if (value > largest_value || (value > exact_float_limit && as_float(value) != value)) {
            return name + " is " + text(value) + ", which single precision does not hold";
        }
        if (field + 1 < count) {
            if (p == end) {
                return "the line ends after field " + std::to_string(field + 1);
            }
            if (*p != '\t') {
                return "field " + std::to_string(field + 1) + " is not followed by one tab";
            }
            ++p;
        }
    }
    return "the line goes on after field " + std::to_string(count);
}

} // namespace

bool parse_number_fields(const char* p, const char* end, std::int64_t* values, int count,
                         std::string& why) {
    const char* const start = p;
    for (int field = 0; field < count; ++field) {
        // At most ten digits, the first not a zero unless it stands alone.
        const char* const digits = p;
        std::int64_t value = 0;
        while (p < end && static_cast<unsigned char>(*p - '0') < 10 && p - digits < 11) {
            value = value * 10 + (*p - '0');
            ++p;
        }
        const std::ptrdiff_t n = p - digits;
        if (n == 0 || n > 10 || (n > 1 && *digits == '0') || end - p < 7 ||
            std::memcmp(p, ".000000", 7) != 0 || value > largest_value ||
            (value > exact_float_limit && as_float(value) != value)) {
            why = why_unparsed(start, end, count);
            return false;
        }
        p += 7;
        values[field] = value;
        if (field + 1 < count) {
            if (p == end || *p != '\t') {
                why = why_unparsed(start, end, count);
                return false;
            }
            ++p;
        }
    }
    if (p != end) {
        why = why_unparsed(start, end, count);
        return false;
    }
    return true;
}

namespace {

// The longest line the fast path below parses in place: four fields of ten digits.
constexpr std::size_t fast_line_length = 4 * 18;

// A line exactly as defectgen writes it, parsed in place: `count` fields of digits and
// ".000000", tab-separated, with its line end. Returns the bytes taken, or 0 for anything
// else (the general path then reads the line and says what is wrong).
// The value of the first n (1 to 7) bytes of a little-endian word when they are all
// digits: the digits moved to the top and '0's put below them, then combined pair by pair.
// False when a byte is no digit.
inline bool digits_of_word(std::uint64_t word, int n, std::uint64_t& value) {
    word = (word << (8 * (8 - n))) | (0x3030303030303030ULL >> (8 * n));
    if (((word & 0xf0f0f0f0f0f0f0f0ULL) |
         (((word + 0x0606060606060606ULL) & 0xf0f0f0f0f0f0f0f0ULL) >> 4)) !=
        0x3333333333333333ULL) {
        return false;
    }
    word -= 0x3030303030303030ULL;
    word = (word * 10) + (word >> 8);
    value = (((word & 0x000000ff000000ffULL) * (100 + (1000000ULL << 32))) +
             (((word >> 16) & 0x000000ff000000ffULL) * (1 + (10000ULL << 32)))) >>
            32;
    return true;
}

// The digits at `p` up to the point that ends them, when they are one to seven and at
// least 16 bytes can be read: eight bytes at once, as a little-endian word. Returns the
// number of digits, or 0 when the word way does not apply (the byte loop then does).
inline int word_digits(const char* p, std::uint64_t& value) {
    if constexpr (std::endian::native != std::endian::little) {
        return 0;
    } else {
        std::uint64_t word = 0;
        std::memcpy(&word, p, 8);
        // The first '.' in the word: its byte becomes zero, and the lowest zero byte is
        // found exactly (the borrow goes only upwards).
        const std::uint64_t dots = word ^ 0x2e2e2e2e2e2e2e2eULL;
        const std::uint64_t zero = (dots - 0x0101010101010101ULL) & ~dots & 0x8080808080808080ULL;
        if (zero == 0) {
            return 0;
        }
        const int n = std::countr_zero(zero) / 8;
        if (n == 0) {
            return 0;
        }
        return digits_of_word(word, n, value) ? n : 0;
    }
}

constexpr char tab_end[8] = {'.', '0', '0', '0', '0', '0', '0', '\t'};
constexpr char line_end[8] = {'.', '0', '0', '0', '0', '0', '0', '\n'};

// The usual line, of fields of one to seven digits, found from the places of its points:
// one pass over 64 bytes tells where every field ends, so the fields are parsed
// independently of each other instead of each waiting for the end of the one before.
// Returns the bytes taken, or 0 for any other line (or without SSE2).
std::size_t parse_by_points(const char* p, const char* end, std::int64_t* values, int count) {
#if defined(__SSE2__)
    if (end - p < 72) {
        return 0;
    }
    const __m128i point = _mm_set1_epi8('.');
    std::uint64_t points = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const auto found =
            static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, point)));
        points |= static_cast<std::uint64_t>(found) << (16 * i);
    }
    int start = 0;
    for (int field = 0; field < count; ++field) {
        if (points == 0) {
            return 0;
        }
        const int at = std::countr_zero(points);
        points &= points - 1;
        const int n = at - start;
        if (n < 1 || n > 7 || (n > 1 && p[start] == '0') ||
            std::memcmp(p + at, field + 1 < count ? tab_end : line_end, 8) != 0) {
            return 0;
        }
        std::uint64_t word = 0;
        std::memcpy(&word, p + start, 8);
        std::uint64_t digits = 0;
        if (!digits_of_word(word, n, digits)) {
            return 0;
        }
        values[field] = static_cast<std::int64_t>(digits); // below 10^7: exact as a float
        start = at + 8;
    }
    return static_cast<std::size_t>(start);
#else
    (void)p;
    (void)end;
    (void)values;
    (void)count;
    return 0;
#endif
}

} // namespace

std::size_t parse_in_place(const char* p, const char* end, std::int64_t* values, int count) {
    if (const std::size_t size = parse_by_points(p, end, values, count); size > 0) {
        return size;
    }
    const char* const start = p;
    for (int field = 0; field < count; ++field) {
        const char* const digits = p;
        std::int64_t value = 0;
        std::uint64_t word_value = 0;
        int n = end - p >= 16 ? word_digits(p, word_value) : 0;
        if (n > 0) {
            value = static_cast<std::int64_t>(word_value);
            p += n;
        } else {
            while (p < end && static_cast<unsigned char>(*p - '0') < 10) {
                value = value * 10 + (*p - '0');
                if (++p - digits > 10) {
                    return 0;
                }
            }
            n = static_cast<int>(p - digits);
        }
        if (n == 0 || (n > 1 && *digits == '0') || end - p < 8 ||
            std::memcmp(p, field + 1 < count ? tab_end : line_end, 8) != 0) {
            return 0;
        }
        if (value > exact_float_limit && (value > largest_value || as_float(value) != value)) {
            return 0;
        }
        values[field] = value;
        p += 8;
    }
    return static_cast<std::size_t>(p - start);
}

namespace {

// Counts an item line of the current block; returns the most the block may hold.
std::int64_t count_item_line(ItemsScan& s, std::uint64_t number) {
    const SetRules& r = *s.rules;
    if (s.in_block == 0) {
        start_block(s, number);
        if (s.per_block < 0 && r.items_per_instance >= 0) {
            s.per_block = r.items_per_instance;
        }
    }
    ++s.in_block;
    ++s.items;
    const std::int64_t most = s.per_block >= 0 ? s.per_block : MAXMOD;
    if (s.in_block == most + 1) {
        add_problem(s.problems, number,
                    instance_text(std::int64_t{s.blocks} + 1) + " has more than " + text(most) +
                        " item types" +
                        (s.per_block >= 0 ? "; an empty line ending it is missing?" : " (MAXMOD)"));
    }
    return most;
}

// A defect that check_defect would pass without a word, when the answers give the types
// and every value is exact in single precision: one of a few types, on the object.
inline bool plainly_fits(const SetRules& r, const std::int64_t* v) {
    if (!r.few_types || v[2] > exact_float_limit || v[3] > exact_float_limit || v[2] < v[0] ||
        v[3] < v[1] || v[2] > r.length || v[3] > r.width) {
        return false;
    }
    const std::uint64_t key =
        (static_cast<std::uint64_t>(v[2] - v[0]) << 32) | static_cast<std::uint64_t>(v[3] - v[1]);
    for (const std::uint64_t type : r.type_keys) {
        if (type == key) {
            return true;
        }
    }
    return false;
}

// Counts a defect line of the current object.
void count_defect_line(DefectsScan& s, std::uint64_t number) {
    const SetRules& r = *s.rules;
    ++s.in_object;
    ++s.defects;
    if (s.in_object == r.max_defects + 1) {
        add_problem(s.problems, number,
                    object_text(s) + " carries more than " + text(r.max_defects) + " defects; " +
                        allowed_defects(r));
    }
}

// Counts a defect line that plainly_fits.
inline void count_plain_defect(DefectsScan& s, const std::int64_t* v) {
    ++s.in_object;
    ++s.defects;
    s.all_at_origin = s.all_at_origin && v[0] == 0 && v[1] == 0;
}

} // namespace

ItemsEvent next_items_event(ItemsScan& s, Item& item) {
    const SetRules& r = *s.rules;
    for (;;) {
        if (s.finished || (s.stop_at_problem && s.problems.count > 0)) {
            s.finished = true;
            return ItemsEvent::end;
        }
        std::size_t avail = 0;
        if (const char* w = line_window(s.source, fast_line_length, avail); w != nullptr) {
            std::int64_t v[3];
            if (const std::size_t size = parse_in_place(w, w + avail, v, 3); size > 0) {
                consume_line(s.source, size);
                const std::uint64_t number = s.source.lines;
                const std::int64_t most = count_item_line(s, number);
                const std::uint64_t before = s.problems.count;
                check_item(s, r, number, v, item);
                if (s.problems.count == before && s.in_block <= most && !s.quiet) {
                    return ItemsEvent::item;
                }
                continue;
            }
        }
        Line line;
        if (!next_line(s.source, line)) {
            finish_items(s);
            return ItemsEvent::end;
        }
        const bool parse = clean_line(line, s.problems);
        if (!line.newline) {
            s.ended_inside = true;
            add_problem(s.problems, line.number, cut_short_message(std::int64_t{s.blocks} + 1));
            s.finished = true;
            s.end_line = line.number + 1;
            return ItemsEvent::end;
        }
        if (line.size == 0 && parse) {
            if (s.in_block == 0) {
                start_block(s, line.number);
            }
            count_up(s.blocks);
            if (s.per_block >= 0 && s.in_block < s.per_block) {
                add_problem(
                    s.problems, line.number,
                    instance_text(s.blocks) + " ends after " +
                        counted(static_cast<std::uint64_t>(s.in_block), "item type", "item types") +
                        " where " + text(s.per_block) + " are due");
            }
            if (s.per_block < 0) {
                s.per_block = r.items_per_instance >= 0 ? r.items_per_instance : s.in_block;
            }
            s.in_block = 0;
            if (s.stop_at_problem && s.problems.count > 0) {
                continue;
            }
            return ItemsEvent::block_end;
        }
        const std::int64_t most = count_item_line(s, line.number);
        if (!parse) {
            continue;
        }
        std::int64_t v[3];
        std::string why;
        if (!parse_number_fields(line.data, line.data + line.size, v, 3, why)) {
            add_problem(s.problems, line.number, unparsed_line(line, "an item line", why));
            continue;
        }
        const std::uint64_t before = s.problems.count;
        check_item(s, r, line.number, v, item);
        if (s.problems.count == before && s.in_block <= most) {
            return ItemsEvent::item;
        }
    }
}

DefectsEvent next_defects_event(DefectsScan& s, Defect& defect) {
    const SetRules& r = *s.rules;
    if (s.per_instance < 0 && r.objects_per_instance >= 0) {
        s.per_instance = r.objects_per_instance;
    }
    for (;;) {
        if (s.finished || (s.stop_at_problem && s.problems.count > 0)) {
            s.finished = true;
            return DefectsEvent::end;
        }
        if (!s.holding &&
            (s.state == DefectsState::in_object || s.state == DefectsState::want_object)) {
            std::size_t avail = 0;
            const char* w = line_window(s.source, fast_line_length, avail);
            if (w != nullptr && avail > 0 && *w == '\n' && s.state == DefectsState::in_object) {
                consume_line(s.source, 1);
                s.state = DefectsState::want_object;
                end_object(s, s.source.lines);
                if (s.quiet) {
                    continue;
                }
                return DefectsEvent::object_end;
            }
            std::int64_t v[4];
            if (const std::size_t size = w != nullptr ? parse_in_place(w, w + avail, v, 4) : 0;
                size > 0) {
                consume_line(s.source, size);
                const std::uint64_t number = s.source.lines;
                if (s.state == DefectsState::want_object) {
                    start_object(s, number);
                    s.state = DefectsState::in_object;
                }
                if (s.in_object < r.max_defects && plainly_fits(r, v)) {
                    // The common case, told by a few comparisons: nothing to report.
                    count_plain_defect(s, v);
                    if (s.quiet) {
                        continue;
                    }
                    defect = {v[0], v[1], v[2], v[3], number};
                    return DefectsEvent::defect;
                }
                count_defect_line(s, number);
                const std::uint64_t before = s.problems.count;
                check_defect(s, r, number, v, defect);
                if (s.problems.count == before && s.in_object <= r.max_defects && !s.quiet) {
                    return DefectsEvent::defect;
                }
                continue;
            }
        }
        Line line;
        bool parse = true;
        if (s.holding) {
            s.holding = false;
            line = s.held;
        } else {
            if (!next_line(s.source, line)) {
                finish_defects(s);
                return DefectsEvent::end;
            }
            parse = clean_line(line, s.problems);
            if (!line.newline) {
                add_problem(s.problems, line.number,
                            cut_short_message(s.state == DefectsState::want_header
                                                  ? std::int64_t{s.instance} + 1
                                                  : s.instance));
                s.finished = true;
                s.end_line = line.number + 1;
                return DefectsEvent::end;
            }
            if (!parse) {
                // An overlong line stands where a defect line would.
                line.size = 1;
            }
        }
        const bool empty = line.size == 0;
        switch (s.state) {
        case DefectsState::want_header: {
            if (is_header(line)) {
                const std::int64_t k = header_number(line);
                count_up(s.instance);
                s.objects_done = 0;
                s.in_object = 0;
                s.told_too_many = false;
                if (k < 0) {
                    add_problem(s.problems, line.number,
                                "not a header: expected \"instance: " + std::to_string(s.instance) +
                                    "\"");
                } else if (k != s.instance) {
                    add_problem(s.problems, line.number,
                                "the header names instance " + text(k) + " where " +
                                    instance_text(s.instance) + " is due");
                }
                if (r.instances >= 0 && s.instance == r.instances + 1) {
                    add_problem(s.problems, line.number,
                                "a block too many: " + instance_text(s.instance) +
                                    " where the answers ask for " + instances_text(r.instances));
                }
                s.state = DefectsState::want_header_blank;
                return DefectsEvent::instance_start;
            }
            if (empty) {
                add_problem(s.problems, line.number,
                            "an empty line where the header \"instance: " +
                                std::to_string(std::int64_t{s.instance} + 1) + "\" is due");
                continue;
            }
            count_up(s.instance);
            s.objects_done = 0;
            s.in_object = 0;
            s.told_too_many = false;
            add_problem(s.problems, line.number,
                        "the header \"instance: " + std::to_string(s.instance) +
                            "\" is missing here");
            s.state = DefectsState::want_object;
            s.held = line;
            s.holding = true;
            return DefectsEvent::instance_start;
        }
        case DefectsState::want_header_blank:
            s.state = DefectsState::want_object;
            if (!empty) {
                add_problem(s.problems, line.number,
                            "the header of " + instance_text(s.instance) +
                                " is not followed by its empty line");
                s.held = line;
                s.holding = true;
            }
            continue;
        case DefectsState::want_object: {
            if (empty) {
                // One line ahead tells an empty object from the instance's closing line:
                // the latter comes before a header or the end of the file.
                Line ahead;
                const bool more = peek_line(s.source, ahead);
                if (!more || is_header(ahead)) {
                    if (!more && s.per_instance >= 0 && s.objects_done < s.per_instance) {
                        finish_defects(s); // the file ends inside the instance
                        return DefectsEvent::end;
                    }
                    end_instance(s, line.number, true);
                    return DefectsEvent::instance_end;
                }
                start_object(s, line.number);
                end_object(s, line.number);
                return DefectsEvent::object_end;
            }
            if (is_header(line)) {
                end_instance(s, line.number, false);
                s.held = line;
                s.holding = true;
                return DefectsEvent::instance_end;
            }
            start_object(s, line.number);
            s.state = DefectsState::in_object;
            s.held = line;
            s.holding = true;
            continue;
        }
        case DefectsState::in_object: {
            if (empty) {
                s.state = DefectsState::want_object;
                end_object(s, line.number);
                return DefectsEvent::object_end;
            }
            if (is_header(line)) {
                add_problem(s.problems, line.number,
                            object_text(s) + " lacks its closing empty line");
                s.state = DefectsState::want_object;
                end_object(s, line.number);
                s.held = line;
                s.holding = true;
                return DefectsEvent::object_end;
            }
            count_defect_line(s, line.number);
            if (!parse || line.too_long) {
                continue;
            }
            std::int64_t v[4];
            std::string why;
            if (!parse_number_fields(line.data, line.data + line.size, v, 4, why)) {
                add_problem(s.problems, line.number, unparsed_line(line, "a defect line", why));
                continue;
            }
            const std::uint64_t before = s.problems.count;
            check_defect(s, r, line.number, v, defect);
            if (s.problems.count == before && s.in_object <= r.max_defects) {
                return DefectsEvent::defect;
            }
            continue;
        }
        }
    }
}

bool take_plain_defects(DefectsScan& s, std::vector<Defect>& defects) {
    const SetRules& r = *s.rules;
    if (!r.few_types || s.holding || s.finished || s.problems.count > 0 ||
        (s.state != DefectsState::in_object && s.state != DefectsState::want_object)) {
        return false;
    }
    LineSource& source = s.source;
    for (;;) {
        std::size_t avail = 0;
        const char* const w = line_window(source, fast_line_length, avail);
        if (w == nullptr || avail == 0) {
            return false;
        }
        // The window's lines, counted in locals (the defects written could otherwise be
        // the scan's counters): the first line always, the next ones while the window
        // surely holds a whole line.
        const char* const end = w + avail;
        const char* p = w;
        std::uint64_t line = source.lines;
        std::int64_t in_object = s.in_object;
        bool at_origin = s.all_at_origin;
        bool closed = false;
        bool plain = true; // no line has been met that next_defects_event must read
        do {
            if (*p == '\n' && s.state == DefectsState::in_object) {
                ++p;
                ++line;
                closed = true;
                break;
            }
            std::int64_t v[4];
            const std::size_t size = parse_in_place(p, end, v, 4);
            if (size == 0 || in_object >= r.max_defects || !plainly_fits(r, v)) {
                plain = false;
                break;
            }
            p += size;
            ++line;
            if (s.state == DefectsState::want_object) {
                start_object(s, line);
                s.state = DefectsState::in_object;
            }
            ++in_object;
            at_origin = at_origin && v[0] == 0 && v[1] == 0;
            defects.push_back({v[0], v[1], v[2], v[3], line});
            if (s.problems.count > 0) {
                plain = false; // a block too many: next_defects_event ends the reading
                break;
            }
        } while (end - p >= static_cast<std::ptrdiff_t>(fast_line_length));
        const auto taken = static_cast<std::size_t>(p - w);
        source.begin += taken;
        source.bytes_done += taken;
        source.lines = line;
        s.defects += static_cast<std::uint64_t>(in_object - s.in_object);
        s.in_object = in_object;
        s.all_at_origin = at_origin;
        if (closed) {
            s.state = DefectsState::want_object;
            end_object(s, line);
            return true;
        }
        if (!plain) {
            return false;
        }
    }
}
