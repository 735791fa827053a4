// The command line itself: help, version and usage errors.
#include "set_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Runs defectkit with the given arguments; returns its exit status and stdout.
int run_kit(const std::string& args, std::string& out) {
    const std::string command = std::string(DEFECTKIT_BINARY) + " " + args + " 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    out.clear();
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(KitCli, VersionHelpAndUsageErrors) {
    std::string out;
    EXPECT_EQ(run_kit("--version", out), 0);
    EXPECT_EQ(out, "defectkit 1.0.0\n");
    EXPECT_EQ(run_kit("--help", out), 0);
    // Each subcommand answers --help and --version, even without its required options.
    for (const char* sub : {"check", "verify", "stats", "export", "check-solution", "draw"}) {
        EXPECT_EQ(run_kit(std::string(sub) + " --version", out), 0) << sub;
        EXPECT_EQ(out, "defectkit 1.0.0\n") << sub;
        EXPECT_EQ(run_kit(std::string(sub) + " --help", out), 0) << sub;
    }
    for (const char* args : {"", "frobnicate", "check --object 10x10 answers.txt",
                             "export --format csv --out x", "draw --instance 0 --out x.svg"}) {
        EXPECT_EQ(run_kit(args, out), 2) << args;
    }
}

// Under address-space limits from too small to load the program to enough for the work,
// every command ends by itself: done, or "out of memory" with status 2, never an abort.
// Done means done as without a limit (where no thread could be started, on one thread).
TEST(KitCli, MemoryThatCannotBeHadEndsWithAMessage) {
    if (address_sanitizer) {
        GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit here";
    }
    const std::string folder = make_folder();
    generate_set(folder, example_answers);
    int refused = 0;
    for (const char* command :
         {"check answers.txt", "stats answers.txt",
          "draw answers.txt --instance 1 --out picture.svg --force",
          "export answers.txt --format jsonl --out set.jsonl", "verify answers.txt"}) {
        std::remove((folder + "/set.jsonl").c_str());
        const std::string unlimited =
            "cd '" + folder + "' && '" DEFECTKIT_BINARY "' " + command + " > out.txt 2> err.txt";
        ASSERT_EQ(std::system(unlimited.c_str()), 0) << command;
        const std::string expected_out = read_whole_file(folder + "/out.txt");
        const std::string expected_export = read_whole_file(folder + "/set.jsonl");
        for (int limit = 4000; limit <= 40000; limit += 500) {
            std::remove((folder + "/set.jsonl").c_str());
            const std::string line = "cd '" + folder + "' && (ulimit -v " + std::to_string(limit) +
                                     " && exec '" DEFECTKIT_BINARY "' " + command +
                                     ") > out.txt 2> err.txt";
            const int status = std::system(line.c_str());
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            const std::string err = read_whole_file(folder + "/err.txt");
            if (code == 2) {
                if (std::string(command).rfind("verify", 0) == 0 &&
                    err != "defectkit: out of memory\n") {
                    // The run inside verify meets the limit as defectgen would.
                    EXPECT_TRUE(
                        err == "defectkit: verify could not run defectgen here: The run could not "
                               "start a thread!\n" ||
                        err == "defectkit: verify could not run defectgen here: The run could not "
                               "get enough memory!\n")
                        << err;
                } else {
                    EXPECT_EQ(err, "defectkit: out of memory\n") << command << " at " << limit;
                }
                // An export cut by it is not left looking complete.
                EXPECT_FALSE(std::ifstream(folder + "/set.jsonl")) << command << " at " << limit;
                ++refused;
            } else if (code != 127) { // 127: the program could not even be loaded
                EXPECT_EQ(code, 0) << command << " at " << limit << ": " << err;
                EXPECT_EQ(read_whole_file(folder + "/out.txt"), expected_out) << command;
                EXPECT_EQ(read_whole_file(folder + "/set.jsonl"), expected_export) << command;
            }
        }
    }
    EXPECT_GT(refused, 0); // some limit fell within the work itself
    remove_folder(folder);
}

} // namespace
