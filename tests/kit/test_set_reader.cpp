// The set reader as its consumers use it: instance by instance, object by object.
#include "set_fixture.h"

#include "set_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace {

// Everything the reader hands out, one line per item, object and defect; then the problem.
std::string read_all(const KitSet& set, bool skip_objects = false) {
    SetReader reader;
    if (!open_set_reader(reader, set)) {
        return "cannot open\n";
    }
    std::string t;
    InstanceHead head;
    std::vector<Defect> defects;
    while (next_instance(reader, head)) {
        t += "instance " + std::to_string(head.number) + "\n";
        for (const Item& item : head.items) {
            t += " item " + std::to_string(item.length) + "x" + std::to_string(item.width) + " " +
                 std::to_string(item.area) + " @" + std::to_string(item.line) + "\n";
        }
        while (!skip_objects && next_object(reader, defects)) {
            t += " object\n";
            for (const Defect& d : defects) {
                t += "  defect " + std::to_string(d.x1) + "," + std::to_string(d.y1) + " " +
                     std::to_string(d.x2) + "," + std::to_string(d.y2) + " @" +
                     std::to_string(d.line) + "\n";
            }
        }
    }
    t += "problem: " + reader.problem + "\n";
    t += "bytes " + std::to_string(reader.bytes_done) + " of " +
         std::to_string(reader.bytes_total) + "\n";
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
                                              "problem: \n"
                                              "bytes 329 of 329\n";
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
    EXPECT_EQ(read_all(set), example_items + " object\n object\nproblem: \nbytes 155 of 155\n");
}

TEST(SetReader, SkipsObjectsNotAskedForAndStopsAtTheFirstProblem) {
    Folder folder;
    generate_set(folder.path, "3 4 50 40 2 0.05 0.3 2 5 4 10 10 0 3 i.txt d.txt 7 0");
    SetOptions options;
    options.answers = "answers.txt";
    KitSet set;
    ASSERT_TRUE(open_set(options, set));
    // Instances read without their objects are the instances read with them.
    std::string whole = read_all(set);
    std::string heads;
    for (std::size_t at = 0; at < whole.size();) {
        const std::size_t end = whole.find('\n', at) + 1;
        const std::string line = whole.substr(at, end - at);
        if (line.rfind(" object", 0) != 0 && line.rfind("  defect", 0) != 0 &&
            line.rfind("bytes", 0) != 0) {
            heads += line;
        }
        at = end;
    }
    const std::string skipped = read_all(set, true);
    EXPECT_EQ(skipped.substr(0, skipped.find("bytes")), heads);
    EXPECT_EQ(std::count(heads.begin(), heads.end(), '\n'), 3 + 3 * 2 + 1);

    generate_set(folder.path, example_answers);
    std::string items = read_whole_file("items.txt");
    items.replace(items.find("816"), 3, "817");
    write_file("items.txt", items);
    options.answers = "answers.txt";
    ASSERT_TRUE(open_set(options, set));
    EXPECT_EQ(read_all(set), "problem: items.txt:2: the area 817 is not length x width (24 x 34 "
                             "= 816)\nbytes 62 of 329\n");
}

} // namespace
