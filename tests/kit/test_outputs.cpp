// Every output whole or absent and every verdict delivered: defectkit run as a program on
// real files, links, FIFOs, file-size limits, parallel runs and signals.
#include "set_fixture.h"
#include "stats_export_support.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

const std::string set_files = "answers.txt\ndefects.txt\nitems.txt\n";

TEST(OutputGuarantees, AVerdictThatCannotBeWrittenIsExitTwo) {
    const TempFolder folder("outputs_stdout");
    generate(folder.path, example_answers);
    fs::copy_file(std::string(DEFECTKIT_SOURCE_DIR) + "/docs/example-placement.csv",
                  folder.path / "placement.csv");
    const std::string placed = "answers.txt --instance 1 --solution placement.csv";
    for (const std::string& command : std::vector<std::string>{
             "check answers.txt", "verify answers.txt", "stats answers.txt --json",
             "export answers.txt --format jsonl --out -", "check-solution " + placed,
             "draw " + placed + " --out -", "--help", "--version"}) {
        for (const auto& [redirect, reason] :
             {std::pair{">/dev/full", "No space left on device"}, {">&-", "Bad file descriptor"}}) {
            const ProgramRun run = run_in(folder.path, kit(command) + " " + redirect);
            EXPECT_EQ(run.status, 2) << command << redirect;
            EXPECT_EQ(run.err,
                      std::string("defectkit: cannot write the standard output: ") + reason + "\n")
                << command << redirect;
        }
    }
    EXPECT_EQ(listing(folder.path), set_files + "placement.csv\n");
}

// The outputs of the example set, as written to plain files.
struct Outputs {
    std::string jsonl, svg;
};

Outputs reference_outputs(const fs::path& folder) {
    EXPECT_EQ(run_in(folder, kit("export answers.txt --format jsonl --out ref.jsonl")).status, 0);
    EXPECT_EQ(run_in(folder, kit("draw answers.txt --instance 1 --out ref.svg")).status, 0);
    Outputs o{read_text(folder / "ref.jsonl"), read_text(folder / "ref.svg")};
    fs::remove(folder / "ref.jsonl");
    fs::remove(folder / "ref.svg");
    return o;
}

// A link as --out is followed: the file it leads to is replaced on success and left exactly
// as it was on a failure; the link stays. A FIFO is written through and stays.
TEST(OutputGuarantees, LinksAreFollowedAndAFifoStays) {
    const TempFolder folder("outputs_links");
    generate(folder.path, example_answers);
    const Outputs ref = reference_outputs(folder.path);
    const std::string defects = read_text(folder.path / "defects.txt");
    struct Case {
        std::string command; // --out link
        bool damaged;        // the set's defects file cut: exit 1
        bool dangling;       // the link leads nowhere yet
        std::string expected;
    };
    const std::string jsonl = "export answers.txt --format jsonl --force --out link";
    const std::string draw = "draw answers.txt --instance 1 --force --out link";
    for (const Case& c : std::vector<Case>{{jsonl, false, false, ref.jsonl},
                                           {jsonl, true, false, "old\n"},
                                           {jsonl, false, true, ref.jsonl},
                                           {jsonl, true, true, ""},
                                           {draw, false, false, ref.svg},
                                           {draw, true, false, "old\n"}}) {
        write_text(folder.path / "defects.txt", c.damaged ? defects.substr(0, 40) : defects);
        fs::create_directory(folder.path / "to");
        if (!c.dangling) {
            write_text(folder.path / "to" / "file", "old\n");
        }
        fs::create_symlink("to/file", folder.path / "link");
        const ProgramRun run = run_in(folder.path, kit(c.command));
        EXPECT_EQ(run.status, c.damaged ? 1 : 0) << c.command << run.err;
        EXPECT_TRUE(fs::is_symlink(folder.path / "link")) << c.command;
        EXPECT_EQ(listing(folder.path / "to"), c.dangling && c.damaged ? "" : "file\n");
        EXPECT_EQ(read_text(folder.path / "to" / "file"), c.expected) << c.command;
        fs::remove_all(folder.path / "to");
        fs::remove(folder.path / "link");
    }
    write_text(folder.path / "defects.txt", defects);
    ASSERT_EQ(::mkfifo((folder.path / "fifo").c_str(), 0600), 0);
    fs::create_symlink("fifo", folder.path / "link");
    const int reader = ::open((folder.path / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0); // the export is far smaller than the FIFO's buffer
    EXPECT_EQ(run_in(folder.path, kit(jsonl)).status, 0);
    std::string got(ref.jsonl.size() + 1, '\0');
    EXPECT_EQ(::read(reader, got.data(), got.size()), static_cast<ssize_t>(ref.jsonl.size()));
    got.resize(ref.jsonl.size());
    EXPECT_EQ(got, ref.jsonl);
    ::close(reader);
    EXPECT_EQ(listing(folder.path), "answers.txt\ndefects.txt\nfifo\nitems.txt\nlink\n");
}

// Under a file-size limit (no trap: defectkit ignores SIGXFSZ itself), and on a damaged set,
// a failed write leaves an existing file exactly as it was and no temporary.
TEST(OutputGuarantees, AFailureLeavesTheOldFileAndNoTemporary) {
    const TempFolder folder("outputs_limit");
    generate(folder.path, "2 60 100 60 6 0.01 0.2 2 30 20 7 5 5 8 items.txt defects.txt 5 0");
    const std::string limit = "ulimit -f 4; exec ";
    struct Case {
        std::string command;
        int status;
        std::string err;
    };
    const std::string cut = "defectkit: cannot write old: File too large\n";
    for (const Case& c : std::vector<Case>{
             {limit + kit("export answers.txt --format jsonl --force --out old"), 2, cut},
             {limit + kit("draw answers.txt --instance 1 --force --out old"), 2, cut},
             {kit("export answers.txt --format jsonl --items old --force --out old"), 2,
              "defectkit: old is a file this command reads; not writing over it\n"},
             {kit("draw answers.txt --instance 1 --out old"), 2,
              "defectkit: old is not empty; use --force to write over it\n"},
             {kit("export answers.txt --format jsonl --out old"), 2,
              "defectkit: old is not empty; use --force to write over it\n"}}) {
        write_text(folder.path / "old", "old\n");
        const ProgramRun run = run_in(folder.path, c.command);
        EXPECT_EQ(run.status, c.status) << c.command;
        EXPECT_EQ(run.err, c.err) << c.command;
        EXPECT_EQ(read_text(folder.path / "old"), "old\n") << c.command;
        EXPECT_EQ(listing(folder.path), set_files + "old\n") << c.command;
    }
}

// Four exports of four sets to one --out at once: each completes its own file, the last
// rename wins, and the file is one of the four whole, never a mix.
TEST(OutputGuarantees, ParallelExportsLeaveOneWholeFile) {
    const TempFolder folder("outputs_parallel");
    std::set<std::string> whole;
    std::string command;
    for (int k = 1; k <= 4; ++k) {
        const fs::path set = folder.path / ("set" + std::to_string(k));
        fs::create_directory(set);
        generate(set, "1 400 1000 1000 200 0.001 0.01 2 5 5 10 10 20 60 items.txt defects.txt " +
                          std::to_string(k) + " 0");
        ASSERT_EQ(run_in(set, kit("export answers.txt --format jsonl --out ref")).status, 0);
        whole.insert(read_text(set / "ref"));
        fs::remove(set / "ref");
        command += "(cd set" + std::to_string(k) + " && " +
                   kit("export answers.txt --format jsonl --force --out ../out") +
                   "; echo $? >> ../statuses) & ";
    }
    ASSERT_EQ(whole.size(), 4u);
    const ProgramRun run = run_in(folder.path, command + "wait");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(read_text(folder.path / "statuses"), "0\n0\n0\n0\n");
    EXPECT_EQ(whole.count(read_text(folder.path / "out")), 1u);
    for (const auto& entry : fs::directory_iterator(folder.path)) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }
}

// Runs defectkit with `args` in `folder`, output into files beside it; returns its pid.
pid_t start_kit(const fs::path& folder, const std::vector<std::string>& args) {
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string err = (folder.parent_path() / "err").string();
        if (::chdir(folder.c_str()) != 0 || !std::freopen(err.c_str(), "w", stderr)) {
            ::_exit(120);
        }
        std::vector<char*> argv{const_cast<char*>(DEFECTKIT_BINARY)};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(DEFECTKIT_BINARY, argv.data());
        ::_exit(121);
    }
    return child;
}

// SIGINT, SIGTERM and SIGHUP at random points of large exports: the command ends with
// 128 + the signal (or by the signal itself, when it comes before the handlers), and leaves
// the old file as it was or the whole new one, every instance folder whole, no temporary.
TEST(OutputGuarantees, ASignalLeavesNothingCut) {
    const TempFolder top("outputs_signals");
    const fs::path folder = top.path / "w";
    fs::create_directory(folder);
    generate(folder, "1 800 1000 1000 300 0.001 0.01 2 5 5 10 10 20 80 items.txt defects.txt 3 0");
    const std::vector<std::string> jsonl = {"export",  "answers.txt", "--format", "jsonl",
                                            "--force", "--out",       "out.jsonl"};
    const std::vector<std::string> ps = {"export",  "answers.txt", "--format", "packingsolver",
                                         "--force", "--out",       "ps"};
    std::array<std::chrono::steady_clock::duration, 2> took{}; // an uninterrupted run of each
    for (std::size_t k = 0; k < 2; ++k) {
        const auto started = std::chrono::steady_clock::now();
        int status = 0;
        ::waitpid(start_kit(folder, k == 0 ? jsonl : ps), &status, 0);
        ASSERT_EQ(status, 0);
        took[k] = std::chrono::steady_clock::now() - started;
    }
    const std::string whole = read_text(folder / "out.jsonl");
    const std::string instances = listing(folder / "ps");
    std::map<std::string, std::string> files; // every file of the whole export
    for (const auto& e : fs::recursive_directory_iterator(folder / "ps")) {
        files[fs::relative(e.path(), folder).string()] =
            e.is_directory() ? "" : read_text(e.path());
    }
    std::mt19937 random(18);
    int handled = 0;
    for (int round = 0; round < 20; ++round) {
        const int signal = std::array{SIGINT, SIGTERM, SIGHUP}[round % 3];
        write_text(folder / "out.jsonl", "old\n");
        if (round % 4 == 1) {
            fs::remove_all(folder / "ps"); // else its whole folders are replaced
        }
        const pid_t child = start_kit(folder, round % 2 == 0 ? jsonl : ps);
        std::this_thread::sleep_for(std::uniform_real_distribution<>(0, 1)(random) *
                                    took[round % 2]);
        ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const bool done = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        handled += WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal ? 1 : 0;
        EXPECT_TRUE(done || (WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) ||
                    (WIFSIGNALED(status) && WTERMSIG(status) == signal))
            << status;
        const std::string out = read_text(folder / "out.jsonl");
        EXPECT_TRUE(out == "old\n" || (out == whole && round % 2 == 0)) << round;
        // Every name one of a whole export's, every file as there, every instance folder whole.
        for (const auto& e : fs::recursive_directory_iterator(folder)) {
            const std::string name = e.path().lexically_relative(folder).string();
            EXPECT_TRUE(name == "out.jsonl" || name == "ps" || files.count(name) ||
                        set_files.find(name + "\n") != std::string::npos)
                << name;
            if (name.starts_with("ps/") && e.is_directory()) {
                EXPECT_EQ(listing(e.path()), "bins.csv\ndefects.csv\nitems.csv\nparameters.csv\n");
            } else if (files.count(name)) {
                EXPECT_EQ(read_text(e.path()), files[name]) << name;
            }
        }
        if (done && round % 2 == 1) {
            EXPECT_EQ(listing(folder / "ps"), instances);
        }
    }
    EXPECT_GT(handled, 0);
}

// File names that are not UTF-8 (the byte 0xFF) are valid JSON: each byte from 0x80 as the
// character of its value, and a field that says so; the figures as with a plain name.
TEST(OutputGuarantees, NamesThatAreNotUtf8AreJson) {
    const TempFolder folder("outputs_names");
    std::string answers = example_answers;
    generate(folder.path, answers);
    const std::string stats = run_in(folder.path, kit("stats answers.txt --json")).out;
    ASSERT_EQ(run_in(folder.path, kit("export answers.txt --format jsonl --out plain")).status, 0);
    answers.replace(answers.find("items.txt"), 9, "it\xffms.txt");
    generate(folder.path, answers);
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    const ProgramRun run = run_in(folder.path, kit("stats answers.txt --json"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, replaced(stats, "\"items.txt\",",
                                "\"it\xc3\xbfms.txt\",\n  \"items_file_not_utf8\": true,"));
    ASSERT_EQ(run_in(folder.path, kit("export answers.txt --format jsonl --out x")).status, 0);
    EXPECT_EQ(read_text(folder.path / "x"),
              replaced(read_text(folder.path / "plain"), "\"items.txt\",",
                       "\"it\\u00ffms.txt\",\"items_file_not_utf8\":true,"));
    expect_valid_jsonl(folder.path / "x");
}

// The smaller points of the probe: what a command line gets wrong is said.
TEST(OutputGuarantees, UsageMessagesSayWhatIsWrong) {
    const TempFolder folder("outputs_usage");
    generate(folder.path, example_answers);
    const std::string more = "\nRun with --help for more information.\n";
    const std::string objects = "check --object 100x100 --items items.txt --objects ";
    for (const auto& [args, status, err] : std::vector<std::tuple<std::string, int, std::string>>{
             {objects + "1e3", 2,
              "--objects: \"1e3\" is not a whole number: decimal digits only, "
              "from 0 to 20000" +
                  more},
             {objects + "0x10", 2,
              "--objects: \"0x10\" is not a whole number: decimal digits "
              "only, from 0 to 20000" +
                  more},
             {"draw answers.txt --instance 1 --out p.svg --max-objects abc", 2,
              "--max-objects: \"abc\" is not a whole number: decimal digits only, from 1 to "
              "20000" +
                  more},
             {"check-solution answers.txt --instance 99999999999999999999 --solution long.csv", 2,
              "--instance: 99999999999999999999 is out of range: from 1 to 20000" + more},
             {"check --object 99999999999x10 --items items.txt", 2,
              "--object 99999999999x10: the side 99999999999 is too large: a side is at most "
              "2147483647\n"},
             {"export answers.txt --format jsonl --objective knapsack --out x", 2,
              "defectkit: --objective is for --format packingsolver; JSON Lines carry no "
              "objective\n"},
             {"export answers.txt --format packingsolver --out -", 2,
              "defectkit: --format packingsolver writes a folder per instance, not standard "
              "output\n"}}) {
        const ProgramRun run = run_in(folder.path, kit(args));
        EXPECT_EQ(run.status, status) << args;
        EXPECT_EQ(run.err, err) << args;
    }
    EXPECT_EQ(listing(folder.path), set_files);
}

#if defined(__OPTIMIZE__)
constexpr bool optimized = true;
#else
constexpr bool optimized = false;
#endif

// A placement of 10 million faulty rows (1000 DEFECT rows for each of 10000 bins without a
// BIN row) in 64 MB of address space: the first 1000 problems listed, the rest counted.
// AddressSanitizer reserves far more address space than that, so the limit is left out in
// its build; unoptimised builds read 100000 rows, as 10 million would take half a minute.
TEST(OutputGuarantees, TenMillionFaultyRowsInSixtyFourMegabytes) {
    const TempFolder folder("outputs_memory");
    generate(folder.path, example_answers);
    const int bins = optimized && !address_sanitizer ? 10000 : 100;
    {
        std::FILE* out = std::fopen((folder.path / "orphans.csv").c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fputs("TYPE,ID,COPIES,BIN,X,Y,LX,LY\n", out);
        std::string rows;
        for (int bin = 0; bin < bins; ++bin) {
            rows.clear();
            for (int d = 0; d < 1000; ++d) {
                rows += "DEFECT," + std::to_string(d) + ",," + std::to_string(bin) + ",0,0,1,1\n";
            }
            std::fwrite(rows.data(), 1, rows.size(), out);
        }
        ASSERT_EQ(std::fclose(out), 0);
    }
    std::string expected;
    for (int line = 2; line <= 1001; ++line) {
        expected += "orphans.csv:" + std::to_string(line) +
                    ": DEFECT row for bin 0, which has no BIN row\n";
    }
    const std::string total = std::to_string(bins * 1000);
    expected += "orphans.csv: and " + std::to_string(bins * 1000 - 1000) +
                " more problems after line 1001\norphans.csv: " + total +
                " problems: the placement of instance 1 is not feasible\n";
    const std::string limit = address_sanitizer ? "" : "ulimit -v 65536 && ";
    const std::string placed = " answers.txt --instance 1 --solution orphans.csv";
    ProgramRun run = run_in(folder.path, limit + kit("check-solution" + placed));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, expected);
    run = run_in(folder.path, limit + kit("draw" + placed + " --out orphans.svg"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "orphans.csv: the placement is not feasible (" + total +
                           " problems, outlined red in the picture); defectkit check-solution "
                           "lists them\n");
}

} // namespace
