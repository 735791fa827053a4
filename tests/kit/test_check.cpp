// defectkit check run whole on sets that defectgen made, damaged one way at a time:
// stdout, stderr and the exit status compared whole.
#include "set_fixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <vector>

namespace {

struct Expected {
    int status;
    std::string out;
    std::string err;
};

void expect_run(const KitRun& run, const Expected& expected, const std::string& label) {
    EXPECT_EQ(run.status, expected.status) << label;
    EXPECT_EQ(run.out, expected.out) << label;
    EXPECT_EQ(run.err, expected.err) << label;
}

// Replaces the first `from` in the text with `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string with_crlf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        out += c == '\n' ? "\r\n" : std::string(1, c);
    }
    return out;
}

const std::string ok_example = "ok: 1 instance, 5 item types, 2 objects, 4 defects\n";

struct Damage {
    const char* label;
    std::function<std::string(const std::string&)> items; // the items file from the clean one
    std::function<std::string(const std::string&)> defects;
    Expected expected;
};

std::string same(const std::string& text) {
    return text;
}

TEST(Check, EachKindOfDamageIsCaughtAtItsLine) {
    const std::string folder = make_folder();
    generate_set(folder, example_answers);
    const std::string items = read_whole_file(folder + "/items.txt");
    const std::string defects = read_whole_file(folder + "/defects.txt");
    const std::vector<Damage> damages = {
        {"clean", same, same, {0, ok_example, ""}},
        {"a changed digit",
         [](const std::string& t) { return replaced(t, "816", "817"); },
         same,
         {1, "", "items.txt:2: the area 817 is not length x width (24 x 34 = 816)\n"}},
        {"a missing line",
         [](const std::string& t) { return replaced(t, "35.000000\t28.000000\t980.000000\n", ""); },
         same,
         {1, "", "items.txt:5: instance 1 ends after 4 item types where 5 are due\n"}},
        {"a missing final empty line",
         same,
         [](const std::string& t) { return t.substr(0, t.size() - 1); },
         {1, "", "defects.txt:9: the file ends inside instance 1; was the run cut short?\n"}},
        {"an items block too many",
         [](const std::string& t) { return t + t; },
         same,
         {1, "",
          "items.txt:7: a block too many: instance 2 where the answers ask for 1 instance\n"}},
        {"an object too many",
         same,
         [](const std::string& t) { return t + "\n"; },
         {1, "", "defects.txt:9: a block too many: instance 1 has more than 2 objects\n"}},
        {"a defect off the object",
         same,
         [](const std::string& t) {
             return replaced(t, "58.000000\t32.000000\t68.000000",
                             "95.000000\t32.000000\t105.000000");
         },
         {1, "",
          "defects.txt:3: the defect lies off the object: it reaches (105, 42) on an object of "
          "100 x 100\n"}},
        {"a defect of a foreign size",
         same,
         [](const std::string& t) { return replaced(t, "68.000000", "69.000000"); },
         {1, "",
          "defects.txt:3: a defect of size 11 x 10, which is none of the defect types (5 x 4, "
          "10 x 10, 20 x 3)\n"}},
        {"a cut file",
         same,
         [](const std::string& t) { return t.substr(0, 100); },
         {1, "", "defects.txt:6: the file ends inside instance 1; was the run cut short?\n"}},
        {"too few defects, a leading zero, a sign, a space",
         [](const std::string& t) {
             return replaced(replaced(t, "13.000000", "013.000000"), "\t71.000000", " 71.000000");
         },
         [](const std::string& t) {
             return replaced(replaced(t, "58.000000\t32.000000\t68.000000\t42.000000\n", ""),
                             "\t23.000000", "\t+23.000000");
         },
         {1, "",
          "items.txt:1: not an item line: field 1 has a leading zero\n"
          "defects.txt:3: object 1 of instance 1 carries 0 defects; the answers allow 1 to 3\n"
          "defects.txt:5: not a defect line: field 2 carries a sign\n"}},
        {"a space, decimals, eleven digits, past single precision, past any item, a zero",
         [](const std::string& t) {
             return replaced(
                 replaced(replaced(replaced(replaced(t, "13.000000\t71", "13.000000 71"),
                                            "816.000000", "816.000001"),
                                   "980.000000", "98000000000.000000"),
                          "297.000000", "16777217.000000"),
                 "408.000000", "4294967296.000000");
         },
         [](const std::string& t) { return replaced(t, "9.000000\t58", "09.000000\t58"); },
         {1, "",
          "items.txt:1: not an item line: field 1 is not followed by one tab\n"
          "items.txt:2: not an item line: field 3 is not written with six zero decimals, as "
          "12.000000\n"
          "items.txt:3: not an item line: field 3 is larger than any value the files hold\n"
          "items.txt:4: not an item line: field 3 is 16777217, which single precision does not "
          "hold\n"
          "items.txt:5: the value 4294967296 is larger than any item defectgen writes\n"
          "defects.txt:5: not a defect line: field 1 has a leading zero\n"}},
        {"an item at minarea too many, a header's leading zero, no length, a defect too many",
         [](const std::string& t) {
             return replaced(t, "408.000000\n", "408.000000\n10.000000\t10.000000\t100.000000\n");
         },
         [](const std::string& t) {
             const std::string last = "16.000000\t15.000000\t21.000000\t19.000000\n";
             return replaced(
                 replaced(replaced(t, "instance: 1", "instance: 01"), "68.000000", "58.000000"),
                 last, last + last);
         },
         {1, "",
          "items.txt:6: instance 1 has more than 5 item types; an empty line ending it is "
          "missing?\n"
          "defects.txt:1: not a header: expected \"instance: 1\"\n"
          "defects.txt:3: a defect of size 0 x 10, which is none of the defect types (5 x 4, 10 x "
          "10, 20 x 3)\n"
          "defects.txt:8: object 2 of instance 1 carries more than 3 defects; the answers allow 1 "
          "to 3\n"}},
        {"headers and empty lines",
         same,
         [](const std::string& t) {
             return replaced(replaced(t, "instance: 1", "instance: 2000000000"), "\n\n\n",
                             "\n\ninstance: 2\n\n\n");
         },
         {1, "",
          "defects.txt:1: the header names instance 2000000000 where instance 1 is due\n"
          "defects.txt:9: instance 1 lacks its closing empty line\n"
          "defects.txt:9: a block too many: instance 2 where the answers ask for 1 instance\n"
          "defects.txt:12: the file ends inside instance 2; was the run cut short?\n"}},
        {"CRLF line ends",
         [](const std::string& t) { return with_crlf(t); },
         same,
         {1, "",
          "items.txt:1: the line ends with \\r\\n (CRLF); defectgen ends its lines with \\n alone\n"
          "items.txt:2: the line ends with \\r\\n (CRLF); defectgen ends its lines with \\n alone\n"
          "items.txt:3: the line ends with \\r\\n (CRLF); defectgen ends its lines with \\n alone\n"
          "items.txt:4: the line ends with \\r\\n (CRLF); defectgen ends its lines with \\n alone\n"
          "items.txt:5: the line ends with \\r\\n (CRLF); defectgen ends its lines with \\n alone\n"
          "items.txt:6: the line ends with \\r\\n (CRLF); defectgen ends its lines with \\n "
          "alone\n"}},
        {"NUL bytes, a huge line and no final line end",
         [](const std::string& t) {
             return replaced(t, "24.000000\t17",
                             std::string("24.0\0\0"
                                         "0000\t17",
                                         13)) +
                    std::string(3000000, '7');
         },
         same,
         {1, "",
          "items.txt:5: not an item line: the line holds a NUL byte\n"
          "items.txt:7: the line is longer than 1024 bytes; defectgen writes none longer than "
          "80\n"
          "items.txt:7: the file ends inside instance 2; was the run cut short?\n"}},
    };
    for (const Damage& damage : damages) {
        write_file(folder + "/items.txt", damage.items(items));
        write_file(folder + "/defects.txt", damage.defects(defects));
        expect_run(run_kit_in(folder, "check answers.txt"), damage.expected, damage.label);
    }
    remove_folder(folder);
}

struct Case {
    const char* args;
    Expected expected;
};

void expect_cases(const std::string& folder, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        expect_run(run_kit_in(folder, c.args), c.expected, c.args);
    }
}

const std::string not_checked =
    "note: not checked without the answers: the numbers of instances, item types, objects and "
    "defects asked for, minarea and maxarea, the defect types, and whether these are the exact "
    "files (defectkit verify)\n";

TEST(Check, TheObjectRouteChecksWhatItCanAndSaysWhatItCannot) {
    const std::string folder = make_folder();
    generate_set(folder, example_answers);
    write_file(folder + "/two-items.txt",
               read_whole_file(folder + "/items.txt") + read_whole_file(folder + "/items.txt"));
    write_file(folder + "/off.txt", replaced(read_whole_file(folder + "/defects.txt"),
                                             "\t68.000000\t42.000000", "\t68.000000\t101.000000"));
    write_file(folder + "/two-bad.txt",
               replaced(read_whole_file(folder + "/two-items.txt"), "816", "817"));
    // At the limits, on the largest object: an item of 2^31 (the float of INT32_MAX), a
    // length of 2^24 whose area cannot be one less, an area 0, MAXMOD + 1 item types, and a
    // defect whose far corner single precision rounds one unit past the object's side.
    std::string big = "2147483648.000000\t1.000000\t2147483648.000000\n"
                      "16777216.000000\t1.000000\t16777215.000000\n1.000000\t0.000000\t0.000000\n";
    for (int line = 4; line <= 20001; ++line) {
        big += "1.000000\t1.000000\t1.000000\n";
    }
    write_file(folder + "/big.txt", big + "\n");
    write_file(folder + "/big-defects.txt",
               "instance: 1\n\n2147483392.000000\t0.000000\t2147483904.000000\t1.000000\n\n\n");
    expect_cases(
        folder,
        {
            {"check --object 100x100 --items items.txt --defects defects.txt",
             {0,
              ok_example + not_checked +
                  "note: objects per instance taken from instance 1 of defects.txt\n",
              ""}},
            {"check --object 100x100 --items items.txt --objects 2",
             {0, "ok: 1 instance, 5 item types, 2 objects, 0 defects\n" + not_checked, ""}},
            {"check --object 100x100 --items items.txt",
             {0, "ok: 1 instance, 5 item types\n" + not_checked, ""}},
            {"check --object 100x100 --items items.txt --defects off.txt --objects 2",
             {1, "",
              "off.txt:3: the defect lies off the object: it reaches (68, 101) on an object of 100 "
              "x 100\n"}},
            {"check --object 100x100 --items two-items.txt --defects defects.txt --objects 2",
             {1, "", "defects.txt:10: the file holds 1 instance where two-items.txt holds 2\n"}},
            {"check --object 100x100 --items two-bad.txt --defects defects.txt --objects 2",
             {1, "", "two-bad.txt:2: the area 817 is not length x width (24 x 34 = 816)\n"}},
            {"check --object 2147483647x1 --items big.txt --defects big-defects.txt",
             {1, "",
              "big.txt:2: the area 16777215 is not length x width (16777216 x 1 = 16777216)\n"
              "big.txt:3: an item of area 0; defectgen draws no item smaller than 1\n"
              "big.txt:20001: instance 1 has more than 20000 item types (MAXMOD)\n"}},
            {"check --object 30x30 --items items.txt --defects defects.txt",
             {1, "",
              "items.txt:1: the area 923 is larger than the object's, 900\n"
              "items.txt:3: the area 980 is larger than the object's, 900\n"
              "defects.txt:3: the defect lies off the object: it reaches (68, 42) on an object of "
              "30 x 30\n"
              "defects.txt:5: the defect lies off the object: it reaches (14, 62) on an object of "
              "30 x 30\n"}},
            {"check --object 100 --items items.txt",
             {2, "",
              "--object 100: expected LxW, the object's length and width as positive whole "
              "numbers (as 1000x1000)\n"}},
            {"check --object 100000x100000 --items items.txt",
             {2, "",
              "--object 100000x100000: The area of the large object must not be larger than "
              "2147483647!\n"}},
            {"check --object 100x100",
             {2, "",
              "--object needs --items FILE: without answers nothing names the items file\n"}},
            {"check",
             {2, "",
              "name the set: the ANSWERS file defectgen read, or --object LxW with --items "
              "FILE\n"}},
        });
    remove_folder(folder);
}

TEST(Check, AGenerationFailureIsToldAsSuch) {
    // Seed 31 makes defectgen stop at the fifth instance: four blocks, no defects file.
    const std::string folder = make_folder();
    generate_set(folder, "5 3 100 100 300 0.01 0.15 1 5 4 1 2 i.txt d.txt 31 0");
    const std::string failure =
        "i.txt:1205: a generation failure, not damage: for these answers defectgen stops at "
        "instance 5 (an item whose length or width it cannot repair), and leaves the 4 complete "
        "instances before it and no defects file, as this set holds\n";
    expect_cases(folder, {{"check answers.txt", {1, "", failure}}});
    // One block fewer is damage, and the defects file is then missing.
    std::string items = read_whole_file(folder + "/i.txt");
    items.resize(items.rfind("\n\n", items.size() - 3) + 2);
    write_file(folder + "/i.txt", items);
    expect_cases(folder,
                 {{"check answers.txt",
                   {2, "",
                    "i.txt:904: the file ends after instance 3 of 5; was the run cut short?\n"
                    "d.txt: cannot be opened: No such file or directory\n"}}});
    // An object too small for any item: nothing at all is written.
    generate_set(folder, "2 3 10 10 3 0.111 0.119 0 1 2 e.txt 5 0");
    expect_cases(folder,
                 {{"check answers.txt",
                   {1, "",
                    "e.txt:1: a generation failure, not damage: for these answers "
                    "defectgen stops at instance 1 (an item whose length or width it "
                    "cannot repair), and leaves the items file empty, as this set holds\n"}}});
    remove_folder(folder);
}

TEST(Check, NotesAndTheLimitOfProblemsShown) {
    const std::string folder = make_folder();
    // Share bounds that cross: items longer than the object is wide... or long.
    generate_set(folder, "1 2 10 1000 50 0.01 0.15 1 2 2 1 1 i.txt d.txt 12 0");
    expect_cases(folder, {{"check answers.txt",
                           {0,
                            "ok: 1 instance, 50 item types, 2 objects, 2 defects\n"
                            "note: 10 item types are longer or wider than the object (defectgen "
                            "draws such items when the object is too elongated for their area)\n",
                            ""}}});
    generate_set(folder, "2 2 100 100 4 0.01 0.15 1 5 4 1 2 i.txt d.txt 0 0");
    expect_cases(folder,
                 {{"check answers.txt",
                   {0,
                    "ok: 2 instances, 8 item types, 4 objects, 4 defects\n"
                    "note: seed 0 gives a constant random stream: every item alike, every defect "
                    "at (0, 0)\n",
                    ""}},
                  {"check --object 100x100 --items i.txt --defects d.txt --objects 2",
                   {0,
                    "ok: 2 instances, 8 item types, 4 objects, 4 defects\n"
                    "note: every item alike, every defect at (0, 0): the set looks drawn from a "
                    "constant random stream (seed 0 and its like)\n" +
                        not_checked,
                    ""}}});
    generate_set(folder, "1 2 100 100 30 0.01 0.15 1 5 4 1 2 i.txt d.txt 3 0");
    write_file(folder + "/i.txt", with_crlf(read_whole_file(folder + "/i.txt")));
    write_file(folder + "/d.txt", with_crlf(read_whole_file(folder + "/d.txt")));
    std::string err;
    for (int line = 1; line <= 20; ++line) {
        err += "i.txt:" + std::to_string(line) +
               ": the line ends with \\r\\n (CRLF); defectgen ends its lines with \\n alone\n";
    }
    expect_cases(folder, {{"check answers.txt", {1, "", err + "and 20 more problems\n"}}});
    remove_folder(folder);
}

TEST(Check, HostileFilesAndAnswersAreRefusedClearly) {
    const std::string folder = make_folder();
    generate_set(folder, example_answers);
    ASSERT_EQ(::mkfifo((folder + "/fifo").c_str(), 0600), 0);
    ::mkdir((folder + "/folder").c_str(), 0700);
    write_file(folder + "/huge.txt", "1 " + std::string(2000000, ' ') + "2");
    write_file(folder + "/refused.txt", "1 2 100 100 5 0.01 0.15 3 5 4 10 10 0 3 1 3 items.txt");
    expect_cases(
        folder,
        {
            {"check --object 10x10 --items folder", {2, "", "folder: is a folder, not a file\n"}},
            {"check --object 10x10 --items fifo",
             {2, "", "fifo: is not a regular file (a FIFO, a device or a socket)\n"}},
            {"check --object 10x10 --items missing.txt",
             {2, "", "missing.txt: cannot be opened: No such file or directory\n"}},
            {"check answers.txt --defects fifo",
             {2, "", "fifo: is not a regular file (a FIFO, a device or a socket)\n"}},
            {"check folder", {2, "", "folder: is a folder, not a file\n"}},
            {"chek",
             {2, "",
              "defectkit: there is no command \"chek\"; the commands are check, verify, stats, "
              "export, check-solution, draw, bound, place, run and results (defectkit --help "
              "tells more)\n"}},
            {"check items.txt",
             {2, "",
              "items.txt: defectgen refuses these answers at the question \"How many large "
              "objects are to be generated per instance?\": The answer must be an integer "
              "number!\n"}},
            {"check refused.txt",
             {2, "",
              "refused.txt: defectgen refuses these answers at the question \"Enter an positive "
              "integer length and width for defect no. 3, separated by a space.\": Values must be "
              "greater than 0!\n"}},
            {"check huge.txt",
             {2, "",
              "huge.txt: not an answers file: it goes on past 1 MiB before its last answer\n"}},
        });
    remove_folder(folder);
}

} // namespace
