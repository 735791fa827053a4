// The numbers of both instance files, written exactly as "%f" prints them, without the
// cost of the C library's general formatting.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The two digits of each number from 0 to 99.
inline constexpr char digit_pairs[] = "00010203040506070809101112131415161718192021222324"
                                      "25262728293031323334353637383940414243444546474849"
                                      "50515253545556575859606162636465666768697071727374"
                                      "75767778798081828384858687888990919293949596979899";

// Writes the decimal digits of `value`: counts them first, then fills them in from the
// back two at a time, so that only fixed-size copies remain on this hot path.
inline char* put_digits(char* p, std::uint64_t value) {
    std::size_t count = 1;
    // count < 20 only keeps bound from overflowing for values from 10^19; the numbers of
    // the files stay below 2^33, so the value test always ends the loop.
    for (std::uint64_t bound = 10; count < 20 && value >= bound; bound *= 10) {
        ++count;
    }
    char* const end = p + count;
    char* q = end;
    while (value >= 100) {
        q -= 2;
        std::memcpy(q, digit_pairs + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10) {
        std::memcpy(q - 2, digit_pairs + 2 * value, 2);
    } else {
        q[-1] = static_cast<char>('0' + value);
    }
    return end;
}

// Writes the digits of a value below 10^8 without branching on their number: all eight
// digit characters are formed in one 64-bit word, the leading zeros are shifted out, and
// the word is stored whole. Writes 8 bytes at `p` even for fewer digits.
inline char* put_digits_below_1e8(char* p, std::uint32_t value) {
    if constexpr (std::endian::native != std::endian::little) {
        return put_digits(p, value);
    } else {
        const std::uint32_t high = value / 10000;
        const std::uint32_t low = value % 10000;
        const std::uint32_t parts[4] = {high / 100, high % 100, low / 100, low % 100};
        std::uint64_t text = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint16_t pair = 0;
            std::memcpy(&pair, digit_pairs + 2 * parts[i], 2);
            text |= static_cast<std::uint64_t>(pair) << (16 * i);
        }
        const unsigned count = 1U + (value >= 10U) + (value >= 100U) + (value >= 1000U) +
                               (value >= 10000U) + (value >= 100000U) + (value >= 1000000U) +
                               (value >= 10000000U);
        text >>= 8U * (8U - count);
        std::memcpy(p, &text, 8);
        return p + count;
    }
}

// The text of each whole number below small_number_limit as "%f" prints it, in 16 bytes
// whose last one holds the text's length. Most numbers in the files are this small;
// copying their text whole avoids the branches on the number of digits, which random
// coordinates would mispredict at every number.
inline constexpr std::uint32_t small_number_limit = 10000;
struct SmallNumberTexts {
    char text[small_number_limit][16];
};
inline constexpr SmallNumberTexts small_number_texts = [] {
    SmallNumberTexts table{};
    for (std::uint32_t v = 0; v < small_number_limit; ++v) {
        char digits[4] = {};
        std::size_t count = 0;
        for (std::uint32_t rest = v;; rest /= 10) {
            digits[count++] = static_cast<char>('0' + rest % 10);
            if (rest < 10) {
                break;
            }
        }
        char* text = table.text[v];
        for (std::size_t i = 0; i < count; ++i) {
            text[i] = digits[count - 1 - i];
        }
        const char fraction[] = ".000000";
        for (std::size_t i = 0; i < 7; ++i) {
            text[count + i] = fraction[i];
        }
        text[15] = static_cast<char>(count + 7);
    }
    return table;
}();

// Writes a whole number below small_number_limit exactly as "%f" prints it, from its
// text in the table. May write up to 16 bytes at `p`.
inline char* put_small_whole(char* p, std::uint32_t value) {
    const char* text = small_number_texts.text[value];
    std::memcpy(p, text, 16);
    return p + text[15];
}

// Writes a whole-numbered float exactly as "%f" prints it: the integer part of its
// value, a point and six zeros. Every number in the files is a whole number below
// 2^33 in magnitude, where this is exact. May write up to 16 bytes at `p` even when
// the text is shorter; the caller's room must allow for that.
inline char* put_float(char* p, float value) {
    if (value >= 0.0f && value < static_cast<float>(small_number_limit)) {
        return put_small_whole(p, static_cast<std::uint32_t>(value));
    }
    const double wide = value;
    std::uint64_t magnitude = 0;
    if (std::signbit(value)) {
        *p++ = '-';
        magnitude = static_cast<std::uint64_t>(-wide);
    } else {
        magnitude = static_cast<std::uint64_t>(wide);
    }
    p = magnitude < 100000000U ? put_digits_below_1e8(p, static_cast<std::uint32_t>(magnitude))
                               : put_digits(p, magnitude);
    std::memcpy(p, ".000000", 7);
    return p + 7;
}

// Writes an integer as "%f" prints it after conversion to single precision, which
// rounds integers beyond 2^24 to the nearest float (ties to even).
inline char* put_int_as_float(char* p, std::int32_t value) {
    return put_float(p, static_cast<float>(value));
}

// Room that any single line of either file needs at most: four fields of a sign, ten
// digits and ".000000", with their separators, and the 16 bytes the last number's copy
// may touch.
inline constexpr std::size_t max_line_length = 4 * 18 + 4 + 16;
