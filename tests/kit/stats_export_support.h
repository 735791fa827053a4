// What the stats and export tests share: temporary folders, whole files, runs of the two
// programs, and the JSON Schema validator (python3's jsonschema, Debian python3-jsonschema).
#pragma once

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

// A folder of its own under the temporary folder, removed with everything in it.
struct TempFolder {
    fs::path path;
    explicit TempFolder(const std::string& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

std::string read_text(const fs::path& path);
// Every name under the folder, hidden ones included, in order, folders marked with "/";
// links are listed, not followed.
std::string listing(const fs::path& folder);
void write_text(const fs::path& path, const std::string& text);

// A finished run of a program: its exit status, stdout and stderr.
struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};
// Runs `command` (a shell command line) in `folder`, with no standard input.
ProgramRun run_in(const fs::path& folder, const std::string& command);
// "defectkit ARGS" and "defectgen < ANSWERS" as command lines for run_in.
std::string kit(const std::string& args);
void generate(const fs::path& folder, const std::string& answers);

// 0 when every line of the file is valid against docs/defectkit-jsonl.schema.json, 1 when
// one is not, 3 when no validator is there.
int validate_jsonl(const fs::path& file);
// Fails the test when a line is invalid; when the validator is missing, fails under CI
// (CI=true) and says so otherwise.
void expect_valid_jsonl(const fs::path& file);
