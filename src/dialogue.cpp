#include "dialogue.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using traits = std::char_traits<char>;

// White space as the C locale's isspace sees it.
bool is_space(traits::int_type c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(traits::int_type c) {
    return c >= '0' && c <= '9';
}

// Lower-case letter for case-insensitive keywords; anything else unchanged.
traits::int_type lower(traits::int_type c) {
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

// Skips white space. Returns false when the input ends first.
bool skip_space(std::istream& in) {
    for (;;) {
        const traits::int_type c = in.peek();
        if (traits::eq_int_type(c, traits::eof())) {
            return false;
        }
        if (!is_space(c)) {
            return true;
        }
        in.get();
    }
}

// Appends the run of digits at the front of the input to `token`; returns how many.
std::size_t take_digits(std::istream& in, std::string& token) {
    std::size_t count = 0;
    while (is_digit(in.peek())) {
        token.push_back(static_cast<char>(in.get()));
        ++count;
    }
    return count;
}

// Consumes `word` case-insensitively; false at the first character that differs.
bool take_keyword(std::istream& in, const char* word, std::string& token) {
    for (; *word != '\0'; ++word) {
        if (lower(in.peek()) != *word) {
            return false;
        }
        token.push_back(static_cast<char>(in.get()));
    }
    return true;
}

// Reads the characters of a floating-point number into `token`; false when they do
// not form one.
bool take_float_token(std::istream& in, std::string& token) {
    traits::int_type c = in.peek();
    if (c == '+' || c == '-') {
        token.push_back(static_cast<char>(in.get()));
        c = in.peek();
    }
    if (lower(c) == 'i') {
        if (!take_keyword(in, "inf", token)) {
            return false;
        }
        return lower(in.peek()) != 'i' || take_keyword(in, "inity", token);
    }
    if (lower(c) == 'n') {
        return take_keyword(in, "nan", token);
    }
    std::size_t digits = take_digits(in, token);
    if (in.peek() == '.') {
        token.push_back(static_cast<char>(in.get()));
        digits += take_digits(in, token);
    }
    if (digits == 0) {
        return false;
    }
    if (lower(in.peek()) == 'e') {
        token.push_back(static_cast<char>(in.get()));
        if (in.peek() == '+' || in.peek() == '-') {
            token.push_back(static_cast<char>(in.get()));
        }
        if (take_digits(in, token) == 0) {
            return false;
        }
    }
    return true;
}

const char* refusal(ReadResult result, const char* malformed, const char* out_of_range) {
    switch (result) {
    case ReadResult::ok:
        return nullptr;
    case ReadResult::end_of_input:
        return message::input_ended;
    case ReadResult::malformed:
        return malformed;
    case ReadResult::out_of_range:
        return out_of_range;
    }
    return malformed; // not reached: the switch handles every result
}

// The dialogue's console, and the question last asked: the one a refusal is made at.
struct Console {
    std::istream& in;
    std::ostream& out;
    std::string question;
};

// Prompts are shown before the program waits for their answer.
void ask(Console& c, const char* prompt) {
    c.question = prompt;
    c.out << prompt << std::flush;
}

const char* answer_int(std::istream& in, std::int32_t& value) {
    return refusal(read_int(in, value), message::not_integer, message::int_range);
}

const char* ask_int(Console& c, const char* prompt, std::int32_t& value) {
    ask(c, prompt);
    return answer_int(c.in, value);
}

const char* ask_relsize(Console& c, const char* prompt, float& value) {
    ask(c, prompt);
    if (const char* failure =
            refusal(read_float(c.in, value), message::not_number, message::not_number)) {
        return failure;
    }
    if (!(value > 0.0f && value < 1.0f)) {
        return message::relsize_range;
    }
    return nullptr;
}

const char* ask_filename(Console& c, const char* prompt, char (&name)[max_filename_length + 1]) {
    ask(c, prompt);
    return refusal(read_word(c.in, name), message::input_ended, message::name_length);
}

const char* ask_defect_types(Console& c, RunParams& p) {
    for (std::int32_t i = 0; i < p.no_def_type; ++i) {
        const std::string prompt = "Enter an positive integer length and width for defect no. " +
                                   std::to_string(i + 1) + ", separated by a space. ";
        Rectangle& type = p.defect[static_cast<std::size_t>(i)];
        if (const char* failure = ask_int(c, prompt.c_str(), type.length)) {
            return failure;
        }
        if (const char* failure = answer_int(c.in, type.width)) {
            return failure;
        }
        if (type.length <= 0 || type.width <= 0) {
            return message::defect_positive;
        }
        if (type.length > p.object.length || type.width > p.object.width) {
            return message::defect_fit;
        }
        // Both sides fit on the object, whose area fits 32 bits.
        type.area = type.length * type.width;
    }
    return nullptr;
}

} // namespace

ReadResult read_int(std::istream& in, std::int32_t& value) {
    if (!skip_space(in)) {
        return ReadResult::end_of_input;
    }
    bool negative = false;
    traits::int_type c = in.peek();
    if (c == '+' || c == '-') {
        negative = c == '-';
        in.get();
        c = in.peek();
    }
    if (!is_digit(c)) {
        return ReadResult::malformed;
    }
    // All digits are consumed, as "%d" does; the magnitude saturates just past the range.
    constexpr std::uint64_t limit = 2147483648U;
    std::uint64_t magnitude = 0;
    while (is_digit(c)) {
        in.get();
        if (magnitude <= limit) {
            magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
        }
        c = in.peek();
    }
    if (magnitude > limit || (!negative && magnitude == limit)) {
        return ReadResult::out_of_range;
    }
    const auto signed_magnitude = static_cast<std::int64_t>(magnitude);
    value = static_cast<std::int32_t>(negative ? -signed_magnitude : signed_magnitude);
    return ReadResult::ok;
}

ReadResult read_float(std::istream& in, float& value) {
    if (!skip_space(in)) {
        return ReadResult::end_of_input;
    }
    std::string token;
    if (!take_float_token(in, token)) {
        return ReadResult::malformed;
    }
    // Straight to single precision: going through double would round twice.
    value = std::strtof(token.c_str(), nullptr);
    return ReadResult::ok;
}

ReadResult read_word(std::istream& in, char (&word)[max_filename_length + 1]) {
    if (!skip_space(in)) {
        return ReadResult::end_of_input;
    }
    std::size_t length = 0;
    for (traits::int_type c = in.peek(); !traits::eq_int_type(c, traits::eof()) && !is_space(c);
         c = in.peek()) {
        in.get();
        if (length < max_filename_length) {
            word[length] = traits::to_char_type(c);
        }
        ++length;
    }
    if (length > max_filename_length) {
        word[0] = '\0';
        return ReadResult::out_of_range;
    }
    word[length] = '\0';
    return ReadResult::ok;
}

void derive_area_range(RunParams& p) {
    const float area = static_cast<float>(p.object.area);
    const float low = area * p.minrelsize;
    p.minarea = static_cast<std::int32_t>(static_cast<double>(low));
    if (static_cast<double>(p.minarea) != static_cast<double>(low)) {
        p.minarea += 1;
    }
    const float high = area * p.maxrelsize;
    p.maxarea = static_cast<std::int32_t>(static_cast<double>(high));
}

namespace {

// Every question in turn. Returns nullptr when every answer was accepted, else the
// message of the first refusal.
const char* ask_every_question(Console& c, RunParams& p, const OutputSink& sink) {
    c.out << banner;
    if (const char* f =
            ask_int(c, "How many instances do you want to generate? ", p.no_instances)) {
        return f;
    }
    if (p.no_instances > MAXMOD) {
        return message::maxmod;
    }
    if (const char* f =
            ask_int(c, "How many large objects are to be generated per instance? ", p.no_objects)) {
        return f;
    }
    if (p.no_objects > MAXMOD) {
        return message::maxmod;
    }
    if (const char* f =
            ask_int(c, "Choose an integer length for the large object. ", p.object.length)) {
        return f;
    }
    if (p.object.length <= 0) {
        return message::object_positive;
    }
    if (const char* f =
            ask_int(c, "Choose an integer width for the large object. ", p.object.width)) {
        return f;
    }
    if (p.object.width <= 0) {
        return message::object_positive;
    }
    const std::int64_t area = std::int64_t{p.object.length} * p.object.width;
    if (area > INT32_MAX) {
        return message::object_area;
    }
    p.object.area = static_cast<std::int32_t>(area);
    if (const char* f =
            ask_int(c, "How many small items are to be generated per instance? ", p.no_items)) {
        return f;
    }
    if (p.no_items > MAXMOD) {
        return message::maxmod;
    }
    if (const char* f = ask_relsize(
            c,
            "Choose a lower bound for the relative size of the item types w.r.t. the size of the "
            "large object between 0 and 1 (e.g. 0.01). ",
            p.minrelsize)) {
        return f;
    }
    if (const char* f = ask_relsize(
            c,
            "Choose an upper bound for the relative size of the item types w.r.t. the size of the "
            "large object between 0 and 1 (e.g. 0.15). ",
            p.maxrelsize)) {
        return f;
    }
    if (p.minrelsize > p.maxrelsize) {
        return message::relsize_order;
    }
    derive_area_range(p);
    if (const char* f =
            ask_int(c,
                    "How many different types of defects per instance do you wish to "
                    "generate? (NOTE: The defects might overlap, as the intention is to "
                    "consider each defect as a single one and go through them one after "
                    "the other!) ",
                    p.no_def_type)) {
        return f;
    }
    if (p.no_def_type > MAXDEF) {
        return message::maxdef;
    }
    if (const char* f = ask_defect_types(c, p)) {
        return f;
    }
    if (const char* f = ask_int(c, "Choose a lower bound for the number of defects per object. ",
                                p.mindefects)) {
        return f;
    }
    if (const char* f = ask_int(c, "Choose an upper bound for the number of defects per object. ",
                                p.maxdefects)) {
        return f;
    }
    if (p.maxdefects > MAXDEF) {
        return message::maxdef;
    }
    if (const char* f = ask_filename(
            c, "Enter a name for the file to hold the items (e.g. items.txt). ", p.filename)) {
        return f;
    }
    if (p.no_def_type > 0) {
        if (const char* f = ask_filename(
                c, "Enter a name for the file to hold the defects (e.g. defects.txt). ",
                p.defectfilename)) {
            return f;
        }
        // Refused before any file exists: the defects file would replace the items file.
        if (names_one_file(sink, p.filename, p.defectfilename)) {
            return message::same_file;
        }
    }
    return ask_int(c, "Enter an integer seed (e.g. 12): ", p.seed);
}

} // namespace

RunOutcome run_dialogue(std::istream& in, std::ostream& out, RunParams& p, const OutputSink& sink) {
    Console c{in, out, {}};
    RunOutcome outcome;
    if (const char* refusal = ask_every_question(c, p, sink)) {
        outcome.end = RunEnd::refused;
        outcome.message = refusal;
        outcome.question = std::move(c.question);
    }
    return outcome;
}
