// The traz command as a user meets it when things go wrong: refusals with their status and
// diagnostic in every view, outputs that are inputs, a full file system, an interrupted sweep.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "run_deck.hpp"

namespace {

namespace fs = std::filesystem;
using traz::testrun::read_file;

struct Shell {
    int status = -1;
    std::string out, err;
};

// A folder of its own with the example decks and a few faulty ones.
class Outputs : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("traz-outputs-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        for (const char* d : {"single-stage", "two-stage", "three-stage"})
            fs::copy_file(fs::path(TRAZ_SOURCE_DIR) / "examples" / (std::string(d) + ".deck"), dir_ / (std::string(d) + ".deck"));
        const std::string one = read_file(dir_ / "single-stage.deck");
        write("big.deck", "3 1 101 10" + one.substr(one.find('\n')));
        write("comma.deck", "2 1 50 10\n1 1\n0,5 0,4\n0.3\n0.5 0.5\n2 0.3 7\n0.5\n1e-4 1000\n");
        write("extra.deck", "1 1 50 10 12\n1\n0.5\n0.5\n2 0.3 7\n0.5\n1e-4 1000\n");
        write("typo.deck", "1 1 50 10\n1\n0.5\n10\n2 0.3 7\n0.5\n1e-4 1000\n");
    }
    void TearDown() override { fs::remove_all(dir_); }

    void write(const std::string& name, const std::string& text) {
        std::FILE* f = std::fopen((dir_ / name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    // Runs a shell command line in the folder, traz being "$T" (under LeakSanitizer, PLplot's
    // own leaks are suppressed).
    Shell sh(const std::string& line) {
        const std::string cmd = "cd '" + dir_.string() + "' && T='" + TRAZ_EXE + "' && export LSAN_OPTIONS=suppressions='" +
                                TRAZ_SOURCE_DIR + "/tests/views/plot_lsan.supp' && (" + line + ") >out.txt 2>err.txt";
        const int w = std::system(cmd.c_str());
        Shell r;
        r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
        r.out = read_file(dir_ / "out.txt");
        r.err = read_file(dir_ / "err.txt");
        return r;
    }
    // Files left behind whose name says they are temporary.
    int temporaries() const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir_)) n += e.path().filename().string().find(".part-") != std::string::npos;
        return n;
    }
    fs::path dir_;
};

TEST_F(Outputs, RefusalsStatusesAndDiagnostics) {
    const std::string limits = "item 3 on line 1: beyond the limits of the computation: 101 applicants (at most 100)";
    struct Case {
        std::string command;
        int status;
        std::string err, out;  // pieces the streams must hold
    };
    const Case cases[] = {
        // A deck beyond the classic limits: its report ends with the refusal lines, status 1,
        // the reason on stderr and in JSON, CSV and a sweep's row.
        {"$T big.deck", 1, limits, "  Too many applicants\n"},
        {"$T big.deck --format json", 1, limits, "\"diagnostic\": \"deck statement 1 (predictors, stages, applicants"},
        {"$T big.deck single-stage.deck --format csv", 1, limits, "big.deck,refused_after_echo,"},
        {"$T sweep single-stage.deck --vary napp=50,101", 1, "1 of 2 points refused", "refused_after_echo"},
        // Leftover values warn; a decimal comma gets its hint; a likely typo is computed and said.
        {"$T extra.deck --format csv", 0, "warning: line 1 has 5 values, statement 1 needs 4: the rest is ignored",
         "warning: line 1 has 5 values"},
        {"$T comma.deck", 1, "validity 5 of predictor 2 is outside [-1, 1] (\"0,5\" on line 3 reads as two values, 0 and 5: write 0.5", ""},
        {"$T typo.deck", 0, "warning: predictor 1's effect size 10 lies beyond the plausible range of a group difference, -5 to 5",
         "   integration domain: fitted (the fixed range lost "},
        // The command line: shards, grids and plot formats refused before any point.
        {"$T sweep two-stage.deck --vary pg=0.1:0.5:0.1 --shard 4294967297/4294967298", 1, "expected I/N with 1 <= I <= N", ""},
        {"$T sweep two-stage.deck --vary pg=0.1:0.5:0.1 --shard 1/99999999999", 1, "expected I/N", ""},
        {"$T sweep two-stage.deck --vary 'pg=0.1:0.9:0.0001' --vary 'efc=0:1:0.001'", 1, "a grid of 8009001 points", ""},
        {"$T sweep two-stage.deck --vary pg=0.1:0.5:0.1 -o rows.csv --plot rows.gif", 1,
         "traz: sweep: plot file \"rows.gif\": unknown format", ""},
        {"$T plot --help", 0, "", "rows of another sweep (another grid) are refused"},
        {"$T --help-deck", 0, "", "  5  d(1) .. d(npred)"},
    };
    for (const Case& c : cases) {
        const Shell r = sh(c.command);
        EXPECT_EQ(r.status, c.status) << c.command << "\n" << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.command << "\n" << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << c.command << "\n" << r.out;
    }
    EXPECT_FALSE(fs::exists(dir_ / "rows.csv"));  // the unknown plot format stopped the sweep before its rows
    EXPECT_EQ(sh("$T plot --help").out.find("With no DECK"), std::string::npos);

    // traz plot: rows of two sweeps, points missing, values no plot can scale.
    ASSERT_EQ(sh("$T sweep two-stage.deck --vary pg=0.2:0.6:0.2 --shard 1/2 -o a.csv && "
                 "$T sweep two-stage.deck --vary pg=0.2:0.5:0.1 -o b.csv && cat a.csv b.csv > mixed.csv && "
                 "awk -F, -v OFS=, 'NR > 1 { $5 = \"1.7e308\" } 1' a.csv > huge.csv").status, 0);
    Shell r = sh("$T plot mixed.csv --plot m.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("line 5 belongs to another sweep than line 2"), std::string::npos) << r.err;
    r = sh("$T plot a.csv --plot a.png");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("warning: point 2 of the sweep's 3 is missing"), std::string::npos) << r.err;
    r = sh("$T plot huge.csv --plot h.svg");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a value of 1.7e+308 cannot be plotted"), std::string::npos) << r.err;
    EXPECT_EQ(temporaries(), 0);
}

// An output that is an input is refused, by inode and not by name; the deck stays whole.
TEST_F(Outputs, OutputNamingTheDeckIsRefused) {
    const std::string deck = read_file(dir_ / "two-stage.deck");
    for (const char* command : {"$T two-stage.deck -o two-stage.deck", "ln -s two-stage.deck link.deck && $T link.deck -o ./two-stage.deck",
                                "$T sweep two-stage.deck --vary pg=0.2,0.4 -o two-stage.deck",
                                "$T sweep two-stage.deck --vary pg=0.2,0.4 -o p.png --plot p.png"}) {
        const Shell r = sh(command);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find("give"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(dir_ / "two-stage.deck"), deck) << command;
    }
    EXPECT_FALSE(fs::exists(dir_ / "p.png"));
}

// A file size limit cuts the plots and the rows short: status 3, the earlier files as they were.
TEST_F(Outputs, FullFileSystemLeavesEarlierFiles) {
    ASSERT_EQ(sh("$T sweep two-stage.deck --vary pg=0.2:0.6:0.2 -o rows.csv").status, 0);
    write("p.png", "earlier plot");
    write("r.csv", "earlier rows");
    Shell r = sh("ulimit -f 40 && $T plot rows.csv --plot p.png");
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("plot file \"p.png\": the plot could not be written completely"), std::string::npos) << r.err;
    r = sh("ulimit -f 40 && $T pareto two-stage.deck --points 3 -o front.csv --plot p.png");
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("plot file \"p.png\": the plot could not be written completely"), std::string::npos) << r.err;
    r = sh("ulimit -f 1 && $T sweep three-stage.deck --vary pg=0.2,0.4,0.6 --format json -o r.csv");
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(read_file(dir_ / "p.png"), "earlier plot");
    EXPECT_EQ(read_file(dir_ / "r.csv"), "earlier rows");
    EXPECT_EQ(temporaries(), 0);
    EXPECT_EQ(sh("$T plot rows.csv --plot p.png").status, 0);
    EXPECT_NE(read_file(dir_ / "p.png"), "earlier plot");
}

// SIGINT in the middle of a sweep: status 130, the earlier file untouched, the rows so far in
// FILE.partial, every one complete, and no temporary file left.
TEST_F(Outputs, InterruptedSweepKeepsItsRows) {
    write("rows.csv", "earlier rows");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(dir_.c_str()) != 0) _exit(99);
        execl(TRAZ_EXE, "traz", "sweep", "three-stage.deck", "--vary", "pg=0.1:0.9:0.02", "--jobs", "1", "-o", "rows.csv",
              static_cast<char*>(nullptr));
        _exit(98);
    }
    // Wait for the header and two rows in the temporary file, then interrupt.
    const auto written = [&] {
        for (const auto& e : fs::directory_iterator(dir_))
            if (e.path().filename().string().find(".part-") != std::string::npos) {
                const std::string text = read_file(e.path());
                if (std::count(text.begin(), text.end(), '\n') >= 3) return true;
            }
        return false;
    };
    for (int i = 0; i < 600 && !written(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(child, SIGINT);
    int w = 0;
    ASSERT_EQ(waitpid(child, &w, 0), child);
    ASSERT_TRUE(WIFEXITED(w));
    EXPECT_EQ(WEXITSTATUS(w), 130);
    EXPECT_EQ(read_file(dir_ / "rows.csv"), "earlier rows");
    EXPECT_EQ(temporaries(), 0);
    const std::string partial = read_file(dir_ / "rows.csv.partial");
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = partial.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(partial.substr(at, end - at));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_LT(lines.size(), 42u);  // 41 points and the header
    EXPECT_TRUE(partial.ends_with("\n"));
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(std::to_string(i) + ",", 0), 0u) << lines[i];  // in point order, none lost
        EXPECT_NE(lines[i].find(",computed,"), std::string::npos) << lines[i];
        EXPECT_TRUE(lines[i].ends_with(" 41 points: pg=0.1:0.9:0.02")) << lines[i];
    }
}

} // namespace
