// Progress of long work on stderr, only when stderr is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

struct Progress {
    bool shown = false; // stderr is a terminal
    std::string label;
    std::uint64_t total = 0;
    std::chrono::steady_clock::time_point last{};
};

void start_progress(Progress& progress, std::string label, std::uint64_t total);
// Redraws the line at most a few times a second.
void show_progress(Progress& progress, std::uint64_t done);
// Clears the line.
void end_progress(Progress& progress);
