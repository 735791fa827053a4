// The one number parser: at most ten digits, no leading zero, ".000000", and a value that
// single precision holds; the words of a fault are made only when there is one.
#include "read/fields.h"

#include <cstring>

namespace {

// The largest value either file can hold: a float sum of two values below 2^31.
constexpr std::int64_t largest_value = std::int64_t{1} << 32;

bool is_digit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

bool fault(std::string& why, int field, const char* what) {
    why = "field " + std::to_string(field + 1) + what;
    return false;
}

// The first field of [p, end) into `value`; `p` is left after its ".000000".
bool parse_field(const char*& p, const char* end, int field, std::int64_t& value,
                 std::string& why) {
    const char* const digits = p;
    if (p == end || !is_digit(*p)) {
        if (p != end && (*p == '+' || *p == '-')) {
            return fault(why, field, " carries a sign");
        }
        return fault(why, field, p == end || *p == '\t' ? " is missing" : " is not a number");
    }
    if (*p == '0' && p + 1 < end && is_digit(p[1])) {
        return fault(why, field, " has a leading zero");
    }
    value = 0;
    for (; p < end && is_digit(*p); ++p) {
        if (p - digits == 10) {
            return fault(why, field, " is larger than any value the files hold");
        }
        value = value * 10 + (*p - '0');
    }
    if (end - p < 7 || std::memcmp(p, ".000000", 7) != 0) {
        return fault(why, field, " is not written with six zero decimals, as 12.000000");
    }
    p += 7;
    if (value > exact_float_limit && (value > largest_value || as_float(value) != value)) {
        why = "field " + std::to_string(field + 1) + " is " + std::to_string(value) +
              ", which single precision does not hold";
        return false;
    }
    return true;
}

} // namespace

bool parse_fields(const char* p, const char* end, std::int64_t* values, int count,
                  std::string& why) {
    for (int field = 0; field < count; ++field) {
        if (!parse_field(p, end, field, values[field], why)) {
            return false;
        }
        if (field + 1 == count) {
            break;
        }
        if (p == end) {
            why = "the line ends after field " + std::to_string(field + 1);
            return false;
        }
        if (*p != '\t') {
            return fault(why, field, " is not followed by one tab");
        }
        ++p;
    }
    if (p != end) {
        why = "the line goes on after field " + std::to_string(count);
        return false;
    }
    return true;
}
