#include "read/line_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Moves the unread bytes to the front and reads more behind them. False when nothing
// more could be read (the end of the file, or an error).
bool fill(LineSource& s) {
    if (s.at_end) {
        return false;
    }
    if (s.begin > 0) {
        std::memmove(s.buffer.get(), s.buffer.get() + s.begin, s.end - s.begin);
        s.end -= s.begin;
        s.begin = 0;
    }
    for (;;) {
        const std::size_t room = static_cast<std::size_t>(
            std::min<std::uint64_t>(s.capacity - s.end, s.stop - s.offset));
        const ssize_t n =
            room == 0 ? 0
                      : ::pread(s.fd, s.buffer.get() + s.end, room, static_cast<off_t>(s.offset));
        if (n > 0) {
            s.end += static_cast<std::size_t>(n);
            s.offset += static_cast<std::uint64_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            s.error = errno;
        }
        s.at_end = true;
        return false;
    }
}

// Skips the rest of a line that went past the longest line kept; the bytes are counted,
// not kept.
void skip_rest_of_line(LineSource& s, Line& line) {
    for (;;) {
        const char* start = s.buffer.get() + s.begin;
        const std::size_t avail = s.end - s.begin;
        if (const void* nl = std::memchr(start, '\n', avail)) {
            const std::size_t used = static_cast<std::size_t>(static_cast<const char*>(nl) - start);
            s.begin += used + 1;
            s.bytes_done += used + 1;
            return;
        }
        s.bytes_done += avail;
        s.begin = s.end;
        if (!fill(s)) {
            line.newline = false;
            return;
        }
    }
}

// The long line's kept head lives past the buffer's end, where no read reaches.
char* long_line_head(LineSource& s) {
    return s.buffer.get() + s.capacity;
}

bool read_line(LineSource& s, Line& line) {
    for (;;) {
        const char* start = s.buffer.get() + s.begin;
        const std::size_t avail = s.end - s.begin;
        const std::size_t window =
            avail < max_kit_line_length + 1 ? avail : max_kit_line_length + 1;
        if (const void* nl = std::memchr(start, '\n', window)) {
            const std::size_t size = static_cast<std::size_t>(static_cast<const char*>(nl) - start);
            line.data = start;
            line.size = size;
            line.newline = true;
            line.too_long = false;
            line.number = ++s.lines;
            s.begin += size + 1;
            s.bytes_done += size + 1;
            return true;
        }
        if (avail > max_kit_line_length) {
            char* head = long_line_head(s);
            std::memcpy(head, start, max_kit_line_length);
            line.data = head;
            line.size = max_kit_line_length;
            line.newline = true;
            line.too_long = true;
            line.number = ++s.lines;
            s.begin += max_kit_line_length;
            s.bytes_done += max_kit_line_length;
            skip_rest_of_line(s, line);
            return true;
        }
        if (!fill(s)) {
            if (s.error != 0 || avail == 0) {
                return false;
            }
            // The last line has no line end.
            line.data = s.buffer.get() + s.begin;
            line.size = avail;
            line.newline = false;
            line.too_long = false;
            line.number = ++s.lines;
            s.begin = s.end;
            s.bytes_done += avail;
            return true;
        }
    }
}

} // namespace

bool open_regular_file(const std::string& path, int& fd, std::uint64_t& size,
                       std::string& message) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        message = path + ": cannot be opened: " + std::strerror(error);
        errno = error; // the caller may tell a missing file from others
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        message = path + ": cannot be read: " + std::strerror(errno);
        ::close(fd);
        fd = -1;
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        const bool folder = S_ISDIR(info.st_mode);
        message = path + (folder ? ": is a folder, not a file"
                                 : ": is not a regular file (a FIFO, a device or a socket)");
        ::close(fd);
        fd = -1;
        errno = folder ? EISDIR : EINVAL;
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

void init_line_source(LineSource& source, std::string path, int fd, std::size_t capacity) {
    source.path = std::move(path);
    source.fd = fd;
    source.capacity = capacity < 2 * max_kit_line_length ? 2 * max_kit_line_length : capacity;
    source.buffer = std::make_unique_for_overwrite<char[]>(source.capacity + max_kit_line_length);
    source.begin = 0;
    source.end = 0;
    source.at_end = false;
    source.error = 0;
    source.offset = 0;
    source.stop = UINT64_MAX;
    source.lines = 0;
    source.bytes_done = 0;
    source.peeked = false;
}

void close_line_source(LineSource& source) {
    if (source.fd >= 0) {
        ::close(source.fd);
        source.fd = -1;
    }
    source.buffer.reset();
}

bool refill_line_source(LineSource& source) {
    return fill(source);
}

bool next_line(LineSource& source, Line& line) {
    if (source.peeked) {
        source.peeked = false;
        line = source.ahead;
        return true;
    }
    return read_line(source, line);
}

bool peek_line(LineSource& source, Line& line) {
    if (!source.peeked) {
        if (!read_line(source, source.ahead)) {
            return false;
        }
        source.peeked = true;
    }
    line = source.ahead;
    return true;
}
