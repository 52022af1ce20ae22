// Accuracy on smooth integrands with known integrals in two and three dimensions: the
// requested relative accuracy is met and the reported error bounds the true error.
#include "counting.hpp"
#include "cubature/dcuhre.hpp"
#include "families.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace traz {
namespace {

using testing::Family;

// This system's work array.
std::vector<double>& store()
{
    static std::vector<double> work(5000000);
    return work;
}

struct Outcome {
    double result, abserr;
    int neval, ifail;
};

Outcome integrate(const Family& f, double epsrel, int key)
{
    testing::family = f;
    testing::setIntegrand([](int n, const double* x, int numfun, double* v) {
        testing::familyIntegrand(n, const_cast<double*>(x), numfun, v);
    });
    double a[3], b[3];
    for (int i = 0; i < f.ndim; ++i) {
        a[i] = f.lo;
        b[i] = f.hi;
    }
    Outcome o{};
    o.ifail = -1;
    dcuhre(f.ndim, 1, a, b, 0, 4000000, testing::counted, 0.0, epsrel, key,
           int(store().size()), 0, &o.result, &o.abserr, o.neval, o.ifail, store().data());
    EXPECT_EQ(testing::counter.calls, o.neval);
    return o;
}

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
    const Family f = GetParam();
    const double exact = f.integral();
    for (double epsrel : {1e-3, 1e-5, 1e-7, 1e-9}) {
        for (int key : {0, f.ndim == 2 ? 3 : 4}) {
            if (key != 0 && epsrel < 1e-7)
                continue; // the low-degree rules need more than the budget there
            const Outcome o = integrate(f, epsrel, key);
            const double trueerr = std::fabs(o.result - exact);
            EXPECT_EQ(o.ifail, 0) << f.name() << " eps " << epsrel << " key " << key;
            EXPECT_LE(o.abserr, epsrel * std::fabs(o.result)) << f.name() << " eps " << epsrel;
            EXPECT_LE(trueerr, o.abserr) << f.name() << " eps " << epsrel << " key " << key;
            EXPECT_LE(trueerr, epsrel * std::fabs(exact)) << f.name() << " eps " << epsrel;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, Accuracy, ::testing::ValuesIn(families));

TEST(Accuracy, TighterToleranceNeverCostsFewerEvaluations)
{
    int previous = 0;
    for (double epsrel : {1e-2, 1e-4, 1e-6, 1e-8, 1e-10}) {
        const Outcome o = integrate(families[3], epsrel, 0);
        EXPECT_GE(o.neval, previous);
        previous = o.neval;
    }
}

TEST(Accuracy, FamiliesIntegralsByProductRule)
{
    // The closed forms themselves, against a 400 x 400 midpoint product rule in 2-D.
    for (const Family& f : families) {
        if (f.ndim != 2)
            continue;
        const int m = 400;
        const double h = (f.hi - f.lo) / m;
        double s = 0;
        for (int i = 0; i < m; ++i) {
            for (int j = 0; j < m; ++j) {
                const double x[2] = {f.lo + (i + 0.5) * h, f.lo + (j + 0.5) * h};
                s += f.value(x);
            }
        }
        s *= h * h;
        EXPECT_NEAR(s, f.integral(), 1e-4 * std::fabs(f.integral())) << f.name();
    }
}

} // namespace
} // namespace traz
