// The line source: lines found with memchr in a buffer refilled by pread, a line too long
// cut to its head and skipped to its end.
#include "read/line_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool fill_line_source(LineSource& s) {
    if (s.at_end) {
        return false;
    }
    std::memmove(s.buffer.get(), s.buffer.get() + s.begin, s.end - s.begin);
    s.end -= s.begin;
    s.begin = 0;
    for (;;) {
        const ssize_t n =
            ::pread(s.fd, s.buffer.get() + s.end, s.capacity - s.end, static_cast<off_t>(s.offset));
        if (n > 0) {
            s.end += static_cast<std::size_t>(n);
            s.offset += static_cast<std::uint64_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        s.error = n < 0 ? errno : 0;
        s.at_end = true;
        return false;
    }
}

namespace {

void hand_out(LineSource& s, std::size_t bytes) {
    s.begin += bytes;
    s.bytes_done += bytes;
}

// Skips the rest of a line that went past the longest line kept; false when the file
// ends before its line end.
bool skip_rest_of_line(LineSource& s) {
    for (;;) {
        const char* start = s.buffer.get() + s.begin;
        if (const void* nl = std::memchr(start, '\n', s.end - s.begin)) {
            hand_out(s, static_cast<std::size_t>(static_cast<const char*>(nl) - start) + 1);
            return true;
        }
        hand_out(s, s.end - s.begin);
        if (!fill_line_source(s)) {
            return false;
        }
    }
}

bool read_line(LineSource& s, Line& line) {
    for (;;) {
        char* const start = s.buffer.get() + s.begin;
        const std::size_t avail = s.end - s.begin;
        const void* nl = std::memchr(start, '\n', std::min(avail, max_kit_line_length + 1));
        line.data = start;
        line.newline = true;
        line.too_long = false;
        if (nl != nullptr) {
            line.size = static_cast<std::size_t>(static_cast<const char*>(nl) - start);
            hand_out(s, line.size + 1);
        } else if (avail > max_kit_line_length) {
            // The head is kept past the buffer's end, where no read reaches.
            line.data = static_cast<const char*>(
                std::memcpy(s.buffer.get() + s.capacity, start, max_kit_line_length));
            line.size = max_kit_line_length;
            line.too_long = true;
            hand_out(s, line.size);
            line.newline = skip_rest_of_line(s);
        } else if (fill_line_source(s)) {
            continue;
        } else if (s.error != 0 || avail == 0) {
            return false;
        } else {
            line.size = avail; // the last line has no line end
            line.newline = false;
            hand_out(s, avail);
        }
        line.number = ++s.lines;
        return true;
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
    source = LineSource{};
    source.path = std::move(path);
    source.fd = fd;
    source.capacity = std::max(capacity, 2 * max_kit_line_length);
    source.buffer = std::make_unique_for_overwrite<char[]>(source.capacity + max_kit_line_length);
}

void close_line_source(LineSource& source) {
    if (source.fd >= 0) {
        ::close(source.fd);
        source.fd = -1;
    }
    source.buffer.reset();
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
    if (!source.peeked && !read_line(source, source.ahead)) {
        return false;
    }
    source.peeked = true;
    line = source.ahead;
    return true;
}
