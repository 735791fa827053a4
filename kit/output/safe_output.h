// Writing results to files: never over an input file, and a file cut short by a failure
// (a full disk) is removed rather than left looking complete. Only regular files that
// this program created or emptied are ever removed: /dev/null and the like stay.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct OutputTarget {
    std::string path;
    std::FILE* file = nullptr;
    bool regular = false; // a regular file, which a failure removes
    bool failed = false;
    int error = 0; // errno of the first failure
};

// Paths the command reads; an output that names one of them (or another name of the same
// file) is refused.
struct InputPaths {
    std::vector<std::string> paths;
};

// True when `path` names one of the inputs (or another name of the same file).
bool is_input(const std::string& path, const InputPaths& inputs);
// The same, with the refusal on stderr.
bool refuse_input(const std::string& path, const InputPaths& inputs);

// Opens `path` for writing. False, with the problem on stderr, when it names an input or
// cannot be created.
bool open_target(OutputTarget& target, const std::string& path, const InputPaths& inputs);
// Writes bytes; remembers a failure.
void write_target(OutputTarget& target, const char* bytes, std::size_t count);
inline void write_target(OutputTarget& target, const std::string& text) {
    write_target(target, text.data(), text.size());
}
// Closes the file. False, with the problem on stderr, when any byte could not be written;
// the regular file is then removed.
bool close_target(OutputTarget& target);
// Closes and removes a regular file after a failure elsewhere.
void abandon_target(OutputTarget& target);
