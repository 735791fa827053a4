// defectkit stats and export run whole on sets that defectgen wrote or that are written
// here by hand: transcripts and files compared whole.
#include "stats_export_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <set>

namespace {

const char* const readme_answers =
    "1\n2\n100\n100\n5\n0.01\n0.15\n3\n5 4\n10 10\n20 3\n1\n3\nitems.txt\ndefects.txt\n12\n0\n";

// Three instances of four objects 100 x 60, up to five defects each that often overlap.
const char* const three_instances =
    "3 4 100 60 6 0.01 0.2 2 30 20 7 5 0 5 items.txt defects.txt 5 0";

// The hand set of test_stats.cpp as files: an object of 10 x 10, two instances.
const char* const hand_items = "2.000000\t8.000000\t16.000000\n"
                               "5.000000\t5.000000\t25.000000\n"
                               "9.000000\t1.000000\t9.000000\n"
                               "12.000000\t4.000000\t48.000000\n"
                               "\n"
                               "1.000000\t1.000000\t1.000000\n"
                               "10.000000\t10.000000\t100.000000\n"
                               "3.000000\t7.000000\t21.000000\n"
                               "6.000000\t2.000000\t12.000000\n"
                               "\n";
const char* const hand_defects = "instance: 1\n\n"
                                 "0.000000\t0.000000\t4.000000\t4.000000\n"
                                 "2.000000\t2.000000\t6.000000\t6.000000\n"
                                 "\n"
                                 "\n"
                                 "0.000000\t0.000000\t10.000000\t10.000000\n"
                                 "3.000000\t3.000000\t5.000000\t5.000000\n"
                                 "\n"
                                 "\n"
                                 "instance: 2\n\n"
                                 "0.000000\t0.000000\t5.000000\t10.000000\n"
                                 "4.000000\t0.000000\t6.000000\t10.000000\n"
                                 "\n"
                                 "\n"
                                 "2.000000\t2.000000\t3.000000\t3.000000\n"
                                 "\n"
                                 "\n";

// "%f" of a whole number, as the files hold it.
std::string f(std::int64_t value) {
    return std::to_string(value) + ".000000";
}

TEST(StatsCli, TheReadmeExampleAsText) {
    const TempFolder folder("stats_readme");
    generate(folder.path, readme_answers);
    const ProgramRun run = run_in(folder.path, kit("stats answers.txt"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, R"(set                                         answers.txt
object                                      100 x 100 (area 10000)
instances                                   1
item types                                  5
objects                                     2
defects                                     4
item area                                   3424
defect-free area of the objects             19800
items longer or wider than the object       0

                                                   minimum          mean       maximum
item types per instance                                  5      5.000000             5
objects per instance                                     2      2.000000             2
item area / object area                           0.029700      0.068480      0.098000
length share: length / (length + width)           0.154762      0.384752      0.585366
defects per object                                       1      2.000000             3
defect cover: union of defects / object area             -      0.010000      0.010000
item area / defect-free area, per instance        0.172929      0.172929      0.172929

length share histogram (item types)
  [0.0, 0.1)                                0
  [0.1, 0.2)                                1
  [0.2, 0.3)                                1
  [0.3, 0.4)                                0
  [0.4, 0.5)                                1
  [0.5, 0.6)                                2
  [0.6, 0.7)                                0
  [0.7, 0.8)                                0
  [0.8, 0.9)                                0
  [0.9, 1.0]                                0
)");
}

TEST(StatsCli, AHandSetWithOverlapsAsJson) {
    const TempFolder folder("stats_json");
    write_text(folder.path / "items.txt", hand_items);
    write_text(folder.path / "defects.txt", hand_defects);
    const ProgramRun run = run_in(
        folder.path,
        kit("stats --object 10x10 --items items.txt --defects defects.txt --json --per-instance"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, R"({
  "answers": null,
  "items_file": "items.txt",
  "defects_file": "defects.txt",
  "object": {
    "length": 10,
    "width": 10,
    "area": 100
  },
  "set": {
    "instances": 2,
    "item_types_per_instance": {
      "min": 4,
      "mean": 4.0,
      "max": 4
    },
    "objects_per_instance": {
      "min": 3,
      "mean": 3.0,
      "max": 3
    },
    "item_types": 8,
    "objects": 6,
    "defects": 7,
    "item_area": 232,
    "defect_free_area": 411,
    "item_area_share": {
      "min": 0.01,
      "mean": 0.29,
      "max": 1.0
    },
    "length_share": {
      "min": 0.2,
      "mean": 0.55,
      "max": 0.9,
      "histogram": [
        0,
        0,
        1,
        1,
        0,
        3,
        0,
        2,
        0,
        1
      ]
    },
    "items_longer_or_wider": 1,
    "defects_per_object": {
      "min": 0,
      "mean": 1.1666666666666667,
      "max": 2
    },
    "defect_cover": {
      "mean": 0.315,
      "max": 1.0
    },
    "item_area_to_defect_free_area": {
      "min": 0.5606694560669456,
      "mean": 0.5652184489637053,
      "max": 0.5697674418604651
    }
  },
  "per_instance": [
    {
      "instance": 1,
      "item_types": 4,
      "objects": 3,
      "defects": 4,
      "item_area": 98,
      "defect_free_area": 172,
      "item_area_share": {
        "min": 0.09,
        "mean": 0.245,
        "max": 0.48
      },
      "length_share": {
        "min": 0.2,
        "mean": 0.5875,
        "max": 0.9,
        "histogram": [
          0,
          0,
          1,
          0,
          0,
          1,
          0,
          1,
          0,
          1
        ]
      },
      "items_longer_or_wider": 1,
      "defects_per_object": {
        "min": 0,
        "mean": 1.3333333333333333,
        "max": 2
      },
      "defect_cover": {
        "mean": 0.4266666666666667,
        "max": 1.0
      },
      "item_area_to_defect_free_area": 0.5697674418604651
    },
    {
      "instance": 2,
      "item_types": 4,
      "objects": 3,
      "defects": 3,
      "item_area": 134,
      "defect_free_area": 239,
      "item_area_share": {
        "min": 0.01,
        "mean": 0.335,
        "max": 1.0
      },
      "length_share": {
        "min": 0.3,
        "mean": 0.5125,
        "max": 0.75,
        "histogram": [
          0,
          0,
          0,
          1,
          0,
          2,
          0,
          1,
          0,
          0
        ]
      },
      "items_longer_or_wider": 0,
      "defects_per_object": {
        "min": 0,
        "mean": 1.0,
        "max": 2
      },
      "defect_cover": {
        "mean": 0.20333333333333334,
        "max": 0.6
      },
      "item_area_to_defect_free_area": 0.5606694560669456
    }
  ]
}
)");
}

TEST(StatsCli, ADamagedSetIsReportedWithAHint) {
    const TempFolder folder("stats_damaged");
    generate(folder.path, readme_answers);
    const std::string defects = read_text(folder.path / "defects.txt");
    write_text(folder.path / "defects.txt", defects.substr(0, defects.size() - 3));
    for (const char* command :
         {"stats answers.txt", "export answers.txt --format jsonl --out x.jsonl",
          "export answers.txt --format packingsolver --out ps"}) {
        const ProgramRun run = run_in(folder.path, kit(command));
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_EQ(run.out, "") << command;
        EXPECT_EQ(run.err,
                  "defects.txt:7: the file ends inside instance 1; was the run cut short?\n"
                  "defectkit: the set is not as defectgen writes it; defectkit check lists every "
                  "problem\n")
            << command;
    }
    // Nothing that looks like an export is left behind, nor the folder made for one.
    EXPECT_EQ(listing(folder.path), "answers.txt\ndefects.txt\nitems.txt\n");
}

TEST(ExportCli, TheFourCsvFilesOfTheReadmeExample) {
    const TempFolder folder("export_ps");
    generate(folder.path, readme_answers);
    ProgramRun run = run_in(folder.path, kit("export answers.txt --format packingsolver --out ps"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(listing(folder.path / "ps"),
              "instance-1/\ninstance-1/bins.csv\ninstance-1/defects.csv\n"
              "instance-1/items.csv\ninstance-1/parameters.csv\n");
    const fs::path one = folder.path / "ps" / "instance-1";
    EXPECT_EQ(read_text(one / "items.csv"), "WIDTH,HEIGHT,PROFIT,COPIES,ORIENTED\n"
                                            "13,71,923,1,1\n"
                                            "24,34,816,1,1\n"
                                            "35,28,980,1,1\n"
                                            "9,33,297,1,1\n"
                                            "24,17,408,1,1\n");
    EXPECT_EQ(read_text(one / "bins.csv"), "WIDTH,HEIGHT,COPIES\n100,100,1\n100,100,1\n");
    EXPECT_EQ(read_text(one / "defects.csv"), "BIN,X,Y,WIDTH,HEIGHT\n"
                                              "0,58,32,10,10\n"
                                              "1,9,58,5,4\n"
                                              "1,1,23,20,3\n"
                                              "1,16,15,5,4\n");
    EXPECT_EQ(read_text(one / "parameters.csv"), "NAME,VALUE\nobjective,knapsack\n");

    run = run_in(folder.path, kit("export answers.txt --format packingsolver --out ps --force "
                                  "--allow-rotation --objective bin-packing"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_text(one / "items.csv"), "WIDTH,HEIGHT,PROFIT,COPIES,ORIENTED\n"
                                            "13,71,923,1,0\n"
                                            "24,34,816,1,0\n"
                                            "35,28,980,1,0\n"
                                            "9,33,297,1,0\n"
                                            "24,17,408,1,0\n");
    EXPECT_EQ(read_text(one / "parameters.csv"), "NAME,VALUE\nobjective,bin-packing\n");
}

TEST(ExportCli, FoldersSortAndOneInstanceAlone) {
    const TempFolder folder("export_folders");
    generate(folder.path, three_instances);
    ProgramRun run =
        run_in(folder.path, kit("export answers.txt --format packingsolver --out all"));
    ASSERT_EQ(run.status, 0) << run.err;
    run = run_in(folder.path,
                 kit("export answers.txt --format packingsolver --out two --instance 2"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(listing(folder.path / "two"),
              "instance-2/\ninstance-2/bins.csv\ninstance-2/defects.csv\n"
              "instance-2/items.csv\ninstance-2/parameters.csv\n");
    for (const char* name : {"items.csv", "bins.csv", "defects.csv", "parameters.csv"}) {
        EXPECT_EQ(read_text(folder.path / "two" / "instance-2" / name),
                  read_text(folder.path / "all" / "instance-2" / name))
            << name;
    }
    // Without answers the number of instances comes from the items file.
    run = run_in(folder.path, kit("export --object 100x60 --items items.txt --defects defects.txt "
                                  "--format packingsolver --out bare"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(listing(folder.path / "bare"), listing(folder.path / "all"));
}

// The JSON Lines export read back into the two files' text must give them byte for byte.
TEST(ExportCli, JsonLinesReadBackGiveTheFiles) {
    const TempFolder folder("export_jsonl");
    generate(folder.path, three_instances);
    ProgramRun run = run_in(folder.path, kit("export answers.txt --format jsonl --out set.jsonl"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    expect_valid_jsonl(folder.path / "set.jsonl");

    std::string items;
    std::string defects;
    std::int64_t number = 0;
    std::FILE* in = std::fopen((folder.path / "set.jsonl").c_str(), "r");
    ASSERT_NE(in, nullptr);
    char* line = nullptr;
    std::size_t capacity = 0;
    std::vector<std::string> lines;
    while (::getline(&line, &capacity, in) > 0) {
        lines.emplace_back(line);
        const nlohmann::json j = nlohmann::json::parse(line);
        ++number;
        EXPECT_EQ(j["instance"], number);
        EXPECT_EQ(j["object"], nlohmann::json::parse(R"({"length":100,"width":60})"));
        EXPECT_EQ(j["parameters"],
                  nlohmann::json::parse(
                      R"({"instances":3,"objects":4,"object":{"length":100,"width":60},)"
                      R"("items":6,"min_relative_size":0.01,"max_relative_size":0.2,)"
                      R"("min_area":60,"max_area":1200,"defect_types":[{"length":30,)"
                      R"("width":20},{"length":7,"width":5}],"min_defects":0,"max_defects":5,)"
                      R"("items_file":"items.txt","defects_file":"defects.txt","seed":5})"));
        for (const auto& item : j["items"]) {
            items += f(item["length"]) + "\t" + f(item["width"]) + "\t" + f(item["area"]) + "\n";
        }
        items += "\n";
        defects += "instance: " + std::to_string(number) + "\n\n";
        for (const auto& object : j["objects"]) {
            for (const auto& d : object["defects"]) {
                const std::int64_t x = d["x"], y = d["y"], l = d["length"], w = d["width"];
                defects += f(x) + "\t" + f(y) + "\t" + f(x + l) + "\t" + f(y + w) + "\n";
            }
            defects += "\n";
        }
        defects += "\n";
    }
    std::free(line);
    std::fclose(in);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(items, read_text(folder.path / "items.txt"));
    EXPECT_EQ(defects, read_text(folder.path / "defects.txt"));
    ASSERT_EQ(lines.size(), 3U);

    // One instance alone is that line; without answers the line has no parameters.
    run =
        run_in(folder.path, kit("export answers.txt --format jsonl --out two.jsonl --instance 2"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_text(folder.path / "two.jsonl"), lines[1]);
    run = run_in(folder.path, kit("export --object 100x60 --items items.txt --defects defects.txt "
                                  "--format jsonl --out bare.jsonl"));
    ASSERT_EQ(run.status, 0) << run.err;
    std::string expected;
    for (const std::string& l : lines) {
        const std::size_t from = l.find(",\"parameters\":");
        const std::size_t to = l.find(",\"items\":[");
        expected += l.substr(0, from) + l.substr(to);
    }
    EXPECT_EQ(read_text(folder.path / "bare.jsonl"), expected);
    expect_valid_jsonl(folder.path / "bare.jsonl");
}

TEST(ExportCli, RefusalsAndForce) {
    const TempFolder folder("export_targets");
    generate(folder.path, readme_answers);
    write_text(folder.path / "old.jsonl", "old\n");
    fs::create_directories(folder.path / "full");
    write_text(folder.path / "full" / "note.txt", "keep\n");
    const std::string items = read_text(folder.path / "items.txt");
    struct Case {
        const char* args;
        int status;
        const char* err;
    };
    const Case cases[] = {
        {"--format jsonl --out items.txt", 2,
         "defectkit: items.txt is a file this command reads; not writing over it\n"},
        {"--format jsonl --out items.txt --force", 2,
         "defectkit: items.txt is a file this command reads; not writing over it\n"},
        {"--format jsonl --out ./answers.txt --force", 2,
         "defectkit: ./answers.txt is a file this command reads; not writing over it\n"},
        {"--format jsonl --out old.jsonl", 2,
         "defectkit: old.jsonl is not empty; use --force to write over it\n"},
        {"--format jsonl --out full", 2,
         "defectkit: full is a folder; --format jsonl writes one file\n"},
        {"--format packingsolver --out full", 2,
         "defectkit: full is not empty; use --force to write into it\n"},
        {"--format packingsolver --out old.jsonl --force", 2,
         "defectkit: old.jsonl is not a folder; --format packingsolver writes a folder per "
         "instance\n"},
        {"--format jsonl --out missing/x.jsonl", 2,
         "defectkit: cannot write missing/x.jsonl: No such file or directory\n"},
        {"--format jsonl --out x.jsonl --instance 2", 2,
         "defectkit: there is no instance 2: the set has 1 instance\n"},
        {"--format jsonl --out /dev/null", 0, ""},
        {"--format jsonl --out old.jsonl --force", 0, ""},
        {"--format packingsolver --out full --force", 0, ""},
        {"--format packingsolver --out new/deeper", 0, ""},
    };
    for (const Case& c : cases) {
        const std::string before = read_text(folder.path / "old.jsonl");
        const ProgramRun run =
            run_in(folder.path, kit(std::string("export answers.txt ") + c.args));
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_EQ(run.err, c.err) << c.args;
        EXPECT_EQ(run.out, "") << c.args;
        if (c.status != 0) { // a refusal writes nothing anywhere
            EXPECT_EQ(read_text(folder.path / "old.jsonl"), before) << c.args;
            EXPECT_EQ(read_text(folder.path / "items.txt"), items) << c.args;
        }
    }
    // Without answers the missing instance is known only at the end of the files: the
    // folder made for it goes again.
    const ProgramRun missing =
        run_in(folder.path, kit("export --object 100x100 --items items.txt --defects defects.txt "
                                "--format packingsolver --out none --instance 2"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "defectkit: the set has no instance 2\n");
    EXPECT_FALSE(fs::exists(folder.path / "none"));
    EXPECT_EQ(read_text(folder.path / "items.txt"), items);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(listing(folder.path),
              "answers.txt\ndefects.txt\nfull/\nfull/instance-1/\nfull/instance-1/bins.csv\n"
              "full/instance-1/defects.csv\nfull/instance-1/items.csv\n"
              "full/instance-1/parameters.csv\nfull/note.txt\nitems.txt\nnew/\nnew/deeper/\n"
              "new/deeper/instance-1/\nnew/deeper/instance-1/bins.csv\n"
              "new/deeper/instance-1/defects.csv\nnew/deeper/instance-1/items.csv\n"
              "new/deeper/instance-1/parameters.csv\nold.jsonl\n");
    EXPECT_EQ(read_text(folder.path / "full" / "note.txt"), "keep\n");
}

// A full device, and a file system that refuses bytes past a size (a file-size limit with
// SIGXFSZ ignored gives EFBIG, as a full disk gives ENOSPC): reported, exit 2, and the cut
// regular files removed.
TEST(ExportCli, WriteFailures) {
    // Two instances of 60 objects with 5 to 8 defects each: every defects.csv and the JSON
    // Lines file exceed the limit below (2 KB in dash's blocks of 512 bytes, 4 KB in bash's
    // of 1024), the other CSV files do not.
    const TempFolder folder("export_failures");
    generate(folder.path, "2 60 100 60 6 0.01 0.2 2 30 20 7 5 5 8 items.txt defects.txt 5 0");
    ProgramRun run = run_in(folder.path, kit("export answers.txt --format jsonl --out /dev/full"));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "defectkit: cannot write /dev/full: No space left on device\n");
    EXPECT_TRUE(fs::is_character_file("/dev/full"));

    // No trap for SIGXFSZ: defectkit ignores it itself.
    const std::string limited = "ulimit -f 4; exec ";
    run = run_in(folder.path, limited + kit("export answers.txt --format jsonl --out set.jsonl"));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "defectkit: cannot write set.jsonl: File too large\n");
    EXPECT_FALSE(fs::exists(folder.path / "set.jsonl"));

    // The instance's four files go, and the folder this run made for them.
    run = run_in(folder.path, limited + kit("export answers.txt --format packingsolver --out ps"));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "defectkit: cannot write ps/instance-1/defects.csv: File too large\n");
    EXPECT_EQ(listing(folder.path), "answers.txt\ndefects.txt\nitems.txt\n");
}

} // namespace
