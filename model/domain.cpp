// Integration domains over the stage cut scores: the classic cube, and the affine map of
// a box onto the region where the cut-score density lives.
#include "model/domain.hpp"

#include "model/model.hpp"
#include "model/state.hpp"

namespace traz {

namespace {

thread_local const Domain* current = nullptr;

} // namespace

Domain cube_domain(int ndim) {
    Domain d;
    d.ndim = ndim;
    d.method = "cube";
    const double h = ndim == 1 ? 6.5 : 4.5;
    for (int j = 0; j < ndim; ++j) {
        d.L[j + 3 * j] = 1.0;
        d.lo[j] = -h;
        d.hi[j] = h;
    }
    return d;
}

Domain fit_domain() {
    Domain d = cube_domain(sel.nstage);
    d.note = "the fit is not available yet";
    return d;
}

void use_domain(const Domain* d) { current = d; }

void ftest_mapped(const int& ndim, double* t, const int& numfun, double* f) {
    const Domain& d = *current;
    double x[3];
    for (int i = 0; i < ndim; ++i) {
        double xi = d.m[i];
        for (int j = 0; j <= i; ++j) xi += d.L[i + 3 * j] * t[j];
        x[i] = xi;
    }
    ftest(ndim, x, numfun, f);
    f[0] *= d.det;
}

double ffte_mapped(double t) {
    const Domain& d = *current;
    double x[1] = {d.m[0] + d.L[0] * t};
    return d.det * ffte(x);
}

} // namespace traz
