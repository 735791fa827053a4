// The set reader as its consumers use it: instance by instance, object by object.
#include "set_fixture.h"

#include "read/set_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace {

// Everything the reader hands out, one line per item, object and defect; then the problem.
std::string read_all(const KitSet& set) {
    SetReader reader;
    if (!open_set_reader(reader, set)) {
        return "cannot open\n";
    }
    std::string t;
    Progress progress;
    read_set(reader, 0, progress, [&](const ObjectBatch& batch) {
        if (batch.starts_instance) {
            t += "instance " + std::to_string(batch.head.number) + "\n";
            for (const Item& item : batch.head.items) {
                t += " item " + std::to_string(item.length) + "x" + std::to_string(item.width) +
                     " " + std::to_string(item.area) + " @" + std::to_string(item.line) + "\n";
            }
        }
        const Defect* d = batch.defects.data();
        for (const std::uint32_t size : batch.sizes) {
            t += " object\n";
            for (const Defect* last = d + size; d != last; ++d) {
                t += "  defect " + std::to_string(d->x1) + "," + std::to_string(d->y1) + " " +
                     std::to_string(d->x2) + "," + std::to_string(d->y2) + " @" +
                     std::to_string(d->line) + "\n";
            }
        }
        return true;
    });
    t += "problem: " + (reader.failed ? problem_text(reader.problem) : "") + "\n";
    close_set_reader(reader);
    return t;
}

struct Folder {
    std::string path = make_folder();
    std::string previous;
    Folder() {
        char here[4096];
        previous = ::getcwd(here, sizeof here) != nullptr ? here : ".";
        if (::chdir(path.c_str()) != 0) {
            ADD_FAILURE() << "cannot enter " << path;
        }
    }
    ~Folder() {
        if (::chdir(previous.c_str()) != 0) {
            ADD_FAILURE() << "cannot go back to " << previous;
        }
        remove_folder(path);
    }
};

const std::string example_items = "instance 1\n"
                                  " item 13x71 923 @1\n"
                                  " item 24x34 816 @2\n"
                                  " item 35x28 980 @3\n"
                                  " item 9x33 297 @4\n"
                                  " item 24x17 408 @5\n";

TEST(SetReader, ReadsTheExampleByItsAnswersAndByTheObject) {
    Folder folder;
    generate_set(folder.path, example_answers);
    SetOptions options;
    options.answers = "answers.txt";
    KitSet set;
    ASSERT_TRUE(open_set(options, set));
    const std::string whole = example_items + " object\n"
                                              "  defect 58,32 68,42 @3\n"
                                              " object\n"
                                              "  defect 9,58 14,62 @5\n"
                                              "  defect 1,23 21,26 @6\n"
                                              "  defect 16,15 21,19 @7\n"
                                              "problem: \n";
    EXPECT_EQ(read_all(set), whole);

    // By the object: the objects per instance come from the defects file.
    SetOptions by_object;
    by_object.object = "100x100";
    by_object.items = "items.txt";
    by_object.defects = "defects.txt";
    ASSERT_TRUE(open_set(by_object, set));
    EXPECT_EQ(read_all(set), whole);

    // Without a defects file, --objects tells how many objects without defects there are.
    by_object.defects.clear();
    by_object.objects = 2;
    ASSERT_TRUE(open_set(by_object, set));
    EXPECT_EQ(read_all(set), example_items + " object\n object\nproblem: \n");
}

// Every batch the reader hands out, whole, then the problem; `stop_after` batches taken
// before the taker stops (0: never).
std::string read_batches(const KitSet& set, std::int32_t only = 0, int stop_after = 0) {
    SetReader reader;
    if (!open_set_reader(reader, set)) {
        return "cannot open\n";
    }
    std::string t;
    int taken = 0;
    Progress progress;
    read_set(reader, only, progress, [&](const ObjectBatch& batch) {
        t += "batch";
        if (batch.starts_instance) {
            t += " instance " + std::to_string(batch.head.number) + " of " +
                 std::to_string(batch.head.items.size()) + " items, first " +
                 std::to_string(batch.head.items.front().length);
        }
        t += batch.ends_instance ? " to its end:" : ":";
        const Defect* d = batch.defects.data();
        for (const std::uint32_t size : batch.sizes) {
            t += " [";
            for (const Defect* last = d + size; d != last; ++d) {
                t += std::to_string(d->x1) + "," + std::to_string(d->y2) + "@" +
                     std::to_string(d->line) + " ";
            }
            t += "]";
        }
        t += "\n";
        return ++taken != stop_after;
    });
    t += "problem: " + (reader.failed ? problem_text(reader.problem) : "") + "\n";
    close_set_reader(reader);
    return t;
}

// Replaces the n-th (from 1) occurrence of `what` in the file; without `by`, ends the file
// after the first `keep` bytes of it.
void replace_nth(const std::string& path, const std::string& what, int n, const char* by,
                 std::size_t keep = 0) {
    std::string bytes = read_whole_file(path);
    std::size_t at = std::string::npos;
    for (int k = 0; k < n; ++k) {
        at = bytes.find(what, at == std::string::npos ? 0 : at + 1);
        ASSERT_NE(at, std::string::npos) << what << " #" << n << " in " << path;
    }
    if (by != nullptr) {
        bytes.replace(at, what.size(), by);
    } else {
        bytes.resize(at + keep);
    }
    write_file(path, bytes);
}

// The reader meets the first problem of the files, wherever they go wrong, and stops at
// an instance asked for or when the taker stops.
TEST(SetReader, MeetsTheFirstProblemWhereverTheFilesGoWrong) {
    Folder folder;
    const std::string answers = "3 4 50 40 2 0.05 0.3 2 5 4 10 10 0 3 i.txt d.txt 7 0";
    struct Case {
        const char* name;
        const char* file; // the file changed, or nullptr
        const char* what;
        int n;
        const char* by; // nullptr: the file ends after `what`'s first two bytes
        bool by_object; // named by --object, without answers
        std::int32_t only;
        int stop_after;
        const char* problem;
    };
    const Case cases[] = {
        {"whole", nullptr, "", 0, "", false, 0, 0, ""},
        {"only instance 2", nullptr, "", 0, "", false, 2, 0, ""},
        {"only an instance beyond", nullptr, "", 0, "", false, 5, 0, ""},
        {"taker stops", nullptr, "", 0, "", false, 0, 2, ""},
        {"by the object", nullptr, "", 0, "", true, 0, 0, ""},
        {"a damaged item line in block 2", "i.txt", "\n\n", 1, "\n\n1", false, 0, 0,
         "i.txt:4: the area 368 is not length x width (116 x 23 = 2668)"},
        {"a header naming another instance", "d.txt", "instance: 2", 1, "instance: 5", false, 0, 0,
         "d.txt:13: the header names instance 5 where instance 2 is due"},
        {"a damaged defect line", "d.txt", "instance: 2\n\n", 1, "instance: 2\n\nx\n", false, 0, 0,
         "d.txt:15: not a defect line: field 1 is not a number"},
        {"an empty line missing", "d.txt", "\n\ninstance: 2", 1, "\ninstance: 2", false, 0, 0,
         "d.txt:12: instance 1 lacks its closing empty line"},
        {"an object too many", "d.txt", "\ninstance: 2", 1, "\n\ninstance: 2", false, 0, 0,
         "d.txt:12: a block too many: instance 1 has more than 4 objects"},
        {"an items file short of a block", "i.txt", "\n\n", 2, nullptr, true, 0, 0,
         "d.txt:25: instance 3 has no block in i.txt, which holds 2 instances"},
        {"a defects file short of an instance", "d.txt", "\n\ninstance: 3", 1, nullptr, true, 0, 0,
         "d.txt:25: the file ends after 2 instances, where i.txt holds more"},
        {"a cut defects file", "d.txt", "\n\ninstance: 3", 1, nullptr, false, 0, 0,
         "d.txt:25: the file ends after instance 2 of 3; was the run cut short?"},
    };
    for (const Case& c : cases) {
        generate_set(folder.path, answers);
        if (c.file != nullptr) {
            replace_nth(c.file, c.what, c.n, c.by, 2);
        }
        SetOptions options;
        if (c.by_object) {
            options.object = "50x40";
            options.items = "i.txt";
            options.defects = "d.txt";
        } else {
            options.answers = "answers.txt";
        }
        KitSet set;
        ASSERT_TRUE(open_set(options, set)) << c.name;
        const std::string in_turn = read_batches(set, c.only, c.stop_after);
        const std::size_t at = in_turn.rfind("problem: ");
        EXPECT_EQ(in_turn.substr(at + 9), std::string(c.problem) + "\n") << c.name;
    }
}

// Instances of more objects and defects than a batch holds are split into batches.
TEST(SetReader, SplitsLargeInstancesIntoTheSameBatches) {
    Folder folder;
    generate_set(folder.path, "2 20000 100 100 3 0.05 0.3 1 5 4 0 10 i.txt d.txt 7 0");
    SetOptions options;
    options.answers = "answers.txt";
    KitSet set;
    ASSERT_TRUE(open_set(options, set));
    const std::string in_turn = read_batches(set);
    std::string heads;
    for (std::size_t at = 0; at < in_turn.size(); at = in_turn.find('\n', at) + 1) {
        heads += in_turn.substr(at, in_turn.find_first_of(":\n", at) - at) + "\n";
    }
    EXPECT_EQ(heads, "batch instance 1 of 3 items, first 42\nbatch to its end\n"
                     "batch instance 2 of 3 items, first 68\nbatch to its end\nproblem\n");
}

} // namespace
