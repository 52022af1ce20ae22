// The cubature driver: argument checks and status codes, budget and evaluation counts,
// reversed limits, restart, the subregion store, and the integrand's point.
#include "counting.hpp"
#include "cubature/dcuhre.hpp"
#include "cubature/routines.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <vector>

namespace traz {
namespace {

using testing::counted;
using testing::counter;
using testing::setIntegrand;

double gauss2(const double* x)
{
    return std::exp(-(x[0] - 0.3) * (x[0] - 0.3) - 2 * (x[1] + 0.1) * (x[1] + 0.1));
}

void useGauss()
{
    setIntegrand([](int n, const double* x, int numfun, double* f) {
        double v = gauss2(x);
        if (n == 3)
            v *= std::cos(x[2]);
        for (int j = 0; j < numfun; ++j)
            f[j] = v * (j + 1);
    });
}

// One call of dcuhre with named arguments, starting from a valid two-dimensional problem.
struct Call {
    int ndim = 2, numfun = 1, minpts = 0, maxpts = 2000, key = 0, nw = 20000, restar = 0;
    double a[maxdim] = {-1, -1, -1}, b[maxdim] = {1, 1, 1};
    double epsabs = 0, epsrel = 1e-6;
    std::vector<double> result = std::vector<double>(64, -7.0);
    std::vector<double> abserr = std::vector<double>(64, -8.0);
    int neval = -9, ifail = -1;
    std::vector<double> work;

    int run()
    {
        if (work.empty())
            work.assign(std::max(nw, 1), -5.0);
        dcuhre(ndim, numfun, a, b, minpts, maxpts, counted, epsabs, epsrel, key, nw, restar,
               result.data(), abserr.data(), neval, ifail, work.data());
        return ifail;
    }
    int nsub() const { return int(work[nw - 1]); }
};

// A failing check writes nothing but ifail and never calls the integrand.
void expectRefused(Call& c, int code)
{
    useGauss();
    // A refused call must not touch work, so a short array stands in for a huge nw.
    c.work.assign(std::min(std::max(c.nw, 1), 1 << 16), -5.0);
    std::fill(c.result.begin(), c.result.end(), -7.0);
    std::fill(c.abserr.begin(), c.abserr.end(), -8.0);
    c.neval = -9;
    EXPECT_EQ(c.run(), code);
    EXPECT_EQ(counter.calls, 0);
    EXPECT_EQ(c.neval, -9);
    EXPECT_EQ(c.result[0], -7.0);
    EXPECT_EQ(c.abserr[0], -8.0);
    for (double v : c.work)
        ASSERT_EQ(v, -5.0);
}

TEST(DcuhreStatus, EachCheckAndTheFirstFailingOne)
{
    {
        Call c;
        c.key = 7;
        c.ndim = 1;
        expectRefused(c, 2);
        c.key = -1;
        c.ndim = 2;
        expectRefused(c, 2);
    }
    {
        Call c;
        c.ndim = 1;
        c.numfun = 0;
        expectRefused(c, 3);
        c.ndim = 16;
        expectRefused(c, 3);
    }
    {
        Call c;
        c.key = 1;
        c.ndim = 3;
        c.numfun = 0;
        expectRefused(c, 4);
    }
    {
        Call c;
        c.key = 2;
        c.ndim = 2;
        c.maxpts = 1;
        expectRefused(c, 5);
    }
    {
        Call c;
        c.numfun = 0;
        c.b[1] = c.a[1];
        expectRefused(c, 6);
    }
    {
        Call c;
        c.b[1] = c.a[1];
        c.maxpts = 1;
        expectRefused(c, 7);
    }
    {
        Call c;
        c.maxpts = 3 * 65 - 1;
        c.minpts = 100000;
        expectRefused(c, 8);
        c.maxpts = INT_MIN;
        expectRefused(c, 8);
    }
    {
        Call c;
        c.minpts = c.maxpts + 1;
        c.epsabs = -1;
        c.epsrel = -1;
        expectRefused(c, 9);
    }
    {
        Call c;
        c.epsabs = -1;
        c.epsrel = -1;
        c.nw = 10;
        expectRefused(c, 10);
    }
    {
        // maxsub = (2000 - 65) div 130 + 1 = 15 records of 8 doubles, 17 of scratch, 1 count.
        Call c;
        c.nw = 15 * 8 + 17 + 1 - 1;
        c.restar = 5;
        expectRefused(c, 11);
        c.nw = 0;
        expectRefused(c, 11);
    }
    {
        Call c;
        c.restar = 2;
        expectRefused(c, 12);
        c.restar = -1;
        expectRefused(c, 12);
    }
}

TEST(DcuhreStatus, AcceptedAtTheLimits)
{
    useGauss();
    Call c;
    c.nw = 15 * 8 + 17 + 1; // exactly enough for maxsub = 15
    c.epsrel = 1e-14;
    EXPECT_EQ(c.run(), 1); // the budget cannot reach 1e-14
    EXPECT_EQ(c.nsub(), 15);
    EXPECT_EQ(c.neval, 65 * 29);

    Call d; // only the absolute tolerance negative
    d.epsabs = -1;
    EXPECT_EQ(d.run(), 0);
    Call e; // extreme minpts is not an overflow
    e.minpts = INT_MIN;
    EXPECT_EQ(e.run(), 0);
}

TEST(DcuhreStatus, OversizedRequestRefusedNotWrapped)
{
    // 16519105 records of 2*2 + 2*62 + 2 doubles need 2147484705 elements: beyond 32 bits,
    // where the requirement would wrap to a negative number and pass any nw.
    Call c;
    c.numfun = 62;
    c.maxpts = INT_MAX;
    c.nw = 1000;
    expectRefused(c, 11);
    Call d;
    d.ndim = 3;
    d.numfun = 123;
    d.maxpts = INT_MAX;
    d.nw = 1000;
    expectRefused(d, 11);
    Call e;
    e.numfun = INT_MAX;
    e.nw = INT_MAX;
    expectRefused(e, 11);
}

TEST(DcuhreStatus, RestartWithoutAStoreIsRefused)
{
    for (double stored : {0.0, -3.0, 1e300, std::numeric_limits<double>::quiet_NaN()}) {
        useGauss();
        Call c;
        c.restar = 1;
        c.work.assign(c.nw, -5.0);
        c.work[c.nw - 1] = stored;
        c.run();
        EXPECT_EQ(c.ifail, 12);
        EXPECT_EQ(counter.calls, 0);
        EXPECT_EQ(c.neval, -9);
    }
}

TEST(DcuhreBudget, RuleChoiceAndOneSubdivision)
{
    struct R {
        int key, ndim, num;
    };
    for (const R r : {R{0, 2, 65}, R{0, 3, 127}, R{0, 4, 153}, R{1, 2, 65}, R{2, 3, 127},
                      R{3, 2, 33}, R{3, 3, 77}, R{4, 2, 21}, R{4, 5, 103}}) {
        useGauss();
        Call c;
        c.key = r.key;
        c.ndim = r.ndim;
        for (int i = 0; i < r.ndim; ++i) {
            c.a[i] = -1;
            c.b[i] = 1;
        }
        c.maxpts = 3 * r.num;
        c.epsrel = 1e-12;
        EXPECT_EQ(c.run(), 1) << "key " << r.key << " ndim " << r.ndim;
        EXPECT_EQ(c.neval, 3 * r.num);
        EXPECT_EQ(counter.calls, 3 * r.num);
        EXPECT_EQ(c.work[c.nw - 1], 2.0);
        c.maxpts = 3 * r.num - 1;
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
        const int s = c.nsub();
        EXPECT_GE(s, 2);
        EXPECT_EQ(c.neval, 65 * (2 * s - 1));
        EXPECT_EQ(counter.calls, c.neval);
        EXPECT_LE(c.abserr[0], eps * std::fabs(c.result[0]));
    }
    // Budget exhausted: s = maxsub.
    useGauss();
    Call c;
    c.maxpts = 1000; // maxsub 8
    c.epsrel = 1e-14;
    EXPECT_EQ(c.run(), 1);
    EXPECT_EQ(c.nsub(), 8);
    EXPECT_EQ(c.neval, 65 * 15);
    // minpts forces regions beyond a met tolerance: minsub = (5000 - 65) div 130 + 1 (+1).
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
    Call c;
    c.run();
    const double r = c.result[0];
    Call one;
    std::swap(one.a[0], one.b[0]);
    one.run();
    EXPECT_EQ(one.result[0], -r);
    EXPECT_EQ(one.abserr[0], c.abserr[0]);
    EXPECT_EQ(one.neval, c.neval);
    Call two;
    std::swap(two.a[0], two.b[0]);
    std::swap(two.a[1], two.b[1]);
    two.run();
    EXPECT_EQ(two.result[0], r);
}

TEST(DcuhreStore, LayoutHeapAndTiling)
{
    for (int numfun : {1, 3}) {
        useGauss();
        Call c;
        c.numfun = numfun;
        c.a[0] = -2;
        c.b[0] = 3;
        c.maxpts = 20000;
        c.epsrel = 1e-9;
        ASSERT_EQ(c.run(), 0);
        const int s = c.nsub();
        const int nd = 2;
        const int wrksub = (c.nw - 1 - 17 * numfun) / (2 * nd + 2 * numfun + 2);
        const double* values = c.work.data();
        const double* errors = values + numfun * wrksub;
        const double* centrs = errors + numfun * wrksub;
        const double* hwidts = centrs + nd * wrksub;
        const double* greate = hwidts + nd * wrksub;
        const double* dir = greate + wrksub;
        double volume = 0;
        std::vector<double> sumv(numfun, 0.0), sume(numfun, 0.0);
        for (int k = 1; k <= s; ++k) {
            if (k >= 2) {
                EXPECT_GE(greate[k / 2 - 1], greate[k - 1]) << "heap order at " << k;
            }
            double key = 0;
            for (int j = 0; j < numfun; ++j) {
                key = std::max(key, errors[numfun * (k - 1) + j]);
                sumv[j] += values[numfun * (k - 1) + j];
                sume[j] += errors[numfun * (k - 1) + j];
            }
            EXPECT_EQ(greate[k - 1], key);
            EXPECT_TRUE(dir[k - 1] == 1 || dir[k - 1] == 2);
            double v = 1;
            for (int i = 0; i < nd; ++i) {
                const double cc = centrs[nd * (k - 1) + i];
                const double h = hwidts[nd * (k - 1) + i];
                EXPECT_GE(cc - h, c.a[i] - 1e-15);
                EXPECT_LE(cc + h, c.b[i] + 1e-15);
                v *= 2 * h;
            }
            volume += v;
        }
        EXPECT_NEAR(volume, 10.0, 1e-12);
        for (int j = 0; j < numfun; ++j) {
            EXPECT_EQ(c.result[j], sumv[j]);
            EXPECT_EQ(c.abserr[j], sume[j]);
        }
    }
}

TEST(DcuhreStore, FirstStepHalvesAndErrorCorrection)
{
    // Record every point; the first 65 cover the whole region, then the upper half of the
    // widest axis (the division axis of a smooth integrand with equal differences), then
    // the lower half.
    static std::vector<std::vector<double>> pts;
    pts.clear();
    setIntegrand([](int n, const double* x, int, double* f) {
        pts.emplace_back(x, x + n);
        f[0] = std::exp(x[0]) * std::cos(x[1]);
    });
    Call c;
    c.a[0] = 0;
    c.b[0] = 4;
    c.a[1] = 0;
    c.b[1] = 1;
    c.maxpts = 195;
    c.run();
    ASSERT_EQ(pts.size(), 195u);
    EXPECT_EQ(pts[0], (std::vector<double>{2, 0.5}));
    EXPECT_EQ(pts[65], (std::vector<double>{3, 0.5}));
    EXPECT_EQ(pts[130], (std::vector<double>{1, 0.5}));

    // The same numbers from the rule evaluation directly, with the parent correction.
    int keyf = 1, wtleng = 14;
    double w[5 * maxwt], g[2 * maxwt], errcof[6], rulpts[maxwt], scales[3 * maxwt], norms[3 * maxwt];
    dinhre(2, keyf, wtleng, w, g, errcof, rulpts, scales, norms);
    auto eval = [&](double cx, double hx, double& val, double& err) {
        const double center[2] = {cx, 0.5};
        const double hwidth[2] = {hx, 0.5};
        double x[2], null[8], direct;
        drlhre(2, center, hwidth, wtleng, g, w, errcof, 1, counted, scales, norms, x, null, &val,
               &err, direct);
    };
    double parent, perr, up, uerr, lo, lerr;
    eval(2, 2, parent, perr);
    eval(3, 1, up, uerr);
    eval(1, 1, lo, lerr);
    const double e1 = std::fabs(parent - (up + lo));
    const double factor = 1 + 0.5 * e1 / (uerr + lerr);
    const double exact = (std::exp(4.0) - 1) * std::sin(1.0);
    EXPECT_EQ(c.result[0], up + lo);
    EXPECT_NEAR(c.abserr[0], (uerr * factor + 0.25 * e1) + (lerr * factor + 0.25 * e1),
                1e-15 * c.abserr[0]);
    EXPECT_LE(std::fabs(c.result[0] - exact), c.abserr[0]);
}

TEST(DcuhreRestart, ContinuesToATighterTolerance)
{
    for (bool reversed : {false, true}) {
        useGauss();
        Call first;
        if (reversed)
            std::swap(first.a[1], first.b[1]);
        first.epsrel = 1e-4;
        first.maxpts = 100000;
        ASSERT_EQ(first.run(), 0);
        const int neval1 = first.neval;

        Call more = first;
        more.restar = 1;
        more.epsrel = 1e-11;
        useGauss();
        EXPECT_EQ(more.run(), 0);
        EXPECT_EQ(counter.calls, more.neval - neval1);
        EXPECT_GT(more.neval, neval1);
        EXPECT_EQ(more.neval, 65 * (2 * more.nsub() - 1));

        Call fresh;
        fresh.a[1] = first.a[1];
        fresh.b[1] = first.b[1];
        fresh.epsrel = 1e-11;
        fresh.maxpts = 100000;
        useGauss();
        EXPECT_EQ(fresh.run(), 0);
        EXPECT_EQ(more.neval, fresh.neval);
        EXPECT_EQ(more.nsub(), fresh.nsub());
        EXPECT_NEAR(more.result[0], fresh.result[0], 1e-15 * std::fabs(fresh.result[0]));
        EXPECT_NEAR(more.abserr[0], fresh.abserr[0], 1e-12 * fresh.abserr[0]);
    }
    // A restart after the budget ran out continues with the larger budget.
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

TEST(DcuhreIntegrand, PointScratchedAndRestoredChangesNothing)
{
    useGauss();
    Call clean;
    clean.run();
    // An integrand that uses its point as scratch and restores it bit for bit.
    setIntegrand([](int n, const double* cx, int, double* f) {
        double* x = const_cast<double*>(cx);
        double saved[maxdim];
        for (int i = 0; i < n; ++i) {
            saved[i] = x[i];
            x[i] = 1e300;
        }
        for (int i = 0; i < n; ++i)
            x[i] = saved[i];
        f[0] = gauss2(x);
    });
    Call scratched;
    scratched.run();
    EXPECT_EQ(scratched.result[0], clean.result[0]);
    EXPECT_EQ(scratched.abserr[0], clean.abserr[0]);
    EXPECT_EQ(scratched.neval, clean.neval);
}

TEST(DcuhreIntegrand, PointsOfTheFirstRegionAreTheRulePoints)
{
    static std::vector<std::vector<double>> pts;
    pts.clear();
    setIntegrand([](int n, const double* x, int numfun, double* f) {
        EXPECT_EQ(n, 3);
        EXPECT_EQ(numfun, 2);
        pts.emplace_back(x, x + n);
        f[0] = 1;
        f[1] = 2;
    });
    Call c;
    c.ndim = 3;
    c.numfun = 2;
    c.maxpts = 3 * 127;
    c.a[2] = 0;
    c.b[2] = 4;
    c.run();
    ASSERT_EQ(pts.size(), 381u);
    double w[5 * maxwt], g[3 * maxwt], errcof[6], rulpts[maxwt], sc[3 * maxwt], nm[3 * maxwt];
    dinhre(3, 2, 13, w, g, errcof, rulpts, sc, nm);
    std::vector<std::vector<double>> want;
    for (int k = 0; k < 13; ++k) {
        for (const auto& p : testing::expandGenerator(std::vector<double>(g + 3 * k, g + 3 * k + 3)))
            want.push_back({p[0], p[1], 2 + 2 * p[2]});
    }
    std::vector<std::vector<double>> got(pts.begin(), pts.begin() + 127);
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want);
    // Centre first, then the axial points of generators 2 and 3 on axis 1.
    EXPECT_EQ(pts[0], (std::vector<double>{0, 0, 2}));
    EXPECT_EQ(pts[1], (std::vector<double>{-g[3], 0, 2}));
    EXPECT_EQ(pts[2], (std::vector<double>{g[3], 0, 2}));
    EXPECT_EQ(pts[3], (std::vector<double>{-g[6], 0, 2}));
    EXPECT_EQ(pts[4], (std::vector<double>{g[6], 0, 2}));
    EXPECT_NEAR(c.result[0], 16.0, 1e-13); // volume 2 * 2 * 4
    EXPECT_NEAR(c.result[1], 32.0, 1e-13);
}

} // namespace
} // namespace traz
