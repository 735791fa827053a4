// The union area of one object's defects, against areas worked out by hand and against
// counting unit cells on small objects.
#include "geometry/rect_union.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

std::vector<Defect> defects(std::initializer_list<std::array<std::int64_t, 4>> corners) {
    std::vector<Defect> list;
    for (const auto& c : corners) {
        list.push_back({c[0], c[1], c[2], c[3], 0});
    }
    return list;
}

TEST(RectUnion, AreasWorkedOutByHand) {
    struct Case {
        const char* what;
        std::vector<Defect> defects;
        std::int64_t area;
    };
    const std::vector<Case> cases = {
        {"none", {}, 0},
        {"one", defects({{2, 3, 7, 7}}), 20},
        {"two apart", defects({{0, 0, 2, 2}, {5, 5, 8, 9}}), 4 + 12},
        {"two overlapping", defects({{0, 0, 4, 4}, {2, 2, 6, 6}}), 16 + 16 - 4},
        {"one inside another", defects({{0, 0, 10, 10}, {3, 3, 5, 5}}), 100},
        {"the same one three times", defects({{1, 1, 4, 3}, {1, 1, 4, 3}, {1, 1, 4, 3}}), 6},
        {"touching edges", defects({{0, 0, 5, 10}, {5, 0, 10, 10}}), 100},
        {"a cross", defects({{0, 4, 10, 6}, {4, 0, 6, 10}}), 20 + 20 - 4},
        {"three over one corner", defects({{0, 0, 4, 4}, {2, 0, 6, 4}, {0, 2, 4, 6}}),
         16 + 8 + 8}, // the second and third add 2 x 4 each beyond the first
        {"partly off the object", defects({{8, 8, 14, 12}, {-2, 0, 1, 1}}), 2 * 2 + 1},
        {"wholly off the object", defects({{10, 0, 12, 5}, {0, 10, 3, 12}}), 0},
        {"the whole object", defects({{0, 0, 10, 10}, {0, 0, 10, 10}}), 100},
    };
    UnionScratch scratch;
    for (const Case& c : cases) {
        EXPECT_EQ(union_area(c.defects, 10, 10, scratch), c.area) << c.what;
    }
}

TEST(RectUnion, MatchesCountedCellsOnSmallObjects) {
    std::mt19937 random(7);
    UnionScratch scratch;
    for (int round = 0; round < 300; ++round) {
        const int length = 1 + static_cast<int>(random() % 24);
        const int width = 1 + static_cast<int>(random() % 24);
        const int count = static_cast<int>(random() % 70); // both sides of the few-defects methods
        std::vector<Defect> list;
        std::vector<char> cells(static_cast<std::size_t>(length * width), 0);
        for (int d = 0; d < count; ++d) {
            const int l = 1 + static_cast<int>(random() % length);
            const int w = 1 + static_cast<int>(random() % width);
            const int x = static_cast<int>(random() % (length - l + 1));
            const int y = static_cast<int>(random() % (width - w + 1));
            list.push_back({x, y, x + l, y + w, 0});
            for (int i = x; i < x + l; ++i) {
                for (int j = y; j < y + w; ++j) {
                    cells[static_cast<std::size_t>(i * width + j)] = 1;
                }
            }
        }
        std::int64_t counted = 0;
        for (char cell : cells) {
            counted += cell;
        }
        ASSERT_EQ(union_area(list, length, width, scratch), counted) << "round " << round;
    }
}

// The union's area on a grid of the distinct coordinates: each cell covered or not.
std::int64_t area_on_grid(const std::vector<Defect>& list, std::int64_t length,
                          std::int64_t width) {
    std::vector<std::int64_t> xs{0, length};
    std::vector<std::int64_t> ys{0, width};
    for (const Defect& d : list) {
        xs.insert(xs.end(), {std::clamp<std::int64_t>(d.x1, 0, length),
                             std::clamp<std::int64_t>(d.x2, 0, length)});
        ys.insert(ys.end(), {std::clamp<std::int64_t>(d.y1, 0, width),
                             std::clamp<std::int64_t>(d.y2, 0, width)});
    }
    for (auto* values : {&xs, &ys}) {
        std::sort(values->begin(), values->end());
        values->erase(std::unique(values->begin(), values->end()), values->end());
    }
    const auto at = [](const std::vector<std::int64_t>& values, std::int64_t v) {
        return static_cast<std::size_t>(std::lower_bound(values.begin(), values.end(), v) -
                                        values.begin());
    };
    std::vector<char> cells(xs.size() * ys.size(), 0);
    for (const Defect& d : list) {
        for (std::size_t i = at(xs, std::max<std::int64_t>(d.x1, 0));
             i < at(xs, std::min(d.x2, length)); ++i) {
            for (std::size_t j = at(ys, std::max<std::int64_t>(d.y1, 0));
                 j < at(ys, std::min(d.y2, width)); ++j) {
                cells[i * ys.size() + j] = 1;
            }
        }
    }
    std::int64_t area = 0;
    for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
        for (std::size_t j = 0; j + 1 < ys.size(); ++j) {
            if (cells[i * ys.size() + j] != 0) {
                area += (xs[i + 1] - xs[i]) * (ys[j + 1] - ys[j]);
            }
        }
    }
    return area;
}

// Many defects, against the grid: small and large sides (the ends put in order by counting
// or by sorting), short and long defects (a count per piece or the tree), some reaching off
// the object, one scratch for all, as for the objects of a set.
TEST(RectUnion, ManyDefectsMatchTheGrid) {
    struct Case {
        const char* what;
        int count;
        std::int64_t length, width;
        std::int64_t longest, widest; // largest defect
    };
    const std::vector<Case> cases = {
        {"small defects on a small object", 400, 100, 100, 3, 3},
        {"the generator's defects", 1000, 1000, 1000, 3, 2},
        {"long across y", 100, 300, 300, 20, 300},
        {"long across both", 100, 300, 300, 300, 300},
        {"small defects on a large object", 300, 1000000000, 1000000000, 100000000, 1000},
        {"long defects on a large object", 100, 2000000000, 2000000000, 2000000, 1500000000},
        {"beyond 32 bits along x", 100, std::int64_t{1} << 40, 1000, std::int64_t{1} << 38, 900},
    };
    std::mt19937_64 random(11);
    UnionScratch scratch;
    for (const Case& c : cases) {
        for (int round = 0; round < 3; ++round) {
            std::vector<Defect> list;
            for (int d = 0; d < c.count; ++d) {
                const auto l = 1 + static_cast<std::int64_t>(random() % c.longest);
                const auto w = 1 + static_cast<std::int64_t>(random() % c.widest);
                const auto x = static_cast<std::int64_t>(random() % c.length) - l / 4;
                const auto y = static_cast<std::int64_t>(random() % c.width) - w / 4;
                list.push_back({x, y, x + l, y + w, 0});
            }
            ASSERT_EQ(union_area(list, c.length, c.width, scratch),
                      area_on_grid(list, c.length, c.width))
                << c.what << ", round " << round;
        }
    }
}

TEST(RectUnion, LargestObjectsDoNotOverflow) {
    const std::int64_t side = 2147483647;
    UnionScratch scratch;
    EXPECT_EQ(union_area(defects({{0, 0, side, side}, {1, 1, 2, 2}}), side, side, scratch),
              side * side);
    std::vector<Defect> many;
    for (std::int64_t d = 0; d < 1000; ++d) {
        many.push_back({d, d, d + 1000, d + 1000, 0});
    }
    // A staircase of 1000 squares of 1000 x 1000, each shifted by one: the first square and
    // then 999 L-shaped strips of 1000 + 1000 - 1 cells.
    EXPECT_EQ(union_area(many, side, side, scratch), 1000 * 1000 + 999 * 1999);
}

} // namespace
