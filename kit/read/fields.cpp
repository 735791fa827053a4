// Both parsers accept exactly the same lines (the fuzzer holds them to it): at most ten
// digits, no leading zero, ".000000", and a value that single precision holds.
#include "read/fields.h"

#include <cstring>

namespace {

// The largest value either file can hold: a float sum of two values below 2^31.
constexpr std::int64_t largest_value = std::int64_t{1} << 32;

bool is_digit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

bool float_holds(std::int64_t value) {
    return value <= exact_float_limit || (value <= largest_value && as_float(value) == value);
}

constexpr char tab_end[8] = {'.', '0', '0', '0', '0', '0', '0', '\t'};
constexpr char line_end[8] = {'.', '0', '0', '0', '0', '0', '0', '\n'};

// The first field of [p, end): its value, and what is wrong with it (empty when nothing).
// `p` is left after its ".000000".
std::string parse_field(const char*& p, const char* end, const std::string& name,
                        std::int64_t& value) {
    if (p == end || !is_digit(*p)) {
        if (p != end && (*p == '+' || *p == '-')) {
            return name + " carries a sign";
        }
        return p == end || *p == '\t' ? name + " is missing" : name + " is not a number";
    }
    if (*p == '0' && p + 1 < end && is_digit(p[1])) {
        return name + " has a leading zero";
    }
    value = 0;
    for (int digits = 0; p < end && is_digit(*p); ++p) {
        if (++digits > 10) {
            return name + " is larger than any value the files hold";
        }
        value = value * 10 + (*p - '0');
    }
    if (end - p < 7 || std::memcmp(p, ".000000", 7) != 0) {
        return name + " is not written with six zero decimals, as 12.000000";
    }
    p += 7;
    if (!float_holds(value)) {
        return name + " is " + std::to_string(value) + ", which single precision does not hold";
    }
    return {};
}

} // namespace

std::size_t parse_in_place(const char* p, const char* end, std::int64_t* values, int count) {
    const char* const start = p;
    for (int field = 0; field < count; ++field) {
        const char* const digits = p;
        std::int64_t value = 0;
        while (p < end && is_digit(*p)) {
            value = value * 10 + (*p - '0');
            if (++p - digits > 10) {
                return 0;
            }
        }
        const std::ptrdiff_t n = p - digits;
        if (n == 0 || (n > 1 && *digits == '0') || end - p < 8 ||
            std::memcmp(p, field + 1 < count ? tab_end : line_end, 8) != 0 ||
            !float_holds(value)) {
            return 0;
        }
        values[field] = value;
        p += 8;
    }
    return static_cast<std::size_t>(p - start);
}

std::string parse_fields(const char* p, const char* end, std::int64_t* values, int count) {
    for (int field = 0; field < count; ++field) {
        const std::string number = std::to_string(field + 1);
        if (std::string why = parse_field(p, end, "field " + number, values[field]); !why.empty()) {
            return why;
        }
        if (field + 1 < count) {
            if (p == end) {
                return "the line ends after field " + number;
            }
            if (*p != '\t') {
                return "field " + number + " is not followed by one tab";
            }
            ++p;
        }
    }
    return p == end ? std::string() : "the line goes on after field " + std::to_string(count);
}
