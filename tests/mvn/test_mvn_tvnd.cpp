// Trivariate normal probability tvnd, its integrator adoned and the Kronrod rule krnrdd.
#include "mvn/mvn.hpp"
#include "mvn/simd.hpp"
#include "mvn/tvnd.hpp"
#include "reference_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>

namespace {

using traz::tvnd;

// Integrands of the rule and the integrator, counting their calls.
long calls = 0;
int degree = 0;
double monomial(const double& x)
{
    ++calls;
    return std::pow(x, degree);
}
double nothing(const double&)
{
    ++calls;
    return 0.0;
}
double smooth(const double& x)
{
    ++calls;
    return std::exp(-x * x * 0.5) * std::cos(3.0 * x);
}
double monomial_integral(double a, double b, int k)
{
    return (std::pow(b, k + 1) - std::pow(a, k + 1)) / (k + 1);
}

TEST(Tvnd, AgreesWithReferenceTable)
{
    const auto [worst4, worst9] = traz::test::check_lower_orthant(
        "mvn-trivariate.csv", 3, 152u, [](const double* l, const double* c, double e) { return tvnd(l, c, e); });
    std::printf("tvnd: largest absolute error %.3e at 1e-4, %.3e at 1e-9\n", worst4, worst9);
}

TEST(Tvnd, FarLimits)
{
    const double epsi = 1.0e-4;
    const double zero[3] = {0.0, 0.0, 0.0};
    // A chosen limit at or below -8.5 gives exactly 0 without integrating: a correlation
    // of 1 with the chosen coordinate would make the integrand undefined.
    const double singular[3] = {1.0, 0.0, 0.0};
    for (double low : {-8.5, -9.0, -40.0}) {
        const double l[3] = {low, 0.3, -0.2};
        EXPECT_EQ(tvnd(l, singular, epsi), 0.0) << low;
    }
    // A chosen limit at or above 8.5 leaves the lower bivariate probability of the others.
    for (double high : {8.5, 9.0, 40.0}) {
        const double l[3] = {0.3, high, -0.2};
        const double c[3] = {1.0, 0.4, 0.0};
        EXPECT_EQ(tvnd(l, c, epsi), traz::bvnd(-l[0], -l[2], c[1])) << high;
    }
    const double l9[3] = {9.0, 0.0, 0.0};
    EXPECT_EQ(tvnd(l9, zero, epsi), 0.25);
    EXPECT_NEAR(tvnd(zero, zero, epsi), 0.125, epsi);
}

// The integration coordinate has the largest absolute limit; ties go to coordinate 2,
// then 3, then 1. trvbkd shows which was taken; the result does not depend on it.
TEST(Tvnd, IntegrationCoordinateChoice)
{
    const double epsi = 1.0e-4;
    const double r21 = 0.1;
    const double r31 = 0.2;
    const double r32 = 0.4;
    const double c[3] = {r21, r31, r32};
    const double cases[4][5] = {
        // L1, L2, L3, expected rHA, rHB
        {-1.0, -1.0, 1.0, r21, r32},   // all tied: 2
        {-1.5, 1.5, 0.5, -r21, -r32},  // 1 and 2 tied: 2, complement
        {-1.5, 0.5, -1.5, r32, r31},   // 1 and 3 tied: 3
        {-2.0, 1.5, 0.5, r21, r31},    // 1 largest
    };
    for (const auto& [l1, l2, l3, rha, rhb] : cases) {
        const double l[3] = {l1, l2, l3};
        tvnd(l, c, epsi);
        EXPECT_NEAR(traz::trvbkd.ra, rha / std::sqrt(1.0 - rha * rha), 1e-15) << l1 << " " << l2 << " " << l3;
        EXPECT_NEAR(traz::trvbkd.rb, rhb / std::sqrt(1.0 - rhb * rhb), 1e-15) << l1 << " " << l2 << " " << l3;
    }
    const double tight = 1.0e-10;
    const double l[3] = {-0.7, 0.7, -0.7};
    const double lp[3] = {0.7, -0.7, -0.7}; // coordinates 1 and 2 exchanged
    const double cp[3] = {r21, r32, r31};
    EXPECT_NEAR(tvnd(lp, cp, tight), tvnd(l, c, tight), 2.0 * tight);
}

// 1 - r^2 is formed as (1 - r)(1 + r) from |r| = 1/2 on; and the integrand is the density
// times the conditional bivariate probability at the conditional correlation (trvfnd is the
// scalar path's integrand, so both sides are taken on the scalar path).
TEST(Tvnd, ConditionalQuantities)
{
    const double epsi = 1.0e-4;
    const double l[3] = {-2.0, 0.5, 0.25};
    for (double r : {0.8, -0.8, 0.15, 0.508, -0.515, 0.492}) {
        const double c[3] = {r, 0.1, 0.0};
        const double product = r / std::sqrt((1.0 - r) * (1.0 + r));
        const double square = r / std::sqrt(1.0 - r * r);
        ASSERT_NE(product, square) << "r = " << r << " does not tell the forms apart";
        tvnd(l, c, epsi, nullptr);
        const auto& blk = traz::trvbkd;
        EXPECT_EQ(blk.ra, 2.0 * std::fabs(r) >= 1.0 ? product : square) << r;
        for (double t : {-8.0, -1.3, 0.0}) {
            const double h = t * blk.ra - blk.la;
            const double k = t * blk.rb - blk.lb;
            EXPECT_EQ(traz::trvfnd(t), std::exp(-(t * t * 0.5)) * traz::bvnd(h, k, blk.rho, nullptr)) << t;
        }
    }
}

// Both sums of the rule are exact up to degree 21 (error estimate near 0), the Kronrod
// sum up to degree 34; degree 36 is beyond it.
TEST(Krnrdd, ExactOnPolynomials)
{
    const double a = -0.75;
    const double b = 1.5;
    for (degree = 0; degree <= 34; ++degree) {
        double abserr = -1.0;
        calls = 0;
        const double q = traz::krnrdd(a, b, monomial, abserr);
        const double exact = monomial_integral(a, b, degree);
        EXPECT_EQ(calls, 23);
        EXPECT_LT(std::fabs(q - exact) / std::fabs(exact), 5e-14) << "degree " << degree;
        if (degree <= 21) {
            EXPECT_LT(abserr, 1e-13 * std::max(1.0, std::fabs(exact))) << "degree " << degree;
        } else {
            EXPECT_GT(abserr, 1e-9 * std::fabs(exact)) << "degree " << degree;
        }
    }
    degree = 36;
    double abserr = 0.0;
    const double q = traz::krnrdd(-1.0, 1.0, monomial, abserr);
    EXPECT_GT(std::fabs(q * 37.0 / 2.0 - 1.0), 1e-12);
}

// adoned bisects at least once and stops as soon as the summed error meets tol, or at
// 100 subintervals (199 rule applications).
TEST(Adoned, StoppingRules)
{
    for (degree = 0; degree <= 21; degree += 3) {
        const double exact = monomial_integral(-2.0, 3.0, degree);
        const double tol = 1e-11 * std::max(1.0, std::fabs(exact)); // rounding level
        calls = 0;
        EXPECT_NEAR(traz::adoned(monomial, -2.0, 3.0, tol), exact, tol) << degree;
        EXPECT_EQ(calls, 3 * 23) << degree;
    }
    const double a = -8.5;
    const double b = 2.0;
    const double zero = 0.0;
    calls = 0;
    EXPECT_EQ(traz::adoned(nothing, a, b, zero), 0.0);
    EXPECT_EQ(calls, 3 * 23);

    calls = 0;
    const double reference = traz::adoned(smooth, a, b, zero);
    EXPECT_EQ(calls, 199 * 23);
    for (double tol : {1.0e-4, 1.0e-8, 1.0e-12}) {
        EXPECT_NEAR(traz::adoned(smooth, a, b, tol), reference, tol) << tol;
    }
}

} // namespace
