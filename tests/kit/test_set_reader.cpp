// The set reader as its consumers use it: instance by instance, object by object.
#include "set_fixture.h"

#include "read/set_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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
        {"the taker stops before it", "d.txt", "instance: 2\n\n", 1, "instance: 2\n\nx\n", false, 0,
         1, ""},
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

// check's reading of the defects file, everything it tells: every problem kept, the counts.
// A `tail_buffer` (the second part's read buffer) of more memory than can be had makes the
// second part fail to start.
std::string check_reading(const KitSet& set, std::uint64_t split_bytes,
                          std::size_t tail_buffer = 4096) {
    SetReader reader;
    reader.split_bytes = split_bytes;
    reader.buffer = 4096;
    if (!open_set_reader(reader, set, true)) {
        return "cannot open\n";
    }
    reader.buffer = tail_buffer;
    Progress progress;
    read_set(reader, 0, progress, [](const ObjectBatch&) { return true; });
    const DefectsScan& d = reader.defects;
    std::string t = std::to_string(d.problems.count) + " problems\n";
    for (const Problem& problem : d.problems.kept) {
        t += problem_text(problem) + "\n";
    }
    t += std::to_string(d.instances) + " instances, " + std::to_string(d.objects) + " objects, " +
         std::to_string(d.defects) + " defects, end " + std::to_string(d.end_line) +
         (d.all_at_origin ? ", all at (0, 0)" : "") + ", error " + std::to_string(d.source.error) +
         "\n";
    close_set_reader(reader);
    return t;
}

// check reads a large defects file in two parts at once, cut at a header near its middle
// (here every file is large): whatever the damage, about the cut or on either side of it,
// and when the second part's memory cannot be had, it tells exactly what one reading in turn
// tells.
TEST(SetReader, CheckReadingInTwoPartsTellsWhatReadingInTurnTells) {
    Folder folder;
    // 8 instances of 3 objects: the cut falls at the header of instance 6.
    const std::string answers = "8 3 100 100 30 0.05 0.3 3 5 4 10 10 20 3 0 8 i.txt d.txt 7 0";
    const auto header = [](int k) { return "\n\ninstance: " + std::to_string(k) + "\n"; };
    const auto replaced = [](const std::string& what, const std::string& by) {
        return [=](std::string t) { return t.replace(t.find(what), what.size(), by); };
    };
    const auto cut_at = [](const std::string& what, std::size_t keep) {
        return [=](std::string t) { return t.substr(0, t.find(what) + keep); };
    };
    const auto with_crlf = [](const std::string& t) {
        std::string out;
        for (const char c : t) {
            out += c == '\n' ? "\r\n" : std::string(1, c);
        }
        return out;
    };
    const std::vector<std::pair<const char*, std::function<std::string(std::string)>>> cases = {
        {"whole", [](std::string t) { return t; }},
        {"a damaged defect line before the cut", replaced(header(2) + "\n", header(2) + "\nx")},
        {"a damaged defect line after the cut", replaced(header(7) + "\n", header(7) + "\nx")},
        {"no closing empty line at the cut", replaced(header(6), "\ninstance: 6\n")},
        {"an empty object before the cut", replaced(header(6), "\n" + header(6))},
        {"the header at the cut renumbered", replaced(header(6), header(9))},
        {"the header at the cut with a leading zero", replaced(header(6), "\n\ninstance: 06\n")},
        {"an instance's header missing before the cut", replaced(header(5), "\n\n\n")},
        {"an object too many after the cut", replaced(header(7), "\n" + header(7))},
        {"a CRLF after the cut", replaced(header(7), "\n\ninstance: 7\r\n")},
        {"the file cut after the cut", cut_at(header(7), 5)},
        {"the file cut just after the header at the cut", cut_at(header(6), header(6).size())},
        {"an instance too many", [](std::string t) { return t + "instance: 9\n\n\n"; }},
        {"more problems than are kept, in both parts",
         [&](const std::string& t) {
             return replaced("\r\n\r\ninstance: 6\r\n", header(6))(with_crlf(t));
         }},
        {"every defect at (0, 0) after the cut, but not before",
         [&](std::string t) {
             std::string out = t.substr(0, t.find(header(6)) + header(6).size());
             for (std::size_t at = out.size(); at < t.size(); at = t.find('\n', at) + 1) {
                 out += t[at] == '\n' ? "\n" : "0.000000\t0.000000\t10.000000\t10.000000\n";
             }
             return out;
         }},
    };
    for (const auto& [name, damage] : cases) {
        generate_set(folder.path, answers);
        write_file("d.txt", damage(read_whole_file("d.txt")));
        SetOptions options;
        options.answers = "answers.txt";
        KitSet set;
        ASSERT_TRUE(open_set(options, set)) << name;
        const std::string in_turn = check_reading(set, UINT64_MAX);
        EXPECT_EQ(check_reading(set, 1), in_turn) << name;
        if (!address_sanitizer) { // which would call the allocation a fault of its own
            EXPECT_EQ(check_reading(set, 1, std::size_t{1} << 39), in_turn) << name;
        }
    }
}
} // namespace
