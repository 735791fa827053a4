// Whole runs: the console transcript and every file, compared byte for byte.
#include "defect_generation.h"
#include "dialogue.h"
#include "item_generation.h"
#include "random_stream.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
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
    std::string message;
};

TEST(Run, EveryRefusalPausesAndExitsWithoutFiles) {
    const std::string object = "1 1 100 100 1 ";
    const Refusal cases[] = {
        {"too many instances", "20001", 0, 1, msg::maxmod},
        {"too many objects", "1 20001", 0, 2, msg::maxmod},
        {"object length 0", "1 1 0", 0, 3, msg::object_positive},
        {"negative object width", "1 1 10 -5", 0, 4, msg::object_positive},
        {"object area past 32 bits", "1 1 65536 32768", 0, 4, msg::object_area},
        {"too many items", "1 1 100 100 20001", 0, 5, msg::maxmod},
        {"lower bound 0", object + "0", 0, 6, msg::relsize_range},
        {"lower bound 1", object + "1", 0, 6, msg::relsize_range},
        {"upper bound 1", object + "0.1 1", 0, 7, msg::relsize_range},
        {"upper bound 0 before order", object + "0.2 0", 0, 7, msg::relsize_range},
        {"lower above upper", object + "0.2 0.1", 0, 7, msg::relsize_order},
        {"too many defect types", object + "0.1 0.2 1001", 0, 8, msg::maxdef},
        {"defect width 0", object + "0.1 0.2 2 5 0", 2, 9, msg::defect_positive},
        {"defect length 0 before fit", object + "0.1 0.2 1 0 1000", 1, 9, msg::defect_positive},
        {"defect one unit too long", object + "0.1 0.2 2 5 5 101 5", 2, 10, msg::defect_fit},
        {"defect one unit too wide", object + "0.1 0.2 1 5 101", 1, 9, msg::defect_fit},
        {"too many defects per object", object + "0.1 0.2 1 5 5 0 1001", 1, 11, msg::maxdef},
        {"file name of 80 characters", object + "0.1 0.2 0 0 0 " + std::string(80, 'n'), 0, 11,
         msg::name_length},
        {"defects file name of 80 characters",
         object + "0.1 0.2 1 5 5 0 0 items " + std::string(80, 'n'), 1, 13, msg::name_length},
        {"word for a count", "many", 0, 1, msg::not_integer},
        {"word for a bound", object + "small", 0, 6, msg::not_number},
        {"count past 32 bits", "1 2147483648", 0, 2, msg::int_range},
        {"seed past 32 bits", object + "0.1 0.2 0 0 0 items -2147483649", 0, 12, msg::int_range},
        {"input ends before the seed", object + "0.1 0.2 0 0 0 items", 0, 12, msg::input_ended},
        {"input ends at once", "", 0, 1, msg::input_ended},
    };
    for (const Refusal& c : cases) {
        // A number after the answers serves the pause, unless the input is to end early.
        const bool ends = c.message == msg::input_ended;
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

// Both files of the answers as the plainest writer makes them: the draws one after
// another from one stream, each line through snprintf("%f").
struct PlainFiles {
    std::string items;
    std::string defects;
};

PlainFiles plain_files(const std::string& answers) {
    auto p = std::make_unique<RunParams>();
    std::istringstream in(answers);
    std::ostringstream console;
    EXPECT_EQ(run_dialogue(in, console, *p, OutputSink{}).end, RunEnd::completed);
    RandomStream stream;
    seed_random_stream(stream, p->seed);
    auto items = std::make_unique<ItemTable>();
    PlainFiles files;
    char line[256];
    for (int instance = 1; instance <= p->no_instances; ++instance) {
        EXPECT_TRUE(generate_item_types(*p, stream, *items));
        for (int j = 0; j < p->no_items; ++j) {
            const Rectangle& item = items->item[j];
            std::snprintf(line, sizeof line, "%f\t%f\t%f\n", static_cast<float>(item.length),
                          static_cast<float>(item.width), static_cast<float>(item.area));
            files.items += line;
        }
        files.items += "\n";
    }
    auto counts = std::make_unique<DefectCounts>();
    for (int instance = 1; instance <= p->no_instances; ++instance) {
        draw_defect_counts(*p, stream, *counts);
        std::snprintf(line, sizeof line, "instance: %d\n\n", instance);
        files.defects += line;
        for (int o = 0; o < p->no_objects; ++o) {
            for (int d = 0; d < counts->no_defects[o]; ++d) {
                const PlacedDefect placed = place_defect(*p, stream);
                const Rectangle& type = p->defect[placed.type];
                const float x1 = static_cast<float>(placed.x);
                const float y1 = static_cast<float>(placed.y);
                std::snprintf(line, sizeof line, "%f\t%f\t%f\t%f\n", x1, y1,
                              x1 + static_cast<float>(type.length),
                              y1 + static_cast<float>(type.width));
                files.defects += line;
            }
            files.defects += "\n";
        }
        files.defects += "\n";
    }
    return files;
}

TEST(Run, FilesWrittenInParallelPiecesEqualAPlainWriter) {
    for (const char* answers : {
             // Pieces end where their defects reach the bound, mid-instance.
             "2 9000 50 40 3 0.1 0.2 2 3 3 7 2 0 3 i d 99 ",
             // Pieces end at the bound on objects; most objects carry nothing.
             "1 9000 50 40 3 0.1 0.2 1 3 3 -2 1 i d 5 ",
             // Objects with the most defects an object can carry.
             "2 11 50 40 3 0.1 0.2 2 3 3 50 40 1000 1000 i d 7 ",
             // Corners up to 9999, each number from the table of small ones, and up to
             // 10000, where the lines are written in single precision.
             "1 400 9999 9999 3 0.1 0.2 2 9999 1 1 9999 0 8 i d 3 ",
             "1 400 10000 10000 3 0.1 0.2 2 10000 1 1 10000 0 8 i d 3 ",
             // Item pieces: instances that fill them exactly, once and twice, or miss by
             // one, and more instances than a piece holds block ends.
             "3 1 900 900 4096 0.01 0.2 1 5 5 0 2 i d 3 ",
             "2 1 900 900 8192 0.01 0.2 1 5 5 0 2 i d 4 ",
             "3 1 900 900 4095 0.01 0.2 1 5 5 0 2 i d 5 ",
             "3 1 900 900 4097 0.01 0.2 1 5 5 0 2 i d 6 ",
             "4500 1 900 900 1 0.01 0.2 1 5 5 0 2 i d 7 ",
         }) {
        const RunResult r = run_in_memory(std::string(answers) + "0");
        EXPECT_EQ(r.status, 0) << answers;
        const PlainFiles plain = plain_files(answers);
        EXPECT_EQ(r.files.files.at("i"), plain.items) << answers;
        EXPECT_EQ(r.files.files.at("d"), plain.defects) << answers;
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

TEST(Run, SameNameForBothFilesIsRefusedBeforeAnyFileExists) {
    const RunResult r = run_in_memory("1 2 100 100 5 0.01 0.15 1 5 4 0 0 same same 12 0");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.transcript, transcript_start(1, all_prompts(1).size() - 1) + msg::same_file);
    EXPECT_TRUE(r.files.files.empty());
}

// The lines of a file, each without its line end.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The numbers of a line of either file.
std::vector<double> numbers_of(const std::string& line) {
    std::vector<double> numbers;
    std::istringstream in(line);
    for (double v = 0; in >> v;) {
        numbers.push_back(v);
    }
    return numbers;
}

TEST(Run, ItemsLargerThanTheObjectWhenTheShareBoundsCross) {
    // 10 x 1000: items of areas 100 to 1500 with a length share of at least 0.1 cannot
    // all be at most 10 long; 477 of 2000 are 11 to 13 long.
    const RunResult narrow = run_in_memory("1 1 10 1000 2000 0.01 0.15 0 0 0 i 12 0");
    ASSERT_EQ(narrow.status, 0);
    std::map<double, int> too_long;
    for (const std::string& line : lines_of(narrow.files.files.at("i"))) {
        if (!line.empty() && numbers_of(line)[0] > 10.0) {
            ++too_long[numbers_of(line)[0]];
        }
    }
    EXPECT_EQ(too_long, (std::map<double, int>{{11.0, 328}, {12.0, 139}, {13.0, 10}}));
    // 2147483647 x 1: every item is wider than the object.
    const RunResult flat = run_in_memory("1 1 2147483647 1 50 0.01 0.15 0 0 0 i 12 0");
    ASSERT_EQ(flat.status, 0);
    const std::vector<std::string> lines = lines_of(flat.files.files.at("i"));
    ASSERT_EQ(lines.size(), 51U);
    for (std::size_t j = 0; j < 50; ++j) {
        EXPECT_GT(numbers_of(lines[j])[1], 1.0) << lines[j];
    }
}

TEST(Run, CornersBeyondWhatSinglePrecisionHolds) {
    // Beyond 16777216 a corner and the corner one further print alike, and a corner may
    // print beyond the object's end: 99999999 is written 100000000.
    const RunResult r = run_in_memory("1 2 99999999 1 1 0.01 0.15 2 1 1 99999999 1 20 20 i d 12 0");
    ASSERT_EQ(r.status, 0);
    int equal_corners = 0;
    int past_the_end = 0;
    for (const std::string& line : lines_of(r.files.files.at("d"))) {
        const std::vector<double> v = numbers_of(line);
        if (v.size() == 4) {
            equal_corners += v[0] == v[2] ? 1 : 0;
            past_the_end += line == "0.000000\t0.000000\t100000000.000000\t1.000000" ? 1 : 0;
        }
    }
    EXPECT_GT(equal_corners, 0);
    EXPECT_GT(past_the_end, 0);
}

TEST(Run, SeedsThatGiveAStreamOfZeros) {
    // Every item alike, every object with the fewest defects, all of the first type at
    // the origin.
    const std::string corner = "0.000000\t0.000000\t5.000000\t4.000000\n";
    const std::string object = corner + corner + "\n";
    for (const char* seed : {"0", "2147483647", "-2147483647"}) {
        const RunResult r = run_in_memory(
            std::string("2 3 100 100 4 0.01 0.15 2 5 4 10 10 2 6 i d ") + seed + " 0");
        ASSERT_EQ(r.status, 0) << seed;
        const std::string item = "4.000000\t30.000000\t120.000000\n";
        const std::string block = item + item + item + item + "\n";
        EXPECT_EQ(r.files.files.at("i"), block + block) << seed;
        EXPECT_EQ(r.files.files.at("d"), "instance: 1\n\n" + object + object + object + "\n" +
                                             "instance: 2\n\n" + object + object + object + "\n")
            << seed;
    }
}

TEST(Run, GenerationFailureStopsAfterTheCompleteEarlierBlocks) {
    const std::string& failure = msg::item_failure;
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
    EXPECT_EQ(refused.transcript, banner_text + prompts_before_defects[0] + msg::maxmod);
}

} // namespace
