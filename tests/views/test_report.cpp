// Whole reports, byte for byte, against hand-written expected texts; and the numbers in
// those texts against an independent computation of the selection model.
//
// Each expected/<name>.report was written by hand from the record layouts. Its echo values
// follow from the deck by hand arithmetic (comments below); its result values were
// computed with the reference model of reference_model.cpp (normal tail from erfc, own
// Gauss-Legendre rule, order statistics of the whole pool), and the tests below recompute
// them, so a wrong number in an expected file is caught as well as a wrong report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "reference_model.hpp"
#include "run_deck.hpp"

namespace {

using traz::testref::Pool;
using traz::testrun::kDeckDir;
using traz::testrun::read_file;
using traz::testrun::run_deck;

// ---------------------------------------------------------------------------------------
// Whole reports.

struct ReportCase {
    const char* name;
    int warnings;                   // quadrature warnings expected on standard error
    const char* note = nullptr;     // a warning of the run expected on standard error
    const char* refusal = nullptr;  // the deck checks refuse the deck with this reason
    int status = traz::kRunOk;      // 1 for a deck beyond the classic limits (its report ends with the refusal lines)
};

class WholeReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(WholeReport, MatchesExpectedText) {
    const std::string name = GetParam().name;
    const std::string deck = read_file(kDeckDir + name + ".deck");
    if (GetParam().refusal != nullptr) {
        const auto r = run_deck(deck);
        EXPECT_EQ(r.status, traz::kRunBadDeck);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(GetParam().refusal), std::string::npos) << r.err;
        EXPECT_EQ(traz::testrun::count_of(r.err, "\n"), 1) << r.err;
        return;
    }
    const std::string expected = read_file(kDeckDir + name + ".report");
    ASSERT_FALSE(deck.empty()) << name;
    ASSERT_FALSE(expected.empty()) << name;
    const auto r = run_deck(deck);
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_EQ(r.out, expected) << "deck " << name;
    EXPECT_EQ(traz::testrun::count_of(r.err, "ABNORMAL RETURN"), GetParam().warnings) << r.err;
    if (GetParam().note != nullptr) {
        EXPECT_NE(r.err.find(GetParam().note), std::string::npos) << r.err;
        EXPECT_EQ(traz::testrun::count_of(r.err, "\n"), 1) << r.err;
    } else if (GetParam().warnings == 0) {
        EXPECT_EQ(r.err, "") << "deck " << name;
    }
}

// two_group:      two groups, seven passes (the annotated example deck; comments after the
//                 values are ignored)
// applicants_101: refused with the single reason "  Too many applicants"
// npass0:         no pass: refused (100 applicants are accepted)
// npass1:         7 predictors (row and heading reuse), values that round to zero, one pass
// npass8:         10 predictors; the eighth pass repeats selector 11 and writes nothing
// pg1_one:        two groups with pg(1) = 1: refused (one group has the whole pool)
// one_group:      one group: passes 4 to 6 meet the proportion rule and rule i; a warning
//                 says that passes 5 and 6 show the bare density on criterion-score lines
// three_groups:   refused: the pass plan is built for one or two groups
// too_many:       11 predictors and 4 stages: read, echoed, refused
INSTANTIATE_TEST_SUITE_P(Decks, WholeReport,
                         ::testing::Values(ReportCase{"two_group", 0}, ReportCase{"applicants_101", 0, "item 3 on line 1: beyond the limits of the computation: 101 applicants (at most 100); the report ends with its refusal lines", nullptr, traz::kRunBadDeck},
                                           ReportCase{"npass0", 0, nullptr, "0 passes compute nothing"}, ReportCase{"npass1", 0}, ReportCase{"npass8", 0},
                                           ReportCase{"pg1_one", 0, nullptr, "proportion of group 1 lies strictly between 0 and 1"}, ReportCase{"one_group", 0, "warning: with one group, passes 5 and 6"},
                                           ReportCase{"three_groups", 0, nullptr, "TRAZ computes one or two groups, not 3"}, ReportCase{"too_many", 0, "item 1 on line 1: beyond the limits of the computation: 11 predictors (at most 10), 4 stages (at most 3)", nullptr, traz::kRunBadDeck}),
                         [](const ::testing::TestParamInfo<ReportCase>& info) { return std::string(info.param.name); });

TEST(ReportLines, NegativePassCountIsRefused) {
    std::string deck = read_file(kDeckDir + "npass0.deck");
    const std::size_t at = deck.find("2 0.4 0\n");
    ASSERT_NE(at, std::string::npos);
    deck.replace(at, 7, "2 0.4 -3");
    const auto r = run_deck(deck);
    EXPECT_EQ(r.status, traz::kRunBadDeck);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("deck statement 6 (groups, proportion of group 1 and passes), item 3 on line 5: -3 passes compute nothing"), std::string::npos) << r.err;
}

// A clock that reads 1.25 s at the start and 3.75 s at the end.
float two_readings() {
    static int calls = 0;
    return ++calls == 1 ? 1.25f : 3.75f;
}

TEST(ReportLines, TimeLineShowsTheClockDifference) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    traz::RunOptions opt;
    opt.cpu_clock = &two_readings;
    EXPECT_EQ(traz::run(read_file(kDeckDir + "applicants_101.deck"), out, err, opt), traz::kRunBadDeck);
    const std::string report = traz::testrun::read_stream(out);
    std::fclose(err);
    EXPECT_TRUE(report.ends_with("\n\nCOMPUTATION STOPPED: INVALID INPUT PARAMETERS\n  Too many applicants\n\n"
                                 "CPU TIME IN SECONDS         2.50\n"))
        << report;
}

// ---------------------------------------------------------------------------------------
// The numbers of the expected texts.

// Values on the occurrence-th line (0-based) that starts with `prefix`.
std::vector<double> printed(const std::string& report, const std::string& prefix, int occurrence = 0) {
    std::size_t at = 0;
    for (int seen = 0;; ++seen, ++at) {
        at = report.find("\n" + prefix, at);
        if (at == std::string::npos) {
            ADD_FAILURE() << "no line " << occurrence << " starting with " << prefix;
            return {};
        }
        if (seen == occurrence) break;
    }
    const std::size_t end = report.find('\n', at + 1);
    const std::string rest = report.substr(at + 1 + prefix.size(), end - at - 1 - prefix.size());
    std::vector<double> v;
    const char* p = rest.c_str();
    for (char* q;; p = q) {
        const double x = std::strtod(p, &q);
        if (q == p) break;
        v.push_back(x);
    }
    return v;
}

// A printed value with d decimals is the reference value rounded.
void expect_printed(double shown, double reference, int decimals, const char* what) {
    EXPECT_LE(std::fabs(shown - reference), 0.5 * std::pow(10.0, -decimals) + 1e-9)
        << what << ": printed " << shown << ", reference " << reference;
}

// The stage-composite echo lines carry ef(1,1) as F8.4 and cory(1) as F8.3.
void expect_stage_echo(const std::string& report, double ef1, double cory) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%8.4f", ef1);
    EXPECT_NE(report.find("Stages per Subpopulation\n   Subpopulation  1:" + std::string(buf) + "\n"),
              std::string::npos)
        << "ef(1,1) " << buf;
    std::snprintf(buf, sizeof buf, "%8.3f", cory);
    EXPECT_NE(report.find("Predictors with the Criterion:\n          " + std::string(buf) + "\n"),
              std::string::npos)
        << "cory(1) " << buf;
}

// Checks the result lines of a two-group report against the reference model.
void expect_two_group_results(const std::string& report, const Pool& p, bool ai_line) {
    using namespace traz::testref;
    const double E = expected_criterion(p);
    const double r1 = selection_rate(p, 0), r2 = selection_rate(p, 1);
    expect_printed(printed(report, "Expected Criterion Score Selected:").at(0), E, 4, "E");
    const auto rates = printed(report, "Expected selection rate of groups:");
    ASSERT_EQ(rates.size(), 2u);
    expect_printed(rates[0], r1, 4, "R1");
    expect_printed(rates[1], r2, 4, "R2");
    if (ai_line) expect_printed(printed(report, "Expected AI ratio:").at(0), r2 / r1, 4, "AI ratio");
    expect_printed(printed(report, "Standard Deviation Average Criterion Score Selected:").at(0),
                   sd_of_average(p), 4, "SD");
}

TEST(ExpectedNumbers, TwoGroupDeck) {
    const std::string report = read_file(kDeckDir + "two_group.report");
    // Weights w = (.5,.3,.2), r12 = .3, r13 = .2, r23 = .25:
    // w'Rw = .25+.09+.04 + 2(.5*.3*.3 + .5*.2*.2 + .3*.2*.25) = .54;
    // w'coryt = .25+.12+.06 = .43; w'eft = .4+.15+.06 = .61.
    Pool p;
    p.n = 50, p.ns = 10, p.ngroup = 2;
    p.pg[0] = 0.3, p.pg[1] = 0.7;
    p.mean[0] = 0.61 / std::sqrt(0.54);
    p.efc[0] = 0.5;
    p.cory = 0.43 / std::sqrt(0.54);
    expect_stage_echo(report, p.mean[0], p.cory);
    expect_two_group_results(report, p, true);
}

TEST(ExpectedNumbers, SevenPredictorDeck) {
    const std::string report = read_file(kDeckDir + "npass1.report");
    // All weights 1, only r12 = -.0004 and r17 = .3 nonzero: w'Rw = 7 + 2(.2996) = 7.5992;
    // sum of validities 1.0496; sum of effect sizes 1.49996.
    Pool p;
    p.n = 40, p.ns = 8, p.ngroup = 2;
    p.pg[0] = 0.25, p.pg[1] = 0.75;
    p.mean[0] = 1.49996 / std::sqrt(7.5992);
    p.efc[0] = 0.6;
    p.cory = 1.0496 / std::sqrt(7.5992);
    expect_stage_echo(report, p.mean[0], p.cory);
    expect_printed(printed(report, "Expected Criterion Score Selected:").at(0),
                   traz::testref::expected_criterion(p), 4, "E");
}

TEST(ExpectedNumbers, TenPredictorDeck) {
    const std::string report = read_file(kDeckDir + "npass8.report");
    // Equicorrelated r = .1, weights five 1 and five .5: w'Rw = .9*6.25 + .1*7.5^2 = 11.25;
    // w'coryt = 1.5 + .5 = 2; w'eft = 3 + .5 = 3.5.
    Pool p;
    p.n = 60, p.ns = 15, p.ngroup = 2;
    p.pg[0] = 0.2, p.pg[1] = 0.8;
    p.mean[0] = 3.5 / std::sqrt(11.25);
    p.efc[0] = 0.4;
    p.cory = 2.0 / std::sqrt(11.25);
    expect_stage_echo(report, p.mean[0], p.cory);
    expect_two_group_results(report, p, true);
}

TEST(ExpectedNumbers, OneGroupDeck) {
    using namespace traz::testref;
    const std::string report = read_file(kDeckDir + "one_group.report");
    Pool p;
    p.n = 50, p.ns = 10, p.ngroup = 1;
    p.cory = 0.5;
    // Criterion score: cory times the mean of the 10 largest of 50 normal order statistics.
    double top = 0.0;
    for (int i = 41; i <= 50; ++i) top += normal_order_statistic_mean(50, i);
    expect_printed(printed(report, "Expected Criterion Score Selected:", 0).at(0), 0.5 * top / 10.0, 4, "E");
    expect_printed(printed(report, "Expected Criterion Score Selected:", 0).at(0), expected_criterion(p), 4,
                   "E (whole pool)");
    // One group: both rates are the selection ratio 10/50.
    const auto rates = printed(report, "Expected selection rate of groups:");
    ASSERT_EQ(rates.size(), 2u);
    expect_printed(rates[0], 0.2, 4, "R1");
    expect_printed(rates[1], 0.2, 4, "R2");
    // S at the cut is the 11th largest of 50 uniforms, so its mean is 11/51; the
    // target ratio is 10/50.
    const auto prop = printed(report, "Proportion Selected and Target SR:");
    ASSERT_EQ(prop.size(), 2u);
    expect_printed(prop[0], 11.0 / 51.0, 3, "proportion");
    expect_printed(prop[0], proportion_above_cut(p), 3, "proportion (quadrature)");
    expect_printed(prop[1], 0.2, 3, "target");
    // Passes 5 and 6 integrate the bare density of the cut: 1.
    expect_printed(printed(report, "Expected Criterion Score Selected:", 1).at(0), 1.0, 4, "density");
    expect_printed(printed(report, "Expected Criterion Score Selected:", 2).at(0), 1.0, 4, "density");
}

TEST(ExpectedNumbers, RefusedDecksEchoTheirComposites) {
    // Two predictors with r = .5 and weights 1: w'Rw = 3; validities .4+.4; effect sizes .5+.5.
    const std::string r101 = read_file(kDeckDir + "applicants_101.report");
    expect_stage_echo(r101, 1.0 / std::sqrt(3.0), 0.8 / std::sqrt(3.0));
    // One predictor with weight 1: the composite is the predictor itself.
    std::string deck = read_file(kDeckDir + "npass0.deck");
    const std::size_t at = deck.find("2 0.4 0\n");
    ASSERT_NE(at, std::string::npos);
    deck.replace(at, 7, "2 0.4 1");
    expect_stage_echo(run_deck(deck).out, -0.3, 0.5);
}

} // namespace
