// Validation of read decks: what cannot be computed is refused with one line naming the
// statement, the item or lines, and the fault; what can is accepted, up to each limit.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cubature/routines.hpp"
#include "evaluate/evaluate.hpp"
#include "deck/validate.hpp"
#include "run_deck.hpp"

namespace {

struct Verdict {
    bool read = false, accepted = false;
    std::string message;
};

Verdict judge(const std::string& text) {
    const auto d = std::make_unique<traz::Deck>();
    const auto s = std::make_unique<traz::StageValues>();
    Verdict v;
    v.read = traz::read_deck(text, *d, v.message);
    if (!v.read) return v;
    traz::derive_stages(*d, *s);
    v.accepted = traz::validate_deck(*d, *s, v.message);
    return v;
}

// Two predictors, two stages; each placeholder is one statement's line.
std::string two_stage(const char* counts, const char* w1, const char* w2, const char* r12,
                      const char* groups = "2 0.5 7", const char* budget = "1e-4 10000",
                      const char* validities = "0.5 0.3", const char* effects = "0.5 0.2") {
    return std::string(counts) + "\n" + w1 + "\n" + w2 + "\n" + validities + "\n" + r12 + "\n" + effects + "\n" +
           groups + "\n0.3\n" + budget + "\n";
}

// One predictor, one stage.
std::string one_stage(const char* counts, const char* groups = "2 0.3 7", const char* effect = "0.5",
                      const char* criterion = "0.5") {
    return std::string(counts) + "\n1\n0.5\n" + effect + "\n" + groups + "\n" + criterion + "\n1e-4 1000\n";
}

const std::string kCounts = "deck statement 1 (predictors, stages, applicants and retained counts), ";
const std::string kGroups = "deck statement 6 (groups, proportion of group 1 and passes), ";

TEST(Validation, RefusedDecksNameStatementItemAndLine) {
    struct Case { std::string deck, where, what; };
    const Case cases[] = {
        {two_stage("2 2 20 20 5", "1 0", "0 1", "0.3"), kCounts + "item 4 on line 1", "stage 1 keeps all 20 applicants: drop that stage"},
        {two_stage("2 2 50 20 20", "1 0", "0 1", "0.3"), kCounts + "item 5 on line 1", "stage 2 keeps all 20 applicants"},
        {one_stage("1 1 50 60"), kCounts + "item 4 on line 1", "stage 1 keeps 60 of 50 applicants"},
        {one_stage("1 1 50 -3"), kCounts + "item 4 on line 1", "keeps -3 of 50 applicants: at least 1"},
        {one_stage("1 1 50 0"), kCounts + "item 4 on line 1", "keeps 0 of 50"},
        {one_stage("1 1 0 0"), kCounts + "item 3 on line 1", "a pool of 0 applicants"},
        {one_stage("1 1 -7 1"), kCounts + "item 3 on line 1", "a pool of -7 applicants"},
        {one_stage("1 1 50 10", "3 0.4 7"), kGroups + "item 1 on line 5", "TRAZ computes one or two groups, not 3"},
        {one_stage("1 1 50 10", "1 0.5 7"), kGroups + "item 2 on line 5", "the only group must be 1, not 0.5"},
        {one_stage("1 1 50 10", "2 1.0 7"), kGroups + "item 2 on line 5", "strictly between 0 and 1, not 1"},
        {one_stage("1 1 50 10", "2 0 7"), kGroups + "item 2 on line 5", "strictly between 0 and 1, not 0"},
        {one_stage("1 1 50 10", "2 1.5 7"), kGroups + "item 2 on line 5", "not 1.5"},
        // A decimal comma reads as two values: 2 groups, proportion 0, 5 passes; the message says so.
        {one_stage("1 1 50 10", "2 0,5 7"), kGroups + "item 2 on line 5",
         "not 0 (\"0,5\" on line 5 reads as two values, 0 and 5: write 0.5 for a decimal fraction)"},
        {one_stage("1 1 50 10", "2 0.005 7"), kGroups + "item 2 on line 5", "below 0.01 (here 0.005)"},
        {one_stage("1 1 50 10", "2 0.3 0"), kGroups + "item 3 on line 5", "0 passes compute nothing"},
        {one_stage("1 1 50 10", "2 0.3 -2"), kGroups + "item 3 on line 5", "-2 passes"},
        {one_stage("1 1 50 10", "2 0.3 7", "0.5", "-11"),
         "deck statement 7 (criterion effect size of group 1), item 1 on line 6", "-11 is outside [-10, 10]"},
        {two_stage("2 2 50 20 5", "1 0", "0 0", "0.3"), "deck statement 2 (predictor weights of stage 2), line 3",
         "stage 2's composite has zero variance: all its weights are 0"},
        {"0 1 50 10\n\n\n\n2 0.5 7\n0.3\n1e-4 1000\n", "deck statement 2 (predictor weights of stage 1), line 2",
         "zero variance: there are no predictors"},
        {two_stage("2 2 50 20 5", "1 0", "1e-300 1e-300", "0.3"), "deck statement 2 (predictor weights of stage 2), line 3",
         "largest 1e-300"},
        {two_stage("2 2 50 20 5", "1 0", "1 1", "-0.99999999999"), "deck statement 2 (predictor weights of stage 2), line 3",
         "zero variance: its weights cancel"},
        {two_stage("2 2 50 20 5", "1 0", "0 1", "-1"), "deck statement 4 (predictor correlations, row 1), item 1 on line 5",
         "correlation -1 of predictors 1 and 2 is outside (-1, 1)"},
        {two_stage("2 2 50 20 5", "1 0", "0 1", "1.2"), "item 1 on line 5", "correlation 1.2 of predictors 1 and 2"},
        {two_stage("2 2 50 20 5", "1 0", "0 1", "0.3", "2 0.5 7", "1e-4 10000", "0.5 -1.3"),
         "deck statement 3 (predictor validities), item 2 on line 4", "validity -1.3 of predictor 2 is outside [-1, 1]"},
        {"3 1 50 10\n1 1 1\n0.5 0.3 0.2\n0.9 0.9\n-0.9\n0.5 0.2 0\n2 0.5 7\n0.3\n1e-4 1000\n",
         "deck statement 4 (predictor correlations, rows 1 to 2), lines 4 to 5",
         "predictors 1 to 3 are not positive definite (LAPACK dpotrf, leading minor 3)"},
        {two_stage("2 2 50 20 5", "1 0", "0 1", "0", "2 0.5 7", "1e-4 10000", "0.9 0.9"),
         "deck statement 3 (predictor validities), line 4", "multiple correlation with the criterion would be 1.273"},
        {two_stage("2 2 50 20 5", "1 0.5", "2 1", "0.3"), "deck statement 2 (predictor weights of stages 1 and 2), lines 2 to 3",
         "stages 1 and 2 rank on the same composite (correlation 1): merge them"},
        {two_stage("2 2 50 20 5", "1 0", "-1 0", "0.3"), "lines 2 to 3", "rank on opposite composites (correlation -1)"},
        {"2 3 50 30 20 5\n1 0\n0 1\n1 0\n0.5 0.3\n0.3\n0.5 0.2\n2 0.5 7\n0.3\n1e-4 10000\n",
         "deck statement 2 (predictor weights of stages 1 and 3), lines 2 to 4", "stages 1 and 3 rank on the same composite"},
        // Any three composites of two predictors are linearly dependent.
        {"2 3 50 30 20 5\n1 0\n1 0.3\n1 -0.3\n0.5 0.3\n0.3\n0.5 0.2\n2 0.5 7\n0.3\n1e-4 10000\n",
         "deck statement 2 (predictor weights of stages 1 to 3), lines 2 to 4", "stage 3's composite is a weighted sum"},
        {two_stage("2 2 50 20 5", "1 0", "0 1", "0.3", "2 0.5 7", "1e-3 100000000"),
         "deck statement 8 (relative error and evaluation budget), item 2 on line 9",
         "maxcls 100000000 exceeds the largest budget the work array holds (81249674 for two stages)"},
        {two_stage("2 2 50 20 5", "1 0", "0 1", "0.3", "2 0.5 7", "1 1000"),
         "deck statement 8 (relative error and evaluation budget), item 1 on line 9", "a relative error of 1 asks for no accuracy"},
        {two_stage("2 2 50 20 5", "1 0", "0 1", "0.3", "2 0.5 7", "1e-3 194"), "item 2 on line 9",
         "maxcls 194 is below the smallest budget the cubature accepts (195 for two stages)"},
        {"3 3 50 30 20 5\n1 0 0\n0 1 0\n0 0 1\n0.5 0.3 0.2\n0.3 0.2\n0.25\n0.5 0.2 0.1\n2 0.5 7\n0.3\n1e-4 126999619\n",
         "item 2 on line 11", "(126999618 for three stages)"},
        // Lines are counted through statements split over several lines.
        {"1\n1\n50\n50\n1\n0.5\n0.5\n2 0.3 7\n0.5\n1e-4 1000\n", kCounts + "item 4 on line 4", "keeps all 50"},
    };
    for (const Case& c : cases) {
        const Verdict v = judge(c.deck);
        ASSERT_TRUE(v.read) << v.message << "\n" << c.deck;
        EXPECT_FALSE(v.accepted) << c.deck;
        EXPECT_EQ(v.message.rfind("deck statement ", 0), 0u) << v.message;
        EXPECT_NE(v.message.find(c.where + ": "), std::string::npos) << v.message;
        EXPECT_NE(v.message.find(c.what), std::string::npos) << v.message;
        EXPECT_EQ(v.message.find('\n'), std::string::npos) << v.message;
        // The run: one line on standard error, nothing on standard output, status 1.
        const auto r = traz::testrun::run_deck(c.deck);
        EXPECT_EQ(r.status, traz::kRunBadDeck) << c.deck;
        EXPECT_EQ(r.out, "") << c.deck;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), "traz: " + v.message + "\n");
    }
}

TEST(Validation, AcceptedUpToEachLimit) {
    const std::string accepted[] = {
        traz::testrun::read_file(std::string(TRAZ_SOURCE_DIR) + "/examples/single-stage.deck"),
        traz::testrun::read_file(std::string(TRAZ_SOURCE_DIR) + "/examples/two-stage.deck"),
        traz::testrun::read_file(std::string(TRAZ_SOURCE_DIR) + "/examples/three-stage.deck"),
        one_stage("1 1 2 1"),
        one_stage("1 1 50 49", "1 1 1"),
        one_stage("1 1 50 10", "2 0.01 1"),  // relative error and budget are not used
        "1 1 50 10\n1\n0.5\n0.5\n2 0.3 7\n0.5\n1e10 -1\n",
        one_stage("1 1 50 10", "2 0.999 7", "-3", "10"),
        two_stage("2 2 50 20 5", "1 0", "0 1", "0.3", "2 0.5 7", "0.99 195"),
        two_stage("2 2 50 20 5", "1 0", "0 1", "0.3", "2 0.5 7", "0 81249674"),
        two_stage("2 2 50 20 5", "1 0", "1 0.01", "0.3"),  // stage correlation 0.99997
        two_stage("2 2 50 20 5", "1e-50 0", "0 1e50", "0.5"),
        // A deck the report refuses after its echo is not judged here.
        "11 1 50 60\n1 1 1 1 1 1 1 1 1 1 1\n2 2 2 2 2 2 2 2 2 2 2\n1 1 1 1 1 1 1 1 1 1\n1 1 1 1 1 1 1 1 1\n"
        "1 1 1 1 1 1 1 1\n1 1 1 1 1 1 1\n1 1 1 1 1 1\n1 1 1 1 1\n1 1 1 1\n1 1 1\n1 1\n1\n0 0 0 0 0 0 0 0 0 0 0\n"
        "3 0 0\n0.5\n0 0\n",
        one_stage("1 1 101 500", "4 7 -1"),
        // Nothing guards the fixed cube any more: stage means beyond 3 and cut scores near its
        // edge are computed (the run recomputes them over the fitted domain).
        one_stage("1 1 50 10", "2 0.3 7", "-3.5"),
        two_stage("2 2 100 50 1", "1 0", "0 1", "0.3", "2 0.9 7", "1e-5 20000", "0.5 0.3", "2 2"),
    };
    for (const std::string& deck : accepted) {
        const Verdict v = judge(deck);
        EXPECT_TRUE(v.read && v.accepted) << v.message << "\n" << deck;
        EXPECT_EQ(v.message, "");
    }
}

// The accepted budgets are exactly those the cubature's argument check lets through.
TEST(Validation, BudgetLimitsAreTheCubaturesOwn) {
    for (const int nstage : {2, 3}) {
        const double a[3] = {-4.5, -4.5, -4.5}, b[3] = {4.5, 4.5, 4.5};
        const int key = nstage == 3 ? 2 : 0;
        struct Case { int maxcls, ifail; };
        for (const Case c : {Case{traz::smallest_budget(nstage) - 1, 8}, Case{traz::smallest_budget(nstage), 0},
                             Case{traz::largest_budget(nstage), 0}, Case{traz::largest_budget(nstage) + 1, 11}}) {
            int num = 0, maxsub = 0, minsub = 0, keyf = 0, ifail = -1, wtleng = 0;
            traz::dchhre(traz::maxdim, nstage, 1, traz::mdiv, a, b, 0, c.maxcls, 0.0, 1e-4, key, 5000000, 0,
                         num, maxsub, minsub, keyf, ifail, wtleng);
            EXPECT_EQ(ifail, c.ifail) << nstage << " stages, maxcls " << c.maxcls;
        }
    }
    EXPECT_EQ(traz::largest_budget(2), 81249674);
    EXPECT_EQ(traz::largest_budget(3), 126999618);
}

} // namespace
