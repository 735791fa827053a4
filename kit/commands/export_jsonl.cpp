// JSON Lines: one instance per line,
//   {"instance":k,"object":{"length":L,"width":W},"parameters":{...},
//    "items":[{"length":l,"width":w,"area":a},...],
//    "objects":[{"defects":[{"x":x1,"y":y1,"length":x2-x1,"width":y2-y1},...]},...]}
// with "parameters" (every answer) only when the set was named by its answers. The line is
// written as the objects come from the reader, so no instance is ever held whole.
#include "commands/export.h"
#include "number_format.h"
#include "output/json_name.h"
#include "output/progress.h"
#include "output/write_behind.h"
#include "read/set_reader.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// Bytes gathered before they are handed to the file.
constexpr std::size_t flush_size = std::size_t{1} << 20;

// Two digits at a time, from the generator's table of them.
char* put_pair(char* at, std::uint32_t value) {
    std::memcpy(at, &digit_pairs[2 * value], 2);
    return at + 2;
}

// Numbers below 10000 (the rule: sizes and corners of defects and items) are written digit
// pair by digit pair; larger and negative ones by std::to_chars. Room for 20 characters.
// Inline in the loops over defects below; put_number is the same for other callers.
inline char* write_number(char* at, std::int64_t value) {
    if (value < 0 || value >= 10000) {
        return std::to_chars(at, at + 20, value).ptr;
    }
    const auto v = static_cast<std::uint32_t>(value);
    if (v < 10) {
        *at = static_cast<char>('0' + v);
        return at + 1;
    }
    if (v < 100) {
        return put_pair(at, v);
    }
    if (v < 1000) {
        *at = static_cast<char>('0' + v / 100);
        return put_pair(at + 1, v % 100);
    }
    return put_pair(put_pair(at, v / 100), v % 100);
}

} // namespace

char* put_number(char* at, std::int64_t value) {
    return write_number(at, value);
}

namespace {

void append_float(std::string& out, float value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

// A file name as a JSON string: quotes, backslashes and control characters escaped; a name
// that is not UTF-8 has each byte from 0x80 written as \u00XX (json_name.h).
void append_string(std::string& out, const char* text) {
    static const char hex[] = "0123456789abcdef";
    const bool utf8 = is_utf8(text);
    out += '"';
    for (const char* c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += *c;
        } else if (byte < 0x20 || (byte >= 0x80 && !utf8)) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += *c;
        }
    }
    out += '"';
}

void append_size(std::string& out, std::int64_t length, std::int64_t width) {
    out += "{\"length\":";
    append_number(out, length);
    out += ",\"width\":";
    append_number(out, width);
    out += '}';
}

void append_parameters(std::string& out, const RunParams& p) {
    out += "\"parameters\":{\"instances\":";
    append_number(out, p.no_instances);
    out += ",\"objects\":";
    append_number(out, p.no_objects);
    out += ",\"object\":";
    append_size(out, p.object.length, p.object.width);
    out += ",\"items\":";
    append_number(out, p.no_items);
    out += ",\"min_relative_size\":";
    append_float(out, p.minrelsize);
    out += ",\"max_relative_size\":";
    append_float(out, p.maxrelsize);
    out += ",\"min_area\":";
    append_number(out, p.minarea);
    out += ",\"max_area\":";
    append_number(out, p.maxarea);
    out += ",\"defect_types\":[";
    for (std::int32_t t = 0; t < p.no_def_type && t < MAXDEF; ++t) {
        if (t > 0) {
            out += ',';
        }
        append_size(out, p.defect[static_cast<std::size_t>(t)].length,
                    p.defect[static_cast<std::size_t>(t)].width);
    }
    out += "],\"min_defects\":";
    append_number(out, p.mindefects);
    out += ",\"max_defects\":";
    append_number(out, p.maxdefects);
    out += ",\"items_file\":";
    append_string(out, p.filename);
    if (!is_utf8(p.filename)) {
        out += ",\"items_file_not_utf8\":true";
    }
    out += ",\"defects_file\":";
    if (p.no_def_type > 0) {
        append_string(out, p.defectfilename);
        if (!is_utf8(p.defectfilename)) {
            out += ",\"defects_file_not_utf8\":true";
        }
    } else {
        out += "null";
    }
    out += ",\"seed\":";
    append_number(out, p.seed);
    out += "},";
}

} // namespace

void append_number(std::string& out, std::int64_t value) {
    char text[24];
    out.append(text, write_number(text, value));
}

namespace {

// Copies a literal without its terminating zero; the size is known when compiling.
template <std::size_t N> char* put(char* at, const char (&text)[N]) {
    std::memcpy(at, text, N - 1);
    return at + N - 1;
}

// The longest text of one item type: its three members with numbers of 20 characters each.
constexpr std::size_t item_room = sizeof(",{\"length\":,\"width\":,\"area\":}") + 3 * 20;

// The longest text of one defect: its four members with numbers of 20 characters each.
constexpr std::size_t defect_room = sizeof(",{\"x\":,\"y\":,\"length\":,\"width\":}") + 4 * 20;

} // namespace

void append_jsonl_head(std::string& out, const KitSet& kit, const InstanceHead& head) {
    out += "{\"instance\":";
    append_number(out, head.number);
    out += ",\"object\":";
    append_size(out, kit.params.object.length, kit.params.object.width);
    out += ',';
    if (kit.from_answers) {
        append_parameters(out, kit.params);
    }
    out += "\"items\":[";
    // Thousands of item types: written straight into room made for all of them at once.
    const std::size_t start = out.size();
    out.resize(start + head.items.size() * item_room);
    char* at = out.data() + start;
    bool first = true;
    for (const Item& item : head.items) {
        at = first ? put(at, "{\"length\":") : put(at, ",{\"length\":");
        first = false;
        at = write_number(at, item.length);
        at = put(at, ",\"width\":");
        at = write_number(at, item.width);
        at = put(at, ",\"area\":");
        at = write_number(at, item.area);
        at = put(at, "}");
    }
    out.resize(static_cast<std::size_t>(at - out.data()));
    out += "],\"objects\":[";
}

// Millions of defects: written straight into room made for the whole object at once.
void append_jsonl_object(std::string& out, const Defect* defects, std::size_t count, bool first) {
    const std::size_t start = out.size();
    out.resize(start + 32 + count * defect_room);
    char* at = out.data() + start;
    at = first ? put(at, "{\"defects\":[") : put(at, ",{\"defects\":[");
    bool first_defect = true;
    for (const Defect* p = defects; p != defects + count; ++p) {
        const Defect& d = *p;
        at = first_defect ? put(at, "{\"x\":") : put(at, ",{\"x\":");
        first_defect = false;
        at = write_number(at, d.x1);
        at = put(at, ",\"y\":");
        at = write_number(at, d.y1);
        at = put(at, ",\"length\":");
        at = write_number(at, d.x2 - d.x1);
        at = put(at, ",\"width\":");
        at = write_number(at, d.y2 - d.y1);
        at = put(at, "}");
    }
    at = put(at, "]}");
    out.resize(static_cast<std::size_t>(at - out.data()));
}

void append_jsonl_end(std::string& out) {
    out += "]}\n";
}

int export_jsonl(ExportRun& run, SetReader& reader) {
    const ExportOptions& options = *run.options;
    OutputTarget target;
    if (!open_target(target, options.out, run.inputs)) {
        return 2;
    }
    std::string buffer;
    bool first = true;   // the next object is its instance's first
    bool writing = true; // no write has failed
    Progress progress;
    start_progress(progress, "export", reader.bytes_total);
    WriteBehind behind;
    start_write_behind(behind, target);
    // Memory that runs out midway ends the command (in main); the cut file goes first.
    try {
        buffer.reserve(flush_size + (std::size_t{1} << 16));
        read_set(reader, options.instance, progress, [&](const ObjectBatch& batch) {
            if (batch.starts_instance) {
                run.found = true;
                append_jsonl_head(buffer, *run.kit, batch.head);
                first = true;
            }
            const Defect* defects = batch.defects.data();
            for (const std::uint32_t size : batch.sizes) {
                append_jsonl_object(buffer, defects, size, first);
                defects += size;
                first = false;
                if (buffer.size() >= flush_size && !(writing = write_behind(behind, buffer))) {
                    return false;
                }
            }
            if (batch.ends_instance) {
                append_jsonl_end(buffer);
                writing = write_behind(behind, buffer);
            }
            return writing;
        });
    } catch (...) {
        end_write_behind(behind);
        end_progress(progress);
        abandon_target(target);
        throw;
    }
    end_write_behind(behind);
    end_progress(progress);
    if (reader.failed) {
        abandon_target(target);
        return 1;
    }
    if (options.instance != 0 && !run.found) {
        abandon_target(target); // the caller reports the instance that is not there
        return 0;
    }
    return close_target(target) ? 0 : 2;
}
