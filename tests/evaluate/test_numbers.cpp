// Single-stage results of the quadrature of ffte against closed forms and against the
// reference model, to the accuracy the quadrature is asked for (1e-6 relative).
#include <gtest/gtest.h>

#include <cmath>

#include "evaluate/evaluate.hpp"
#include "model/state.hpp"
#include "reference_model.hpp"

namespace {

// The pool under test.
traz::SelectionState st{};
using traz::testref::Pool;

constexpr double kPi = 3.14159265358979323846;

// Puts a single-stage pool into the selection state, as the evaluation would.
void set_pool(const Pool& p) {
    st = traz::SelectionState{};
    st.nstage = 1;
    st.napp = p.n;
    st.ns[0] = p.ns;
    st.ngroup = p.ngroup;
    for (int k = 0; k < p.ngroup; ++k) {
        st.pg[k] = p.pg[k];
        st.Ef(k + 1, 1) = p.mean[k];
        st.efc[k] = p.efc[k];
    }
    st.cory[0] = p.cory;
    st.Cormc(1, 1) = 1.0;
    st.srtot = static_cast<double>(p.ns) / p.n;
    traz::order_statistic_constants(st);
}

double integral(int iz) {
    return traz::quadrature_pass(st, iz, nullptr).result;
}

Pool one_group(int n, int ns, double mean, double efc, double cory) {
    Pool p;
    p.n = n, p.ns = ns, p.ngroup = 1;
    p.pg[0] = 1.0;
    p.mean[0] = mean;
    p.efc[0] = efc;
    p.cory = cory;
    return p;
}

Pool two_groups(int n, int ns, double pg1, double mean1, double efc1, double cory) {
    Pool p;
    p.n = n, p.ns = ns, p.ngroup = 2;
    p.pg[0] = pg1, p.pg[1] = 1.0 - pg1;
    p.mean[0] = mean1;
    p.efc[0] = efc1;
    p.cory = cory;
    return p;
}

void expect_close(double got, double want, double rel, const char* what) {
    EXPECT_NEAR(got, want, rel * std::fmax(std::fabs(want), 1e-3)) << what;
}

TEST(SingleStageNumbers, BetterOfTwoApplicants) {
    // The larger of two standard normal scores has mean 1/sqrt(pi).
    for (double cory : {0.2, 0.5, 0.9}) {
        set_pool(one_group(2, 1, 0.0, 0.0, cory));
        expect_close(integral(1), cory / std::sqrt(kPi), 2e-6, "cory/sqrt(pi)");
    }
}

TEST(SingleStageNumbers, TopOfPoolIsMeanOfLargestOrderStatistics) {
    // With one group, E = efc + cory * (mean of the ns largest expected order statistics),
    // each E[X_(i)] integrated separately from its own order-statistic density.
    struct Case { int n, ns; double mean, efc, cory; };
    for (const Case c : {Case{10, 3, 0.0, 0.0, 0.5}, Case{50, 10, 0.7, 0.3, 0.6}, Case{100, 5, -0.4, 0.0, 0.35},
                         Case{100, 99, 0.0, 0.2, 0.8}, Case{7, 6, 1.2, -0.5, 0.45}}) {
        double top = 0.0;
        for (int i = c.n - c.ns + 1; i <= c.n; ++i) top += traz::testref::normal_order_statistic_mean(c.n, i);
        const double want = c.efc + c.cory * top / c.ns;
        set_pool(one_group(c.n, c.ns, c.mean, c.efc, c.cory));
        expect_close(integral(1), want, 2e-6, ("n=" + std::to_string(c.n) + " ns=" + std::to_string(c.ns)).c_str());
    }
}

TEST(SingleStageNumbers, CutDensityIntegratesToOne) {
    // A selector that matches no factor leaves the bare density of the cut score.
    for (const Pool& p : {one_group(2, 1, 0.0, 0.0, 0.5), one_group(100, 30, 1.5, 0.0, 0.5),
                          two_groups(50, 10, 0.3, 0.83, 0.5, 0.59), two_groups(100, 1, 0.5, -1.0, 0.0, 0.3)}) {
        set_pool(p);
        expect_close(integral(0), 1.0, 2e-6, "density");
    }
}

TEST(SingleStageNumbers, ProportionAboveCutIsOrderStatisticOfUniforms) {
    // S at the cut is the (ns+1)-th largest of n uniforms, mixture or not: mean (ns+1)/(n+1).
    for (const Pool& p : {one_group(50, 10, 0.0, 0.0, 0.5), one_group(20, 3, 0.8, 0.0, 0.5),
                          two_groups(60, 15, 0.2, 1.04, 0.4, 0.6), two_groups(100, 70, 0.5, 0.5, 0.0, 0.3)}) {
        set_pool(p);
        expect_close(integral(3 * p.ngroup + 2), (p.ns + 1.0) / (p.n + 1.0), 2e-6, "proportion");
    }
}

TEST(SingleStageNumbers, TwoGroupSelectorsAgreeWithReferenceModel) {
    using namespace traz::testref;
    for (const Pool& p : {two_groups(50, 10, 0.3, 0.8301, 0.5, 0.5852), two_groups(30, 12, 0.6, -0.5, -0.2, 0.4),
                          two_groups(100, 20, 0.1, 1.5, 1.0, 0.7)}) {
        set_pool(p);
        double e, e2, q;
        selected_moments(p, e, e2, q);
        const double r1 = selection_rate(p, 0), r2 = selection_rate(p, 1);
        const double n_over_ns = static_cast<double>(p.n) / p.ns;
        expect_close(integral(1), expected_criterion(p), 2e-6, "iz 1: criterion score");
        expect_close(integral(1), e, 2e-6, "iz 1: criterion score through the cut");
        // Share of group m among the selected: E[#selected of m]/ns = pg(m) R_m n/ns.
        const double share1 = integral(2), share2 = integral(3);
        expect_close(share1, p.pg[0] * r1 * n_over_ns, 2e-6, "iz 2: share of group 1");
        expect_close(share2, p.pg[1] * r2 * n_over_ns, 2e-6, "iz 3: share of group 2");
        expect_close(share1 + share2, 1.0, 2e-6, "shares sum to 1");
        // Exceedance relative to the tail mass: the selection rate times n/ns.
        expect_close(integral(4), r1 * n_over_ns, 2e-6, "iz 4: group 1 rate");
        expect_close(integral(5), r2 * n_over_ns, 2e-6, "iz 5: group 2 rate");
        // The adverse-impact factor of group 1 against itself is 1.
        expect_close(integral(6), 1.0, 2e-6, "iz 6");
        expect_close(integral(9), q, 2e-6, "iz 9: second moment");
        expect_close(integral(10), e2, 2e-6, "iz 10: square of the mean");
    }
}

} // namespace
