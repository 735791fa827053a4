// The seeded stream of uniform numbers that every random choice draws from: the
// Park-Miller minimal standard generator, stepped with Schrage's method so that no
// intermediate value leaves the 32-bit signed range.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::int32_t rng_a = 16807;      // multiplier
inline constexpr std::int32_t rng_m = 2147483647; // modulus, 2^31 - 1
inline constexpr std::int32_t rng_q = 127773;     // rng_m / rng_a
inline constexpr std::int32_t rng_r = 2836;       // rng_m % rng_a

struct RandomStream {
    std::int32_t rng_state = 0;
};

// Sets the state to the seed and discards one draw, as every run starts.
void seed_random_stream(RandomStream& stream, std::int32_t seed);

// One step of the state. |lo| < rng_q and |hi| <= rng_a, and lo and hi share their
// sign, so neither product nor the difference overflows, for negative states too.
inline std::int32_t next_random_state(std::int32_t state) {
    const std::int32_t hi = state / rng_q;
    const std::int32_t lo = state - hi * rng_q;
    std::int32_t next = rng_a * lo - rng_r * hi;
    if (next < 0) {
        next += rng_m;
    }
    return next;
}

// The number a state stands for.
inline double random_value(std::int32_t state) {
    return static_cast<double>(state) / static_cast<double>(rng_m);
}

// Advances the state by one step and returns it as a fraction of rng_m.
inline double uniform_random(RandomStream& stream) {
    stream.rng_state = next_random_state(stream.rng_state);
    return random_value(stream.rng_state);
}

// The state that `steps` calls of uniform_random reach from `state`, in O(log steps).
// Valid for states from 0 to rng_m - 1, which every state is after its first step.
std::int32_t random_state_after(std::int32_t state, std::uint64_t steps);

// Writes the states of the next `count` steps from `state` (a state from 0 to rng_m - 1)
// to `states`, as `count` calls of uniform_random would pass through them. The steps
// are computed as four interleaved runs started by jumps ahead, because one run alone
// waits on every step for the one before.
void random_states(std::int32_t state, std::int32_t* states, std::size_t count);
