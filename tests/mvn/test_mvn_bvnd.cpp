// Bivariate normal probability bvnd and its Gauss-Legendre tables.
#include "mvn/bvnd.hpp"
#include "mvn/mvn.hpp"
#include "reference_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <numbers>

namespace {

using traz::bvnd;
using traz::phid;

TEST(Bvnd, AgreesWithReferenceTable)
{
    const auto rows = traz::test::read_reference("mvn-bivariate.csv");
    ASSERT_EQ(rows.size(), 203u);
    double worst = 0.0;
    for (const auto& row : rows) {
        const double h = row.num("h");
        const double k = row.num("k");
        const double r = row.num("r");
        const double p = bvnd(h, k, r);
        EXPECT_NEAR(p, row.num("p"), 1e-15) << row.id() << " " << row.text.at("regime");
        worst = std::max(worst, std::fabs(p - row.num("p")));
    }
    std::printf("bvnd: largest absolute error on the bivariate table %.3e\n", worst);
}

TEST(Bvnd, SymmetricInLimits)
{
    for (double r : {-0.99, -0.93, -0.8, -0.5, -0.1, 0.0, 0.2, 0.6, 0.9, 0.95, 0.999}) {
        for (double h : {-3.0, -0.7, 0.0, 0.4, 2.5}) {
            for (double k : {-1.9, 0.1, 1.3, 4.0}) {
                if (std::fabs(r) < 0.925) {
                    EXPECT_EQ(bvnd(h, k, r), bvnd(k, h, r)) << h << " " << k << " " << r;
                } else {
                    EXPECT_NEAR(bvnd(h, k, r), bvnd(k, h, r), 3e-16) << h << " " << k << " " << r;
                }
            }
        }
    }
}

TEST(Bvnd, ExactCases)
{
    const double zero = 0.0;
    const double one = 1.0;
    const double mone = -1.0;
    for (double h : {-2.5, -0.3, 0.0, 0.8, 3.1}) {
        for (double k : {-1.2, 0.0, 0.45, 2.2}) {
            const double nh = -h;
            const double nk = -k;
            const double mx = -std::max(h, k);
            EXPECT_EQ(bvnd(h, k, zero), phid(nh) * phid(nk)) << h << " " << k;
            EXPECT_EQ(bvnd(h, k, one), phid(mx)) << h << " " << k;
            EXPECT_EQ(bvnd(h, k, mone), std::max(0.0, phid(nh) - phid(k))) << h << " " << k;
        }
    }
}

// At h = k = 0 the probability is 1/4 + asin(r)/(2 pi) for every correlation.
TEST(Bvnd, OriginClosedForm)
{
    const double zero = 0.0;
    const double half = 0.5;
    EXPECT_NEAR(bvnd(zero, zero, half), 1.0 / 3.0, 2e-16);
    for (double r = -0.999; r < 1.0; r += 0.0185) {
        const double exact = 0.25 + std::asin(r) / (2.0 * std::numbers::pi);
        EXPECT_NEAR(bvnd(zero, zero, r), exact, 1e-15) << r;
    }
}

// Each rule change shows as a jump between the correlation just below the threshold
// and the threshold itself; from the threshold upwards the value is smooth. The points
// are far in the tail, where the smaller rule is visibly less accurate.
TEST(Bvnd, RuleSwitchesAtThresholds)
{
    struct point {
        double threshold, h, k;
    };
    const point points[] = {
        {0.3, 6.0, 6.0},    {0.75, 7.0, 2.0},   {0.925, 6.0, 6.0},
        {-0.3, 2.0, 4.0},   {-0.75, 6.0, -3.0}, {-0.925, 6.0, -6.0},
    };
    for (const point& pt : points) {
        const double t = pt.threshold;
        const double below = std::nextafter(t, 0.0);
        const double above = std::nextafter(t, 2.0 * t);
        const double at = bvnd(pt.h, pt.k, t);
        const double jump_below = std::fabs(bvnd(pt.h, pt.k, below) - at) / at;
        const double jump_above = std::fabs(bvnd(pt.h, pt.k, above) - at) / at;
        EXPECT_GT(jump_below, 1e-11) << "r = " << t;
        EXPECT_LT(jump_above, 1e-13) << "r = " << t;
        EXPECT_GT(jump_below, 100.0 * jump_above) << "r = " << t;
    }
}

TEST(Bvnd, StaysAProbability)
{
    for (double r = -0.995; r < 1.0; r += 0.035) {
        for (double h = -5.0; h <= 5.0; h += 0.625) {
            for (double k = -5.0; k <= 5.0; k += 0.9) {
                const double p = bvnd(h, k, r);
                EXPECT_GE(p, -1e-16) << h << " " << k << " " << r;
                EXPECT_LE(p, 1.0 + 1e-15) << h << " " << k << " " << r;
                // Never above either marginal.
                const double nh = -h;
                const double nk = -k;
                EXPECT_LE(p, std::min(phid(nh), phid(nk)) + 1e-15) << h << " " << k << " " << r;
            }
        }
    }
}

// The tables integrate monomials exactly up to degree 2n - 1 and not at degree 2n.
TEST(GaussLegendreTables, ExactOnPolynomials)
{
    using traz::bvnd_rules::w;
    using traz::bvnd_rules::x;
    const int npairs[3] = {3, 6, 10};
    for (int ng = 0; ng < 3; ++ng) {
        const int lg = npairs[ng];
        for (int i = lg; i < 10; ++i) {
            EXPECT_EQ(x[ng][i], 0.0);
            EXPECT_EQ(w[ng][i], 0.0);
        }
        for (int i = 0; i < lg; ++i) {
            EXPECT_LT(x[ng][i], 0.0);
            EXPECT_GT(w[ng][i], 0.0);
            if (i > 0) {
                EXPECT_GT(x[ng][i], x[ng][i - 1]) << "increasing order";
            }
        }
        const int npoints = 2 * lg;
        for (int deg = 0; deg <= 2 * npoints; deg += 2) {
            double sum = 0.0;
            for (int i = 0; i < lg; ++i) {
                sum += w[ng][i] * 2.0 * std::pow(x[ng][i], deg);
            }
            const double exact = 2.0 / (deg + 1);
            const double rel = std::fabs(sum - exact) / exact;
            if (deg < 2 * npoints) {
                EXPECT_LT(rel, 3e-15) << npoints << "-point rule, degree " << deg;
            } else {
                EXPECT_GT(rel, 1e-11) << npoints << "-point rule, degree " << deg;
            }
        }
        // Odd degrees, on [-1, 0] where they do not vanish by symmetry.
        for (int deg = 1; deg < 2 * npoints; deg += 2) {
            double sum = 0.0;
            for (int i = 0; i < lg; ++i) {
                // Rule on [-1, 0]: nodes (x - 1)/2 and (-x - 1)/2, weights w/2.
                sum += 0.5 * w[ng][i]
                       * (std::pow((x[ng][i] - 1.0) * 0.5, deg) + std::pow((-x[ng][i] - 1.0) * 0.5, deg));
            }
            EXPECT_NEAR(sum, -1.0 / (deg + 1), 3e-15) << npoints << "-point rule, degree " << deg;
        }
    }
}

} // namespace
