// Hostile answers and failing files: every run either completes and says so, or says
// what went wrong, exits with status 1 and claims no success.
#include "run_driver.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string worked_answers = "1 2 100 100 5 0.01 0.15 3 5 4 10 10 20 3 1 3 ";

// The files of the worked example, as an in-memory run writes them.
const RunResult& worked_in_memory() {
    static const RunResult result = run_in_memory(worked_answers + "items defects 12 0");
    return result;
}

std::string cannot_create(const std::string& name) {
    return "The file " + name + " could not be created!";
}

std::string cannot_write(const std::string& name) {
    return "The file " + name + " could not be written completely!";
}

TEST(Disk, FilesOnDiskEqualTheFilesInMemory) {
    const std::string dir = make_temp_dir();
    const RunResult r =
        run_on_disk(worked_answers + dir + "/items.txt " + dir + "/defects.txt 12 0");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.transcript, completed_transcript(3));
    EXPECT_EQ(read_file(dir + "/items.txt"), worked_in_memory().files.files.at("items"));
    EXPECT_EQ(read_file(dir + "/defects.txt"), worked_in_memory().files.files.at("defects"));
}

TEST(Disk, FileThatCannotBeCreated) {
    const std::string dir = make_temp_dir();
    const std::string missing = dir + "/no-such-folder/items.txt";
    for (const std::string& name : {missing, dir}) {
        const RunResult r = run_on_disk(worked_answers + name + " " + dir + "/d.txt 12 7");
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.transcript, transcript_start(3, all_prompts(3).size()) + cannot_create(name));
        bool exists = true;
        read_file(dir + "/d.txt", &exists);
        EXPECT_FALSE(exists) << "no defects file after the items file failed";
    }
    // The defects file cannot be created: the items file stays complete.
    const RunResult r = run_on_disk(worked_answers + dir + "/i.txt " + missing + " 12 7");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.transcript, transcript_start(3, all_prompts(3).size()) + cannot_create(missing));
    EXPECT_EQ(read_file(dir + "/i.txt"), worked_in_memory().files.files.at("items"));
}

TEST(Disk, FullDiskIsReportedForEachFile) {
    const std::string dir = make_temp_dir();
    const std::string full = "/dev/full";
    // Small files fail only when they are closed; large ones fail while they are written.
    for (const std::string& answers :
         {worked_answers, std::string("300 2000 1000 1000 2000 0.05 0.3 3 5 4 10 10 20 3 0 8 ")}) {
        const RunResult items = run_on_disk(answers + full + " " + dir + "/d.txt 12 7");
        EXPECT_EQ(items.status, 1);
        EXPECT_EQ(items.transcript,
                  transcript_start(3, all_prompts(3).size()) + cannot_write(full));
        bool exists = true;
        read_file(dir + "/d.txt", &exists);
        EXPECT_FALSE(exists);

        const RunResult defects = run_on_disk(answers + dir + "/i.txt " + full + " 12 7");
        EXPECT_EQ(defects.status, 1);
        EXPECT_EQ(defects.transcript,
                  transcript_start(3, all_prompts(3).size()) + cannot_write(full));
        const RunResult reference = run_in_memory(answers + "i d 12 0");
        EXPECT_EQ(read_file(dir + "/i.txt"), reference.files.files.at("i"))
            << "the items file stays complete";
    }
}

TEST(Disk, OneFileUnderBothNamesIsRefusedAndTheItemsFileKept) {
    const std::string done = completed_transcript(3);
    const std::string all_asked = transcript_start(3, all_prompts(3).size());
    const std::string until_seed = transcript_start(3, all_prompts(3).size() - 1);
    struct Case {
        const char* name;
        std::string items; // the two names as typed, relative to the test's folder
        std::string defects;
        bool items_exist; // the items file exists before the run
        std::string transcript;
    };
    const Case cases[] = {
        // Known once the name is read: nothing is created.
        {"same string", "same.txt", "same.txt", false, until_seed + msg::same_file},
        {"same string, existing", "same.txt", "same.txt", true, until_seed + msg::same_file},
        {"two names of an existing file", "same.txt", "./same.txt", true,
         until_seed + msg::same_file},
        {"a link to an existing file", "same.txt", "link.txt", true, until_seed + msg::same_file},
        // Known once the items file exists: it stays complete.
        {"two names of a new file", "same.txt", "./same.txt", false, all_asked + msg::same_file},
        {"a link to a new file", "same.txt", "link.txt", false, all_asked + msg::same_file},
        {"two files", "same.txt", "other.txt", false, done},
    };
    for (const Case& c : cases) {
        const std::string dir = make_temp_dir();
        ASSERT_EQ(::symlink("same.txt", (dir + "/link.txt").c_str()), 0);
        if (c.items_exist) {
            std::ofstream(dir + "/same.txt") << "kept\n";
        }
        const RunResult r = run_on_disk(worked_answers + dir + "/" + c.items + " " + dir + "/" +
                                        c.defects + " 12 7");
        EXPECT_EQ(r.status, c.transcript == done ? 0 : 1) << c.name;
        EXPECT_EQ(r.transcript, c.transcript) << c.name;
        bool exists = false;
        const std::string items = read_file(dir + "/same.txt", &exists);
        if (c.transcript == until_seed + msg::same_file) {
            EXPECT_EQ(exists, c.items_exist) << c.name;
            EXPECT_EQ(items, c.items_exist ? "kept\n" : "") << c.name;
        } else {
            EXPECT_EQ(items, worked_in_memory().files.files.at("items")) << c.name;
        }
        read_file(dir + "/other.txt", &exists);
        EXPECT_EQ(exists, c.defects == "other.txt") << c.name;
    }
    // Names that are not regular files may be given for both.
    const RunResult null = run_on_disk(worked_answers + "/dev/null /dev/null 12 7");
    EXPECT_EQ(null.status, 0);
    EXPECT_EQ(null.transcript, done);
}

// Another run's lock, as it holds it while it writes the file.
struct OtherRunsLock {
    int fd;
    explicit OtherRunsLock(const std::string& path) : fd(::open(path.c_str(), O_RDONLY)) {
        EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    }
    ~OtherRunsLock() { ::close(fd); }
};

TEST(Disk, FileLockedByAnotherRunIsLeftAlone) {
    const std::string all_asked = transcript_start(3, all_prompts(3).size());
    const std::string dir = make_temp_dir();
    const std::string items = dir + "/items.txt";
    const std::string defects = dir + "/defects.txt";
    const std::string answers = worked_answers + items + " " + defects + " 12 7";
    {
        std::ofstream(items) << "the other run's items\n";
        const OtherRunsLock other(items);
        const RunResult r = run_on_disk(answers);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.transcript, all_asked + "The file " + items + " is locked by another run!");
        EXPECT_EQ(read_file(items), "the other run's items\n");
        bool exists = true;
        read_file(defects, &exists);
        EXPECT_FALSE(exists);
    }
    {
        std::ofstream(defects) << "the other run's defects\n";
        const OtherRunsLock other(defects);
        const RunResult r = run_on_disk(answers);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.transcript, all_asked + "The file " + defects + " is locked by another run!");
        EXPECT_EQ(read_file(items), worked_in_memory().files.files.at("items"));
        EXPECT_EQ(read_file(defects), "the other run's defects\n");
    }
    // Once the other run is done, this one goes through.
    const RunResult r = run_on_disk(answers);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(defects), worked_in_memory().files.files.at("defects"));
}

std::string message_text(const RunOutcome& outcome) {
    std::ostringstream text;
    put_message(text, outcome);
    return text.str();
}

// The run's outcome for each kind of ending against the console of that run. (Memory
// and threads that cannot be had: test_faults.cpp.)
TEST(Outcome, SaysWhatTheConsoleShows) {
    const std::string dir = make_temp_dir();
    const std::string all_asked = transcript_start(3, all_prompts(3).size());
    const std::string defect_three = all_prompts(3)[10];
    const std::string missing = dir + "/no-such-folder/items.txt";
    struct Case {
        const char* label;
        RunResult run;
        RunEnd end;
        std::string question;
        std::string file;
        std::string message;
        std::string transcript;
    };
    const Case cases[] = {
        {"completed", worked_in_memory(), RunEnd::completed, "", "", "", completed_transcript(3)},
        {"not a number", run_in_memory("x"), RunEnd::refused, all_prompts(0)[0], "",
         msg::not_integer, transcript_start(0, 1) + msg::not_integer},
        {"too many instances", run_in_memory("20001 1"), RunEnd::refused, all_prompts(0)[0], "",
         msg::maxmod, transcript_start(0, 1) + msg::maxmod},
        {"a defect type's width", run_in_memory("1 2 100 100 5 0.01 0.15 3 5 4 10 10 20 0 1 3"),
         RunEnd::refused, defect_three, "", msg::defect_positive,
         transcript_start(3, 11) + msg::defect_positive},
        {"one name for both files", run_in_memory(worked_answers + "same same 12 0"),
         RunEnd::refused, all_prompts(3)[14], "", msg::same_file,
         transcript_start(3, 15) + msg::same_file},
        {"an item that cannot be repaired",
         run_in_memory("5 3 100 100 300 0.01 0.15 1 5 4 1 2 i d 31 0"), RunEnd::item_failure, "",
         "", msg::item_failure, transcript_start(1, all_prompts(1).size()) + msg::item_failure},
        {"a file that cannot be created", run_on_disk(worked_answers + missing + " d 12 0"),
         RunEnd::file_failure, "", missing, cannot_create(missing),
         all_asked + cannot_create(missing)},
        {"a full file", run_in_memory(worked_answers + "items defects 12 0", 10),
         RunEnd::file_failure, "", "items", cannot_write("items"),
         all_asked + cannot_write("items")},
        {"one file under two names", run_on_disk(worked_answers + dir + "/s " + dir + "/./s 12 0"),
         RunEnd::same_file, "", "", msg::same_file, all_asked + msg::same_file},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.run.outcome.end, c.end) << c.label;
        EXPECT_EQ(c.run.outcome.question, c.question) << c.label;
        EXPECT_EQ(c.run.outcome.file, c.file) << c.label;
        EXPECT_EQ(message_text(c.run.outcome), c.message) << c.label;
        EXPECT_EQ(c.run.transcript, c.transcript) << c.label;
        EXPECT_EQ(c.run.status, c.end == RunEnd::completed ? 0 : 1) << c.label;
    }
}

TEST(Disk, TwoRunsAtOnceNeverMixOneFile) {
    // Two programs started together on the same names, with different seeds: each ends
    // either complete or refused, and the files are the complete set of one of them.
    const std::string dir = make_temp_dir();
    const std::string base = "40 2000 1000 1000 2000 0.05 0.3 3 5 4 10 10 20 3 0 8 " + dir +
                             "/items.txt " + dir + "/defects.txt ";
    std::string command;
    for (const char* seed : {"12", "13"}) {
        std::ofstream(dir + "/answers" + seed) << base << seed << " 0";
        command += std::string(DEFECTGEN_BINARY) + " < " + dir + "/answers" + seed + " > " + dir +
                   "/console" + seed + " & ";
    }
    command += "wait";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string items = read_file(dir + "/items.txt");
    const std::string defects = read_file(dir + "/defects.txt");
    int completed = 0;
    for (const char* seed : {"12", "13"}) {
        const std::string console = read_file(dir + "/console" + seed);
        if (console.size() >= closing.size() &&
            console.compare(console.size() - closing.size(), closing.size(), closing) == 0) {
            ++completed;
            const RunResult own = run_in_memory(base + seed + " 0");
            EXPECT_EQ(items, own.files.files.at(dir + "/items.txt")) << seed;
            EXPECT_EQ(defects, own.files.files.at(dir + "/defects.txt")) << seed;
        } else {
            EXPECT_NE(console.find(" is locked by another run!"), std::string::npos) << console;
        }
    }
    EXPECT_GE(completed, 1);
}

TEST(Disk, ComparisonOfARunWithTheFilesOnDisk) {
    const std::string dir = make_temp_dir();
    const std::string names = dir + "/items.txt " + dir + "/defects.txt 12 7";
    ASSERT_EQ(run_on_disk(worked_answers + names).status, 0);
    // The defects file differs in its fifth line, at "9.000000".
    std::string changed = read_file(dir + "/defects.txt");
    const std::size_t nine = changed.find("\n9.") + 1;
    changed[nine] = '8';
    std::ofstream(dir + "/changed.txt") << changed;

    OutputSink sink;
    sink.kind = SinkKind::compare;
    sink.redirect[dir + "/defects.txt"] = dir + "/changed.txt";
    const RunResult r = run_with_sink(worked_answers + names, sink);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.transcript, completed_transcript(3));
    ASSERT_EQ(sink.compared.size(), 2U);
    const FileComparison& items = sink.compared.at(dir + "/items.txt");
    EXPECT_EQ(items.path, dir + "/items.txt");
    EXPECT_TRUE(items.readable && items.identical);
    const FileComparison& defects = sink.compared.at(dir + "/defects.txt");
    EXPECT_EQ(defects.path, dir + "/changed.txt");
    EXPECT_TRUE(defects.readable);
    EXPECT_FALSE(defects.identical);
    EXPECT_EQ(defects.first_difference, nine + 1);
    EXPECT_EQ(defects.line, 5U);
}

TEST(Disk, InterruptedRunLeavesAFileCutShort) {
    const std::string dir = make_temp_dir();
    const std::string items = dir + "/items.txt";
    const std::string defects = dir + "/defects.txt";
    const std::string answers =
        "30 20000 1000 1000 20000 0.05 0.3 3 5 4 10 10 20 3 0 8 " + items + " " + defects + " 12 0";
    std::ofstream(dir + "/answers") << answers;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int in = ::open((dir + "/answers").c_str(), O_RDONLY);
        const int out = ::open("/dev/null", O_WRONLY);
        ::dup2(in, 0);
        ::dup2(out, 1);
        std::signal(SIGINT, SIG_DFL); // as on a console, whatever started the tests
        ::execl(DEFECTGEN_BINARY, DEFECTGEN_BINARY, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Ctrl-C as soon as the first bytes are in the items file.
    struct stat st {};
    while (::stat(items.c_str(), &st) != 0 || st.st_size == 0) {
        ::usleep(200);
    }
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    // Each file there is the beginning of the complete one, and one is cut short.
    OutputSink sink;
    sink.kind = SinkKind::compare;
    ASSERT_EQ(run_with_sink(answers, sink).status, 0);
    const FileComparison& i = sink.compared.at(items);
    ASSERT_TRUE(i.readable);
    bool exists = false;
    const std::string cut = read_file(items, &exists);
    if (!i.identical) {
        EXPECT_EQ(i.first_difference, cut.size() + 1) << "a prefix of the complete file";
    }
    const FileComparison& d = sink.compared.at(defects);
    if (d.readable) {
        EXPECT_TRUE(i.identical) << "the defects file only after the items file";
        EXPECT_FALSE(d.identical);
        EXPECT_EQ(d.first_difference, read_file(defects).size() + 1);
    } else {
        EXPECT_FALSE(i.identical);
    }
}

TEST(Memory, WriteFailureIsReportedEvenWhenAnItemFailsToo) {
    // Thousands of small instances until an item cannot be repaired; with little room
    // the earlier blocks cannot all be written, and that must not go unreported.
    const std::string answers = "20000 1 100 1000 10 0.001 0.15 1 1 1 0 0 items d 20 1";
    const RunResult roomy = run_in_memory(answers);
    EXPECT_EQ(roomy.status, 1);
    EXPECT_EQ(roomy.transcript, transcript_start(1, all_prompts(1).size()) + msg::item_failure);
    ASSERT_GT(roomy.files.files.at("items").size(), 3U << 20);

    const RunResult cramped = run_in_memory(answers, 3U << 20);
    EXPECT_EQ(cramped.status, 1);
    EXPECT_EQ(cramped.transcript,
              transcript_start(1, all_prompts(1).size()) + cannot_write("items"));
}

// Answers of a complete run with one defect type, one per question (the defect type's
// length and width are two answers to one prompt).
const std::vector<std::string> answers = {"2", "3", "100", "100", "5", "0.01", "0.15", "1",
                                          "5", "4", "1",   "3",   "i", "d",    "12"};

// The prompts shown once answer k has been read.
std::size_t prompts_shown(std::size_t k) {
    return k <= 8 ? k + 1 : k;
}

std::string join(std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t k = from; k < to; ++k) {
        text += answers[k] + " ";
    }
    return text;
}

TEST(HostileAnswers, EveryQuestionWithEveryKindOfBadAnswer) {
    enum Kind { end_of_input, word, too_large, negative, zero };
    const char* const kind_answer[] = {"", "abc", "99999999999", "-7", "0"};
    const std::string& int_range = msg::int_range;
    const std::string ok; // the run completes
    // Expected outcome per answer position and kind (after end of input always the same).
    struct Row {
        std::string word;
        std::string too_large;
        std::string negative;
        std::string zero;
    };
    const Row rows[] = {
        {msg::not_integer, int_range, ok, ok}, // instances
        {msg::not_integer, int_range, ok, ok}, // objects
        {msg::not_integer, int_range, msg::object_positive, msg::object_positive},
        {msg::not_integer, int_range, msg::object_positive, msg::object_positive},
        {msg::not_integer, int_range, ok, ok}, // items
        {msg::not_number, msg::relsize_range, msg::relsize_range,
         msg::relsize_range}, // lower bound
        {msg::not_number, msg::relsize_range, msg::relsize_range,
         msg::relsize_range},                  // upper bound
        {msg::not_integer, int_range, ok, ok}, // defect types
        {msg::not_integer, int_range, msg::defect_positive, msg::defect_positive},
        {msg::not_integer, int_range, msg::defect_positive, msg::defect_positive},
        {msg::not_integer, int_range, ok, ok}, // lower count
        {msg::not_integer, int_range, ok, ok}, // upper count
        {ok, ok, ok, ok},                      // items file name
        {ok, ok, ok, ok},                      // defects file name
        {msg::not_integer, int_range, ok, ok}, // seed
    };
    for (std::size_t k = 0; k < answers.size(); ++k) {
        for (const Kind kind : {end_of_input, word, too_large, negative, zero}) {
            std::string input = join(0, k) + kind_answer[kind];
            std::string expected = msg::input_ended;
            if (kind != end_of_input) {
                input.append(" ").append(join(k + 1, answers.size())).append("0");
                const Row& row = rows[k];
                expected = kind == word        ? row.word
                           : kind == too_large ? row.too_large
                           : kind == negative  ? row.negative
                                               : row.zero;
            }
            std::string label = "answer ";
            label.append(std::to_string(k)).append(" as '").append(kind_answer[kind]).append("'");
            const RunResult r = run_in_memory(input);
            if (expected.empty()) {
                EXPECT_EQ(r.status, 0) << label;
                EXPECT_TRUE(r.transcript.size() >= closing.size() &&
                            r.transcript.substr(r.transcript.size() - closing.size()) == closing)
                    << label;
                continue;
            }
            EXPECT_EQ(r.status, 1) << label;
            EXPECT_EQ(r.transcript, transcript_start(1, prompts_shown(k)) + expected) << label;
            EXPECT_TRUE(r.files.files.empty()) << label;
        }
    }
}

TEST(HostileAnswers, ProgramWithoutStandardInputEndsAtOnce) {
    const std::string dir = make_temp_dir();
    const std::string command =
        std::string(DEFECTGEN_BINARY) + " < /dev/null > " + dir + "/console.txt";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(read_file(dir + "/console.txt"), transcript_start(0, 1) + msg::input_ended);
}

TEST(HostileAnswers, BinaryGarbageIsRefusedAtOnce) {
    const std::string garbage("\x00\xff\x80 \x01", 5);
    const RunResult r = run_in_memory(garbage);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.transcript, transcript_start(0, 1) + msg::not_integer);
    const RunResult name =
        run_on_disk("1 1 10 10 1 0.1 0.2 0 0 0 " + garbage.substr(0, 3) + " 5 0");
    EXPECT_EQ(name.status, 1) << "a name that ends at its first zero byte is empty";
    EXPECT_EQ(name.transcript, transcript_start(0, all_prompts(0).size()) + cannot_create(""));
}

} // namespace
