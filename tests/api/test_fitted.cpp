// Fitted integration through the public interface: a sweep settles the rule's level, its
// results change smoothly from point to point and equal the runs of the points' own designs
// given that level; pools grow towards the closed forms of an infinite pool.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "run_deck.hpp"
#include "traz/traz.hpp"

namespace {

using traz::testrun::read_file;

const std::string kExamples = std::string(TRAZ_SOURCE_DIR) + "/examples/";

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(FittedSweep, SettledLevelGivesSmoothResultsThatEqualEachPointsOwnRun) {
    traz::Design base = traz::Design::from_deck(read_file(kExamples + "sweep-weights.deck"));
    base.integration = traz::Integration::fitted;
    traz::SweepRequest request;
    request.vary = {"mix(2)=0.40:0.42:0.002"};
    request.mix_to = {0, 0, 1, 1};
    request.jobs = 2;
    const std::vector<traz::SweepPoint> points = traz::sweep(base, request);
    ASSERT_EQ(points.size(), 11u);
    const int level = points[0].result.rule_level;
    for (const traz::SweepPoint& p : points) {
        ASSERT_TRUE(p.result.ok());
        EXPECT_TRUE(p.result.rule_level_settled);
        EXPECT_EQ(p.result.rule_level, level);
        EXPECT_EQ(p.result.fallback, "");
    }
    // Third differences along the stretch: the smooth part only (a change of level or of
    // subdivision between neighbours would show as jumps of 1e-6 and more).
    for (auto field : {&traz::Result::expected_criterion_score, &traz::Result::ai_ratio})
        for (std::size_t i = 0; i + 3 < points.size(); ++i) {
            const auto v = [&](std::size_t j) { return (points[j].result.*field).value; };
            EXPECT_LT(std::fabs(v(i + 3) - 3 * v(i + 2) + 3 * v(i + 1) - v(i)), 1e-7) << "point " << i + 1;
        }
    // Point 6's own design, given the sweep's level, gives the same bits.
    traz::Design own = base;
    const double t = points[5].values[0];
    for (std::size_t i = 0; i < own.stages[1].weights.size(); ++i)
        own.stages[1].weights[i] = (1.0 - t) * base.stages[1].weights[i] + t * request.mix_to[i];
    traz::Options options;
    options.fitted_level = level;
    const traz::Result alone = traz::evaluate(own, options);
    EXPECT_TRUE(same_bits(alone.expected_criterion_score.value, points[5].result.expected_criterion_score.value));
    EXPECT_TRUE(same_bits(alone.ai_ratio.value, points[5].result.ai_ratio.value));
    EXPECT_TRUE(same_bits(alone.sd_average_criterion_score.error_bound,
                          points[5].result.sd_average_criterion_score.error_bound));
}

// Upper tail of the standard normal.
double Q(double x) { return 0.5 * std::erfc(x / std::sqrt(2.0)); }
double phi(double x) { return std::exp(-0.5 * x * x) / std::sqrt(2.0 * M_PI); }

// One stage, the pool growing with the share kept fixed at 1/10: E, the rates and the AI ratio
// approach the infinite pool's closed forms, the distance falling about as 1/napp.
TEST(FittedPools, ApproachTheInfinitePoolAsOneOverThePool) {
    // One predictor of validity R = 0.5, group 1 (30%) at d = -0.6 on it and efc = -0.4 on
    // the criterion.
    const double R = 0.5, d = -0.6, efc = -0.4, pg1 = 0.3, pg2 = 0.7, SR = 0.1;
    double lo = -10, hi = 10;  // the cut: pg1 Q(c - d) + pg2 Q(c) = SR
    for (int i = 0; i < 200; ++i) {
        const double c = 0.5 * (lo + hi);
        (pg1 * Q(c - d) + pg2 * Q(c) > SR ? lo : hi) = c;
    }
    const double c = 0.5 * (lo + hi);
    const double E = (pg1 * (efc * Q(c - d) + R * phi(c - d)) + pg2 * R * phi(c)) / SR;
    const double R1 = Q(c - d), R2 = Q(c), AI = R2 / R1;

    std::vector<double> distance;
    for (int napp : {100, 1000, 10000}) {
        const std::string deck = "1 1 " + std::to_string(napp) + " " + std::to_string(napp / 10) +
                                 "\n1\n0.5\n-0.6\n2 0.3 7\n-0.4\n1.0E-4 100000\n";
        const traz::Result r = traz::evaluate_deck(deck, {}, traz::Integration::fitted);
        ASSERT_TRUE(r.ok()) << napp << ": " << r.diagnostic.message;
        distance.push_back(std::fmax(std::fmax(std::fabs(r.expected_criterion_score.value - E),
                                               std::fabs(r.selection_rate_group1.value - R1)),
                                     std::fmax(std::fabs(r.selection_rate_group2.value - R2),
                                               std::fabs(r.ai_ratio.value - AI) * R1)));
    }
    for (int k = 0; k < 2; ++k) {
        const double ratio = distance[k + 1] / distance[k];
        EXPECT_GT(ratio, 0.05) << "napp step " << k;
        EXPECT_LT(ratio, 0.2) << "napp step " << k;
    }
    // Without --fitted a pool above 100 keeps its classic refusal.
    EXPECT_EQ(traz::evaluate_deck("1 1 1000 100\n1\n0.5\n-0.6\n2 0.3 7\n-0.4\n1.0E-4 100000\n").outcome,
              "refused_after_echo");
}

} // namespace
