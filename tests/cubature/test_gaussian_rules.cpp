// Rules for the standard normal weight: moments against their closed forms, nesting, and the
// level-by-level integration's estimate, stops and point count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "cubature/gaussian_rules.hpp"

namespace {

using traz::RuleFamily;

// E[x^k] of the standard normal: (k-1)!! for even k, 0 for odd k.
double normal_moment(int k) {
    if (k % 2 == 1) return 0.0;
    double m = 1.0;
    for (int j = k - 1; j > 1; j -= 2) m *= j;
    return m;
}

void expect_degree(const traz::NormalRule& r, int degree, const char* what) {
    for (int k = 0; k <= degree; ++k) {
        double s = 0.0;
        for (std::size_t i = 0; i < r.x.size(); ++i) s += r.w[i] * std::pow(r.x[i], k);
        // Odd moments cancel between terms of the size of the next even one.
        EXPECT_NEAR(s, normal_moment(k), 1e-12 * std::fmax(1.0, normal_moment(k + k % 2))) << what << " " << k;
    }
    // The next even degree is no longer exact (the rule is no better than stated).
    const int next = degree % 2 == 1 ? degree + 1 : degree + 2;
    double s = 0.0;
    for (std::size_t i = 0; i < r.x.size(); ++i) s += r.w[i] * std::pow(r.x[i], next);
    EXPECT_GT(std::fabs(s / normal_moment(next) - 1.0), 1e-9) << what;
}

TEST(GaussianRules, OneDimensionalRulesIntegrateTheirDegree) {
    for (int n : {1, 2, 5, 8, 13, 24}) expect_degree(traz::gauss_hermite(n), 2 * n - 1, "Gauss-Hermite");
    const int degree[6] = {0, 1, 5, 15, 29, 51};
    const std::size_t size[6] = {0, 1, 3, 9, 19, 35};
    for (int l = 1; l <= 5; ++l) {
        const traz::NormalRule r = traz::genz_keister(l);
        ASSERT_EQ(r.x.size(), size[l]);
        expect_degree(r, degree[l], "Genz-Keister");
        if (l == 1) continue;
        // Nested: the level before's nodes are among this level's, bit for bit.
        const traz::NormalRule before = traz::genz_keister(l - 1);
        for (double x : before.x) EXPECT_NE(std::find(r.x.begin(), r.x.end(), x), r.x.end()) << x;
    }
}

// E[t1^a t2^b t3^c] by a rule of the plain form (weights include 1/phi).
double rule_moment(const traz::GaussianRule& g, const int* power) {
    double s = 0.0;
    for (int p = 0; p < g.size(); ++p) {
        double v = g.W[p], r2 = 0.0;
        for (int j = 0; j < g.dim; ++j) {
            const double t = g.t[g.dim * p + j];
            v *= std::pow(t, power[j]);
            r2 += t * t;
        }
        s += v * std::exp(-0.5 * r2) / std::pow(std::sqrt(2.0 * M_PI), g.dim);
    }
    return s;
}

TEST(GaussianRules, MultiDimensionalRulesAndSharedPoints) {
    // Sparse level 4 in three dimensions integrates every monomial of total degree 7 (odd
    // ones vanish, x^6, x^4 y^2, x^2 y^2 z^2 ...); tensor Gauss-Hermite 4 each degree 7 per axis.
    const int monomials[][3] = {{6, 0, 0}, {4, 2, 0}, {2, 2, 2}, {0, 0, 4}, {3, 1, 2}, {7, 7, 7}};
    const traz::GaussianRule& sparse = traz::gaussian_rule(RuleFamily::sparse_genz_keister, 3, 4);
    const traz::GaussianRule& tensor = traz::gaussian_rule(RuleFamily::tensor_hermite, 3, 4);
    for (const auto& m : monomials) {
        const double exact = normal_moment(m[0]) * normal_moment(m[1]) * normal_moment(m[2]);
        EXPECT_NEAR(rule_moment(tensor, m), exact, 1e-11 * std::fmax(1.0, exact));
        if (m[0] + m[1] + m[2] <= 7) {
            EXPECT_NEAR(rule_moment(sparse, m), exact, 1e-11 * std::fmax(1.0, exact));
        }
    }
    // Every point a nested level marks as shared is the same point in the level before.
    for (RuleFamily f : {RuleFamily::sparse_genz_keister, RuleFamily::tensor_genz_keister})
        for (int d = 1; d <= 3; ++d)
            for (int l = 2; l <= 4; ++l) {
                const traz::GaussianRule& g = traz::gaussian_rule(f, d, l);
                const traz::GaussianRule& b = traz::gaussian_rule(f, d, l - 1);
                int shared = 0;
                for (int p = 0; p < g.size(); ++p) {
                    if (g.shared[p] < 0) continue;
                    ++shared;
                    for (int j = 0; j < d; ++j) ASSERT_EQ(g.t[d * p + j], b.t[d * g.shared[p] + j]);
                }
                EXPECT_EQ(shared, b.size()) << traz::family_name(f) << " d " << d << " level " << l;
            }
}

// A shifted, stretched normal density in t and its first moments, with a call count.
struct Bump {
    int dim = 3;
    double mu = 0.25, sigma = 1.05;
    long calls = 0;
    double bad_from = INFINITY;  // values are NaN where |t1| exceeds this
};

void bump(const double* t, double* f, void* params) {
    Bump& b = *static_cast<Bump*>(params);
    ++b.calls;
    double e = 0.0;
    for (int j = 0; j < b.dim; ++j) e += (t[j] - b.mu) * (t[j] - b.mu);
    const double dens = std::exp(-0.5 * e / (b.sigma * b.sigma)) / std::pow(std::sqrt(2.0 * M_PI) * b.sigma, b.dim);
    f[0] = dens;
    f[1] = t[0] * dens;
    f[2] = std::fabs(t[0]) > b.bad_from ? NAN : t[0] * t[0] * dens;
}

TEST(GaussianRules, LevelsMeetWithHonestEstimatesAndStopWhenTheyCannot) {
    Bump b;
    traz::LevelPlan plan;
    plan.family = RuleFamily::sparse_genz_keister;
    plan.cap = 5;
    plan.relerr = 1e-3;
    for (double& f : plan.floor) f = 1e-5;
    const traz::LevelResult r = traz::integrate_levels(plan, 3, 3, &bump, &b);
    ASSERT_EQ(r.stop, traz::LevelStop::met);
    const double exact[3] = {1.0, b.mu, b.sigma * b.sigma + b.mu * b.mu};
    for (int q = 0; q < 3; ++q) {
        EXPECT_LE(r.error[q], std::fmax(1e-3 * std::fabs(r.value[q]), 1e-5));
        EXPECT_LE(std::fabs(r.value[q] - exact[q]), r.error[q]) << q;
    }
    // Shared points are evaluated once: the calls are the distinct points of the last level.
    EXPECT_EQ(b.calls, r.points);
    EXPECT_EQ(r.points, traz::gaussian_rule(plan.family, 3, r.level).size());

    // Quantity 0 is known to integrate to 1: a tight tolerance on that takes more levels.
    Bump known;
    traz::LevelPlan tight = plan;
    tight.known_count = 1;
    tight.known_sum = 1.0;
    tight.known_tol = 1e-9;
    tight.cap = 13;
    const traz::LevelResult k = traz::integrate_levels(tight, 3, 3, &bump, &known);
    EXPECT_GT(k.level, r.level);
    if (k.stop == traz::LevelStop::met) {
        EXPECT_NEAR(k.value[0], 1.0, 1e-9);
    }

    // A density far too narrow for the rules: the cap is reached, or the estimates stall.
    Bump narrow;
    narrow.mu = 0.0;
    narrow.sigma = 0.3;
    const traz::LevelResult n = traz::integrate_levels(plan, 3, 3, &bump, &narrow);
    EXPECT_NE(n.stop, traz::LevelStop::met);

    Bump broken;
    broken.bad_from = 2.0;
    EXPECT_EQ(traz::integrate_levels(plan, 3, 3, &bump, &broken).stop, traz::LevelStop::not_finite);

    // One dimension with the non-nested Gauss-Hermite sequence.
    Bump line;
    line.dim = 1;
    plan.family = RuleFamily::tensor_hermite;
    plan.first = 4;
    plan.cap = 24;
    const traz::LevelResult l = traz::integrate_levels(plan, 1, 3, &bump, &line);
    ASSERT_EQ(l.stop, traz::LevelStop::met);
    for (int q = 0; q < 3; ++q) EXPECT_LE(std::fabs(l.value[q] - exact[q]), l.error[q]) << q;
}

} // namespace
