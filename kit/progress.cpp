// Placeholder until this job is built.
#include "progress.h"
void start_progress(Progress&, std::string, std::uint64_t) {}
void show_progress(Progress&, std::uint64_t) {}
void end_progress(Progress&) {}
