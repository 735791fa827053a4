// The command line itself: help, version and usage errors.
#include <gtest/gtest.h>

#include <cstdio>
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

} // namespace
