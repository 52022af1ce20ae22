// dadhre: the globally adaptive loop of the cubature over a heap of subregions.
#include "cubature/routines.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace traz {

namespace {

// Copies the centre and half-widths of stored subregion from (1-based) to position to.
void copyregion(const int ndim, double* centrs, double* hwidts, const int from, const int to)
{
    const std::ptrdiff_t nd = ndim;
    std::copy(centrs + nd * (from - 1), centrs + nd * from, centrs + nd * (to - 1));
    std::copy(hwidts + nd * (from - 1), hwidts + nd * from, hwidts + nd * (to - 1));
}

} // namespace

// Evaluates the whole region (fresh start) or takes the stored subregions (restar = 1),
// then repeatedly halves the subregion with the largest error along its chosen axis,
// evaluates both halves and corrects their errors with the parent's integral, until every
// component meets epsabs or epsrel (ifail 0) or one more step would exceed maxsub
// subregions (ifail 1). No argument is checked here: dchhre has done that. On return
// result (signed for reversed axes) and abserr are the sums over the store.
void dadhre(const int& ndim, const int& numfun, const int& mdiv, const double* a,
            const double* b, const int& minsub, const int& maxsub, CubatureIntegrand funsub,
            const double& epsabs, const double& epsrel, const int& key, const int& restar,
            const int& num, const int& lenw, const int& wtleng, double* result,
            double* abserr, int& neval, int& nsub, int& ifail, double* values,
            double* errors, double* centrs, double* hwidts, double* greate, double* dir,
            double* oldres, double* work, double* g, double* w, double* rulpts,
            double* center, double* hwidth, double* x, double* scales, double* norms)
{
    const std::ptrdiff_t nd = ndim;
    const std::ptrdiff_t nf = numfun;
    const std::ptrdiff_t gset = nd * wtleng;      // one copy of the generators
    const std::ptrdiff_t block = lenw / (2 * mdiv); // scratch of one region evaluation
    double errcof[6];

    double sign = 1;
    for (int j = 0; j < ndim; ++j) {
        if (b[j] < a[j])
            sign = -sign;
    }
    dinhre(ndim, key, wtleng, w, g, errcof, rulpts, scales, norms);

    int sbrgns;
    if (restar == 0) {
        for (int j = 0; j < ndim; ++j) {
            centrs[j] = (a[j] + b[j]) / 2;
            hwidts[j] = std::fabs(b[j] - a[j]) / 2;
        }
        for (int j = 0; j < numfun; ++j) {
            result[j] = 0;
            abserr[j] = 0;
        }
        neval = 0;
        drlhre(ndim, centrs, hwidts, wtleng, g, w, errcof, numfun, funsub, scales, norms, x,
               work, values, errors, dir[0]);
        neval += num;
        greate[0] = 0;
        for (int j = 0; j < numfun; ++j) {
            result[j] += values[j];
            abserr[j] += errors[j];
            greate[0] = std::max(greate[0], errors[j]);
        }
        sbrgns = 1;
    } else {
        // The totals come back signed; the loop works on unsigned subregion values.
        sbrgns = nsub;
        for (int j = 0; j < numfun; ++j)
            result[j] *= sign;
    }

    for (;;) {
        if (sbrgns + 1 > maxsub) {
            ifail = 1;
            break;
        }
        const int ndiv = std::min({maxsub - sbrgns, mdiv, sbrgns});

        // Take the worst regions off the heap; their halves go to sbrgns+1 .. sbrgns+2*ndiv.
        for (int i = 1; i <= ndiv; ++i) {
            const int pointr = sbrgns + ndiv + 1 - i;
            for (int j = 0; j < numfun; ++j) {
                result[j] -= values[j];
                abserr[j] -= errors[j];
            }
            const int direct = int(dir[0]);
            const double oldcen = centrs[direct - 1];
            copyregion(ndim, centrs, hwidts, 1, pointr);
            double* lowc = centrs + nd * (pointr - 1);
            double* lowh = hwidts + nd * (pointr - 1);
            dir[pointr - 1] = direct;
            lowh[direct - 1] = lowh[direct - 1] / 2;
            const double halfw = lowh[direct - 1];
            lowc[direct - 1] = oldcen - halfw;
            std::copy(values, values + nf, oldres + nf * (ndiv - i));
            dtrhre(1, ndim, numfun, sbrgns, values, errors, centrs, hwidts, greate, work,
                   work + nf, center, hwidth, dir);
            copyregion(ndim, centrs, hwidts, pointr, pointr - 1);
            centrs[nd * (pointr - 2) + direct - 1] = oldcen + halfw;
            dir[pointr - 2] = direct;
        }

        // Evaluate the new halves, each with its own generators, point and scratch.
        for (int i = 2; i <= 2 * ndiv; ++i)
            std::copy(g, g + gset, g + gset * (i - 1));
        for (int i = 1; i <= 2 * ndiv; ++i) {
            const std::ptrdiff_t pos = sbrgns + i - 1;
            drlhre(ndim, centrs + nd * pos, hwidts + nd * pos, wtleng, g + gset * (i - 1), w,
                   errcof, numfun, funsub, scales, norms, x + nd * (i - 1),
                   work + block * (i - 1), values + nf * pos, errors + nf * pos, dir[pos]);
        }
        neval += 2 * ndiv * num;
        for (int i = 1; i <= 2 * ndiv; ++i) {
            const double* val = values + nf * (sbrgns + i - 1);
            for (int j = 0; j < numfun; ++j)
                result[j] += val[j];
        }

        // Widen the halves' errors by the disagreement with their parent's integral.
        for (int i = 1; i <= ndiv; ++i) {
            const int index1 = sbrgns + 2 * i - 1;
            const int index2 = sbrgns + 2 * i;
            double* val1 = values + nf * (index1 - 1);
            double* val2 = values + nf * (index2 - 1);
            double* err1 = errors + nf * (index1 - 1);
            double* err2 = errors + nf * (index2 - 1);
            const double* parent = oldres + nf * (i - 1);
            greate[index1 - 1] = 0;
            greate[index2 - 1] = 0;
            for (int j = 0; j < numfun; ++j) {
                const double est1 = std::fabs(parent[j] - (val1[j] + val2[j]));
                const double est2 = err1[j] + err2[j];
                if (est2 > 0) {
                    const double factor = 1 + errcof[4] * est1 / est2;
                    err1[j] *= factor;
                    err2[j] *= factor;
                }
                err1[j] += errcof[5] * est1;
                err2[j] += errcof[5] * est1;
                if (err1[j] > greate[index1 - 1])
                    greate[index1 - 1] = err1[j];
                if (err2[j] > greate[index2 - 1])
                    greate[index2 - 1] = err2[j];
                abserr[j] = abserr[j] + err1[j] + err2[j];
            }
        }

        for (int i = 1; i <= 2 * ndiv; ++i) {
            int heapsize = sbrgns + i;
            dtrhre(2, ndim, numfun, heapsize, values, errors, centrs, hwidts, greate, work,
                   work + nf, center, hwidth, dir);
        }
        sbrgns += 2 * ndiv;

        if (sbrgns < minsub)
            continue;
        bool converged = true;
        for (int j = 0; j < numfun; ++j) {
            if (abserr[j] > epsrel * std::fabs(result[j]) && abserr[j] > epsabs) {
                converged = false;
                break;
            }
        }
        if (converged) {
            ifail = 0;
            break;
        }
    }

    // Totals afresh from the store, free of the rounding of the running sums.
    for (int j = 0; j < numfun; ++j) {
        result[j] = 0;
        abserr[j] = 0;
    }
    for (int i = 0; i < sbrgns; ++i) {
        for (int j = 0; j < numfun; ++j) {
            result[j] += values[nf * i + j];
            abserr[j] += errors[nf * i + j];
        }
    }
    for (int j = 0; j < numfun; ++j)
        result[j] *= sign;
    nsub = sbrgns;
}

} // namespace traz
