// Where the files of a run go: to disk, into memory, or nowhere at all while their
// bytes are held against files that exist already, as they come. The comparison lets a
// caller check a set of files against the answers that should have made it without
// holding either in memory.
#pragma once

#include "memory_files.h"

#include <cstdint>
#include <map>
#include <string>

enum class SinkKind { disk, memory, compare };

// What a run wrote under one name, held against an existing file as the bytes came.
struct FileComparison {
    std::string path;                   // the file compared with
    bool readable = false;              // it could be opened and read (a regular file or not)
    bool identical = false;             // same bytes and same length
    std::uint64_t first_difference = 0; // 1-based byte number of the first byte that differs, or
                                        // the first byte one of the two lacks when one is a prefix
    std::uint64_t line = 0;             // 1-based line of that byte
};

struct OutputSink {
    SinkKind kind = SinkKind::disk;
    MemoryFiles* memory = nullptr;                  // kind memory
    std::map<std::string, std::string> redirect;    // a name the run opens -> the path used instead
    std::map<std::string, FileComparison> compared; // kind compare: per name the run opened
};

// The path a name the run opens stands for: its redirection, or the name itself. In
// memory it is the key of the file.
std::string sink_path(const OutputSink& sink, const std::string& name);

// Whether writing both names would write one regular file twice, the second run of
// writes replacing the first: the same path that is a regular file or does not exist
// yet (it would be created as one), or two paths of one existing regular file. Names
// of anything else, /dev/null above all, may be given for both. In memory every name
// is a regular file.
bool names_one_file(const OutputSink& sink, const std::string& first, const std::string& second);
