// The one number parser: at most ten digits, no leading zero, ".000000", and a value that
// single precision holds. The usual field of one to seven digits is read eight bytes at a
// time, without a branch per digit; any other goes digit by digit, which also tells what
// is wrong. The words of a fault are made only when they are asked for.
#include "read/fields.h"

#include <bit>
#include <cstring>

namespace {

// The largest value either file can hold: a float sum of two values below 2^31.
constexpr std::int64_t largest_value = std::int64_t{1} << 32;

bool is_digit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

// The value of the first n (1 to 7) bytes of a little-endian word when they are all
// digits: the digits moved to the top and '0's put below them, then combined pair by pair.
bool digits_of_word(std::uint64_t word, int n, std::int64_t& value) {
    word = (word << (8 * (8 - n))) | (0x3030303030303030ULL >> (8 * n));
    if (((word & 0xf0f0f0f0f0f0f0f0ULL) |
         (((word + 0x0606060606060606ULL) & 0xf0f0f0f0f0f0f0f0ULL) >> 4)) !=
        0x3333333333333333ULL) {
        return false;
    }
    word -= 0x3030303030303030ULL;
    word = (word * 10) + (word >> 8);
    value = static_cast<std::int64_t>(
        (((word & 0x000000ff000000ffULL) * (100 + (1000000ULL << 32))) +
         (((word >> 16) & 0x000000ff000000ffULL) * (1 + (10000ULL << 32)))) >>
        32);
    return true;
}

// A field of one to seven digits and ".000000" at `p`, 16 bytes readable there: its
// length, or 0 when the field is not so.
int word_field(const char* p, std::int64_t& value) {
    if constexpr (std::endian::native != std::endian::little) {
        return 0;
    }
    std::uint64_t word = 0;
    std::memcpy(&word, p, 8);
    // The first '.': its byte becomes zero, and the lowest zero byte is found exactly.
    const std::uint64_t dots = word ^ 0x2e2e2e2e2e2e2e2eULL;
    const std::uint64_t zero = (dots - 0x0101010101010101ULL) & ~dots & 0x8080808080808080ULL;
    const int n = zero == 0 ? 0 : std::countr_zero(zero) / 8;
    const bool ok = n > 0 && !(n > 1 && *p == '0') && std::memcmp(p + n, ".000000", 7) == 0 &&
                    digits_of_word(word, n, value);
    return ok ? n + 7 : 0;
}

const char* fault(std::string* why, int field, const char* what) {
    if (why != nullptr) {
        *why = "field " + std::to_string(field + 1) + what;
    }
    return nullptr;
}

// The field at `p`: returns where its ".000000" ends, or nullptr.
const char* parse_field(const char* p, const char* end, int field, std::int64_t& value,
                        std::string* why) {
    if (end - p >= 16) {
        if (const int n = word_field(p, value); n > 0) {
            return p + n;
        }
    }
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
    if (value > exact_float_limit && (value > largest_value || as_float(value) != value)) {
        const std::string is = " is " + std::to_string(value);
        return fault(why, field, (is + ", which single precision does not hold").c_str());
    }
    return p + 7;
}

} // namespace

const char* parse_fields(const char* p, const char* end, std::int64_t* values, int count,
                         std::string* why) {
    for (int field = 0; field < count; ++field) {
        if (field > 0 && p == end) {
            if (why != nullptr) {
                *why = "the line ends after field " + std::to_string(field);
            }
            return nullptr;
        }
        if (field > 0 && *p++ != '\t') {
            return fault(why, field - 1, " is not followed by one tab");
        }
        p = parse_field(p, end, field, values[field], why);
        if (p == nullptr) {
            return nullptr;
        }
    }
    return p;
}

bool parse_line(const char* p, const char* end, std::int64_t* values, int count, std::string& why) {
    p = parse_fields(p, end, values, count, &why);
    if (p != nullptr && p != end) {
        why = "the line goes on after field " + std::to_string(count);
    }
    return p == end;
}
