// Monte Carlo check of the selection model, shared by the single- and multi-stage tests.
// Pools of applicants are simulated on the predictor level: each applicant belongs to group 1
// with probability pg(1), has multivariate normal predictors with the deck's correlations
// (group 1 shifted by its effect sizes) and a criterion with the deck's validities (group 1
// shifted by efc(1)). Each stage ranks the applicants still in the pool on its weighted
// composite and keeps the best ns(k). The reported criterion score, selection rates, AI ratio
// and standard deviation of the average criterion score must agree with the simulation
// within 4 standard errors (plus half a unit of the printed fourth decimal).
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "deck/deck.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define TRAZ_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRAZ_TEST_SANITIZED 1
#endif
#endif

namespace traz::montecarlo {

#ifdef TRAZ_TEST_SANITIZED
constexpr int kPools = 60000;  // the standard errors grow accordingly
#else
constexpr int kPools = 200000;
#endif

// Standard normal deviates by the Box-Muller transform of mt19937_64 uniforms, so the
// stream is the same with every standard library.
class Normals {
public:
    explicit Normals(std::uint64_t seed) : rng_(seed) {}
    double uniform() { return (static_cast<double>(rng_() >> 11) + 0.5) * 0x1.0p-53; }  // in (0, 1)
    double next() {
        if (has_spare_) {
            has_spare_ = false;
            return spare_;
        }
        constexpr double two_pi = 6.283185307179586476925;
        const double r = std::sqrt(-2.0 * std::log(uniform())), t = two_pi * uniform();
        spare_ = r * std::sin(t);
        has_spare_ = true;
        return r * std::cos(t);
    }

private:
    std::mt19937_64 rng_;
    bool has_spare_ = false;
    double spare_ = 0.0;
};

// Lower Cholesky factor (row-major, m x m) of the correlation matrix of the predictors and
// the criterion, the criterion last.
inline std::vector<double> joint_cholesky(const Deck& d) {
    const int p = d.npred, m = p + 1;
    std::vector<double> a(m * m), l(m * m, 0.0);
    for (int i = 0; i < p; ++i) {
        for (int j = 0; j < p; ++j) a[i * m + j] = d.Cormt(i + 1, j + 1);
        a[i * m + p] = a[p * m + i] = d.coryt[i];
    }
    a[p * m + p] = 1.0;
    for (int i = 0; i < m; ++i)
        for (int j = 0; j <= i; ++j) {
            double s = a[i * m + j];
            for (int k = 0; k < j; ++k) s -= l[i * m + k] * l[j * m + k];
            if (i == j) {
                EXPECT_GT(s, 0.0) << "joint correlation matrix not positive definite";
                l[i * m + i] = std::sqrt(std::fmax(s, 0.0));
            } else {
                l[i * m + j] = s / l[j * m + j];
            }
        }
    return l;
}

// Per pool: the average criterion score of the finally selected, and how many of them are
// from group 2.
struct Simulation {
    std::vector<double> average;
    double g2_sum = 0.0, g2_sq = 0.0;
};

inline Simulation simulate(const Deck& d, std::uint64_t seed) {
    struct Applicant {
        double composite[kReadStage];
        double criterion;
        int group;
    };
    const int p = d.npred, m = p + 1, n = d.napp, K = d.nstage;
    const std::vector<double> l = joint_cholesky(d);
    Normals rng(seed);
    std::vector<Applicant> pool(n);
    std::vector<int> order(n);
    std::vector<double> z(m), v(m);
    Simulation sim;
    sim.average.reserve(kPools);
    for (int r = 0; r < kPools; ++r) {
        for (Applicant& a : pool) {
            a.group = rng.uniform() < d.pg[0] ? 1 : 2;
            for (int i = 0; i < m; ++i) z[i] = rng.next();
            for (int i = 0; i < m; ++i) {
                double s = 0.0;
                for (int k = 0; k <= i; ++k) s += l[i * m + k] * z[k];
                v[i] = s;
            }
            for (int j = 1; j <= K; ++j) {
                double c = 0.0;
                for (int i = 1; i <= p; ++i) c += d.Weip(j, i) * (v[i - 1] + d.Eft(a.group, i));
                a.composite[j - 1] = c;
            }
            a.criterion = v[p] + d.efc[a.group - 1];
        }
        // Stage j keeps the best ns(j) of the first ns(j-1) entries of `order`.
        for (int i = 0; i < n; ++i) order[i] = i;
        for (int j = 0; j < K; ++j) {
            const int entering = j == 0 ? n : d.ns[j - 1], kept = d.ns[j];
            std::nth_element(order.begin(), order.begin() + (kept - 1), order.begin() + entering,
                             [&](int x, int y) { return pool[x].composite[j] > pool[y].composite[j]; });
        }
        const int ns = d.ns[K - 1];
        double sum = 0.0;
        int g2 = 0;
        for (int k = 0; k < ns; ++k) {
            sum += pool[order[k]].criterion;
            g2 += pool[order[k]].group == 2;
        }
        sim.average.push_back(sum / ns);
        sim.g2_sum += g2;
        sim.g2_sq += static_cast<double>(g2) * g2;
    }
    return sim;
}

// The k-th number after `prefix` on the report line that starts with it.
inline double reported(const std::string& report, const std::string& prefix, int k = 0) {
    const std::size_t at = report.find("\n" + prefix);
    EXPECT_NE(at, std::string::npos) << prefix;
    if (at == std::string::npos) return NAN;
    const char* s = report.c_str() + at + 1 + prefix.size();
    char* end = nullptr;
    double v = std::strtod(s, &end);
    for (int i = 0; i < k; ++i) v = std::strtod(end, &end);
    return v;
}

inline void expect_within(double reported_value, double mc, double se, const char* what) {
    EXPECT_LE(std::fabs(reported_value - mc), 4.0 * se + 0.5e-4)
        << what << ": reported " << reported_value << ", simulation " << mc << " +- " << se;
}

// Compares the report of a two-group deck with a simulation of it.
inline void check_report(const Deck& d, const std::string& report, std::uint64_t seed) {
    ASSERT_EQ(d.ngroup, 2);
    const Simulation sim = simulate(d, seed);
    const double R = kPools, n = d.napp, ns = d.ns[d.nstage - 1], pg1 = d.pg[0], pg2 = d.pg[1];

    // Criterion score: the mean of the per-pool averages.
    double s1 = 0.0;
    for (double x : sim.average) s1 += x;
    const double mean = s1 / R;
    double m2 = 0.0, m4 = 0.0;
    for (double x : sim.average) {
        const double e = (x - mean) * (x - mean);
        m2 += e;
        m4 += e * e;
    }
    m2 /= R;
    m4 /= R;
    const double sd = std::sqrt(m2 * R / (R - 1.0));
    expect_within(reported(report, "Expected Criterion Score Selected:"), mean, sd / std::sqrt(R), "E");

    // Standard deviation of the average: SE of s from Var(s^2) = (m4 - m2^2)/R.
    const double se_sd = std::sqrt((m4 - m2 * m2) / R) / (2.0 * sd);
    expect_within(reported(report, "Standard Deviation Average Criterion Score Selected:"), sd, se_sd, "SD");

    // Selection rates: E[selected of group g]/(n pg(g)); the two counts add up to ns.
    const double a = sim.g2_sum / R;
    const double se_a = std::sqrt((sim.g2_sq / R - a * a) / (R - 1.0));
    const double r2 = a / (n * pg2), r1 = (ns - a) / (n * pg1);
    expect_within(reported(report, "Expected selection rate of groups:", 0), r1, se_a / (n * pg1), "R1");
    expect_within(reported(report, "Expected selection rate of groups:", 1), r2, se_a / (n * pg2), "R2");
    // AI ratio of the mean rates, R2/R1 = (pg1/pg2) a/(ns - a); delta method for its SE.
    const double dai = (pg1 / pg2) * ns / ((ns - a) * (ns - a));
    expect_within(reported(report, "Expected AI ratio:"), r2 / r1, std::fabs(dai) * se_a, "AI ratio");
}

} // namespace traz::montecarlo
