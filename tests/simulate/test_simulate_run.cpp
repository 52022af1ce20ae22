// traz simulate as a run: the same output for any number of jobs and any split into merged
// shards; shards that are not one run's are refused; decks the simulation cannot draw are
// refused with the statement and the item.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/simulate.hpp"

namespace {

using namespace traz::sim;

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class SimulateRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(mkdtemp(dir_), nullptr); }
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
        rmdir(dir_);
    }
    // Runs with the options and returns the output file's text.
    std::string run(SimulateOptions o, const std::string& name, int status = kSimOk) {
        o.output = std::string(dir_) + "/" + name;
        o.progress = false;
        files_.push_back(o.output);
        EXPECT_EQ(run_simulate(o), status) << name;
        return read_file(o.output);
    }
    char dir_[32] = "/tmp/traz-simulate-XXXXXX";
    std::vector<std::string> files_;
};

TEST_F(SimulateRun, JobsAndMergedShardsGiveTheSameOutput) {
    SimulateOptions o;
    o.deck = std::string(TRAZ_SOURCE_DIR) + "/examples/two-stage.deck";
    o.replications = 3001;
    o.seed = 5;
    o.format = "json";
    o.jobs = 1;
    const std::string one = run(o, "jobs1.json");
    o.jobs = 2;
    EXPECT_EQ(run(o, "jobs2.json"), one);
    std::vector<std::string> shards;
    for (int i = 1; i <= 3; ++i) {
        SimulateOptions s = o;
        s.shard_index = i;
        s.shard_count = 3;
        s.jobs = i;
        run(s, "shard" + std::to_string(i));
        shards.push_back(files_.back());
    }
    SimulateOptions m;
    m.merge = {shards[2], shards[0], shards[1]};
    m.format = "json";
    EXPECT_EQ(run(m, "merged.json"), one);
    // Another seed is another run.
    o.seed = 6;
    EXPECT_NE(run(o, "seed6.json"), one);
    // Two of three shards are not a run.
    m.merge = {shards[0], shards[2]};
    run(m, "incomplete.json", kSimRefused);
}

TEST(SimulateChecks, DecksTheSimulationCannotDrawAreRefused) {
    const std::string tail = "0.5 0.4\n0.3\n0.2 0.1\n2 0.3 7\n0.3\n1e-4 100000\n";
    const struct {
        std::string deck, message;
    } cases[] = {
        {"2 1 2000000 10\n1 1\n" + tail, "item 3 on line 1: the simulation draws pools of 2 to 1000000 applicants, not 2000000"},
        {"2 2 50 20 20\n1 1\n1 0\n" + tail, "item 5 on line 1: stage 2 keeps all 20 applicants"},
        {"2 1 50 10\n1 1\n0.5 0.4\n0.3\n0.2 0.1\n2 1 7\n0.3\n1e-4 100000\n",
         "deck statement 6 (groups, proportion of group 1 and passes), item 2 on line 6"},
        {"2 1 50 10\n1 -1\n0.5 0.4\n0.999999999999\n0.2 0.1\n2 0.3 7\n0.3\n1e-4 100000\n",
         "deck statement 2 (predictor weights of stage 1), line 2: stage 1's composite has zero variance"},
        {"2 1 50 10\n1 1\n0.9 -0.9\n0.3\n0.2 0.1\n2 0.3 7\n0.3\n1e-4 100000\n",
         "deck statement 3 (predictor validities), line 3: the validities do not fit"},
    };
    for (const auto& c : cases) {
        traz::Deck d;
        Model m;
        traz::DeckFault fault;
        ASSERT_TRUE(traz::read_deck(c.deck, d, fault)) << fault.message;
        EXPECT_FALSE(build_model(d, m, fault));
        EXPECT_NE(fault.message.find(c.message), std::string::npos) << fault.message;
    }
    // Beyond 10 predictors the reader keeps no lines: the message names statement and rows.
    std::string deck = "12 1 50 10\n";
    for (int i = 0; i < 12; ++i) deck += "1 ";
    deck += "\n";
    for (int i = 0; i < 12; ++i) deck += "0.1 ";
    deck += "\n";
    for (int i = 1; i < 12; ++i) {
        for (int j = i; j < 12; ++j) deck += i == 11 ? "-0.9 " : "0.9 ";  // r(11,12) = -0.9 with the rest 0.9
        deck += "\n";
    }
    for (int i = 0; i < 12; ++i) deck += "0 ";
    deck += "\n2 0.3 7\n0\n1e-4 100000\n";
    traz::Deck d;
    Model m;
    traz::DeckFault fault;
    ASSERT_TRUE(traz::read_deck(deck, d, fault)) << fault.message;
    EXPECT_FALSE(build_model(d, m, fault));
    EXPECT_EQ(fault.statement, 4);
    EXPECT_EQ(fault.message, "deck statement 4 (predictor correlations, rows 1 to 11): the correlations of predictors 1 to 12 "
                     "are not positive definite (LAPACK dpotrf, leading minor 12)");
}

} // namespace
