// Two- and three-stage passes: the cubature of the multi-stage integrand over the cut scores.
#include <memory>

#include "cubature/dcuhre.hpp"
#include "evaluate/evaluate.hpp"
#include "model/model.hpp"
#include "model/state.hpp"

namespace traz {

namespace {

constexpr int kWorkSize = 5000000;

// Work array of the cubature, allocated once per thread and reused by every pass.
double* cubature_work() {
    thread_local std::unique_ptr<double[]> work(new double[kWorkSize]);
    return work.get();
}

} // namespace

// The cubature for the current selector: over the cube [-4.5, 4.5] per stage, or over the
// box of a fitted domain. A status of 2 or more means the cubature refused its arguments
// and wrote neither value.
Integral cubature_pass(double relerr, int maxcls, const Domain* domain) {
    const int ndim = sel.nstage;
    const bool fitted = domain != nullptr && domain->fitted;
    double a[3] = {-4.5, -4.5, -4.5};
    double b[3] = {4.5, 4.5, 4.5};
    if (fitted)
        for (int j = 0; j < ndim; ++j) a[j] = domain->lo[j], b[j] = domain->hi[j];
    const int key = ndim == 3 ? 2 : 0;
    const int numfun = 1, minpts = 0, nw = kWorkSize, restar = 0;
    const double epsabs = 0.0;
    int neval = 0, ifail = 0;
    double res = 0.0, err = 0.0;
    use_domain(fitted ? domain : nullptr);
    dcuhre(ndim, numfun, a, b, minpts, maxcls, fitted ? &ftest_mapped : &ftest, epsabs, relerr, key, nw,
           restar, &res, &err, neval, ifail, cubature_work());
    use_domain(nullptr);
    Integral r;
    r.result = res;
    r.abserr = err;
    r.evaluations = neval;
    r.status = ifail;
    return r;
}


} // namespace traz
