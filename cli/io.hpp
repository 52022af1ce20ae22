// Files of the commands: the whole input read at once; outputs written whole or not at all
// (a temporary file in the target's folder, renamed over it when complete); the same file
// named twice; and what SIGINT and SIGTERM leave behind.
#pragma once
#include <csignal>
#include <cstdio>
#include <string>

namespace traz {

// Reads a whole file, or standard input for "-"; false with the reason on failure.
bool read_input(const std::string& name, std::string& text, std::string& why);

// An output of a command: standard output for "" or "-", else a temporary file beside the
// named one that close_output renames over it.
struct Output {
    std::string name;  // as given
    std::string temp;  // the temporary file ("" for standard output)
    std::FILE* file = nullptr;
};

// A temporary file beside `name`, with the same extension (a plot's format follows it),
// created empty and removed again should a signal end the process. "" with a diagnostic
// on standard error when it cannot be created.
std::string temporary_beside(const std::string& name);
// Forgets a temporary file (renamed or removed) for the signal handler.
void forget_temporary(const std::string& temp);

// Opens an output; false, with a diagnostic on standard error, when it cannot be written.
bool open_output(const std::string& name, Output& out);
// Flushes and closes it and puts the file in place; kRunWriteError, with a diagnostic, when
// it was not written whole (the temporary file is removed and an earlier file left as it was).
int close_output(Output& out);
// Closes it and renames the temporary file to `name` instead (a partial output); standard
// output is flushed only. Returns false when that failed.
bool close_output_as(Output& out, const std::string& name);

// Whether two names are the same file: the same device and inode when both exist, else the
// same absolute path.
bool same_file(const std::string& a, const std::string& b);

// SIGINT and SIGTERM. By default they remove the temporary files and end the process with
// status 128 + the signal. With deferred, the first one is only noted (interrupted() says
// which), so that a sweep can finish the row it writes and keep what it has; a second one
// ends the process at once.
void handle_signals(bool deferred);
int interrupted();

} // namespace traz
