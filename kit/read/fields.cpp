// Both parsers accept exactly the same lines (the fuzzer holds them to it): at most ten
// digits, no leading zero, ".000000", and a value that single precision holds.
#include "read/fields.h"

#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The value of the first n (1 to 7) bytes of a little-endian word when they are all
// digits: the digits moved to the top and '0's put below them, then combined pair by pair.
// False when a byte is no digit.
bool digits_of_word(std::uint64_t word, int n, std::uint64_t& value) {
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

// The digits at `p` up to the point that ends them, eight bytes at once, when they are one
// to seven: returns their number, or 0 when the word way does not apply (the byte loop
// then reads the field). At least 16 bytes must be readable at `p`.
int word_digits(const char* p, std::uint64_t& value) {
    if constexpr (std::endian::native != std::endian::little) {
        return 0;
    } else {
        std::uint64_t word = 0;
        std::memcpy(&word, p, 8);
        // The first '.' in the word: its byte becomes zero, and the lowest zero byte is
        // found exactly (the borrow goes only upwards).
        const std::uint64_t dots = word ^ 0x2e2e2e2e2e2e2e2eULL;
        const std::uint64_t zero = (dots - 0x0101010101010101ULL) & ~dots & 0x8080808080808080ULL;
        const int n = zero == 0 ? 0 : std::countr_zero(zero) / 8;
        return n > 0 && digits_of_word(word, n, value) ? n : 0;
    }
}

// The usual line, of fields of one to seven digits, found from the places of its points:
// one pass over 64 bytes tells where every field ends, so the fields are parsed
// independently of each other instead of each waiting for the end of the one before.
// Returns the bytes taken, or 0 for any other line (or without SSE2).
template <int count>
std::size_t parse_by_points(const char* p, const char* end, std::int64_t* values) {
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
        std::uint64_t word = 0;
        std::memcpy(&word, p + start, 8);
        std::uint64_t digits = 0;
        if (n < 1 || n > 7 || (n > 1 && p[start] == '0') ||
            std::memcmp(p + at, field + 1 < count ? tab_end : line_end, 8) != 0 ||
            !digits_of_word(word, n, digits)) {
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
    return 0;
#endif
}

} // namespace

template <int count>
std::size_t parse_in_place(const char* p, const char* end, std::int64_t* values) {
    if (const std::size_t size = parse_by_points<count>(p, end, values); size > 0) {
        return size;
    }
    const char* const start = p;
    for (int field = 0; field < count; ++field) {
        const char* const digits = p;
        std::int64_t value = 0;
        std::uint64_t word_value = 0;
        if (const int n = end - p >= 16 ? word_digits(p, word_value) : 0; n > 0) {
            value = static_cast<std::int64_t>(word_value);
            p += n;
        }
        if (p == digits) {
            // The byte way, for long fields and near the end of what can be read.
            for (; p < end && is_digit(*p); ++p) {
                if (p - digits == 10) {
                    return 0; // an eleventh digit
                }
                value = value * 10 + (*p - '0');
            }
        }
        const std::ptrdiff_t n = p - digits;
        if (n == 0 || (n > 1 && *digits == '0') || end - p < 8 ||
            std::memcmp(p, field + 1 < count ? tab_end : line_end, 8) != 0 || !float_holds(value)) {
            return 0;
        }
        values[field] = value;
        p += 8;
    }
    return static_cast<std::size_t>(p - start);
}

// The two kinds of line: items of three fields, defects of four.
template std::size_t parse_in_place<3>(const char*, const char*, std::int64_t*);
template std::size_t parse_in_place<4>(const char*, const char*, std::int64_t*);

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
