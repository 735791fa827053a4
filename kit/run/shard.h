// Shards of a run: `--shard K/N` keeps the selected instances at positions p (from 0, in
// the selected list) with p mod N = K - 1, so that N copies of one command share a set.
// Also the instance lists that results and the SLURM array print ("1-3,7").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Shard {
    std::int32_t index = 0; // K, from 1
    std::int32_t count = 0; // N; 0: the run is not sharded
};

// "K/N" with 1 <= K <= N. False after a message on stderr.
bool parse_shard(const std::string& text, Shard& shard);
// Unselects every instance that is not the shard's.
void keep_shard(std::vector<bool>& selected, const Shard& shard);
// The numbers of the selected instances, in order.
std::vector<std::int32_t> selected_numbers(const std::vector<bool>& selected);
// The task (from 1) of N that holds the instance at `position` (from 0) of the selected list.
std::int32_t shard_of(std::size_t position, std::int32_t count);
// Increasing numbers as "1-3,7,9-10"; "" for none.
std::string number_list(const std::vector<std::int32_t>& numbers);
