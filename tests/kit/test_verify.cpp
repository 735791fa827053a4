// defectkit verify run whole: the set regenerated from its answers and compared byte for
// byte with the files on disk; stdout, stderr and the exit status compared whole.
#include "set_fixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <vector>

namespace {

struct Case {
    const char* label;
    std::string items;   // the items file's bytes for this case
    std::string defects; // the defects file's bytes; "-" for no file
    const char* args;
    int status;
    std::string out;
    std::string err;
};

TEST(Verify, TellsIdenticalFilesAndTheFirstDifference) {
    const std::string folder = make_folder();
    generate_set(folder, example_answers);
    const std::string items = read_whole_file(folder + "/items.txt");
    const std::string defects = read_whole_file(folder + "/defects.txt");
    std::string digit = items;
    digit[digit.find("816")] = '9';
    const std::string identical =
        "identical: items.txt and defects.txt are exactly what defectgen writes for these "
        "answers\n";
    const std::vector<Case> cases = {
        {"clean", items, defects, "verify answers.txt", 0, identical, ""},
        {"a changed digit", digit, defects, "verify answers.txt", 1, "",
         "items.txt:2: first difference at byte 52\n"},
        {"a shorter file", items, defects.substr(0, 150), "verify answers.txt", 1, "",
         "defects.txt:7: first difference at byte 151, where the file ends\n"},
        {"a longer file", items + "\n", defects, "verify answers.txt", 1, "",
         "items.txt:7: first difference at byte 156\n"},
        {"both files differ", digit, defects + "x", "verify answers.txt", 1, "",
         "items.txt:2: first difference at byte 52\n"
         "defects.txt:10: first difference at byte 175\n"},
        {"no defects file", items, "-", "verify answers.txt", 2, "",
         "defects.txt: cannot be opened: No such file or directory\n"},
        {"other names", "-", "-", "verify answers.txt --items copy-i.txt --defects copy-d.txt", 0,
         "identical: copy-i.txt and copy-d.txt are exactly what defectgen writes for these "
         "answers\n",
         ""},
        {"one file for both", "-", "-",
         "verify answers.txt --items copy-i.txt --defects copy-i.txt", 2, "",
         "the items file copy-i.txt and the defects file copy-i.txt are one file; defectgen "
         "writes them as two\n"},
        {"one file by two names", "-", "-",
         "verify answers.txt --items copy-i.txt --defects ./copy-i.txt", 2, "",
         "the items file copy-i.txt and the defects file ./copy-i.txt are one file; defectgen "
         "writes them as two\n"},
        {"a FIFO", items, "-", "verify answers.txt --defects fifo", 2, "",
         "fifo: is not a regular file (a FIFO, a device or a socket)\n"},
    };
    write_file(folder + "/copy-i.txt", items);
    write_file(folder + "/copy-d.txt", defects);
    ASSERT_EQ(::mkfifo((folder + "/fifo").c_str(), 0600), 0);
    for (const Case& c : cases) {
        std::remove((folder + "/items.txt").c_str());
        std::remove((folder + "/defects.txt").c_str());
        if (c.items != "-") {
            write_file(folder + "/items.txt", c.items);
        }
        if (c.defects != "-") {
            write_file(folder + "/defects.txt", c.defects);
        }
        const KitRun run = run_kit_in(folder, c.args);
        EXPECT_EQ(run.status, c.status) << c.label;
        EXPECT_EQ(run.out, c.out) << c.label;
        EXPECT_EQ(run.err, c.err) << c.label;
    }
    remove_folder(folder);
}

TEST(Verify, AGenerationFailureAndASetWithoutDefectTypes) {
    const std::string folder = make_folder();
    generate_set(folder, "5 3 100 100 300 0.01 0.15 1 5 4 1 2 i.txt d.txt 31 0");
    KitRun run = run_kit_in(folder, "verify answers.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "identical: i.txt is exactly what defectgen writes for these answers (a "
                       "run that stops at an item it cannot repair, before the defects file)\n");
    EXPECT_EQ(run.err, "");
    write_file(folder + "/d.txt", "");
    run = run_kit_in(folder, "verify answers.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "d.txt: defectgen writes no defects file for these answers, and this one "
                       "exists\n");

    generate_set(folder, "2 3 100 100 5 0.01 0.15 0 1 2 n.txt 3 0");
    run = run_kit_in(folder, "verify answers.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "identical: n.txt is exactly what defectgen writes for these answers\n");
    EXPECT_EQ(run.err, "");
    remove_folder(folder);
}

} // namespace
