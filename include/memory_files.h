// Files kept in memory instead of on disk, by name: lets tests and the fuzzer run the
// whole program without touching the file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// Opening a name empties its file. A file that would grow past max_file_size fails as
// on a full disk.
struct MemoryFiles {
    std::map<std::string, std::string> files;
    std::size_t max_file_size = SIZE_MAX;
};
