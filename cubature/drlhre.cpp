// drlhre: one region's integral and error estimate, and the axis to divide it along.
#include "cubature/routines.hpp"

#include <cmath>
#include <cstddef>

namespace traz {

namespace {

// The larger of a and b; a NaN in either is passed on.
double larger(const double a, const double b)
{
    return (std::isnan(a) || a > b) ? a : b;
}

} // namespace

// Evaluates the integrand at the num points of the rule in the region (centre, the axial
// points of generators 2 and 3 axis by axis, then generators 4..wtleng through dfshre).
// The division axis is the one with the largest sum over the components of the absolute
// fourth differences along it (differences too small to change the centre value are left
// out; ties and the all-zero case keep the earlier, resp. the widest, axis). The error is
// taken from the three normalised combinations of consecutive null rules, weighted by the
// error coefficients. Nothing is checked; NaN values pass into the estimates.
void drlhre(const int& ndim, const double* center, const double* hwidth, const int& wtleng,
            double* g, const double* w, const double* errcof, const int& numfun,
            CubatureIntegrand funsub, const double* scales, const double* norms, double* x,
            double* null, double* basval, double* rgnerr, double& direct)
{
    const std::ptrdiff_t nf = numfun;
    double rgnvol = 1;
    int divaxn = 1;
    for (int i = 0; i < ndim; ++i) {
        rgnvol *= hwidth[i];
        x[i] = center[i];
        if (hwidth[i] > hwidth[divaxn - 1])
            divaxn = i + 1;
    }

    // Centre.
    funsub(ndim, x, numfun, rgnerr);
    for (int j = 0; j < numfun; ++j) {
        basval[j] = w[0] * rgnerr[j];
        for (int k = 1; k <= 4; ++k)
            null[j + nf * (k - 1)] = w[k] * rgnerr[j];
    }

    // Generators 2 and 3 axis by axis, with the fourth difference along each axis.
    double difmax = 0;
    const double quot = g[2 * ndim] / g[ndim];
    const double ratio = quot * quot;
    double* f5 = null + 4 * nf;
    double* f6 = null + 5 * nf;
    double* f7 = null + 6 * nf;
    double* f8 = null + 7 * nf;
    for (int i = 0; i < ndim; ++i) {
        x[i] = center[i] - hwidth[i] * g[ndim];
        funsub(ndim, x, numfun, f5);
        x[i] = center[i] + hwidth[i] * g[ndim];
        funsub(ndim, x, numfun, f6);
        x[i] = center[i] - hwidth[i] * g[2 * ndim];
        funsub(ndim, x, numfun, f7);
        x[i] = center[i] + hwidth[i] * g[2 * ndim];
        funsub(ndim, x, numfun, f8);
        x[i] = center[i];
        double difsum = 0;
        for (int j = 0; j < numfun; ++j) {
            const double f0 = rgnerr[j];
            const double inner = f5[j] + f6[j];
            const double outer = f7[j] + f8[j];
            const double frthdf = 2 * (1 - ratio) * f0 - outer + ratio * inner;
            // Ignore differences below the rounding of the centre value.
            if (f0 + frthdf / 4 != f0)
                difsum += std::fabs(frthdf);
            for (int k = 1; k <= 4; ++k)
                null[j + nf * (k - 1)] += w[k + 5] * inner + w[k + 10] * outer;
            basval[j] += w[5] * inner + w[10] * outer;
        }
        if (difsum > difmax) {
            difmax = difsum;
            divaxn = i + 1;
        }
    }
    direct = divaxn;

    // The remaining generators.
    for (int k = 3; k < wtleng; ++k) {
        dfshre(ndim, center, hwidth, x, g + std::ptrdiff_t(ndim) * k, numfun, funsub, rgnerr,
               f5);
        for (int j = 0; j < numfun; ++j) {
            basval[j] += w[5 * k] * rgnerr[j];
            for (int m = 1; m <= 4; ++m)
                null[j + nf * (m - 1)] += w[m + 5 * k] * rgnerr[j];
        }
    }

    // Error estimate from the null-rule sums.
    for (int j = 0; j < numfun; ++j) {
        double e[3] = {0, 0, 0};
        for (int p = 0; p < 3; ++p) {
            const double lower = null[j + nf * p];
            const double upper = null[j + nf * (p + 1)];
            for (int i = 0; i < wtleng; ++i) {
                const double size = std::fabs(upper + scales[p + 3 * i] * lower) * norms[p + 3 * i];
                e[p] = larger(e[p], size);
            }
        }
        double error;
        if (errcof[0] * e[0] <= e[1] && errcof[1] * e[1] <= e[2])
            error = errcof[2] * e[0];
        else
            error = errcof[3] * larger(e[0], larger(e[1], e[2]));
        rgnerr[j] = rgnvol * error;
        basval[j] = rgnvol * basval[j];
    }
}

} // namespace traz
