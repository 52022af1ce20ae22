// The library message handler: warning and fatal-error blocks on the stream its caller names, and the
// library facilities that report through it (log-gamma, the one-dimensional quadrature).
#pragma once
#include <cstdio>
#include <string>

namespace traz {

enum class MessageLevel { warning = 1, fatal = 2 };

// Writes a message block for routine `routine` of the library, unless the same message
// has already been written 10 times (later repeats are only counted). A fatal message is
// followed by the abort line and the summary table, and then throws FatalLibraryError.
void library_message(const char* routine, const std::string& text, int number, MessageLevel level);

// Thrown after a fatal library message has been written; main ends the run with status 2.
struct FatalLibraryError {};

// Stream for this thread's message blocks: the library writes none until its caller names one
// (the traz command names standard error, the public interface a buffer per evaluation);
// without one, messages are counted only. And a reset of the message table, for tests.
void set_message_stream(std::FILE* out);
void reset_messages();

// Natural logarithm of |Gamma(x)|; x = 0 or a negative integer is a fatal error.
double dlngam(double x);

} // namespace traz
