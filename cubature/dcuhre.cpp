// dcuhre: adaptive cubature of a vector of integrals over a hyper-rectangle.
#include "cubature/dcuhre.hpp"

#include "cubature/routines.hpp"

#include <cstddef>

namespace traz {

// Approximates the numfun integrals of funsub over the box with limits a and b (ndim
// variables; a reversed limit pair changes the sign of the results) by globally adaptive
// subdivision, with an absolute error estimate for each.
//   minpts, maxpts  least and most integrand calls (maxpts at least 3 times the rule's points)
//   epsabs, epsrel  requested absolute and relative accuracy
//   key             rule: 0 the default for ndim, 1 degree 13 (ndim 2), 2 degree 11
//                   (ndim 3), 3 degree 9, 4 degree 7
//   nw, work        the caller's store of nw doubles; its last element holds on return the
//                   number of stored subregions
//   restar          0 for a new problem, 1 to continue the previous call from work, result,
//                   abserr and neval as it left them
//   result, abserr  integral and error estimates; neval the integrand calls used
//   ifail           0 accuracy reached, 1 maxpts too small (estimates still complete),
//                   2..12 bad arguments (see dchhre): then only ifail is written and the
//                   integrand is never called. A restart whose work array holds no valid
//                   subregion count is refused with 12 as well.
// Nothing is allocated: the subregions live in work, the rule tables in a fixed local area.
void dcuhre(const int& ndim, const int& numfun, const double* a, const double* b,
            const int& minpts, const int& maxpts, CubatureIntegrand funsub,
            const double& epsabs, const double& epsrel, const int& key, const int& nw,
            const int& restar, double* result, double* abserr, int& neval, int& ifail,
            double* work)
{
    int num = 0;
    int maxsub = 0;
    int minsub = 0;
    int keyf = 0;
    int wtleng = 0;
    dchhre(maxdim, ndim, numfun, mdiv, a, b, minpts, maxpts, epsabs, epsrel, key, nw, restar,
           num, maxsub, minsub, keyf, ifail, wtleng);
    if (ifail != 0)
        return;
    // After the checks nw bounds every section length below, so int arithmetic is safe.
    const int wrksub = (nw - 1 - 17 * mdiv * numfun) / (2 * ndim + 2 * numfun + 2);

    // Sections of the caller's store.
    const std::ptrdiff_t nf = numfun;
    const std::ptrdiff_t nd = ndim;
    double* values = work;
    double* errors = values + nf * wrksub;
    double* centrs = errors + nf * wrksub;
    double* hwidts = centrs + nd * wrksub;
    double* greate = hwidts + nd * wrksub;
    double* dir = greate + wrksub;
    double* oldres = dir + wrksub;
    double* scratch = oldres + nf * mdiv;

    // Sections of the internal area, sized for the largest rule and dimension.
    double work2[2 * mdiv * maxdim * (maxwt + 1) + 12 * maxwt + 2 * maxdim];
    double* g = work2;
    double* w = g + nd * wtleng * 2 * mdiv;
    double* rulpts = w + 5 * wtleng;
    double* center = rulpts + wtleng;
    double* hwidth = center + nd;
    double* x = hwidth + nd;
    double* scales = x + nd * 2 * mdiv;
    double* norms = scales + 3 * wtleng;

    int nsub = 0;
    if (restar == 1) {
        // The count must name a part of the store; anything else would read or write
        // outside it.
        const double stored = work[nw - 1];
        if (!(stored >= 1 && stored <= wrksub)) {
            ifail = 12;
            return;
        }
        nsub = int(stored);
    }

    const int lenw = 16 * mdiv * numfun;
    dadhre(ndim, numfun, mdiv, a, b, minsub, maxsub, funsub, epsabs, epsrel, keyf, restar, num,
           lenw, wtleng, result, abserr, neval, nsub, ifail, values, errors, centrs, hwidts,
           greate, dir, oldres, scratch, g, w, rulpts, center, hwidth, x, scales, norms);
    work[nw - 1] = nsub;
}

} // namespace traz
