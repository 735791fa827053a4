#include "output/progress.h"

#include <cstdio>
#include <unistd.h>

namespace {

constexpr auto redraw_interval = std::chrono::milliseconds(200);

} // namespace

void start_progress(Progress& progress, std::string label, std::uint64_t total) {
    progress.shown = ::isatty(STDERR_FILENO) == 1;
    progress.label = std::move(label);
    progress.total = total;
    progress.last = std::chrono::steady_clock::now();
}

void show_progress(Progress& progress, std::uint64_t done) {
    if (!progress.shown) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - progress.last < redraw_interval) {
        return;
    }
    progress.last = now;
    const std::uint64_t percent = progress.total > 0 ? done * 100 / progress.total : 100;
    std::fprintf(stderr, "\r%s: %3llu%% (%llu of %llu MB)", progress.label.c_str(),
                 static_cast<unsigned long long>(percent > 100 ? 100 : percent),
                 static_cast<unsigned long long>(done >> 20),
                 static_cast<unsigned long long>(progress.total >> 20));
    std::fflush(stderr);
}

void end_progress(Progress& progress) {
    if (progress.shown) {
        std::fprintf(stderr, "\r\x1b[K");
        std::fflush(stderr);
    }
}
