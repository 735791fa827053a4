// Whole runs: the console transcript and every file, compared byte for byte.
#include "dialogue.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string worked_example_items = "13.000000\t71.000000\t923.000000\n"
                                         "24.000000\t34.000000\t816.000000\n"
                                         "35.000000\t28.000000\t980.000000\n"
                                         "9.000000\t33.000000\t297.000000\n"
                                         "24.000000\t17.000000\t408.000000\n"
                                         "\n";

TEST(Run, WorkedExampleWithDefectTypes) {
    const RunResult r = run_in_memory("1\n2\n100\n100\n5\n0.01\n0.15\n3\n5 4\n10 10\n20 3\n1\n3\n"
                                      "items.txt\ndefects.txt\n12\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.transcript, completed_transcript(3));
    ASSERT_EQ(r.files.files.size(), 2U);
    EXPECT_EQ(r.files.files.at("items.txt"), worked_example_items);
    EXPECT_EQ(r.files.files.at("defects.txt"), "instance: 1\n\n"
                                               "58.000000\t32.000000\t68.000000\t42.000000\n"
                                               "\n"
                                               "9.000000\t58.000000\t14.000000\t62.000000\n"
                                               "1.000000\t23.000000\t21.000000\t26.000000\n"
                                               "16.000000\t15.000000\t21.000000\t19.000000\n"
                                               "\n"
                                               "\n");
}

TEST(Run, WithoutDefectTypesNoDefectsFileIsAskedOrWritten) {
    // Several answers on one line still get their prompts.
    const RunResult r = run_in_memory("1 2 100 100 5 0.01 0.15 0 1 3 items.txt 12 0");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.transcript, completed_transcript(0));
    ASSERT_EQ(r.files.files.size(), 1U);
    EXPECT_EQ(r.files.files.at("items.txt"), worked_example_items);
}

TEST(Run, NegativeDefectTypeCountBehavesLikeZero) {
    const RunResult r = run_in_memory("1 2 100 100 5 0.01 0.15 -4 1 3 items.txt 12 0");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.transcript, completed_transcript(0));
    EXPECT_EQ(r.files.files.size(), 1U);
}

struct Refusal {
    const char* name;
    std::string input;
    int types;         // defect types in the answers, for the prompts shown
    std::size_t shown; // prompts shown before the refusal
    const char* message;
};

TEST(Run, EveryRefusalPausesAndExitsWithoutFiles) {
    const std::string object = "1 1 100 100 1 ";
    const Refusal cases[] = {
        {"too many instances", "20001", 0, 1, message::maxmod},
        {"too many objects", "1 20001", 0, 2, message::maxmod},
        {"object length 0", "1 1 0", 0, 3, message::object_positive},
        {"negative object width", "1 1 10 -5", 0, 4, message::object_positive},
        {"object area past 32 bits", "1 1 65536 32768", 0, 4, message::object_area},
        {"too many items", "1 1 100 100 20001", 0, 5, message::maxmod},
        {"lower bound 0", object + "0", 0, 6, message::relsize_range},
        {"lower bound 1", object + "1", 0, 6, message::relsize_range},
        {"upper bound 1", object + "0.1 1", 0, 7, message::relsize_range},
        {"upper bound 0 before order", object + "0.2 0", 0, 7, message::relsize_range},
        {"lower above upper", object + "0.2 0.1", 0, 7, message::relsize_order},
        {"too many defect types", object + "0.1 0.2 1001", 0, 8, message::maxdef},
        {"defect width 0", object + "0.1 0.2 2 5 0", 2, 9, message::defect_positive},
        {"defect length 0 before fit", object + "0.1 0.2 1 0 1000", 1, 9, message::defect_positive},
        {"defect one unit too long", object + "0.1 0.2 2 5 5 101 5", 2, 10, message::defect_fit},
        {"defect one unit too wide", object + "0.1 0.2 1 5 101", 1, 9, message::defect_fit},
        {"too many defects per object", object + "0.1 0.2 1 5 5 0 1001", 1, 11, message::maxdef},
        {"file name of 80 characters", object + "0.1 0.2 0 0 0 " + std::string(80, 'n'), 0, 11,
         message::name_length},
        {"defects file name of 80 characters",
         object + "0.1 0.2 1 5 5 0 0 items " + std::string(80, 'n'), 1, 13, message::name_length},
        {"word for a count", "many", 0, 1, message::not_integer},
        {"word for a bound", object + "small", 0, 6, message::not_number},
        {"count past 32 bits", "1 2147483648", 0, 2, message::int_range},
        {"seed past 32 bits", object + "0.1 0.2 0 0 0 items -2147483649", 0, 12,
         message::int_range},
        {"input ends before the seed", object + "0.1 0.2 0 0 0 items", 0, 12, message::input_ended},
        {"input ends at once", "", 0, 1, message::input_ended},
    };
    for (const Refusal& c : cases) {
        // A number after the answers serves the pause, unless the input is to end early.
        const bool ends = c.message == message::input_ended;
        const RunResult r = run_in_memory(ends ? c.input : c.input + " 5\n");
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.transcript, transcript_start(c.types, c.shown) + c.message) << c.name;
        EXPECT_TRUE(r.files.files.empty()) << c.name;
    }
}

TEST(Run, LargestAdmittedCapacitiesPass) {
    const RunResult instances = run_in_memory("20000 20000 10 10 0 0.1 0.2 0 0 1000 f 1 0");
    EXPECT_EQ(instances.status, 0);
    EXPECT_EQ(instances.transcript, completed_transcript(0));
    EXPECT_EQ(instances.files.files.at("f"), std::string(20000, '\n')) << "no items per instance";

    std::string answers = "0 1 5 5 1 0.1 0.2 1000\n";
    for (int k = 0; k < 1000; ++k) {
        answers += "5 5\n";
    }
    answers += "0 1000 " + std::string(79, 'i') + " " + std::string(79, 'd') + " 1 0";
    const RunResult types = run_in_memory(answers);
    EXPECT_EQ(types.status, 0);
    EXPECT_EQ(types.transcript, completed_transcript(1000));
    EXPECT_EQ(types.files.files.at(std::string(79, 'i')), "");
    EXPECT_EQ(types.files.files.at(std::string(79, 'd')), "");
}

TEST(Run, DefectCountsAtTheirLimits) {
    struct Case {
        const char* name;
        std::string answers; // objects, defect bounds, seed
        std::string defects;
    };
    const std::string object_line = "0.000000\t0.000000\t5.000000\t4.000000\n";
    const Case cases[] = {
        {"stream of zeros", "3 100 100 2 0.01 0.15 2 5 4 10 10 2 2 i d 0",
         "instance: 1\n\n" + object_line + object_line + "\n" + object_line + object_line + "\n" +
             object_line + object_line + "\n\n"},
        {"lower bound above upper", "3 100 100 2 0.01 0.15 1 5 4 5 3 i d 12",
         "instance: 1\n\n\n\n\n\n"},
        {"negative counts", "2 100 100 2 0.01 0.15 1 5 4 -3 -1 i d 12", "instance: 1\n\n\n\n\n"},
        {"no objects", "0 100 100 2 0.01 0.15 1 5 4 1 3 i d 12", "instance: 1\n\n\n"},
        {"type as large as the object", "2 100 100 2 0.01 0.15 1 100 100 1 1 i d 12",
         "instance: 1\n\n0.000000\t0.000000\t100.000000\t100.000000\n\n"
         "0.000000\t0.000000\t100.000000\t100.000000\n\n\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = run_in_memory("1 " + c.answers + " 0");
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.files.files.at("d"), c.defects) << c.name;
    }
}

TEST(Run, NoInstancesLeavesBothFilesEmpty) {
    for (const char* count : {"0", "-3"}) {
        const RunResult r =
            run_in_memory(std::string(count) + " 2 100 100 5 0.01 0.15 1 5 4 1 3 i d 12 0");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.files.files.at("i"), "");
        EXPECT_EQ(r.files.files.at("d"), "");
    }
}

TEST(Run, DefectsFileReplacesAnItemsFileOfTheSameName) {
    const RunResult r = run_in_memory("1 2 100 100 5 0.01 0.15 1 5 4 0 0 same same 12 0");
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.files.files.size(), 1U);
    EXPECT_EQ(r.files.files.at("same"), "instance: 1\n\n\n\n\n");
}

TEST(Run, GenerationFailureStopsAfterTheCompleteEarlierBlocks) {
    const std::string failure =
        " Determination of integer length or width of the small items failed. Please check the "
        "chosen bounds for the relative size as well as the size of the large object!";
    for (const char* answers :
         {"1 1 10 10 3 0.111 0.119", "1 1 15 7 3 0.1 0.1", "1 1 100 100 3 0.25 0.25"}) {
        const RunResult r = run_in_memory(std::string(answers) + " 0 0 0 items 12 9");
        EXPECT_EQ(r.status, 1) << answers;
        EXPECT_EQ(r.transcript, transcript_start(0, all_prompts(0).size()) + failure) << answers;
        EXPECT_EQ(r.files.files.at("items"), "") << answers;
    }
    // With this seed the single item of the first instance has area 2500 and the second
    // instance's item cannot reach it; no defects file is created.
    const RunResult second = run_in_memory("2 1 100 100 1 0.25 0.25 1 5 5 0 0 items d 45 9");
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.transcript, transcript_start(1, all_prompts(1).size()) + failure);
    EXPECT_EQ(second.files.files.at("items"), "25.000000\t100.000000\t2500.000000\n\n");
    EXPECT_EQ(second.files.files.count("d"), 0U);
}

TEST(Run, ClosingPromptAndPauseNeverWaitAtTheEndOfInput) {
    const RunResult done = run_in_memory("0 0 1 1 0 0.5 0.5 0 0 0 f 1");
    EXPECT_EQ(done.status, 0);
    EXPECT_EQ(done.transcript, completed_transcript(0));
    const RunResult refused = run_in_memory("20001");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.transcript, banner_text + prompts_before_defects[0] + message::maxmod);
}

} // namespace
