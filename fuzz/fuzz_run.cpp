// libFuzzer entry: the input bytes are the whole standard input of one run. The run
// goes through run_program with its files kept in memory, and the console transcript,
// the exit status and both files are checked against properties that hold for every
// input. A violated property traps, so libFuzzer keeps the input as a crash.
//
// The expected texts (banner, prompts, messages) are written out here on purpose instead
// of being taken from the program: a changed text is then caught as well.

#include "fuzz_support.h"
#include "run_driver.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

namespace {

// Small enough that a run asking for gigabytes fails quickly, as on a full disk, yet
// larger than an output slot, so that several slots reach a file before it is full.
constexpr std::size_t file_limit = std::size_t{3} << 20;

// Outputs up to this size are produced a second time to confirm the run is repeatable.
constexpr std::size_t repeat_limit = 64 * 1024;

bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

constexpr const char* banner_text =
    "This program generates problem instances of a two-dimensional rectangular Multiple Large "
    "Objects Placement Problem with defects. \nAll dimensions of the generated item types are "
    "integer, thus the dimensions of the large object and the defects should also be entered as "
    "integer numbers. For more details see: the defectgen documentation, README.md in the "
    "defectgen source tree \n \n";

constexpr const char* closing_text = "\n\nProgram run finished. Enter a number to quit! ";

constexpr const char* item_failure_text =
    " Determination of integer length or width of the small items failed. Please check the "
    "chosen bounds for the relative size as well as the size of the large object!";

// The console output of a run that has read every answer, up to and including the seed
// prompt.
std::string expected_dialogue(const RunParams& p) {
    std::string t = banner_text;
    t += "How many instances do you want to generate? ";
    t += "How many large objects are to be generated per instance? ";
    t += "Choose an integer length for the large object. ";
    t += "Choose an integer width for the large object. ";
    t += "How many small items are to be generated per instance? ";
    t += "Choose a lower bound for the relative size of the item types w.r.t. the size of the "
         "large object between 0 and 1 (e.g. 0.01). ";
    t += "Choose an upper bound for the relative size of the item types w.r.t. the size of the "
         "large object between 0 and 1 (e.g. 0.15). ";
    t += "How many different types of defects per instance do you wish to generate? (NOTE: The "
         "defects might overlap, as the intention is to consider each defect as a single one and "
         "go through them one after the other!) ";
    const std::int32_t types = p.no_def_type < MAXDEF ? p.no_def_type : MAXDEF;
    for (std::int32_t i = 1; i <= types; ++i) {
        t += "Enter an positive integer length and width for defect no. ";
        t += std::to_string(i);
        t += ", separated by a space. ";
    }
    t += "Choose a lower bound for the number of defects per object. ";
    t += "Choose an upper bound for the number of defects per object. ";
    t += "Enter a name for the file to hold the items (e.g. items.txt). ";
    if (p.no_def_type > 0) {
        t += "Enter a name for the file to hold the defects (e.g. defects.txt). ";
    }
    t += "Enter an integer seed (e.g. 12): ";
    return t;
}

// Messages that end a run in the dialogue, before any file exists.
constexpr const char* dialogue_messages[] = {
    "Please recompile code with larger MAXMOD value!\n",
    "Please recompile code with larger MAXDEF value!\n",
    "Value must lie between 0 and 1!",
    "The upper bound for the relative size must not be smaller than the lower bound!",
    "Values must be greater than 0!",
    "This defect does not fit onto the large object!",
    "The input ended before all questions were answered!",
    "The answer must be an integer number!",
    "The answer must be a number!",
    "The answer must be an integer between -2147483648 and 2147483647!",
    "The length and the width of the large object must be greater than 0!",
    "The area of the large object must not be larger than 2147483647!",
    "A file name must not be longer than 79 characters!",
    "The items file and the defects file must not be the same file!",
};

// Reads "<digits>.000000" at `p`, as both files print their whole-numbered floats, and
// stores the number. Negative values never occur in either file.
bool take_number(std::string_view line, std::size_t& p, double& value) {
    const std::size_t start = p;
    double v = 0;
    while (p < line.size() && line[p] >= '0' && line[p] <= '9') {
        v = v * 10 + (line[p] - '0');
        ++p;
    }
    // One digit at least, and no leading zero unless the number is 0.
    if (p == start || (line[start] == '0' && p - start > 1)) {
        return false;
    }
    if (line.substr(p, 7) != ".000000") {
        return false;
    }
    p += 7;
    value = v;
    return true;
}

// Splits "<n>.000000\t<n>.000000..." into `count` numbers; false on any other shape.
template <std::size_t count> bool parse_line(std::string_view line, double (&values)[count]) {
    std::size_t p = 0;
    for (std::size_t k = 0; k < count; ++k) {
        if (k > 0) {
            if (p >= line.size() || line[p] != '\t') {
                return false;
            }
            ++p;
        }
        if (!take_number(line, p, values[k])) {
            return false;
        }
    }
    return p == line.size();
}

// Hands out the lines of a file one by one; every line, the last included, must end
// with "\n".
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {
        require(text.empty() || text.back() == '\n');
    }
    bool done() const { return pos_ == text_.size(); }
    std::string_view next() {
        require(!done());
        const std::size_t end = text_.find('\n', pos_);
        const std::string_view line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return line;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

float as_float(std::int64_t value) {
    return static_cast<float>(value);
}

// How much of the items file a run is known to have written.
enum class Written {
    all,          // a completed run: every block
    whole_blocks, // stopped at an item that could not be repaired: whole earlier blocks
    prefix,       // cut off at the size limit: any prefix of the above
};

// Checks the items file: blocks of no_items lines, each ended by an empty line, every
// line three whole numbers whose area lies in the admissible range.
void check_items_file(const RunParams& p, std::string_view text, Written written) {
    if (written == Written::prefix) {
        // Only the lines that made it whole are checked.
        text = text.substr(0, text.rfind('\n') + 1);
    }
    const std::int64_t items = p.no_items > 0 ? p.no_items : 0;
    const std::int64_t instances = p.no_instances > 0 ? p.no_instances : 0;
    const double low = as_float(p.minarea);
    const double high = as_float(p.maxarea);
    Lines lines(text);
    std::int64_t blocks = 0;
    while (!lines.done()) {
        for (std::int64_t j = 0; j < items; ++j) {
            if (written == Written::prefix && lines.done()) {
                return;
            }
            double v[3];
            require(parse_line(lines.next(), v));
            const double length = v[0];
            const double width = v[1];
            const double area = v[2];
            require(length >= 1 && width >= 1);
            // The printed area is the single-precision image of length * width, and
            // rounding to single precision keeps it within the images of the bounds.
            require(area >= low && area <= high);
            if (length < 16777216.0 && width < 16777216.0) {
                require(area == as_float(static_cast<std::int64_t>(length) *
                                         static_cast<std::int64_t>(width)));
            }
        }
        if (written == Written::prefix && lines.done()) {
            return;
        }
        require(lines.next().empty());
        ++blocks;
    }
    switch (written) {
    case Written::all:
        require(blocks == instances);
        break;
    case Written::whole_blocks:
        require(blocks < instances);
        break;
    case Written::prefix:
        require(blocks <= instances);
        break;
    }
}

// Checks a complete defects file: the instance headers in order, one block per object
// with a number of defects inside the bounds, and every defect one of the types,
// lying on the object.
void check_defects_file(const RunParams& p, std::string_view text) {
    const std::int64_t instances = p.no_instances > 0 ? p.no_instances : 0;
    const std::int64_t objects = p.no_objects > 0 ? p.no_objects : 0;
    std::int64_t least = 0;
    std::int64_t most = 0;
    if (p.mindefects <= p.maxdefects) {
        least = p.mindefects > 0 ? p.mindefects : 0;
        most = p.maxdefects > 0 ? p.maxdefects : 0;
    }
    // Below 2^24 single precision is exact and the coordinates can be checked exactly.
    const bool exact = p.object.length < 16777216 && p.object.width < 16777216;
    std::set<std::pair<double, double>> types;
    for (std::int32_t t = 0; t < p.no_def_type; ++t) {
        const Rectangle& d = p.defect[static_cast<std::size_t>(t)];
        types.emplace(d.length, d.width);
    }
    const double length = as_float(p.object.length);
    const double width = as_float(p.object.width);

    Lines lines(text);
    for (std::int64_t k = 1; k <= instances; ++k) {
        require(lines.next() == "instance: " + std::to_string(k));
        require(lines.next().empty());
        for (std::int64_t o = 0; o < objects; ++o) {
            std::int64_t count = 0;
            for (std::string_view line = lines.next(); !line.empty(); line = lines.next()) {
                double v[4];
                require(parse_line(line, v));
                require(v[0] <= v[2] && v[2] <= length && v[1] <= v[3] && v[3] <= width);
                if (exact) {
                    require(types.count({v[2] - v[0], v[3] - v[1]}) == 1);
                }
                ++count;
            }
            require(count >= least && count <= most);
        }
        require(lines.next().empty());
    }
    require(lines.done());
}

struct Outcome {
    int status = -1;
    std::string transcript;
    MemoryFiles memory;
};

Outcome run(const std::string& input, std::unique_ptr<RunState>& state) {
    state = std::make_unique<RunState>();
    Outcome result;
    result.memory.max_file_size = file_limit;
    OutputSink sink;
    sink.kind = SinkKind::memory;
    sink.memory = &result.memory;
    std::istringstream in(input);
    std::ostringstream out;
    result.status = exit_status(run_program(*state, in, out, sink));
    result.transcript = std::move(out).str();
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<RunState> state;
    const Outcome outcome = run(input, state);
    const RunParams& p = state->params;
    const std::string_view transcript = outcome.transcript;
    const auto& files = outcome.memory.files;

    require(outcome.status == 0 || outcome.status == 1);
    require(transcript.substr(0, std::string_view(banner_text).size()) == banner_text);

    const std::string items_name = p.filename;
    const std::string defects_name = p.defectfilename;
    const bool with_defects = p.no_def_type > 0;

    if (outcome.status == 0) {
        require(transcript == expected_dialogue(p) + closing_text);
        require(p.no_instances <= MAXMOD && p.no_objects <= MAXMOD && p.no_items <= MAXMOD);
        require(p.no_def_type <= MAXDEF && p.maxdefects <= MAXDEF);
        require(p.minrelsize > 0.0f && p.minrelsize <= p.maxrelsize && p.maxrelsize < 1.0f);
        require(p.object.length > 0 && p.object.width > 0);
        for (std::int32_t t = 0; t < p.no_def_type; ++t) {
            const Rectangle& d = p.defect[static_cast<std::size_t>(t)];
            require(d.length > 0 && d.width > 0);
            require(d.length <= p.object.length && d.width <= p.object.width);
        }
        require(files.size() == (with_defects ? 2u : 1u));
        require(files.count(items_name) == 1);
        check_items_file(p, files.at(items_name), Written::all);
        if (with_defects) {
            // One file under both names is refused.
            require(items_name != defects_name);
            require(files.count(defects_name) == 1);
            check_defects_file(p, files.at(defects_name));
        }
    } else {
        bool known = false;
        for (const char* m : dialogue_messages) {
            if (ends_with(transcript, m)) {
                // The dialogue stopped: nothing was asked after the refused answer, and
                // no file exists.
                const std::string_view asked =
                    transcript.substr(0, transcript.size() - std::string_view(m).size());
                require(expected_dialogue(p).compare(0, asked.size(), asked) == 0);
                require(files.empty());
                known = true;
                break;
            }
        }
        if (!known && ends_with(transcript, item_failure_text)) {
            // An item could not be repaired: whole blocks of the earlier instances only,
            // and no defects file.
            require(transcript == expected_dialogue(p) + item_failure_text);
            require(files.size() == 1 && files.count(items_name) == 1);
            check_items_file(p, files.at(items_name), Written::whole_blocks);
            known = true;
        }
        if (!known) {
            // The only other way to stop: a file grew past its limit.
            const std::string prefix = expected_dialogue(p) + "The file ";
            require(transcript.compare(0, prefix.size(), prefix) == 0);
            const std::string_view suffix = " could not be written completely!";
            require(ends_with(transcript, suffix));
            const std::string name(transcript.substr(
                prefix.size(), transcript.size() - prefix.size() - suffix.size()));
            require(name == items_name || (with_defects && name == defects_name));
            require(files.count(name) == 1 && files.at(name).size() == file_limit);
            if (name == items_name) {
                // The run stops before the defect phase.
                require(files.size() == 1);
                check_items_file(p, files.at(name), Written::prefix);
            }
        }
    }

    // The same answers give the same console output and the same files.
    std::size_t total = outcome.transcript.size();
    for (const auto& file : files) {
        total += file.second.size();
    }
    if (total <= repeat_limit) {
        std::unique_ptr<RunState> again_state;
        const Outcome again = run(input, again_state);
        require(again.status == outcome.status);
        require(again.transcript == outcome.transcript);
        require(again.memory.files == files);
    }
    return 0;
}
