// Runs a deck in-process through traz::run and collects the report, the diagnostics and
// the library messages; the CPU-time line is fixed at 0.00.
#pragma once
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "evaluate/evaluate.hpp"
#include "views/report.hpp"
#include "model/messages.hpp"

namespace traz::testrun {

inline const std::string kDeckDir = std::string(TRAZ_SOURCE_DIR) + "/tests/evaluate/expected/";

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string read_stream(std::FILE* f) {
    std::string s;
    std::rewind(f);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
    std::fclose(f);
    return s;
}

inline float zero_clock() { return 0.0f; }

struct RunOutput {
    int status = -1;
    std::string out;  // the report
    std::string err;  // deck diagnostics and library message blocks
};

inline RunOutput run_deck(std::string_view deck, bool stop_before_integration = false) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    reset_messages();
    set_message_stream(err);
    RunOptions opt;
    opt.cpu_clock = &zero_clock;
    opt.stop_before_integration = stop_before_integration;
    RunOutput r;
    r.status = run(deck, out, err, opt);
    set_message_stream(nullptr);
    reset_messages();
    r.out = read_stream(out);
    r.err = read_stream(err);
    return r;
}

inline int count_of(const std::string& text, const std::string& piece) {
    int n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

} // namespace traz::testrun
