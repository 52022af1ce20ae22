// Two- and three-stage passes: the cubature of the multi-stage integrand over the cut scores.
#include <memory>

#include "cubature/dcuhre.hpp"
#include "driver/driver.hpp"
#include "model/state.hpp"
#include "model/model.hpp"

namespace traz {

namespace {

constexpr int kWorkSize = 5000000;

// Work array of the cubature, allocated once per thread and reused by every pass.
double* cubature_work() {
    thread_local std::unique_ptr<double[]> work(new double[kWorkSize]);
    return work.get();
}

} // namespace

// When the cubature rejects its arguments it writes neither the result nor the error
// estimate: the pass then carries the previous pass's values (0 and 0 before the first).
void integrate_multistage(std::FILE* out, double& result, double& abserr, double relerr, int maxcls) {
    const int ndim = sel.nstage;
    const double a[3] = {-4.5, -4.5, -4.5};
    const double b[3] = {4.5, 4.5, 4.5};
    const int key = ndim == 3 ? 2 : 0;
    const int numfun = 1, minpts = 0, nw = kWorkSize, restar = 0;
    const double epsabs = 0.0;
    int neval = 0, ifail = 0;
    double res = result, err = abserr;
    dcuhre(ndim, numfun, a, b, minpts, maxcls, &ftest, epsabs, relerr, key, nw, restar, &res, &err,
           neval, ifail, cubature_work());
    set_pass_evaluations(neval);
    if (ifail == 0 || ifail == 1) {
        result = res;
        abserr = err;
    }
    if (ifail != 0) write_ifail(out, sel.iz, ifail, abserr);
}

} // namespace traz
