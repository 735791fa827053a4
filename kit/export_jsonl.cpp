// JSON Lines: one instance per line,
//   {"instance":k,"object":{"length":L,"width":W},"parameters":{...},
//    "items":[{"length":l,"width":w,"area":a},...],
//    "objects":[{"defects":[{"x":x1,"y":y1,"length":x2-x1,"width":y2-y1},...]},...]}
// with "parameters" (every answer) only when the set was named by its answers. The line is
// written as the objects come from the reader, so no instance is ever held whole.
#include "export.h"
#include "progress.h"

#include <charconv>
#include <cmath>

namespace {

// Bytes gathered before they are handed to the file.
constexpr std::size_t flush_size = std::size_t{1} << 20;

void append_float(std::string& out, float value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

// A file name as a JSON string: quotes, backslashes and control characters escaped.
void append_string(std::string& out, const char* text) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (const char* c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += *c;
        } else if (byte < 0x20) {
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
    out += ",\"defects_file\":";
    if (p.no_def_type > 0) {
        append_string(out, p.defectfilename);
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
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

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
    bool first = true;
    for (const Item& item : head.items) {
        out += first ? "{\"length\":" : ",{\"length\":";
        first = false;
        append_number(out, item.length);
        out += ",\"width\":";
        append_number(out, item.width);
        out += ",\"area\":";
        append_number(out, item.area);
        out += '}';
    }
    out += "],\"objects\":[";
}

void append_jsonl_object(std::string& out, const std::vector<Defect>& defects, bool first) {
    out += first ? "{\"defects\":[" : ",{\"defects\":[";
    bool first_defect = true;
    for (const Defect& d : defects) {
        out += first_defect ? "{\"x\":" : ",{\"x\":";
        first_defect = false;
        append_number(out, d.x1);
        out += ",\"y\":";
        append_number(out, d.y1);
        out += ",\"length\":";
        append_number(out, d.x2 - d.x1);
        out += ",\"width\":";
        append_number(out, d.y2 - d.y1);
        out += '}';
    }
    out += "]}";
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
    buffer.reserve(flush_size + (std::size_t{1} << 16));
    InstanceHead head;
    std::vector<Defect> defects;
    Progress progress;
    start_progress(progress, "export", reader.bytes_total);
    while (!target.failed && next_instance(reader, head)) {
        const bool wanted = options.instance == 0 || head.number == options.instance;
        if (wanted) {
            run.found = true;
            append_jsonl_head(buffer, *run.kit, head);
        }
        bool first = true;
        while (next_object(reader, defects)) {
            if (wanted) {
                append_jsonl_object(buffer, defects, first);
                first = false;
                if (buffer.size() >= flush_size) {
                    write_target(target, buffer);
                    buffer.clear();
                    if (target.failed) {
                        break;
                    }
                }
            }
        }
        if (!reader.problem.empty()) {
            break;
        }
        if (wanted) {
            append_jsonl_end(buffer);
            write_target(target, buffer);
            buffer.clear();
        }
        show_progress(progress, reader.bytes_done);
        if (options.instance != 0 && head.number >= options.instance) {
            break;
        }
    }
    end_progress(progress);
    if (!reader.problem.empty()) {
        abandon_target(target);
        return 1;
    }
    if (options.instance != 0 && !run.found) {
        abandon_target(target); // the caller reports the instance that is not there
        return 0;
    }
    return close_target(target) ? 0 : 2;
}
