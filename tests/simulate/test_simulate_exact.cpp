// With no group differences the hires are a random subset of the pool, so a group's hires
// given the pool are hypergeometric: the probabilities the simulation reports have exact
// values, sums over the pool's composition and the hires. Also the selection of the best with
// ties, against a full sort.
#include <gtest/gtest.h>
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_randist.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "simulate/simulate.hpp"

namespace {

using namespace traz::sim;

struct Exact {
    double four_fifths = 0, fisher = 0, z = 0, no_hire1 = 0, no_hire2 = 0;
};

// Fisher's two-sided p over the whole support, by GSL's hypergeometric probabilities.
double fisher_full(int N, int K, int n1, int h1) {
    const double observed = gsl_ran_hypergeometric_pdf(h1, K, N - K, n1);
    double p = 0.0;
    for (int x = std::max(0, n1 - (N - K)); x <= std::min(n1, K); ++x) {
        const double px = gsl_ran_hypergeometric_pdf(x, K, N - K, n1);
        if (px <= observed * (1.0 + 1e-7)) p += px;
    }
    return p;
}

// The exact probabilities over pools with both groups, for N applicants, K hires and group 1's
// proportion p.
Exact exact(int N, int K, double p) {
    Exact e;
    const double defined = 1.0 - std::pow(p, N) - std::pow(1.0 - p, N);
    for (int n1 = 1; n1 < N; ++n1) {
        const int n2 = N - n1;
        const double pool = gsl_ran_binomial_pdf(n1, p, N) / defined;
        for (int h1 = std::max(0, K - n2); h1 <= std::min(K, n1); ++h1) {
            const int h2 = K - h1;
            const double w = pool * gsl_ran_hypergeometric_pdf(h1, K, N - K, n1);
            const double r1 = static_cast<double>(h1) / n1, r2 = static_cast<double>(h2) / n2;
            // Lower rate under 4/5 of the higher: 5 lower < 4 higher, in integers.
            const long a = static_cast<long>(h1) * n2, b = static_cast<long>(h2) * n1;
            e.four_fifths += 5 * std::min(a, b) < 4 * std::max(a, b) ? w : 0.0;
            e.fisher += fisher_full(N, K, n1, h1) < 0.05 ? w : 0.0;
            const double pooled = static_cast<double>(K) / N;
            const double z = (r1 - r2) / std::sqrt(pooled * (1 - pooled) * (1.0 / n1 + 1.0 / n2));
            e.z += 2.0 * gsl_cdf_ugaussian_Q(std::fabs(z)) < 0.05 ? w : 0.0;
            e.no_hire1 += h1 == 0 ? w : 0.0;
            e.no_hire2 += h2 == 0 ? w : 0.0;
        }
    }
    return e;
}

void expect_near_exact(const Estimate& sim, double exact_p, std::int64_t n, const char* what) {
    const double se = std::sqrt(exact_p * (1.0 - exact_p) / static_cast<double>(n));
    EXPECT_LE(std::fabs(sim.value - exact_p), 4.0 * se + 1e-12) << what << ": simulated " << sim.value << ", exact " << exact_p;
}

void check_null_deck(const std::string& text, std::int64_t R = 200000) {
    SCOPED_TRACE(text.substr(0, 40));
    traz::Deck d;
    Model m;
    traz::DeckFault fault;
    ASSERT_TRUE(traz::read_deck(text, d, fault)) << fault.message;
    ASSERT_TRUE(build_model(d, m, fault)) << fault.message;
    const Summary s = summarise(m, simulate(m, 20261209, 0, R, 2));
    const Exact e = exact(m.napp, m.hires(), m.pg1);
    const std::int64_t defined = R - s.undefined;
    expect_near_exact(s.p_four_fifths, e.four_fifths, defined, "P(four-fifths)");
    expect_near_exact(s.p_fisher, e.fisher, defined, "P(Fisher p < .05)");
    expect_near_exact(s.p_z, e.z, defined - s.z_undefined, "P(Z p < .05)");
    expect_near_exact(s.p_no_hire[0], e.no_hire1, defined, "P(no hire from group 1)");
    expect_near_exact(s.p_no_hire[1], e.no_hire2, defined, "P(no hire from group 2)");
    const double undefined = std::pow(m.pg1, m.napp) + std::pow(1.0 - m.pg1, m.napp);
    expect_near_exact(s.share_undefined, undefined, R, "share undefined");
    // Without group differences both rates are the overall selection ratio.
    const double ratio = static_cast<double>(m.hires()) / m.napp;
    for (int g = 0; g < 2; ++g) EXPECT_LE(std::fabs(s.rate[g].value - ratio), 4.0 * s.rate[g].se) << "rate " << g + 1;
    EXPECT_LE(std::fabs(s.ai_ratio.value - 1.0), 4.0 * s.ai_ratio.se);
}

TEST(SimulateExact, NoGroupDifferencesGiveHypergeometricHires) {
    // One stage, 30 applicants, 5 hires; a small group 1 leaves some pools without it.
    check_null_deck("2 1 30 5\n1 0.5\n0.4 0.3\n0.3\n0 0\n2 0.15 7\n0\n1e-4 100000\n");
    // Two stages of 100 applicants, 50 and then 20 kept.
    check_null_deck("3 2 100 50 20\n1 1 0\n0.5 0.5 1\n0.4 0.3 0.3\n0.3 0.2\n0.25\n0 0 0\n2 0.4 7\n0\n1e-4 100000\n");
    // Ten stages over 100 predictors (stage j weighs predictors 1 to 10j), 1000 applicants.
    std::string deck = "100 10 1000 800 600 400 300 200 150 100 60 40 20\n";
    for (int j = 1; j <= 10; ++j) {
        for (int i = 1; i <= 100; ++i) deck += i <= 10 * j ? "1 " : "0 ";
        deck += "\n";
    }
    for (int i = 0; i < 100; ++i) deck += "0.1 ";
    deck += "\n";
    for (int i = 1; i < 100; ++i) {
        for (int j = i; j < 100; ++j) deck += "0.2 ";
        deck += "\n";
    }
    for (int i = 0; i < 100; ++i) deck += "0 ";
    check_null_deck(deck + "\n2 0.3 7\n0\n1e-4 100000\n", 20000);
}

TEST(SimulateExact, KeepBestHandlesTiesByApplicantNumber) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 300; ++trial) {
        const int n = 1 + static_cast<int>(rng() % 60), keep = 1 + static_cast<int>(rng() % n);
        const int levels = 1 + static_cast<int>(rng() % 6);  // few distinct scores: many ties
        std::vector<Candidate> c(n), ref;
        for (int i = 0; i < n; ++i) c[i] = {static_cast<double>(rng() % levels), i, 1000 + i};
        ref = c;
        std::sort(ref.begin(), ref.end(),
                  [](const Candidate& a, const Candidate& b) { return a.score > b.score || (a.score == b.score && a.id < b.id); });
        ref.resize(keep);
        std::sort(ref.begin(), ref.end(), [](const Candidate& a, const Candidate& b) { return a.id < b.id; });
        std::vector<double> work(2 * n);
        keep_best(c.data(), n, keep, work.data());
        for (int i = 0; i < keep; ++i) {
            ASSERT_EQ(c[i].id, ref[i].id) << "trial " << trial << ", place " << i;
            ASSERT_EQ(c[i].row, ref[i].row);
        }
    }
}

} // namespace
