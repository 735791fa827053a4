#include "defects_file.h"
#include "items_file.h"
#include "random_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace {

std::string printf_f(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
    return text;
}

std::string ours(float value) {
    char text[64];
    return std::string(text, put_float(text, value));
}

std::string ours_int(std::int32_t value) {
    char text[64];
    return std::string(text, put_int_as_float(text, value));
}

TEST(NumberFormat, DocumentedRoundingOfLargeIntegers) {
    EXPECT_EQ(ours_int(0), "0.000000");
    EXPECT_EQ(ours_int(16777216), "16777216.000000");
    EXPECT_EQ(ours_int(16777217), "16777216.000000");
    EXPECT_EQ(ours_int(16777218), "16777218.000000");
    EXPECT_EQ(ours_int(16777219), "16777220.000000");
    EXPECT_EQ(ours_int(2147483647), "2147483648.000000");
    EXPECT_EQ(ours_int(-2147483647 - 1), "-2147483648.000000");
    EXPECT_EQ(ours(2147483648.0f + 2147483648.0f), "4294967296.000000");
}

TEST(NumberFormat, MatchesPrintfForEveryValueTheFilesCanHold) {
    // Every integer near zero and around each power of two, where float spacing changes.
    for (std::int32_t v = -70000; v <= 70000; ++v) {
        ASSERT_EQ(ours_int(v), printf_f(static_cast<float>(v))) << v;
    }
    for (int bit = 17; bit <= 31; ++bit) {
        const std::int64_t power = std::int64_t{1} << bit;
        for (std::int64_t delta = -300; delta <= 300; ++delta) {
            for (const std::int64_t v : {power + delta, -(power + delta)}) {
                if (v < INT32_MIN || v > INT32_MAX) {
                    continue;
                }
                const auto value = static_cast<std::int32_t>(v);
                ASSERT_EQ(ours_int(value), printf_f(static_cast<float>(value))) << value;
            }
        }
    }
    // Random 32-bit integers, and single-precision sums of two (defect corners).
    RandomStream stream{2024};
    for (int i = 0; i < 300000; ++i) {
        const auto a = static_cast<std::int32_t>(stream.rng_state);
        (void)uniform_random(stream);
        const auto b = static_cast<std::int32_t>(stream.rng_state >> (i % 31));
        (void)uniform_random(stream);
        ASSERT_EQ(ours_int(a), printf_f(static_cast<float>(a))) << a;
        ASSERT_EQ(ours_int(-a), printf_f(static_cast<float>(-a))) << -a;
        const float sum = static_cast<float>(a) + static_cast<float>(b);
        ASSERT_EQ(ours(sum), printf_f(sum)) << a << " + " << b;
    }
}

TEST(ItemsFile, RowsAndBlockEndsInFileOrder) {
    ItemRows piece;
    piece.rows = {{60, 12, 5}, {210, 7, 30}, {16777217, 16777217, 1}};
    // A block of two items, two empty blocks, and a block whose rows continue in the
    // next piece.
    piece.block_ends = {2, 2, 2};
    char buffer[1024];
    EXPECT_EQ(std::string(buffer, put_item_rows(buffer, piece)),
              "12.000000\t5.000000\t60.000000\n"
              "7.000000\t30.000000\t210.000000\n"
              "\n"
              "\n"
              "\n"
              "16777216.000000\t1.000000\t16777216.000000\n");
    const ItemRows empty_blocks{{}, {0, 0}};
    EXPECT_EQ(std::string(buffer, put_item_rows(buffer, empty_blocks)), "\n\n");
}

TEST(DefectsFile, HeaderDefectLinesAndBlockEnds) {
    char buffer[1024];
    char* p = put_instance_header(buffer, 1);
    p = put_defect_line(p, 12, 3, Rectangle{20, 5, 4});
    p = put_block_end(put_block_end(put_block_end(p)));
    p = put_instance_header(p, 20000);
    // Corners beyond 2^24 are added in single precision.
    p = put_defect_line(p, 2147483647, 16777217, Rectangle{2147483647, 2147483647, 1});
    p = put_block_end(put_block_end(p));
    EXPECT_EQ(std::string(buffer, p),
              "instance: 1\n\n"
              "12.000000\t3.000000\t17.000000\t7.000000\n"
              "\n\n\n"
              "instance: 20000\n\n"
              "2147483648.000000\t16777216.000000\t4294967296.000000\t16777216.000000\n"
              "\n\n");
}

} // namespace
