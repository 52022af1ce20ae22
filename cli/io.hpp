// Files of the commands: the whole input read at once, and outputs that report write errors.
#pragma once
#include <cstdio>
#include <string>

namespace traz {

// Reads a whole file, or standard input for "-"; false with the reason on failure.
bool read_input(const std::string& name, std::string& text, std::string& why);

// The output of a command: standard output for "" or "-", else the file, created anew.
// Null, with a diagnostic on standard error, when the file cannot be written.
std::FILE* open_output(const std::string& name);
// Flushes and closes it; kRunWriteError, with a diagnostic, when it was not written whole.
int close_output(std::FILE* out, const std::string& name);

} // namespace traz
