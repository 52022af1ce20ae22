// Monte Carlo check of the single-stage model: pools of applicants are simulated on the
// predictor level (multivariate normal predictors with the deck's correlations, group 1
// shifted by its effect sizes, a criterion correlated with the predictors), ranked on the
// weighted composite, and the best ns selected. The reported criterion score, selection
// rates, AI ratio and standard deviation of the average criterion score must agree with
// the simulation within 4 standard errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "driver/deck.hpp"
#include "run_deck.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define TRAZ_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRAZ_TEST_SANITIZED 1
#endif
#endif

namespace {

#ifdef TRAZ_TEST_SANITIZED
constexpr int kPools = 80000;  // the standard errors grow accordingly
#else
constexpr int kPools = 200000;
#endif

constexpr double kTwoPi = 6.283185307179586476925;

// Standard normal deviates by the Box-Muller transform of mt19937_64 uniforms, so the
// stream is the same with every standard library.
class NormalStream {
public:
    explicit NormalStream(std::uint64_t seed) : rng_(seed) {}
    double next() {
        if (has_spare_) {
            has_spare_ = false;
            return spare_;
        }
        const double u1 = uniform(), u2 = uniform();
        const double r = std::sqrt(-2.0 * std::log(u1));
        spare_ = r * std::sin(kTwoPi * u2);
        has_spare_ = true;
        return r * std::cos(kTwoPi * u2);
    }
    double uniform() { return (static_cast<double>(rng_() >> 11) + 0.5) * 0x1.0p-53; }  // in (0, 1)

private:
    std::mt19937_64 rng_;
    bool has_spare_ = false;
    double spare_ = 0.0;
};

// Lower Cholesky factor of the joint correlation matrix of the predictors and the
// criterion (the criterion last), row-major m x m.
std::vector<double> joint_cholesky(const traz::Deck& d) {
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

struct Simulation {
    std::vector<double> mean_selected;  // average criterion score of the selected, per pool
    double sel2_sum = 0.0, sel2_sq = 0.0;  // number of group-2 applicants selected
};

Simulation simulate(const traz::Deck& d, std::uint64_t seed) {
    const int p = d.npred, m = p + 1, n = d.napp, ns = d.ns[0];
    const std::vector<double> l = joint_cholesky(d);
    NormalStream rng(seed);
    struct Applicant { double composite, criterion; int group; };
    std::vector<Applicant> pool(n);
    std::vector<double> z(m), v(m);
    Simulation sim;
    sim.mean_selected.reserve(kPools);
    for (int r = 0; r < kPools; ++r) {
        for (Applicant& a : pool) {
            a.group = rng.uniform() < d.pg[0] ? 1 : 2;
            for (int i = 0; i < m; ++i) z[i] = rng.next();
            for (int i = 0; i < m; ++i) {
                double s = 0.0;
                for (int k = 0; k <= i; ++k) s += l[i * m + k] * z[k];
                v[i] = s;
            }
            a.composite = 0.0;
            for (int i = 0; i < p; ++i) a.composite += d.Weip(1, i + 1) * (v[i] + d.Eft(a.group, i + 1));
            a.criterion = v[p] + d.efc[a.group - 1];
        }
        std::nth_element(pool.begin(), pool.begin() + (ns - 1), pool.end(),
                         [](const Applicant& x, const Applicant& y) { return x.composite > y.composite; });
        double sum = 0.0;
        int sel2 = 0;
        for (int k = 0; k < ns; ++k) {
            sum += pool[k].criterion;
            sel2 += pool[k].group == 2;
        }
        sim.mean_selected.push_back(sum / ns);
        sim.sel2_sum += sel2;
        sim.sel2_sq += static_cast<double>(sel2) * sel2;
    }
    return sim;
}

// Value after `prefix` on the report line that starts with it (the k-th value).
double reported(const std::string& report, const std::string& prefix, int k = 0) {
    const std::size_t at = report.find("\n" + prefix);
    EXPECT_NE(at, std::string::npos) << prefix;
    if (at == std::string::npos) return NAN;
    const char* s = report.c_str() + at + 1 + prefix.size();
    char* end = nullptr;
    double v = std::strtod(s, &end);
    for (int i = 0; i < k; ++i) v = std::strtod(end, &end);
    return v;
}

void expect_within(double reported_value, double mc, double se, const char* what) {
    // 4 standard errors, plus half a unit of the printed fourth decimal.
    EXPECT_LE(std::fabs(reported_value - mc), 4.0 * se + 0.5e-4)
        << what << ": reported " << reported_value << ", simulation " << mc << " +- " << se;
}

void check_deck(const std::string& name, std::uint64_t seed) {
    SCOPED_TRACE(name);
    const std::string text = traz::testrun::read_file(traz::testrun::kDeckDir + name + ".deck");
    traz::Deck d;
    std::string error;
    ASSERT_TRUE(traz::read_deck(text, d, error)) << error;
    ASSERT_EQ(d.nstage, 1);
    ASSERT_EQ(d.ngroup, 2);
    const auto run = traz::testrun::run_deck(text);
    ASSERT_EQ(run.status, traz::kRunOk);

    const Simulation sim = simulate(d, seed);
    const double R = kPools, n = d.napp, ns = d.ns[0], pg1 = d.pg[0], pg2 = d.pg[1];

    // Criterion score: mean of the per-pool averages.
    double s1 = 0.0;
    for (double x : sim.mean_selected) s1 += x;
    const double mean = s1 / R;
    double m2 = 0.0, m4 = 0.0;
    for (double x : sim.mean_selected) {
        const double e = (x - mean) * (x - mean);
        m2 += e;
        m4 += e * e;
    }
    m2 /= R;
    m4 /= R;
    const double sd = std::sqrt(m2 * R / (R - 1.0));
    expect_within(reported(run.out, "Expected Criterion Score Selected:"), mean, sd / std::sqrt(R), "E");

    // Standard deviation of the average: SE of s from Var(s^2) = (m4 - m2^2)/R.
    const double se_sd = std::sqrt((m4 - m2 * m2) / R) / (2.0 * sd);
    expect_within(reported(run.out, "Standard Deviation Average Criterion Score Selected:"), sd, se_sd, "SD");

    // Selection rates E[#selected of g]/(n pg(g)); the group counts add up to ns.
    const double a = sim.sel2_sum / R;
    const double se_a = std::sqrt((sim.sel2_sq / R - a * a) / (R - 1.0));
    const double r2 = a / (n * pg2), r1 = (ns - a) / (n * pg1);
    expect_within(reported(run.out, "Expected selection rate of groups:", 0), r1, se_a / (n * pg1), "R1");
    expect_within(reported(run.out, "Expected selection rate of groups:", 1), r2, se_a / (n * pg2), "R2");
    // AI ratio R2/R1 = (pg1/pg2) a/(ns - a); delta method for its SE.
    const double ai = r2 / r1, dai = (pg1 / pg2) * ns / ((ns - a) * (ns - a));
    expect_within(reported(run.out, "Expected AI ratio:"), ai, std::fabs(dai) * se_a, "AI ratio");
}

TEST(MonteCarlo, ThreePredictorsTwoGroups) { check_deck("two_group", 20261208); }

TEST(MonteCarlo, TenPredictorsTwoGroups) { check_deck("npass8", 977); }

} // namespace
