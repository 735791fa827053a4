// How a run ended, as the run itself tells it: callers such as defectkit learn it from
// this record instead of reading it off the console. Needs the standard library only.
#pragma once

#include <string>

enum class RunEnd {
    completed,    // every file written, the closing prompt shown
    refused,      // the dialogue refused an answer; nothing was asked or read after it
    item_failure, // an item could not be given integer sides: the items file holds the
                  // instances before its own, whole, and no defects file is written
    file_failure, // a file could not be created, was locked by another run, or could not
                  // be written completely
    same_file,    // the two names proved to be one file once the items file existed
    no_memory,
    no_thread,
};

struct RunOutcome {
    RunEnd end = RunEnd::completed;
    // The message printed before the run waits for its last number, nullptr when it
    // completed; a file_failure's follows "The file " and the file's name. Static text,
    // so that a run out of memory can still be given its outcome.
    const char* message = nullptr;
    std::string file;     // file_failure: the name the run opened
    std::string question; // refused: the prompt of the refused answer, as printed
};
