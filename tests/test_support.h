// Helpers shared by the tests: running the whole program on a console held in strings.
#pragma once

#include "output_file.h"

#include <string>
#include <vector>

struct RunResult {
    int status = -1;
    std::string transcript; // everything printed to the console
    MemoryFiles files;      // every file the run created, by name
};

// Runs the program in-process with `input` as its standard input, its files in memory.
RunResult run_in_memory(const std::string& input);

// Runs the program in-process with its files on disk, relative names resolved by the
// caller (pass absolute names in `input`).
RunResult run_on_disk(const std::string& input);

// The prompts of the dialogue in order, for questions without defect types.
extern const std::vector<std::string> prompts_before_defects;

// The banner as printed before the first question.
extern const std::string banner_text;

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
