// The figures of a small set worked out by hand, driven through the tallies with records in
// memory: an object of 10 x 10 (area 100) and two instances.
//
// Instance 1: items 2 x 8, 5 x 5, 9 x 1 and 12 x 4 (longer than the object); length shares
// 0.2, 0.5, 0.9 and 0.75; item area 98. Objects: two overlapping 4 x 4 squares (union 28),
// none, and a square inside the whole object (union 100): free area 300 - 128 = 172, so item
// area / free area = 98 / 172 = 0.569767.
// Instance 2: items 1 x 1, 10 x 10 (as large as the object, not beyond it), 3 x 7 and 6 x 2;
// shares 0.5, 0.5, 0.3 and 0.75; item area 134. Objects: the strips [0, 5] and [4, 6]
// across it (union 60), none, and one unit square: free area 300 - 61 = 239, and
// 134 / 239 = 0.560669.
// The set: item area 232 of 800 (0.29), mean length share 4.4 / 8 = 0.55, 7 defects on 6
// objects, cover 189 / 600 = 0.315, and (0.569767 + 0.560669) / 2 = 0.565218.
#include "geometry/rect_union.h"
#include "commands/stats.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

InstanceHead head(std::int32_t number, std::initializer_list<std::array<std::int64_t, 2>> sizes) {
    InstanceHead h;
    h.number = number;
    for (const auto& s : sizes) {
        h.items.push_back({s[0], s[1], s[0] * s[1], 0});
    }
    return h;
}

struct HandSet {
    StatsTally set = empty_tally(10, 10);
    std::vector<StatsTally> instances;
};

HandSet hand_set() {
    HandSet hand;
    UnionScratch scratch;
    const std::vector<std::vector<std::vector<Defect>>> objects = {
        {{{0, 0, 4, 4, 0}, {2, 2, 6, 6, 0}}, {}, {{0, 0, 10, 10, 0}, {3, 3, 5, 5, 0}}},
        {{{0, 0, 5, 10, 0}, {4, 0, 6, 10, 0}}, {}, {{2, 2, 3, 3, 0}}}};
    const InstanceHead heads[] = {head(1, {{2, 8}, {5, 5}, {9, 1}, {12, 4}}),
                                  head(2, {{1, 1}, {10, 10}, {3, 7}, {6, 2}})};
    for (std::size_t k = 0; k < 2; ++k) {
        StatsTally inst = empty_tally(10, 10);
        tally_items(inst, heads[k]);
        for (const std::vector<Defect>& defects : objects[k]) {
            tally_object(inst, static_cast<std::int64_t>(defects.size()),
                         union_area(defects, 10, 10, scratch));
        }
        close_instance(inst, hand.set);
        hand.instances.push_back(inst);
    }
    return hand;
}

TEST(Stats, SmallSetAsText) {
    const HandSet hand = hand_set();
    std::ostringstream out;
    write_stats_text(out, "hand.txt", hand.set, hand.instances);
    EXPECT_EQ(out.str(), R"(set                                         hand.txt
object                                      10 x 10 (area 100)
instances                                   2
item types                                  8
objects                                     6
defects                                     7
item area                                   232
defect-free area of the objects             411
items longer or wider than the object       1

                                                   minimum          mean       maximum
item types per instance                                  4      4.000000             4
objects per instance                                     3      3.000000             3
item area / object area                           0.010000      0.290000      1.000000
length share: length / (length + width)           0.200000      0.550000      0.900000
defects per object                                       0      1.166667             2
defect cover: union of defects / object area             -      0.315000      1.000000
item area / defect-free area, per instance        0.560669      0.565218      0.569767

length share histogram (item types)
  [0.0, 0.1)                                0
  [0.1, 0.2)                                0
  [0.2, 0.3)                                1
  [0.3, 0.4)                                1
  [0.4, 0.5)                                0
  [0.5, 0.6)                                3
  [0.6, 0.7)                                0
  [0.7, 0.8)                                2
  [0.8, 0.9)                                0
  [0.9, 1.0]                                1

instance 1
item types                                  4
objects                                     3
defects                                     4
item area                                   98
defect-free area of the objects             172
items longer or wider than the object       1

                                                   minimum          mean       maximum
item area / object area                           0.090000      0.245000      0.480000
length share: length / (length + width)           0.200000      0.587500      0.900000
defects per object                                       0      1.333333             2
defect cover: union of defects / object area             -      0.426667      1.000000
item area / defect-free area                      0.569767      0.569767      0.569767

length share histogram (item types)
  [0.0, 0.1)                                0
  [0.1, 0.2)                                0
  [0.2, 0.3)                                1
  [0.3, 0.4)                                0
  [0.4, 0.5)                                0
  [0.5, 0.6)                                1
  [0.6, 0.7)                                0
  [0.7, 0.8)                                1
  [0.8, 0.9)                                0
  [0.9, 1.0]                                1

instance 2
item types                                  4
objects                                     3
defects                                     3
item area                                   134
defect-free area of the objects             239
items longer or wider than the object       0

                                                   minimum          mean       maximum
item area / object area                           0.010000      0.335000      1.000000
length share: length / (length + width)           0.300000      0.512500      0.750000
defects per object                                       0      1.000000             2
defect cover: union of defects / object area             -      0.203333      0.600000
item area / defect-free area                      0.560669      0.560669      0.560669

length share histogram (item types)
  [0.0, 0.1)                                0
  [0.1, 0.2)                                0
  [0.2, 0.3)                                0
  [0.3, 0.4)                                1
  [0.4, 0.5)                                0
  [0.5, 0.6)                                2
  [0.6, 0.7)                                0
  [0.7, 0.8)                                1
  [0.8, 0.9)                                0
  [0.9, 1.0]                                0
)");
}

} // namespace
