// The passes: one integral over the stage cut scores each, by the quadrature of the
// single-stage integrand or the cubature of the multi-stage one.
#include <gsl/gsl_errno.h>
#include <gsl/gsl_integration.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "cubature/dcuhre.hpp"
#include "evaluate/evaluate.hpp"
#include "model/model.hpp"
#include "model/domain.hpp"
#include "model/messages.hpp"
#include "model/state.hpp"

namespace traz {

namespace {

constexpr int kWorkSize = 5000000;

// Work array of the cubature, allocated once per thread and reused by every pass.
double* cubature_work() {
    thread_local std::unique_ptr<double[]> work(new double[kWorkSize]);
    return work.get();
}

// What the integrand needs: the problem, the selector and (when fitted) the domain.
struct PassContext {
    const SelectionState* s;
    int iz;
    const Domain* domain;
};

void ftest_at(const int& ndim, double* x, const int& numfun, double* f, void* params) {
    const PassContext& c = *static_cast<const PassContext*>(params);
    ftest(*c.s, c.iz, ndim, x, numfun, f);
}

void ftest_mapped_at(const int& ndim, double* t, const int& numfun, double* f, void* params) {
    const PassContext& c = *static_cast<const PassContext*>(params);
    ftest_mapped(*c.s, c.iz, *c.domain, ndim, t, numfun, f);
}

// Several selectors at m + L t of a fitted domain, from one evaluation of the point.
struct SelectorsContext {
    const SelectionState* s;
    const int* iz;
    int nsel;
    const Domain* domain;
};

void mapped_selectors_at(const int& ndim, double* t, const int& numfun, double* f, void* params) {
    const SelectorsContext& c = *static_cast<const SelectorsContext*>(params);
    (void)ndim;
    (void)numfun;
    mapped_selectors(*c.s, c.iz, c.nsel, *c.domain, t, f);
}

constexpr int kQuadLimit = 12500;

double ffte_at(double x, void* params) {
    const PassContext& c = *static_cast<const PassContext*>(params);
    double a[1] = {x};
    return ffte(*c.s, c.iz, a);
}

double ffte_mapped_at(double t, void* params) {
    const PassContext& c = *static_cast<const PassContext*>(params);
    return ffte_mapped(*c.s, c.iz, *c.domain, t);
}

// Workspace of the one-dimensional quadrature, allocated once per thread and reused by
// every pass of every problem that thread runs.
gsl_integration_workspace* quadrature_workspace() {
    struct Free {
        void operator()(gsl_integration_workspace* w) const { gsl_integration_workspace_free(w); }
    };
    thread_local std::unique_ptr<gsl_integration_workspace, Free> w(gsl_integration_workspace_alloc(kQuadLimit));
    return w.get();
}

// Error code of the quadrature in the usual numbering: 1 subdivision limit,
// 2 roundoff, 3 bad integrand behaviour, 6 invalid input.
int quadrature_ier(int status) {
    switch (status) {
    case GSL_SUCCESS: return 0;
    case GSL_EMAXITER: return 1;
    case GSL_EROUND: return 2;
    case GSL_ESING: return 3;
    default: return 6;
    }
}

} // namespace


Integral quadrature_pass(const SelectionState& s, int iz, const Domain* domain) {
    const bool fitted = domain != nullptr && domain->fitted;
    PassContext context{&s, iz, domain};
    gsl_function f{fitted ? &ffte_mapped_at : &ffte_at, &context};
    const double lo = fitted ? domain->lo[0] : -6.5, hi = fitted ? domain->hi[0] : 6.5;
    Integral r;
    const int status = gsl_integration_qag(&f, lo, hi, 0.0, 1.0e-6, kQuadLimit, GSL_INTEG_GAUSS61,
                                           quadrature_workspace(), &r.result, &r.abserr);
    // The first rule application, then two more per bisection.
    r.evaluations = 61L * (2L * static_cast<long>(quadrature_workspace()->size) - 1L);
    r.status = quadrature_ier(status);
    if (r.status != 0) library_message("DQAG", "ABNORMAL RETURN", r.status, MessageLevel::warning);
    return r;
}

bool take_integral(const Integral& in, bool multistage, double& result, double& abserr) {
    if (multistage && in.status >= 2) return true;
    result = in.result;
    abserr = in.abserr;
    return false;
}


// The cubature for the selector iz: over the cube [-4.5, 4.5] per stage, or over the
// box of a fitted domain. A status of 2 or more means the cubature refused its arguments
// and wrote neither value.
Integral cubature_pass(const SelectionState& s, int iz, double relerr, int maxcls, const Domain* domain) {
    const int ndim = s.nstage;
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
    PassContext context{&s, iz, domain};
    const CubatureIntegrand f(fitted ? &ftest_mapped_at : &ftest_at, &context);
    dcuhre(ndim, numfun, a, b, minpts, maxcls, f, epsabs, relerr, key, nw, restar, &res, &err, neval, ifail,
           cubature_work());
    Integral r;
    r.result = res;
    r.abserr = err;
    r.evaluations = neval;
    r.status = ifail;
    return r;
}


Integrals cubature_all(const SelectionState& s, const int* iz, int nsel, double relerr, int maxcls,
                       const Domain& domain) {
    const int ndim = s.nstage;
    double a[3], b[3];
    for (int j = 0; j < ndim; ++j) a[j] = domain.lo[j], b[j] = domain.hi[j];
    const int key = ndim == 3 ? 2 : 0;
    const int minpts = 0, nw = kWorkSize, restar = 0;
    const double epsabs = 0.0;
    int neval = 0, ifail = 0;
    // Each subregion keeps 2 nsel + 2 ndim + 2 doubles, so the work array holds fewer of them
    // than for one quantity: the budget is cut to what it holds (the deck check allows
    // budgets up to what it holds for one quantity). num is the rule's point count.
    const std::int64_t num = ndim == 3 ? 127 : 65;
    const std::int64_t regions = (kWorkSize - 17 * std::int64_t(nsel) - 1) / (2 * ndim + 2 * nsel + 2);
    maxcls = static_cast<int>(std::min<std::int64_t>(maxcls, 2 * num * (regions - 1) + num));
    SelectorsContext context{&s, iz, nsel, &domain};
    const CubatureIntegrand f(&mapped_selectors_at, &context);
    Integrals r;
    dcuhre(ndim, nsel, a, b, minpts, maxcls, f, epsabs, relerr, key, nw, restar, r.result, r.abserr, neval, ifail,
           cubature_work());
    r.evaluations = neval;
    r.status = ifail;
    return r;
}

} // namespace traz
