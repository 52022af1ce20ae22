// The public interface: designs read, written and built in code give the same evaluation;
// refusals and misfit designs come back with their statement; concurrent evaluations are
// independent.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "run_deck.hpp"
#include "traz/traz.hpp"

namespace {

using traz::testrun::read_file;

const std::string kExamples = std::string(TRAZ_SOURCE_DIR) + "/examples/";

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Every quantity with its bound, bit for bit.
void expect_same(const traz::Result& a, const traz::Result& b, const std::string& what) {
    const traz::Bounded traz::Result::*fields[] = {
        &traz::Result::expected_criterion_score, &traz::Result::selection_rate_group1,
        &traz::Result::selection_rate_group2,    &traz::Result::ai_ratio,
        &traz::Result::impact_ratio,             &traz::Result::sd_average_criterion_score};
    for (auto f : fields) {
        EXPECT_TRUE(same_bits((a.*f).value, (b.*f).value)) << what;
        EXPECT_TRUE(same_bits((a.*f).error_bound, (b.*f).error_bound)) << what;
    }
    EXPECT_EQ(a.outcome, b.outcome) << what;
}

TEST(Design, DeckTextAndCodeGiveTheSameEvaluation) {
    const std::string text = read_file(kExamples + "two-stage.deck");
    const traz::Design read = traz::Design::from_deck(text);
    const traz::Design again = traz::Design::from_deck(read.to_deck());
    EXPECT_EQ(again.to_deck(), read.to_deck());

    traz::Design code;  // the same design, field by field
    code.validities = read.validities;
    code.correlations = read.correlations;
    code.effect_sizes = read.effect_sizes;
    code.stages = read.stages;
    code.applicants = read.applicants;
    code.proportion = read.proportion;
    code.criterion_effect = read.criterion_effect;
    code.relerr = read.relerr;
    code.maxcls = read.maxcls;
    const traz::Result from_text = traz::evaluate_deck(text);
    ASSERT_TRUE(from_text.ok()) << from_text.diagnostic.message;
    expect_same(traz::evaluate(code), from_text, "design built in code");
    expect_same(traz::evaluate(again), from_text, "deck text written back");
    const auto without_time = [](std::string r) { return r.substr(0, r.find("CPU TIME")); };
    EXPECT_EQ(without_time(traz::report(from_text)), without_time(traz::report(traz::evaluate(read))));
}

TEST(Design, RefusalsAndMisfitsCarryTheirStatement) {
    traz::Design d = traz::Design::from_deck(read_file(kExamples + "two-stage.deck"));
    d.stages[1].retained = d.stages[0].retained;  // a stage that keeps everyone
    const traz::Result r = traz::evaluate(d);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.outcome, "refused");
    EXPECT_EQ(r.diagnostic.statement, 1);
    EXPECT_EQ(r.diagnostic.item, 5);
    EXPECT_GT(r.diagnostic.line, 0);  // read from text: the line is known
    EXPECT_NE(r.diagnostic.message.find("keeps all"), std::string::npos) << r.diagnostic.message;

    d = traz::Design::from_deck(read_file(kExamples + "two-stage.deck"));
    d.stages[0].weights.pop_back();
    try {
        traz::evaluate(d);
        ADD_FAILURE() << "a stage with too few weights was evaluated";
    } catch (const traz::Error& e) {
        EXPECT_EQ(e.diagnostic().statement, 2);
    }
    d = traz::Design::from_deck(read_file(kExamples + "two-stage.deck"));
    d.correlations[0][1] += 0.1;
    EXPECT_THROW(traz::evaluate(d), traz::Error);
    EXPECT_THROW(traz::Design::from_deck("3 1 50\n"), traz::Error);
}

TEST(Concurrency, EightDesignsOnEightThreadsAsOneAtATime) {
    std::vector<traz::Design> designs;
    for (const char* name : {"single-stage", "two-stage", "three-stage", "sweep-weights"})
        for (double pg : {0.2, 0.4}) {
            traz::Design d = traz::Design::from_deck(read_file(kExamples + name + ".deck"));
            d.proportion = pg;
            designs.push_back(d);
        }
    std::vector<traz::Result> alone, together(designs.size());
    for (const traz::Design& d : designs) alone.push_back(traz::evaluate(d));
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < designs.size(); ++i)
        threads.emplace_back([&, i] { together[i] = traz::evaluate(designs[i]); });
    for (std::thread& t : threads) t.join();
    for (std::size_t i = 0; i < designs.size(); ++i) {
        EXPECT_TRUE(alone[i].ok()) << i << ": " << alone[i].diagnostic.message;
        expect_same(together[i], alone[i], "design " + std::to_string(i));
    }
}

TEST(Simulation, AgreesWithTheIntegrationAndNotWithTheThreads) {
    const traz::Design d = traz::Design::from_deck(read_file(kExamples + "two-stage.deck"));
    traz::SimulationRequest request;
    request.replications = 20000;
    request.seed = 7;
    request.jobs = 1;
    const traz::Simulation one = traz::simulate(d, request);
    request.jobs = 2;
    const traz::Simulation two = traz::simulate(d, request);
    EXPECT_TRUE(same_bits(one.expected_criterion_score.value, two.expected_criterion_score.value));
    EXPECT_TRUE(same_bits(one.p_fisher.value, two.p_fisher.value));
    const traz::Result r = traz::evaluate(d);
    EXPECT_NEAR(one.expected_criterion_score.value, r.expected_criterion_score.value,
                4.0 * one.expected_criterion_score.se);
    EXPECT_NEAR(one.selection_rate_group2.value, r.selection_rate_group2.value, 4.0 * one.selection_rate_group2.se);
    traz::Design bad = d;
    bad.stages[1].retained = 0;
    EXPECT_THROW(traz::simulate(bad, request), traz::Error);
}

} // namespace
