// A corpus of runs whose files are pinned by size and checksum. Every compiler and
// optimisation level must reproduce them exactly.
#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

// "status items:SIZE:HASH defects:SIZE:HASH", a missing file written as "-".
std::string describe(const RunResult& r) {
    std::ostringstream text;
    text << r.status;
    for (const char* name : {"i", "d", "f"}) {
        const auto found = r.files.files.find(name);
        if (found != r.files.files.end()) {
            text << ' ' << name << ':' << found->second.size() << ':' << std::hex
                 << fnv1a(found->second) << std::dec;
        }
    }
    return text.str();
}

std::map<std::string, std::string> read_table(const std::string& path) {
    std::map<std::string, std::string> table;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto space = line.find(' ');
        const auto rest = line.find_first_not_of(' ', space);
        table[line.substr(0, space)] = line.substr(rest);
    }
    return table;
}

TEST(Golden, EveryRunReproducesItsFiles) {
    const auto answers = read_table(std::string(DEFECTGEN_TEST_DATA) + "/golden_answers.txt");
    const auto expected = read_table(std::string(DEFECTGEN_TEST_DATA) + "/golden_expected.txt");
    ASSERT_GE(answers.size(), 30U);
    for (const auto& [name, input] : answers) {
        const RunResult r = run_in_memory(input);
        const auto found = expected.find(name);
        const std::string actual = describe(r);
        if (found == expected.end()) {
            ADD_FAILURE() << "no expectation; the line would be:\n" << name << ' ' << actual;
            continue;
        }
        EXPECT_EQ(actual, found->second) << name;
    }
}

} // namespace
