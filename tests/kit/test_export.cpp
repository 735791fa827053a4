// The export formats on records in memory: a JSON Lines line of the README's example
// instance, checked whole and against the JSON Schema file, and the folder names.
#include "dialogue.h"
#include "commands/export.h"
#include "output_sink.h"
#include "stats_export_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

namespace {

// The README's example: seed 12, one instance, two objects of 100 x 100, five items.
KitSet readme_example_set(bool from_answers) {
    KitSet kit;
    std::istringstream answers("1 2 100 100 5 0.01 0.15 3 5 4 10 10 20 3 1 3 items.txt "
                               "defects.txt 12");
    std::ostringstream prompts;
    EXPECT_EQ(run_dialogue(answers, prompts, kit.params, OutputSink{}).end, RunEnd::completed);
    kit.from_answers = from_answers;
    return kit;
}

InstanceHead readme_example_items() {
    InstanceHead head;
    head.number = 1;
    head.items = {
        {13, 71, 923, 1}, {24, 34, 816, 2}, {35, 28, 980, 3}, {9, 33, 297, 4}, {24, 17, 408, 5}};
    return head;
}

const std::vector<std::vector<Defect>> readme_example_objects = {
    {{58, 32, 68, 42, 3}}, {{9, 58, 14, 62, 6}, {1, 23, 21, 26, 7}, {16, 15, 21, 19, 8}}};

std::string line_of(const KitSet& kit) {
    std::string line;
    append_jsonl_head(line, kit, readme_example_items());
    bool first = true;
    for (const std::vector<Defect>& defects : readme_example_objects) {
        append_jsonl_object(line, defects, first);
        first = false;
    }
    append_jsonl_end(line);
    return line;
}

const char* const items_and_objects =
    R"("items":[{"length":13,"width":71,"area":923},{"length":24,"width":34,"area":816},)"
    R"({"length":35,"width":28,"area":980},{"length":9,"width":33,"area":297},)"
    R"({"length":24,"width":17,"area":408}],)"
    R"("objects":[{"defects":[{"x":58,"y":32,"length":10,"width":10}]},)"
    R"({"defects":[{"x":9,"y":58,"length":5,"width":4},{"x":1,"y":23,"length":20,"width":3},)"
    R"({"x":16,"y":15,"length":5,"width":4}]}]})"
    "\n";

TEST(ExportJsonl, TheReadmeExampleInstanceWholeAndValid) {
    const std::string with_answers = line_of(readme_example_set(true));
    EXPECT_EQ(with_answers,
              std::string(R"({"instance":1,"object":{"length":100,"width":100},)"
                          R"("parameters":{"instances":1,"objects":2,)"
                          R"("object":{"length":100,"width":100},"items":5,)"
                          R"("min_relative_size":0.01,"max_relative_size":0.15,)"
                          R"("min_area":100,"max_area":1500,)"
                          R"("defect_types":[{"length":5,"width":4},{"length":10,"width":10},)"
                          R"({"length":20,"width":3}],"min_defects":1,"max_defects":3,)"
                          R"("items_file":"items.txt","defects_file":"defects.txt","seed":12},)") +
                  items_and_objects);
    const std::string without = line_of(readme_example_set(false));
    EXPECT_EQ(without, std::string(R"({"instance":1,"object":{"length":100,"width":100},)") +
                           items_and_objects);

    const TempFolder folder("jsonl_schema");
    write_text(folder.path / "export.jsonl", with_answers + without);
    expect_valid_jsonl(folder.path / "export.jsonl");
    // The schema catches what it is there for: a defect with a member it does not know.
    std::string damaged = without;
    damaged.replace(damaged.find("\"x\":58"), 6, "\"x1\":58");
    write_text(folder.path / "damaged.jsonl", damaged);
    EXPECT_NE(validate_jsonl(folder.path / "damaged.jsonl"), 0);
}

TEST(ExportPackingSolver, FolderNamesHaveTheDigitsOfTheLargest) {
    struct Case {
        std::int32_t number, largest;
        const char* name;
    };
    for (const Case& c : {Case{1, 1, "instance-1"}, Case{7, 9, "instance-7"},
                          Case{7, 200, "instance-007"}, Case{200, 200, "instance-200"},
                          Case{12, 20000, "instance-00012"}, Case{10, 10, "instance-10"}}) {
        EXPECT_EQ(instance_folder(c.number, c.largest), c.name) << c.number << " " << c.largest;
    }
}

// The numbers of the exports, written digit pair by digit pair below 10000, against
// std::to_string: every number up to past that bound, and the ends of the range.
TEST(ExportNumbers, WrittenAsToStringWritesThem) {
    std::vector<std::int64_t> numbers = {-1,
                                         -9999,
                                         99999,
                                         1000000,
                                         2147483647,
                                         std::numeric_limits<std::int64_t>::min(),
                                         std::numeric_limits<std::int64_t>::max()};
    for (std::int64_t n = 0; n <= 20000; ++n) {
        numbers.push_back(n);
    }
    std::string all;
    std::string expected;
    for (const std::int64_t n : numbers) {
        char text[20];
        const std::string one(text, put_number(text, n));
        ASSERT_EQ(one, std::to_string(n));
        append_number(all, n);
        all += ',';
        expected += std::to_string(n) + ',';
    }
    EXPECT_EQ(all, expected);
}

} // namespace
