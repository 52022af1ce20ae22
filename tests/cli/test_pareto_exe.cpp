// traz pareto and traz compare end to end: the rows' layout, the ends' decks run back to their
// rows, the plot file, the comparison table.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "run_deck.hpp"

namespace {

using traz::testrun::read_file;

const std::string kExamples = std::string(TRAZ_SOURCE_DIR) + "/examples/";

struct ExeRun {
    int status = -1;
    std::string out, err;
};

ExeRun run_exe(const std::string& args) {
    // Under LeakSanitizer: the caches of the libraries under PLplot are not leaks of ours.
    setenv("LSAN_OPTIONS", "suppressions=" TRAZ_SOURCE_DIR "/tests/views/plot_lsan.supp", 0);
    char dir[] = "/tmp/traz-pareto-XXXXXX";
    ExeRun r;
    if (mkdtemp(dir) == nullptr) return r;
    const std::string out = std::string(dir) + "/out", err = std::string(dir) + "/err";
    const int w = std::system((std::string("'") + TRAZ_EXE + "' " + args + " > '" + out + "' 2> '" + err + "'").c_str());
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    r.out = read_file(out);
    r.err = read_file(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    rmdir(dir);
    return r;
}

// The fields of a CSV line (quotes dropped).
std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> f(1);
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        else if (c == ',' && !quoted) f.emplace_back();
        else f.back().push_back(c);
    }
    return f;
}

// The SVG driver writes text as character references (&#x41;): decoded (ASCII) here.
std::string svg_text(const std::string& svg) {
    std::string out;
    for (std::size_t i = 0; i < svg.size(); ++i) {
        const std::size_t end = svg.compare(i, 3, "&#x") == 0 ? svg.find(';', i) : std::string::npos;
        if (end == std::string::npos) {
            out += svg[i];
            continue;
        }
        out += static_cast<char>(std::stoi(svg.substr(i + 3, end - i - 3), nullptr, 16));
        i = end;
    }
    return out;
}

TEST(ParetoExe, RowsWeightsEndsAndPlot) {
    const std::string plot = "/tmp/traz-pareto-test.png";
    std::remove(plot.c_str());
    const ExeRun csv = run_exe("pareto " + kExamples + "single-stage.deck --points 4 --jobs 2 --plot " + plot);
    ASSERT_EQ(csv.status, 0) << csv.err;
    std::vector<std::string> lines;
    std::istringstream in(csv.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    const std::vector<std::string> header = split(lines[0]);
    ASSERT_GE(header.size(), 8u);
    EXPECT_EQ(header[0], "point");
    EXPECT_EQ(header[1], "deck");
    const std::vector<std::string> tail(header.end() - 4, header.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"w(1,1)", "w(1,2)", "w(1,3)", "search"}));
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> f = split(lines[i]);
        ASSERT_EQ(f.size(), header.size()) << lines[i];
        EXPECT_EQ(f[0], std::to_string(i));
        EXPECT_EQ(f[2], "computed");
        EXPECT_EQ(f.back(), "settled");
        EXPECT_NEAR(std::stod(f[f.size() - 4]) + std::stod(f[f.size() - 3]) + std::stod(f[f.size() - 2]), 1.0, 1e-12);
    }
    EXPECT_GT(read_file(plot).size(), 10000u);
    std::remove(plot.c_str());

    // The plot's words: axes in words, the four-fifths line, the ends named, a panel per stage.
    const std::string svg = "/tmp/traz-pareto-test.svg";
    ASSERT_EQ(run_exe("pareto " + kExamples + "two-stage.deck --points 3 -o /dev/null --plot " + svg).status, 0);
    const std::string text = svg_text(read_file(svg));
    std::remove(svg.c_str());
    for (const char* words : {"Impact ratio (lower group selection rate / higher)", "four-fifths rule",
                              "Expected criterion score of those selected", "highest expected score (point 1)",
                              "highest impact ratio (point 3)", "Stage 1: share of each predictor",
                              "Stage 2: share of each predictor", "predictor 4"})
        EXPECT_NE(text.find(words), std::string::npos) << words;

    // The JSON's ends carry decks that run to their rows' results.
    const ExeRun json = run_exe("pareto " + kExamples + "single-stage.deck --points 4 --format json --shard 2/2");
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json all = nlohmann::json::parse(json.out);
    ASSERT_EQ(all["rows"].size(), 2u);  // points 2 and 4
    EXPECT_EQ(all["rows"][1]["point"], 4);
    const nlohmann::json& end = all["ends"]["highest_impact_ratio"];
    EXPECT_EQ(end["point"], 4);
    char path[] = "/tmp/traz-pareto-end-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string deck = end["deck_text"];
    ASSERT_EQ(write(fd, deck.data(), deck.size()), static_cast<ssize_t>(deck.size()));
    close(fd);
    const ExeRun again = run_exe(std::string("--fitted --format json ") + path);
    std::remove(path);
    ASSERT_EQ(again.status, 0) << again.err;
    const nlohmann::json run = nlohmann::json::parse(again.out);
    EXPECT_EQ(run["results"]["expected_criterion_score"]["value"],
              all["rows"][1]["results"]["expected_criterion_score"]["value"]);
    EXPECT_EQ(run["results"]["expected_criterion_score"]["value"], end["expected_criterion_score"]["value"]);
}

TEST(CompareExe, TableAndRefusals) {
    const ExeRun table = run_exe("compare " + kExamples + "two-stage.deck " + kExamples + "two-stage.deck");
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("Differences to A"), std::string::npos);
    EXPECT_NE(table.out.find("B - A"), std::string::npos);
    EXPECT_NE(table.out.find("less than the integration error"), std::string::npos) << table.out;
    // CSV: a row per design, the dominance per design; JSON: the same verdict as the table.
    const std::string decks = kExamples + "two-stage.deck " + kExamples + "two-stage.deck";
    const ExeRun csv = run_exe("compare " + decks + " --format csv");
    ASSERT_EQ(csv.status, 0);
    std::istringstream rows(csv.out);
    std::vector<std::vector<std::string>> fields;
    for (std::string line; std::getline(rows, line);) fields.push_back(split(line));
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[0].front(), "design");
    EXPECT_EQ(fields[0].back(), "dominated_by");
    EXPECT_EQ(fields[2].front(), "B");
    EXPECT_EQ(fields[2].size(), fields[0].size());
    const nlohmann::json json = nlohmann::json::parse(run_exe("compare " + decks + " --format json").out);
    EXPECT_NE(table.out.find(json["verdict"].get<std::string>()), std::string::npos);
    EXPECT_EQ(json["designs"][1]["difference_to_A"]["expected_criterion_score"]["value"], 0.0);

    const ExeRun one = run_exe("compare " + kExamples + "two-stage.deck");
    EXPECT_EQ(one.status, 1);
    EXPECT_NE(one.err.find("two or more decks"), std::string::npos);
}

} // namespace
