// Design sweeps: every row is the run of the deck written out for its point; the rows do
// not depend on the number of threads; shards put back together give the whole grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cli/sweep.hpp"
#include "views/views.hpp"
#include "run_deck.hpp"

namespace {

using traz::testrun::read_file;

const std::string kBase = std::string(TRAZ_SOURCE_DIR) + "/examples/sweep-weights.deck";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// The rows without their CPU-seconds column (the only one that may differ between runs).
std::vector<std::string> without_cpu(const std::vector<std::string>& rows, int cpu_column) {
    std::vector<std::string> out;
    for (const std::string& r : rows) {
        std::vector<std::string> f;
        std::string cur;
        bool quoted = false;
        for (char c : r) {
            if (c == '"') quoted = !quoted;
            if (c == ',' && !quoted) f.push_back(cur), cur.clear();
            else cur += c;
        }
        f.push_back(cur);
        f.erase(f.begin() + cpu_column);
        std::string joined;
        for (const std::string& x : f) joined += x + ",";
        out.push_back(joined);
    }
    return out;
}

std::string sweep_csv(int jobs, const std::string& shard = "1/1") {
    traz::SweepOptions o;
    o.base = kBase;
    // mix(2) x ns(2): ns(2) = 30 keeps every applicant stage 1 kept, which is refused.
    o.vary = {"mix(2)=0:1:0.5", "ns(2)=5,10,30"};
    o.mix_to = "0,0,1,1";
    o.jobs = jobs;
    o.progress = false;
    std::string why;
    EXPECT_TRUE(traz::parse_shard(shard, o.shard_index, o.shard_count, why)) << why;
    o.output = testing::TempDir() + "sweep-" + std::to_string(jobs) + "-" + std::to_string(o.shard_index) + ".csv";
    traz::run_sweep(o);
    return read_file(o.output);
}

TEST(Sweep, RowsEqualTheRunsOfTheirDecksWhateverTheJobsAndShards) {
    const std::vector<std::string> one = lines_of(sweep_csv(1));
    ASSERT_EQ(one.size(), 10u);  // header and 3 x 3 points
    const auto header = traz::csv_header({"point", "mix(2)", "ns(2)"});
    EXPECT_EQ(one[0] + "\n", header.substr(0, header.size() - 1) + ",grid\n");
    const int cpu = 3 + 19;  // point, two values, then the run's columns up to cpu_seconds
    // Every row ends with the same grid: the base deck's hash, 9 points, the ranges as given.
    const std::string grid = one[1].substr(one[1].rfind(",\"") + 1);
    EXPECT_TRUE(grid.ends_with(" 9 points: mix(2)=0:1:0.5 ns(2)=5,10,30\"")) << grid;
    for (std::size_t i = 1; i < one.size(); ++i) EXPECT_TRUE(one[i].ends_with("," + grid)) << one[i];

    const std::vector<std::string> two = lines_of(sweep_csv(2));
    EXPECT_EQ(without_cpu(one, cpu), without_cpu(two, cpu));

    std::vector<std::string> shards;
    for (const char* s : {"1/3", "2/3", "3/3"}) {
        const std::vector<std::string> part = lines_of(sweep_csv(2, s));
        ASSERT_EQ(part.size(), 4u) << s;
        EXPECT_EQ(part[0], one[0]);
        shards.insert(shards.end(), part.begin() + 1, part.end());
    }
    std::sort(shards.begin(), shards.end(), [](const std::string& a, const std::string& b) {
        return std::stoi(a) < std::stoi(b);
    });
    EXPECT_EQ(without_cpu(shards, cpu), without_cpu({one.begin() + 1, one.end()}, cpu));

    // Points 1 (mix 0, ns(2) 5), 6 (mix 1, ns(2) 10) and the refused 8 (mix 0.5, ns(2) 30)
    // against the decks written out for them and run as traz runs a deck.
    traz::Deck base, a, b;
    std::string why;
    ASSERT_TRUE(traz::read_deck(read_file(kBase), base, why)) << why;
    traz::SweepRange mix, ns;
    ASSERT_TRUE(traz::parse_range("mix(2)=0:1:0.5", mix, why));
    ASSERT_TRUE(traz::parse_range("ns(2)=5,10,30", ns, why));
    for (auto [point, t, n] : {std::tuple{1, 0.0, 5.0}, {6, 1.0, 10.0}, {8, 0.5, 30.0}}) {
        ASSERT_TRUE(traz::apply_range_value(base, mix, t, {0, 0, 1, 1}, a, why)) << why;
        ASSERT_TRUE(traz::apply_range_value(a, ns, n, {}, b, why)) << why;
        traz::RunRecord rec;
        traz::RunOptions opt;
        opt.source = kBase;
        traz::compute(traz::write_deck_text(b), rec, opt);
        const std::string expected = traz::csv_row(rec, {std::to_string(point), traz::format_value(mix, t),
                                                          traz::format_value(ns, n)});
        const std::string row = one[static_cast<std::size_t>(point)];
        EXPECT_EQ(without_cpu({row.substr(0, row.size() - grid.size() - 1)}, cpu), without_cpu(lines_of(expected), cpu))
            << "point " << point;
    }
    EXPECT_NE(one[8].find(",refused,"), std::string::npos) << one[8];
}

} // namespace

namespace {

// A bad range, shard or base deck is refused before any point runs: status 1, no output file.
TEST(Sweep, BadRangesAreRefusedBeforeAnyPoint) {
    for (const char* range : {"height=1:2:1", "pg=0.5:0.1:0.1", "ns(1)=2.5,3", "ns(3)=5,6", "mix(2)=0:1:0.5"}) {
        traz::SweepOptions o;
        o.base = kBase;
        o.vary = {range};
        o.progress = false;
        o.output = testing::TempDir() + "bad-range.csv";
        std::remove(o.output.c_str());
        EXPECT_EQ(traz::run_sweep(o), traz::kRunBadDeck) << range;  // mix(2) lacks --mix-to
        EXPECT_TRUE(read_file(o.output).empty()) << range;
    }
    int i = 0, n = 0;
    std::string why;
    EXPECT_FALSE(traz::parse_shard("4/3", i, n, why));
    EXPECT_FALSE(traz::parse_shard("0/3", i, n, why));
    EXPECT_TRUE(traz::parse_shard("3/3", i, n, why) && i == 3 && n == 3);
}

} // namespace
