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

// Phi(z) in extended precision, accurate far beyond the routine under test.
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
        EXPECT_NEAR(phid(z), row.num("phi"), 3e-16) << row.id() << " z = " << z;
        EXPECT_NEAR(phid(nz), row.num("phi_complement"), 3e-16) << row.id() << " z = " << z;
    }
}

TEST(Phid, ExactValues)
{
    const double zero = 0.0;
    const double nzero = -0.0;
    EXPECT_EQ(phid(zero), 0.5);
    EXPECT_EQ(phid(nzero), 0.5);
    for (double z : {-37.000001, -38.0, -1.0e300, -HUGE_VAL}) {
        EXPECT_EQ(phid(z), 0.0) << z;
        const double nz = -z;
        EXPECT_EQ(phid(nz), 1.0) << nz;
    }
    // +-37 itself is still computed: a positive value, close to the true tail.
    const double m37 = -37.0;
    EXPECT_GT(phid(m37), 0.0);
    EXPECT_NEAR(phid(m37) / static_cast<double>(phi_extended(m37)), 1.0, 1e-12);
}

// 10/sqrt(2) as stored takes the continued fraction: the value jumps between the double
// below and the branch point, and is continuous from the branch point upwards.
TEST(Phid, BranchPointTakesContinuedFraction)
{
    const double c = -7.071067811865475;
    const double inside = std::nextafter(c, 0.0);
    const double outside = std::nextafter(c, -10.0);
    const double at = phid(c);
    EXPECT_GT(std::fabs(phid(inside) - at) / at, 1e-9);
    EXPECT_LT(std::fabs(phid(outside) - at) / at, 1e-14);
}

// The lower tail keeps a relative accuracy of 1e-8 everywhere (worst near z = -7.8,
// where the rational approximation hands over to the continued fraction), and near
// machine precision in the body of the distribution.
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
    RecordProperty("largest_relative_error", std::to_string(worst));
    EXPECT_LT(worst, 1.0e-8);
    EXPECT_GT(worst_z, -8.5);
    EXPECT_LT(worst_z, -7.0);
    EXPECT_LT(worst_body, 2e-15);
}

TEST(Phid, Symmetry)
{
    for (double z = 0.0; z < 9.0; z += 0.37) {
        const double nz = -z;
        EXPECT_NEAR(phid(z) + phid(nz), 1.0, 2e-16) << z;
    }
}

class G01hbt : public ::testing::Test {
protected:
    double err = -1.0;
    int ifail = 77;
    double prob = -1.0;

    void call(int nd, const double* a, const double* c)
    {
        err = -1.0;
        ifail = 77;
        g01hbt(nd, a, a, c, err, ifail, prob);
        EXPECT_EQ(err, 1.0e-8) << "nd = " << nd;
        EXPECT_EQ(ifail, 0) << "nd = " << nd;
    }
};

TEST_F(G01hbt, OneDimensionIsUpperTail)
{
    const double c[6] = {0.3, 0.2, 0.1, 0.4, 0.5, 0.6};
    const double zero[1] = {0.0};
    call(1, zero, c);
    EXPECT_EQ(prob, 0.5);
    for (double a1 : {-3.0, -0.5, 1.25, 8.0}) {
        const double a[7] = {a1, 0.7, -0.2, 1.1, 0.4, -2.0, 0.9};
        const double upper = phid(-a1);
        EXPECT_NEAR(upper, 1.0 - static_cast<double>(phi_extended(a1)), 1e-15);
        for (int nd : {1, 5, 6, 7}) {
            call(nd, a, c);
            EXPECT_EQ(prob, upper) << "nd = " << nd << " a1 = " << a1;
        }
    }
}

TEST_F(G01hbt, NoDimensionIsCertain)
{
    const double a[1] = {2.0};
    const double c[1] = {0.0};
    call(0, a, c);
    EXPECT_EQ(prob, 1.0);
}

TEST_F(G01hbt, HigherDimensionsUseTheirRoutines)
{
    const double a[4] = {0.4, -1.1, 0.75, -0.2};
    const double c[6] = {0.3, -0.2, 0.45, 0.1, 0.25, -0.35};

    call(2, a, c);
    EXPECT_EQ(prob, traz::bvnd(a[0], a[1], c[0]));
    const double r = 0.0;
    call(2, a, &r);
    EXPECT_EQ(prob, phid(-a[0]) * phid(-a[1]));

    const double l3[3] = {-a[0], -a[1], -a[2]};
    const double epsi = 1.0e-4;
    call(3, a, c);
    EXPECT_EQ(prob, traz::tvnd(l3, c, epsi));

    const double l4[4] = {-a[0], -a[1], -a[2], -a[3]};
    call(4, a, c);
    EXPECT_EQ(prob, traz::qvnd(l4, c, epsi));
}

TEST_F(G01hbt, ZeroLimitsZeroCorrelations)
{
    const double a[4] = {0.0, 0.0, 0.0, 0.0};
    const double c[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    call(2, a, c);
    EXPECT_EQ(prob, 0.25);
    call(3, a, c);
    EXPECT_NEAR(prob, 0.125, 1e-4);
    call(4, a, c);
    EXPECT_NEAR(prob, 0.0625, 1e-4);
}

} // namespace
