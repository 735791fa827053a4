// The seeded stream of uniform numbers that every random choice draws from: the
// Park-Miller minimal standard generator, stepped with Schrage's method so that no
// intermediate value leaves the 32-bit signed range.
#pragma once

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

// Advances the state by one step and returns it as a fraction of rng_m. |lo| < rng_q
// and |hi| <= rng_a, and lo and hi share their sign, so neither product nor the
// difference overflows, for negative states too.
inline double uniform_random(RandomStream& stream) {
    const std::int32_t hi = stream.rng_state / rng_q;
    const std::int32_t lo = stream.rng_state - hi * rng_q;
    std::int32_t next = rng_a * lo - rng_r * hi;
    if (next < 0) {
        next += rng_m;
    }
    stream.rng_state = next;
    return static_cast<double>(next) / static_cast<double>(rng_m);
}

// The state that `steps` calls of uniform_random reach from `state`, in O(log steps).
// Valid for states from 0 to rng_m - 1, which every state is after its first step.
std::int32_t random_state_after(std::int32_t state, std::uint64_t steps);
