// Quadrivariate normal probability qvnd.
#include "mvn/mvn.hpp"
#include "mvn/qvnd.hpp"
#include "reference_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>

namespace {

using traz::qvnd;

long calls = 0;
double nothing(const double&)
{
    ++calls;
    return 0.0;
}
double cubic(const double& x)
{
    ++calls;
    return ((x - 1.0) * x + 2.0) * x;
}
double smooth(const double& x)
{
    ++calls;
    return std::exp(-x * x * 0.5) * std::cos(3.0 * x);
}

// adone, the outer integrator, behaves exactly like adoned.
TEST(Adone, StoppingRules)
{
    const double a = -8.5;
    const double b = 1.0;
    const double zero = 0.0;
    calls = 0;
    EXPECT_EQ(traz::adone(nothing, a, b, zero), 0.0);
    EXPECT_EQ(calls, 3 * 23);

    const double tol = 1.0e-9;
    calls = 0;
    const double exact = (std::pow(b, 4) - std::pow(a, 4)) / 4.0 - (std::pow(b, 3) - std::pow(a, 3)) / 3.0
                         + (b * b - a * a);
    EXPECT_NEAR(traz::adone(cubic, a, b, tol), exact, 1e-11);
    EXPECT_EQ(calls, 3 * 23);

    for (double t : {1.0e-4, 1.0e-10, 0.0}) {
        calls = 0;
        const double q = traz::adone(smooth, a, b, t);
        const double same = traz::adoned(smooth, a, b, t);
        EXPECT_EQ(q, same) << t;
        EXPECT_LE(calls, 2 * 199 * 23) << t;
    }
    calls = 0;
    traz::adone(smooth, a, b, zero);
    EXPECT_EQ(calls, 199 * 23);
}

TEST(Qvnd, AgreesWithReferenceTableThroughDispatcher)
{
    const auto rows = traz::test::read_reference("mvn-quadrivariate.csv");
    ASSERT_EQ(rows.size(), 30u);
    const int nd = 4;
    double worst = 0.0;
    for (const auto& row : rows) {
        // Lower probabilities in the table; the dispatcher's upper ones at negated limits.
        const double a[4] = {-row.num("L1"), -row.num("L2"), -row.num("L3"), -row.num("L4")};
        const double c[6] = {row.num("r21"), row.num("r31"), row.num("r32"),
                             row.num("r41"), row.num("r42"), row.num("r43")};
        double err = 0.0;
        int ifail = 1;
        double p = -1.0;
        traz::g01hbt(nd, a, a, c, err, ifail, p);
        EXPECT_NEAR(p, row.num("p"), 1.0e-4) << row.id() << " " << row.text.at("regime");
        worst = std::max(worst, std::fabs(p - row.num("p")));
    }
    std::printf("qvnd at 1e-4: largest absolute error %.3e\n", worst);
}

TEST(Qvnd, AgreesWithReferenceTableAtHighAccuracy)
{
    const auto rows = traz::test::read_reference("mvn-quadrivariate.csv");
    const double epsi = 1.0e-9;
    double worst = 0.0;
    for (const auto& row : rows) {
        const double l[4] = {row.num("L1"), row.num("L2"), row.num("L3"), row.num("L4")};
        const double c[6] = {row.num("r21"), row.num("r31"), row.num("r32"),
                             row.num("r41"), row.num("r42"), row.num("r43")};
        const double p = qvnd(l, c, epsi);
        EXPECT_NEAR(p, row.num("p"), epsi) << row.id() << " " << row.text.at("regime");
        worst = std::max(worst, std::fabs(p - row.num("p")));
    }
    std::printf("qvnd at 1e-9: largest absolute error %.3e\n", worst);
}

TEST(Qvnd, SpecialLimits)
{
    const double epsi = 1.0e-4;
    const double zero[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    EXPECT_NEAR(qvnd(zero, zero, epsi), 0.0625, epsi);

    // L1 = -8.5 leaves an empty interval: exactly 0.
    const double c[6] = {0.3, -0.2, 0.45, 0.1, 0.25, -0.35};
    const double l[4] = {-8.5, 1.0, 0.5, 2.0};
    EXPECT_EQ(qvnd(l, c, epsi), 0.0);

    // A large first limit: the trivariate probability of coordinates 2 to 4, whose
    // correlations are r32, r42, r43.
    const double big[4] = {9.0, 0.4, -0.3, 1.1};
    const double c234[3] = {c[2], c[4], c[5]};
    const double tight = 1.0e-9;
    EXPECT_NEAR(qvnd(big, c, epsi), traz::tvnd(big + 1, c234, tight), 2.0 * epsi);
}

// Coordinate 1 is always the one integrated, but the result does not depend on the order
// of coordinates 2 to 4 beyond the requested accuracy.
TEST(Qvnd, OrderOfLaterCoordinates)
{
    const double epsi = 1.0e-6;
    const double l[4] = {0.3, -0.4, 1.2, 0.1};
    // r21, r31, r32, r41, r42, r43
    const double c[6] = {0.5, 0.2, 0.3, -0.1, 0.4, 0.25};
    const double p = qvnd(l, c, epsi);
    // Coordinates 2 and 4 exchanged: new r21 = r41, r31 = r31, r32 = r43, r41 = r21,
    // r42 = r42, r43 = r32.
    const double l24[4] = {l[0], l[3], l[2], l[1]};
    const double c24[6] = {c[3], c[1], c[5], c[0], c[4], c[2]};
    EXPECT_NEAR(qvnd(l24, c24, epsi), p, 2.0 * epsi);
    // Coordinates 2 and 3 exchanged: r21 <-> r31, r42 <-> r43.
    const double l23[4] = {l[0], l[2], l[1], l[3]};
    const double c23[6] = {c[1], c[0], c[2], c[3], c[5], c[4]};
    EXPECT_NEAR(qvnd(l23, c23, epsi), p, 2.0 * epsi);
    // Independent first coordinate: the product with Phi(L1).
    const double ci[6] = {0.0, 0.0, 0.3, 0.0, 0.4, 0.25};
    const double c234[3] = {ci[2], ci[4], ci[5]};
    const double tight = 1.0e-10;
    EXPECT_NEAR(qvnd(l, ci, epsi), traz::phid(l[0]) * traz::tvnd(l + 1, c234, tight), 2.0 * epsi);
}

TEST(Qvnd, ConditionalCorrelationsInBlock)
{
    const double epsi = 1.0e-4;
    const double l[4] = {-1.0, 0.4, -0.3, 1.1};
    const double c[6] = {0.6, 0.2, 0.3, -0.1, 0.4, 0.25};
    qvnd(l, c, epsi);
    const double u2 = std::sqrt(1.0 - 0.36);
    const double u3 = std::sqrt(1.0 - 0.04);
    const double u4 = std::sqrt(1.0 - 0.01);
    EXPECT_NEAR(traz::wdqbk.y[0], 0.4 / u2, 1e-15);
    EXPECT_NEAR(traz::wdqbk.y[2], 1.1 / u4, 1e-15);
    EXPECT_NEAR(traz::wdqbk.sig[0], (0.3 - 0.2 * 0.6) / (u2 * u3), 1e-15);
    EXPECT_NEAR(traz::wdqbk.sig[1], (0.4 + 0.1 * 0.6) / (u2 * u4), 1e-15);
    EXPECT_NEAR(traz::wdqbk.sig[2], (0.25 + 0.1 * 0.2) / (u3 * u4), 1e-15);
    EXPECT_NEAR(traz::wdqbk.c[1], 0.2 / u3, 1e-15);
}

} // namespace
