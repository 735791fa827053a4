// The numbers of a line of either file: whole numbers, each written as "%f" writes a
// single-precision value ("12.000000"), separated by single tabs. One parser takes them,
// in place in a read buffer or from a whole line, and says what is wrong with a line that
// is not so.
#pragma once

#include <cstdint>
#include <string>

// Values up to this are exact in single precision; beyond it only some are.
inline constexpr std::int64_t exact_float_limit = std::int64_t{1} << 24;

// A whole number as single precision rounds it, for the values these files hold.
inline std::int64_t as_float(std::int64_t value) {
    return static_cast<std::int64_t>(static_cast<float>(value));
}

// `count` fields from `p` (before `end`) into `values`: returns where the last one ends,
// or nullptr when the bytes are not so, and then `why` (unless nullptr) tells what is wrong.
const char* parse_fields(const char* p, const char* end, std::int64_t* values, int count,
                         std::string* why);

// The same for the line [p, end) without its line end, which must end with its last field.
bool parse_line(const char* p, const char* end, std::int64_t* values, int count, std::string& why);
