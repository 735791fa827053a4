// defectkit run --shard and --slurm without a cluster: shards that share a set in turn and
// at the same moment, settings that differ refused, the job array's script and plan (its
// tasks run here by hand), and results naming what is missing. test_slurm.cpp runs the
// same against a real SLURM.
#include "campaign_support.h"
#include "run/shard.h"
#include "run/slurm_array.h"
#include "set_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

class Campaign : public ::testing::Test {
protected:
    std::string folder;
    std::string solver;
    void SetUp() override {
        folder = make_folder();
        solver = campaign_solver(folder);
    }
    void TearDown() override { remove_folder(folder); }
    std::string run_words(const std::string& dir, const std::string& more) const {
        return std::string("run ") + campaign_set + " --out " + dir + " " + solver + " " + more;
    }
    std::string calls() const { return read_whole_file(folder + "/calls"); }
};

// The table of instances 2 to 7: 2 and 5 infeasible, 3 and 6 at the bound, 4 and 7 not.
const char* const table_2_to_7 =
    R"csv(instance,items,item_area,objects,bound,run,signal,exit_code,placement,message,profit,items_placed,objects_used,gap,wall_s,cpu_s,max_rss_kb,stdout_bytes,stderr_bytes
2,2,41,1,41,ok,,,infeasible,"work/2/placement.csv:3: item 1 overlaps defect 0 of object 0 (x 8 to 10, y 8 to 10, line 8 of defects.txt)",,,,,-,-,-,0,0
3,2,41,1,41,ok,,,feasible,,41,2,1,0.0,-,-,-,0,0
4,2,41,1,41,ok,,,feasible,,25,1,1,0.3902439024390244,-,-,-,0,0
5,2,41,1,41,ok,,,infeasible,"work/5/placement.csv:3: item 1 overlaps defect 0 of object 0 (x 8 to 10, y 8 to 10, line 23 of defects.txt)",,,,,-,-,-,0,0
6,2,41,1,41,ok,,,feasible,,41,2,1,0.0,-,-,-,0,0
7,2,41,1,41,ok,,,feasible,,25,1,1,0.3902439024390244,-,-,-,0,0
)csv";

// Each shard runs its own instances and sums them up; the tables come with the last one,
// as a run of the whole selection makes them; a shard run again skips what it did.
TEST_F(Campaign, ShardsShareTheSelectedInstances) {
    write_campaign_set(folder, 7);
    const struct {
        const char* shard;
        const char* calls;
        int status;
        const char* summary;
    } shards[] = {
        {"1/3", "2\n5\n", 1,
         "instances       2 done, 0 missing\n"
         "run             2 ok\n"
         "placement       2 infeasible\n"
         "profit / bound  no feasible placement\n"
         "wall time -\n"
         "not ok or not feasible:\n"
         "  instance 2: run ok, placement infeasible: work/2/placement.csv:3: item 1 overlaps "
         "defect 0 of object 0 (x 8 to 10, y 8 to 10, line 8 of defects.txt)\n"
         "  instance 5: run ok, placement infeasible: work/5/placement.csv:3: item 1 overlaps "
         "defect 0 of object 0 (x 8 to 10, y 8 to 10, line 23 of defects.txt)\n"},
        {"2/3", "3\n6\n", 0,
         "instances       2 done, 0 missing\n"
         "run             2 ok\n"
         "placement       2 feasible\n"
         "profit / bound  mean 1.000000, min 1.000000, 2 at the bound (proven optimal)\n"
         "wall time -\n"},
        {"3/3", "4\n7\n", 0,
         "instances       2 done, 0 missing\n"
         "run             2 ok\n"
         "placement       2 feasible\n"
         "profit / bound  mean 0.609756, min 0.609756, 0 at the bound (proven optimal)\n"
         "wall time -\n"},
    };
    for (const auto& s : shards) {
        write_file(folder + "/calls", "");
        EXPECT_FALSE(fs::exists(folder + "/D/results.csv")) << s.shard;
        const KitRun run =
            run_kit_in(folder, run_words("D", "--instances 2-7 --shard " + std::string(s.shard)));
        EXPECT_EQ(run.status, s.status) << s.shard;
        EXPECT_EQ(mask_wall(run.out), s.summary) << s.shard;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(calls(), s.calls);
    }
    write_file(folder + "/calls", "");
    EXPECT_EQ(run_kit_in(folder, run_words("D", "--instances 2-7 --shard 1/3")).status, 1);
    EXPECT_EQ(calls(), "");
    EXPECT_EQ(run_kit_in(folder, run_words("whole", "--instances 2-7")).status, 1);
    EXPECT_EQ(mask_measured(read_whole_file(folder + "/D/results.csv")), table_2_to_7);
    EXPECT_EQ(mask_measured(read_whole_file(folder + "/whole/results.csv")), table_2_to_7);
}

// --shard words that are no K/N of 1 <= K <= N.
TEST_F(Campaign, ShardWordsRefused) {
    write_campaign_set(folder, 2);
    const std::string expected = ": expected K/N with 1 <= K <= N (as 3/10: the third of ten "
                                 "shards)\n";
    for (const char* word : {"0/3", "4/3", "3", "1/+3"}) {
        const KitRun run =
            run_kit_in(folder, run_words("D", "--shard '" + std::string(word) + "'"));
        EXPECT_EQ(run.status, 2) << word;
        EXPECT_EQ(run.err, "defectkit: --shard " + std::string(word) + expected);
    }
    EXPECT_FALSE(fs::exists(folder + "/D"));
}

// Runs defectkit with each argument list in the folder, all released at the same moment;
// their exit statuses, and stderr in FOLDER/.err.I.
std::vector<int> run_together(const std::string& folder, const std::vector<std::string>& args) {
    int gate[2];
    EXPECT_EQ(::pipe(gate), 0);
    std::vector<pid_t> pids;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string command = "exec '" DEFECTKIT_BINARY "' " + args[i] + " > .out." +
                                    std::to_string(i) + " 2> .err." + std::to_string(i);
        const pid_t pid = ::fork();
        if (pid == 0) {
            char byte = 0;
            ::close(gate[1]);
            if (::chdir(folder.c_str()) == 0 && ::read(gate[0], &byte, 1) == 0) {
                ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            }
            ::_exit(127);
        }
        pids.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]); // every child's read ends now
    std::vector<int> statuses;
    for (const pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return statuses;
}

// Four shards started at once create one manifest between them and each run their own
// instances; with two time limits among them, those of the manifest's limit run and the
// others are refused. A shard of other settings started later is refused too.
TEST_F(Campaign, ShardsStartedTogetherAgreeOnOneManifest) {
    write_campaign_set(folder, 7);
    std::vector<std::string> same;
    std::vector<std::string> mixed;
    for (int k = 1; k <= 4; ++k) {
        const std::string shard = " --shard " + std::to_string(k) + "/4";
        same.push_back(run_words("D", "--instances 2-7" + shard));
        mixed.push_back(run_words("M", "--time-limit " + std::to_string(5 + k % 2) + shard));
    }
    // 1/4 holds 2 and 6, 2/4 holds 3 and 7, 3/4 holds 4, 4/4 holds 5: 2 and 5 are infeasible
    EXPECT_EQ(run_together(folder, same), (std::vector<int>{1, 0, 0, 1}));
    EXPECT_EQ(folder_names(folder + "/D"),
              "manifest.json\nresults\nresults.csv\nresults.jsonl\nwork\n");
    EXPECT_EQ(folder_names(folder + "/D/results"),
              "2.json\n3.json\n4.json\n5.json\n6.json\n7.json\n");
    EXPECT_EQ(mask_measured(read_whole_file(folder + "/D/results.csv")), table_2_to_7);

    const std::vector<int> statuses = run_together(folder, mixed);
    const std::string held = read_whole_file(folder + "/M/manifest.json");
    const int limit = held.find("\"time_limit\": 5,") != std::string::npos ? 5 : 6;
    for (int k = 1; k <= 4; ++k) {
        const bool refused = 5 + k % 2 != limit;
        const std::string err = read_whole_file(folder + "/.err." + std::to_string(k - 1));
        EXPECT_EQ(statuses[static_cast<std::size_t>(k - 1)] == 2, refused) << k << ": " << err;
        EXPECT_EQ(err, refused
                           ? "defectkit: M holds the results of other settings (time_limit " +
                                 std::to_string(limit) + ", here " + std::to_string(11 - limit) +
                                 "); results of different settings never mix: give another "
                                 "--out\n"
                           : "");
    }
    EXPECT_EQ(folder_names(folder + "/M"), "manifest.json\nresults\nwork\n");

    write_file(folder + "/calls", "");
    const KitRun later =
        run_kit_in(folder, run_words("D", "--instances 2-7 --shard 1/4 --grace 1"));
    EXPECT_EQ(later.status, 2);
    EXPECT_EQ(later.err, "defectkit: D holds the results of other settings (grace 5.0, here 1.0); "
                         "results of different settings never mix: give another --out\n");
    EXPECT_EQ(calls(), "");
}

const char* const sbatch_text = R"(#!/bin/sh
# defectkit run as a SLURM job array, written by defectkit run --slurm:
# task i of 2 runs the selected instances at positions i - 1, i - 1 + 2, ...
#SBATCH --job-name=defectkit-D
#SBATCH --array=1-2
#SBATCH --time=0-00:06:30
#SBATCH --mem=4256M
#SBATCH --cpus-per-task=2
#SBATCH --partition=short
#SBATCH --account=proj
#SBATCH --output=FOLDER/D/slurm/%A_%a.out
#SBATCH --chdir=FOLDER/D
exec 'DEFECTKIT' run --object 10x10 --items 'FOLDER/items.txt' --defects 'FOLDER/defects.txt' --out 'FOLDER/D' --solver 'sh FOLDER/stub.sh {instance} {placement} FOLDER' --format packingsolver --time-limit 30 --grace 2.5 --jobs 2 --memory-limit 2000 --instances '2-6' --draw-failures --shard "${SLURM_ARRAY_TASK_ID:?run by sbatch as a job array}/2"
)";

const char* const task_2_summary = R"(instances       2 done, 0 missing
run             2 ok
placement       1 feasible, 1 infeasible
profit / bound  mean 1.000000, min 1.000000, 1 at the bound (proven optimal)
wall time -
not ok or not feasible:
  instance 5: run ok, placement infeasible: work/5/placement.csv:3: item 1 overlaps defect 0 of object 0 (x 8 to 10, y 8 to 10, line 23 of FOLDER/defects.txt)
)";

const char* const task_2_json =
    R"j({"instances":5,"done":2,"missing":3,"run":{"ok":2,"timeout":0,"crashed":0,"exit":0,"out-of-memory":0,"not-started":0},"placement":{"feasible":1,"infeasible":1,"missing":0,"unreadable":0},"profit_to_bound":{"mean":1.0,"min":1.0,"at_bound":1},"wall_s":-,"not_ok":[{"instance":5,"run":"ok","placement":"infeasible","message":"work/5/placement.csv:3: item 1 overlaps defect 0 of object 0 (x 8 to 10, y 8 to 10, line 23 of FOLDER/defects.txt)"}],"missing_instances":[2,4,6],"resubmit":"sbatch --array=1 FOLDER/D/run.sbatch"}
)j";

const char* const whole_summary = R"(instances       5 done, 0 missing
run             5 ok
placement       3 feasible, 2 infeasible
profit / bound  mean 0.869919, min 0.609756, 2 at the bound (proven optimal)
wall time -
not ok or not feasible:
  instance 2: run ok, placement infeasible: work/2/placement.csv:3: item 1 overlaps defect 0 of object 0 (x 8 to 10, y 8 to 10, line 8 of FOLDER/defects.txt)
  instance 5: run ok, placement infeasible: work/5/placement.csv:3: item 1 overlaps defect 0 of object 0 (x 8 to 10, y 8 to 10, line 23 of FOLDER/defects.txt)
)";

// --slurm writes the job array and its plan and prints how to submit it; its tasks, run
// here by hand, take the manifest as theirs; results names what is missing and the tasks
// that hold it, and sums up the array's instances once all are done.
TEST_F(Campaign, SlurmScriptTasksAndResults) {
    write_campaign_set(folder, 7);
    const std::string words =
        "--slurm --shards 2 --time-limit 30 --grace 2.5 --memory-limit 2000 --jobs 2 "
        "--cpus-per-task 2 --partition short --account proj --instances 2-6 --draw-failures";
    const KitRun run = run_kit_in(folder, run_words("D", words));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, folder +
                           "/D/run.sbatch: a job array of 2 tasks of at most 3 instances "
                           "each\nsbatch " +
                           folder + "/D/run.sbatch\n");
    const std::string script = read_whole_file(folder + "/D/run.sbatch");
    EXPECT_EQ(replace_all(replace_all(script, DEFECTKIT_BINARY, "DEFECTKIT"), folder, "FOLDER"),
              sbatch_text);
    EXPECT_EQ(folder_names(folder + "/D"), "manifest.json\nresults\nrun.sbatch\nslurm\nwork\n");
    write_file(folder + "/calls", "");
    const KitRun task = run_shell_in(folder, "SLURM_ARRAY_TASK_ID=2 sh D/run.sbatch");
    EXPECT_EQ(task.status, 1) << task.err; // instance 5 is infeasible
    EXPECT_EQ(replace_all(mask_wall(task.out), folder, "FOLDER"), task_2_summary);
    EXPECT_EQ(sorted_calls(folder), "35"); // --jobs 2: in either order
    EXPECT_FALSE(fs::exists(folder + "/D/results.csv"));

    const KitRun partial = run_kit_in(folder, "results D");
    EXPECT_EQ(partial.status, 1);
    EXPECT_EQ(replace_all(mask_wall(partial.out), folder, "FOLDER"),
              std::string(task_2_summary).replace(16, 17, "2 done, 3 missing") +
                  "missing         2,4,6\n"
                  "to run them     sbatch --array=1 FOLDER/D/run.sbatch\n");
    const KitRun json = run_kit_in(folder, "results D --json");
    std::string masked = json.out;
    const std::size_t wall = masked.find("\"wall_s\":{");
    masked.replace(wall + 9, masked.find('}', wall) - wall - 8, "-");
    EXPECT_EQ(replace_all(masked, folder, "FOLDER"), task_2_json);
    ASSERT_EQ(run_shell_in(folder, "SLURM_ARRAY_TASK_ID=1 sh D/run.sbatch").status, 1);
    EXPECT_EQ(sorted_calls(folder), "23456");
    const KitRun whole = run_kit_in(folder, "results D");
    EXPECT_EQ(whole.status, 1);
    EXPECT_EQ(replace_all(mask_wall(whole.out), folder, "FOLDER"), whole_summary);
    const std::string table = replace_all(table_2_to_7, "of defects.txt", "of FOLDER/defects.txt");
    EXPECT_EQ(
        replace_all(mask_measured(read_whole_file(folder + "/D/results.csv")), folder, "FOLDER"),
        table.substr(0, table.rfind("7,2,41")));
}

// The task's --time worked out by hand; never more tasks than instances; a folder that an
// #SBATCH line cannot carry refused.
TEST_F(Campaign, ArrayTimesTasksAndPaths) {
    const struct {
        std::int64_t share, time_limit;
        std::int32_t jobs;
        double grace;
        const char* time;
    } times[] = {
        {1, 60, 1, 5, "0-00:06:24"},    // 66 + 5 + 5 = 76 s, x 1.1 = 83.6 s, + 300 s
        {5, 60, 2, 5, "0-00:09:11"},    // 3 rounds of 76 s x 1.1 = 250.8 s, + 300 s
        {3, 3600, 1, 0, "0-03:43:05"},  // 3 x 3965 s x 1.1 = 13084.5 s, + 300 s
        {40, 3600, 1, 5, "2-00:36:20"}, // 40 x 3970 s x 1.1 = 174680 s, + 300 s
    };
    for (const auto& t : times) {
        EXPECT_EQ(slurm_duration(task_seconds(t.share, t.jobs, t.time_limit, t.grace)), t.time);
    }
    EXPECT_EQ(number_list({1, 2, 3, 7, 9, 10}), "1-3,7,9-10");
    write_campaign_set(folder, 5);
    const KitRun clamped = run_kit_in(folder, run_words("D", "--slurm --shards 9"));
    EXPECT_EQ(clamped.out, folder +
                               "/D/run.sbatch: a job array of 5 tasks of at most 1 instance "
                               "each\nsbatch " +
                               folder + "/D/run.sbatch\n");
    const KitRun spaced = run_kit_in(folder, run_words("'my runs'", "--slurm"));
    EXPECT_EQ(spaced.status, 2);
    EXPECT_EQ(spaced.err, "defectkit: --slurm: " + folder +
                              "/my runs: the folder's path holds white space, a quote, a "
                              "backslash, % or $, which an #SBATCH line cannot carry; give "
                              "another --out\n");
    EXPECT_FALSE(fs::exists(folder + "/my runs"));
}

} // namespace
