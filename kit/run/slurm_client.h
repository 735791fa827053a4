// defectkit run --slurm --submit / --wait: SLURM's own clients (sbatch, squeue) run as
// child processes and their answers read.
//
// DESIGN. defectkit schedules nothing itself: sbatch hands the array to slurmctld, whose
// tasks run on the cluster's nodes as separate `defectkit run --shard` processes. They meet
// the submitting defectkit only through DIR (the manifest, one result file per instance),
// never through a pipe or a signal. --wait polls squeue, 0.5 s apart at first and at most
// 30 s apart later, until no task of the array is pending, running or completing; each
// client runs to its end on the calling thread with standard input from /dev/null.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
    bool started = false;
    int status = -1; // the exit status; -1 when it could not be started or a signal ended it
    std::string out;
    std::string err; // or, when it could not be started, why
};

// Runs argv[0] (found on PATH) with the arguments, stdin from /dev/null, stdout and stderr
// read to their end.
ProgramRun run_program(const std::vector<std::string>& argv);
// `sbatch --parsable SCRIPT`; true with the job id, false after a message.
bool submit_array(const std::string& script, std::string& job_id);
// Returns once no task of the job is pending, running or completing; false after a
// message when squeue keeps failing.
bool wait_for_array(const std::string& job_id);
