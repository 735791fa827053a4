// The numbers of a line of either file: whole numbers, each written as "%f" writes a
// single-precision value ("12.000000"), separated by single tabs. One parser takes every
// line and says exactly what is wrong with one that is not so.
#pragma once

#include <cstdint>
#include <string>

// Values up to this are exact in single precision; beyond it only some are.
inline constexpr std::int64_t exact_float_limit = std::int64_t{1} << 24;

// A whole number as single precision rounds it, for the values these files hold.
inline std::int64_t as_float(std::int64_t value) {
    return static_cast<std::int64_t>(static_cast<float>(value));
}

// The line [p, end) without its line end as `count` fields: true, with `values` filled,
// when it is exactly so; else false, and `why` tells what is wrong.
bool parse_fields(const char* p, const char* end, std::int64_t* values, int count,
                  std::string& why);
