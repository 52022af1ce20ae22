// Multi-stage integrand: worked integrals, closed-form special cases, the selector table,
// the guard against tail points and the restored point. Integrals use a tensor-product
// Gauss-Legendre rule built here, independent of the project's cubature.
#include "model/model.hpp"

#include "model/state.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <numbers>
#include <vector>

namespace {

// The problem under test and the selector of the next call.
traz::SelectionState st{};
int st_iz = 0;

// The integrand at z for the current problem and selector.
void ftest(int ndim, double* z, int numfun, double* f)
{
    traz::prepare_state(st);
    traz::ftest(st, st_iz, ndim, z, numfun, f);
}

// Gauss-Legendre nodes and weights on [lo, hi], by Newton on the Legendre recurrence.
struct Rule {
    std::vector<double> x, w;
};

Rule gauss_legendre(int n, double lo, double hi)
{
    Rule r;
    for (int i = 1; i <= n; ++i) {
        double x = std::cos(std::numbers::pi * (i - 0.25) / (n + 0.5));
        double dp = 0.0;
        for (int it = 0; it < 100; ++it) {
            double p0 = 1.0, p1 = x;
            for (int k = 2; k <= n; ++k) {
                const double p2 = ((2.0 * k - 1.0) * x * p1 - (k - 1.0) * p0) / k;
                p0 = p1;
                p1 = p2;
            }
            dp = n * (x * p1 - p0) / (x * x - 1.0);
            const double dx = p1 / dp;
            x -= dx;
            if (std::fabs(dx) < 1e-16)
                break;
        }
        r.x.push_back(0.5 * (lo + hi) + 0.5 * (hi - lo) * x);
        r.w.push_back((hi - lo) / ((1.0 - x * x) * dp * dp));
    }
    return r;
}

// Pool with ef = 0 for every group except as set later; dl4c from log-gamma values.
void pool(int napp, std::initializer_list<int> ns, std::initializer_list<double> corc,
          std::initializer_list<double> cory)
{
    st = traz::SelectionState{};
    st.napp = napp;
    st.nstage = static_cast<int>(ns.size());
    int k = 0, prev = napp;
    for (int n : ns) {
        st.ns[k] = n;
        st.dl4c[k] = std::lgamma(prev + 1.0) - std::lgamma(n + 1.0) - std::lgamma(prev - n + 0.0);
        prev = n;
        ++k;
    }
    for (int j = 1; j <= 4; ++j)
        st.Cormc(j, j) = 1.0;
    int p = 0;
    for (double r : corc)
        st.corc[p++] = r;
    for (int j = 2, q = 0; j <= st.nstage; ++j)
        for (int i = 1; i < j; ++i, ++q)
            st.Cormc(j, i) = st.Cormc(i, j) = st.corc[q];
    p = 0;
    for (double r : cory)
        st.cory[p++] = r;
    st.ngroup = 1;
    st.pg[0] = 1.0;
}

void two_groups(double pg1, double efc1, std::initializer_list<double> ef1)
{
    st.ngroup = 2;
    st.pg[0] = pg1;
    st.pg[1] = 1.0 - pg1;
    st.efc[0] = efc1;
    int j = 1;
    for (double e : ef1)
        st.Ef(1, j++) = e;
}

double value(int iz, std::vector<double> z)
{
    st_iz = iz;
    double f = -1.0;
    const int ndim = static_cast<int>(z.size());
    ftest(ndim, z.data(), 1, &f);
    return f;
}

// Integrals over [-4.5, 4.5]^K of the bare density (selector 0) and of the integrands of
// the selectors izs, npt nodes per axis. The selector factors are moderate (criterion
// moments, probabilities), so nodes where the density is below 1e-14 add nothing
// measurable to any integral and only the density is evaluated there.
std::vector<double> integrals(int ndim, int npt, const std::vector<int>& izs)
{
    const Rule r = gauss_legendre(npt, -4.5, 4.5);
    std::vector<double> sum(izs.size() + 1, 0.0);
    const int n3 = ndim == 3 ? npt : 1;
    double z[3];
    for (int i = 0; i < npt; ++i)
        for (int j = 0; j < npt; ++j)
            for (int l = 0; l < n3; ++l) {
                z[0] = r.x[i];
                z[1] = r.x[j];
                z[2] = r.x[l];
                const double w = r.w[i] * r.w[j] * (ndim == 3 ? r.w[l] : 1.0);
                st_iz = 0;
                double f = 0.0;
                ftest(ndim, z, 1, &f);
                sum[0] += w * f;
                if (f < 1e-14)
                    continue;
                for (std::size_t s = 0; s < izs.size(); ++s) {
                    st_iz = izs[s];
                    ftest(ndim, z, 1, &f);
                    sum[s + 1] += w * f;
                }
            }
    return sum;
}

double Phi(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

// Density of the (k+1)-th highest of n independent standard normal scores at x.
double order_density(int n, int k, double x)
{
    const double c = std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 0.0);
    return std::exp(c + k * std::log1p(-Phi(x)) + (n - k - 1) * std::log(Phi(x)) - 0.5 * x * x)
           / std::sqrt(2.0 * std::numbers::pi);
}

const std::vector<std::vector<double>> points2 = {{0.0, 0.0}, {-0.7, 0.4}, {0.3, 1.1}, {-1.5, -0.2}, {1.2, 2.0}};
const std::vector<std::vector<double>> points3 = {{0.0, 0.0, 0.0}, {-0.9, -0.1, 0.6}, {0.2, 0.5, 1.3}, {-1.4, 0.3, 0.9}};

TEST(GaussLegendre, ExactOnPolynomialsUpToDegree2nMinus1)
{
    const Rule r = gauss_legendre(8, -4.5, 4.5);
    for (int d = 0; d <= 16; ++d) {
        double q = 0.0;
        for (int i = 0; i < 8; ++i)
            q += r.w[i] * std::pow(r.x[i], d);
        const double exact = d % 2 ? 0.0 : 2.0 * std::pow(4.5, d + 1) / (d + 1);
        if (d <= 15)
            EXPECT_NEAR(q, exact, 1e-12 * std::pow(4.5, d + 1)) << d;
        else
            EXPECT_GT(std::fabs(q - exact), 1e-6 * exact) << d;
    }
}

// Two stages, one group: n = 6, ns = (4, 2), r12 = 0.5, cory = (0.3, 0.5).
TEST(FtestIntegrals, TwoStagesWorkedValues)
{
    pool(6, {4, 2}, {0.5}, {0.3, 0.5});
    const auto q = integrals(2, 64, {1, 6, 7});
    EXPECT_NEAR(q[0], 1.0, 2e-4);
    EXPECT_NEAR(q[1], 0.446373, 2e-4 * 0.446373);
    EXPECT_NEAR(q[2], 1.073892, 2e-4 * 1.073892);
    EXPECT_NEAR(q[3], 0.227516, 2e-4 * 0.227516);
}

// Three stages, one group: n = 8, ns = (6, 4, 2), r = (0.5, 0.3, 0.4), cory = (0.3, 0.4, 0.5).
TEST(FtestIntegrals, ThreeStagesWorkedValues)
{
    pool(8, {6, 4, 2}, {0.5, 0.3, 0.4}, {0.3, 0.4, 0.5});
    const auto q = integrals(3, 32, {1, 6, 7});
    EXPECT_NEAR(q[0], 1.0, 2e-4);
    EXPECT_NEAR(q[1], 0.566402, 2e-4 * 0.566402);
    EXPECT_NEAR(q[2], 1.164647, 2e-4 * 1.164647);
    EXPECT_NEAR(q[3], 0.350871, 2e-4 * 0.350871);
}

// Uncorrelated composites, one group: the density is the product of the stages'
// order-statistic densities and integrates to 1.
TEST(FtestIntegrals, IndependentStagesFactorise)
{
    // The integrand's ten-digit value of sqrt(2 pi) is 1.5e-10 high: one such factor per stage.
    pool(7, {4, 2}, {0.0}, {0.3, 0.5});
    for (const auto& z : points2) {
        const double want = order_density(7, 4, z[0]) * order_density(4, 2, z[1]);
        EXPECT_NEAR(value(0, z), want, 5e-10 * want);
        EXPECT_NEAR(value(99, z), want, 5e-10 * want);
    }
    EXPECT_NEAR(integrals(2, 48, {})[0], 1.0, 1e-7);

    pool(9, {6, 3, 1}, {0.0, 0.0, 0.0}, {0.3, 0.4, 0.5});
    for (const auto& z : points3) {
        const double want = order_density(9, 6, z[0]) * order_density(6, 3, z[1]) * order_density(3, 1, z[2]);
        EXPECT_NEAR(value(0, z), want, 2e-3 * want);
        EXPECT_NEAR(value(-4, z), want, 2e-3 * want);
    }
}

// One group with every validity 0: the criterion is independent of the composites, so
// the selected have mean efc(1) and second moment 1 + efc(1)^2 at every point.
TEST(FtestSelectors, ZeroValiditiesGiveCriterionMoments)
{
    const double e = 0.7;
    pool(6, {4, 2}, {0.5}, {0.0, 0.0});
    st.efc[0] = e;
    st.Ef(1, 1) = 0.4;
    st.Ef(1, 2) = -0.3;
    for (const auto& z : points2) {
        const double f0 = value(0, z);
        ASSERT_GT(f0, 0.0);
        EXPECT_NEAR(value(1, z) / f0, e, 1e-13);
        EXPECT_NEAR(value(7, z) / f0, e * e, 1e-13);
        EXPECT_NEAR(value(6, z) / f0, 1.0 + e * e, 1e-13);
    }
    pool(8, {6, 4, 2}, {0.5, 0.3, 0.4}, {0.0, 0.0, 0.0});
    st.efc[0] = e;
    for (const auto& z : points3) {
        const double f0 = value(0, z);
        ASSERT_GT(f0, 0.0);
        EXPECT_NEAR(value(1, z) / f0, e, 1e-13);
        EXPECT_NEAR(value(7, z) / f0, e * e, 1e-13);
        EXPECT_NEAR(value(6, z) / f0, 1.0 + e * e, 1e-13);
    }
}

// Two groups, both stage counts: membership factors sum to 1, the adverse-impact factor
// of group 1 is 1, the mean and its square agree, selector 11 is group 2's rate.
TEST(FtestSelectors, GroupFactorsAreConsistent)
{
    for (int K : {2, 3}) {
        if (K == 2)
            pool(10, {6, 3}, {0.6}, {0.3, 0.5});
        else
            pool(10, {7, 4, 2}, {0.5, 0.3, 0.4}, {0.3, 0.4, 0.5});
        two_groups(0.3, 0.8, {0.9, 0.6, 0.5});
        for (const auto& z : K == 2 ? points2 : points3) {
            const double f0 = value(0, z);
            ASSERT_GT(f0, 0.0);
            EXPECT_NEAR((value(2, z) + value(3, z)) / f0, 1.0, 1e-13);
            EXPECT_GT(value(2, z), 0.0);
            EXPECT_GT(value(3, z), 0.0);
            EXPECT_NEAR(value(6, z) / f0, 1.0, 1e-13);
            const double mean = value(1, z) / f0;
            EXPECT_NEAR(value(10, z) / f0, mean * mean, 1e-12);
            EXPECT_DOUBLE_EQ(value(11, z), value(5, z));
            // Group 1 passes more often than group 2 at every cut.
            EXPECT_GT(value(4, z), value(5, z));
        }
    }
}

// With pg(1) = 0 the second moment is that of the reference group alone.
TEST(FtestSelectors, SecondMomentWithEmptyGroupOne)
{
    for (int K : {2, 3}) {
        const auto& pts = K == 2 ? points2 : points3;
        std::vector<double> alone;
        if (K == 2)
            pool(6, {4, 2}, {0.5}, {0.3, 0.5});
        else
            pool(8, {6, 4, 2}, {0.5, 0.3, 0.4}, {0.3, 0.4, 0.5});
        for (const auto& z : pts)
            alone.push_back(value(6, z));
        two_groups(0.0, 0.8, {0.9, 0.6, 0.5});
        for (std::size_t p = 0; p < pts.size(); ++p) {
            const double v = value(9, pts[p]);
            EXPECT_TRUE(std::isfinite(v));
            EXPECT_NEAR(v, alone[p], 1e-13 * alone[p]);
        }
    }
}

// Tail points where the tail mass of a stage is exactly 0: density 0, never NaN.
TEST(FtestGuard, EmptyTailGivesZeroDensity)
{
    pool(10, {6, 3}, {0.6}, {0.3, 0.5});
    two_groups(0.5, 0.8, {0.0, 0.0});
    for (int iz = 0; iz <= 11; ++iz) {
        EXPECT_EQ(value(iz, {40.0, 0.0}), 0.0) << iz;
        EXPECT_EQ(value(iz, {0.0, 40.0}), 0.0) << iz;
    }
    // Inside the cube: both groups far below the first cut.
    two_groups(0.5, 0.8, {-33.0, 0.0});
    st.Ef(2, 1) = -34.0;
    for (int iz = 0; iz <= 11; ++iz)
        EXPECT_EQ(value(iz, {4.5, 0.0}), 0.0) << iz;

    pool(8, {6, 4, 2}, {0.5, 0.3, 0.4}, {0.3, 0.4, 0.5});
    two_groups(0.5, 0.8, {0.0, 0.0, 0.0});
    for (int iz = 0; iz <= 11; ++iz)
        EXPECT_EQ(value(iz, {0.0, 40.0, 0.0}), 0.0) << iz;
}

// A group without applicants has no adverse-impact ratio; it gives 0, not NaN.
TEST(FtestGuard, AdverseImpactOfEmptyGroup)
{
    pool(10, {6, 3}, {0.6}, {0.3, 0.5});
    two_groups(1.0, 0.8, {0.5, 0.5});
    EXPECT_EQ(value(7, {0.2, 0.4}), 0.0);
    EXPECT_NEAR(value(6, {0.2, 0.4}), value(0, {0.2, 0.4}), 1e-15);
}

TEST(FtestPoint, RestoredBitForBit)
{
    pool(8, {6, 4, 2}, {0.5, 0.3, 0.4}, {0.3, 0.4, 0.5});
    two_groups(0.3, 0.8, {0.9, 0.6, 0.5});
    const double pts[][3] = {{0.1, -0.3, 1.7}, {1.0 / 3.0, 2.0 / 7.0, -4.5}, {40.0, 0.1, 0.2}};
    for (const auto& p : pts)
        for (int K : {2, 3})
            for (int iz : {0, 1, 5, 9, 10, 11}) {
                double z[3];
                std::memcpy(z, p, sizeof z);
                double f[2] = {0.0, 12345.0};
                st_iz = iz;
                ftest(K, z, 1, f);
                EXPECT_EQ(std::memcmp(z, p, sizeof z), 0) << K << " " << iz;
                EXPECT_EQ(f[1], 12345.0);
                EXPECT_TRUE(std::isfinite(f[0]));
            }
}

} // namespace

// All selectors from one evaluation of a point: what ftest gives selector by selector, bit
// for bit (zero outside the density too), and the point restored.
TEST(FtestPoint, SelectorsAtOnceEqualOneByOne)
{
    pool(8, {6, 4, 2}, {0.5, 0.3, 0.4}, {0.3, 0.4, 0.5});
    two_groups(0.3, 0.8, {0.9, 0.6, 0.5});
    traz::prepare_state(st);
    const int izs[] = {1, 2, 3, 5, 9, 10, 11, 0, 7};
    const double pts[][3] = {{0.1, -0.3, 1.7}, {1.0 / 3.0, 2.0 / 7.0, -0.5}, {40.0, 0.1, 0.2}};
    for (const auto& p : pts)
        for (int K : {2, 3}) {
            double z[3], all[9];
            std::memcpy(z, p, sizeof z);
            traz::ftest_selectors(st, izs, 9, K, z, all);
            EXPECT_EQ(std::memcmp(z, p, sizeof z), 0);
            for (int i = 0; i < 9; ++i) {
                st_iz = izs[i];
                double one = -1.0;
                ftest(K, z, 1, &one);
                EXPECT_EQ(std::memcmp(&one, &all[i], sizeof one), 0) << K << " selector " << izs[i];
            }
        }
}
