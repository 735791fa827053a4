// Writing results: every output whole or absent. A regular file is written under a
// temporary name in its own folder and renamed onto its name only when complete and on the
// disk; a failure or a signal removes the temporary and leaves an existing file as it was.
// A link is followed (its target is replaced, the link stays). Anything else (a FIFO,
// a terminal, /dev/null, standard output as "-") is written directly and never removed.
// Parallel writers of one name each write a temporary of their own: the last rename wins.
#pragma once

#include <cstdio>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct OutputTarget {
    std::string path;       // the name given; "-" is standard output
    std::string final_path; // where a regular file lands: the name with its links followed
    std::string temp_path;  // the temporary being written, until the rename
    std::FILE* file = nullptr;
    bool regular = false;   // a regular file: written under temp_path, renamed on close
    bool in_folder = false; // written at its name inside a temporary folder (OutputFolder)
    bool failed = false;
    int error = 0;   // errno of the first failure
    int slot = -1;   // the temporary's slot in the signal cleanup table
    mode_t mode = 0; // the mode the file gets: an existing file's, else 0666 less the umask
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
// Flushes the file to the disk, closes it and renames it into place. False, with the
// problem on stderr, when any byte could not be written; the temporary is then removed.
bool close_target(OutputTarget& target);
// Closes and removes the temporary after a failure elsewhere.
void abandon_target(OutputTarget& target);

// How messages name an output: "the standard output" for "-".
std::string output_name(const std::string& path);

// A folder made whole: created under a temporary name beside its name, filled through
// open_folder_file, and renamed into place by close_folder (an existing folder of that name
// is replaced whole). A signal or abandon_folder removes it with its files.
struct OutputFolder {
    std::string path;
    std::string temp_path;
    int slot = -1;
    std::vector<std::pair<int, std::string>> files; // cleanup slot and path of each file
};

bool open_folder(OutputFolder& folder, const std::string& path);
// Opens the file `name` inside the folder; it is on the disk when close_target returns.
bool open_folder_file(OutputFolder& folder, OutputTarget& target, const std::string& name);
bool close_folder(OutputFolder& folder);
void abandon_folder(OutputFolder& folder);

// Standard input, output and error closed when the program starts are held by a
// placeholder that refuses writes, so that no file opened later takes their numbers and a
// verdict for a closed standard output fails as a write.
void guard_standard_streams();
// Flushes standard output. False, with the reason on stderr, when any byte of it could not
// be written.
bool deliver_stdout();
