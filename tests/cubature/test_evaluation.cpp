// Rule evaluation over one region: integral, division axis and the null-rule error estimate.
#include "counting.hpp"
#include "rule_tables.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace traz {
namespace {

using testing::counted;
using testing::counter;
using testing::setIntegrand;

struct Evaluation {
    double basval[2], rgnerr[2], direct;
};

Evaluation evaluate(RuleTables& t, const double* center, const double* hwidth, int numfun = 1)
{
    Evaluation e{};
    double x[maxdim], null[8 * 2];
    drlhre(t.ndim, center, hwidth, t.wtleng, t.g, t.w, t.errcof, numfun, counted, t.scales,
           t.norms, x, null, e.basval, e.rgnerr, e.direct);
    return e;
}

TEST(Drlhre, ConstantIntegrandEveryRule)
{
    for (const auto& [key, ndim] : {std::pair{1, 2}, {2, 3}, {3, 2}, {3, 4}, {4, 2}, {4, 5}}) {
        RuleTables t(key, ndim);
        const double center[5] = {0.5, -1, 2, 0, 3}, hwidth[5] = {0.5, 2, 2, 1, 0.25};
        double volume = 1, points = 0;
        for (int i = 0; i < ndim; ++i)
            volume *= 2 * hwidth[i];
        for (int k = 0; k < t.wtleng; ++k)
            points += t.rulpts[k];
        setIntegrand([](int, const double*, int, double* f) { f[0] = 3.0; });
        const Evaluation e = evaluate(t, center, hwidth);
        EXPECT_NEAR(e.basval[0], 3 * volume, 1e-13 * volume) << "rule " << key;
        EXPECT_LT(e.rgnerr[0], 1e-12 * volume) << "rule " << key;
        EXPECT_EQ(e.direct, 2.0) << "the first widest axis, rule " << key;
        EXPECT_EQ(double(counter.calls), points);
    }
}

TEST(Drlhre, PolynomialOnABoxAndGeneratorsRestored)
{
    RuleTables t(2, 3);
    const RuleTables fresh(2, 3);
    const double center[3] = {0.25, -0.5, 1}, hwidth[3] = {0.75, 0.5, 2};
    setIntegrand([](int, const double* x, int, double* f) {
        f[0] = std::pow(x[0], 4) * x[1] * x[1] * std::pow(x[2], 4) + x[0] * x[2];
    });
    auto mom = [](double lo, double hi, int k) { return (std::pow(hi, k + 1) - std::pow(lo, k + 1)) / (k + 1); };
    const double exact = mom(-0.5, 1, 4) * mom(-1, 0, 2) * mom(-1, 3, 4) + mom(-0.5, 1, 1) * mom(-1, 3, 1);
    EXPECT_NEAR(evaluate(t, center, hwidth).basval[0], exact, 1e-13 * std::fabs(exact));
    EXPECT_TRUE(std::equal(t.g, t.g + 3 * 13, fresh.g));
}

TEST(Drlhre, DivisionAxis)
{
    RuleTables t2(1, 2), t3(2, 3);
    const double c[3] = {0, 0, 0}, h2[2] = {1, 2}, h3[3] = {1, 1, 2};
    // The largest fourth difference, not the widest axis.
    setIntegrand([](int, const double* x, int, double* f) { f[0] = 1 + std::pow(x[0], 4); });
    EXPECT_EQ(evaluate(t2, c, h2).direct, 1.0);
    // Equal difference sums: the earlier axis.
    setIntegrand([](int, const double* x, int, double* f) { f[0] = std::pow(x[0], 4) + std::pow(x[1], 4); });
    EXPECT_EQ(evaluate(t3, c, h3).direct, 1.0);
    // Sums over the components.
    setIntegrand([](int, const double* x, int, double* f) {
        f[0] = std::pow(x[0], 4);
        f[1] = 2 * std::pow(x[1], 4);
    });
    EXPECT_EQ(evaluate(t3, c, h3, 2).direct, 2.0);
    // Differences too small to change the centre value are ignored: the widest axis stays.
    setIntegrand([](int, const double* x, int, double* f) { f[0] = 1 + 1e-20 * std::pow(x[0], 4); });
    EXPECT_EQ(evaluate(t2, c, h2).direct, 2.0);
    setIntegrand([](int, const double* x, int, double* f) { f[0] = 1e-20 * std::pow(x[0], 4); });
    EXPECT_EQ(evaluate(t2, c, h2).direct, 1.0);
}

// A three-generator rule in two variables whose null sums for the integrand 1 are the
// centre weights n1..n4 of rows 2-5, so the error branches can be set directly.
struct Crafted {
    double w[15] = {}, g[6] = {0, 0, 0.5, 0, 0.8, 0};
    double errcof[6] = {10, 10, 1, 5, 0.5, 0.25};
    double scales[9] = {}, norms[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};

    double error(double n1, double n2, double n3, double n4)
    {
        const double w0[5] = {1, n1, n2, n3, n4}, center[2] = {0, 0}, hwidth[2] = {1.5, 2};
        std::copy(w0, w0 + 5, w);
        double x[2], null[8], basval, rgnerr, direct;
        setIntegrand([](int, const double*, int, double* f) { f[0] = 1; });
        drlhre(2, center, hwidth, 3, g, w, errcof, 1, counted, scales, norms, x, null, &basval,
               &rgnerr, direct);
        EXPECT_TRUE(counter.calls == 9 && basval == 3.0);
        return rgnerr;
    }
};

TEST(Drlhre, ErrorEstimateBranches)
{
    Crafted c; // region volume factor 1.5 * 2 = 3
    EXPECT_EQ(c.error(7, 1, 10, 100), 3.0);    // e = (1, 10, 100): errcof(3) e(1)
    EXPECT_EQ(c.error(7, 1, 9, 100), 1500.0);  // first ratio test fails: errcof(4) max e
    EXPECT_EQ(c.error(7, 1, 10, 99), 1485.0);  // second ratio test fails
    std::fill(c.scales, c.scales + 9, 1.0);    // e(p) = |N(p+1) + N(p)| from the raw sums
    EXPECT_EQ(c.error(1, 1, 19, 181), 6.0);    // e = (2, 20, 200)
    std::fill(c.scales, c.scales + 9, 0.0);
    c.norms[0] = c.norms[3] = c.norms[6] = 0.5; // the largest normalised combination counts
    EXPECT_EQ(c.error(7, 2, 10, 100), 3.0);
}

TEST(Drlhre, NanValuesGiveNanErrorAndAValidAxis)
{
    RuleTables t(1, 2);
    const double center[2] = {0, 0}, hwidth[2] = {1, 2};
    setIntegrand([](int, const double* x, int, double* f) {
        f[0] = x[0] > 0.9 ? std::numeric_limits<double>::quiet_NaN() : std::pow(x[0], 4);
    });
    const Evaluation e = evaluate(t, center, hwidth);
    EXPECT_TRUE(std::isnan(e.rgnerr[0]));
    EXPECT_TRUE(e.direct == 1.0 || e.direct == 2.0);
}

} // namespace
} // namespace traz
