// The bytes a run would write held against a file that exists already, as they come (the
// compare sink of output_sink.h, which defectkit verify uses): neither is ever held whole.
// The output ring drives it, one slot's bytes at a time, on whichever worker writes.
#pragma once

#include "output_sink.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

struct OutputComparison {
    FileComparison* result = nullptr; // where the verdict goes; nullptr when not comparing
    std::FILE* reference = nullptr;   // the existing file, read as the bytes come
    std::unique_ptr<char[]> reference_bytes;
    std::uint64_t compared_bytes = 0; // bytes of the run so far
    std::uint64_t compared_lines = 0; // line ends among them, up to the first difference
};

// Starts comparing with the file at `path`, the verdict going to `result`. `most` is the
// most bytes compare_bytes is given at once. A file that cannot be opened is a
// comparison that is not readable. Throws std::bad_alloc; close_comparison then tidies.
void start_comparison(OutputComparison& comparison, FileComparison& result, const std::string& path,
                      std::size_t most);
// Holds the next `count` bytes of the run against the file's next bytes.
void compare_bytes(OutputComparison& comparison, const char* bytes, std::size_t count);
// After the run's last byte: gives the verdict, then closes as close_comparison does.
void finish_comparison(OutputComparison& comparison);
// Closes the file and lets go of the verdict without giving it.
void close_comparison(OutputComparison& comparison);
