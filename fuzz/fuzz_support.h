// What the fuzz targets share: a violated property traps, so that libFuzzer keeps the
// input as a crash; and files made in memory, named by a path as the programs' own files are.
#pragma once

#include <cstddef>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

[[noreturn]] inline void fail() {
    __builtin_trap();
}

inline void require(bool condition) {
    if (!condition) {
        fail();
    }
}

// A memory file holding the bytes, open for reading from its start by its path.
inline int memory_file(const char* bytes, std::size_t size) {
    const int fd = ::memfd_create("kit-fuzz", MFD_CLOEXEC);
    require(fd >= 0);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        require(n > 0);
        done += static_cast<std::size_t>(n);
    }
    return fd;
}

inline std::string fd_path(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}
