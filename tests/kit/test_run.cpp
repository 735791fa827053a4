// defectkit run and results, run whole against stub solvers of our own: one shell script
// that acts out a fault per instance of a hand-made set, an interrupted run resumed, other
// settings refused, --instances lists, a file-size limit standing in for a full disk. The
// summary and results.csv are compared whole, with the measured columns (wall and CPU
// time, memory) and the wall time line masked.
#include "campaign_support.h"
#include "run/sha256.h"
#include "set_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// stub.sh K PLACEMENT INPUT FOLDER: a fault per instance; every pid it starts is noted in
// FOLDER/pids, every call in FOLDER/calls.
const char* const stub = R"sh(ulimit -c 0
echo $$ >> "$4/pids"
echo $1 >> "$4/calls"
full='TYPE,ID,COPIES,BIN,X,Y,LX,LY
BIN,0,1,0,0,0,10,10
ITEM,0,1,0,0,0,2,8
ITEM,1,1,0,2,0,5,5'
case $1 in
1) printf '%s\n' "$full" > "$2" ;;
2) printf 'TYPE,ID,COPIES,BIN,X,Y,LX,LY\nBIN,0,1,0,0,0,10,10\nITEM,1,1,0,0,0,5,5\n' > "$2"; echo working ;;
3) printf 'TYPE,ID,COPIES,BIN,X,Y,LX,LY\nBIN,0,1,0,0,0,10,10\nITEM,1,1,0,5,5,5,5\n' > "$2" ;;
4) kill -SEGV $$ ;;
5) echo failing >&2; exit 3 ;;
6) trap '' TERM; while :; do sleep 0.1; done ;;
7) sleep 300 & echo $! >> "$4/pids"; exit 0 ;;
8) setsid sleep 300 & echo $! >> "$4/pids"; sleep 0.2; exit 0 ;;
9) head -c 20000000 /dev/zero ;;
10) printf 'garbage\001\002\n' > "$2" ;;
11) : > "$2" ;;
12) sleep 1.2; printf '%s\n' "$full" > "$2"; sleep 60 ;;
13) rm -rf "$3"; printf '%s\n' "$full" > "$2" ;;
14) /nonexistent/solver 2> /dev/null; exit $? ;;
15) kill -KILL $$ ;;
16) ulimit -v; echo 'std::bad_alloc' >&2; exit 1 ;;
esac
if [ "$(cat "$4/hold" 2> /dev/null)" = "$1" ]; then sleep 30 & echo $! >> "$4/pids"; wait; fi
)sh";

std::string solver(const std::string& folder) {
    return "--solver 'exec sh " + folder + "/stub.sh {instance} {placement} {input} " + folder +
           "'";
}

// Gone, or a zombie that no one waits for yet.
bool gone(pid_t pid) {
    if (::kill(pid, 0) != 0) {
        return true;
    }
    const std::string stat = read_whole_file("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

void expect_no_process_left(const std::string& folder) {
    std::istringstream pids(read_whole_file(folder + "/pids"));
    int count = 0;
    for (pid_t pid = 0; pids >> pid; ++count) {
        EXPECT_TRUE(gone(pid)) << "process " << pid << " of a stub is still there";
    }
    EXPECT_GT(count, 0);
}

class RunFolder : public ::testing::Test {
protected:
    std::string folder;
    void SetUp() override {
        folder = make_folder();
        write_file(folder + "/stub.sh", stub);
    }
    void TearDown() override { remove_folder(folder); }
    std::string run_words(const std::string& more) const {
        return std::string("run ") + campaign_set + " --out D " + solver(folder) + " " + more;
    }
};

const char* const fault_summary = R"(instances       16 done, 0 missing
run             9 ok, 2 timeout, 1 crashed, 1 exit, 2 out-of-memory, 1 not-started
placement       4 feasible, 1 infeasible, 9 missing, 2 unreadable
profit / bound  mean 0.902439, min 0.609756, 3 at the bound (proven optimal)
wall time -
not ok or not feasible:
  instance 3: run ok, placement infeasible: work/03/placement.csv:3: item 1 overlaps defect 0 of object 0 (x 8 to 10, y 8 to 10, line 13 of defects.txt)
  instance 4: run crashed (signal 11), placement missing
  instance 5: run exit (exit code 3), placement missing
  instance 6: run timeout, placement missing
  instance 7: run ok, placement missing
  instance 8: run ok, placement missing
  instance 9: run ok, placement missing
  instance 10: run ok, placement unreadable: work/10/placement.csv:1: the header is not TYPE,ID,COPIES,BIN,X,Y,LX,LY (optionally followed by ,GROUP_ID): is this a placement file?
  instance 11: run ok, placement unreadable: work/11/placement.csv:1: the file is empty: no header TYPE,ID,COPIES,BIN,X,Y,LX,LY
  instance 12: run timeout, placement feasible
  instance 14: run not-started (exit code 127), placement missing
  instance 15: run out-of-memory (signal 9), placement missing
  instance 16: run out-of-memory (exit code 1), placement missing
)";

const char* const fault_csv =
    R"csv(instance,items,item_area,objects,bound,run,signal,exit_code,placement,message,profit,items_placed,objects_used,gap,wall_s,cpu_s,max_rss_kb,stdout_bytes,stderr_bytes
1,2,41,1,41,ok,,,feasible,,41,2,1,0.0,-,-,-,0,0
2,2,41,1,41,ok,,,feasible,,25,1,1,0.3902439024390244,-,-,-,8,0
3,2,41,1,41,ok,,,infeasible,"work/03/placement.csv:3: item 1 overlaps defect 0 of object 0 (x 8 to 10, y 8 to 10, line 13 of defects.txt)",,,,,-,-,-,0,0
4,2,41,1,41,crashed,11,,missing,,,,,,-,-,-,0,0
5,2,41,1,41,exit,,3,missing,,,,,,-,-,-,0,8
6,2,41,1,41,timeout,,,missing,,,,,,-,-,-,0,0
7,2,41,1,41,ok,,,missing,,,,,,-,-,-,0,0
8,2,41,1,41,ok,,,missing,,,,,,-,-,-,0,0
9,2,41,1,41,ok,,,missing,,,,,,-,-,-,20000000,0
10,2,41,1,41,ok,,,unreadable,"work/10/placement.csv:1: the header is not TYPE,ID,COPIES,BIN,X,Y,LX,LY (optionally followed by ,GROUP_ID): is this a placement file?",,,,,-,-,-,0,0
11,2,41,1,41,ok,,,unreadable,"work/11/placement.csv:1: the file is empty: no header TYPE,ID,COPIES,BIN,X,Y,LX,LY",,,,,-,-,-,0,0
12,2,41,1,41,timeout,,,feasible,,41,2,1,0.0,-,-,-,0,0
13,2,41,1,41,ok,,,feasible,,41,2,1,0.0,-,-,-,0,0
14,2,41,1,41,not-started,,127,missing,,,,,,-,-,-,0,0
15,2,41,1,41,out-of-memory,9,,missing,,,,,,-,-,-,0,0
16,2,41,1,41,out-of-memory,,1,missing,,,,,,-,-,-,7,15
)csv";

// Every fault at once, four solvers at a time: each recorded as what it is, no process of
// any left, the logs cut at 10 MB, the inputs removed, the infeasible placement drawn;
// instance 16 prints its address-space limit (100 MB, in KB) and says it ran out.
// SIGTERM comes at 1 x 1.1 + 1.5 s: instance 12 writes its placement at 1.2 s, past its
// time limit, and is stopped; instance 6 ignores SIGTERM and is killed 5 s later.
TEST_F(RunFolder, EveryFaultRecordedAsWhatItIs) {
    write_campaign_set(folder, 16);
    const KitRun run = run_kit_in(
        folder,
        run_words("--time-limit 1 --grace 1.5 --jobs 4 --draw-failures --memory-limit 100"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(mask_wall(run.out), fault_summary);
    EXPECT_EQ(mask_measured(read_whole_file(folder + "/D/results.csv")), fault_csv);
    expect_no_process_left(folder);
    EXPECT_EQ(fs::file_size(folder + "/D/work/09/stdout.txt"), 10u << 20);
    EXPECT_FALSE(fs::exists(folder + "/D/work/01/instance-1"));
    const KitRun drawn = run_kit_in(folder, std::string("draw ") + campaign_set +
                                                " --instance 3 --solution D/work/03/placement.csv "
                                                "--out drawn.svg");
    EXPECT_EQ(read_whole_file(folder + "/D/work/03/placement.svg"),
              read_whole_file(folder + "/drawn.svg"));
    const KitRun again = run_kit_in(folder, "results D");
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(mask_wall(again.out), fault_summary);
}

// defectkit with the arguments in the folder, in the background, after the shell's
// `before` (limits).
pid_t start_kit(const std::string& folder, const std::string& args,
                const std::string& before = "") {
    const std::string command =
        before + "exec '" DEFECTKIT_BINARY "' " + args + " > .kit-out 2> .kit-err < /dev/null";
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(folder.c_str()) == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    return pid;
}

// Waits (a minute at most) until the file has `lines` lines.
void wait_for_lines(const std::string& path, std::size_t lines) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < until) {
        const std::string text = read_whole_file(path);
        if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << path << " never had " << lines << " lines";
}

const char* const two_feasible_csv =
    R"csv(instance,items,item_area,objects,bound,run,signal,exit_code,placement,message,profit,items_placed,objects_used,gap,wall_s,cpu_s,max_rss_kb,stdout_bytes,stderr_bytes
1,2,41,1,41,ok,,,feasible,,41,2,1,0.0,-,-,-,0,0
2,2,41,1,41,ok,,,feasible,,25,1,1,0.3902439024390244,-,-,-,8,0
)csv";

// Interrupted while instance 2's solver runs: that solver group is ended, instance 1's
// result kept, nothing half-written; the same command then runs instance 2 alone.
TEST_F(RunFolder, InterruptedRunKeepsFinishedResultsAndResumes) {
    const struct {
        int signal;
        int status;
        const char* name;
    } cases[] = {{SIGINT, 130, "SIGINT"}, {SIGTERM, 143, "SIGTERM"}};
    write_campaign_set(folder, 2);
    for (const auto& c : cases) {
        remove_folder(folder + "/D");
        write_file(folder + "/calls", "");
        write_file(folder + "/hold", "2\n");
        const pid_t kit = start_kit(folder, run_words(""));
        wait_for_lines(folder + "/calls", 2);
        ::kill(kit, c.signal);
        int status = 0;
        ::waitpid(kit, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.name;
        EXPECT_EQ(read_whole_file(folder + "/.kit-err"),
                  std::string("defectkit: stopped by ") + c.name +
                      "; the finished results are kept, and the same command goes on from them\n");
        EXPECT_EQ(folder_names(folder + "/D/results"), "1.json\n") << c.name;
        expect_no_process_left(folder);
        std::remove((folder + "/hold").c_str());
        const KitRun resumed = run_kit_in(folder, run_words(""));
        EXPECT_EQ(resumed.status, 0) << resumed.err;
        EXPECT_EQ(read_whole_file(folder + "/calls"), "1\n2\n2\n") << c.name;
        EXPECT_EQ(mask_measured(read_whole_file(folder + "/D/results.csv")), two_feasible_csv);
        EXPECT_EQ(folder_names(folder + "/D"),
                  "manifest.json\nresults\nresults.csv\nresults.jsonl\nwork\n");
    }
}

// A folder of other settings is refused before anything runs; the same settings resume
// (here: nothing left to run) and the folder is not touched.
TEST_F(RunFolder, OtherSettingsRefused) {
    write_campaign_set(folder, 2);
    ASSERT_EQ(run_kit_in(folder, run_words("--time-limit 5")).status, 0);
    const std::string tail = "); results of different settings never mix: give another --out\n";
    const struct {
        std::string more;
        std::string message;
    } cases[] = {
        {"--time-limit 6", "time_limit 5, here 6"},
        {"--time-limit 5 --grace 1", "grace 5.0, here 1.0"},
        {"--time-limit 5 --format jsonl", "format \"packingsolver\", here \"jsonl\""},
        {"--time-limit 5 --memory-limit 100", "memory_limit_mb null, here 100"},
        {"--time-limit 5 --allow-rotation", "allow_rotation false, here true"},
    };
    for (const auto& c : cases) {
        const KitRun run = run_kit_in(folder, run_words(c.more));
        EXPECT_EQ(run.status, 2) << c.more;
        EXPECT_EQ(run.err, "defectkit: D holds the results of other settings (" + c.message + tail);
    }
    write_file(folder + "/calls", "");
    EXPECT_EQ(run_kit_in(folder, run_words("--time-limit 5")).status, 0); // nothing left to run
    const KitRun command =
        run_kit_in(folder, std::string("run ") + campaign_set +
                               " --out D --solver 'true {instance}' --time-limit 5");
    EXPECT_EQ(command.status, 2);
    EXPECT_EQ(command.err, "defectkit: D holds the results of other settings (solver \"exec sh " +
                               folder + "/stub.sh {instance} {placement} {input} " + folder +
                               "\", here \"true {instance}\"" + tail);
    write_campaign_set(folder, 3);
    const KitRun set = run_kit_in(folder, run_words("--time-limit 5"));
    EXPECT_EQ(set.err, "defectkit: D holds the results of other settings (another set" + tail);
    EXPECT_EQ(read_whole_file(folder + "/calls"), "");
}

// --instances picks the instances; a list that is no list, or names an instance the set
// lacks, is refused before the folder is made; so is an unknown {word}.
TEST_F(RunFolder, InstanceListsAndWords) {
    write_campaign_set(folder, 12);
    const struct {
        std::string list;
        std::string results;
    } picked[] = {{"3", "03.json\n"},
                  {"1,12", "01.json\n12.json\n"},
                  {"2-3,11", "02.json\n03.json\n11.json\n"}};
    for (const auto& c : picked) {
        remove_folder(folder + "/D");
        const KitRun run = run_kit_in(folder, std::string("run ") + campaign_set +
                                                  " --out D --solver 'true' --instances " + c.list);
        EXPECT_EQ(run.status, 1) << c.list; // no placement
        EXPECT_EQ(folder_names(folder + "/D/results"), c.results) << c.list;
    }
    remove_folder(folder + "/D");
    const std::string bad = "expected numbers and ranges as 3, 1-20 or 1,4,9-12\n";
    const struct {
        std::string words;
        std::string err;
    } refused[] = {
        {"--instances 0", "defectkit: --instances 0: " + bad},
        {"--instances 3-1", "defectkit: --instances 3-1: " + bad},
        {"--instances 1,,2", "defectkit: --instances 1,,2: " + bad},
        {"--instances x", "defectkit: --instances x: " + bad},
        {"--instances 1-2-3", "defectkit: --instances 1-2-3: " + bad},
        {"--instances 99999999999", "defectkit: --instances 99999999999: " + bad},
        {"--instances 13", "defectkit: there is no instance 13: the set has 12 instances\n"},
        {"--instances 5-20", "defectkit: there is no instance 20: the set has 12 instances\n"},
    };
    for (const auto& c : refused) {
        const KitRun run = run_kit_in(folder, std::string("run ") + campaign_set +
                                                  " --out D --solver true " + c.words);
        EXPECT_EQ(run.status, 2) << c.words;
        EXPECT_EQ(run.err, c.err);
    }
    const KitRun word = run_kit_in(folder, std::string("run ") + campaign_set +
                                               " --out D --solver 'solve {input} {inptu}'");
    EXPECT_EQ(word.status, 2);
    EXPECT_EQ(word.err, "defectkit: --solver: {inptu} is no word of the command; the words are "
                        "{input}, {placement}, {time_limit}, {instance} and {dir}\n");
    EXPECT_FALSE(fs::exists(folder + "/D"));
}

// The solver's input is what defectkit export writes for the instance, in either format.
TEST_F(RunFolder, InputsAreTheExport) {
    generate_set(folder, example_answers);
    for (const std::string format : {"packingsolver", "jsonl"}) {
        remove_folder(folder + "/D");
        const KitRun run = run_kit_in(folder, "run answers.txt --out D --solver true --keep-inputs "
                                              "--format " +
                                                  format);
        EXPECT_EQ(run.status, 1);
        const KitRun exported =
            run_kit_in(folder, "export answers.txt --instance 1 --force --format " + format +
                                   (format == "jsonl" ? " --out one.jsonl" : " --out ps"));
        ASSERT_EQ(exported.status, 0) << exported.err;
        if (format == "jsonl") {
            EXPECT_EQ(read_whole_file(folder + "/D/work/1/input.jsonl"),
                      read_whole_file(folder + "/one.jsonl"));
            continue;
        }
        EXPECT_EQ(folder_names(folder + "/D/work/1/instance-1"),
                  "bins.csv\ndefects.csv\nitems.csv\nparameters.csv\n");
        for (const char* name : {"bins.csv", "defects.csv", "items.csv", "parameters.csv"}) {
            EXPECT_EQ(read_whole_file(folder + "/D/work/1/instance-1/" + name),
                      read_whole_file(folder + "/ps/instance-1/" + name));
        }
    }
}

// A write that fails under DIR (a file-size limit standing in for a full disk) ends the
// run with exit 2; the result finished before it stays, whole.
TEST_F(RunFolder, FailedWriteLosesNoFinishedResult) {
    write_campaign_set(folder, 9);
    int status = 0;
    ::waitpid(start_kit(folder, run_words("--instances 1,9"), "trap '' XFSZ; ulimit -f 64; "),
              &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(read_whole_file(folder + "/.kit-err"),
              "defectkit: cannot write " + folder + "/D/work/9/stdout.txt: File too large\n");
    EXPECT_EQ(folder_names(folder + "/D/results"), "1.json\n");
    expect_no_process_left(folder);
}

// The manifest's digests: FIPS 180-4's examples, and lengths about the padding's edges
// (55 and 56 bytes need one and two final blocks), compared with a file's.
TEST(RunManifest, Sha256) {
    const struct {
        std::string bytes;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    const std::string folder = make_folder();
    for (const auto& c : cases) {
        EXPECT_EQ(sha256_text(c.bytes), c.digest) << c.bytes.size() << " bytes";
        EXPECT_EQ(sha256_text(c.bytes, false), c.digest) << c.bytes.size() << " bytes";
        write_file(folder + "/f", c.bytes);
        std::string digest;
        std::string error;
        EXPECT_TRUE(sha256_file(folder + "/f", digest, error));
        EXPECT_EQ(digest, c.digest);
    }
    remove_folder(folder);
}

// defectkit results on a folder: the tables rewritten from the results there (one taken
// away is missing), the summary as JSON, and a folder that no run made.
TEST_F(RunFolder, ResultsOfAFolder) {
    write_campaign_set(folder, 2);
    ASSERT_EQ(run_kit_in(folder, run_words("")).status, 0);
    std::remove((folder + "/D/results/2.json").c_str());
    const KitRun json = run_kit_in(folder, "results D --json");
    EXPECT_EQ(json.status, 1);
    const std::size_t wall = json.out.find("\"wall_s\":{");
    ASSERT_NE(wall, std::string::npos);
    EXPECT_EQ(json.out.substr(0, wall + 9) + "-" + json.out.substr(json.out.find('}', wall) + 1),
              R"({"instances":2,"done":1,"missing":1,"run":{"ok":1,"timeout":0,"crashed":0,)"
              R"("exit":0,"out-of-memory":0,"not-started":0},"placement":{"feasible":1,)"
              R"("infeasible":0,"missing":0,"unreadable":0},"profit_to_bound":{"mean":1.0,)"
              R"("min":1.0,"at_bound":1},"wall_s":-,"not_ok":[],"missing_instances":[2],)"
              R"("resubmit":null})"
              "\n");
    EXPECT_EQ(mask_measured(read_whole_file(folder + "/D/results.csv")),
              std::string(two_feasible_csv).substr(0, std::string(two_feasible_csv).rfind("2,2")));
    const std::regex measured(R"re("(wall_s|cpu_s|max_rss_kb)":[0-9.e+-]+)re");
    EXPECT_EQ(
        std::regex_replace(read_whole_file(folder + "/D/results.jsonl"), measured, "\"$1\":-"),
        R"({"instance":1,"items":2,"item_area":41,"objects":1,"bound":41,"run":"ok",)"
        R"("signal":null,"exit_code":null,"placement":"feasible","message":null,"profit":41,)"
        R"("items_placed":2,"objects_used":1,"gap":0.0,"wall_s":-,"cpu_s":-,)"
        R"("max_rss_kb":-,"stdout_bytes":0,"stderr_bytes":0})"
        "\n");
    const KitRun none = run_kit_in(folder, "results .");
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err,
              "defectkit: ./manifest.json: not the manifest of a run folder (defectkit run writes "
              "it)\n");
}

// --solver builtin: defectkit's own placer as the solver, in a child like any other; each
// placement is what `defectkit place` writes for its instance, and reaches the bound.
TEST_F(RunFolder, BuiltinSolverIsThePlacer) {
    write_campaign_set(folder, 2);
    const KitRun run = run_kit_in(folder, std::string("run ") + campaign_set +
                                              " --out D --solver builtin --format jsonl");
    EXPECT_EQ(run.status, 0) << run.err;
    const auto said = [&](const char* k) {
        return folder + "/D/work/" + k + "/placement.csv: instance " + k +
               ", 2 of 2 items placed, on 1 of 1 objects, placed area 41 (100.00% of the item "
               "area)\n";
    };
    const auto row = [&](const char* k) {
        return std::string(k) + ",2,41,1,41,ok,,,feasible,,41,2,1,0.0,-,-,-," +
               std::to_string(said(k).size()) + ",0\n";
    };
    EXPECT_EQ(mask_measured(read_whole_file(folder + "/D/results.csv")),
              "instance,items,item_area,objects,bound,run,signal,exit_code,placement,message,"
              "profit,items_placed,objects_used,gap,wall_s,cpu_s,max_rss_kb,stdout_bytes,"
              "stderr_bytes\n" +
                  row("1") + row("2"));
    for (const char* k : {"1", "2"}) {
        const KitRun place = run_kit_in(folder, std::string("place ") + campaign_set +
                                                    " --instance " + k + " --out p.csv");
        ASSERT_EQ(place.status, 0) << place.err;
        EXPECT_EQ(read_whole_file(folder + "/D/work/" + k + "/placement.csv"),
                  read_whole_file(folder + "/p.csv"));
        EXPECT_EQ(read_whole_file(folder + "/D/work/" + k + "/stdout.txt"), said(k));
    }
}

} // namespace
