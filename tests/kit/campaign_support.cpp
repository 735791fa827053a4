// The set, stub and masks of the campaign tests (campaign_support.h).
#include "campaign_support.h"

#include "set_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>
#include <vector>

void write_campaign_set(const std::string& folder, int instances) {
    std::string items;
    std::string defects;
    for (int k = 1; k <= instances; ++k) {
        items += "2.000000\t8.000000\t16.000000\n5.000000\t5.000000\t25.000000\n\n";
        defects +=
            "instance: " + std::to_string(k) + "\n\n8.000000\t8.000000\t10.000000\t10.000000\n\n\n";
    }
    write_file(folder + "/items.txt", items);
    write_file(folder + "/defects.txt", defects);
}

namespace {

// stub.sh K PLACEMENT FOLDER
const char* const stub = R"sh(echo "$1" >> "$3/calls"
if [ -f "$3/hold" ] && [ "$(cat "$3/hold")" = "$1" ]; then trap '' TERM; while :; do sleep 0.1; done; fi
head='TYPE,ID,COPIES,BIN,X,Y,LX,LY
BIN,0,1,0,0,0,10,10'
case $(($1 % 3)) in
0) printf '%s\nITEM,0,1,0,0,0,2,8\nITEM,1,1,0,2,0,5,5\n' "$head" > "$2" ;;
1) printf '%s\nITEM,1,1,0,0,0,5,5\n' "$head" > "$2" ;;
2) printf '%s\nITEM,1,1,0,5,5,5,5\n' "$head" > "$2" ;;
esac
)sh";

} // namespace

std::string campaign_solver(const std::string& folder) {
    write_file(folder + "/stub.sh", stub);
    return "--solver 'sh " + folder + "/stub.sh {instance} {placement} " + folder + "'";
}

std::string sorted_calls(const std::string& folder) {
    std::string calls = read_whole_file(folder + "/calls");
    calls.erase(std::remove(calls.begin(), calls.end(), '\n'), calls.end());
    std::sort(calls.begin(), calls.end());
    return calls;
}

std::string mask_measured(const std::string& csv) {
    std::istringstream in(csv);
    std::string line;
    std::string out;
    std::vector<bool> masked;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::string cell;
        bool quoted = false;
        for (const char c : line + ",") {
            quoted = c == '"' ? !quoted : quoted;
            if (c == ',' && !quoted) {
                cells.push_back(cell);
                cell.clear();
            } else {
                cell += c;
            }
        }
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (masked.size() < cells.size()) {
                masked.push_back(cells[i] == "wall_s" || cells[i] == "cpu_s" ||
                                 cells[i] == "max_rss_kb");
            } else if (masked[i]) {
                cells[i] = std::string(1, '-');
            }
            if (i > 0) {
                out += ',';
            }
            out += cells[i];
        }
        out += "\n";
    }
    return out;
}

std::string mask_wall(const std::string& summary) {
    const std::size_t at = summary.find("wall time");
    const std::size_t end = summary.find('\n', at);
    return at == std::string::npos ? summary
                                   : summary.substr(0, at) + "wall time -" + summary.substr(end);
}

std::string folder_names(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names) {
        text += name + "\n";
    }
    return text;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

KitRun run_shell_in(const std::string& folder, const std::string& command) {
    write_file(folder + "/.empty", "");
    write_file(folder + "/.command", command + "\n");
    const int status = std::system(
        ("cd '" + folder + "' && timeout 120 sh .command < .empty > .sh-out 2> .sh-err").c_str());
    KitRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = read_whole_file(folder + "/.sh-out");
    run.err = read_whole_file(folder + "/.sh-err");
    return run;
}
