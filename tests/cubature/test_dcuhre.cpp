// The cubature driver: argument checks and status codes, budget and evaluation counts,
// reversed limits, the subregion store, restart, and the integrand's point.
#include "counting.hpp"
#include "rule_tables.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace traz {
namespace {

using testing::counted;
using testing::counter;
using testing::Points;
using testing::setIntegrand;

double gauss(const double* x)
{
    return std::exp(-(x[0] - 0.3) * (x[0] - 0.3) - 2 * (x[1] + 0.1) * (x[1] + 0.1));
}

void useGauss()
{
    setIntegrand([](int n, const double* x, int numfun, double* f) {
        for (int j = 0; j < numfun; ++j)
            f[j] = gauss(x) * (n == 3 ? std::cos(x[2]) : 1) * (j + 1);
    });
}

// One call of dcuhre with named arguments, from a valid two-dimensional problem. The
// outputs start as sentinels; work is sized nw unless set before.
struct Call {
    int ndim = 2, numfun = 1, minpts = 0, maxpts = 2000, key = 0, nw = 20000, restar = 0;
    double a[maxdim] = {-1, -1, -1}, b[maxdim] = {1, 1, 1};
    double epsabs = 0, epsrel = 1e-6;
    double result[64], abserr[64];
    int neval = -9, ifail = -1;
    std::vector<double> work;

    Call() { sentinels(); }
    void sentinels()
    {
        std::fill(result, result + 64, -7.0);
        std::fill(abserr, abserr + 64, -8.0);
        neval = -9;
    }
    int run()
    {
        if (work.empty())
            work.assign(std::max(nw, 1), -5.0);
        dcuhre(ndim, numfun, a, b, minpts, maxpts, counted, epsabs, epsrel, key, nw, restar,
               result, abserr, neval, ifail, work.data());
        return ifail;
    }
    int nsub() const { return int(work[nw - 1]); }
};

// A refused call writes nothing but ifail and never calls the integrand. A short work
// array stands in for a huge nw: a wrongly accepted call would overrun it.
void expectRefused(Call c, int code)
{
    useGauss();
    c.work.assign(std::min(std::max(c.nw, 1), 1 << 16), -5.0);
    c.sentinels();
    EXPECT_EQ(c.run(), code);
    EXPECT_TRUE(counter.calls == 0 && c.neval == -9 && c.result[0] == -7.0 && c.abserr[0] == -8.0);
    EXPECT_TRUE(std::all_of(c.work.begin(), c.work.end(), [](double v) { return v == -5.0; }));
}

TEST(DcuhreStatus, EachCheckAndTheFirstFailingOne)
{
    // Each case also breaks arguments checked later; the first failing check is reported.
    struct Fault {
        int code;
        std::function<void(Call&)> set;
    };
    const Fault faults[] = {
        {2, [](Call& c) { c.key = 7, c.ndim = 1; }},
        {2, [](Call& c) { c.key = -1; }},
        {3, [](Call& c) { c.ndim = 1, c.numfun = 0; }},
        {3, [](Call& c) { c.ndim = 16; }},
        {4, [](Call& c) { c.key = 1, c.ndim = 3, c.numfun = 0; }},
        {5, [](Call& c) { c.key = 2, c.maxpts = 1; }},
        {6, [](Call& c) { c.numfun = 0, c.b[1] = c.a[1]; }},
        {7, [](Call& c) { c.b[1] = c.a[1], c.maxpts = 1; }},
        {8, [](Call& c) { c.maxpts = 3 * 65 - 1, c.minpts = 100000; }},
        {8, [](Call& c) { c.maxpts = INT_MIN; }},
        {9, [](Call& c) { c.minpts = c.maxpts + 1, c.epsabs = c.epsrel = -1; }},
        {10, [](Call& c) { c.epsabs = c.epsrel = -1, c.nw = 10; }},
        // maxsub = (2000 - 65) div 130 + 1 = 15 records of 8, 17 of scratch, 1 count.
        {11, [](Call& c) { c.nw = 15 * 8 + 17 + 1 - 1, c.restar = 5; }},
        {11, [](Call& c) { c.nw = 0; }},
        // 16519105 records of 2*2 + 2*62 + 2 need 2147484705 doubles, beyond 32 bits,
        // where the requirement would wrap to a negative number and pass any nw.
        {11, [](Call& c) { c.numfun = 62, c.maxpts = INT_MAX, c.nw = 1000; }},
        {11, [](Call& c) { c.ndim = 3, c.numfun = 123, c.maxpts = INT_MAX, c.nw = 1000; }},
        {11, [](Call& c) { c.numfun = INT_MAX, c.nw = INT_MAX; }},
        {12, [](Call& c) { c.restar = 2; }},
        {12, [](Call& c) { c.restar = -1; }},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.code);
        Call c;
        f.set(c);
        expectRefused(c, f.code);
    }
}

TEST(DcuhreStatus, AcceptedAtTheLimits)
{
    useGauss();
    Call c;
    c.nw = 15 * 8 + 17 + 1; // exactly enough for maxsub = 15
    c.epsrel = 1e-14;
    EXPECT_EQ(c.run(), 1);
    EXPECT_EQ(c.nsub(), 15);               // the budget stop: s = maxsub
    EXPECT_EQ(c.neval, 65 * (2 * 15 - 1));
    Call d;
    d.epsabs = -1; // only one tolerance negative
    d.minpts = INT_MIN;
    EXPECT_EQ(d.run(), 0);
}

TEST(DcuhreStatus, LimitsOfThisSystemsWorkArray)
{
    // 5,000,000 doubles, one component: the budget ranges of two and three stages.
    static std::vector<double> work(5000000);
    for (const auto& [ndim, low, high] : {std::tuple{2, 195, 81249674}, {3, 381, 126999618}}) {
        for (const int maxpts : {low - 1, low, high, high + 1}) {
            useGauss();
            Call c;
            c.ndim = ndim;
            c.key = ndim == 2 ? 0 : 2;
            c.nw = 5000000;
            c.maxpts = maxpts;
            c.epsrel = 1e-3;
            c.work.swap(work);
            const int want = maxpts < low ? 8 : maxpts > high ? 11 : 0;
            EXPECT_EQ(c.run(), want) << "ndim " << ndim << " maxpts " << maxpts;
            c.work.swap(work);
        }
    }
}

TEST(DcuhreStatus, RestartWithoutAValidStoreIsRefused)
{
    for (double stored : {0.0, -3.0, 1e300, std::numeric_limits<double>::quiet_NaN()}) {
        useGauss();
        Call c;
        c.restar = 1;
        c.work.assign(c.nw, -5.0);
        c.work[c.nw - 1] = stored;
        EXPECT_EQ(c.run(), 12);
        EXPECT_TRUE(counter.calls == 0 && c.neval == -9);
    }
}

TEST(DcuhreBudget, RuleChoiceAndOneSubdivision)
{
    for (const auto& [key, ndim, num] : {std::tuple{0, 2, 65}, {0, 3, 127}, {0, 4, 153}, {1, 2, 65},
                                         {2, 3, 127}, {3, 2, 33}, {3, 3, 77}, {4, 2, 21}, {4, 5, 103}}) {
        useGauss();
        Call c;
        c.key = key;
        c.ndim = ndim;
        std::fill(c.a, c.a + ndim, -1.0);
        std::fill(c.b, c.b + ndim, 1.0);
        c.maxpts = 3 * num;
        c.epsrel = 1e-12;
        EXPECT_EQ(c.run(), 1) << "key " << key << " ndim " << ndim;
        EXPECT_TRUE(c.neval == 3 * num && counter.calls == 3 * num && c.nsub() == 2);
        c.maxpts = 3 * num - 1;
        expectRefused(c, 8);
    }
    // One subdivision that meets the tolerance ends with 0.
    setIntegrand([](int, const double* x, int, double* f) { f[0] = 1 + x[0] * x[1]; });
    Call c;
    c.maxpts = 3 * 65;
    EXPECT_EQ(c.run(), 0);
    EXPECT_EQ(c.neval, 195);
    EXPECT_NEAR(c.result[0], 4.0, 1e-14);
}

TEST(DcuhreBudget, EvaluationsFollowTheNumberOfRegions)
{
    for (double eps : {1e-3, 1e-7, 1e-10}) {
        useGauss();
        Call c;
        c.maxpts = 200000;
        c.epsrel = eps;
        EXPECT_EQ(c.run(), 0);
        EXPECT_EQ(c.neval, 65 * (2 * c.nsub() - 1));
        EXPECT_EQ(counter.calls, c.neval);
        EXPECT_LE(c.abserr[0], eps * std::fabs(c.result[0]));
    }
    // minpts keeps dividing after the tolerance is met: minsub = 37 + 1 + 1 = 39.
    useGauss();
    Call m;
    m.epsrel = 1e-2;
    m.minpts = 5000;
    m.maxpts = 100000;
    EXPECT_EQ(m.run(), 0);
    EXPECT_GE(m.nsub(), 39);
}

TEST(DcuhreSign, ReversedAxesChangeTheSign)
{
    useGauss();
    Call c, one, two;
    c.run();
    std::swap(one.a[0], one.b[0]);
    one.run();
    EXPECT_TRUE(one.result[0] == -c.result[0] && one.abserr[0] == c.abserr[0] && one.neval == c.neval);
    std::swap(two.a[0], two.b[0]);
    std::swap(two.a[1], two.b[1]);
    two.run();
    EXPECT_EQ(two.result[0], c.result[0]);
}

TEST(DcuhreStore, LayoutHeapAndTiling)
{
    for (int numfun : {1, 3}) {
        useGauss();
        Call c;
        c.numfun = numfun;
        c.a[0] = -2, c.b[0] = 3;
        c.epsrel = 1e-9;
        c.maxpts = 20000;
        ASSERT_EQ(c.run(), 0);
        // Sections: values, errors, centres, half-widths, keys, axes.
        const int wrksub = (c.nw - 1 - 17 * numfun) / (4 + 2 * numfun + 2);
        const double* values = c.work.data();
        const double* errors = values + numfun * wrksub;
        const double* centrs = errors + numfun * wrksub;
        const double* hwidts = centrs + 2 * wrksub;
        const double* greate = hwidts + 2 * wrksub;
        const double* dir = greate + wrksub;
        double volume = 0, sumv[3] = {}, sume[3] = {};
        for (int k = 1; k <= c.nsub(); ++k) {
            EXPECT_TRUE(k == 1 || greate[k / 2 - 1] >= greate[k - 1]) << "heap order at " << k;
            const double* e = errors + numfun * (k - 1);
            EXPECT_EQ(greate[k - 1], *std::max_element(e, e + numfun));
            EXPECT_TRUE(dir[k - 1] == 1 || dir[k - 1] == 2);
            for (int j = 0; j < numfun; ++j) {
                sumv[j] += values[numfun * (k - 1) + j];
                sume[j] += e[j];
            }
            double v = 1;
            for (int i = 0; i < 2; ++i) {
                const double cc = centrs[2 * (k - 1) + i], h = hwidts[2 * (k - 1) + i];
                EXPECT_TRUE(cc - h >= c.a[i] && cc + h <= c.b[i]);
                v *= 2 * h;
            }
            volume += v;
        }
        EXPECT_NEAR(volume, 10.0, 1e-12);
        for (int j = 0; j < numfun; ++j)
            EXPECT_TRUE(c.result[j] == sumv[j] && c.abserr[j] == sume[j]);
    }
}

TEST(DcuhreStore, FirstStepHalvesAndErrorCorrection)
{
    // The whole region, then the upper half along the division axis, then the lower half.
    static Points pts;
    pts.clear();
    setIntegrand([](int n, const double* x, int, double* f) {
        pts.emplace_back(x, x + n);
        f[0] = std::exp(x[0]) * std::cos(x[1]);
    });
    Call c;
    c.a[0] = 0, c.b[0] = 4, c.a[1] = 0, c.b[1] = 1;
    c.maxpts = 195;
    c.run();
    ASSERT_EQ(pts.size(), 195u);
    RuleTables t(1, 2);
    EXPECT_EQ(pts[0], (std::vector<double>{2, 0.5}));
    EXPECT_EQ(pts[1], (std::vector<double>{2 - 2 * t.g[2], 0.5})); // generator 2 on axis 1
    EXPECT_EQ(pts[65], (std::vector<double>{3, 0.5}));
    EXPECT_EQ(pts[130], (std::vector<double>{1, 0.5}));

    // The halves' errors widened by the disagreement with the parent's integral.
    auto eval = [&](double cx, double hx, double& val, double& err) {
        const double center[2] = {cx, 0.5}, hwidth[2] = {hx, 0.5};
        double x[2], null[8], direct;
        drlhre(2, center, hwidth, 14, t.g, t.w, t.errcof, 1, counted, t.scales, t.norms, x, null,
               &val, &err, direct);
    };
    double parent, perr, up, uerr, lo, lerr;
    eval(2, 2, parent, perr);
    eval(3, 1, up, uerr);
    eval(1, 1, lo, lerr);
    const double d = std::fabs(parent - (up + lo)), factor = 1 + 0.5 * d / (uerr + lerr);
    EXPECT_EQ(c.result[0], up + lo);
    EXPECT_NEAR(c.abserr[0], uerr * factor + lerr * factor + 0.5 * d, 1e-15 * c.abserr[0]);
    EXPECT_LE(std::fabs(c.result[0] - (std::exp(4.0) - 1) * std::sin(1.0)), c.abserr[0]);
}

TEST(DcuhreRestart, ContinuesAsAFreshCallWould)
{
    for (bool reversed : {false, true}) {
        useGauss();
        Call first, fresh;
        if (reversed)
            std::swap(first.a[1], first.b[1]), std::swap(fresh.a[1], fresh.b[1]);
        first.epsrel = 1e-4;
        first.maxpts = fresh.maxpts = 100000;
        ASSERT_EQ(first.run(), 0);
        Call more = first;
        more.restar = 1;
        more.epsrel = fresh.epsrel = 1e-11;
        useGauss();
        EXPECT_EQ(more.run(), 0);
        EXPECT_EQ(counter.calls, more.neval - first.neval);
        EXPECT_GT(more.neval, first.neval);
        fresh.run();
        EXPECT_TRUE(more.neval == fresh.neval && more.nsub() == fresh.nsub());
        EXPECT_NEAR(more.result[0], fresh.result[0], 1e-15 * std::fabs(fresh.result[0]));
        EXPECT_NEAR(more.abserr[0], fresh.abserr[0], 1e-12 * fresh.abserr[0]);
    }
    // After the budget ran out, a restart with a larger budget reaches the tolerance.
    useGauss();
    Call first;
    first.maxpts = 1000;
    first.epsrel = 1e-9;
    ASSERT_EQ(first.run(), 1);
    Call more = first;
    more.restar = 1;
    more.maxpts = 100000;
    EXPECT_EQ(more.run(), 0);
    EXPECT_LE(more.abserr[0], 1e-9 * std::fabs(more.result[0]));
}

TEST(DcuhreIntegrand, PointUsedAsScratchAndRestoredChangesNothing)
{
    useGauss();
    Call clean, scratched;
    clean.run();
    setIntegrand([](int n, const double* cx, int, double* f) {
        double* x = const_cast<double*>(cx);
        double saved[maxdim];
        std::copy(x, x + n, saved);
        std::fill(x, x + n, 1e300);
        std::copy(saved, saved + n, x);
        f[0] = gauss(x);
    });
    scratched.run();
    EXPECT_TRUE(scratched.result[0] == clean.result[0] && scratched.abserr[0] == clean.abserr[0]);
    EXPECT_EQ(scratched.neval, clean.neval);
}

} // namespace
} // namespace traz
