#include "dialogue.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>

namespace {

std::string rest(std::istream& in) {
    in.clear();
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct IntCase {
    const char* input;
    ReadResult result;
    std::int32_t value;
    const char* left;
};

TEST(ReadInt, BehavesLikeFormattedIntegerInput) {
    const IntCase cases[] = {
        {"12", ReadResult::ok, 12, ""},
        {" \t\n\v\f\r-7 8", ReadResult::ok, -7, " 8"},
        {"+5x", ReadResult::ok, 5, "x"},
        {"12.5", ReadResult::ok, 12, ".5"},
        {"007", ReadResult::ok, 7, ""},
        {"2147483647", ReadResult::ok, 2147483647, ""},
        {"-2147483648\n", ReadResult::ok, INT32_MIN, "\n"},
        {"2147483648", ReadResult::out_of_range, 99, ""},
        {"-2147483649 1", ReadResult::out_of_range, 99, " 1"},
        {"99999999999999999999999999", ReadResult::out_of_range, 99, ""},
        {"abc", ReadResult::malformed, 99, "abc"},
        {"- 5", ReadResult::malformed, 99, " 5"},
        {"", ReadResult::end_of_input, 99, ""},
        {"  \n\n ", ReadResult::end_of_input, 99, ""},
    };
    for (const IntCase& c : cases) {
        std::istringstream in(c.input);
        std::int32_t value = 99;
        EXPECT_EQ(read_int(in, value), c.result) << '"' << c.input << '"';
        EXPECT_EQ(value, c.value) << '"' << c.input << '"';
        EXPECT_EQ(rest(in), c.left) << '"' << c.input << '"';
    }
}

struct FloatCase {
    const char* input;
    ReadResult result;
    float value;
    const char* left;
};

TEST(ReadFloat, BehavesLikeFormattedFloatInput) {
    const FloatCase cases[] = {
        {"0.01", ReadResult::ok, 0.01f, ""},
        {"  .5\n", ReadResult::ok, 0.5f, "\n"},
        {"-1.5e-1x", ReadResult::ok, -0.15f, "x"},
        {"+0.25", ReadResult::ok, 0.25f, ""}, // an explicit plus sign
        {"1E2", ReadResult::ok, 100.0f, ""},
        {"3.", ReadResult::ok, 3.0f, ""},
        {"1e999", ReadResult::ok, INFINITY, ""},
        {"INFINITY 1", ReadResult::ok, INFINITY, " 1"},
        {"-inf", ReadResult::ok, -INFINITY, ""},
        {"0.3 0.4", ReadResult::ok, 0.3f, " 0.4"},
        {"abc", ReadResult::malformed, 7.0f, "abc"},
        {".", ReadResult::malformed, 7.0f, ""},
        {"1e+", ReadResult::malformed, 7.0f, ""},
        {"infin", ReadResult::malformed, 7.0f, ""},
        {"inx", ReadResult::malformed, 7.0f, "x"}, // breaks off inside "inf"
        {"\n", ReadResult::end_of_input, 7.0f, ""},
    };
    for (const FloatCase& c : cases) {
        std::istringstream in(c.input);
        float value = 7.0f;
        EXPECT_EQ(read_float(in, value), c.result) << '"' << c.input << '"';
        EXPECT_EQ(value, c.value) << '"' << c.input << '"';
        EXPECT_EQ(rest(in), c.left) << '"' << c.input << '"';
    }
    std::istringstream nan_in("nan");
    float value = 0.0f;
    EXPECT_EQ(read_float(nan_in, value), ReadResult::ok);
    EXPECT_TRUE(std::isnan(value));
}

TEST(ReadFloat, RoundsOnceStraightToSinglePrecision) {
    // Through double this decimal would round to the float one unit higher.
    std::istringstream in("7.038531e-26");
    float value = 0.0f;
    ASSERT_EQ(read_float(in, value), ReadResult::ok);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(value), 0x15AE43FDU);
    EXPECT_NE(value, static_cast<float>(7.038531e-26));
}

TEST(ReadWord, ReadsOneWordOfAtMostSeventyNineCharacters) {
    char word[max_filename_length + 1];
    std::istringstream in("  items.txt defects.txt");
    ASSERT_EQ(read_word(in, word), ReadResult::ok);
    EXPECT_STREQ(word, "items.txt");
    EXPECT_EQ(rest(in), " defects.txt");

    const std::string longest(79, 'a');
    std::istringstream fits(longest + "\n");
    ASSERT_EQ(read_word(fits, word), ReadResult::ok);
    EXPECT_EQ(std::string(word), longest);

    std::istringstream too_long(std::string(80, 'b') + "bbbbb 12");
    EXPECT_EQ(read_word(too_long, word), ReadResult::out_of_range);
    EXPECT_EQ(rest(too_long), " 12");

    std::istringstream empty(" \n ");
    EXPECT_EQ(read_word(empty, word), ReadResult::end_of_input);
}

TEST(AreaRange, DerivedInSinglePrecision) {
    RunParams p;
    p.object = {851, 37, 23};
    p.minrelsize = 0.05f;
    p.maxrelsize = 0.3f;
    derive_area_range(p);
    EXPECT_EQ(p.minarea, 43);
    EXPECT_EQ(p.maxarea, 255);

    p.object = {10000, 100, 100};
    p.minrelsize = 0.01f;
    p.maxrelsize = 0.15f;
    derive_area_range(p);
    EXPECT_EQ(p.minarea, 100);
    EXPECT_EQ(p.maxarea, 1500);

    // Close bounds on a small object leave no admissible area.
    p.object = {100, 10, 10};
    p.minrelsize = 0.111f;
    p.maxrelsize = 0.119f;
    derive_area_range(p);
    EXPECT_EQ(p.minarea, 12);
    EXPECT_EQ(p.maxarea, 11);

    // The largest object with the largest bound below 1 stays inside 32 bits.
    p.object = {INT32_MAX, INT32_MAX, 1};
    p.minrelsize = std::nextafter(1.0f, 0.0f);
    p.maxrelsize = p.minrelsize;
    derive_area_range(p);
    EXPECT_EQ(p.minarea, 2147483520);
    EXPECT_EQ(p.maxarea, 2147483520);
}

} // namespace
