// The numbers of a line of either file: whole numbers, each written as "%f" writes a
// single-precision value ("12.000000"), separated by single tabs. One fast parser takes a
// line exactly as defectgen writes it in place; one general parser takes any line and
// says exactly what is wrong with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Values up to this are exact in single precision; beyond it only some are.
inline constexpr std::int64_t exact_float_limit = std::int64_t{1} << 24;

// A whole number as single precision rounds it, for the values these files hold.
inline std::int64_t as_float(std::int64_t value) {
    return static_cast<std::int64_t>(static_cast<float>(value));
}

// The longest line the fast parser takes: four fields of ten digits.
inline constexpr std::size_t fast_line_length = 4 * 18;

// The line at `p` (before `end`) with its line end, parsed in place as `count` fields (3 or
// 4; a constant, so that the loops over the fields unroll): returns the bytes taken, or 0
// for any other line (and sometimes for one that is fine, near `end`), which the general
// parser then reads.
template <int count>
std::size_t parse_in_place(const char* p, const char* end, std::int64_t* values);

// The line [p, end) without its line end: fills `values` and returns an empty text when it
// is exactly `count` such fields; else what is wrong with it.
std::string parse_fields(const char* p, const char* end, std::int64_t* values, int count);
