// Helpers shared by the tests: running the whole program on a console held in strings.
#pragma once

#include "memory_files.h"
#include "output_sink.h"
#include "run_outcome.h"

#include <cstdint>
#include <string>
#include <vector>

struct RunResult {
    int status = -1;
    RunOutcome outcome;
    std::string transcript; // everything printed to the console
    MemoryFiles files;      // every file the run created, by name
};

// Runs the program in-process with `input` as its standard input, its files in memory;
// a file that would grow past `max_file_size` fails as on a full disk.
RunResult run_in_memory(const std::string& input, std::size_t max_file_size = SIZE_MAX);

// Runs the program in-process with its files on disk, relative names resolved by the
// caller (pass absolute names in `input`).
RunResult run_on_disk(const std::string& input);

// Runs the program in-process with the given sink (its memory, if any, is the sink's).
RunResult run_with_sink(const std::string& input, OutputSink& sink);

// The prompts of the dialogue in order, for questions without defect types.
extern const std::vector<std::string> prompts_before_defects;

// The banner as printed before the first question.
extern const std::string banner_text;

// The program's refusals, written out here so that a changed text is caught.
namespace msg {
inline const std::string maxmod = "Please recompile code with larger MAXMOD value!\n";
inline const std::string maxdef = "Please recompile code with larger MAXDEF value!\n";
inline const std::string relsize_range = "Value must lie between 0 and 1!";
inline const std::string relsize_order =
    "The upper bound for the relative size must not be smaller than the lower bound!";
inline const std::string defect_positive = "Values must be greater than 0!";
inline const std::string defect_fit = "This defect does not fit onto the large object!";
inline const std::string input_ended = "The input ended before all questions were answered!";
inline const std::string not_integer = "The answer must be an integer number!";
inline const std::string not_number = "The answer must be a number!";
inline const std::string int_range =
    "The answer must be an integer between -2147483648 and 2147483647!";
inline const std::string object_positive =
    "The length and the width of the large object must be greater than 0!";
inline const std::string object_area =
    "The area of the large object must not be larger than 2147483647!";
inline const std::string name_length = "A file name must not be longer than 79 characters!";
inline const std::string same_file =
    "The items file and the defects file must not be the same file!";
inline const std::string no_memory = "The run could not get enough memory!";
inline const std::string no_thread = "The run could not start a thread!";
inline const std::string item_failure =
    " Determination of integer length or width of the small items failed. Please check the "
    "chosen bounds for the relative size as well as the size of the large object!";
} // namespace msg

// The closing prompt of a completed run.
extern const std::string closing;

// Every prompt of a complete dialogue with `types` defect types, in order.
std::vector<std::string> all_prompts(int types);

// The banner and the first `shown` prompts of that dialogue.
std::string transcript_start(int types, std::size_t shown);

// The whole transcript of a completed run whose answers all came from the input.
std::string completed_transcript(int types);

// The whole file as bytes; empty when it cannot be read. `exists` tells which.
std::string read_file(const std::string& path, bool* exists = nullptr);

// A fresh empty folder for one test's files.
std::string make_temp_dir();

// 64-bit FNV-1a of the bytes, for golden checksums.
unsigned long long fnv1a(const std::string& bytes);
