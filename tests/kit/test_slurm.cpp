// defectkit run --slurm against a real one-node SLURM cluster, which the CTest fixture
// SlurmCluster starts once before these tests and stops after them, also when one fails
// (slurm_cluster.sh): an array waited for gives the table of a local run, and a task
// cancelled while it runs leaves its instance missing until the line results prints runs it.
#include "campaign_support.h"
#include "set_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

// The number after `after` in the text ("" when there is none).
std::string number_after(const std::string& text, const std::string& after) {
    const std::size_t at = text.find(after);
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t from = at + after.size();
    return text.substr(from, text.find_first_not_of("0123456789", from) - from);
}

class Slurm : public ::testing::Test {
protected:
    std::string folder;
    std::string solver;
    void SetUp() override {
        std::string cluster = read_whole_file(DEFECTKIT_SLURM_STATE);
        cluster = cluster.substr(0, cluster.find('\n'));
        if (cluster.empty() || cluster == "none") {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") {
                FAIL() << "no SLURM cluster: the fixture SlurmClusterStart did not start one";
            }
            GTEST_SKIP() << "no SLURM cluster here (slurm-wlm, munge and root are needed)";
        }
        ::setenv("SLURM_CONF", (cluster + "/slurm.conf").c_str(), 1);
        folder = make_folder();
        solver = campaign_solver(folder);
    }
    void TearDown() override {
        if (!folder.empty()) {
            remove_folder(folder);
        }
    }
    // A run of the set named by absolute paths, as the array's tasks name it.
    std::string local_table(int instances) const {
        const KitRun run = run_kit_in(
            folder, "run --object 10x10 --items " + folder + "/items.txt --defects " + folder +
                        "/defects.txt --out L" + std::to_string(instances) + " --jobs 1 " + solver);
        EXPECT_EQ(run.err, "");
        return mask_measured(
            read_whole_file(folder + "/L" + std::to_string(instances) + "/results.csv"));
    }
    // Waits (two minutes at most) until squeue shows no task of the job.
    void wait_for_job(const std::string& job) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (std::chrono::steady_clock::now() < until) {
            const KitRun q = run_shell_in(folder, "squeue --noheader --array --jobs=" + job);
            if (q.status == 0 && q.out.empty()) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        ADD_FAILURE() << "job " << job << " has not ended after two minutes";
    }
};

const char* const six_summary = R"(instances       6 done, 0 missing
run             6 ok
placement       4 feasible, 2 infeasible
profit / bound  mean 0.804878, min 0.609756, 2 at the bound (proven optimal)
wall time -
not ok or not feasible:
  instance 2: run ok, placement infeasible: work/2/placement.csv:3: item 1 overlaps defect 0 of object 0 (x 8 to 10, y 8 to 10, line 8 of FOLDER/defects.txt)
  instance 5: run ok, placement infeasible: work/5/placement.csv:3: item 1 overlaps defect 0 of object 0 (x 8 to 10, y 8 to 10, line 23 of FOLDER/defects.txt)
)";

// Two tasks submitted and waited for: each instance runs once, and the merged table is
// that of one local run.
TEST_F(Slurm, ArrayGivesTheTableOfALocalRun) {
    write_campaign_set(folder, 6);
    const KitRun run = run_kit_in(folder, std::string("run ") + campaign_set + " --out D " +
                                              solver + " --slurm --shards 2 --wait");
    EXPECT_EQ(run.status, 1) << run.err; // instances 2 and 5 are infeasible
    EXPECT_EQ(run.err, "");
    const std::string job = number_after(run.out, "submitted job array ");
    EXPECT_EQ(replace_all(mask_wall(run.out), folder, "FOLDER"),
              "FOLDER/D/run.sbatch: a job array of 2 tasks of at most 3 instances each\n"
              "submitted job array " +
                  job + "; defectkit results FOLDER/D tells what it has done\n" + six_summary);
    EXPECT_EQ(sorted_calls(folder), "123456");
    EXPECT_EQ(folder_names(folder + "/D/slurm"), job + "_1.out\n" + job + "_2.out\narray.json\n");
    EXPECT_EQ(mask_measured(read_whole_file(folder + "/D/results.csv")), local_table(6));
}

const char* const cancelled_summary = R"(instances       3 done, 1 missing
run             3 ok
placement       2 feasible, 1 infeasible
profit / bound  mean 0.804878, min 0.609756, 1 at the bound (proven optimal)
wall time -
not ok or not feasible:
  instance 2: run ok, placement infeasible: work/2/placement.csv:3: item 1 overlaps defect 0 of object 0 (x 8 to 10, y 8 to 10, line 8 of FOLDER/defects.txt)
missing         4
to run them     sbatch --array=2 FOLDER/D/run.sbatch
)";

// Task 2 (instances 2 and 4) cancelled while instance 4's solver runs: results names 4 and
// the line that runs task 2 again, which runs 4 alone and completes the table.
TEST_F(Slurm, CancelledTaskIsNamedAndItsLineCompletesTheTable) {
    write_campaign_set(folder, 4);
    write_file(folder + "/hold", "4\n");
    const KitRun run = run_kit_in(folder, std::string("run ") + campaign_set + " --out D " +
                                              solver + " --slurm --shards 2 --submit");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string job = number_after(run.out, "submitted job array ");
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (read_whole_file(folder + "/calls").find("4\n") == std::string::npos &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(run_shell_in(folder, "scancel " + job + "_2").status, 0);
    wait_for_job(job);
    const KitRun cancelled = run_kit_in(folder, "results D");
    EXPECT_EQ(cancelled.status, 1);
    EXPECT_EQ(replace_all(mask_wall(cancelled.out), folder, "FOLDER"), cancelled_summary);

    std::remove((folder + "/hold").c_str());
    ASSERT_NE(cancelled.out.find("sbatch --array="), std::string::npos);
    const std::string line = cancelled.out.substr(cancelled.out.find("sbatch --array="));
    const KitRun again = run_shell_in(folder, line);
    EXPECT_EQ(again.status, 0) << again.err;
    wait_for_job(number_after(again.out, "Submitted batch job "));
    EXPECT_EQ(sorted_calls(folder), "12344");
    const KitRun whole = run_kit_in(folder, "results D");
    EXPECT_EQ(whole.status, 1);
    EXPECT_EQ(mask_measured(read_whole_file(folder + "/D/results.csv")), local_table(4));
}

} // namespace
