// Files are data people keep. Inputs are regular files (or standard input),
// opened without blocking and size-checked before they are read; outputs are
// written whole through a new temporary file beside the target, synced and
// renamed over it, and never replace what is not a regular file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace files {

// The whole of a regular file, or of standard input for "-", when it holds at
// most limit bytes. False, with "PATH: reason" in error, otherwise.
bool readAll(const std::string& path, std::size_t limit, std::string& out, std::string& error);

struct Output {
  std::string path;  // "-" = standard output
  std::string bytes;
  bool secret = false;  // created 0600 (keys)
};

// True when path may be written: "-", a regular file or nothing yet.
bool checkTarget(const std::string& path, std::string& error);

// True when two paths name the same file (as far as their folders tell).
bool sameTarget(const std::string& a, const std::string& b);

// Writes every output to its own temporary file first; only when all are
// complete are they renamed into place. A target that exists and is not a
// regular file is refused before anything is written. False, with
// "PATH: reason" in error, when an output could not be written; targets not
// yet renamed are left as they were.
bool writeAll(const std::vector<Output>& outputs, std::string& error);

// Removes the temporary files of a write in progress and ends the program on
// every signal that ends it by default (SIGINT, SIGTERM, SIGHUP, SIGPIPE,
// SIGXFSZ, …).
void cleanUpOnSignals();

}  // namespace files
