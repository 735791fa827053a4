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
