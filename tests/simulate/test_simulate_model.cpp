// The model the simulation draws: the stage composites and the criterion drawn from their
// joint normal stage by stage against pools drawn predictor by predictor; a pool of a million
// against the large-pool limit; the example decks against the integration.
#include <gtest/gtest.h>
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_randist.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "montecarlo.hpp"
#include "simulate/record.hpp"
#include "traz/traz.hpp"

namespace {

using namespace traz::sim;

Model model_of(const std::string& text, traz::Deck& d) {
    Model m;
    traz::DeckFault fault;
    EXPECT_TRUE(traz::read_deck(text, d, fault)) << fault.message;
    EXPECT_TRUE(build_model(d, m, fault)) << fault.message;
    return m;
}

// 12 predictors, 4 stages: beyond what the integration computes.
const char* const kTwelvePredictors =
    "12 4 60 40 25 12 5\n"
    "1 1 1 1 0 0 0 0 0 0 0 0\n"
    "0.5 0.5 0 0 1 1 1 0 0 0 0 0\n"
    "0.3 0.3 0.3 0.3 0.5 0.5 0.5 1 1 1 0 0\n"
    "0 0 0 0 0.2 0.2 0.2 0.4 0.4 0.4 1 1.5\n"
    "0.35 0.30 0.30 0.25 0.20 0.30 0.25 0.35 0.20 0.25 0.30 0.40\n"
    "0.5 0.4 0.3 0.3 0.2 0.2 0.2 0.2 0.2 0.2 0.1\n0.4 0.3 0.3 0.2 0.2 0.2 0.2 0.2 0.2 0.1\n"
    "0.3 0.3 0.2 0.2 0.2 0.2 0.2 0.2 0.1\n0.3 0.2 0.2 0.2 0.2 0.2 0.2 0.1\n0.4 0.3 0.2 0.2 0.2 0.2 0.1\n"
    "0.4 0.2 0.2 0.2 0.2 0.1\n0.2 0.2 0.2 0.2 0.1\n0.4 0.3 0.3 0.2\n0.3 0.3 0.2\n0.3 0.2\n0.2\n"
    "0.8 0.7 0.5 0.4 0.3 0.2 0.3 0.2 0.1 0.3 0.2 0.4\n"
    "2 0.6 7\n0.4\n1e-4 100000\n";

TEST(SimulateModel, CompositesDrawnStageByStageMatchPoolsDrawnPredictorByPredictor) {
    traz::Deck d;
    const Model m = model_of(kTwelvePredictors, d);
    const auto ref = traz::montecarlo::simulate(d, 4711);
    const double R = static_cast<double>(ref.average.size());
    double sum = 0.0, sq = 0.0;
    for (double x : ref.average) sum += x, sq += x * x;
    const double ref_e = sum / R, ref_sd = std::sqrt((sq - R * ref_e * ref_e) / (R - 1.0));
    const double ref_h2 = ref.g2_sum / R, ref_h2_se = std::sqrt((ref.g2_sq / R - ref_h2 * ref_h2) / R);

    const Summary s = summarise(m, simulate(m, 1, 0, static_cast<std::int64_t>(R), 2));
    auto expect_agree = [](double a, double a_se, double b, double b_se, const char* what) {
        EXPECT_LE(std::fabs(a - b), 4.5 * std::hypot(a_se, b_se)) << what << ": " << a << " +- " << a_se << " vs " << b << " +- " << b_se;
    };
    expect_agree(s.criterion.value, s.criterion.se, ref_e, ref_sd / std::sqrt(R), "E");
    // The SD's standard error is about the same for both.
    expect_agree(s.sd.value, s.sd.se, ref_sd, s.sd.se, "SD of the average");
    const double expected2 = m.napp * (1.0 - m.pg1);
    expect_agree(s.rate[1].value * expected2, s.rate[1].se * expected2, ref_h2, ref_h2_se, "hires of group 2");
}

// A deck of 100 equicorrelated predictors (r = 0.2, validity 0.1) whose one stage ranks on
// their sum: 1,000,000 applicants, 100,000 hired.
std::string million_deck() {
    std::ostringstream s;
    s << "100 1 1000000 100000\n";
    for (int i = 0; i < 100; ++i) s << "1 ";
    s << "\n";
    for (int i = 0; i < 100; ++i) s << "0.1 ";
    s << "\n";
    for (int i = 1; i < 100; ++i) {
        for (int j = i; j < 100; ++j) s << "0.2 ";
        s << "\n";
    }
    for (int i = 0; i < 100; ++i) s << (i < 50 ? "0.3 " : "0 ");
    s << "\n2 0.3 7\n0.5\n1e-4 100000\n";
    return s.str();
}

TEST(SimulateModel, AMillionApplicantsMatchTheLargePoolLimit) {
    traz::Deck d;
    const Model m = model_of(million_deck(), d);
    const Summary s = summarise(m, simulate(m, 3, 0, 4, 2));
    // Composite: variance 100 + 100*99*0.2, validity 100*0.1 over its SD, group 1's mean
    // 50*0.3 over its SD. In the limit the cut c leaves 10 % of the mixture above it.
    const double sd = std::sqrt(100.0 + 9900.0 * 0.2), rho = 10.0 / sd, mu = 15.0 / sd, p1 = 0.3;
    auto above = [&](double c) { return p1 * gsl_cdf_ugaussian_Q(c - mu) + (1 - p1) * gsl_cdf_ugaussian_Q(c); };
    double lo = -5, hi = 5;
    for (int i = 0; i < 100; ++i) (above(0.5 * (lo + hi)) > 0.1 ? lo : hi) = 0.5 * (lo + hi);
    const double c = 0.5 * (lo + hi);
    const double q1 = gsl_cdf_ugaussian_Q(c - mu), q2 = gsl_cdf_ugaussian_Q(c);
    // E[Y | selected] = sum over groups of P(g | selected) (efc_g + rho * E[Z - mu_g | Z > c]).
    const double e = (p1 * q1 * (0.5 + rho * gsl_ran_ugaussian_pdf(c - mu) / q1) +
                      (1 - p1) * q2 * rho * gsl_ran_ugaussian_pdf(c) / q2) / 0.1;
    EXPECT_NEAR(s.criterion.value, e, 0.005);
    EXPECT_NEAR(s.rate[0].value, q1, 0.003);
    EXPECT_NEAR(s.rate[1].value, q2, 0.003);
    // Pools this large show about the limit's impact ratio in every replication.
    ASSERT_GT(std::fabs(q2 / q1 - 0.8), 0.05);
    EXPECT_EQ(s.p_four_fifths.value, q2 / q1 < 0.8 ? 1.0 : 0.0) << "limit ratio " << q2 / q1;
    EXPECT_NEAR(s.impact_ratio.value, q2 / q1, 0.01);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(SimulateModel, ExampleDecksAgreeWithTheIntegration) {
    for (const char* name : {"single-stage", "two-stage", "three-stage"}) {
        SCOPED_TRACE(name);
        const std::string text = read_file(std::string(TRAZ_SOURCE_DIR) + "/examples/" + name + ".deck");
        traz::Deck d;
        const Model m = model_of(text, d);
        const traz::Result r = traz::evaluate_deck(text);
        ASSERT_TRUE(r.ok()) << r.diagnostic.message;
        const Analytic a{r.expected_criterion_score.value, r.selection_rate_group1.value, r.selection_rate_group2.value,
                         r.ai_ratio.value, r.sd_average_criterion_score.value};
        for (const CheckRow& c : compare(summarise(m, simulate(m, 11, 0, 100000, 2)), a))
            EXPECT_LE(std::fabs(c.z), 5.0) << c.quantity << ": analytic " << c.analytic << ", simulated " << c.simulated;
    }
}

} // namespace
