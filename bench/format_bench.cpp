// How fast the files' numbers are formatted, against snprintf("%f") on the same values:
// small coordinates, item areas, and large values beyond 2^24.
#include "number_format.h"
#include "random_stream.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

std::vector<float> values(std::int32_t range) {
    std::vector<float> result;
    RandomStream stream{12345};
    for (int i = 0; i < 4096; ++i) {
        result.push_back(static_cast<float>(
            static_cast<std::int32_t>(uniform_random(stream) * static_cast<double>(range))));
    }
    return result;
}

void BM_put_float(benchmark::State& state) {
    const std::vector<float> numbers = values(static_cast<std::int32_t>(state.range(0)));
    char buffer[64];
    for (auto _ : state) {
        for (const float v : numbers) {
            benchmark::DoNotOptimize(put_float(buffer, v));
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(numbers.size()));
}

void BM_snprintf(benchmark::State& state) {
    const std::vector<float> numbers = values(static_cast<std::int32_t>(state.range(0)));
    char buffer[64];
    for (auto _ : state) {
        for (const float v : numbers) {
            benchmark::DoNotOptimize(
                std::snprintf(buffer, sizeof buffer, "%f", static_cast<double>(v)));
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(numbers.size()));
}

// Coordinates of a 1000 x 1000 object, item areas up to 300000, and 32-bit values.
BENCHMARK(BM_put_float)->Arg(1000)->Arg(300000)->Arg(2147483647);
BENCHMARK(BM_snprintf)->Arg(1000)->Arg(300000)->Arg(2147483647);

} // namespace
