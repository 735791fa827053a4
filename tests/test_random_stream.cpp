#include "random_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

std::int32_t state_after_steps(std::int32_t state, int steps) {
    RandomStream stream{state};
    for (int i = 0; i < steps; ++i) {
        (void)uniform_random(stream);
    }
    return stream.rng_state;
}

TEST(RandomStream, PublishedCheckValueAfterTenThousandSteps) {
    EXPECT_EQ(state_after_steps(1, 10000), 1043618065);
}

TEST(RandomStream, SeedTwelveGivesTheDocumentedStatesAndValues) {
    RandomStream stream;
    seed_random_stream(stream, 12);
    EXPECT_EQ(stream.rng_state, 201684);
    const std::int32_t states[] = {1242219341, 144448053, 1081905661};
    const double values[] = {0.578453, 0.067264, 0.503802};
    for (int i = 0; i < 3; ++i) {
        const double r = uniform_random(stream);
        EXPECT_EQ(stream.rng_state, states[i]);
        EXPECT_EQ(r, static_cast<double>(states[i]) / 2147483647.0);
        EXPECT_NEAR(r, values[i], 1e-6);
    }
}

TEST(RandomStream, SeedsThatReachZeroStayThere) {
    for (const std::int32_t seed : {0, 2147483647, -2147483647}) {
        RandomStream stream;
        seed_random_stream(stream, seed);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(uniform_random(stream), 0.0) << "seed " << seed;
        }
        EXPECT_EQ(stream.rng_state, 0);
    }
}

TEST(RandomStream, NegativeSeedsFollowTheStreamOfTheSeedPlusTheModulus) {
    EXPECT_EQ(state_after_steps(-1, 1), 2147466840);
    EXPECT_EQ(state_after_steps(-2147483648, 1), state_after_steps(2147483646, 1));
    for (const std::int32_t seed : {-1, -12, -1000000, -2147483646}) {
        RandomStream negative{seed};
        RandomStream positive{seed + 2147483647};
        for (int i = 0; i < 100; ++i) {
            ASSERT_EQ(uniform_random(negative), uniform_random(positive)) << "seed " << seed;
        }
    }
}

TEST(RandomStream, DrawsStayStrictlyBetweenZeroAndOne) {
    RandomStream stream{1};
    for (int i = 0; i < 100000; ++i) {
        const double r = uniform_random(stream);
        ASSERT_GT(r, 0.0);
        ASSERT_LT(r, 1.0);
    }
    RandomStream largest{2147483646};
    EXPECT_EQ(uniform_random(largest), 2147466840.0 / 2147483647.0);
}

TEST(RandomStream, JumpAheadLandsWhereSteppingDoes) {
    for (const std::int32_t start : {0, 1, 12, 201684, 2147483646}) {
        for (const int steps : {0, 1, 2, 3, 17, 1000, 12345}) {
            EXPECT_EQ(random_state_after(start, static_cast<std::uint64_t>(steps)),
                      state_after_steps(start, steps))
                << start << " + " << steps;
        }
    }
    // The generator's period is rng_m - 1.
    EXPECT_EQ(random_state_after(12345, 2147483646ULL), 12345);
}

TEST(RandomStream, StatesComputedAheadEqualTheStepsOneByOne) {
    std::vector<std::int32_t> states(5000);
    for (const std::int32_t start : {0, 1, 12, 201684, 1043618065, 2147483646}) {
        for (const std::size_t count : {0U, 1U, 2U, 3U, 4U, 5U, 7U, 9U, 12U, 13U, 100U, 4999U}) {
            std::fill(states.begin(), states.end(), -1);
            random_states(start, states.data(), count);
            RandomStream stream{start};
            for (std::size_t i = 0; i < count; ++i) {
                (void)uniform_random(stream);
                ASSERT_EQ(states[i], stream.rng_state) << start << " step " << i;
            }
            EXPECT_EQ(states[count], -1) << "nothing written past the count";
        }
    }
}

} // namespace
