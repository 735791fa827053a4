// Buffered output of the instance files, to disk or to memory, and the exact number
// formatting both files share.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

// Files kept in memory instead of on disk, by name: lets tests and the fuzzer run the
// whole program without touching the file system. Opening a name empties its file. A
// file that would grow past max_file_size fails as on a full disk.
struct MemoryFiles {
    std::map<std::string, std::string> files;
    std::size_t max_file_size = SIZE_MAX;
};

// An output file being written. The bytes collect in `buffer` and go to the file (or
// to memory) in large pieces.
struct OutputFile {
    std::string name;
    std::FILE* file = nullptr;
    std::string* memory = nullptr;
    std::size_t memory_limit = SIZE_MAX;
    std::unique_ptr<char[]> buffer;
    std::size_t used = 0;
    bool failed = false; // some bytes could not be written
};

inline constexpr std::size_t output_buffer_size = std::size_t{1} << 20;
// Room that any single line of either file needs at most: four fields of a sign, ten
// digits and ".000000", with their separators.
inline constexpr std::size_t max_line_length = 4 * 18 + 4;

// Creates (or empties) the file, in text mode. False when it cannot be created.
bool open_output(OutputFile& out, const char* name, MemoryFiles* memory);
// Hands the buffered bytes to the file.
void flush_output(OutputFile& out);
// Writes what is buffered and closes the file. False when any byte could not be
// written, now or earlier.
bool close_output(OutputFile& out);

// Space for `n` more bytes; write them, then report the end with output_commit.
inline char* output_space(OutputFile& out, std::size_t n) {
    if (output_buffer_size - out.used < n) {
        flush_output(out);
    }
    return out.buffer.get() + out.used;
}

inline void output_commit(OutputFile& out, const char* end) {
    out.used = static_cast<std::size_t>(end - out.buffer.get());
}

inline void output_newline(OutputFile& out) {
    char* p = output_space(out, 1);
    *p = '\n';
    output_commit(out, p + 1);
}

// Writes the decimal digits of `value`.
inline char* put_digits(char* p, std::uint64_t value) {
    static constexpr char pairs[] = "00010203040506070809101112131415161718192021222324"
                                    "25262728293031323334353637383940414243444546474849"
                                    "50515253545556575859606162636465666768697071727374"
                                    "75767778798081828384858687888990919293949596979899";
    char digits[20];
    char* first = digits + sizeof digits;
    while (value >= 100) {
        const std::uint64_t pair = value % 100;
        value /= 100;
        first -= 2;
        std::memcpy(first, pairs + 2 * pair, 2);
    }
    if (value >= 10) {
        first -= 2;
        std::memcpy(first, pairs + 2 * value, 2);
    } else {
        *--first = static_cast<char>('0' + value);
    }
    const auto count = static_cast<std::size_t>(digits + sizeof digits - first);
    std::memcpy(p, first, count);
    return p + count;
}

// Writes a whole-numbered float exactly as "%f" prints it: the integer part of its
// value, a point and six zeros. Every number in the files is a whole number below
// 2^33 in magnitude, where this is exact.
inline char* put_float(char* p, float value) {
    const double wide = value;
    std::uint64_t magnitude = 0;
    if (std::signbit(value)) {
        *p++ = '-';
        magnitude = static_cast<std::uint64_t>(-wide);
    } else {
        magnitude = static_cast<std::uint64_t>(wide);
    }
    p = put_digits(p, magnitude);
    std::memcpy(p, ".000000", 7);
    return p + 7;
}

// Writes an integer as "%f" prints it after conversion to single precision, which
// rounds integers beyond 2^24 to the nearest float (ties to even).
inline char* put_int_as_float(char* p, std::int32_t value) {
    return put_float(p, static_cast<float>(value));
}
