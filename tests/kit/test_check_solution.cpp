// check-solution and draw run whole on the README's example: a feasible placement, then
// the same placement with one row changed for each kind of violation; the pictures of the
// instance and of placements compared whole with committed files, and rendered.
#include "set_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The placement shown in the README (docs/example-placement.csv), line by line; items
// touch one another, the objects' edges and the defects, and overlap nothing.
const std::vector<std::string> feasible = {
    "TYPE,ID,COPIES,BIN,X,Y,LX,LY", // 1
    "BIN,0,1,0,0,0,100,100",        // 2
    "ITEM,0,1,0,0,0,13,71",         // 3: 13 x 71
    "ITEM,1,1,0,13,0,24,34",        // 4: 24 x 34
    "ITEM,2,1,0,13,34,35,28",       // 5: 35 x 28
    "DEFECT,0,1,0,58,32,10,10",     // 6
    "BIN,1,1,1,0,0,100,100",        // 7
    "ITEM,3,1,1,24,0,9,33",         // 8: 9 x 33
    "ITEM,4,1,1,0,26,24,17",        // 9: 24 x 17, on top of defect 1
    "DEFECT,0,1,1,9,58,5,4",        // 10
    "DEFECT,1,1,1,1,23,20,3",       // 11
    "DEFECT,2,1,1,16,15,5,4",       // 12
};

std::string join(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += line + "\n";
    }
    return out;
}

const std::string summary =
    "feasible: 5 of 5 items placed, on 2 of 2 objects\n"
    "placed area 3424: 100.00% of the item area (3424), 17.29% of the defect-free area of the "
    "objects (19800)\n";

std::string not_feasible(int problems) {
    return "placement.csv: " + std::to_string(problems) +
           (problems == 1 ? " problem" : " problems") +
           ": the placement of instance 1 is not feasible\n";
}

class ExampleSet : public ::testing::Test {
protected:
    std::string folder;
    void SetUp() override {
        folder = make_folder();
        generate_set(folder, example_answers);
    }
    void TearDown() override { remove_folder(folder); }
};

TEST_F(ExampleSet, FeasibleAndEveryKindOfViolation) {
    struct Case {
        const char* what;
        std::size_t line; // the line replaced (from 1), or past the end: appended
        std::string row;
        std::string options;
        int status;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"as it is", 2, feasible[1], "", 0, summary, ""},
        {"touching the object's right edge and a defect's lower edge", 5, "ITEM,2,1,0,65,4,35,28",
         "", 0, summary, ""},
        {"outside", 5, "ITEM,2,1,0,66,4,35,28", "", 1, "",
         "placement.csv:5: item 2 lies outside object 0: it covers x 66 to 101, y 4 to 32 of 100 "
         "x 100\n" +
             not_feasible(1)},
        {"two items overlapping", 5, "ITEM,2,1,0,12,34,35,28", "", 1, "",
         "placement.csv:5: item 2 overlaps item 0 (line 3) on object 0\n" + not_feasible(1)},
        {"an item on a defect", 5, "ITEM,2,1,0,40,20,35,28", "", 1, "",
         "placement.csv:5: item 2 overlaps defect 0 of object 0 (x 58 to 68, y 32 to 42, line 3 "
         "of defects.txt)\n" +
             not_feasible(1)},
        {"an item placed twice", 9, "ITEM,2,1,1,50,50,35,28", "", 1, "",
         "placement.csv:9: item 2 is placed a second time (first at line 5); each item exists "
         "once\n" +
             not_feasible(1)},
        {"more ITEM rows than items", 13, "ITEM,4,1,1,70,70,24,17", "", 1, "",
         "placement.csv:13: more ITEM rows than the instance has items (5): each item is placed "
         "once at most\n" +
             not_feasible(1)},
        {"an item that does not exist", 9, "ITEM,5,1,1,0,26,24,17", "", 1, "",
         "placement.csv:9: item 5 does not exist (the instance has 5 items, 0 to 4)\n" +
             not_feasible(1)},
        {"a foreign size", 8, "ITEM,3,1,1,24,0,9,34", "", 1, "",
         "placement.csv:8: item 3: placed as 9 x 34, but it is 9 x 33\n" + not_feasible(1)},
        {"turned without --allow-rotation", 8, "ITEM,3,1,1,24,0,33,9", "", 1, "",
         "placement.csv:8: item 3: placed as 33 x 9, turned by 90 degrees; rotation is not "
         "allowed (--allow-rotation allows it)\n" +
             not_feasible(1)},
        {"turned with --allow-rotation", 8, "ITEM,3,1,1,24,0,33,9", "--allow-rotation", 0, summary,
         ""},
        {"a missing bin", 9, "ITEM,4,1,5,0,26,24,17", "", 1, "",
         "placement.csv:9: item 4: bin 5 has no BIN row\n" + not_feasible(1)},
        {"an object used twice", 7, "BIN,0,1,1,0,0,100,100", "", 1, "",
         "placement.csv:7: bin 1: object 0 is used a second time (first by bin 0 at line 2); "
         "each object exists once\n" +
             not_feasible(1)},
        {"an object that does not exist", 7, "BIN,2,1,1,0,0,100,100", "", 1, "",
         "placement.csv:7: bin 1: object 2 does not exist (the instance has 2 objects, 0 to 1)\n" +
             not_feasible(1)},
        {"a bin packed twice, of another size", 2, "BIN,0,2,0,0,0,100,90", "", 1, "",
         "placement.csv:2: bin 0: COPIES 2; each object exists once, so COPIES must be 1\n"
         "placement.csv:2: bin 0: size 100 x 90; the objects are 100 x 100\n" +
             not_feasible(2)},
        {"an echoed defect that differs", 11, "DEFECT,1,1,1,1,23,20,4", "", 1, "",
         "placement.csv:11: DEFECT 1 of object 1: at 1,23 size 20 x 4, but the defect is at 1,23 "
         "size 20 x 3\n" +
             not_feasible(1)},
        {"an echoed defect that does not exist", 11, "DEFECT,3,1,1,1,23,20,3", "", 1, "",
         "placement.csv:11: DEFECT 3 of object 1: no such defect (the object has 3)\n" +
             not_feasible(1)},
        {"a malformed row", 4, "ITEM,1,1,0,13,0,24", "", 1, "",
         "placement.csv:4: expected 8 comma-separated fields, as the header\n" + not_feasible(1)},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = feasible;
        if (c.line > lines.size()) {
            lines.push_back(c.row);
        } else {
            lines[c.line - 1] = c.row;
        }
        write_file(folder + "/placement.csv", join(lines));
        const KitRun run = run_kit_in(folder, "check-solution answers.txt --instance 1 "
                                              "--solution placement.csv " +
                                                  c.options);
        EXPECT_EQ(run.status, c.status) << c.what;
        EXPECT_EQ(run.out, c.out) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
    }
}

TEST_F(ExampleSet, RefusalsAndProblemsOfTheSet) {
    write_file(folder + "/placement.csv", join(feasible));
    KitRun run = run_kit_in(folder, "check-solution answers.txt --instance 2 --solution "
                                    "placement.csv");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "defectkit: there is no instance 2: the set has 1 instance\n");
    run = run_kit_in(folder, "check-solution answers.txt --instance 1 --solution missing.csv");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "missing.csv: cannot open the placement: No such file or directory\n");
    // Without answers and defects file the instance has no objects unless --objects tells.
    run = run_kit_in(folder, "check-solution --object 100x100 --items items.txt --instance 1 "
                             "--solution placement.csv");
    EXPECT_EQ(run.status, 1);
    const std::string none = "does not exist (the instance has no objects; without a defects "
                             "file, --objects gives their number)\n";
    EXPECT_EQ(run.err, "placement.csv:2: bin 0: object 0 " + none +
                           "placement.csv:7: bin 1: object 1 " + none + not_feasible(2));
    // A defects file cut inside the instance: the set's problem, and where to look.
    const std::string defects = read_whole_file(folder + "/defects.txt");
    write_file(folder + "/defects.txt", defects.substr(0, defects.size() - 3));
    run = run_kit_in(folder, "check-solution answers.txt --instance 1 --solution placement.csv");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(
        run.err.substr(run.err.find('\n') + 1),
        "defectkit: the set is not as defectgen writes it; defectkit check lists every problem\n");
}

// The pipeline: a placement written from the export's CSV files (every bin of bins.csv,
// every item of items.csv at the feasible place above, every defect of defects.csv echoed)
// is the feasible placement.
TEST_F(ExampleSet, APlacementWrittenFromTheExportIsAccepted) {
    ASSERT_EQ(run_kit_in(folder, "export answers.txt --format packingsolver --out ps").status, 0);
    const std::string bins = read_whole_file(folder + "/ps/instance-1/bins.csv");
    const std::string items = read_whole_file(folder + "/ps/instance-1/items.csv");
    const std::string defects = read_whole_file(folder + "/ps/instance-1/defects.csv");
    EXPECT_EQ(bins, "WIDTH,HEIGHT,COPIES\n100,100,1\n100,100,1\n");
    const std::vector<std::string> places = {"0,0,0", "0,13,0", "0,13,34", "1,24,0", "1,0,26"};
    std::string placement = "TYPE,ID,COPIES,BIN,X,Y,LX,LY\nBIN,0,1,0,0,0,100,100\n"
                            "BIN,1,1,1,0,0,100,100\n";
    std::size_t at = items.find('\n') + 1;
    for (std::size_t i = 0; i < places.size(); ++i) {
        const std::size_t end = items.find('\n', at);
        const std::string row = items.substr(at, end - at); // WIDTH,HEIGHT,PROFIT,...
        const std::size_t second = row.find(',', row.find(',') + 1);
        const std::size_t comma = places[i].find(',');
        placement += "ITEM," + std::to_string(i) + ",1," + places[i].substr(0, comma) + "," +
                     places[i].substr(comma + 1) + "," + row.substr(0, second) + "\n";
        at = end + 1;
    }
    std::vector<int> next_id(2, 0);
    at = defects.find('\n') + 1;
    while (at < defects.size()) {
        const std::size_t end = defects.find('\n', at);
        const std::string row = defects.substr(at, end - at); // BIN,X,Y,WIDTH,HEIGHT
        const int bin = row[0] - '0';
        placement += "DEFECT," + std::to_string(next_id[bin]++) + ",," + row + "\n";
        at = end + 1;
    }
    write_file(folder + "/exported.csv", placement);
    const KitRun run =
        run_kit_in(folder, "check-solution answers.txt --instance 1 --solution exported.csv");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, summary);
    EXPECT_EQ(run.status, 0);
}

// Renders an SVG file to PNG with rsvg-convert, which parses it as XML first; skipped
// where rsvg-convert (Debian librsvg2-bin) is missing.
bool renders(const std::string& svg, const std::string& png) {
    const std::string command = "rsvg-convert '" + svg + "' -o '" + png + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

TEST_F(ExampleSet, PicturesOfTheInstanceAndOfPlacements) {
    std::vector<std::string> bad = feasible;
    bad[4] = "ITEM,2,1,0,40,20,35,28"; // on a defect
    bad[7] = "ITEM,3,1,1,24,0,33,9";   // turned
    bad[8] = "ITEM,4,1,1,30,5,24,17";  // on item 3
    bad[10] = "DEFECT,1,1,1,1,23,9,3"; // not the defect
    write_file(folder + "/placement.csv", join(feasible));
    write_file(folder + "/bad.csv", join(bad));
    struct Case {
        std::string args;
        std::string picture; // in tests/kit/data
        std::string err;
    };
    const std::vector<Case> cases = {
        {"", "draw-example.svg", ""},
        {"--solution placement.csv", "draw-example-placement.svg", ""},
        {"--solution bad.csv", "draw-example-violations.svg",
         "bad.csv: the placement is not feasible (4 problems, outlined red in the picture); "
         "defectkit check-solution lists them\n"},
    };
    const bool have_rsvg = std::system("command -v rsvg-convert >/dev/null 2>&1") == 0;
    for (const Case& c : cases) {
        const KitRun run =
            run_kit_in(folder, "draw answers.txt --instance 1 --out picture.svg --force " + c.args);
        EXPECT_EQ(run.status, 0) << c.args;
        EXPECT_EQ(run.out, "") << c.args;
        EXPECT_EQ(run.err, c.err) << c.args;
        const std::string svg = read_whole_file(folder + "/picture.svg");
        EXPECT_EQ(svg, read_whole_file(std::string(DEFECTKIT_TEST_DATA) + "/" + c.picture))
            << c.picture;
        if (have_rsvg) {
            EXPECT_TRUE(renders(folder + "/picture.svg", folder + "/picture.png")) << c.picture;
        }
    }
    // The README's pictures are these same files.
    EXPECT_EQ(read_whole_file(std::string(DEFECTKIT_TEST_DATA) + "/draw-example.svg"),
              read_whole_file(std::string(DEFECTKIT_SOURCE_DIR) + "/docs/example.svg"));
    EXPECT_EQ(read_whole_file(std::string(DEFECTKIT_TEST_DATA) + "/draw-example-placement.svg"),
              read_whole_file(std::string(DEFECTKIT_SOURCE_DIR) + "/docs/example-placement.svg"));
    EXPECT_EQ(join(feasible), read_whole_file(std::string(DEFECTKIT_SOURCE_DIR) + "/docs" +
                                              "/example-placement.csv"));
    if (!have_rsvg) {
        GTEST_SKIP() << "rsvg-convert (Debian librsvg2-bin) is missing: pictures not rendered";
    }
}

} // namespace
