// SHA-256 of a file, for the run folder's manifest: a later run compares the set's files
// by their digests, so that results of another set never mix with these.
#pragma once

#include <string>

// The lower-case hex digest of the file's bytes; false with `error` set (the system's
// reason) when it cannot be read. `stop` is polled between blocks: when it turns true the
// reading ends with false and an empty error.
bool sha256_file(const std::string& path, std::string& digest, std::string& error,
                 const volatile int* stop = nullptr);
// The digest of bytes in memory; `accelerated` false keeps to the portable code even where
// the processor has SHA instructions (the tests compare both).
std::string sha256_text(const std::string& bytes, bool accelerated = true);
// True when the processor's SHA instructions are used.
bool sha256_accelerated();
