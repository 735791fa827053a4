#include "read/open_set.h"

#include "dialogue.h"
#include "output_sink.h"
#include "read/line_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string_view>
#include <unistd.h>

namespace {

// An answers file is a few kilobytes; one that goes on past this before its last answer
// is not an answers file, and reading it whole would cost memory for nothing.
constexpr std::size_t answers_limit = std::size_t{1} << 20;

// The text without the characters of `tail` that it ends with: a prompt's blank, a
// message's line end.
std::string trimmed(std::string text, std::string_view tail) {
    while (!text.empty() && tail.find(text.back()) != std::string_view::npos) {
        text.pop_back();
    }
    return text;
}

// Reads to the end of the file, not as far as its reported size: a file under /proc
// reports 0 bytes, and one still being written grows while it is read.
bool read_answers(const std::string& path, std::string& text, bool& truncated) {
    int fd = -1;
    std::uint64_t size = 0;
    std::string message;
    if (!open_regular_file(path, fd, size, message)) {
        std::cerr << message << '\n';
        return false;
    }
    // One byte past the limit tells a file that goes on past it.
    text.assign(answers_limit + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            std::cerr << path << ": cannot be read: " << std::strerror(errno) << '\n';
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    truncated = got > answers_limit;
    text.resize(std::min(got, answers_limit));
    text.shrink_to_fit();
    return true;
}

// The generator refuses one file for both; so does defectkit, for every way of naming it
// twice (the same name, ./NAME, a link).
bool distinct_files(const KitSet& set) {
    const OutputSink disk;
    if (set.defects_path.empty() || !names_one_file(disk, set.items_path, set.defects_path)) {
        return true;
    }
    std::cerr << "the items file " << set.items_path << " and the defects file " << set.defects_path
              << " are one file; defectgen writes them as two\n";
    return false;
}

bool open_from_answers(const SetOptions& options, KitSet& set) {
    std::string text;
    bool truncated = false;
    if (!read_answers(options.answers, text, truncated)) {
        return false;
    }
    std::istringstream in(text);
    // The dialogue's console is not shown: its outcome tells the refusal and its question.
    std::ostream nowhere(nullptr);
    RunParams& p = set.params;
    // The names as the generator itself would hold them against each other: on disk,
    // against the current folder.
    const OutputSink disk;
    if (const RunOutcome asked = run_dialogue(in, nowhere, p, disk); asked.end == RunEnd::refused) {
        if (truncated && std::strcmp(asked.message, message::input_ended) == 0) {
            std::cerr << options.answers << ": not an answers file: it goes on past "
                      << (answers_limit >> 20) << " MiB before its last answer\n";
            return false;
        }
        std::cerr << options.answers << ": defectgen refuses these answers at the question \""
                  << trimmed(asked.question, " \n") << "\": " << trimmed(asked.message, "\n")
                  << '\n';
        return false;
    }
    set.from_answers = true;
    set.answers_path = options.answers;
    set.answers_text = std::move(text);
    set.items_path = options.items.empty() ? std::string(p.filename) : options.items;
    if (p.no_def_type > 0) {
        set.defects_path =
            options.defects.empty() ? std::string(p.defectfilename) : options.defects;
    } else if (!options.defects.empty()) {
        std::cerr << "--defects: the answers enter no defect type, so defectgen writes no "
                     "defects file\n";
        return false;
    }
    set.instances = std::max(p.no_instances, 0);
    set.objects_per_instance = std::max(p.no_objects, 0);
    return distinct_files(set);
}

// A positive whole number of at most ten digits; advances `p`.
bool parse_side(const char*& p, const char* end, std::int64_t& value) {
    value = 0;
    const char* start = p;
    while (p < end && *p >= '0' && *p <= '9' && p - start < 10) {
        value = value * 10 + (*p - '0');
        ++p;
    }
    return p > start && (p == end || *p < '0' || *p > '9') && value > 0 && value <= INT32_MAX;
}

// "LxW" whose sides are whole numbers, one of them beyond what a side can be: the side's
// text, else empty.
std::string side_too_large(const std::string& object) {
    const std::size_t x = object.find_first_of("xX");
    if (x == std::string::npos) {
        return {};
    }
    for (const std::string& side : {object.substr(0, x), object.substr(x + 1)}) {
        if (side.empty() || side.find_first_not_of("0123456789") != std::string::npos) {
            return {};
        }
    }
    for (const std::string& side : {object.substr(0, x), object.substr(x + 1)}) {
        const std::size_t digits = side.size() - std::min(side.find_first_not_of('0'), side.size());
        if (digits > 10 || (digits == 10 && side.substr(side.size() - 10) > "2147483647")) {
            return side;
        }
    }
    return {};
}

bool open_from_object(const SetOptions& options, KitSet& set) {
    const char* p = options.object.data();
    const char* end = p + options.object.size();
    std::int64_t length = 0;
    std::int64_t width = 0;
    if (!parse_side(p, end, length) || p == end || (*p != 'x' && *p != 'X') ||
        !parse_side(++p, end, width) || p != end) {
        if (const std::string side = side_too_large(options.object); !side.empty()) {
            std::cerr << "--object " << options.object << ": the side " << side
                      << " is too large: a side is at most 2147483647\n";
            return false;
        }
        std::cerr << "--object " << options.object
                  << ": expected LxW, the object's length and width as positive whole numbers "
                     "(as 1000x1000)\n";
        return false;
    }
    if (length * width > INT32_MAX) {
        std::cerr << "--object " << options.object << ": " << message::object_area << '\n';
        return false;
    }
    if (options.items.empty()) {
        std::cerr << "--object needs --items FILE: without answers nothing names the items file\n";
        return false;
    }
    set.params.object.length = static_cast<std::int32_t>(length);
    set.params.object.width = static_cast<std::int32_t>(width);
    set.params.object.area = static_cast<std::int32_t>(length * width);
    set.items_path = options.items;
    set.defects_path = options.defects;
    set.objects_per_instance =
        options.objects >= 0 ? static_cast<std::int32_t>(options.objects) : -1;
    set.instances = -1;
    return distinct_files(set);
}

} // namespace

bool open_set(const SetOptions& options, KitSet& set) {
    set = KitSet{};
    if (!options.answers.empty()) {
        return open_from_answers(options, set);
    }
    if (!options.object.empty()) {
        return open_from_object(options, set);
    }
    std::cerr << "name the set: the ANSWERS file defectgen read, or --object LxW with --items "
                 "FILE\n";
    return false;
}
