#include "stats_export_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

TempFolder::TempFolder(const std::string& name)
    : path(fs::temp_directory_path() / ("defectkit_" + name + "_" + std::to_string(::getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.insert(entry.path().lexically_relative(folder).string() +
                     (entry.is_directory() ? "/" : ""));
    }
    std::string text;
    for (const std::string& name : names) {
        text += name + "\n";
    }
    return text;
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

namespace {

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

} // namespace

ProgramRun run_in(const fs::path& folder, const std::string& command) {
    const fs::path out = folder / ".run_stdout";
    const fs::path err = folder / ".run_stderr";
    const std::string line = "cd " + quoted(folder.string()) + " && { " + command +
                             " ; } </dev/null >" + quoted(out.string()) + " 2>" +
                             quoted(err.string());
    const int status = std::system(line.c_str());
    ProgramRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = read_text(out);
    run.err = read_text(err);
    fs::remove(out);
    fs::remove(err);
    return run;
}

std::string kit(const std::string& args) {
    return std::string(DEFECTKIT_BINARY) + " " + args;
}

void generate(const fs::path& folder, const std::string& answers) {
    write_text(folder / "answers.txt", answers);
    const ProgramRun run =
        run_in(folder, std::string(DEFECTGEN_BINARY) + " < answers.txt > /dev/null");
    ASSERT_EQ(run.status, 0) << run.err;
}

int validate_jsonl(const fs::path& file) {
    static const char* const script = "import json, sys\n"
                                      "try:\n"
                                      "    import jsonschema\n"
                                      "except ImportError:\n"
                                      "    sys.exit(3)\n"
                                      "schema = json.load(open(sys.argv[1]))\n"
                                      "cls = jsonschema.validators.validator_for(schema)\n"
                                      "cls.check_schema(schema)\n"
                                      "validator = cls(schema)\n"
                                      "bad = 0\n"
                                      "for number, line in enumerate(open(sys.argv[2]), 1):\n"
                                      "    for error in validator.iter_errors(json.loads(line)):\n"
                                      "        print('line', number, error.message)\n"
                                      "        bad = 1\n"
                                      "sys.exit(bad)\n";
    const fs::path folder = file.parent_path();
    write_text(folder / ".validate.py", script);
    const ProgramRun run = run_in(folder, "python3 .validate.py " +
                                              quoted(std::string(DEFECTKIT_SOURCE_DIR) +
                                                     "/docs/defectkit-jsonl.schema.json") +
                                              " " + quoted(file.string()));
    fs::remove(folder / ".validate.py");
    if (run.status == 1) {
        std::cerr << run.out;
    }
    return run.status == 0 || run.status == 1 ? run.status : 3;
}

void expect_valid_jsonl(const fs::path& file) {
    const int result = validate_jsonl(file);
    if (result == 3) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") {
            ADD_FAILURE() << "no JSON Schema validator: install python3-jsonschema";
        } else {
            std::cerr << "warning: no JSON Schema validator (python3-jsonschema); " << file
                      << " not validated\n";
        }
        return;
    }
    EXPECT_EQ(result, 0) << file << " does not hold to the schema";
}
