// The traz executable end to end: deck on standard input, report on standard output,
// diagnostics on standard error, exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "run_deck.hpp"

namespace {

using traz::testrun::read_file;

struct ExeRun {
    int status = -1;
    std::string out, err;
};

// Runs the executable with arguments `args` (shell words) and the file `deck` on standard input.
ExeRun run_exe(const std::string& deck, const std::string& args = "") {
    char dir[] = "/tmp/traz-exe-XXXXXX";
    ExeRun r;
    if (mkdtemp(dir) == nullptr) {
        ADD_FAILURE() << "no temporary directory";
        return r;
    }
    const std::string out = std::string(dir) + "/out", err = std::string(dir) + "/err";
    const std::string cmd = std::string("'") + TRAZ_EXE + "' " + args + " < '" + deck + "' > '" + out + "' 2> '" + err + "'";
    const int w = std::system(cmd.c_str());
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    r.out = read_file(out);
    r.err = read_file(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    rmdir(dir);
    return r;
}

std::string write_deck(const std::string& text) {
    char path[] = "/tmp/traz-deck-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    return path;
}

// "CPU TIME IN SECONDS " and an F12.2 field: blanks, digits, a point, two decimals.
bool is_time_line(const std::string& s) {
    const std::string head = "CPU TIME IN SECONDS ";
    if (s.size() != head.size() + 13 || s.rfind(head, 0) != 0 || s.back() != '\n') return false;
    const std::string f = s.substr(head.size(), 12);
    const std::size_t digits = f.find_first_not_of(' ');
    if (digits == std::string::npos || f[9] != '.') return false;
    for (std::size_t i = digits; i < 12; ++i)
        if (i != 9 && (f[i] < '0' || f[i] > '9')) return false;
    return digits < 9;
}

TEST(Executable, ExampleDeckGivesCompleteReport) {
    const ExeRun r = run_exe(std::string(TRAZ_SOURCE_DIR) + "/examples/single-stage.deck");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // The example is the two-group deck of the report tests; only the CPU time may differ.
    const std::string expected = read_file(traz::testrun::kDeckDir + "two_group.report");
    const std::string time_line = "CPU TIME IN SECONDS         0.00\n";
    ASSERT_TRUE(expected.ends_with(time_line));
    const std::size_t body = expected.size() - time_line.size();
    EXPECT_EQ(r.out.substr(0, body), expected.substr(0, body));
    EXPECT_TRUE(is_time_line(r.out.substr(std::min(body, r.out.size()))))
        << r.out.substr(std::min(body, r.out.size()));
}

TEST(Executable, MalformedDeckExitsWithStatusOne) {
    const std::string deck = write_deck("2 1 20 5\n0.6 0.4\n0.5 x\n");
    const ExeRun r = run_exe(deck);
    std::remove(deck.c_str());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "traz: deck statement 3 (predictor validities), item 2: expected a number, found \"x\" on line 3\n");
}

TEST(Executable, RetainedCountAboveThePoolIsRefused) {
    // Once a fatal error of the log-gamma function (status 2); now refused by the deck checks.
    const std::string deck = write_deck("1 1 10 12\n1.0\n0.5\n0.3\n2 0.4 7\n0.2\n1e-4 1000\n");
    const ExeRun r = run_exe(deck);
    std::remove(deck.c_str());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "traz: deck statement 1 (predictors, stages, applicants and retained counts), item 4 on line 1: "
                     "stage 1 keeps 12 of 10 applicants\n");
}

// The command line: help and version on stdout with status 0; a bad option, a missing file
// or a bad deck among good ones gives one line naming it, status 1, and the rest complete.
TEST(CommandLine, OptionsFilesAndStatuses) {
    const std::string ex = std::string(TRAZ_SOURCE_DIR) + "/examples/";
    const std::string bad = write_deck("2 1 20 5\n0.6 0.4\n0.5 x\n");
    const std::string none = "/dev/null";

    ExeRun r = run_exe(none, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: traz [OPTIONS] [DECK...]"), std::string::npos) << r.out;
    for (const char* piece : {"--output", "--format", "--fitted", "--version", "Exit status", "traz examples/"})
        EXPECT_NE(r.out.find(piece), std::string::npos) << piece;

    r = run_exe(none, "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with(std::string("traz ") + TRAZ_VERSION + "\n")) << r.out;
    EXPECT_NE(r.out.find("GSL 2."), std::string::npos) << r.out;

    r = run_exe(none, "--bogus");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(traz::testrun::count_of(r.err, "\n"), 1);
    EXPECT_NE(r.err.find("--bogus"), std::string::npos) << r.err;

    r = run_exe(none, "no-such.deck");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "traz: no-such.deck: cannot read: No such file or directory\n");

    // Good, bad, good: the bad deck named, both good rows complete.
    r = run_exe(none, "--format csv '" + ex + "single-stage.deck' '" + bad + "' '" + ex + "two-stage.deck'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "traz: " + bad + ": deck statement 3 (predictor validities), item 2: expected a number, found \"x\" on line 3\n");
    EXPECT_EQ(traz::testrun::count_of(r.out, "\n"), 4) << r.out;
    EXPECT_EQ(traz::testrun::count_of(r.out, ",computed,"), 2) << r.out;
    EXPECT_EQ(traz::testrun::count_of(r.out, ",bad_deck,"), 1) << r.out;

    // Two reports follow each other; -o takes the output off stdout.
    const std::string file = bad + ".out";
    r = run_exe(none, "-o '" + file + "' '" + ex + "single-stage.deck' '" + ex + "single-stage.deck'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    const std::string both = read_file(file);
    EXPECT_EQ(traz::testrun::count_of(both, "PROBLEM SPECIFICATION"), 2);
    const std::size_t t1 = both.find("CPU TIME"), second = both.find('\n', t1) + 1, t2 = both.rfind("CPU TIME");
    ASSERT_LT(second, t2);
    EXPECT_EQ(both.substr(0, t1), both.substr(second, t2 - second));
    std::remove(file.c_str());
    std::remove(bad.c_str());
}

} // namespace
