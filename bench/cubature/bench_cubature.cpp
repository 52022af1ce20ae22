// Cubature benchmark: integrand evaluations, true and estimated error and CPU time for
// smooth test integrands in two and three dimensions over a range of tolerances, with the
// rules and work array this system uses (key 0 in 2-D, 2 in 3-D, 5,000,000 doubles).
#include "cubature/dcuhre.hpp"
#include "tests/cubature/families.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

using traz::testing::Family;

long calls = 0;

void counted(const int& ndim, double* x, const int& numfun, double* funvls)
{
    ++calls;
    traz::testing::familyIntegrand(ndim, x, numfun, funvls);
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

} // namespace

int main()
{
    const Family families[] = {
        {Family::gaussian, 2, -4.5, 4.5, {0.7071067811865476, 0.5, 0}, {0.8, -1.2, 0}},
        {Family::gaussian, 2, 0, 1, {5, 3, 0}, {0.3, 0.7, 0}},
        {Family::oscillatory, 2, 0, 1, {6, 4, 0}, {0.3, 0, 0}},
        {Family::cornerpeak, 2, 0, 1, {2, 1.5, 0}, {0, 0, 0}},
        {Family::gaussian, 3, -4.5, 4.5, {0.7071067811865476, 1, 0.6}, {-0.5, 0.3, 1.5}},
        {Family::gaussian, 3, 0, 1, {4, 6, 3}, {0.45, 0.2, 0.8}},
        {Family::oscillatory, 3, 0, 1, {3, 5, 2}, {0.6, 0, 0}},
        {Family::cornerpeak, 3, 0, 1, {1.2, 0.9, 0.7}, {0, 0, 0}},
    };
    const int nw = 5000000;
    const int maxpts = 20000000;
    std::vector<double> work(nw);

    std::printf("%-18s %-9s %5s %10s %7s %11s %11s %10s\n", "integrand", "limits", "ifail",
                "neval", "regions", "true err", "est err", "cpu ms");
    for (const Family& f : families) {
        traz::testing::family = f;
        const double exact = f.integral();
        for (double epsrel : {1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8}) {
            double a[3], b[3];
            for (int i = 0; i < f.ndim; ++i) {
                a[i] = f.lo;
                b[i] = f.hi;
            }
            const int key = f.ndim == 2 ? 0 : 2;
            double result = 0, abserr = 0;
            int neval = 0, ifail = -1;
            // Repeat cheap cases so that the time is measurable.
            int reps = 0;
            calls = 0;
            const double t0 = cpuSeconds();
            double t1 = t0;
            do {
                traz::dcuhre(f.ndim, 1, a, b, 0, maxpts, counted, 0.0, epsrel, key, nw, 0,
                             &result, &abserr, neval, ifail, work.data());
                ++reps;
                t1 = cpuSeconds();
            } while (t1 - t0 < 0.05);
            std::printf("%-18s [%4.1f,%3.1f] %5d %10d %7d %11.3e %11.3e %10.4f   eps %.0e\n",
                        f.name().c_str(), f.lo, f.hi, ifail, neval, int(work[nw - 1]),
                        std::fabs(result - exact), abserr, 1e3 * (t1 - t0) / reps, epsrel);
        }
    }
    return 0;
}
