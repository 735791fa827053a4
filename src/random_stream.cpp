#include "random_stream.h"

void seed_random_stream(RandomStream& stream, std::int32_t seed) {
    stream.rng_state = seed;
    (void)uniform_random(stream);
}

// From a state in [0, rng_m) every step multiplies by rng_a modulo rng_m, so n steps
// multiply by rng_a^n modulo rng_m. The products stay below 2^62.
std::int32_t random_state_after(std::int32_t state, std::uint64_t steps) {
    const std::uint64_t m = static_cast<std::uint64_t>(rng_m);
    std::uint64_t factor = 1;
    std::uint64_t base = static_cast<std::uint64_t>(rng_a);
    while (steps != 0) {
        if ((steps & 1U) != 0) {
            factor = factor * base % m;
        }
        base = base * base % m;
        steps >>= 1U;
    }
    return static_cast<std::int32_t>(static_cast<std::uint64_t>(state) * factor % m);
}

namespace {

// One step for a state from 0 to rng_m - 1, as next_random_state computes it: rng_a times
// the state modulo rng_m. The product stays below 2^46, and since rng_m = 2^31 - 1 its
// remainder folds from the bits above and below bit 31 with one correction, which is
// shorter than Schrage's division where only the speed of the steps matters.
inline std::int32_t next_state_in_range(std::int32_t state) {
    constexpr std::uint64_t m = static_cast<std::uint64_t>(rng_m);
    const std::uint64_t product =
        static_cast<std::uint64_t>(state) * static_cast<std::uint64_t>(rng_a);
    std::uint64_t folded = (product & m) + (product >> 31U);
    if (folded >= m) {
        folded -= m;
    }
    return static_cast<std::int32_t>(folded);
}

} // namespace

void random_states(std::int32_t state, std::int32_t* states, std::size_t count) {
    constexpr std::size_t lanes = 4;
    const std::size_t run = (count + lanes - 1) / lanes;
    std::int32_t lane_state[lanes];
    std::size_t length[lanes]; // the last runs may be shorter, or empty
    for (std::size_t lane = 0; lane < lanes; ++lane) {
        const std::size_t first = lane * run;
        length[lane] = first >= count ? 0 : (count - first < run ? count - first : run);
        lane_state[lane] = random_state_after(state, first);
    }
    // Rounds of all four runs while the shortest lasts, then the rest of each run.
    std::size_t i = 0;
    for (; i < length[lanes - 1]; ++i) {
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            lane_state[lane] = next_state_in_range(lane_state[lane]);
            states[lane * run + i] = lane_state[lane];
        }
    }
    for (std::size_t lane = 0; lane < lanes; ++lane) {
        for (std::size_t j = i; j < length[lane]; ++j) {
            lane_state[lane] = next_state_in_range(lane_state[lane]);
            states[lane * run + j] = lane_state[lane];
        }
    }
}
