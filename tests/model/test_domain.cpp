// The domain fitted to the cut-score density: its centre and shape against closed forms of
// one-stage pools, its shape against the log density of multi-stage pools, the mass its box
// holds, and what it does with problems no domain fits.
#include "model/domain.hpp"

#include "model/model.hpp"
#include "model/state.hpp"
#include "mvn/mvn.hpp"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_integration.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// The problem under test.
traz::SelectionState st{};

// A pool of napp applicants kept by the stages as ns says; r = (r21, r31, r32); group 1
// (share pg1, stage means ef1) and the reference group 2 when pg1 < 1.
void problem(int napp, std::vector<int> ns, std::vector<double> r, std::vector<double> ef1, double pg1) {
    st = traz::SelectionState{};
    const int K = static_cast<int>(ns.size());
    st.napp = napp, st.nstage = K, st.ngroup = pg1 < 1.0 ? 2 : 1;
    st.pg[0] = pg1, st.pg[1] = 1.0 - pg1;
    for (int k = 0, prev = napp; k < K; prev = ns[k++]) {
        const int d = prev - ns[k];
        st.ns[k] = ns[k];
        st.dl4c[k] = std::lgamma(prev + 1.0) - std::lgamma(ns[k] + 1.0) - (d == 0 ? 1.0 : std::lgamma(d));
        st.cory[k] = 0.4, st.Ef(1, k + 1) = ef1[k], st.Cormc(k + 1, k + 1) = 1.0;
    }
    const int pair[3][2] = {{2, 1}, {3, 1}, {3, 2}};
    for (std::size_t p = 0; p < r.size(); ++p)
        st.corc[p] = st.Cormc(pair[p][0], pair[p][1]) = st.Cormc(pair[p][1], pair[p][0]) = r[p];
    traz::prepare_state(st);
    traz::ftest_forget();
}

// ln of the bare density at x.
double logdensity(int K, const double* x) {
    double a[3] = {x[0], K > 1 ? x[1] : 0.0, K > 2 ? x[2] : 0.0}, f = 0.0;
    K == 1 ? (void)(f = traz::ffte(st, 0, a)) : traz::ftest(st, 0, K, a, 1, &f);
    return std::log(f);
}

// ---------------------------------------------------------------------------------------
// One stage, one group: the cut is the (ns+1)-th highest of n standard normal scores, with
// log density l = ns ln(1 - Phi) + (n - ns - 1) ln Phi + ln phi + const. Its mode solves
// l' = -ns h + (n - ns - 1) g - x = 0 (h = phi/(1 - Phi), g = phi/Phi), and its curvature is
// l'' = -ns h (h - x) - (n - ns - 1) g (g + x) - 1.
struct OneStage {
    int n, ns;
};

class FittedOneStage : public ::testing::TestWithParam<OneStage> {};

TEST_P(FittedOneStage, ModeSpreadAndMassAsTheClosedFormHasThem) {
    const auto [n, ns] = GetParam();
    problem(n, {ns}, {}, {0.0}, 1.0);
    auto slope = [&](double x, double* curv) {
        const double phi = std::exp(-0.5 * x * x) / std::sqrt(2.0 * M_PI);
        const double h = phi / (0.5 * std::erfc(x / std::sqrt(2.0))), g = phi / (0.5 * std::erfc(-x / std::sqrt(2.0)));
        *curv = -ns * h * (h - x) - (n - ns - 1) * g * (g + x) - 1.0;
        return -ns * h + (n - ns - 1) * g - x;
    };
    double lo = -8, hi = 8, curv = 0;
    for (int i = 0; i < 100; ++i) (slope(0.5 * (lo + hi), &curv) > 0 ? lo : hi) = 0.5 * (lo + hi);
    slope(lo, &curv);

    const traz::Domain d = traz::fit_domain(st);
    ASSERT_TRUE(d.fitted) << d.note;
    EXPECT_NEAR(d.m[0], lo, 1e-5);
    EXPECT_NEAR(d.L[0], 1.0 / std::sqrt(-curv), 1e-4 / std::sqrt(-curv));
    EXPECT_NEAR(d.det, d.L[0], 1e-15);
    EXPECT_LE(d.lo[0], -3.0);
    EXPECT_GE(d.hi[0], 3.0);
    EXPECT_LT(d.evaluations, 200);

    // The bare density over the box holds all of the mass.
    gsl_set_error_handler_off();
    gsl_function f{[](double t, void* d) { return traz::ffte_mapped(st, 0, *static_cast<const traz::Domain*>(d), t); },
                   const_cast<traz::Domain*>(&d)};
    gsl_integration_workspace* w = gsl_integration_workspace_alloc(1000);
    double mass = 0, err = 0;
    gsl_integration_qag(&f, d.lo[0], d.hi[0], 0.0, 1e-12, 1000, GSL_INTEG_GAUSS61, w, &mass, &err);
    gsl_integration_workspace_free(w);
    EXPECT_NEAR(mass, 1.0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Pools, FittedOneStage,
                         ::testing::Values(OneStage{2, 1}, OneStage{6, 4}, OneStage{10, 3}, OneStage{100, 1},
                                           OneStage{100, 99}));

// ---------------------------------------------------------------------------------------
// Two and three stages, two groups: at the fitted centre the log density is at its peak and
// falls like -|t|^2/2 along t, so L L' is the inverse of its negative Hessian (a wrong
// triangle or a transposed factor fails the diagonal directions).
struct MultiStage {
    int napp;
    std::vector<int> ns;
    std::vector<double> r;
};

class FittedMultiStage : public ::testing::TestWithParam<MultiStage> {};

TEST_P(FittedMultiStage, CentreIsThePeakAndTheShapeItsCurvature) {
    const MultiStage& c = GetParam();
    const int K = static_cast<int>(c.ns.size());
    problem(c.napp, c.ns, c.r, {-0.9, -0.7, -0.6}, 0.3);
    const traz::Domain d = traz::fit_domain(st);
    ASSERT_TRUE(d.fitted) << d.note;
    EXPECT_EQ(d.method, "curvature");
    EXPECT_LT(d.evaluations, 700);
    const double l0 = logdensity(K, d.m);
    constexpr double s = 0.05;  // t steps: l falls by s^2/2 = 1.25e-3
    for (int i = 0; i < K; ++i)
        for (int j = i; j < K; ++j)
            for (double sign : {-1.0, 1.0}) {  // along t = +-s (e_i + e_j)/|e_i + e_j|
                double u[3] = {}, x[3];
                u[i] += 1.0, u[j] += 1.0;
                const double step = sign * s / std::sqrt(i == j ? 4.0 : 2.0);
                for (int p = 0; p < K; ++p) {
                    x[p] = d.m[p];
                    for (int q = 0; q <= p; ++q) x[p] += d.L[p + 3 * q] * step * u[q];
                }
                EXPECT_NEAR(logdensity(K, x) - l0, -0.5 * s * s, 0.1 * s * s) << i << "," << j << " " << sign;
            }
    for (int i = 0; i < K; ++i) EXPECT_TRUE(d.lo[i] <= -3.0 && d.hi[i] >= 3.0);
}

INSTANTIATE_TEST_SUITE_P(Pools, FittedMultiStage,
                         ::testing::Values(MultiStage{20, {10, 4}, {0.6}}, MultiStage{100, {40, 10}, {0.95}},
                                           MultiStage{60, {35, 15, 5}, {0.89, 0.82, 0.95}},
                                           MultiStage{6, {5, 3, 1}, {0.6, 0.5, 0.7}}));

// ---------------------------------------------------------------------------------------
// Problems outside the model: the fit ends after a bounded number of evaluations and either
// fits a domain with finite entries or falls back to the cube, saying why.
struct Odd {
    const char* what;
    int napp;
    std::vector<int> ns;
    std::vector<double> r;
};

class FitGuards : public ::testing::TestWithParam<Odd> {};

TEST_P(FitGuards, EndsAndFallsBackOrStaysFinite) {
    const Odd& c = GetParam();
    problem(c.napp, c.ns, c.r, {-0.5, -0.5, -0.5}, 0.5);
    const traz::Domain d = traz::fit_domain(st);
    EXPECT_LT(d.evaluations, 3000);
    if (d.fitted) {
        EXPECT_TRUE(std::isfinite(d.det) && d.det > 0.0);
        for (int i = 0; i < d.ndim; ++i)
            EXPECT_TRUE(std::isfinite(d.m[i]) && std::isfinite(d.lo[i]) && std::isfinite(d.hi[i]));
    } else {
        EXPECT_FALSE(d.note.empty());
        EXPECT_EQ(d.hi[0], 4.5);
        EXPECT_EQ(d.det, 1.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Problems, FitGuards,
                         ::testing::Values(Odd{"keeps_all", 20, {10, 10}, {0.5}},
                                           Odd{"correlation_one", 20, {10, 4}, {1.0}},
                                           Odd{"keeps_none", 20, {10, 0}, {0.5}},
                                           Odd{"three_keep_all", 10, {10, 10, 10}, {0.5, 0.5, 0.5}}),
                         [](const ::testing::TestParamInfo<Odd>& i) { return std::string(i.param.what); });

} // namespace
