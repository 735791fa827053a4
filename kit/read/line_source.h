// Lines of a file read through one fixed buffer: memory stays bounded whatever the file
// holds (a line of a gigabyte, binary garbage, no final line end), and one line may be
// looked at ahead of the current one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Lines longer than this are reported as such and skipped to their end; no line that
// defectgen writes comes near it.
inline constexpr std::size_t max_kit_line_length = 1024;

// One line, without its "\n". The bytes stay valid until the next call of next_line or
// peek_line on the same source.
struct Line {
    const char* data = nullptr;
    std::size_t size = 0;     // at most max_kit_line_length
    std::uint64_t number = 0; // 1-based
    bool newline = true;      // false for a last line without its line end
    bool too_long = false;    // the line went on past max_kit_line_length bytes
};

struct LineSource {
    std::string path;
    int fd = -1;
    std::unique_ptr<char[]> buffer;
    std::size_t capacity = 0;
    std::size_t begin = 0;    // first unread byte in the buffer
    std::size_t end = 0;      // end of the bytes read into the buffer
    bool at_end = false;      // the file has been read to its end
    int error = 0;            // errno of a failed read, else 0
    std::uint64_t offset = 0; // where in the file the next read starts
    std::uint64_t lines = 0;
    std::uint64_t bytes_done = 0; // bytes handed out as lines, line ends included
    bool peeked = false;
    Line ahead;
};

// Opens a regular file for reading without blocking on a FIFO or a device. False with a
// message ("FILE: ...") when it cannot be opened (errno then tells why) or is not a
// regular file.
bool open_regular_file(const std::string& path, int& fd, std::uint64_t& size, std::string& message);

// Takes over an open descriptor.
void init_line_source(LineSource& source, std::string path, int fd,
                      std::size_t capacity = std::size_t{1} << 20);
void close_line_source(LineSource& source);

// The next line; false at the end of the file or after a read error (then `error` is set).
bool next_line(LineSource& source, Line& line);
// The line that next_line will return, without consuming it.
bool peek_line(LineSource& source, Line& line);

// Moves the unread bytes to the front of the buffer and reads more behind them. False
// when nothing more could be read (the end of the file, or an error).
bool fill_line_source(LineSource& source);

// The unread bytes [result, end) for parsing in place: a whole line unless the file ends
// first; nullptr while a line is peeked at. take_window_line hands out the first `size`
// bytes (a whole line, its line end included) as the next line.
inline const char* line_window(LineSource& source, const char*& end) {
    if (source.peeked) {
        return nullptr;
    }
    if (source.end - source.begin <= max_kit_line_length) {
        fill_line_source(source);
    }
    end = source.buffer.get() + source.end;
    return source.buffer.get() + source.begin;
}

inline void take_window_line(LineSource& source, std::size_t size) {
    source.begin += size;
    source.bytes_done += size;
    ++source.lines;
}
