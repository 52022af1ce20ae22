// Pareto fronts of stage weights and designs side by side: a single-stage front against the
// closed forms of an infinite pool, independence of threads and shards, refusals, and the
// dominance line of traz::compare against the error bounds.
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_randist.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "run_deck.hpp"
#include "traz/traz.hpp"

namespace {

using traz::testrun::read_file;

const std::string kExamples = std::string(TRAZ_SOURCE_DIR) + "/examples/";

// One stage keeping a tenth of the pool: a cognitive-like test, a personality inventory and an
// interview.
traz::Design single_stage(int applicants) {
    traz::Design d;
    d.validities = {0.50, 0.22, 0.40};
    d.correlations = {{1.00, 0.00, 0.30}, {0.00, 1.00, 0.25}, {0.30, 0.25, 1.00}};
    d.effect_sizes = {0.90, 0.05, 0.25};
    d.stages = {{{1, 1, 1}, applicants / 10}};
    d.applicants = applicants;
    d.proportion = 0.7;
    d.criterion_effect = 0.45;
    d.integration = traz::Integration::fitted;
    return d;
}

// Composite validity and effect size of weights w in design d.
struct Composite {
    double R, d;
};
Composite composite(const traz::Design& g, const std::vector<double>& w) {
    double var = 0, wr = 0, wd = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
        wr += w[i] * g.validities[i];
        wd += w[i] * g.effect_sizes[i];
        for (std::size_t j = 0; j < w.size(); ++j) var += w[i] * w[j] * g.correlations[i][j];
    }
    return {wr / std::sqrt(var), wd / std::sqrt(var)};
}

// An infinite pool selecting the share SR on a composite with validity R and effect d: the cut
// c from pg1 Q(c - d) + pg2 Q(c) = SR, the rates, the impact ratio and E.
struct Limit {
    double E, impact;
};
Limit infinite_pool(const traz::Design& g, Composite k) {
    const double sr = static_cast<double>(g.stages.back().retained) / g.applicants;
    const double p1 = g.proportion, p2 = 1 - p1;
    double lo = -12, hi = 12;
    for (int it = 0; it < 200; ++it) {
        const double c = 0.5 * (lo + hi);
        (p1 * gsl_cdf_ugaussian_Q(c - k.d) + p2 * gsl_cdf_ugaussian_Q(c) > sr ? lo : hi) = c;
    }
    const double c = 0.5 * (lo + hi);
    const double r1 = gsl_cdf_ugaussian_Q(c - k.d), r2 = gsl_cdf_ugaussian_Q(c);
    const double E = (p1 * (g.criterion_effect * r1 + k.R * gsl_ran_ugaussian_pdf(c - k.d)) +
                      p2 * k.R * gsl_ran_ugaussian_pdf(c)) / sr;
    return {E, std::min(r1, r2) / std::max(r1, r2)};
}

// Composite validity and effect of every non-negative weight vector of three predictors in
// steps of 1/n.
std::vector<Composite> simplex_grid(const traz::Design& g, int n) {
    std::vector<Composite> grid;
    for (int a = 0; a <= n; ++a)
        for (int b = 0; a + b <= n; ++b)
            grid.push_back(composite(g, {double(a) / n, double(b) / n, double(n - a - b) / n}));
    return grid;
}

// The highest composite validity of the grid at a composite effect of at most d.
double best_validity(const std::vector<Composite>& grid, double d) {
    double best = -1;
    for (const Composite& q : grid)
        if (q.d <= d) best = std::max(best, q.R);
    return best;
}

TEST(Pareto, SingleStageFrontMatchesTheInfinitePool) {
    // A large pool: its front lies within about 1.5/applicants of the infinite pool's.
    const traz::Design base = single_stage(10000);
    traz::ParetoRequest request;
    request.points = 7;
    request.jobs = 2;
    const traz::ParetoFront front = traz::pareto(base, request);
    ASSERT_EQ(front.points.size(), 7u);

    // The infinite pool's impact ratio falls as the composite effect grows; E at a given effect
    // rises with the composite validity. Its front at impact ratio x: the effect d giving x,
    // the grid's highest validity at that effect or less, and E there.
    const std::vector<Composite> grid = simplex_grid(base, 1000);
    double smallest_d = HUGE_VAL;
    for (const Composite& q : grid) smallest_d = std::min(smallest_d, q.d);
    const auto infinite_front = [&](double impact) {
        double lo = smallest_d, hi = 3;  // the effect whose impact ratio is `impact` (or the smallest)
        for (int it = 0; it < 100; ++it) {
            const double d = 0.5 * (lo + hi);
            (infinite_pool(base, {0.5, d}).impact > impact ? lo : hi) = d;
        }
        return infinite_pool(base, {best_validity(grid, lo), lo}).E;
    };

    double previous_E = HUGE_VAL, previous_impact = 0;
    for (const traz::ParetoPoint& p : front.points) {
        SCOPED_TRACE("point " + std::to_string(p.point) + ": " + p.status);
        ASSERT_TRUE(p.settled);
        ASSERT_TRUE(p.result.ok());
        const double E = p.result.expected_criterion_score.value, impact = p.result.impact_ratio.value;
        EXPECT_LT(E, previous_E);
        EXPECT_GT(impact, previous_impact);
        previous_E = E, previous_impact = impact;
        double sum = 0;
        for (double w : p.weights) {
            EXPECT_GE(w, 0.0);
            sum += w;
        }
        EXPECT_NEAR(sum, 1.0, 1e-12);

        // At any pool size: no grid design with an effect as small has a higher validity.
        const Composite k = composite(base, p.design.stages[0].weights);
        EXPECT_GE(k.R, best_validity(grid, k.d) - 1e-6) << "effect " << k.d;
        EXPECT_NEAR(E, infinite_front(impact), 2e-3) << "impact ratio " << impact;
    }
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Pareto, PointsDoNotDependOnThreadsOrShards) {
    traz::Design base = single_stage(100);
    base.stages[0].weights = {1, 0, 1};  // predictor 2 left out
    traz::ParetoRequest request;
    request.points = 5;
    request.negative_weights = true;
    request.jobs = 1;
    const traz::ParetoFront one = traz::pareto(base, request);
    ASSERT_EQ(one.free_weights.size(), 2u);
    EXPECT_EQ(one.free_weights[1].predictor, 3);
    request.jobs = 2;
    request.shard_count = 2;
    for (int shard = 1; shard <= 2; ++shard) {
        request.shard_index = shard;
        std::vector<int> handed;
        const traz::ParetoFront part = traz::pareto(base, request, [&](const traz::ParetoPoint& p) { handed.push_back(p.point); });
        ASSERT_EQ(handed.size(), part.points.size());
        for (std::size_t i = 0; i < part.points.size(); ++i) {
            const traz::ParetoPoint& p = part.points[i];
            EXPECT_EQ(handed[i], p.point);
            EXPECT_EQ((p.point - 1) % 2, shard - 1);
            const traz::ParetoPoint& q = one.points[static_cast<std::size_t>(p.point - 1)];
            ASSERT_EQ(p.weights.size(), q.weights.size());
            for (std::size_t k = 0; k < p.weights.size(); ++k) EXPECT_TRUE(same_bits(p.weights[k], q.weights[k]));
            EXPECT_TRUE(same_bits(p.result.expected_criterion_score.value, q.result.expected_criterion_score.value));
            EXPECT_EQ(p.status, q.status);
        }
    }
}

TEST(Pareto, RefusesBasesItCannotSearch) {
    const auto refused = [](traz::Design d, bool negative, const std::string& words) {
        traz::ParetoRequest request;
        request.negative_weights = negative;
        try {
            traz::pareto_free_weights(d, request);
            ADD_FAILURE() << "not refused: " << words;
        } catch (const traz::Error& e) {
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
        }
    };
    traz::Design d = single_stage(100);
    d.groups = 1;
    d.proportion = 1;
    refused(d, false, "two groups");
    d = single_stage(100);
    d.passes = 3;
    refused(d, false, "4 passes");
    d.passes = 7;
    d.stages[0].weights = {1, -0.5, 0};
    refused(d, false, "--negative-weights");
    EXPECT_EQ(traz::pareto_free_weights(d, [] { traz::ParetoRequest s; s.negative_weights = true; return s; }()).size(), 2u);
    d.stages[0].weights = {0, 0, 1};
    refused(d, true, "one predictor");
}

TEST(Pareto, NegativeWeightsReachAZeroCompositeEffect) {
    // With weights of either sign the fairest single-stage composite has no group difference;
    // the most valid of those has, in closed form, R^2 = r'S^-1 r - (r'S^-1 d)^2 / d'S^-1 d.
    const traz::Design base = single_stage(1000);
    traz::ParetoRequest request;
    request.points = 3;
    request.negative_weights = true;
    const traz::ParetoFront front = traz::pareto(base, request);
    const traz::ParetoPoint& fairest = front.points.back();
    ASSERT_TRUE(fairest.settled) << fairest.status;
    EXPECT_NEAR(fairest.result.impact_ratio.value, 1.0, 1e-4);
    double abs_sum = 0;
    for (double w : fairest.weights) abs_sum += std::fabs(w);
    EXPECT_NEAR(abs_sum, 1.0, 1e-12);
    // S^-1 r and S^-1 d by Cramer's rule on the 3 x 3 correlations.
    const auto& S = base.correlations;
    const auto det = [](const std::vector<std::vector<double>>& m) {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    };
    const auto solve = [&](const std::vector<double>& y) {
        std::vector<double> x(3);
        for (int j = 0; j < 3; ++j) {
            auto m = S;
            for (int i = 0; i < 3; ++i) m[i][j] = y[i];
            x[j] = det(m) / det(S);
        }
        return x;
    };
    const std::vector<double> Sr = solve(base.validities), Sd = solve(base.effect_sizes);
    double rSr = 0, rSd = 0, dSd = 0;
    for (int i = 0; i < 3; ++i) rSr += base.validities[i] * Sr[i], rSd += base.validities[i] * Sd[i],
                                dSd += base.effect_sizes[i] * Sd[i];
    const Composite k = composite(base, fairest.design.stages[0].weights);
    EXPECT_NEAR(k.d, 0.0, 1e-5);
    EXPECT_NEAR(k.R, std::sqrt(rSr - rSd * rSd / dSd), 1e-5);
}

TEST(Pareto, TwoStageFrontIsNotBeatenByAGrid) {
    // Three predictors, stage 1 using two of them.
    traz::Design base = traz::Design::from_deck(
        "3 2 100 30 10\n1 1 0\n1 1 1\n0.50 0.22 0.40\n0.00 0.30\n0.25\n0.90 0.05 0.25\n2 0.70 7\n0.45\n"
        "1.0e-4 100000\n");
    base.integration = traz::Integration::fitted;
    traz::ParetoRequest request;
    request.points = 7;
    const traz::ParetoFront front = traz::pareto(base, request);
    for (const traz::ParetoPoint& p : front.points) ASSERT_TRUE(p.settled) << p.point << ": " << p.status;
    const auto beats = [](const traz::Bounded& b, const traz::Bounded& a) {
        return b.value - a.value > b.error_bound + a.error_bound;
    };
    int designs = 0;
    for (int a = 0; a <= 5; ++a)
        for (int b = 0; b <= 6; ++b)
            for (int c = 0; b + c <= 6; ++c) {
                traz::Design d = base;
                d.stages[0].weights = {a / 5.0, 1 - a / 5.0, 0};
                d.stages[1].weights = {b / 6.0, c / 6.0, (6 - b - c) / 6.0};
                const traz::Result g = traz::evaluate(d);
                if (!g.ok()) continue;  // both stages on one composite
                ++designs;
                for (const traz::ParetoPoint& p : front.points)
                    EXPECT_FALSE(beats(g.expected_criterion_score, p.result.expected_criterion_score) &&
                                 beats(g.impact_ratio, p.result.impact_ratio))
                        << "grid design " << a << " " << b << " " << c << " beats point " << p.point;
                EXPECT_FALSE(beats(g.expected_criterion_score, front.points.front().result.expected_criterion_score));
                EXPECT_FALSE(beats(g.impact_ratio, front.points.back().result.impact_ratio));
            }
    EXPECT_GT(designs, 160);
}

TEST(Pareto, UnsettledPointsSayWhy) {
    traz::ParetoRequest request;
    request.points = 4;
    request.method.max_evaluations = 2;  // far too few for SLSQP to converge
    const traz::ParetoFront front = traz::pareto(single_stage(100), request);
    for (const traz::ParetoPoint& p : front.points) {
        EXPECT_FALSE(p.settled) << p.point;
        EXPECT_EQ(p.status.rfind("not settled: ", 0), 0u) << p.status;
        EXPECT_TRUE(p.result.ok());  // the design it stopped at is still reported, with its results
        EXPECT_EQ(p.weights.size(), 3u);
    }
}

// Whether b beats a in x by more than the bound of the difference.
bool beats(const traz::Bounded& b, const traz::Bounded& a) { return b.value - a.value > b.error_bound + a.error_bound; }

TEST(Compare, DominanceLineFollowsTheBounds) {
    // Two designs that differ only in stage 2's weights, and the design with itself.
    const traz::Design a = traz::Design::from_deck(read_file(kExamples + "two-stage.deck"));
    traz::Design b = a, c = a;
    b.stages[1].weights = {1, 0, 0, 0};  // the less valid test with the larger effect alone
    c.stages[1].weights = {0, 0, 1, 1};  // the interview and the work sample: fairer, a little lower E
    const traz::Comparison same = traz::compare({a, a});
    EXPECT_NE(same.verdict.find("less than the integration error"), std::string::npos) << same.verdict;
    EXPECT_EQ(same.differences[1].expected_criterion_score.value, 0.0);

    const traz::Comparison cmp = traz::compare({a, b, c});
    ASSERT_EQ(cmp.results.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const traz::Result& ri = cmp.results[i];
        ASSERT_TRUE(ri.ok());
        const traz::Bounded& d = cmp.differences[i].impact_ratio;
        EXPECT_DOUBLE_EQ(d.value, ri.impact_ratio.value - cmp.results[0].impact_ratio.value);
        EXPECT_DOUBLE_EQ(d.error_bound, ri.impact_ratio.error_bound + cmp.results[0].impact_ratio.error_bound);
        std::vector<int> expected;
        for (std::size_t j = 0; j < 3; ++j) {
            const traz::Result& rj = cmp.results[j];
            if (j != i && beats(rj.expected_criterion_score, ri.expected_criterion_score) &&
                beats(rj.impact_ratio, ri.impact_ratio))
                expected.push_back(static_cast<int>(j));
        }
        EXPECT_EQ(cmp.dominated_by[i], expected) << "design " << i;
        const std::string name(1, static_cast<char>('A' + i));
        EXPECT_EQ(cmp.verdict.find(name + " is dominated") != std::string::npos, !expected.empty()) << cmp.verdict;
        if (i == 1) {
            EXPECT_FALSE(expected.empty()) << "the test needs a dominated design";
        }
    }
}

} // namespace
