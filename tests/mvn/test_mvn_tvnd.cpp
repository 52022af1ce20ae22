// Trivariate normal probability tvnd, its integrator adoned and the Kronrod rule krnrdd.
#include "mvn/mvn.hpp"
#include "mvn/tvnd.hpp"
#include "reference_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <cmath>
#include <cstdio>

namespace {

using traz::krnrdd;
using traz::tvnd;

// Monomial x^degree with a call counter, as an integrand of krnrdd and adoned.
int degree = 0;
long calls = 0;
double monomial(const double& x)
{
    ++calls;
    return std::pow(x, degree);
}
double monomial_integral(double a, double b, int k)
{
    return (std::pow(b, k + 1) - std::pow(a, k + 1)) / (k + 1);
}

double smooth(const double& x)
{
    ++calls;
    return std::exp(-x * x * 0.5) * std::cos(3.0 * x);
}

TEST(Tvnd, AgreesWithReferenceTableThroughDispatcher)
{
    const auto rows = traz::test::read_reference("mvn-trivariate.csv");
    ASSERT_EQ(rows.size(), 152u);
    const int nd = 3;
    double worst = 0.0;
    for (const auto& row : rows) {
        // The table holds lower probabilities; the dispatcher answers the upper question,
        // which is the lower one at negated limits.
        const double a[3] = {-row.num("L1"), -row.num("L2"), -row.num("L3")};
        const double c[3] = {row.num("r21"), row.num("r31"), row.num("r32")};
        double err = 0.0;
        int ifail = 1;
        double p = -1.0;
        traz::g01hbt(nd, a, a, c, err, ifail, p);
        EXPECT_NEAR(p, row.num("p"), 1.0e-4) << row.id() << " " << row.text.at("regime");
        worst = std::max(worst, std::fabs(p - row.num("p")));
    }
    std::printf("tvnd at 1e-4: largest absolute error %.3e\n", worst);
}

TEST(Tvnd, AgreesWithReferenceTableAtHighAccuracy)
{
    const auto rows = traz::test::read_reference("mvn-trivariate.csv");
    const double epsi = 1.0e-9;
    double worst = 0.0;
    for (const auto& row : rows) {
        const double l[3] = {row.num("L1"), row.num("L2"), row.num("L3")};
        const double c[3] = {row.num("r21"), row.num("r31"), row.num("r32")};
        const double p = tvnd(l, c, epsi);
        EXPECT_NEAR(p, row.num("p"), epsi) << row.id() << " " << row.text.at("regime");
        worst = std::max(worst, std::fabs(p - row.num("p")));
    }
    std::printf("tvnd at 1e-9: largest absolute error %.3e\n", worst);
}

TEST(Tvnd, FarLimits)
{
    const double epsi = 1.0e-4;
    const double zero[3] = {0.0, 0.0, 0.0};
    // A chosen limit at or below -8.5 gives exactly 0, without integrating: the
    // correlation of 1 with the chosen coordinate would make the integrand undefined.
    const double singular[3] = {1.0, 0.0, 0.0};
    for (double low : {-8.5, -9.0, -40.0}) {
        const double l[3] = {low, 0.3, -0.2};
        EXPECT_EQ(tvnd(l, singular, epsi), 0.0) << low;
        EXPECT_EQ(tvnd(l, zero, epsi), 0.0) << low;
    }
    // A chosen limit at or above 8.5 leaves the bivariate lower probability of the others.
    for (double high : {8.5, 9.0, 40.0}) {
        const double l[3] = {0.3, high, -0.2};
        const double c[3] = {1.0, 0.4, 0.0};
        const double nl1 = -l[0];
        const double nl3 = -l[2];
        EXPECT_EQ(tvnd(l, c, epsi), traz::bvnd(nl1, nl3, c[1])) << high;
    }
    const double l9[3] = {9.0, 0.0, 0.0};
    EXPECT_EQ(tvnd(l9, zero, epsi), 0.25);
    EXPECT_NEAR(tvnd(zero, zero, epsi), 0.125, epsi);
}

// The integration coordinate is the one with the largest absolute limit; ties go to
// coordinate 2, then 3, then 1. trvbkd shows which one was taken.
TEST(Tvnd, IntegrationCoordinateChoice)
{
    const double epsi = 1.0e-4;
    const double r21 = 0.1;
    const double r31 = 0.2;
    const double r32 = 0.4;
    const double c[3] = {r21, r31, r32};
    auto check = [&](const double (&l)[3], double rha, double rhb, const char* what) {
        tvnd(l, c, epsi);
        EXPECT_NEAR(traz::trvbkd.ra, rha / std::sqrt(1.0 - rha * rha), 1e-15) << what;
        EXPECT_NEAR(traz::trvbkd.rb, rhb / std::sqrt(1.0 - rhb * rhb), 1e-15) << what;
    };
    const double all_tied[3] = {-1.0, -1.0, 1.0};
    check(all_tied, r21, r32, "all tied: coordinate 2");
    const double tied12[3] = {-1.5, 1.5, 0.5};
    check(tied12, -r21, -r32, "1 and 2 tied: coordinate 2, complement");
    const double tied13[3] = {-1.5, 0.5, -1.5};
    check(tied13, r32, r31, "1 and 3 tied: coordinate 3");
    const double first[3] = {-2.0, 1.5, 0.5};
    check(first, r21, r31, "coordinate 1 largest");

    // The result does not depend on the choice beyond the requested accuracy.
    const double tight = 1.0e-10;
    const double l[3] = {-0.7, 0.7, -0.7};
    const double p = tvnd(l, c, tight);
    const double lp[3] = {0.7, -0.7, -0.7}; // coordinates 1 and 2 exchanged: r31 <-> r32
    const double cp[3] = {r21, r32, r31};
    EXPECT_NEAR(tvnd(lp, cp, tight), p, 2.0 * tight);
}

// 1 - r^2 is formed as (1 - r)(1 + r) from |r| = 1/2 on.
TEST(Tvnd, ConditionalVarianceForm)
{
    const double epsi = 1.0e-4;
    const double l[3] = {-2.0, 0.5, 0.25};
    for (double r : {0.8, -0.8, 0.15, 0.508, -0.515, 0.492}) {
        const double c[3] = {r, 0.1, 0.0};
        const double product = r / std::sqrt((1.0 - r) * (1.0 + r));
        const double square = r / std::sqrt(1.0 - r * r);
        ASSERT_NE(product, square) << "r = " << r << " does not tell the forms apart";
        tvnd(l, c, epsi);
        EXPECT_EQ(traz::trvbkd.ra, 2.0 * std::fabs(r) >= 1.0 ? product : square) << r;
    }
}

// The integrand is the density times the conditional bivariate probability, with the
// bivariate rule prepared for the conditional correlation of the last integration.
TEST(Tvnd, IntegrandIsConditionalProbability)
{
    const double epsi = 1.0e-4;
    const double c[3] = {0.35, -0.6, 0.8};
    const double cases[2][3] = {{-0.4, 1.2, 0.3}, {2.5, 0.1, -1.0}};
    for (const auto& l : cases) {
        tvnd(l, c, epsi);
        const auto& blk = traz::trvbkd;
        for (double t : {-8.0, -1.3, 0.0, 0.7}) {
            const double h = t * blk.ra - blk.la;
            const double k = t * blk.rb - blk.lb;
            EXPECT_EQ(traz::trvfnd(t), std::exp(-(t * t * 0.5)) * traz::bvnd(h, k, blk.rho)) << t;
        }
    }
}

TEST(Krnrdd, ExactOnPolynomials)
{
    const double a = -0.75;
    const double b = 1.5;
    for (degree = 0; degree <= 34; ++degree) {
        double abserr = -1.0;
        calls = 0;
        const double q = krnrdd(a, b, monomial, abserr);
        EXPECT_EQ(calls, 23);
        const double exact = monomial_integral(a, b, degree);
        EXPECT_LT(std::fabs(q - exact) / std::fabs(exact), 5e-14) << "Kronrod, degree " << degree;
        // abserr is three times the Kronrod-Gauss difference: near 0 while the embedded
        // Gauss rule is exact, clearly not from degree 22 on.
        if (degree <= 21) {
            EXPECT_LT(abserr, 1e-13 * std::max(1.0, std::fabs(exact))) << "Gauss, degree " << degree;
        } else {
            EXPECT_GT(abserr, 1e-9 * std::fabs(exact)) << "Gauss, degree " << degree;
        }
    }
    // Degree 36 is beyond the rule.
    degree = 36;
    double abserr = 0.0;
    const double m1 = -1.0;
    const double p1 = 1.0;
    const double q = krnrdd(m1, p1, monomial, abserr);
    EXPECT_GT(std::fabs(q - 2.0 / 37.0) * 37.0 / 2.0, 1e-12);
}

TEST(Krnrdd, TablesAreSymmetricRulesOnTheInterval)
{
    using namespace traz::krnrdd_rules;
    EXPECT_EQ(xgk[0], 0.0);
    EXPECT_EQ(wg[6], 0.0);
    double kronrod = wgk[0];
    double gauss = wg[0];
    for (int j = 1; j <= 11; ++j) {
        EXPECT_LT(xgk[j], j == 1 ? 1.0 : xgk[j - 1]) << j;
        EXPECT_GT(wgk[j], 0.0) << j;
        kronrod += 2.0 * wgk[j];
        if (j % 2 == 0) {
            gauss += 2.0 * wg[j / 2];
        }
    }
    EXPECT_NEAR(kronrod, 2.0, 1e-14);
    EXPECT_NEAR(gauss, 2.0, 1e-14);
}

TEST(Adoned, PolynomialStopsAfterFirstBisection)
{
    const double a = -2.0;
    const double b = 3.0;
    for (degree = 0; degree <= 21; degree += 3) {
        const double exact = monomial_integral(a, b, degree);
        const double tol = 1e-11 * std::max(1.0, std::fabs(exact)); // rounding level
        calls = 0;
        const double q = traz::adoned(monomial, a, b, tol);
        EXPECT_EQ(calls, 3 * 23) << degree;
        EXPECT_NEAR(q, exact, 1e-13 * std::max(1.0, std::fabs(exact))) << degree;
    }
}

double nothing(const double&)
{
    ++calls;
    return 0.0;
}

// An integrand that the rule gets exactly, with error 0, meets even a tolerance of 0.
TEST(Adoned, ZeroErrorMeetsZeroTolerance)
{
    const double a = -8.5;
    const double b = 1.0;
    const double zero = 0.0;
    calls = 0;
    EXPECT_EQ(traz::adoned(nothing, a, b, zero), 0.0);
    EXPECT_EQ(calls, 3 * 23);
    calls = 0;
    EXPECT_EQ(traz::adoned(nothing, a, a, zero), 0.0);
    EXPECT_EQ(calls, 3 * 23);
}

TEST(Adoned, MeetsToleranceAndStopsAtHundredIntervals)
{
    const double a = -8.5;
    const double b = 2.0;
    // Against a run at a tolerance far below the ones checked.
    calls = 0;
    const double reference = traz::adoned(smooth, a, b, 1.0e-15);
    const long capped_calls = calls;
    EXPECT_LE(capped_calls, 199 * 23);
    for (double tol : {1.0e-4, 1.0e-8, 1.0e-12}) {
        calls = 0;
        const double q = traz::adoned(smooth, a, b, tol);
        EXPECT_NEAR(q, reference, tol) << tol;
        EXPECT_LE(calls, capped_calls);
    }
    // A tolerance of 0 cannot be met: the integrator stops at its 100 subintervals.
    calls = 0;
    const double zero = 0.0;
    const double q = traz::adoned(smooth, a, b, zero);
    EXPECT_EQ(calls, 199 * 23);
    EXPECT_NEAR(q, reference, 1e-14);
}

} // namespace
