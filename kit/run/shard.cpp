// The shards of a run's selected instances, and instance lists as text.
#include "run/shard.h"

#include <cstdio>
#include <iostream>

bool parse_shard(const std::string& text, Shard& shard) {
    long k = 0;
    long n = 0;
    int used = 0;
    const bool digits = text.find_first_not_of("0123456789/") == std::string::npos;
    if (!digits || std::sscanf(text.c_str(), "%ld/%ld%n", &k, &n, &used) != 2 ||
        used != static_cast<int>(text.size()) || k < 1 || n < k || n > 1000000) {
        std::cerr << "defectkit: --shard " << text
                  << ": expected K/N with 1 <= K <= N (as 3/10: the third of ten shards)\n";
        return false;
    }
    shard.index = static_cast<std::int32_t>(k);
    shard.count = static_cast<std::int32_t>(n);
    return true;
}

void keep_shard(std::vector<bool>& selected, const Shard& shard) {
    std::size_t position = 0;
    for (std::size_t k = 0; k < selected.size(); ++k) {
        if (selected[k]) {
            selected[k] = shard_of(position++, shard.count) == shard.index;
        }
    }
}

std::vector<std::int32_t> selected_numbers(const std::vector<bool>& selected) {
    std::vector<std::int32_t> numbers;
    for (std::size_t k = 0; k < selected.size(); ++k) {
        if (selected[k]) {
            numbers.push_back(static_cast<std::int32_t>(k));
        }
    }
    return numbers;
}

std::int32_t shard_of(std::size_t position, std::int32_t count) {
    return static_cast<std::int32_t>(position % static_cast<std::size_t>(count)) + 1;
}

std::string number_list(const std::vector<std::int32_t>& numbers) {
    std::string text;
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) {
            ++j;
        }
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(numbers[i]);
        if (j > i) {
            text += '-';
            text += std::to_string(numbers[j]);
        }
        i = j + 1;
    }
    return text;
}
