// Adaptive cubature over a hyper-rectangle (globally adaptive subdivision, DCUHRE).
#pragma once

namespace traz {

// Integrand: writes the numfun values at the point x (ndim coordinates) into funvls.
// It may use x as scratch but must restore it before returning.
using CubatureIntegrand = void (*)(const int& ndim, double* x, const int& numfun, double* funvls);

void dcuhre(const int& ndim, const int& numfun, const double* a, const double* b,
            const int& minpts, const int& maxpts, CubatureIntegrand funsub,
            const double& epsabs, const double& epsrel, const int& key, const int& nw,
            const int& restar, double* result, double* abserr, int& neval, int& ifail,
            double* work);

} // namespace traz
