#include "output_sink.h"

#include <sys/stat.h>

std::string sink_path(const OutputSink& sink, const std::string& name) {
    const auto found = sink.redirect.find(name);
    return found == sink.redirect.end() ? name : found->second;
}

bool names_one_file(const OutputSink& sink, const std::string& first, const std::string& second) {
    const std::string a = sink_path(sink, first);
    const std::string b = sink_path(sink, second);
    if (sink.kind == SinkKind::memory) {
        return a == b;
    }
    struct stat sa {};
    const bool a_exists = ::stat(a.c_str(), &sa) == 0;
    if (a == b) {
        return !a_exists || S_ISREG(sa.st_mode);
    }
    struct stat sb {};
    return a_exists && ::stat(b.c_str(), &sb) == 0 && S_ISREG(sa.st_mode) &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
