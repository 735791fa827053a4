// Hostile answers and failing files: every run either completes and says so, or says
// what went wrong, exits with status 1 and claims no success.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
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
