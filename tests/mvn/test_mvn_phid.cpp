// phid and the dispatcher g01hbt.
#include "mvn/mvn.hpp"
#include "reference_table.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <initializer_list>

namespace {

using traz::g01hbt;
using traz::phid;

// Phi(z) in extended precision, far more accurate than the routine under test.
long double phi_extended(double z)
{
    return std::erfc(-static_cast<long double>(z) / std::sqrt(2.0L)) / 2.0L;
}

TEST(Phid, AgreesWithReferenceTable)
{
    const auto rows = traz::test::read_reference("normal-cdf.csv");
    ASSERT_EQ(rows.size(), 98u);
    for (const auto& row : rows) {
        const double z = row.num("z");
        const double nz = -z;
        EXPECT_NEAR(phid(z), row.num("phi"), 3e-16) << row.what();
        EXPECT_NEAR(phid(nz), row.num("phi_complement"), 3e-16) << row.what();
    }
}

TEST(Phid, ExactValuesAndBranches)
{
    const double zero = 0.0;
    EXPECT_EQ(phid(zero), 0.5);
    for (double z : {-37.000001, -38.0, -HUGE_VAL}) {
        const double nz = -z;
        EXPECT_EQ(phid(z), 0.0) << z;
        EXPECT_EQ(phid(nz), 1.0) << z;
    }
    const double m37 = -37.0; // still computed
    EXPECT_NEAR(phid(m37) / static_cast<double>(phi_extended(m37)), 1.0, 1e-12);

    // 10/sqrt(2) as stored takes the continued fraction: the value jumps between the
    // double below and the branch point, and is continuous from there on.
    const double c = -7.071067811865475;
    const double inside = std::nextafter(c, 0.0);
    const double outside = std::nextafter(c, -10.0);
    EXPECT_GT(std::fabs(phid(inside) - phid(c)) / phid(c), 1e-9);
    EXPECT_LT(std::fabs(phid(outside) - phid(c)) / phid(c), 1e-14);
}

// Relative accuracy in the lower tail: at worst 1e-8 (near z = -7.8, where the rational
// approximation hands over to the continued fraction), near machine precision on [-2, 0].
TEST(Phid, LowerTailRelativeError)
{
    double worst = 0.0;
    double worst_z = 0.0;
    double worst_body = 0.0;
    for (int i = 0; i <= 37000; ++i) {
        const double z = -0.001 * i;
        const long double exact = phi_extended(z);
        const double rel = static_cast<double>(std::fabs((phid(z) - exact) / exact));
        if (rel > worst) {
            worst = rel;
            worst_z = z;
        }
        if (z >= -2.0 && rel > worst_body) {
            worst_body = rel;
        }
    }
    std::printf("phid lower tail: largest relative error %.3e at z = %.3f; %.3e on [-2, 0]\n",
                worst, worst_z, worst_body);
    EXPECT_LT(worst, 1.0e-8);
    EXPECT_GT(worst_z, -8.5);
    EXPECT_LT(worst_z, -7.0);
    EXPECT_LT(worst_body, 2e-15);
}

// Calls g01hbt with the status outputs preset to garbage; they must come back set.
double dispatch(int nd, const double* a, const double* c)
{
    double err = -1.0;
    int ifail = 77;
    double prob = -1.0;
    g01hbt(nd, a, a, c, err, ifail, prob);
    EXPECT_EQ(err, 1.0e-8) << "nd = " << nd;
    EXPECT_EQ(ifail, 0) << "nd = " << nd;
    return prob;
}

TEST(G01hbt, OneDimensionIsUpperTail)
{
    const double c[6] = {0.3, 0.2, 0.1, 0.4, 0.5, 0.6};
    for (double a1 : {-3.0, 0.0, 1.25, 8.0}) {
        const double a[7] = {a1, 0.7, -0.2, 1.1, 0.4, -2.0, 0.9};
        const double upper = 1.0 - static_cast<double>(phi_extended(a1));
        // Dimensions 5 and up are served as dimension 1; 7 must not overrun the copy.
        for (int nd : {1, 5, 6, 7}) {
            EXPECT_NEAR(dispatch(nd, a, c), upper, 1e-15) << "nd = " << nd << " a1 = " << a1;
        }
    }
    EXPECT_EQ(dispatch(1, c, c), phid(-c[0]));
    EXPECT_EQ(dispatch(0, c, c), 1.0); // no coordinate at all
}

TEST(G01hbt, HigherDimensions)
{
    const double a[4] = {0.4, -1.1, 0.75, -0.2};
    const double c[6] = {0.3, -0.2, 0.45, 0.1, 0.25, -0.35};
    const double epsi = 1.0e-4;
    EXPECT_EQ(dispatch(2, a, c), traz::bvnd(a[0], a[1], c[0]));
    const double l3[3] = {-a[0], -a[1], -a[2]};
    EXPECT_EQ(dispatch(3, a, c), traz::tvnd(l3, c, epsi));
    const double l4[4] = {-a[0], -a[1], -a[2], -a[3]};
    EXPECT_EQ(dispatch(4, a, c), traz::qvnd(l4, c, epsi));

    const double zero[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    EXPECT_EQ(dispatch(2, zero, zero), 0.25);
    EXPECT_NEAR(dispatch(3, zero, zero), 0.125, epsi);
    EXPECT_NEAR(dispatch(4, zero, zero), 0.0625, epsi);
}

} // namespace
