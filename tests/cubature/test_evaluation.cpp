// Rule evaluation over one region: integral, division axis and the null-rule error estimate.
#include "counting.hpp"
#include "cubature/routines.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace traz {
namespace {

using testing::counted;
using testing::counter;
using testing::setIntegrand;

struct Tables {
    int ndim, wtleng;
    double w[5 * maxwt], g[maxdim * maxwt], errcof[6], rulpts[maxwt];
    double scales[3 * maxwt], norms[3 * maxwt];
    Tables(int key, int n) : ndim(n)
    {
        wtleng = key == 1 ? 14 : key == 2 ? 13 : key == 3 ? (n == 2 ? 8 : 9) : 6;
        dinhre(ndim, key, wtleng, w, g, errcof, rulpts, scales, norms);
    }
};

struct Evaluation {
    double basval[2], rgnerr[2], direct;
};

Evaluation evaluate(Tables& t, const double* center, const double* hwidth, int numfun = 1)
{
    Evaluation e{};
    double x[maxdim];
    double null[8 * 2];
    drlhre(t.ndim, center, hwidth, t.wtleng, t.g, t.w, t.errcof, numfun, counted, t.scales,
           t.norms, x, null, e.basval, e.rgnerr, e.direct);
    return e;
}

TEST(Drlhre, ConstantIntegrandEveryRule)
{
    const int rules[][2] = {{1, 2}, {2, 3}, {3, 2}, {3, 4}, {4, 2}, {4, 5}};
    for (const auto& kr : rules) {
        Tables t(kr[0], kr[1]);
        const double center[5] = {0.5, -1, 2, 0, 3};
        const double hwidth[5] = {0.5, 2, 2, 1, 0.25};
        double volume = 1;
        for (int i = 0; i < t.ndim; ++i)
            volume *= 2 * hwidth[i];
        setIntegrand([](int, const double*, int, double* f) { f[0] = 3.0; });
        const Evaluation e = evaluate(t, center, hwidth);
        EXPECT_NEAR(e.basval[0], 3 * volume, 1e-13 * volume) << "rule " << kr[0];
        EXPECT_LT(e.rgnerr[0], 1e-12 * volume) << "rule " << kr[0];
        EXPECT_EQ(e.direct, 2.0) << "first widest axis, rule " << kr[0];
        double points = 0;
        for (int k = 0; k < t.wtleng; ++k)
            points += t.rulpts[k];
        EXPECT_EQ(double(counter.calls), points);
    }
}

TEST(Drlhre, PolynomialIntegralAndRestoredGenerators)
{
    Tables t(2, 3);
    const Tables fresh(2, 3);
    const double center[3] = {0.25, -0.5, 1};
    const double hwidth[3] = {0.75, 0.5, 2};
    // x^4 y^2 z^4 + x z: degree 10, inside the rule's degree 11.
    setIntegrand([](int, const double* x, int, double* f) {
        f[0] = std::pow(x[0], 4) * x[1] * x[1] * std::pow(x[2], 4) + x[0] * x[2];
    });
    const Evaluation e = evaluate(t, center, hwidth);
    auto p5 = [](double lo, double hi, int k) {
        return (std::pow(hi, k + 1) - std::pow(lo, k + 1)) / (k + 1);
    };
    const double exact = p5(-0.5, 1, 4) * p5(-1, 0, 2) * p5(-1, 3, 4)
                         + p5(-0.5, 1, 1) * p5(-1, 0, 0) * p5(-1, 3, 1);
    EXPECT_NEAR(e.basval[0], exact, 1e-13 * std::fabs(exact));
    for (int i = 0; i < 3 * 13; ++i)
        EXPECT_EQ(t.g[i], fresh.g[i]);
}

TEST(Drlhre, AxisOfLargestFourthDifference)
{
    Tables t(1, 2);
    const double center[2] = {0, 0};
    const double hwidth[2] = {1, 1};
    setIntegrand([](int, const double* x, int, double* f) { f[0] = 1 + std::pow(x[1], 4); });
    EXPECT_EQ(evaluate(t, center, hwidth).direct, 2.0);
    // Equal difference sums on two axes: the earlier axis, not the widest.
    Tables t3(2, 3);
    const double c3[3] = {0, 0, 0};
    const double h3[3] = {1, 1, 2};
    setIntegrand([](int, const double* x, int, double* f) {
        f[0] = std::pow(x[0], 4) + std::pow(x[1], 4);
    });
    EXPECT_EQ(evaluate(t3, c3, h3).direct, 1.0);
    // Differences summed over the components.
    setIntegrand([](int, const double* x, int, double* f) {
        f[0] = std::pow(x[0], 4);
        f[1] = 2 * std::pow(x[1], 4);
    });
    EXPECT_EQ(evaluate(t3, c3, h3, 2).direct, 2.0);
}

TEST(Drlhre, DifferencesBelowRoundingKeepTheWidestAxis)
{
    Tables t(1, 2);
    const double center[2] = {0, 0};
    const double hwidth[2] = {1, 2};
    setIntegrand([](int, const double* x, int, double* f) { f[0] = 1 + 1e-20 * std::pow(x[0], 4); });
    EXPECT_EQ(evaluate(t, center, hwidth).direct, 2.0);
    // The same variation on a zero centre value counts.
    setIntegrand([](int, const double* x, int, double* f) { f[0] = 1e-20 * std::pow(x[0], 4); });
    EXPECT_EQ(evaluate(t, center, hwidth).direct, 1.0);
}

// A three-generator rule in two variables whose null sums for the integrand 1 are the
// centre weights of rows 2-5, so that the error branches can be set directly.
struct Crafted {
    double w[15] = {}, g[6] = {0, 0, 0.5, 0, 0.8, 0};
    double errcof[6] = {10, 10, 1, 5, 0.5, 0.25};
    double scales[9] = {}, norms[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};

    double error(double n1, double n2, double n3, double n4)
    {
        w[0] = 1;
        w[1] = n1;
        w[2] = n2;
        w[3] = n3;
        w[4] = n4;
        const double center[2] = {0, 0};
        const double hwidth[2] = {1.5, 2};
        double x[2], null[8], basval, rgnerr, direct;
        setIntegrand([](int, const double*, int, double* f) { f[0] = 1; });
        drlhre(2, center, hwidth, 3, g, w, errcof, 1, counted, scales, norms, x, null, &basval,
               &rgnerr, direct);
        EXPECT_EQ(counter.calls, 9);
        EXPECT_EQ(basval, 3.0);
        return rgnerr;
    }
};

TEST(Drlhre, ErrorEstimateBranches)
{
    Crafted c;
    // e = (1, 10, 100): both ratio tests pass, error errcof(3) e(1) times the volume 3.
    EXPECT_EQ(c.error(7, 1, 10, 100), 3.0);
    // e(2) = 9 fails the first test: errcof(4) max(e) times the volume.
    EXPECT_EQ(c.error(7, 1, 9, 100), 1500.0);
    // e(3) = 99 fails the second test.
    EXPECT_EQ(c.error(7, 1, 10, 99), 1485.0);
    // With scales 1 each e(p) = |N(p+1) + N(p)| from the raw null sums: (2, 20, 200).
    for (double& s : c.scales)
        s = 1;
    EXPECT_EQ(c.error(1, 1, 19, 181), 6.0);
    // norms scale each combination.
    for (double& s : c.scales)
        s = 0;
    for (int i = 0; i < 9; i += 3)
        c.norms[i] = 0.5;
    EXPECT_EQ(c.error(7, 2, 10, 100), 3.0);
}

TEST(Drlhre, NanValuesGiveNanErrorAndAValidAxis)
{
    Tables t(1, 2);
    const double center[2] = {0, 0};
    const double hwidth[2] = {1, 2};
    setIntegrand([](int, const double* x, int, double* f) {
        f[0] = x[0] > 0.9 ? std::numeric_limits<double>::quiet_NaN() : std::pow(x[0], 4);
    });
    const Evaluation e = evaluate(t, center, hwidth);
    EXPECT_TRUE(std::isnan(e.rgnerr[0]));
    EXPECT_GE(e.direct, 1.0);
    EXPECT_LE(e.direct, 2.0);
}

} // namespace
} // namespace traz
