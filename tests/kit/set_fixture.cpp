#include "set_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

std::string make_folder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "defectkit-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder";
    }
    return pattern;
}

void remove_folder(const std::string& folder) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) {
        ADD_FAILURE() << "cannot write " << path;
    }
}

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

namespace {

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

void generate_set(const std::string& folder, const std::string& answers) {
    write_file(folder + "/answers.txt", answers);
    shell("cd '" + folder + "' && '" DEFECTGEN_BINARY "' < answers.txt > /dev/null");
}

KitRun run_kit_in(const std::string& folder, const std::string& args) {
    KitRun run;
    run.status = shell("cd '" + folder + "' && timeout 60 '" DEFECTKIT_BINARY "' " + args +
                       " > .kit-out 2> .kit-err < /dev/null");
    run.out = read_whole_file(folder + "/.kit-out");
    run.err = read_whole_file(folder + "/.kit-err");
    std::remove((folder + "/.kit-out").c_str());
    std::remove((folder + "/.kit-err").c_str());
    return run;
}
