// The geometry of one object of a placement (inside, items against items, items against
// defects) against cases worked out by hand and against every pair counted on random
// placements; and the reading of placement files, hostile ones included.
#include "geometry/placement_check.h"
#include "placement/placement_reader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// Items as {x, y, lx, ly}; the row of each is its position.
std::vector<PlacedItem> items(std::initializer_list<std::array<std::int64_t, 4>> list) {
    std::vector<PlacedItem> out;
    for (const auto& r : list) {
        out.push_back({r[0], r[1], r[2], r[3], static_cast<std::uint32_t>(out.size())});
    }
    return out;
}

// Defects as {x1, y1, x2, y2}.
std::vector<Defect> defects(std::initializer_list<std::array<std::int64_t, 4>> list) {
    std::vector<Defect> out;
    for (const auto& r : list) {
        out.push_back({r[0], r[1], r[2], r[3], 0});
    }
    return out;
}

// Findings as "row:kind:other:count", sorted, so that a case reads as one string.
std::string findings_text(const std::vector<ItemFinding>& findings) {
    std::set<std::string> lines;
    for (const ItemFinding& f : findings) {
        const char* kind = f.kind == FindingKind::outside         ? "outside"
                           : f.kind == FindingKind::overlaps_item ? "item"
                                                                  : "defect";
        lines.insert(std::to_string(f.row) + ":" + kind + ":" + std::to_string(f.other) + ":" +
                     std::to_string(f.count));
    }
    std::string out;
    for (const std::string& line : lines) {
        out += line + " ";
    }
    return out;
}

TEST(PlacementGeometry, CasesWorkedOutByHand) {
    struct Case {
        const char* what;
        std::vector<PlacedItem> items;
        std::vector<Defect> defects;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"items and defects touching at edges and corners",
         items({{0, 0, 10, 10}, {10, 0, 10, 10}, {0, 10, 10, 10}, {10, 10, 5, 5}}),
         defects({{20, 0, 30, 10}, {0, 20, 10, 25}, {15, 15, 18, 18}}), ""},
        {"the whole object, exactly", items({{0, 0, 100, 100}}), {}, ""},
        {"outside on each side",
         items({{95, 0, 10, 5}, {-1, 20, 5, 5}, {0, 98, 5, 5}, {30, -2, 5, 5}}),
         {},
         "0:outside:0:0 1:outside:0:0 2:outside:0:0 3:outside:0:0 "},
        {"two items overlapping by one unit",
         items({{0, 0, 10, 10}, {9, 9, 10, 10}}),
         {},
         "1:item:0:1 "},
        {"starting at the same x", items({{0, 20, 10, 10}, {0, 25, 10, 10}}), {}, "1:item:0:1 "},
        {"one item inside another", items({{10, 10, 50, 50}, {20, 20, 5, 5}}), {}, "1:item:0:1 "},
        {"the same place twice", items({{40, 40, 8, 8}, {40, 40, 8, 8}}), {}, "1:item:0:1 "},
        {"a long item crossing a tall one",
         items({{0, 45, 100, 10}, {45, 0, 10, 100}}),
         {},
         "1:item:0:1 "},
        {"an item on a defect that starts inside it", items({{0, 0, 20, 20}}),
         defects({{5, 5, 6, 6}}), "0:defect:0:1 "},
        {"an item that starts inside a defect", items({{50, 50, 10, 10}}),
         defects({{40, 40, 55, 55}}), "0:defect:0:1 "},
        {"an item and a defect with the same left edge", items({{30, 0, 5, 50}}),
         defects({{30, 49, 31, 60}}), "0:defect:0:1 "},
        {"a defect of no width on an item's left edge covers nothing", items({{30, 0, 5, 50}}),
         defects({{30, 10, 30, 20}}), ""},
        {"three overlapping defects under one item, the lowest named",
         items({{0, 0, 30, 30}, {60, 60, 10, 10}}),
         defects({{80, 80, 90, 90}, {25, 25, 35, 35}, {1, 1, 2, 2}, {10, 10, 29, 12}}),
         "0:defect:1:3 "},
        {"empty sizes cover nothing", items({{10, 10, 0, 5}, {10, 10, 5, -3}}),
         defects({{0, 0, 50, 50}}), ""},
    };
    for (const Case& c : cases) {
        std::vector<ItemFinding> found;
        check_object(100, 100, c.items, c.defects, found);
        EXPECT_EQ(findings_text(found), c.expected) << c.what;
    }
}

bool overlap(std::int64_t ax, std::int64_t ay, std::int64_t alx, std::int64_t aly, std::int64_t bx,
             std::int64_t by, std::int64_t blx, std::int64_t bly) {
    return ax < bx + blx && bx < ax + alx && ay < by + bly && by < ay + aly;
}

// Random dense placements against every pair counted: the defects each item overlaps
// exactly, and for items against items the promise that holds with any sweep order:
// every item reported overlaps the one it names, and the items not reported are pairwise
// disjoint.
TEST(PlacementGeometry, SweepsAgreeWithEveryPairOnRandomPlacements) {
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        const std::int64_t side = 5 + static_cast<std::int64_t>(random() % 60);
        auto coordinate = [&] { return static_cast<std::int64_t>(random() % side); };
        std::vector<PlacedItem> placed;
        const int n = static_cast<int>(random() % 40);
        for (int i = 0; i < n; ++i) {
            placed.push_back({coordinate(), coordinate(), 1 + coordinate() / 3,
                              1 + coordinate() / 3, static_cast<std::uint32_t>(i)});
        }
        std::vector<Defect> holes;
        const int m = static_cast<int>(random() % 30);
        for (int d = 0; d < m; ++d) {
            const std::int64_t x = coordinate();
            const std::int64_t y = coordinate();
            holes.push_back({x, y, x + 1 + coordinate() / 4, y + 1 + coordinate() / 4, 0});
        }
        std::vector<ItemFinding> found;
        check_object(side, side, placed, holes, found);
        std::vector<bool> reported(placed.size(), false);
        std::vector<ItemFinding> on_defects;
        for (const ItemFinding& f : found) {
            const PlacedItem& a = placed[f.row];
            if (f.kind == FindingKind::overlaps_item) {
                const PlacedItem& b = placed[static_cast<std::size_t>(f.other)];
                EXPECT_TRUE(overlap(a.x, a.y, a.lx, a.ly, b.x, b.y, b.lx, b.ly));
                EXPECT_FALSE(reported[f.row]);
                reported[f.row] = true;
            } else if (f.kind == FindingKind::overlaps_defect) {
                on_defects.push_back(f);
            } else {
                EXPECT_TRUE(a.x + a.lx > side || a.y + a.ly > side);
            }
        }
        for (std::size_t i = 0; i < placed.size(); ++i) {
            for (std::size_t j = i + 1; j < placed.size(); ++j) {
                const PlacedItem& a = placed[i];
                const PlacedItem& b = placed[j];
                if (!reported[i] && !reported[j]) {
                    EXPECT_FALSE(overlap(a.x, a.y, a.lx, a.ly, b.x, b.y, b.lx, b.ly))
                        << "round " << round << " items " << i << " and " << j;
                }
            }
        }
        std::vector<ItemFinding> expected;
        for (const PlacedItem& a : placed) {
            std::int64_t count = 0;
            std::int64_t lowest = -1;
            for (std::size_t d = 0; d < holes.size(); ++d) {
                const Defect& h = holes[d];
                if (overlap(a.x, a.y, a.lx, a.ly, h.x1, h.y1, h.x2 - h.x1, h.y2 - h.y1)) {
                    ++count;
                    lowest = lowest < 0 ? static_cast<std::int64_t>(d) : lowest;
                }
            }
            if (count > 0) {
                expected.push_back({a.row, FindingKind::overlaps_defect, lowest, count});
            }
        }
        EXPECT_EQ(findings_text(on_defects), findings_text(expected)) << "round " << round;
    }
}

class PlacementFile : public ::testing::Test {
protected:
    std::filesystem::path dir;
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("defectkit-placement-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

std::string problems_text(const Placement& s) {
    std::string out;
    for (const PlacementProblem& p : s.problems) {
        out += std::to_string(p.line) + ": " + p.message + "\n";
    }
    return out;
}

TEST_F(PlacementFile, RowsAreReadAndDefectRunsReadAgain) {
    const std::string path = write("s.csv", "\xEF\xBB\xBFTYPE,ID,COPIES,BIN,X,Y,LX,LY,GROUP_ID\r\n"
                                            "BIN,1,1,0,,,100,100,\r\n"
                                            "DEFECT,2,,0,12,3,5,4,\r\n"
                                            "DEFECT,0,,0,1,1,10,10,\r\n"
                                            "ITEM,4,1,0,20,30,7,9,0\r\n"
                                            "DEFECT,1,,0,50,50,20,3,\r\n"
                                            "\r\n"
                                            "BIN,0,1,1,0,0,100,100,\r\n"
                                            "DEFECT,0,,1,-5,0,5,4,\r\n");
    Placement s;
    ASSERT_TRUE(read_placement(path, 5, s));
    EXPECT_EQ(problems_text(s), "");
    ASSERT_EQ(s.bins.size(), 2u);
    EXPECT_EQ(s.bins[1].type, 0);
    EXPECT_EQ(s.bins[1].index, 1);
    EXPECT_EQ(s.bins[1].line, 8u);
    ASSERT_EQ(s.items.size(), 1u);
    const PlacementItem& it = s.items[0];
    EXPECT_EQ(std::vector<std::int64_t>({it.type, it.bin, it.x, it.y, it.lx, it.ly}),
              std::vector<std::int64_t>({4, 0, 20, 30, 7, 9}));
    ASSERT_EQ(s.defect_runs.size(), 3u);
    EXPECT_EQ(s.defect_rows, 4u);
    std::string again;
    for (const DefectRun& run : s.defect_runs) {
        std::vector<PlacementDefect> rows;
        ASSERT_TRUE(read_defect_run(s, run, rows));
        for (const PlacementDefect& r : rows) {
            again += std::to_string(r.line) + ":" + std::to_string(r.id) + "," +
                     std::to_string(r.bin) + "," + std::to_string(r.x) + "," + std::to_string(r.y) +
                     "," + std::to_string(r.lx) + "," + std::to_string(r.ly) + " ";
        }
    }
    EXPECT_EQ(again, "3:2,0,12,3,5,4 4:0,0,1,1,10,10 6:1,0,50,50,20,3 9:0,1,-5,0,5,4 ");
    close_placement(s);
}

TEST_F(PlacementFile, MalformedAndHostileFiles) {
    const std::string header = "TYPE,ID,COPIES,BIN,X,Y,LX,LY\n";
    struct Case {
        const char* what;
        std::string bytes;
        std::string problems;
    };
    const std::vector<Case> cases = {
        {"empty", "", "1: the file is empty: no header TYPE,ID,COPIES,BIN,X,Y,LX,LY\n"},
        {"another kind of file", "WIDTH,HEIGHT,COPIES\n1,2,3\n",
         "1: the header is not TYPE,ID,COPIES,BIN,X,Y,LX,LY (optionally followed by ,GROUP_ID): "
         "is this a placement file?\n"},
        {"bad rows",
         header +
             "ITEM,1,1,0,0,0,5\nITEM,1,1,0,0,0,5,5,9\nSHELF,0,1,0,0,0,1,1\n"
             "ITEM,x,1,0,0,0,5,5\nITEM,1,1,0,0,,5,5\nITEM,1,1,0,1.5,0,5,5\n"
             "ITEM,1,2,0,0,0,5,5\nBIN,0,1,0,0,0,1234567890123456,5\n" +
             std::string("ITEM,1\0,1,0,0,0,5,5\n", 20),
         "2: expected 8 comma-separated fields, as the header\n"
         "3: expected 8 comma-separated fields, as the header\n"
         "4: unknown row type \"SHELF\" (BIN, ITEM or DEFECT)\n"
         "5: ID \"x\" is not a whole number\n"
         "6: Y \"\" is not a whole number\n"
         "7: X \"1.5\" is not a whole number\n"
         "8: COPIES 2: an ITEM row places one item\n"
         "9: LX \"1234567890123456\" is too long: at most 15 digits\n"
         "10: ID \"1?\" is not a whole number\n"},
        {"a line too long", header + std::string(5000, 'A') + "\nBIN,0,1,0,0,0,10,10\n",
         "2: line longer than 1024 bytes\n"},
        {"a header too long", std::string(5000, 'A') + "\nBIN,0,1,0,0,0,10,10\n",
         "1: the header is longer than 1024 bytes: is this a placement file?\n"},
        {"more ITEM rows than items",
         header + "ITEM,0,1,0,0,0,1,1\nITEM,1,1,0,0,0,1,1\n"
                  "ITEM,2,1,0,0,0,1,1\nITEM,3,1,0,0,0,1,1\n",
         "4: more ITEM rows than the instance has items (2): each item is placed once at most\n"},
        {"more DEFECT rows than an object has defects",
         [&] {
             std::string s = header;
             for (int i = 0; i <= 1000; ++i) {
                 s += "DEFECT," + std::to_string(i) + ",,7,0,0,1,1\n";
             }
             return s;
         }(),
         "1002: more than 1000 DEFECT rows for bin 7: an object has at most that many defects\n"},
        {"binary garbage", header + std::string("\x01\xff,\n\n\x7f") + std::string(3, '\0'),
         "2: expected 8 comma-separated fields, as the header\n"
         "4: expected 8 comma-separated fields, as the header\n"},
    };
    for (const Case& c : cases) {
        Placement s;
        ASSERT_TRUE(read_placement(write("c.csv", c.bytes), 2, s)) << c.what;
        EXPECT_EQ(problems_text(s), c.problems) << c.what;
        close_placement(s);
    }
    // Reading stops after a hundred malformed rows, whatever follows.
    std::string many = header;
    for (int i = 0; i < 1000; ++i) {
        many += "?\n";
    }
    Placement s;
    ASSERT_TRUE(read_placement(write("many.csv", many), 2, s));
    EXPECT_EQ(s.problems.size(), placement_max_problems);
    close_placement(s);
}

TEST_F(PlacementFile, FilesThatCannotBeReadAreRefused) {
    Placement s;
    EXPECT_FALSE(read_placement((dir / "missing.csv").string(), 5, s));
    EXPECT_FALSE(read_placement(dir.string(), 5, s));
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(read_placement(fifo, 5, s)); // refused at once, not waiting for a writer
}

} // namespace
