// The files of the run folder: results as JSON, the manifest claimed once, the tables.
#include "run/run_folder.h"

#include "output/safe_output.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;
using nlohmann::ordered_json;

nlohmann::ordered_json result_json(const InstanceResult& r) {
    const bool feasible = r.placement == "feasible";
    const bool has_message = r.placement == "infeasible" || r.placement == "unreadable";
    ordered_json j;
    j["instance"] = r.instance;
    j["items"] = r.items;
    j["item_area"] = r.item_area;
    j["objects"] = r.objects;
    j["bound"] = r.bound;
    j["run"] = r.run;
    j["signal"] = r.signal != 0 ? json(r.signal) : json(nullptr);
    j["exit_code"] = r.exit_code >= 0 ? json(r.exit_code) : json(nullptr);
    j["placement"] = r.placement;
    j["message"] = has_message ? json(r.message) : json(nullptr);
    j["profit"] = feasible ? json(r.profit) : json(nullptr);
    j["items_placed"] = feasible ? json(r.items_placed) : json(nullptr);
    j["objects_used"] = feasible ? json(r.objects_used) : json(nullptr);
    const double gap =
        r.bound > 0 ? static_cast<double>(r.bound - r.profit) / static_cast<double>(r.bound) : 0.0;
    j["gap"] = feasible ? json(gap) : json(nullptr);
    j["wall_s"] = r.wall_s;
    j["cpu_s"] = r.cpu_s;
    j["max_rss_kb"] = r.max_rss_kb;
    j["stdout_bytes"] = r.stdout_bytes;
    j["stderr_bytes"] = r.stderr_bytes;
    return j;
}

const std::vector<std::string>& result_columns() {
    static const std::vector<std::string> columns = {
        "instance", "items",        "item_area",    "objects",     "bound",
        "run",      "signal",       "exit_code",    "placement",   "message",
        "profit",   "items_placed", "objects_used", "gap",         "wall_s",
        "cpu_s",    "max_rss_kb",   "stdout_bytes", "stderr_bytes"};
    return columns;
}

std::string instance_name(std::int32_t number, std::int32_t largest) {
    const std::string digits = std::to_string(number);
    const std::size_t width = std::to_string(largest).size();
    return digits.size() < width ? std::string(width - digits.size(), '0') + digits : digits;
}

namespace {

// Unique to this process on this machine: shards on several machines share DIR.
std::string temporary_name(const std::string& path) {
    const fs::path p(path);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::string name = ".";
    name += p.filename().string();
    name += ".tmp.";
    name += host;
    name += ".";
    name += std::to_string(::getpid());
    return (p.parent_path() / name).string();
}

bool write_temporary(const std::string& temporary, const std::string& text) {
    OutputTarget target;
    if (!open_target(target, temporary, InputPaths{})) {
        return false;
    }
    write_target(target, text);
    return close_target(target); // a failed write is reported and the file removed
}

std::string read_text_file(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    ok = static_cast<bool>(in) || in.eof();
    return bytes.str();
}

} // namespace

bool write_file_whole(const std::string& path, const std::string& text) {
    const std::string temporary = temporary_name(path);
    if (!write_temporary(temporary, text)) {
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        std::cerr << "defectkit: cannot write " << path << ": " << std::strerror(errno) << "\n";
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool read_manifest(const std::string& dir, json& manifest) {
    const std::string path = dir + "/manifest.json";
    bool ok = false;
    const std::string text = read_text_file(path, ok);
    manifest = json::parse(text, nullptr, false);
    if (!ok || text.empty() || manifest.is_discarded() || !manifest.is_object()) {
        std::cerr << "defectkit: " << path
                  << ": not the manifest of a run folder (defectkit run writes it)\n";
        return false;
    }
    return true;
}

namespace {

// The settings that must match for results to be comparable.
const char* const compared[] = {"set",   "solver",          "format",        "time_limit",
                                "grace", "memory_limit_mb", "allow_rotation"};

int compare_manifest(const std::string& dir, const std::string& shown,
                     const ordered_json& manifest) {
    json held;
    if (!read_manifest(dir, held)) {
        return 2;
    }
    for (const char* key : compared) {
        const json mine = json::parse(manifest.value(key, ordered_json()).dump());
        if (held.contains(key) && held[key] == mine) {
            continue;
        }
        const std::string what =
            std::string(key) == "set"
                ? std::string("another set")
                : std::string(key) + " " + held.value(key, json()).dump() + ", here " + mine.dump();
        std::cerr << "defectkit: " << shown << " holds the results of other settings (" << what
                  << "); results of different settings never mix: give another --out\n";
        return 2;
    }
    return 0;
}

} // namespace

int claim_manifest(const std::string& dir, const std::string& shown, const ordered_json& manifest) {
    const std::string path = dir + "/manifest.json";
    if (::access(path.c_str(), F_OK) == 0) {
        return compare_manifest(dir, shown, manifest);
    }
    const std::string temporary = temporary_name(path);
    if (!write_temporary(temporary, manifest.dump(2) + "\n")) {
        return 2;
    }
    // A hard link never replaces a manifest that another run made meanwhile.
    const int linked = ::link(temporary.c_str(), path.c_str());
    const int error = errno;
    ::unlink(temporary.c_str());
    if (linked == 0) {
        return 0;
    }
    if (error == EEXIST) {
        return compare_manifest(dir, shown, manifest);
    }
    std::cerr << "defectkit: cannot write " << path << ": " << std::strerror(error) << "\n";
    return 2;
}

bool read_results(const std::string& dir, std::vector<json>& results) {
    std::map<std::int64_t, json> found;
    std::error_code error;
    for (fs::directory_iterator it(dir + "/results", error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.' || it->path().extension() != ".json") {
            continue; // a temporary name, or not a result
        }
        bool ok = false;
        const std::string text = read_text_file(it->path().string(), ok);
        json result = json::parse(text, nullptr, false);
        if (!ok || result.is_discarded() || !result.is_object() ||
            !result.value("instance", json()).is_number_integer()) {
            std::cerr << "defectkit: " << it->path().string()
                      << ": not a result of defectkit run\n";
            return false;
        }
        const auto number = result["instance"].get<std::int64_t>();
        found[number] = std::move(result);
    }
    if (error) {
        std::cerr << "defectkit: cannot read " << dir << "/results: " << error.message() << "\n";
        return false;
    }
    results.clear();
    for (auto& [number, result] : found) {
        results.push_back(std::move(result));
    }
    return true;
}

namespace {

std::string csv_cell(const json& value) {
    if (value.is_null()) {
        return "";
    }
    if (!value.is_string()) {
        return value.dump();
    }
    const std::string text = value.get<std::string>();
    if (text.find_first_of(",\"\n\r") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

} // namespace

bool write_tables(const std::string& dir, const std::vector<json>& results) {
    std::string csv;
    std::string jsonl;
    for (const std::string& column : result_columns()) {
        csv += csv.empty() ? column : "," + column;
    }
    csv += "\n";
    for (const json& result : results) {
        bool first = true;
        for (const std::string& column : result_columns()) {
            if (!first) {
                csv += ',';
            }
            csv += csv_cell(result.value(column, json()));
            first = false;
        }
        csv += '\n';
        ordered_json line;
        for (const std::string& column : result_columns()) {
            line[column] = result.value(column, json());
        }
        jsonl += line.dump() + "\n";
    }
    return write_file_whole(dir + "/results.csv", csv) &&
           write_file_whole(dir + "/results.jsonl", jsonl);
}
