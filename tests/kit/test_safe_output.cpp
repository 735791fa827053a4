// Writing results: refusing to write over an input, and what a failure to write leaves.
#include "output/cleanup.h"
#include "output/safe_output.h"
#include "output/write_behind.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path fresh_folder(const std::string& name) {
    const fs::path folder =
        fs::temp_directory_path() / ("defectkit_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(SafeOutput, RefusesEveryNameOfAnInputAndLeavesItWhole) {
    const fs::path folder = fresh_folder("refuse");
    const fs::path input = folder / "items.txt";
    std::ofstream(input) << "1.000000\t1.000000\t1.000000\n\n";
    fs::create_hard_link(input, folder / "hard.txt");
    fs::create_symlink(input, folder / "soft.txt");
    const InputPaths inputs{{input.string()}};
    for (const fs::path& name :
         {input, folder / "hard.txt", folder / "soft.txt", folder / "." / "items.txt"}) {
        OutputTarget target;
        EXPECT_FALSE(open_target(target, name.string(), inputs)) << name;
        EXPECT_EQ(read_file(input), "1.000000\t1.000000\t1.000000\n\n") << name;
    }
    fs::remove_all(folder);
}

TEST(SafeOutput, WritesAFileAndDevNullStays) {
    const fs::path folder = fresh_folder("write");
    OutputTarget target;
    ASSERT_TRUE(open_target(target, (folder / "out.jsonl").string(), {}));
    EXPECT_TRUE(target.regular);
    write_target(target, std::string("line\n"));
    write_target(target, "more\n", 5);
    ASSERT_TRUE(close_target(target));
    EXPECT_EQ(read_file(folder / "out.jsonl"), "line\nmore\n");

    ASSERT_TRUE(fs::is_character_file("/dev/null")); // else the test would remove a stray file
    ASSERT_TRUE(open_target(target, "/dev/null", {}));
    EXPECT_FALSE(target.regular);
    write_target(target, std::string("gone\n"));
    EXPECT_TRUE(close_target(target));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // A folder that is not there cannot hold the file; nothing is made.
    EXPECT_FALSE(open_target(target, (folder / "missing" / "out.jsonl").string(), {}));
    EXPECT_FALSE(fs::exists(folder / "missing"));
    fs::remove_all(folder);
}

TEST(SafeOutput, AFullDeviceIsReportedAndStays) {
    OutputTarget target;
    ASSERT_TRUE(open_target(target, "/dev/full", {}));
    const std::string block(1 << 20, 'x');
    write_target(target, block);
    EXPECT_FALSE(close_target(target));
    EXPECT_EQ(target.error, ENOSPC);
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

// Bytes written behind arrive whole and in order; a failed write stops the writer, and the
// caller learns of it at its next hand-over, which waits for the bytes before.
TEST(SafeOutput, WritingBehindKeepsTheOrderAndTellsAFailure) {
    const fs::path folder = fresh_folder("behind");
    OutputTarget target;
    ASSERT_TRUE(open_target(target, (folder / "out.jsonl").string(), {}));
    WriteBehind behind;
    start_write_behind(behind, target);
    std::string expected;
    std::string buffer;
    for (int k = 0; k < 200; ++k) {
        buffer.assign(static_cast<std::size_t>(k * 97 % 5000), static_cast<char>('a' + k % 26));
        expected += buffer;
        ASSERT_TRUE(write_behind(behind, buffer));
        EXPECT_TRUE(buffer.empty());
    }
    end_write_behind(behind);
    ASSERT_TRUE(close_target(target));
    EXPECT_EQ(read_file(folder / "out.jsonl"), expected);
    fs::remove_all(folder);

    OutputTarget full;
    ASSERT_TRUE(open_target(full, "/dev/full", {}));
    WriteBehind on_full;
    start_write_behind(on_full, full);
    const std::string block(1 << 20, 'x');
    std::vector<bool> handed;
    for (int k = 0; k < 3; ++k) {
        buffer = block;
        handed.push_back(write_behind(on_full, buffer));
    }
    end_write_behind(on_full);
    EXPECT_EQ(handed, (std::vector<bool>{true, false, false}));
    EXPECT_FALSE(close_target(full));
    EXPECT_EQ(full.error, ENOSPC);
}

// A file-size limit makes the file system refuse bytes past it (EFBIG) as a full disk would;
// it is set in a child process so that the test program itself keeps no limit.
TEST(SafeOutput, AFileCutByAFailureIsRemoved) {
    const fs::path folder = fresh_folder("cut");
    const fs::path path = folder / "out.jsonl";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        OutputTarget target;
        if (!open_target(target, path.string(), {})) {
            ::_exit(3);
        }
        write_target(target, std::string(5000, 'x'));
        const bool closed = close_target(target);
        ::_exit(!closed && target.error == EFBIG ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::exists(path));
    fs::remove_all(folder);
}

// A FIFO without a reader is refused at once; with one, the bytes go through it.
TEST(SafeOutput, AFifoIsWrittenOnlyWhenSomethingReadsIt) {
    const fs::path folder = fresh_folder("fifo");
    const fs::path fifo = folder / "out.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    OutputTarget target;
    EXPECT_FALSE(open_target(target, fifo.string(), {}));
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(open_target(target, fifo.string(), {}));
    EXPECT_FALSE(target.regular);
    write_target(target, std::string("line\n"));
    EXPECT_TRUE(close_target(target));
    char got[16] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 5);
    EXPECT_EQ(std::string(got), "line\n");
    ::close(reader);
    EXPECT_TRUE(fs::is_fifo(fifo));
    fs::remove_all(folder);
}

TEST(SafeOutput, AbandonRemovesOnlyRegularFiles) {
    const fs::path folder = fresh_folder("abandon");
    OutputTarget target;
    ASSERT_TRUE(open_target(target, (folder / "out.csv").string(), {}));
    write_target(target, std::string("half"));
    abandon_target(target);
    EXPECT_FALSE(fs::exists(folder / "out.csv"));
    ASSERT_TRUE(fs::is_character_file("/dev/null"));
    ASSERT_TRUE(open_target(target, "/dev/null", {}));
    abandon_target(target);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    fs::remove_all(folder);
}

// Every temporary is noted for the signal handlers while it exists and forgotten once it is
// in place or gone, so that a command writing many outputs never fills the table.
TEST(SafeOutput, TemporariesAreNotedUntilTheyAreInPlaceOrGone) {
    const fs::path folder = fresh_folder("noted");
    const std::size_t before = temporaries_noted();
    OutputTarget file;
    ASSERT_TRUE(open_target(file, (folder / "out.jsonl").string(), {}));
    EXPECT_EQ(temporaries_noted(), before + 1);
    EXPECT_FALSE(fs::exists(folder / "out.jsonl")); // only the temporary, until closed
    OutputFolder instance;
    ASSERT_TRUE(open_folder(instance, (folder / "instance-1").string()));
    OutputTarget a;
    OutputTarget b;
    ASSERT_TRUE(open_folder_file(instance, a, "a.csv"));
    ASSERT_TRUE(open_folder_file(instance, b, "b.csv"));
    EXPECT_EQ(temporaries_noted(), before + 4);
    write_target(a, std::string("a\n"));
    EXPECT_TRUE(close_target(a));
    EXPECT_TRUE(close_target(b));
    EXPECT_TRUE(close_target(file));
    EXPECT_TRUE(close_folder(instance));
    EXPECT_EQ(temporaries_noted(), before);
    ASSERT_TRUE(open_folder(instance, (folder / "instance-2").string()));
    ASSERT_TRUE(open_folder_file(instance, a, "a.csv"));
    abandon_target(a);
    abandon_folder(instance);
    EXPECT_EQ(temporaries_noted(), before);
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.insert(entry.path().lexically_relative(folder).string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"instance-1", "instance-1/a.csv", "instance-1/b.csv",
                                            "out.jsonl"}));
    EXPECT_EQ(read_file(folder / "instance-1" / "a.csv"), "a\n");
    fs::remove_all(folder);
}

} // namespace
