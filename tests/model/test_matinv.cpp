// Packed Cholesky inverse: values, layout and the parts of the array it must not touch.
#include "model/model.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

using traz::matinv;

double& at(double* c, int ld, int i, int j) { return c[(i - 1) + ld * (j - 1)]; }

TEST(Matinv, ClosedForms)
{
    int ier = 7;
    double c1 = 4.0;
    matinv(&c1, 1, 1, ier);
    EXPECT_EQ(ier, 0);
    EXPECT_DOUBLE_EQ(c1, 0.25);

    double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    matinv(id, 3, 3, ier);
    for (int p = 0; p < 9; ++p)
        EXPECT_EQ(id[p], p % 4 == 0 ? 1.0 : 0.0) << p;

    // Correlation r: 1/(1 - r^2) times (1, -r; -r, 1).
    const double r = 0.6, s = 1.0 / (1.0 - r * r);
    double c2[4] = {1.0, r, r, 1.0};
    matinv(c2, 2, 2, ier);
    EXPECT_EQ(ier, 0);
    for (int p = 0; p < 4; ++p)
        EXPECT_NEAR(c2[p], p == 0 || p == 3 ? s : -r * s, 1e-14) << p;
}

TEST(Matinv, UpperTriangleIsIgnored)
{
    double sym[9] = {2.0, 0.5, 0.3, 0.5, 1.5, -0.2, 0.3, -0.2, 1.0};
    double junk[9];
    std::memcpy(junk, sym, sizeof sym);
    at(junk, 3, 1, 2) = 1e3;
    at(junk, 3, 1, 3) = -7.0;
    at(junk, 3, 2, 3) = NAN;
    int ier1 = 7, ier2 = 7;
    matinv(sym, 3, 3, ier1);
    matinv(junk, 3, 3, ier2);
    EXPECT_EQ(ier1, 0);
    EXPECT_EQ(ier2, 0);
    EXPECT_EQ(std::memcmp(sym, junk, sizeof sym), 0);
}

TEST(Matinv, LeadingBlockOnlyWithLargerLeadingDimension)
{
    double c[16];
    for (int p = 0; p < 16; ++p)
        c[p] = 100.0 + p;
    at(c, 4, 1, 1) = 1.0;
    at(c, 4, 2, 1) = 0.5;
    at(c, 4, 1, 2) = 0.5;
    at(c, 4, 2, 2) = 1.0;
    int ier = 7;
    matinv(c, 4, 2, ier);
    EXPECT_EQ(ier, 0);
    for (int j = 1; j <= 4; ++j)
        for (int i = 1; i <= 4; ++i)
            if (i > 2 || j > 2) {
                EXPECT_EQ(at(c, 4, i, j), 100.0 + (i - 1) + 4 * (j - 1)) << i << "," << j;
            }
    EXPECT_NEAR(at(c, 4, 1, 1), 4.0 / 3.0, 1e-14);
    EXPECT_NEAR(at(c, 4, 1, 2), -2.0 / 3.0, 1e-14);
}

TEST(Matinv, ThreeByThreeTimesInverseIsIdentity)
{
    const double a[9] = {4.0, 1.0, -0.5, 1.0, 3.0, 0.25, -0.5, 0.25, 2.0};
    double b[9];
    std::memcpy(b, a, sizeof a);
    int ier = 7;
    matinv(b, 3, 3, ier);
    EXPECT_EQ(ier, 0);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) {
            double s = 0.0;
            for (int l = 1; l <= 3; ++l)
                s += a[(i - 1) + 3 * (l - 1)] * b[(l - 1) + 3 * (j - 1)];
            EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-14) << i << "," << j;
            EXPECT_EQ(at(b, 3, i, j), at(b, 3, j, i));
        }
}

TEST(Matinv, NotPositiveDefiniteIsReported)
{
    // Correlation 1.2 between the second and third variables: no inverse.
    double c[9] = {1.0, 0.0, 0.0, 0.0, 1.0, 1.2, 0.0, 1.2, 1.0};
    int ier = 0;
    matinv(c, 3, 3, ier);
    EXPECT_EQ(ier, 3);
    for (double v : c)
        EXPECT_TRUE(std::isnan(v));
}

TEST(Matinv, OrderOutsideItsRangeLeavesArrayAlone)
{
    double c[16];
    for (int p = 0; p < 16; ++p)
        c[p] = p == 0 || p == 5 ? 1.0 : 0.0;
    double keep[16];
    std::memcpy(keep, c, sizeof c);
    int ier = 0;
    matinv(c, 4, 0, ier);
    EXPECT_EQ(ier, -1);
    matinv(c, 2, 3, ier); // order above the leading dimension
    EXPECT_EQ(ier, -1);
    double big[14 * 14] = {};
    matinv(big, 14, 14, ier); // packed area holds order 13 at most
    EXPECT_EQ(ier, -1);
    EXPECT_EQ(std::memcmp(c, keep, sizeof c), 0);
}

} // namespace
