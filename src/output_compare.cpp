// A run's bytes held against an existing file as the output ring hands them over; a
// difference is placed by byte and by line, for defectkit verify to point at.
#include "output_compare.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The line ends among `count` bytes: sixteen at a time where SSE2 is there, each vector's
// tallies summed before they can pass 255.
std::uint64_t count_line_ends(const char* bytes, std::size_t count) {
    std::uint64_t lines = 0;
#if defined(__SSE2__)
    const __m128i line_end = _mm_set1_epi8('\n');
    while (count >= 16) {
        const std::size_t vectors = std::min<std::size_t>(count / 16, 255);
        __m128i tallies = _mm_setzero_si128();
        for (std::size_t v = 0; v < vectors; ++v) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * v));
            tallies = _mm_sub_epi8(tallies, _mm_cmpeq_epi8(block, line_end)); // -1 where equal
        }
        const __m128i sums = _mm_sad_epu8(tallies, _mm_setzero_si128());
        lines += static_cast<std::uint64_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<std::uint64_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
        bytes += 16 * vectors;
        count -= 16 * vectors;
    }
#endif
    return lines + static_cast<std::uint64_t>(std::count(bytes, bytes + count, '\n'));
}

} // namespace

void start_comparison(OutputComparison& out, FileComparison& c, const std::string& path,
                      std::size_t most) {
    c = FileComparison{};
    c.path = path;
    out.result = &c;
    out.compared_bytes = out.compared_lines = 0;
    out.reference = std::fopen(path.c_str(), "rb");
    c.readable = out.reference != nullptr;
    if (c.readable) {
        out.reference_bytes = std::make_unique_for_overwrite<char[]>(most);
    }
}

// Reads as many of the file's bytes as came. After the first difference only the bytes
// are counted. Equal blocks, the rule, are told by memcmp; the place of a difference is
// looked for only in a block that has one.
void compare_bytes(OutputComparison& out, const char* bytes, std::size_t count) {
    FileComparison& c = *out.result;
    const std::uint64_t before = out.compared_bytes;
    out.compared_bytes += count;
    if (!c.readable || c.first_difference != 0) {
        return;
    }
    const std::size_t got = std::fread(out.reference_bytes.get(), 1, count, out.reference);
    if (got < count && std::ferror(out.reference) != 0) {
        c.readable = false;
        return;
    }
    // Where the two differ, or where the existing file ends.
    const char* reference = out.reference_bytes.get();
    const std::size_t same =
        got == count && std::memcmp(bytes, reference, count) == 0
            ? count
            : static_cast<std::size_t>(std::mismatch(bytes, bytes + got, reference).first - bytes);
    out.compared_lines += count_line_ends(bytes, same);
    if (same < count) {
        c.first_difference = before + same + 1;
        c.line = out.compared_lines + 1;
    }
}

// The existing file must end where the run's bytes do.
void finish_comparison(OutputComparison& out) {
    FileComparison& c = *out.result;
    if (c.readable && c.first_difference == 0) {
        char extra = 0;
        if (std::fread(&extra, 1, 1, out.reference) == 1) {
            c.first_difference = out.compared_bytes + 1;
            c.line = out.compared_lines + 1;
        } else if (std::ferror(out.reference) != 0) {
            c.readable = false;
        }
    }
    c.identical = c.readable && c.first_difference == 0;
    close_comparison(out);
}

void close_comparison(OutputComparison& out) {
    if (out.reference != nullptr) {
        std::fclose(out.reference);
        out.reference = nullptr;
    }
    out.reference_bytes.reset();
    out.result = nullptr;
}
