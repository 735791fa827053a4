// bound and place run whole: the README's example with its bounds, its baseline placement
// and the picture of it compared with docs/, a set of three instances placed into a folder
// twice with the same bytes, and the refusals.
#include "set_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string docs = std::string(DEFECTKIT_SOURCE_DIR) + "/docs/";

class BoundPlace : public ::testing::Test {
protected:
    std::string folder = make_folder();
    ~BoundPlace() override { remove_folder(folder); }
};

TEST_F(BoundPlace, TheExampleItsBoundsAndItsBaselinePlacement) {
    generate_set(folder, example_answers);
    const std::string table = "instance 1                                  5 items on 2 objects "
                              "of 100 x 100\n"
                              "item area                                   3424\n"
                              "defect-free area                            19800\n"
                              "area of the items that fit somewhere        3424\n"
                              "sum of the objects' capacities              6848\n"
                              "bound                                       3424\n"
                              "bin packing: objects needed, at least       1\n";
    const std::string json =
        "{\n  \"answers\": \"answers.txt\",\n  \"items_file\": \"items.txt\",\n  \"defects_file\": "
        "\"defects.txt\",\n  \"object\": {\n    \"length\": 100,\n    \"width\": 100\n  },\n  "
        "\"allow_rotation\": true,\n  \"instances\": [\n    {\n      \"instance\": 1,\n      "
        "\"items\": 5,\n      \"objects\": 2,\n      \"bounds\": {\n        \"item_area\": 3424,\n "
        "       \"defect_free_area\": 19800,\n        \"fitting_item_area\": 3424,\n        "
        "\"object_capacity\": 6848\n      },\n      \"bound\": 3424,\n      "
        "\"bin_packing_objects\": 1\n    }\n  ]\n}\n";
    struct Case {
        std::string args;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"bound answers.txt", table},
        {"bound answers.txt --instance 1 --json --allow-rotation", json},
        {"place answers.txt --out baseline.csv",
         "baseline.csv: instance 1, 5 of 5 items placed, on 1 of 2 objects, placed area 3424 "
         "(100.00% of the item area)\n"},
        {"check-solution answers.txt --instance 1 --solution baseline.csv",
         "feasible: 5 of 5 items placed, on 1 of 2 objects\nplaced area 3424: 100.00% of the item "
         "area (3424), 17.29% of the defect-free area of the objects (19800)\n"},
        {"draw answers.txt --instance 1 --solution baseline.csv --out baseline.svg", ""},
    };
    for (const Case& c : cases) {
        const KitRun run = run_kit_in(folder, c.args);
        EXPECT_EQ(run.status, 0) << c.args;
        EXPECT_EQ(run.out, c.out) << c.args;
        EXPECT_EQ(run.err, "") << c.args;
    }
    // The README's placement and picture are these.
    EXPECT_EQ(read_whole_file(folder + "/baseline.csv"),
              read_whole_file(docs + "example-baseline.csv"));
    EXPECT_EQ(read_whole_file(folder + "/baseline.svg"),
              read_whole_file(docs + "example-baseline.svg"));
}

TEST_F(BoundPlace, SeveralInstancesIntoAFolderTheSameBytesEachTime) {
    generate_set(folder,
                 "3\n4\n60\n40\n30\n0.01\n0.2\n2\n5 4\n10 2\n0\n6\nitems.txt\ndefects.txt\n5\n0\n");
    const std::string out =
        "out/instance-1.csv: instance 1, 30 of 30 items placed, on 4 of 4 objects, placed area "
        "7422 (100.00% of the item area)\n"
        "out/instance-2.csv: instance 2, 30 of 30 items placed, on 4 of 4 objects, placed area "
        "7147 (100.00% of the item area)\n"
        "out/instance-3.csv: instance 3, 30 of 30 items placed, on 4 of 4 objects, placed area "
        "7180 (100.00% of the item area)\n";
    std::vector<std::string> first;
    for (int run_number = 0; run_number < 2; ++run_number) {
        const KitRun run = run_kit_in(folder, "place answers.txt --out out");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.err, "");
        for (int k = 1; k <= 3; ++k) {
            const std::string path = folder + "/out/instance-" + std::to_string(k) + ".csv";
            if (run_number == 0) {
                const KitRun check =
                    run_kit_in(folder, "check-solution answers.txt --instance " +
                                           std::to_string(k) + " --solution " + path);
                EXPECT_EQ(check.status, 0) << check.err;
                first.push_back(read_whole_file(path));
            } else {
                EXPECT_EQ(read_whole_file(path), first[static_cast<std::size_t>(k - 1)]) << k;
            }
        }
    }
}

TEST_F(BoundPlace, Refusals) {
    generate_set(folder,
                 "3\n4\n60\n40\n30\n0.01\n0.2\n2\n5 4\n10 2\n0\n6\nitems.txt\ndefects.txt\n5\n0\n");
    write_file(folder + "/taken", "x");
    struct Case {
        std::string args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"place answers.txt --out . --instance 2",
         "defectkit: . is a folder; one instance is placed in one file\n"},
        {"place answers.txt --out taken",
         "defectkit: taken is not a folder; several instances are placed as "
         "PATH/instance-K.csv\n"},
        {"place answers.txt --out items.txt --instance 1",
         "defectkit: items.txt is a file this command reads; not writing over it\n"},
        {"place answers.txt --out p.csv --instance 4",
         "defectkit: there is no instance 4: the set has 3 instances\n"},
        {"bound answers.txt --instance 4",
         "defectkit: there is no instance 4: the set has 3 instances\n"},
    };
    for (const Case& c : cases) {
        const KitRun run = run_kit_in(folder, c.args);
        EXPECT_EQ(run.status, 2) << c.args;
        EXPECT_EQ(run.out, "") << c.args;
        EXPECT_EQ(run.err, c.err) << c.args;
    }
    EXPECT_EQ(read_whole_file(folder + "/taken"), "x");
}

} // namespace
