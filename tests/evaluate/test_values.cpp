// Driver values: stage composites, order-statistic constants, the correlation list, the
// library message handler and the fatal log-gamma path.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "evaluate/evaluate.hpp"
#include "model/messages.hpp"
#include "model/state.hpp"
#include "reference_model.hpp"
#include "run_deck.hpp"

namespace {

// The selection state under test.
traz::SelectionState st{};
using traz::testrun::count_of;
using traz::testrun::run_deck;

traz::Deck read(const std::string& text) {
    traz::Deck d;
    std::string error;
    EXPECT_TRUE(traz::read_deck(text, d, error)) << error;
    return d;
}

TEST(StageComposites, SinglePredictorIsItsOwnComposite) {
    // Weight 1, and any other positive weight: the standardized composite is the predictor.
    for (const char* w : {"1.0", "2.5", "0.01"}) {
        const traz::Deck d = read(std::string("1 1 20 5\n") + w + "\n0.45\n-0.7\n2 0.3 7\n0.5\n1e-4 1000\n");
        traz::StageValues s;
        traz::derive_stages(d, s);
        EXPECT_DOUBLE_EQ(s.Cormc(1, 1), 1.0) << w;
        EXPECT_DOUBLE_EQ(s.cory[0], 0.45) << w;
        EXPECT_DOUBLE_EQ(s.ef1[0], -0.7) << w;
    }
}

TEST(StageComposites, ThreeStagesOfThreePredictors) {
    // Identity correlations; stages (1,0,0), (1,1,0), (0,1,1):
    // variances 1, 2, 2; covariances c12 = 1, c13 = 0, c23 = 1;
    // cormc(2,1) = 1/sqrt2, cormc(3,1) = 0, cormc(3,2) = 1/2.
    const traz::Deck d =
        read("3 3 50 30 20 10\n1 0 0\n1 1 0\n0 1 1\n0.5 0.4 0.3\n0 0\n0\n0.8 0.5 0.3\n2 0.3 7\n0.5\n1e-4 1000\n");
    traz::StageValues s;
    traz::derive_stages(d, s);
    const double r = 1.0 / std::sqrt(2.0);
    EXPECT_NEAR(s.Cormc(2, 1), r, 1e-15);
    EXPECT_NEAR(s.Cormc(1, 2), r, 1e-15);
    EXPECT_NEAR(s.Cormc(3, 1), 0.0, 1e-15);
    EXPECT_NEAR(s.Cormc(3, 2), 0.5, 1e-15);
    for (int j = 1; j <= 3; ++j) EXPECT_NEAR(s.Cormc(j, j), 1.0, 1e-15);
    EXPECT_NEAR(s.cory[0], 0.5, 1e-15);
    EXPECT_NEAR(s.cory[1], 0.9 * r, 1e-15);
    EXPECT_NEAR(s.cory[2], 0.7 * r, 1e-15);
    EXPECT_NEAR(s.ef1[1], 1.3 * r, 1e-15);
    EXPECT_NEAR(s.ef1[2], 0.8 * r, 1e-15);

    // The selection state lists the strict lower triangle row by row.
    st = traz::selection_state(d, s);
    EXPECT_EQ(st.corc[0], s.Cormc(2, 1));
    EXPECT_EQ(st.corc[1], s.Cormc(3, 1));
    EXPECT_EQ(st.corc[2], s.Cormc(3, 2));
    for (int i = 3; i < 10; ++i) EXPECT_EQ(st.corc[i], 0.0);
    EXPECT_EQ(st.Cormc(3, 2), s.Cormc(3, 2));
    EXPECT_EQ(st.Ef(1, 2), s.ef1[1]);
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(st.Ef(2, j), 0.0);
    EXPECT_EQ(st.pg[1], 0.7);
    EXPECT_EQ(st.efc[1], 0.0);
    EXPECT_EQ(st.srtot, 0.2);
    EXPECT_EQ(st.ns[2], 10);
    EXPECT_EQ(st.ns[3], 0);
}

TEST(StageComposites, SingleStageStateHasNoCorrelationList) {
    const traz::Deck d = read("2 1 20 5\n0.6 0.4\n0.5 0.3\n0.2\n0.4 0.1\n2 0.3 7\n0.5\n1e-4 1000\n");
    traz::StageValues s;
    traz::derive_stages(d, s);
    st = traz::selection_state(d, s);
    for (double c : st.corc) EXPECT_EQ(c, 0.0);
    EXPECT_DOUBLE_EQ(st.Cormc(1, 1), 1.0);
}

// ln( N_(k-1)! / (N_k! (N_(k-1) - N_k - 1)!) ) from sums of logarithms.
double log_constant(int before, int after) {
    using traz::testref::log_factorial;
    return log_factorial(before) - log_factorial(after) - log_factorial(before - after - 1);
}

void set_counts(int napp, std::initializer_list<int> ns) {
    st = traz::SelectionState{};
    st.napp = napp;
    st.nstage = static_cast<int>(ns.size());
    int k = 0;
    for (int n : ns) st.ns[k++] = n;
}

TEST(OrderStatisticConstants, LogOfDensityConstants) {
    set_counts(100, {40, 12, 3});
    traz::order_statistic_constants(st);
    EXPECT_NEAR(st.dl4c[0], log_constant(100, 40), 1e-12);
    EXPECT_NEAR(st.dl4c[1], log_constant(40, 12), 1e-12);
    EXPECT_NEAR(st.dl4c[2], log_constant(12, 3), 1e-12);
}

TEST(OrderStatisticConstants, StageRejectingOneOrNone) {
    // Rejecting exactly one applicant: (N-N_k-1)! = 0! = 1, so the constant is ln N.
    set_counts(10, {9});
    traz::order_statistic_constants(st);
    EXPECT_NEAR(st.dl4c[0], std::log(10.0), 1e-13);
    // Keeping everyone: -1 for that stage, the other stages as usual.
    set_counts(20, {10, 10, 4});
    traz::order_statistic_constants(st);
    EXPECT_NEAR(st.dl4c[0], log_constant(20, 10), 1e-12);
    EXPECT_EQ(st.dl4c[1], -1.0);
    EXPECT_NEAR(st.dl4c[2], log_constant(10, 4), 1e-12);
    set_counts(7, {7});
    traz::order_statistic_constants(st);
    EXPECT_EQ(st.dl4c[0], -1.0);
}

// ---------------------------------------------------------------------------------------
// Library messages.

class LibraryMessages : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = std::tmpfile();
        traz::reset_messages();
        traz::set_message_stream(file_);
    }
    void TearDown() override {
        traz::set_message_stream(nullptr);
        traz::reset_messages();
    }
    std::string text() { return traz::testrun::read_stream(file_); }
    std::FILE* file_ = nullptr;
};

TEST_F(LibraryMessages, WarningBlock) {
    traz::library_message("DQAG", "ABNORMAL RETURN", 2, traz::MessageLevel::warning);
    const std::string t = text();
    EXPECT_NE(t.find("MESSAGE FROM ROUTINE DQAG IN LIBRARY SLATEC"), std::string::npos) << t;
    EXPECT_NE(t.find("INFORMATIVE MESSAGE, PROG CONTINUES, TRACEBACK REQUESTED"), std::string::npos) << t;
    EXPECT_NE(t.find("ABNORMAL RETURN"), std::string::npos) << t;
    EXPECT_NE(t.find("ERROR NUMBER =        2\n"), std::string::npos) << t;
    EXPECT_NE(t.find("END OF MESSAGE"), std::string::npos) << t;
    EXPECT_EQ(t.find("FATAL"), std::string::npos) << t;
}

TEST_F(LibraryMessages, WarningWrittenTenTimesThenCounted) {
    for (int i = 0; i < 13; ++i) traz::library_message("DQAG", "ABNORMAL RETURN", 1, traz::MessageLevel::warning);
    // Another error number is another message, with its own count.
    traz::library_message("DQAG", "ABNORMAL RETURN", 3, traz::MessageLevel::warning);
    EXPECT_THROW(traz::library_message("DLNGAM", "X IS 0", 1, traz::MessageLevel::fatal), traz::FatalLibraryError);
    const std::string t = text();
    EXPECT_EQ(count_of(t, "MESSAGE FROM ROUTINE DQAG"), 11) << t;
    EXPECT_EQ(count_of(t, "ERROR NUMBER =        1\n"), 11) << t;  // ten warnings and the fatal one
    EXPECT_EQ(count_of(t, "ERROR NUMBER =        3\n"), 1) << t;
    EXPECT_EQ(count_of(t, "END OF MESSAGE"), 12) << t;
    // The summary counts every occurrence, written or not.
    const std::size_t summary = t.find("ERROR MESSAGE SUMMARY");
    ASSERT_NE(summary, std::string::npos) << t;
    EXPECT_LT(t.find("JOB ABORT DUE TO FATAL ERROR."), summary);
    const std::string table = t.substr(summary);
    const std::size_t row = table.find("DQAG       ABNORMAL RETURN");
    ASSERT_NE(row, std::string::npos) << table;
    const std::string line = table.substr(row, table.find('\n', row) - row);
    EXPECT_EQ(std::stoi(line.substr(line.find_last_of(' ') + 1)), 13) << line;
    EXPECT_NE(table.find("DLNGAM"), std::string::npos) << table;
}

TEST_F(LibraryMessages, ResetStartsTheCountsAgain) {
    for (int i = 0; i < 10; ++i) traz::library_message("DQAG", "ABNORMAL RETURN", 1, traz::MessageLevel::warning);
    traz::reset_messages();
    traz::library_message("DQAG", "ABNORMAL RETURN", 1, traz::MessageLevel::warning);
    EXPECT_EQ(count_of(text(), "MESSAGE FROM ROUTINE DQAG"), 11);
}

TEST_F(LibraryMessages, LogGammaOfZeroAndNegativeIntegersIsFatal) {
    EXPECT_THROW(traz::dlngam(0.0), traz::FatalLibraryError);
    EXPECT_THROW(traz::dlngam(-3.0), traz::FatalLibraryError);
    EXPECT_NEAR(traz::dlngam(-2.5), std::log(std::fabs(std::tgamma(-2.5))), 1e-13);
    EXPECT_NEAR(traz::dlngam(101.0), traz::testref::log_factorial(100), 1e-10);
    EXPECT_EQ(traz::dlngam(1.0), 0.0);
    const std::string t = text();
    EXPECT_NE(t.find("X IS 0"), std::string::npos) << t;
    EXPECT_NE(t.find("X IS A NEGATIVE INTEGER"), std::string::npos) << t;
    EXPECT_EQ(count_of(t, "FATAL ERROR, PROG ABORTED, TRACEBACK REQUESTED"), 2) << t;
}

// ---------------------------------------------------------------------------------------
// The fatal path through a run: the report stops after PROGRAM OUTPUT, status 2.

// The deck checks refuse such counts before any report line, so the log-gamma function's
// own refusal is reached only through the selection state: the counts of one stage, then
// the order-statistic constants with the library messages collected.
struct Constants {
    bool fatal = false;
    std::string messages;
};

Constants constants_for(int napp, int ns) {
    st = traz::SelectionState{};
    st.nstage = 1;
    st.napp = napp;
    st.ns[0] = ns;
    std::FILE* err = std::tmpfile();
    traz::reset_messages();
    traz::set_message_stream(err);
    Constants c;
    try {
        traz::order_statistic_constants(st);
    } catch (const traz::FatalLibraryError&) {
        c.fatal = true;
    }
    traz::set_message_stream(nullptr);
    traz::reset_messages();
    c.messages = traz::testrun::read_stream(err);
    return c;
}

TEST(FatalLogGamma, RetainedCountAboveThePool) {
    // d = napp - ns = -2: log-gamma of a negative integer.
    const Constants c = constants_for(10, 12);
    EXPECT_TRUE(c.fatal);
    EXPECT_NE(c.messages.find("MESSAGE FROM ROUTINE DLNGAM IN LIBRARY SLATEC"), std::string::npos) << c.messages;
    EXPECT_NE(c.messages.find("X IS A NEGATIVE INTEGER"), std::string::npos) << c.messages;
    EXPECT_NE(c.messages.find("JOB ABORT DUE TO FATAL ERROR."), std::string::npos) << c.messages;
    EXPECT_NE(c.messages.find("ERROR MESSAGE SUMMARY"), std::string::npos) << c.messages;
    // The deck with these counts is refused with one line naming the count.
    const auto r = run_deck("1 1 10 12\n1.0\n0.5\n0.3\n2 0.4 7\n0.2\n1e-4 1000\n");
    EXPECT_EQ(r.status, traz::kRunBadDeck);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("stage 1 keeps 12 of 10 applicants"), std::string::npos) << r.err;
}

TEST(FatalLogGamma, NegativeRetainedCount) {
    // ns = -1: the argument ns + 1 is 0; ns = -3: the argument is -2.
    Constants c = constants_for(10, -1);
    EXPECT_TRUE(c.fatal);
    EXPECT_NE(c.messages.find("X IS 0"), std::string::npos) << c.messages;
    c = constants_for(10, -3);
    EXPECT_TRUE(c.fatal);
    EXPECT_NE(c.messages.find("X IS A NEGATIVE INTEGER"), std::string::npos) << c.messages;
}

TEST(FatalLogGamma, StageKeepingEveryoneIsNotAnError) {
    const Constants c = constants_for(10, 10);
    EXPECT_FALSE(c.fatal);
    EXPECT_EQ(c.messages, "");
    EXPECT_EQ(st.dl4c[0], -1.0);
}

// ---------------------------------------------------------------------------------------
// The single-stage quadrature's error code never gives the cubature status line.

TEST(SingleStageStatus, AbnormalQuadratureWritesNoIfailLine) {
    // Group 1's criterion mean is chosen so that the expected criterion score is about 0
    // (reference model: E = 0.7398918 + 0.5557920 efc(1)); the relative accuracy asked for
    // cannot be met, the quadrature warns on standard error and the pass is reported anyway.
    const auto r = run_deck("3 1 50 10\n0.5 0.3 0.2\n0.5 0.4 0.3\n0.3 0.2\n0.25\n0.8 0.5 0.3\n2 0.3 7\n"
                            "-1.331238550941\n1.0e-4 100000\n");
    EXPECT_EQ(r.status, traz::kRunOk);
    EXPECT_NE(r.err.find("MESSAGE FROM ROUTINE DQAG"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ABNORMAL RETURN"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Ifail"), std::string::npos);
    EXPECT_NE(r.out.find("\nExpected Criterion Score Selected:    0.0000\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Standard Deviation Average Criterion Score Selected:"), std::string::npos);
}

} // namespace
