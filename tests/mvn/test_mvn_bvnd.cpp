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
        const double p = bvnd(row.num("h"), row.num("k"), row.num("r"));
        EXPECT_NEAR(p, row.num("p"), 1e-15) << row.what();
        worst = std::max(worst, std::fabs(p - row.num("p")));
    }
    std::printf("bvnd: largest absolute error on the bivariate table %.3e\n", worst);
}

// Symmetry in h and k, and the closed forms at r = 0, r = +-1 and h = k = 0.
TEST(Bvnd, SymmetryAndClosedForms)
{
    for (double r : {-1.0, -0.99, -0.93, -0.5, 0.0, 0.2, 0.6, 0.9, 0.95, 0.999, 1.0}) {
        for (double h : {-2.5, -0.3, 0.0, 0.8, 3.1}) {
            for (double k : {-1.2, 0.0, 0.45, 2.2}) {
                const double p = bvnd(h, k, r);
                // The expansion near |r| = 1 forms Phi(-h) - Phi(k) in either order.
                EXPECT_NEAR(bvnd(k, h, r), p, std::fabs(r) < 0.925 ? 0.0 : 3e-16) << h << " " << k << " " << r;
                const double nh = -h;
                const double nk = -k;
                const double mx = -std::max(h, k);
                if (r == 0.0) {
                    EXPECT_EQ(p, phid(nh) * phid(nk)) << h << " " << k;
                } else if (r == 1.0) {
                    EXPECT_EQ(p, phid(mx)) << h << " " << k;
                } else if (r == -1.0) {
                    EXPECT_EQ(p, std::max(0.0, phid(nh) - phid(k))) << h << " " << k;
                }
            }
        }
    }
    const double zero = 0.0;
    for (double r = -0.999; r < 1.0; r += 0.0185) {
        EXPECT_NEAR(bvnd(zero, zero, r), 0.25 + std::asin(r) / (2.0 * std::numbers::pi), 1e-15) << r;
    }
}

// Each rule change shows as a jump between the correlation just below the threshold and
// the threshold itself; from the threshold on the value is smooth. The points are far in
// the tail, where the smaller rule is visibly less accurate.
TEST(Bvnd, RuleSwitchesAtThresholds)
{
    const double points[][3] = {{0.3, 6.0, 6.0},  {0.75, 7.0, 2.0},   {0.925, 6.0, 6.0},
                                {-0.3, 2.0, 4.0}, {-0.75, 6.0, -3.0}, {-0.925, 6.0, -6.0}};
    for (const auto& [t, h, k] : points) {
        const double below = std::nextafter(t, 0.0);
        const double above = std::nextafter(t, 2.0 * t);
        const double at = bvnd(h, k, t);
        EXPECT_GT(std::fabs(bvnd(h, k, below) - at) / at, 1e-11) << "r = " << t;
        EXPECT_LT(std::fabs(bvnd(h, k, above) - at) / at, 1e-13) << "r = " << t;
    }
}

// The n-point tables (n = 2 lg) integrate monomials on [-1, 0] and [-1, 1] exactly up to
// degree 2n - 1 and not at degree 2n.
TEST(GaussLegendreTables, ExactOnPolynomials)
{
    using traz::bvnd_rules::w;
    using traz::bvnd_rules::x;
    const int npairs[3] = {3, 6, 10};
    for (int ng = 0; ng < 3; ++ng) {
        const int lg = npairs[ng];
        const int n = 2 * lg;
        for (int i = lg; i < 10; ++i) {
            EXPECT_EQ(x[ng][i] + w[ng][i], 0.0) << "unused entries";
        }
        for (int deg = 0; deg <= 2 * n; ++deg) {
            double full = 0.0; // on [-1, 1]
            double half = 0.0; // on [-1, 0]: nodes (+-x - 1)/2, weights w/2
            for (int i = 0; i < lg; ++i) {
                full += w[ng][i] * (std::pow(x[ng][i], deg) + std::pow(-x[ng][i], deg));
                half += 0.5 * w[ng][i]
                        * (std::pow((x[ng][i] - 1.0) * 0.5, deg) + std::pow((-x[ng][i] - 1.0) * 0.5, deg));
            }
            const double exact_half = (deg % 2 == 0 ? 1.0 : -1.0) / (deg + 1);
            if (deg < 2 * n) {
                EXPECT_NEAR(full, deg % 2 == 0 ? 2.0 / (deg + 1) : 0.0, 3e-15) << n << " points, degree " << deg;
                EXPECT_NEAR(half, exact_half, 3e-15) << n << " points, degree " << deg;
            } else {
                EXPECT_GT(std::fabs(full * (deg + 1) / 2.0 - 1.0), 1e-11) << n << " points, degree " << deg;
            }
        }
    }
}

} // namespace
