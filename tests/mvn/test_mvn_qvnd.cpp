// Quadrivariate normal probability qvnd and its integrator adone.
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
double smooth(const double& x)
{
    ++calls;
    return std::exp(-x * x * 0.5) * std::cos(3.0 * x);
}

TEST(Qvnd, AgreesWithReferenceTable)
{
    const auto [worst4, worst9] = traz::test::check_lower_orthant(
        "mvn-quadrivariate.csv", 4, 30u, [](const double* l, const double* c, double e) { return qvnd(l, c, e); });
    std::printf("qvnd: largest absolute error %.3e at 1e-4, %.3e at 1e-9\n", worst4, worst9);
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

    // A large first limit leaves the trivariate probability of coordinates 2 to 4.
    const double big[4] = {9.0, 0.4, -0.3, 1.1};
    const double c234[3] = {c[2], c[4], c[5]};
    EXPECT_NEAR(qvnd(big, c, epsi), traz::tvnd(big + 1, c234, 1.0e-9), 2.0 * epsi);
}

// Coordinate 1 is always the one integrated; the order of coordinates 2 to 4 matters only
// within the requested accuracy, and an independent first coordinate factors out.
TEST(Qvnd, CoordinateOrder)
{
    const double epsi = 1.0e-6;
    const double l[4] = {0.3, -0.4, 1.2, 0.1};
    const double c[6] = {0.5, 0.2, 0.3, -0.1, 0.4, 0.25}; // r21, r31, r32, r41, r42, r43
    const double l24[4] = {l[0], l[3], l[2], l[1]};        // coordinates 2 and 4 exchanged
    const double c24[6] = {c[3], c[1], c[5], c[0], c[4], c[2]};
    EXPECT_NEAR(qvnd(l24, c24, epsi), qvnd(l, c, epsi), 2.0 * epsi);

    const double ci[6] = {0.0, 0.0, 0.3, 0.0, 0.4, 0.25};
    const double c234[3] = {ci[2], ci[4], ci[5]};
    EXPECT_NEAR(qvnd(l, ci, epsi), traz::phid(l[0]) * traz::tvnd(l + 1, c234, 1.0e-10), 2.0 * epsi);
}

// adone is a copy of adoned: the same results and the same stopping rules.
TEST(Adone, SameAsAdoned)
{
    const double a = -8.5;
    const double b = 1.0;
    const double zero = 0.0;
    calls = 0;
    EXPECT_EQ(traz::adone(nothing, a, b, zero), 0.0);
    EXPECT_EQ(calls, 3 * 23);
    for (double tol : {1.0e-4, 1.0e-10, 0.0}) {
        calls = 0;
        const double q = traz::adone(smooth, a, b, tol);
        const long used = calls;
        calls = 0;
        EXPECT_EQ(q, traz::adoned(smooth, a, b, tol)) << tol;
        EXPECT_EQ(used, calls) << tol;
    }
    EXPECT_EQ(calls, 199 * 23);
}

} // namespace
