// Accuracy on smooth integrands with known integrals in two and three dimensions: the
// requested relative accuracy is met and the reported error bounds the true error.
#include "counting.hpp"
#include "families.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace traz {
namespace {

using testing::Family;

const Family families[] = {
    {Family::gaussian, 2, 0, 1, {5, 3, 0}, {0.3, 0.7, 0}},
    {Family::gaussian, 3, 0, 1, {4, 6, 3}, {0.45, 0.2, 0.8}},
    {Family::gaussian, 2, -4.5, 4.5, {0.7071067811865476, 0.5, 0}, {0.8, -1.2, 0}},
    {Family::gaussian, 3, -4.5, 4.5, {0.7071067811865476, 1, 0.6}, {-0.5, 0.3, 1.5}},
    {Family::oscillatory, 2, 0, 1, {6, 4, 0}, {0.3, 0, 0}},
    {Family::oscillatory, 3, 0, 1, {3, 5, 2}, {0.6, 0, 0}},
    {Family::cornerpeak, 2, 0, 1, {2, 1.5, 0}, {0, 0, 0}},
    {Family::cornerpeak, 3, 0, 1, {1.2, 0.9, 0.7}, {0, 0, 0}},
};

class Accuracy : public ::testing::TestWithParam<Family> {};

TEST_P(Accuracy, ToleranceMetAndErrorBounded)
{
    static std::vector<double> work(5000000); // this system's work array
    const Family f = GetParam();
    testing::family = f;
    testing::setIntegrand([](int n, const double* x, int numfun, double* v) {
        testing::familyIntegrand(n, const_cast<double*>(x), numfun, v);
    });
    const double exact = f.integral();
    const double a[3] = {f.lo, f.lo, f.lo}, b[3] = {f.hi, f.hi, f.hi};
    for (double epsrel : {1e-3, 1e-5, 1e-7, 1e-9}) {
        // The system's rule, and the low-degree rule of the dimension where it can reach.
        for (int key : {0, f.ndim == 2 ? 3 : 4}) {
            if (key != 0 && epsrel < 1e-7)
                continue;
            SCOPED_TRACE(::testing::Message() << "eps " << epsrel << " key " << key);
            double result, abserr;
            int neval, ifail = -1;
            testing::counter.calls = 0;
            dcuhre(f.ndim, 1, a, b, 0, 4000000, testing::counted, 0.0, epsrel, key,
                   int(work.size()), 0, &result, &abserr, neval, ifail, work.data());
            EXPECT_EQ(ifail, 0);
            EXPECT_EQ(testing::counter.calls, neval);
            EXPECT_LE(abserr, epsrel * std::fabs(result));
            EXPECT_LE(std::fabs(result - exact), abserr);
            EXPECT_LE(std::fabs(result - exact), epsrel * std::fabs(exact));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, Accuracy, ::testing::ValuesIn(families));

} // namespace
} // namespace traz
