#include "test_support.h"

#include "run_driver.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <system_error>
#include <utility>

RunResult run_with_sink(const std::string& input, OutputSink& sink) {
    auto state = std::make_unique<RunState>();
    std::istringstream in(input);
    std::ostringstream out;
    RunResult result;
    result.outcome = run_program(*state, in, out, sink);
    result.status = exit_status(result.outcome);
    result.transcript = out.str();
    return result;
}

RunResult run_in_memory(const std::string& input, std::size_t max_file_size) {
    MemoryFiles files;
    files.max_file_size = max_file_size;
    OutputSink sink;
    sink.kind = SinkKind::memory;
    sink.memory = &files;
    RunResult result = run_with_sink(input, sink);
    result.files = std::move(files);
    return result;
}

RunResult run_on_disk(const std::string& input) {
    OutputSink sink;
    return run_with_sink(input, sink);
}

const std::string banner_text =
    "This program generates problem instances of a two-dimensional rectangular Multiple Large "
    "Objects Placement Problem with defects. \nAll dimensions of the generated item types are "
    "integer, thus the dimensions of the large object and the defects should also be entered as "
    "integer numbers. For more details see: the defectgen documentation, README.md in the "
    "defectgen source tree \n \n";

const std::vector<std::string> prompts_before_defects = {
    "How many instances do you want to generate? ",
    "How many large objects are to be generated per instance? ",
    "Choose an integer length for the large object. ",
    "Choose an integer width for the large object. ",
    "How many small items are to be generated per instance? ",
    "Choose a lower bound for the relative size of the item types w.r.t. the size of the large "
    "object between 0 and 1 (e.g. 0.01). ",
    "Choose an upper bound for the relative size of the item types w.r.t. the size of the large "
    "object between 0 and 1 (e.g. 0.15). ",
    "How many different types of defects per instance do you wish to generate? (NOTE: The "
    "defects might overlap, as the intention is to consider each defect as a single one and go "
    "through them one after the other!) ",
};

std::string read_file(const std::string& path, bool* exists) {
    std::ifstream file(path, std::ios::binary);
    if (exists != nullptr) {
        *exists = static_cast<bool>(file);
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

namespace {
// The folders made for tests, removed with everything in them when the tests end.
struct TempDirs {
    std::vector<std::string> paths;
    ~TempDirs() {
        for (const std::string& path : paths) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    }
};
TempDirs temp_dirs;
} // namespace

std::string make_temp_dir() {
    char pattern[] = "/tmp/defectgen-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr) {
        return {};
    }
    temp_dirs.paths.emplace_back(dir);
    return dir;
}

unsigned long long fnv1a(const std::string& bytes) {
    unsigned long long hash = 14695981039346656037ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

const std::string closing = "\n\nProgram run finished. Enter a number to quit! ";

std::string defect_prompt(int number) {
    return "Enter an positive integer length and width for defect no. " + std::to_string(number) +
           ", separated by a space. ";
}

std::vector<std::string> all_prompts(int types) {
    std::vector<std::string> prompts = prompts_before_defects;
    for (int k = 1; k <= types; ++k) {
        prompts.push_back(defect_prompt(k));
    }
    prompts.insert(prompts.end(),
                   {"Choose a lower bound for the number of defects per object. ",
                    "Choose an upper bound for the number of defects per object. ",
                    "Enter a name for the file to hold the items (e.g. items.txt). "});
    if (types > 0) {
        prompts.push_back("Enter a name for the file to hold the defects (e.g. defects.txt). ");
    }
    prompts.push_back("Enter an integer seed (e.g. 12): ");
    return prompts;
}

std::string transcript_start(int types, std::size_t shown) {
    std::string text = banner_text;
    const std::vector<std::string> prompts = all_prompts(types);
    for (std::size_t i = 0; i < shown && i < prompts.size(); ++i) {
        text += prompts[i];
    }
    return text;
}

std::string completed_transcript(int types) {
    return transcript_start(types, all_prompts(types).size()) + closing;
}
