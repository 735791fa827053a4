// The console dialogue: the banner, the fourteen questions, the reading of each answer
// as formatted input reads it, and the checks that refuse an answer at once.
#pragma once

#include "defectgen.h"
#include "output_sink.h"
#include "run_outcome.h"

#include <cstdint>
#include <istream>
#include <ostream>

// How reading one answer ended.
enum class ReadResult {
    ok,
    end_of_input, // nothing but white space before the input ended
    malformed,    // the answer does not start like the number asked for
    out_of_range, // an integer outside the 32-bit range, or a word too long for its buffer
};

// "%d": skips white space, reads an optional sign and the digits that follow, and
// leaves the first character after them unread.
ReadResult read_int(std::istream& in, std::int32_t& value);
// "%f": skips white space, reads the longest prefix that forms a decimal number (or
// inf, infinity, nan) and converts it straight to single precision.
ReadResult read_float(std::istream& in, float& value);
// "%s": skips white space and reads one word into a zero-terminated buffer. A word of
// more than max_filename_length characters is read to its end and refused.
ReadResult read_word(std::istream& in, char (&word)[max_filename_length + 1]);

// Messages of the refusals, each printed through pause-and-exit.
namespace message {
inline constexpr const char* maxmod = "Please recompile code with larger MAXMOD value!\n";
inline constexpr const char* maxdef = "Please recompile code with larger MAXDEF value!\n";
inline constexpr const char* relsize_range = "Value must lie between 0 and 1!";
inline constexpr const char* relsize_order =
    "The upper bound for the relative size must not be smaller than the lower bound!";
inline constexpr const char* defect_positive = "Values must be greater than 0!";
inline constexpr const char* defect_fit = "This defect does not fit onto the large object!";
inline constexpr const char* input_ended = "The input ended before all questions were answered!";
inline constexpr const char* not_integer = "The answer must be an integer number!";
inline constexpr const char* not_number = "The answer must be a number!";
inline constexpr const char* int_range =
    "The answer must be an integer between -2147483648 and 2147483647!";
inline constexpr const char* object_positive =
    "The length and the width of the large object must be greater than 0!";
inline constexpr const char* object_area =
    "The area of the large object must not be larger than 2147483647!";
inline constexpr const char* name_length = "A file name must not be longer than 79 characters!";
inline constexpr const char* same_file =
    "The items file and the defects file must not be the same file!";
} // namespace message

inline constexpr const char* banner =
    "This program generates problem instances of a two-dimensional rectangular Multiple Large "
    "Objects Placement Problem with defects. \nAll dimensions of the generated item types are "
    "integer, thus the dimensions of the large object and the defects should also be entered as "
    "integer numbers. For more details see: the defectgen documentation, README.md in the "
    "defectgen source tree \n \n";

// Prints the banner, asks every question and fills `params`, deriving minarea and
// maxarea. Returns completed when every answer was accepted, else refused with the first
// refusal's message and the question it was refused at. `sink` tells whether the two
// file names would write one file.
RunOutcome run_dialogue(std::istream& in, std::ostream& out, RunParams& params,
                        const OutputSink& sink);

// The item-area range for an object area and the two relative bounds, in single
// precision as the dialogue derives it. Expects a positive area and bounds in (0, 1).
void derive_area_range(RunParams& params);
