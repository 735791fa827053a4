// Sets on disk for defectkit's tests: folders of their own, files written and read
// whole, sets made by defectgen itself, and defectkit run as a program in a folder.
#pragma once

#include <string>

// A fresh empty folder, removed by remove_folder.
std::string make_folder();
void remove_folder(const std::string& folder);

void write_file(const std::string& path, const std::string& bytes);
std::string read_whole_file(const std::string& path);

// Runs defectgen in `folder` on the answers (also kept there as answers.txt), so that the
// files come out under the names the answers give.
void generate_set(const std::string& folder, const std::string& answers);

struct KitRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs defectkit with the arguments (a shell word list) in `folder`; a run that hangs is
// ended after a minute.
KitRun run_kit_in(const std::string& folder, const std::string& args);

// The README's example: 1 instance, 2 objects of 100 x 100, 5 items, 3 defect types, seed 12.
inline const std::string example_answers =
    "1\n2\n100\n100\n5\n0.01\n0.15\n3\n5 4\n10 10\n20 3\n1\n3\nitems.txt\ndefects.txt\n12\n0\n";

// AddressSanitizer reserves far more address space than the limits some tests set.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_sanitizer = true;
#elif defined(__has_feature)
constexpr bool address_sanitizer = __has_feature(address_sanitizer);
#else
constexpr bool address_sanitizer = false;
#endif
